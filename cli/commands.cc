#include "cli/commands.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "cli/arguments.h"
#include "cli/json_writer.h"
#include "cli/terminal_report.h"
#include "conversion/conversion.h"
#include "conversion/conversion_check.h"
#include "conversion/run_failure.h"
#include "conversion/stop_signals.h"
#include "conversion/verification.h"

#ifndef CONVERT_VERSION
#define CONVERT_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "usage: convert-trades check SOURCE TARGET [--json]\n"
    "       convert-trades import SOURCE TARGET [--json] [-q]\n"
    "       convert-trades verify TARGET [SOURCE] [--json]\n"
    "       convert-trades help | -h | --help | --version\n";

constexpr const char* kHelp =
    "Converts the trades of a Tolvane 3 installation (SOURCE) into a Kavrel\n"
    "v2 installation (TARGET), exactly as the web form convert.cgi does.\n"
    "\n"
    "  check   says what an import would do and changes nothing: the trades\n"
    "          to import, to skip and to pass over, the identifiers, the\n"
    "          space it would take, the files this user could not write, a\n"
    "          rollback log left by a cut-off run, a conversion running now.\n"
    "  import  converts: a progress bar on a terminal, one line a trade\n"
    "          into a pipe or a file, and the totals at the end.\n"
    "  verify  reads the target, and changes nothing: whether every record\n"
    "          has its statistics, summary, caps, toplist and history, the\n"
    "          counter is past every identifier, and nothing belongs to no\n"
    "          record or was left by a cut-off run; with SOURCE, whether "
    "every\n"
    "          trade is imported and each record is its trade's conversion.\n"
    "  -q, --quiet  import: only failures and the totals.\n"
    "  --json  one JSON object on standard output instead of text.\n"
    "\n"
    "SOURCE and TARGET are the installation folders, with or without their\n"
    "trailing /.\n"
    "\n"
    "Exit status:\n"
    "  0    check: an import would run through; import: done;\n"
    "       verify: the target is whole (and, with SOURCE, complete)\n"
    "  1    check: an import would stop (the first line says where and why);\n"
    "       import: a step failed or a rollback log was refused (standard\n"
    "       error says what and what to do); verify: a problem found,\n"
    "       or the target could not be read\n"
    "  2    a wrong command line (nothing was opened)\n"
    "  128+N  import stopped by signal N (run it again to go on)\n";

// "Unable to open file PATH" and what to do, as the page says it.
std::string failureText(const RunFailure& failure) {
  std::string text(failureLead(failure.reason));
  text.append(" ").append(failure.path);
  return text;
}

// The system's reason, in its own words, and what it calls for.
void writeSystemReason(std::ostream& err, int systemError) {
  if (systemError == 0) return;
  err << "(" << std::strerror(systemError) << ")\n";
  if (systemError == ENOSPC || systemError == EDQUOT)
    err << "Free space on the disk (or raise the quota) and run again.\n";
  else if (systemError == EACCES || systemError == EPERM ||
           systemError == EROFS)
    err << "Give the file and its folder to this user (chown, chmod) and run "
           "again.\n";
}

void writeFailure(std::ostream& err, const RunFailure& failure) {
  err << failureText(failure) << '\n';
  writeSystemReason(err, failure.systemError);
  err << failureAdvice(failure) << '\n';
}

void writeErrorJson(JsonObject* object, const RunFailure& failure) {
  if (failure.ok()) {
    object->null("stop");
    return;
  }
  std::ostream& out = object->member("stop");
  JsonObject stop(out);
  stop.text("path", failure.path).text("reason", failureLead(failure.reason));
}

std::string grouped(uint64_t value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<std::size_t>(at), ",");
  return digits;
}

