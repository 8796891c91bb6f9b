#include "cli/commands.h"

#include <chrono>
#include <cstdio>

#include "cli/json_writer.h"
#include "cli/terminal_report.h"
#include "conversion/conversion.h"
#include "conversion/conversion_check.h"
#include "conversion/failure_text.h"
#include "conversion/stop_signals.h"

#ifndef CONVERT_VERSION
#define CONVERT_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "usage: convert-trades check SOURCE TARGET [--json]\n"
    "       convert-trades import SOURCE TARGET [--json]\n"
    "       convert-trades --help | --version\n";

constexpr const char* kHelp =
    "Converts the trades of a Tolvane 3 installation (SOURCE) into a Kavrel\n"
    "v2 installation (TARGET), exactly as the web form convert.cgi does.\n"
    "\n"
    "  check   says what an import would do and changes nothing: the trades\n"
    "          to import, to skip and to pass over, the identifiers, the\n"
    "          bytes it would add, the files this user could not write, a\n"
    "          rollback log left by a cut-off run, a conversion running now.\n"
    "          Exit status 0 when an import would run through, 1 when it\n"
    "          would stop (the first line says where and why).\n"
    "  import  converts: a progress bar on a terminal, one line a trade\n"
    "          otherwise, and the totals at the end. Exit status 0 when done,\n"
    "          1 when a step failed or a rollback log was refused (standard\n"
    "          error says what and what to do), 128 + the signal's number\n"
    "          when stopped.\n"
    "  --json  one JSON object on standard output instead of text.\n"
    "\n"
    "SOURCE and TARGET are the installation folders, with or without their\n"
    "trailing /.\n";

struct Command {
  std::string name;
  std::string source;
  std::string target;
  bool json = false;
};

std::string asFolder(std::string path) {
  if (path.empty() || path.back() != '/') path.push_back('/');
  return path;
}

// "Unable to open file PATH" and what to do, as the page says it.
std::string failureText(const FileError& error) {
  std::string text(failureLead(error.result));
  text.append(" ").append(error.path);
  return text;
}

// A put-back that failed, as opposed to a log or a tail refused whole.
bool isPutBackFailure(const FileError& error) {
  return error.result == FileResult::openFailed ||
         error.result == FileResult::readFailed ||
         error.result == FileResult::writeFailed;
}

void writeFailure(std::ostream& err, const FileError& error) {
  err << failureText(error) << '\n' << failureAdvice(error) << '\n';
}

