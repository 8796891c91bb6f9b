// Malformed and hostile input, one scene per row, run in process: every scene
// ends in a page that says what happened, and nothing outside the target
// changes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

#include "import/installation_paths.h"
#include "import/target_trade.h"
#include "journal/undo_log.h"
#include "testing/cgi_runner.h"
#include "testing/expected_import.h"
#include "testing/expected_page.h"
#include "testing/file_tree.h"
#include "testing/installation.h"

namespace {

using Text = std::function<std::string(const Installations&)>;
using Setup = std::function<void(const Installations&)>;
using Check = std::function<void(const Installations&, const std::string&)>;

Text text(const std::string& fixed) {
  return [=](const Installations&) { return fixed; };
}

// Installations with the run's working directory "cwd/" beside them, so that
// a file made relative to it would be seen; a posted body; and what the page
// holds after the form.
struct Scene {
  std::string name;
  std::string sourceName = "tn3/";
  std::string targetName = "kv2/";
  Text sourceIndex = text(sourceLine(sampleTrade("12", "first")));
  Setup setup;  // more files, when set
  Text body = [](const Installations& in) {
    return formBody(in.source, in.target);
  };
  Text page;       // when set, exactly what follows the form
  Check check;     // more about the page and the target, when set
  Text pageAgain;  // a second run's page, when set
  bool targetMayChange = true;
  bool needsRoot = false;  // its setup gives a file to another user
  // When set, the scene runs through the program, whose peak memory must stay
  // within this many bytes.
  std::optional<uint64_t> peakMemoryLimit;
  Scene& dirs(const std::string& source, const std::string& target) {
    sourceName = source;
    targetName = target;
    return *this;
  }
  Scene& sources(Text index) {
    sourceIndex = std::move(index);
    return *this;
  }
  Scene& asRoot() {
    needsRoot = true;
    return *this;
  }
  Scene& with(Setup f) {
    setup = std::move(f);
    return *this;
  }
  Scene& posts(Text f) {
    body = std::move(f);
    return *this;
  }
  Scene& ends(Text f) {
    page = std::move(f);
    return *this;
  }
  Scene& checks(Check f) {
    check = std::move(f);
    return *this;
  }
  Scene& again(Text f) {
    pageAgain = std::move(f);
    return *this;
  }
  // Not even the target changes.
  Scene& untouched() {
    targetMayChange = false;
    return *this;
  }
  Scene& inProgramWithin(uint64_t bytes) {
    peakMemoryLimit = bytes;
    return *this;
  }
};

void PrintTo(const Scene& s, std::ostream* os) { *os << s.name; }

Scene scene(std::string name) {
  Scene s;
  s.name = std::move(name);
  return s;
}

#ifdef __SANITIZE_ADDRESS__
// AddressSanitizer keeps a shadow byte for every eight of the program's and
// memory of its own, and runs the program many times slower.
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// The peak memory allowed a program whose own bound is `bytes`.
uint64_t allowedPeak(uint64_t bytes) {
  return kSanitized ? bytes / 8 * 9 + (16 << 20) : bytes;
}

// The longest form value of the table: 300 MB, or 48 MiB in the sanitizers'
// slower build.
constexpr std::size_t kHugeValue = kSanitized ? 48 << 20 : 300000000;

std::string runInside(const Installations& in, std::string body,
                      std::optional<uint64_t> peakMemoryLimit) {
  CgiRequest request = postRequest(std::move(body));
  request.workingDirectory = in.dir.path() + "cwd";
  if (!peakMemoryLimit) return pageAfterForm(runInProcess(request));
  request.measurePeakMemory = true;
  CgiResult result = runConvertCgi(std::move(request));
  EXPECT_FALSE(result.memoryExceeded || result.timedOut);
  EXPECT_LE(result.peakMemoryBytes, allowedPeak(*peakMemoryLimit));
  return pageAfterForm(std::move(result.page));
}

// Compares whole pages; a long one is reported by its first difference, not
// printed whole.
void expectSamePage(const std::string& expected, const std::string& page) {
  if (expected.size() + page.size() < (std::size_t{1} << 16)) {
    EXPECT_EQ(expected, page);
    return;
  }
  if (expected == page) return;
  const std::size_t at = static_cast<std::size_t>(
      std::mismatch(expected.begin(),
                    expected.begin() + static_cast<long>(std::min(
                                           expected.size(), page.size())),
                    page.begin())
          .first -
      expected.begin());
  ADD_FAILURE() << "pages of " << expected.size() << " and " << page.size()
                << " bytes differ at byte " << at << ": expected \""
                << expected.substr(at, 60) << "\", got \""
                << page.substr(at, 60) << "\"";
}

// `body` with its "@" (encoded) made `size` bytes of "x", built in place.
std::string withLongValue(const std::string& body, std::size_t size) {
  const std::size_t at = body.find("%40");
  std::string whole;
  whole.reserve(body.size() + size);
  whole.append(body, 0, at).append(size, 'x').append(body, at + 3);
  return whole;
}

// Expects `page` to be `shape` with its "@" standing for `size` bytes of "x",
// without forming that page.
void expectLongValuePage(const std::string& shape, const std::string& page,
                         std::size_t size) {
  const std::size_t at = shape.find('@');
  const std::size_t after = shape.size() - at - 1;
  ASSERT_EQ(shape.size() - 1 + size, page.size());
  EXPECT_EQ(shape.substr(0, at), page.substr(0, at));
  EXPECT_EQ(shape.substr(at + 1), page.substr(page.size() - after));
  EXPECT_EQ(page.size() - after, page.find_first_not_of('x', at));
}

// `unit` repeated to at most `size` bytes.
std::string repeated(const std::string& unit, std::size_t size) {
  std::string bytes = unit;
  while (2 * bytes.size() <= size) bytes += bytes;
  return bytes;
}

std::string garbledBytes(std::size_t size) {
  std::string bytes;
  for (int value = 0; value < 256; ++value)
    bytes.push_back(static_cast<char>(value));
  uint32_t state = 12345;
  while (bytes.size() < size) {
    state = state * 1103515245u + 12345u;
    bytes.push_back(static_cast<char>(state >> 24));
  }
  return bytes;
}

std::string trades(const std::vector<std::string>& keys) {
  std::string index;
  for (const std::string& key : keys)
    index += sourceLine(sampleTrade("12", key));
  return index;
}

// The records the run writes for sampleTrade("12", key), numbered from 11.
std::string recordsOf(const std::vector<std::string>& keys) {
  std::string records;
  int32_t id = 11;
  for (const std::string& key : keys)
    records += sampleTradeRecord(id++, key, addedByNoteToday("192.0.2.7"));
  return records;
}

// A target whose folder `folder` every user may write to, with a link to a
// file outside at each file the run would change or read, and a hard link at
// each it would create.
Scene unsafeFolder(const std::string& name, const std::string& folder) {
  Scene s;
  s.name = "LinksPlantedInAnUnsafe" + name;
  s.setup = [folder](const Installations& in) {
    const std::string victim = in.dir.path() + "cwd/victim";
    writeFile(victim, "secret");
    ::chmod(victim.c_str(), 0600);
    for (InstallationFile file :
         {InstallationFile(counterPath), InstallationFile(targetIndexPath),
          InstallationFile(toplistPath), InstallationFile(capsPath),
          InstallationFile(summaryPath)}) {
      std::filesystem::remove(file(in.target));
      ::symlink(victim.c_str(), file(in.target).c_str());
    }
    ::link(victim.c_str(), statsFilePath(in.target, "11").c_str());
    ::link(victim.c_str(), historyFilePath(in.target, "first").c_str());
    ::chmod((in.target + folder).c_str(), 0777);
  };
  s.page = [folder](const Installations& in) {
    std::string path = in.target + folder;
    if (folder.empty()) path.pop_back();  // the folder, without its "/"
    return loadingLine() + errorBlock(ErrorLead::othersCanChange, path, true);
  };
  s.targetMayChange = false;
  return s;
}

// A run that touches nothing and names `folder` (below the installations'
// folder), another user or group that could change it being `who`.
Scene refusedFolder(const std::string& name, ErrorLead lead,
                    const std::string& folder, const std::string& who,
                    Setup setup) {
  Scene s;
  s.name = name;
  s.setup = std::move(setup);
  s.page = [=](const Installations& in) {
    return loadingLine() + errorBlock(lead, in.dir.path() + folder, true, who);
  };
  s.targetMayChange = false;
  return s;
}

Setup chmodAt(const std::string& folder, mode_t mode) {
  return [=](const Installations& in) {
    ::chmod((in.dir.path() + folder).c_str(), mode);
  };
}

std::function<void(const Installations&)> hardLinkAt(InstallationFile file) {
  return [=](const Installations& in) {
    const std::string victim = in.dir.path() + "cwd/victim";
    writeFile(victim, "secret");
    std::filesystem::remove(file(in.target));
    ::link(victim.c_str(), file(in.target).c_str());
  };
}

// A log of one record that puts `name` back as "planted" with `mode`, itself
// with mode `logMode`.
void writePlantedLog(const Installations& in, const std::string& name,
                     unsigned mode, unsigned logMode) {
  UndoLogEncoder encoder;
  UndoRecord record;
  record.kind = UndoRecord::Kind::putBack;
  record.name = name;
  record.bytes = "planted";
  record.restoresMode = true;
  record.mode = mode;
  std::string log = encoder.startGroup(1);  // before the record
  log += encoder.encode(record);
  writeFile(journalPath(in.target), log);
  ::chmod(journalPath(in.target).c_str(), logMode);
  writeFile(in.dir.path() + "cwd/victim", "secret");
}

constexpr const char* kNote = "added by 127.0.0.1 on 10 Dec, 2026";

void appendTo(const std::string& path, const std::string& bytes) {
  writeFile(path, readFile(path) + bytes);
}

// The log of a group cut off in an empty target: the sizes of its appended
// files and the counter's text before it.
void writeCutOffGroupLog(const Installations& in) {
  UndoLogEncoder encoder;
  std::string log = encoder.startGroup(1);
  for (const InstallationFile& file :
       {InstallationFile(targetIndexPath), InstallationFile(toplistPath),
        InstallationFile(capsPath), InstallationFile(summaryPath)}) {
    UndoRecord cut;
    cut.name = file("");
    cut.size = in.targetFile(file).size();
    log += encoder.encode(cut);
  }
  UndoRecord counter;
  counter.kind = UndoRecord::Kind::putBack;
  counter.name = counterPath("");
  counter.bytes = in.targetFile(counterPath);
  counter.followLinks = true;
  log += encoder.encode(counter);
  writeFile(journalPath(in.target), log);
  ::chmod(journalPath(in.target).c_str(), 0600);
}

// Past the end `writeCutOffGroupLog` logged, `after` appends to `file` what
// the live site wrote; `who` is the first record or line that is not the
// group's, as the page shows it.
Scene liveSite(const std::string& name, InstallationFile file,
               const std::string& who, Setup after) {
  Scene s;
  s.name = name;
  s.setup = [after](const Installations& in) {
    writeCutOffGroupLog(in);
    after(in);
  };
  s.page = [=](const Installations& in) {
    return loadingLine() +
           errorBlock(ErrorLead::unknownTail, file(in.target), true, who);
  };
  s.targetMayChange = false;
  return s;
}

Scene plantedLog(const std::string& name, const std::string& record,
                 unsigned mode, unsigned logMode) {
  Scene s;
  s.name = name;
  s.setup = [=](const Installations& in) {
    writePlantedLog(in, record, mode, logMode);
  };
  s.page = [](const Installations& in) {
    return loadingLine() +
           errorBlock(ErrorLead::notOwnLog, journalPath(in.target), true);
  };
  s.targetMayChange = false;
  return s;
}

Text convertsFirst() {
  return text(loadingLine() + addedLine("first") + closingBlock());
}

std::vector<Scene> scenes() {
  std::string manyPairs;
  for (int i = 0; i < 5000; ++i) manyPairs += "a" + std::to_string(i) + "=b&";
  std::string wideLine = "|12|wide";
  for (int i = 2; i < 100000; ++i) wideLine += "|x";
  wideLine += "|\n";
  const auto withSubmit = [](const std::string& submit) {
    return [=](const Installations& in) {
      return "tolvane3=" + in.source + "&kavrelv2=" + in.target +
             "&submit=" + submit;
    };
  };
  const auto openError = [](std::string path) {
    return loadingLine() + errorBlock(ErrorLead::openFailed, path, false);
  };
  // The rollback log is the first file a run opens in its target.
  const auto logError = [](std::string target) {
    return loadingLine() +
           errorBlock(ErrorLead::openFailed, journalPath(target), true);
  };
  const std::string k99(99, 'k');
  const std::string k100(100, 'k');
  const std::string k5000(5000, 'k');
  // Markup is escaped on the page only; a key that holds '/' gets no history
  // file, wherever it points.
  const struct {
    std::string key;
    std::string shown;
    bool hasHistory;
  } oddKeys[] = {
      {"<b>&amp;", "&lt;b&gt;&amp;amp;", true},
      {"'\"", "&#39;&quot;", true},
      {"..", "..", true},
      {"../h/../../../cwd/pwned", "../h/../../../cwd/pwned", false},
  };
  std::vector<std::string> oddKeyList;
  std::string oddKeysPage = loadingLine();
  for (const auto& k : oddKeys) {
    oddKeyList.push_back(k.key);
    oddKeysPage += addedLine(k.shown);
  }

  return {
      // Bodies that do not decode into three values.
      scene("LonePercent")
          .posts(text("%"))
          .ends(text(incorrectFormData()))
          .untouched(),
      scene("ThousandsOfPairs")
          .posts(text(manyPairs))
          .ends(text(incorrectFormData()))
          .untouched(),
      // Memory holds the values kept, not a value per pair: at most the body
      // and 16 MiB.
      scene("FortyEightMegabytesOfPairs")
          .posts([](const Installations&) { return repeated("a=&", 48 << 20); })
          .ends(text(incorrectFormData()))
          .inProgramWithin((48 << 20) + (16 << 20))
          .untouched(),
      scene("TenMegabytesWithoutAPair")
          .posts(text(std::string(10 << 20, 'x')))
          .ends(text(incorrectFormData()))
          .untouched(),
      // Paths that name no installation: the first open fails.
      scene("PercentValues")
          .posts(text("tolvane3=%&kavrelv2=%&submit=%"))
          .ends(text(openError(sourceIndexPath("%"))))
          .untouched(),
      scene("ZeroByteInTheSource")
          .posts([](const Installations& in) {
            return "tolvane3=" + in.source + "%00&kavrelv2=" + in.target +
                   "&submit=go";
          })
          .ends([=](const Installations& in) {
            return openError(sourceIndexPath(in.source + '\0'));
          })
          .untouched(),
      scene("ZeroByteInTheTarget")
          .posts([](const Installations& in) {
            return "tolvane3=" + in.source + "&kavrelv2=" + in.target +
                   "%00x&submit=go";
          })
          .ends([=](const Installations& in) {
            return openError(
                targetIndexPath(in.target + std::string("\0x", 2)));
          })
          .untouched(),
      scene("LonePercentEndingTheTarget")
          .posts([](const Installations& in) {
            return "tolvane3=" + in.source + "&kavrelv2=" + in.target +
                   "%&submit=go";
          })
          .ends([=](const Installations& in) {
            return openError(targetIndexPath(in.target + "%"));
          })
          .untouched(),
      // A folder of PATH_MAX bytes or more names no file: the page is that
      // of the first open in it, showing the folder whole, in its pieces.
      scene("SourceAsLongAsAPath")
          .posts([](const Installations& in) {
            return formBody(std::string(PATH_MAX, 'y'), in.target);
          })
          .ends([=](const Installations&) {
            return openError(sourceIndexPath(std::string(PATH_MAX, 'y')));
          })
          .untouched(),
      scene("TargetOfThreeMegabytesOfMarkup")
          .posts([](const Installations& in) {
            return formBody(in.source, repeated("<&x", 3 << 20));
          })
          .ends([=](const Installations&) {
            return logError(repeated("&lt;&amp;x", (3 << 20) / 3 * 10));
          })
          .untouched(),
      // No log can be at a path that holds a zero byte: the index is next.
      scene("TargetAsLongAsAPathWithAZeroByte")
          .posts([](const Installations& in) {
            return formBody(in.source, std::string(PATH_MAX, 'y') + '\0');
          })
          .ends([=](const Installations&) {
            return openError(
                targetIndexPath(std::string(PATH_MAX, 'y') + '\0'));
          })
          .untouched(),
      // The value is held once, in the body's place: at most the body and
      // 16 MiB. Grown by doubling and copied into each path formed from it,
      // a 300 MB one took 862 MiB as the source, 515 MiB as the target with
      // a source that would not open, 862 MiB with one that would.
      scene("HugeSource")
          .posts([](const Installations& in) {
            return withLongValue(formBody("@", in.target), kHugeValue);
          })
          .checks([=](const Installations&, const std::string& page) {
            expectLongValuePage(openError(sourceIndexPath("@")), page,
                                kHugeValue);
          })
          .inProgramWithin(kHugeValue + (16 << 20))
          .untouched(),
      scene("FortyEightMegabyteTarget")
          .posts([](const Installations& in) {
            return withLongValue(formBody(in.source, "@"), 48 << 20);
          })
          .checks([=](const Installations&, const std::string& page) {
            expectLongValuePage(logError("@"), page, 48 << 20);
          })
          .inProgramWithin((48 << 20) + (16 << 20))
          .untouched(),
      // The third value is never used, whatever it holds.
      scene("HugeThirdValue")
          .posts(withSubmit(std::string(10 << 20, 'x')))
          .ends(convertsFirst()),
      scene("GarbledThirdValue")
          .posts(withSubmit("%zz%4%"))
          .ends(convertsFirst()),
      scene("ZeroAndHighBytesInTheThirdValue")
          .posts(withSubmit("%00%FF+%2"))
          .ends(convertsFirst()),
      // Source indexes that are not what they should be.
      scene("BinaryBytesInTheSource")
          .sources(text(trades({"good"}) + garbledBytes(1 << 16)))
          .checks([](const Installations& in, const std::string& page) {
            EXPECT_EQ(0u, page.find(loadingLine() + addedLine("good")));
            EXPECT_EQ(closingBlock(),
                      page.substr(page.size() - closingBlock().size()));
            EXPECT_EQ(0u,
                      in.targetFile(targetIndexPath).size() % kTargetTradeSize);
          }),
      scene("NoBarsInTheSource")
          .sources(text("a line without a single bar\nand another\n"))
          .ends(text(loadingLine() + closingBlock()))
          .untouched(),
      scene("HundredThousandFieldsOnOneLine")
          .sources(text(wideLine))
          .ends(text(loadingLine() + addedLine("wide") + closingBlock()))
          .checks([](const Installations& in, const std::string&) {
            EXPECT_EQ(kTargetTradeSize, in.targetFile(targetIndexPath).size());
          }),
      // A target index of 1,000 bytes: one record and four stray bytes. The
      // short record is completed with its initial values before the new
      // record, which so starts on a record boundary and is found again.
      scene("TargetIndexOfAThousandBytes")
          .sources(text(trades({"known", "first"})))
          .with([](const Installations& in) {
            writeFile(
                targetIndexPath(in.target),
                targetRecordBytes(5, "known") + std::string("\x07\0\0\0", 4));
          })
          .ends(text(loadingLine() + skippingLine("known") +
                     addedLine("first") + closingBlock()))
          .checks([](const Installations& in, const std::string&) {
            const std::string index = in.targetFile(targetIndexPath);
            ASSERT_EQ(3 * kTargetTradeSize, index.size());
            EXPECT_EQ(targetRecordBytes(5, "known") + targetRecordBytes(7, ""),
                      index.substr(0, 2 * kTargetTradeSize));
            EXPECT_EQ("first",
                      std::string(index.c_str() + 2 * kTargetTradeSize + 4));
          })
          .again(text(loadingLine() + skippingLine("known") +
                      skippingLine("first") + closingBlock())),
      // A key the record holds whole is found again by the next run; a longer
      // one is never imported.
      scene("KeysOfEveryLength")
          .sources(text(trades({"", k99, k100, k5000})))
          .ends(text(loadingLine() + addedLine("") + addedLine(k99) +
                     unstorableKeyLine(k100) + unstorableKeyLine(k5000) +
                     closingBlock()))
          .checks([=](const Installations& in, const std::string&) {
            EXPECT_EQ(recordsOf({"", k99}), in.targetFile(targetIndexPath));
            EXPECT_EQ(0777, fileMode(historyFilePath(in.target, "")));
            EXPECT_EQ(0777, fileMode(historyFilePath(in.target, k99)));
          })
          .again(text(loadingLine() + skippingLine("") + skippingLine(k99) +
                      unstorableKeyLine(k100) + unstorableKeyLine(k5000) +
                      closingBlock())),
      scene("KeysWithMarkupOrPathsAreTakenLiterally")
          .sources(text(trades(oddKeyList)))
          .ends(text(oddKeysPage + closingBlock()))
          .checks([=](const Installations& in, const std::string&) {
            EXPECT_EQ(recordsOf(oddKeyList), in.targetFile(targetIndexPath));
            for (const auto& k : oddKeys) {
              EXPECT_EQ(k.hasHistory,
                        fileExists(historyFilePath(in.target, k.key)))
                  << k.key;
            }
          }),
      // Installation paths as typed, whatever they hold.
      scene("InstallationPathsWithMarkupAndShellCharacters")
          .dirs("src <&>'\" ;$(touch pwned)/", "dst <&>'\" ;`touch pwned`/")
          .sources(text(trades({"first", "second"})))
          .ends(text(loadingLine() + addedLine("first") + addedLine("second") +
                     closingBlock()))
          .checks([](const Installations& in, const std::string&) {
            EXPECT_EQ("12", in.targetFile(counterPath));
            EXPECT_EQ(0777, fileMode(historyFilePath(in.target, "second")));
          }),
      scene("PathsThroughDotDot")
          .posts([](const Installations& in) {
            return formBody(in.dir.path() + "cwd/../tn3/",
                            in.dir.path() + "tn3/../kv2/");
          })
          .ends(convertsFirst())
          .checks([](const Installations& in, const std::string&) {
            EXPECT_EQ("11", in.targetFile(counterPath));
          }),
      // d/h is often open to every local user: a link there must not let a
      // run empty or open up a file elsewhere.
      scene("LinkPlantedInTheHistoryDirectory")
          .with([](const Installations& in) {
            const std::string victim = in.dir.path() + "cwd/victim";
            writeFile(victim, "keep");
            ::chmod(victim.c_str(), 0600);
            ::symlink(victim.c_str(),
                      historyFilePath(in.target, "first").c_str());
          })
          .ends(convertsFirst()),
      // Where another account of the server may write, it could have planted
      // links or hard links to the owner's files at every installation file:
      // the run touches nothing and names the folder.
      unsafeFolder("TargetFolder", ""),
      unsafeFolder("DataFolder", "d"),
      unsafeFolder("TradeFolder", "d/t"),
      unsafeFolder("HistoryFolder", "d/h"),
      // The folders are judged one by one, as the run reaches them, links
      // and the folders that links lead through included: a folder every
      // user may write to is refused even in the middle of a link's target,
      // and sticky only on the way (not where the run creates names).
      refusedFolder("FolderOthersCanWriteInsideALinksTarget",
                    ErrorLead::othersCanChange, "pub", "",
                    [](const Installations& in) {
                      const std::string d = in.dir.path();
                      makeDirectories(d + "mid");
                      makeDirectories(d + "pub");
                      ::chmod((d + "pub").c_str(), 0777);
                      std::filesystem::rename(in.target, d + "pub/real");
                      ::symlink((d + "pub/real").c_str(),
                                (d + "mid/kv2").c_str());
                      ::symlink((d + "mid/kv2").c_str(), (d + "link").c_str());
                      ::symlink((d + "link").c_str(), (d + "kv2").c_str());
                    }),
      refusedFolder("StickyTradeFolder", ErrorLead::othersCanChange, "kv2/d/t",
                    "", chmodAt("kv2/d/t", 01777)),
      refusedFolder("SourceTradeFolderOthersCanWrite",
                    ErrorLead::othersCanChange, "tn3/d/t", "",
                    chmodAt("tn3/d/t", 0777)),
      scene("StickyFolderOnTheWay")
          .dirs("tn3/", "tmp/kv2/")
          .with(chmodAt("tmp", 01777))
          .ends(convertsFirst()),
      // A folder of another user, or one whose group holds other users, is
      // theirs to change; a group of the run's own users is not.
      refusedFolder("FolderOfAnotherUserOnTheWay", ErrorLead::otherOwner,
                    "shared", "nobody",
                    [](const Installations& in) {
                      const std::string d = in.dir.path();
                      makeDirectories(d + "shared");
                      std::filesystem::rename(in.target, d + "shared/kv2");
                      ::symlink((d + "shared/kv2").c_str(),
                                (d + "kv2").c_str());
                      ::chown((d + "shared").c_str(), 65534, 65534);
                    })
          .asRoot(),
      // Which of the group's users is named depends on the machine's users.
      scene("TradeFolderOfAGroupWithAnotherUser")
          .with([](const Installations& in) {
            ::chown(tradeFolderPath(in.target).c_str(), 0, 65534);
            ::chmod(tradeFolderPath(in.target).c_str(), 0775);
          })
          .checks([](const Installations& in, const std::string& page) {
            const std::string block = errorBlock(
                ErrorLead::groupCanChange, tradeFolderPath(in.target), true,
                "nogroup, which holds user @");
            const std::size_t at = block.find('@');
            EXPECT_EQ(loadingLine() + block.substr(0, at),
                      page.substr(0, loadingLine().size() + at));
          })
          .untouched()
          .asRoot(),
      scene("TradeFolderOfTheRunsOwnGroup")
          .with([](const Installations& in) {
            ::chown(tradeFolderPath(in.target).c_str(), geteuid(), getegid());
            ::chmod(tradeFolderPath(in.target).c_str(), 0775);
          })
          .ends(convertsFirst())
          .asRoot(),
      // Only the run's own user can hold its lock or leave it files to reuse.
      scene("LockOfAnotherUser")
          .with([](const Installations& in) {
            writeFile(lockPath(in.target), "");
            ::chmod(lockPath(in.target).c_str(), 0600);
            ::chown(lockPath(in.target).c_str(), 65534, 65534);
          })
          .ends([](const Installations& in) {
            return loadingLine() + errorBlock(ErrorLead::otherUsersLock,
                                              lockPath(in.target), true,
                                              "nobody");
          })
          .untouched()
          .asRoot(),
      scene("StatisticsFileLeftByAnotherUser")
          .with([](const Installations& in) {
            const std::string stats = statsFilePath(in.target, "11");
            writeFile(stats, std::string(80640, '\0'));
            ::chmod(stats.c_str(), 0777);
            ::chown(stats.c_str(), 65534, 65534);
          })
          .ends([](const Installations& in) {
            return loadingLine() + errorBlock(ErrorLead::openFailed,
                                              statsFilePath(in.target, "11"),
                                              true);
          })
          .untouched()
          .asRoot(),
      // A history file of any size is never read whole into memory.
      scene("HistoryFileOfFourGigabytesIsPassedOver")
          .with([](const Installations& in) {
            writeFile(historyFilePath(in.target, "first"), "");
            ::truncate(historyFilePath(in.target, "first").c_str(), 1ll << 32);
          })
          .ends(convertsFirst())
          .checks([](const Installations& in, const std::string&) {
            struct stat info;
            ::stat(historyFilePath(in.target, "first").c_str(), &info);
            EXPECT_EQ(1ll << 32, info.st_size);
          }),
      // In a folder only the owner writes, a hard link is still never
      // written through: the file is one that will not open.
      scene("HardLinkAtTheNextStatisticsFile")
          .with(hardLinkAt(statsFile("11")))
          .ends([](const Installations& in) {
            return loadingLine() + errorBlock(ErrorLead::openFailed,
                                              statsFilePath(in.target, "11"),
                                              true);
          }),
      scene("HardLinkAtTheCapsFile")
          .with(hardLinkAt(capsPath))
          .ends([](const Installations& in) {
            return loadingLine() +
                   errorBlock(ErrorLead::openFailed, capsPath(in.target), true);
          }),
      scene("HardLinkAtTheHistoryFileIsPassedOver")
          .with(hardLinkAt(historyFile("first")))
          .ends(convertsFirst()),
      // A rollback log that this user's runs cannot have left is refused
      // whole, before anything is put back.
      plantedLog("LogNamingAFileOutside", "../../cwd/victim", 0644, 0600),
      plantedLog("LogSettingUserIdOnStatistics", "d/t/11", 04777, 0600),
      plantedLog("LogWritableByTheGroup", "d/t/11", 0644, 0620),
      plantedLog("LogOfAnotherUser", "d/t/11", 0644, 0600)
          .with([](const Installations& in) {
            writePlantedLog(in, "d/t/11", 0644, 0600);
            ::chown(journalPath(in.target).c_str(), 65534, 65534);
          })
          .ends([](const Installations& in) {
            return loadingLine() + errorBlock(ErrorLead::otherUsersLog,
                                              journalPath(in.target), true,
                                              "nobody");
          })
          .asRoot(),
      plantedLog("LogWithASecondLink", "d/t/11", 0644, 0600)
          .with([](const Installations& in) {
            writePlantedLog(in, "d/t/11", 0644, 0600);
            ::link(journalPath(in.target).c_str(),
                   (in.dir.path() + "cwd/link").c_str());
          }),
      // Read bits do not make a log another's: this one is put back.
      scene("OwnLogReadableByAll")
          .with([](const Installations& in) {
            writeFile(statsFilePath(in.target, "11"), "left over");
            writePlantedLog(in, "d/t/11", 0644, 0644);
          })
          .ends(convertsFirst())
          .checks([](const Installations& in, const std::string&) {
            EXPECT_FALSE(fileExists(journalPath(in.target)));
          }),
      // A group imported "first" as 11 when its run was cut off; the live
      // site then wrote past the log's end: refused, nothing changed.
      liveSite("LiveRecordWithTheNextIdentifier", targetIndexPath,
               "record 2 (identifier 12, key &quot;live&quot;)",
               [](const Installations& in) {
                 appendTo(targetIndexPath(in.target),
                          sampleTradeRecord(11, "first", kNote) +
                              sampleTradeRecord(12, "live", kNote));
               }),
      liveSite("SourceKeyWithAnIdentifierTheCounterDidNotIssue",
               targetIndexPath,
               "record 1 (identifier 12, key &quot;first&quot;)",
               [](const Installations& in) {
                 appendTo(targetIndexPath(in.target),
                          sampleTradeRecord(12, "first", kNote));
               }),
      liveSite("CapsLineOfAnOlderTrade", capsPath, "line 4 &quot;|7|1|0|&quot;",
               [](const Installations& in) {
                 appendTo(capsPath(in.target),
                          "|11|1|39|\n|11|2|42|\n|11|3|45|\n|7|1|0|\n");
               }),
      liveSite("SummaryLineOfAnotherShape", summaryPath,
               "line 1 &quot;|11|1|&quot;",
               [](const Installations& in) {
                 appendTo(summaryPath(in.target), "|11|1|\n");
               }),
      liveSite("ToplistLineOfAKeyNotInTheSource", toplistPath,
               "line 1 &quot;|live|v17|v18|v19|&quot;",
               [](const Installations& in) {
                 appendTo(toplistPath(in.target), "|live|v17|v18|v19|\n");
               }),
      // Zero bytes where a power cut kept the size of an append but not its
      // data: the group's own, put back.
      scene("IndexTailOfZeroBytes")
          .with([](const Installations& in) {
            writeCutOffGroupLog(in);
            appendTo(targetIndexPath(in.target),
                     std::string(kTargetTradeSize, '\0'));
          })
          .ends(convertsFirst())
          .checks([](const Installations& in, const std::string&) {
            EXPECT_EQ(recordsOf({"first"}), in.targetFile(targetIndexPath));
          }),
  };
}

class BadInputTest : public testing::TestWithParam<Scene> {};

TEST_P(BadInputTest, EndsInAClearPageAndLeavesTheRestAlone) {
  const Scene& s = GetParam();
  if (s.needsRoot && geteuid() != 0) GTEST_SKIP() << "needs root: chown";
  Installations in(s.sourceName, s.targetName);
  makeDirectories(in.dir.path() + "cwd");
  writeFile(sourceIndexPath(in.source), s.sourceIndex(in));
  if (s.setup) s.setup(in);
  const std::string root = in.dir.path();
  const auto snapshot = [&] {
    return describeTree(s.targetMayChange ? readTreeOutside(root, in.target)
                                          : readTree(root));
  };
  const std::vector<std::string> before = snapshot();

  const std::string page = runInside(in, s.body(in), s.peakMemoryLimit);
  if (s.page) expectSamePage(s.page(in), page);
  if (s.check) s.check(in, page);
  if (s.pageAgain) {
    expectSamePage(s.pageAgain(in),
                   runInside(in, s.body(in), s.peakMemoryLimit));
  }
  EXPECT_EQ(before, snapshot());
}

INSTANTIATE_TEST_SUITE_P(Scenes, BadInputTest, testing::ValuesIn(scenes()),
                         [](const testing::TestParamInfo<Scene>& row) {
                           return row.param.name;
                         });

}  // namespace