// The check as one JSON object.
void writeCheckJson(const ConversionCheck& check, uint64_t bytes, bool stops,
                    std::ostream& out) {
  {
    JsonObject o(out);
    o.text("command", "check").boolean("wouldRunThrough", !stops);
    writeErrorJson(&o, check.stop);
    o.number("sourceTrades", static_cast<int64_t>(check.sourceTrades))
        .number("toImport", static_cast<int64_t>(check.toImport))
        .number("alreadyInTarget", static_cast<int64_t>(check.alreadyInTarget))
        .number("passedOver", static_cast<int64_t>(check.belowThreshold +
                                                   check.unstorableKeys))
        .number("belowThreshold", static_cast<int64_t>(check.belowThreshold))
        .number("unstorableKeys", static_cast<int64_t>(check.unstorableKeys));
    if (check.firstId != 0 || check.lastId != 0)
      o.number("firstId", check.firstId).number("lastId", check.lastId);
    else
      o.null("firstId").null("lastId");
    {
      JsonObject b(o.member("bytesToAdd"));
      b.number("statistics", static_cast<int64_t>(check.statisticsBytes))
          .number("records", static_cast<int64_t>(check.recordBytes))
          .number("lines", static_cast<int64_t>(check.lineBytes))
          .number("total", static_cast<int64_t>(bytes));
    }
    o.number("spaceNeeded", static_cast<int64_t>(check.spaceNeeded))
        .boolean("enoughSpace", !check.noSpace);
    if (check.freeSpaceKnown)
      o.number("freeBytes", static_cast<int64_t>(check.freeBytes));
    else
      o.null("freeBytes");
    {
      JsonObject log(o.member("rollbackLog"));
      log.boolean("present", check.logPresent)
          .boolean("accepted", check.logVerdict.ok())
          .number("tradesToPutBack", static_cast<int64_t>(check.toPutBack));
    }
    o.boolean("running", check.running);
    std::ostream& list = o.member("problems");
    list << '[';
    for (std::size_t i = 0; i < check.problems.size(); ++i) {
      if (i > 0) list << ',';
      JsonObject p(list);
      p.text("path", check.problems[i].path)
          .text("why", check.problems[i].why)
          .boolean("stopsImport", check.problems[i].stopsImport);
    }
    list << ']';
  }
  // After the closing brace: one object a line, for `while read` and friends.
  out << '\n';
}

// At most this many lines of problems; --json lists them all.
constexpr std::size_t kProblemLines = 20;

// The problems, one line for each reason and folder: "cannot write: this
// user cannot create files in kv2/d/t (...): 79,500 files in kv2/d/t,
// kv2/d/t/11 first".
void writeProblems(const std::vector<CheckProblem>& problems,
                   std::ostream& out) {
  struct Group {
    const CheckProblem* first;
    std::string folder;
    uint64_t count;
  };
  std::vector<Group> groups;
  for (const CheckProblem& problem : problems) {
    const std::size_t slash = problem.path.rfind('/');
    const std::string folder =
        problem.path.substr(0, slash == std::string::npos ? 0 : slash);
    bool joined = false;
    for (Group& group : groups) {
      if (group.folder == folder && group.first->why == problem.why &&
          group.first->stopsImport == problem.stopsImport) {
        ++group.count;
        joined = true;
        break;
      }
    }
    if (!joined) groups.push_back(Group{&problem, folder, 1});
  }
  for (std::size_t i = 0; i < groups.size() && i < kProblemLines; ++i) {
    const Group& group = groups[i];
    out << (group.first->stopsImport ? "cannot write: " : "passed over: ");
    if (group.count == 1)
      out << group.first->path << ": " << group.first->why << '\n';
    else
      out << group.first->why << ": " << grouped(group.count) << " files in "
          << group.folder << ", " << group.first->path << " first\n";
  }
  if (groups.size() > kProblemLines)
    out << "and " << grouped(groups.size() - kProblemLines)
        << " more (--json lists them all)\n";
}