void writeErrorJson(JsonObject* object, const FileError& error) {
  if (error.result == FileResult::ok) {
    object->null("stop");
    return;
  }
  std::ostream& out = object->member("stop");
  JsonObject stop(out);
  stop.text("path", error.path).text("reason", failureLead(error.result));
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
  JsonObject o(out);
  o.text("command", "check").boolean("wouldRunThrough", !stops);
  writeErrorJson(&o, check.stop);
  o.number("sourceTrades", static_cast<int64_t>(check.sourceTrades))
      .number("toImport", static_cast<int64_t>(check.toImport))
      .number("alreadyInTarget", static_cast<int64_t>(check.toSkip))
      .number("passedOver",
              static_cast<int64_t>(check.belowThreshold + check.unstorableKeys))
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
  if (check.freeSpaceKnown)
    o.number("freeBytes", static_cast<int64_t>(check.freeBytes));
  else
    o.null("freeBytes");
  {
    JsonObject log(o.member("rollbackLog"));
    log.boolean("present", check.logPresent)
        .boolean("accepted", check.logVerdict.result == FileResult::ok);
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
  out << '\n';
}

// The check as lines for a terminal.
void writeCheckText(const ConversionCheck& check, uint64_t bytes, bool stops,
                    std::ostream& out) {
  if (!stops) {
    out << "an import would run through\n";
  } else {
    std::string why = failureLead(check.stop.result).data();
    for (const CheckProblem& problem : check.problems)
      if (problem.path == check.stop.path && problem.stopsImport)
        why = problem.why;
    out << "an import would stop at " << check.stop.path << ": " << why << '\n';
  }
  out << "trades in the source:  " << grouped(check.sourceTrades) << '\n'
      << "to import:             " << grouped(check.toImport);
  if (check.firstId != 0 || check.lastId != 0)
    out << " (identifiers " << check.firstId << " to " << check.lastId << ")";
  out << '\n'
      << "already in the target: " << grouped(check.toSkip) << '\n'
      << "passed over:           "
      << grouped(check.belowThreshold + check.unstorableKeys)
      << " (first field not a number above 10: "
      << grouped(check.belowThreshold)
      << ", key too long to store: " << grouped(check.unstorableKeys) << ")\n"
      << "bytes to add:          " << grouped(bytes) << " (statistics files "
      << grouped(check.statisticsBytes) << ", records "
      << grouped(check.recordBytes) << ", lines " << grouped(check.lineBytes)
      << ")";
  if (check.freeSpaceKnown) out << ", " << grouped(check.freeBytes) << " free";
  out << '\n' << "rollback log:          ";
  if (!check.logPresent)
    out << "none\n";
  else if (check.logVerdict.result == FileResult::ok)
    out << "left by a cut-off run: the import first puts its group back "
           "(the figures above are before that)\n";
  else
    out << "refused: " << failureText(check.logVerdict) << '\n';
  out << "conversion running:    "
      << (check.running ? "yes: the import would wait for it\n" : "no\n");
  for (const CheckProblem& problem : check.problems)
    out << (problem.stopsImport ? "cannot write: " : "passed over: ")
        << problem.path << ": " << problem.why << '\n';
}

int runCheck(const Command& command, std::ostream& out) {
  ConversionCheck check;
  checkConversion(command.source, command.target, &check);
  const bool stops = check.stop.result != FileResult::ok;
  const uint64_t bytes =
      check.statisticsBytes + check.recordBytes + check.lineBytes;
  if (command.json)
    writeCheckJson(check, bytes, stops, out);
  else
    writeCheckText(check, bytes, stops, out);
  out.flush();
  return stops ? 1 : 0;
}

int runImport(const Command& command, const CliContext& context,
              std::ostream& out, std::ostream& err) {
  const auto start = std::chrono::steady_clock::now();
  TerminalReport report(
      out, err, context.errIsTerminal && !command.json && context.outIsTerminal,
      !command.json && !context.outIsTerminal);
  const RunEnd end =
      convertInstallations(command.source, command.target, "", &report);
  report.endBar();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  const int signal = stopSignal();
  if (command.json) {
    JsonObject o(out);
    o.text("command", "import")
        .text("result", end == RunEnd::finished ? "finished"
                        : end == RunEnd::failed ? "failed"
                                                : "stopped");
    writeErrorJson(&o, report.failure());
    o.number("added", static_cast<int64_t>(report.addedCount()))
        .number("skipped", static_cast<int64_t>(report.skippedCount()))
        .number("passedOver", static_cast<int64_t>(report.passedOverCount()));
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    o.member("seconds") << text;
  }
  if (command.json) {
    out << '\n';
  } else {
    char text[160];
    std::snprintf(text, sizeof text,
                  "added %s, skipped %s, passed over %s, %.2f seconds\n",
                  grouped(report.addedCount()).c_str(),
                  grouped(report.skippedCount()).c_str(),
                  grouped(report.passedOverCount()).c_str(), seconds);
    out << text;
  }
  out.flush();
  if (end == RunEnd::failed) {
    writeFailure(err, report.failure());
    // Whole trades are promised only where the run itself undid what it had
    // begun; a refused or unfinished put-back says what to do in its advice.
    const RunStage stage = report.failedStage();
    if (stage == RunStage::importing)
      err << "The target holds whole trades: fix the cause and run again.\n";
    else if (stage == RunStage::recovering &&
             isPutBackFailure(report.failure()))
      err << "The target may hold a trade cut half way, which its rollback "
             "log puts back: fix the cause and run again.\n";
    return 1;
  }
  if (end == RunEnd::stopped) {
    err << "Stopped before its end by signal " << signal
        << ": every trade above is whole; run the import again to go on.\n";
    return 128 + signal;
  }
  return 0;
}

// False, with `error` saying why, when `args` is not a command.
bool parseCommand(const std::vector<std::string>& args, Command* command,
                  std::string* error) {
  std::vector<std::string> words;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      command->json = true;
    } else if (!arg.empty() && arg[0] == '-') {
      *error = "unknown option " + arg;
      return false;
    } else {
      words.push_back(arg);
    }
  }
  if (words.empty()) {
    *error = "no command";
    return false;
  }
  command->name = words[0];
  if (command->name != "check" && command->name != "import") {
    *error = "unknown command " + command->name;
    return false;
  }
  if (words.size() != 3) {
    *error = command->name + " takes the SOURCE and the TARGET folder";
    return false;
  }
  command->source = asFolder(words[1]);
  command->target = asFolder(words[2]);
  return true;
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
  for (const std::string& arg : args) {
    if (arg == "--help") {
      out << kUsage << '\n' << kHelp;
      return 0;
    }
    if (arg == "--version") {
      out << "convert-trades " << CONVERT_VERSION << '\n';
      return 0;
    }
  }
  Command command;
  std::string error;
  if (!parseCommand(args, &command, &error)) {
    err << "convert-trades: " << error << '\n' << kUsage;
    return 2;
  }
  if (command.name == "check") return runCheck(command, out);
  return runImport(command, context, out, err);
}