// The check as lines for a terminal: where the import would stop first, the
// figures, then the problems.
void writeCheckText(const ConversionCheck& check, uint64_t bytes, bool stops,
                    std::ostream& out) {
  if (check.noSpace) {
    out << "not enough free space: need " << grouped(check.spaceNeeded)
        << " bytes, have " << grouped(check.freeBytes) << "\n";
  } else if (!stops) {
    out << "an import would run through\n";
  } else {
    // At a file the import changes, the check's own words say why.
    const std::string why =
        check.stop.isCallFailure() && !check.stop.detail.empty()
            ? check.stop.detail
            : std::string(failureLead(check.stop.reason));
    out << "an import would stop at " << check.stop.path << ": " << why << '\n';
  }
  if (check.running)
    out << "a conversion is running now: the figures below will change\n";
  out << "trades in the source:  " << grouped(check.sourceTrades) << '\n'
      << "to import:             " << grouped(check.toImport);
  if (check.firstId != 0 || check.lastId != 0)
    out << " (identifiers " << check.firstId << " to " << check.lastId << ")";
  out << '\n'
      << "already in the target: " << grouped(check.alreadyInTarget) << '\n'
      << "passed over:           "
      << grouped(check.belowThreshold + check.unstorableKeys)
      << " (first field not a number above 10: "
      << grouped(check.belowThreshold)
      << ", key too long to store: " << grouped(check.unstorableKeys) << ")\n"
      << "bytes to add:          " << grouped(bytes) << " (statistics files "
      << grouped(check.statisticsBytes) << ", records "
      << grouped(check.recordBytes) << ", lines " << grouped(check.lineBytes)
      << ")\n"
      << "space needed:          " << grouped(check.spaceNeeded)
      << " (in the file system's blocks, 32 bytes for each new name)";
  if (check.freeSpaceKnown) out << ", " << grouped(check.freeBytes) << " free";
  out << '\n' << "rollback log:          ";
  if (check.running)
    out << "in use by the running conversion\n";
  else if (!check.logPresent)
    out << "none\n";
  else if (check.logVerdict.ok())
    out << "left by a cut-off run: the import first puts back "
        << grouped(check.toPutBack)
        << " trades of its group (the figures above are after that)\n";
  else
    out << "refused: " << failureText(check.logVerdict) << '\n';
  out << "conversion running:    "
      << (check.running ? "yes: the import would wait for it\n" : "no\n");
  writeProblems(check.problems, out);
}

int runCheck(const Command& command, std::ostream& out) {
  ConversionCheck check;
  checkConversion(command.source, command.target, &check);
  const bool stops = !check.stop.ok() || check.noSpace;
  const uint64_t bytes =
      check.statisticsBytes + check.recordBytes + check.lineBytes;
  if (command.json)
    writeCheckJson(check, bytes, stops, out);
  else
    writeCheckText(check, bytes, stops, out);
  out.flush();
  return stops ? 1 : 0;
}

void writeVerifyText(const Verification& v, std::ostream& out) {
  const uint64_t problems = v.problemCount();
  if (problems == 0) {
    out << "the target is whole"
        << (v.withSource ? " and the conversion complete" : "") << ": "
        << grouped(v.records) << " records\n";
  } else {
    out << grouped(problems) << " problems in " << grouped(v.flawedRecords)
        << " of " << grouped(v.records) << " records\n";
    for (int kind = 0; kind < kFlawKinds; ++kind)
      if (v.counts[kind] != 0)
        out << "  " << flawName(static_cast<Flaw>(kind)) << ": "
            << grouped(v.counts[kind]) << '\n';
  }
  if (v.running)
    out << "a conversion is running now: what it is importing may show as "
           "missing\n";
  for (int kind = 0; kind < kFlawKinds; ++kind) {
    const std::vector<std::string>& lines = v.found[kind];
    if (lines.empty()) continue;
    out << flawName(static_cast<Flaw>(kind)) << ":\n";
    for (const std::string& line : lines) out << "  " << line << '\n';
    if (v.counts[kind] > lines.size())
      out << "  and " << grouped(v.counts[kind] - lines.size()) << " more\n";
  }
}

void writeVerifyJson(const Verification& v, std::ostream& out) {
  {
    JsonObject o(out);
    o.text("command", "verify")
        .boolean("whole", v.problemCount() == 0)
        .number("records", static_cast<int64_t>(v.records))
        .number("problemRecords", static_cast<int64_t>(v.flawedRecords))
        .boolean("running", v.running);
    JsonObject kinds(o.member("problems"));
    for (int kind = 0; kind < kFlawKinds; ++kind) {
      if (v.found[kind].empty()) continue;
      std::ostream& list = kinds.member(flawKey(static_cast<Flaw>(kind)));
      list << '[';
      for (std::size_t i = 0; i < v.found[kind].size(); ++i) {
        if (i > 0) list << ',';
        writeJsonString(list, v.found[kind][i]);
      }
      list << ']';
    }
  }
  out << '\n';
}

int runVerify(const Command& command, std::ostream& out, std::ostream& err) {
  Verification verification;
  verification.keepAll = command.json;
  const RunFailure failure =
      verifyTarget(command.target, command.source, &verification);
  if (!failure.ok()) {
    writeFailure(err, failure);
    return 1;
  }
  if (command.json)
    writeVerifyJson(verification, out);
  else
    writeVerifyText(verification, out);
  out.flush();
  return verification.problemCount() == 0 ? 0 : 1;
}

// "2026-12-10 16:30:05 UTC" and the like: when a run started, for its log.
std::string startTime() {
  const std::time_t now = std::time(nullptr);
  char text[64];
  std::tm parts;
  if (::localtime_r(&now, &parts) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z", &parts) == 0)
    return "?";
  return text;
}

int runImport(const Command& command, const CliContext& context,
              std::ostream& out, std::ostream& err) {
  const auto start = std::chrono::steady_clock::now();
  TerminalOptions options;
  options.bar = context.errIsTerminal && !command.json && !command.quiet;
  options.lines = !command.json && !command.quiet && !context.outIsTerminal;
  options.logFile = options.lines;
  options.heading = std::string("convert-trades ") + CONVERT_VERSION +
                    ": importing " + command.source + " into " +
                    command.target + ", started " + startTime();
  TerminalReport report(out, err, options);
  const RunEnd end =
      convertInstallations(command.source, command.target, "", &report);
  report.end();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  const int signal = end == RunEnd::stopped ? stopSignal() : 0;
  if (command.json) {
    {
      JsonObject o(out);
      o.text("command", "import")
          .text("result", end == RunEnd::finished ? "finished"
                          : end == RunEnd::failed ? "failed"
                                                  : "stopped");
      writeErrorJson(&o, report.failure());
      if (signal != 0) {
        JsonObject s(o.member("signal"));
        s.number("number", signal).text("name", stopSignalName(signal));
      } else {
        o.null("signal");
      }
      o.number("added", static_cast<int64_t>(report.addedCount()))
          .number("skipped",
                  static_cast<int64_t>(report.alreadyInTargetCount()))
          .number("passedOver", static_cast<int64_t>(report.passedOverCount()));
      char text[32];
      std::snprintf(text, sizeof text, "%.3f", seconds);
      o.member("seconds") << text;
    }
    out << '\n';
  } else {
    char text[160];
    std::snprintf(text, sizeof text,
                  "added %s, skipped %s, passed over %s, %.2f seconds",
                  grouped(report.addedCount()).c_str(),
                  grouped(report.alreadyInTargetCount()).c_str(),
                  grouped(report.passedOverCount()).c_str(), seconds);
    out << text << ": " << command.source << " into " << command.target << '\n';
  }
  out.flush();
  if (end == RunEnd::failed) {
    writeFailure(err, report.failure());
    // Whole trades are promised only where the run itself undid what it had
    // begun; a refused or unfinished put-back says what to do in its advice.
    const RunStage stage = report.failedStage();
    if (stage == RunStage::importing)
      err << "The target holds whole trades: fix the cause and run again.\n";
    else if (stage == RunStage::recovering && report.failure().isCallFailure())
      err << "The target may hold a trade cut half way, which its rollback "
             "log puts back: fix the cause and run again.\n";
    return 1;
  }
  if (end == RunEnd::stopped) {
    err << "Stopped before its end: " << stopSignalWords(signal)
        << ". Every trade imported so far is whole; run the import again to "
           "go on.\n";
    return 128 + signal;
  }
  return 0;
}

}  // namespace

int runConvertTrades(const std::vector<std::string>& args,
                     const CliContext& context, std::ostream& out,
                     std::ostream& err) {
  if (context.startedAsCgi) {
    // A copy uploaded into cgi-bin by mistake: a query string must not drive
    // it.
    out << "Status: 403 Forbidden\r\nContent-type: text/plain\r\n\r\n"
           "This is convert-trades, the command-line program: run it from a "
           "shell. The web form is convert.cgi.\n";
    out.flush();
    return 0;
  }
  Command command;
  std::string error;
  if (!parseCommand(args, &command, &error)) {
    err << "convert-trades: " << error << '\n' << kUsage;
    return 2;
  }
  if (command.name == "help") {
    out << kUsage << '\n' << kHelp;
    return 0;
  }
  if (command.name == "version") {
    out << "convert-trades " << CONVERT_VERSION << '\n';
    return 0;
  }
  const std::string wrong = whyNotInstallations(command);
  if (!wrong.empty()) {
    err << "convert-trades: " << wrong << '\n' << kUsage;
    return 2;
  }
  if (command.name == "check") return runCheck(command, out);
  if (command.name == "verify") return runVerify(command, out, err);
  return runImport(command, context, out, err);
}
