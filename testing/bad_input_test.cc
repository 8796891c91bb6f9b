// Malformed and hostile input through the real program: every case ends in a
// page that says what happened, and nothing outside the target changes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "import/target_trade.h"
#include "testing/cgi_runner.h"
#include "testing/installation.h"
#include "testing/test_util.h"

namespace {

const std::string kIncorrect = "incorrect form data";

// The tree under the installations' directory, less the target's part.
FileTree outsideTarget(const Installations& in) {
  FileTree tree = readTree(in.dir.path());
  const std::string target = in.target.substr(in.dir.path().size());
  for (auto it = tree.begin(); it != tree.end();) {
    const bool inTarget =
        it->first + "/" == target || it->first.rfind(target, 0) == 0;
    it = inTarget ? tree.erase(it) : std::next(it);
  }
  return tree;
}

// Installations with the run's working directory beside them, so that a file
// made relative to it would be seen.
struct Scene : Installations {
  Scene() { makeDirectories(dir.path() + "cwd"); }
  Scene(const std::string& sourceName, const std::string& targetName)
      : Installations(sourceName, targetName) {
    makeDirectories(dir.path() + "cwd");
  }
};

CgiResult runInside(const Scene& in, CgiRequest request) {
  request.workingDirectory = in.dir.path() + "cwd";
  return runConvertCgi(request);
}

std::string added(const std::string& key) { return "added " + key + "<br>"; }

TEST(BadInputTest, ContentLengthWithoutAUsableLengthIsIncorrectFormData) {
  for (const char* length : {"", "abc", "-1", "0"}) {
    Scene in;
    in.writeSourceIndex({sampleTrade("12", "first")});
    const FileTree before = readTree(in.dir.path());
    CgiRequest request = postRequest(formBody(in.source, in.target));
    request.contentLength = length;
    const CgiResult result = runInside(in, request);
    EXPECT_EQ(0, result.exitStatus) << length;
    EXPECT_EQ(kIncorrect, pageAfterForm(result.page)) << length;
    EXPECT_EQ(describeTree(before), describeTree(readTree(in.dir.path())))
        << length;
  }
}

TEST(BadInputTest, ContentLengthBeyondTheBodyTakesTheBytesThatArrive) {
  Scene in;
  in.writeSourceIndex({sampleTrade("12", "first")});
  const FileTree outside = outsideTarget(in);
  CgiRequest request = postRequest(formBody(in.source, in.target));
  request.contentLength = "99999999999";
  const CgiResult result = runInside(in, request);
  EXPECT_EQ(kLoadingLine + added("first") + kClosingBlock,
            pageAfterForm(result.page));
  EXPECT_EQ(describeTree(outside), describeTree(outsideTarget(in)));
}

TEST(BadInputTest, MalformedBodiesEndInAClearPage) {
  Scene in;
  in.writeSourceIndex({sampleTrade("12", "first")});
  const FileTree before = readTree(in.dir.path());
  std::string manyPairs;
  for (int i = 0; i < 5000; ++i) manyPairs += "a" + std::to_string(i) + "=b&";
  const std::string tenMegabytes(10 << 20, 'x');
  const struct {
    const char* label;
    std::string body;
    std::string ending;
  } cases[] = {
      {"lone percent", "%", kIncorrect},
      {"thousands of pairs", manyPairs, kIncorrect},
      {"10 MB without a pair", tenMegabytes, kIncorrect},
      {"percent values", "tolvane3=%&kavrelv2=%&submit=%",
       kLoadingLine + expectedErrorBlock(kOpenFailedLead, "%d/t/index", false)},
      {"zero byte in the source",
       "tolvane3=" + in.source + "%00&kavrelv2=" + in.target + "&submit=go",
       kLoadingLine + expectedErrorBlock(kOpenFailedLead,
                                         in.source + '\0' + "d/t/index",
                                         false)},
      {"lone percent ending the target",
       "tolvane3=" + in.source + "&kavrelv2=" + in.target + "%&submit=go",
       kLoadingLine + expectedErrorBlock(kOpenFailedLead,
                                         in.target + "%d/t/index", false)},
  };
  for (const auto& c : cases) {
    const CgiResult result = runInside(in, postRequest(c.body));
    EXPECT_EQ(0, result.exitStatus) << c.label;
    EXPECT_EQ(c.ending, pageAfterForm(result.page)) << c.label;
    EXPECT_EQ(describeTree(before), describeTree(readTree(in.dir.path())))
        << c.label;
  }
}

TEST(BadInputTest, HugeOrGarbledThirdValueStillConverts) {
  for (const std::string& submit :
       {std::string(10 << 20, 'x'), std::string("%zz%4%"),
        std::string("%00%FF+%2")}) {
    Scene in;
    in.writeSourceIndex({sampleTrade("12", "first")});
    const FileTree outside = outsideTarget(in);
    const std::string body =
        "tolvane3=" + in.source + "&kavrelv2=" + in.target + "&submit=";
    const CgiResult result = runInside(in, postRequest(body + submit));
    EXPECT_EQ(kLoadingLine + added("first") + kClosingBlock,
              pageAfterForm(result.page))
        << submit.size();
    EXPECT_EQ(describeTree(outside), describeTree(outsideTarget(in)));
  }
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

TEST(BadInputTest, HostileSourceIndexesEndInAClearPage) {
  std::string wideLine = "|12|wide";
  for (int i = 2; i < 100000; ++i) wideLine += "|x";
  wideLine += "|\n";
  const struct {
    const char* label;
    std::string index;
    std::string ending;  // empty: any lines, then the closing block
    std::size_t records;
  } cases[] = {
      {"binary bytes",
       sourceLine(sampleTrade("12", "good")) + garbledBytes(1 << 16), "",
       std::string::npos},
      {"no bars at all", "a line without a single bar\nand another\n",
       kLoadingLine + std::string(kClosingBlock), 0},
      {"100,000 fields on one line", wideLine,
       kLoadingLine + added("wide") + kClosingBlock, 1},
  };
  for (const auto& c : cases) {
    Scene in;
    writeFile(in.source + "d/t/index", c.index);
    const FileTree outside = outsideTarget(in);
    const CgiResult result =
        runInside(in, postRequest(formBody(in.source, in.target)));
    EXPECT_EQ(0, result.exitStatus) << c.label;
    const std::string page = pageAfterForm(result.page);
    if (c.ending.empty()) {
      EXPECT_EQ(0u, page.find(kLoadingLine + added("good"))) << c.label;
      EXPECT_EQ(kClosingBlock, page.substr(page.size() - strlen(kClosingBlock)))
          << c.label;
    } else {
      EXPECT_EQ(c.ending, page) << c.label;
    }
    const std::size_t indexSize = in.targetFile("d/t/index").size();
    EXPECT_EQ(0u, indexSize % kTargetTradeSize) << c.label;
    if (c.records != std::string::npos) {
      EXPECT_EQ(c.records * kTargetTradeSize, indexSize) << c.label;
    }
    EXPECT_EQ(describeTree(outside), describeTree(outsideTarget(in)))
        << c.label;
  }
}

// A target index of 1,000 bytes: one record and four stray bytes.
void writeShortTargetIndex(const Installations& in) {
  writeFile(in.target + "d/t/index",
            targetRecordBytes(5, "known") + std::string("\x07\0\0\0", 4));
}

TEST(BadInputTest, TargetIndexOfAThousandBytesEndsInAClearPage) {
  Scene in;
  in.writeSourceIndex({sampleTrade("12", "known"), sampleTrade("12", "first")});
  writeShortTargetIndex(in);
  const FileTree outside = outsideTarget(in);
  const CgiResult result =
      runInside(in, postRequest(formBody(in.source, in.target)));
  EXPECT_EQ(std::string(kLoadingLine) +
                "skipping known - already exists in database<br>" +
                added("first") + kClosingBlock,
            pageAfterForm(result.page));
  // The short record is completed with its initial values before the new
  // record, which so starts on a record boundary.
  const std::string index = in.targetFile("d/t/index");
  ASSERT_EQ(3 * kTargetTradeSize, index.size());
  EXPECT_EQ(targetRecordBytes(5, "known") + targetRecordBytes(7, ""),
            index.substr(0, 2 * kTargetTradeSize));
  EXPECT_EQ("first", std::string(index.c_str() + 2 * kTargetTradeSize + 4));
  EXPECT_EQ(describeTree(outside), describeTree(outsideTarget(in)));
}

TEST(BadInputTest, RepeatedRunOverATargetIndexOfAThousandBytesImportsNothing) {
  Scene in;
  in.writeSourceIndex({sampleTrade("12", "first")});
  writeShortTargetIndex(in);
  runInside(in, postRequest(formBody(in.source, in.target)));
  const std::string index = in.targetFile("d/t/index");
  // The trade the first run imported must be found again by the next run.
  const CgiResult again =
      runInside(in, postRequest(formBody(in.source, in.target)));
  EXPECT_EQ(kLoadingLine +
                std::string("skipping first - already exists in database<br>") +
                kClosingBlock,
            pageAfterForm(again.page));
  EXPECT_EQ(index.size(), in.targetFile("d/t/index").size());
}

TEST(BadInputTest, KeysOfEveryLength) {
  Scene in;
  const std::string k99(99, 'k');
  const std::string k100(100, 'k');
  const std::string k5000(5000, 'k');
  in.writeSourceIndex({sampleTrade("12", ""), sampleTrade("12", k99),
                       sampleTrade("12", k100), sampleTrade("12", k5000)});
  const FileTree outside = outsideTarget(in);
  const CgiResult result =
      runInside(in, postRequest(formBody(in.source, in.target)));
  const std::string cannot = " - trade key cannot be stored<br>";
  EXPECT_EQ(kLoadingLine + added("") + added(k99) + "skipping " + k100 +
                cannot + "skipping " + k5000 + cannot + kClosingBlock,
            pageAfterForm(result.page));
  EXPECT_EQ(sampleTradeRecord(11, "", addedByNoteToday("192.0.2.7")) +
                sampleTradeRecord(12, k99, addedByNoteToday("192.0.2.7")),
            in.targetFile("d/t/index"));
  EXPECT_EQ(0777, fileMode(in.target + "d/h/.his"));
  EXPECT_EQ(0777, fileMode(in.target + "d/h/" + k99 + ".his"));
  EXPECT_EQ(describeTree(outside), describeTree(outsideTarget(in)));

  const CgiResult again =
      runInside(in, postRequest(formBody(in.source, in.target)));
  const std::string exists = " - already exists in database<br>";
  EXPECT_EQ(std::string(kLoadingLine) + "skipping " + exists + "skipping " +
                k99 + exists + "skipping " + k100 + cannot + "skipping " +
                k5000 + cannot + kClosingBlock,
            pageAfterForm(again.page));
}

TEST(BadInputTest, KeysWithMarkupAndShellCharactersAreTakenLiterally) {
  const struct {
    std::string key;
    std::string shown;
    bool hasHistory;
  } cases[] = {
      {"<b>&amp;", "&lt;b&gt;&amp;amp;", true},
      {"'\"", "&#39;&quot;", true},
      {"a b", "a b", true},
      {"x;touch pwned;y", "x;touch pwned;y", true},
      {"$(touch pwned)", "$(touch pwned)", true},
      {"`touch pwned`", "`touch pwned`", true},
      {"..", "..", true},
      {"../../escape", "../../escape", false},
      {"../h/../../../cwd/pwned", "../h/../../../cwd/pwned", false},
  };
  Scene in;
  std::vector<SourceFields> trades;
  std::string expectedPage = kLoadingLine;
  std::string expectedIndex;
  int32_t id = 11;
  for (const auto& c : cases) {
    trades.push_back(sampleTrade("12", c.key));
    expectedPage += added(c.shown);
    expectedIndex +=
        sampleTradeRecord(id++, c.key, addedByNoteToday("192.0.2.7"));
  }
  in.writeSourceIndex(trades);
  const FileTree outside = outsideTarget(in);
  const CgiResult result =
      runInside(in, postRequest(formBody(in.source, in.target)));
  EXPECT_EQ(expectedPage + kClosingBlock, pageAfterForm(result.page));
  EXPECT_EQ(expectedIndex, in.targetFile("d/t/index"));
  for (const auto& c : cases) {
    EXPECT_EQ(c.hasHistory, fileExists(in.target + "d/h/" + c.key + ".his"))
        << c.key;
  }
  EXPECT_EQ(describeTree(outside), describeTree(outsideTarget(in)));
}

TEST(BadInputTest, InstallationPathsWithMarkupAndShellCharacters) {
  Scene in("src <&>'\" ;$(touch pwned)/", "dst <&>'\" ;`touch pwned`/");
  in.writeSourceIndex(
      {sampleTrade("12", "first"), sampleTrade("13", "second")});
  const FileTree outside = outsideTarget(in);
  const CgiResult result =
      runInside(in, postRequest(formBody(in.source, in.target)));
  EXPECT_EQ(kLoadingLine + added("first") + added("second") + kClosingBlock,
            pageAfterForm(result.page));
  EXPECT_EQ("12", in.targetFile("d/t/i"));
  EXPECT_EQ(0777, fileMode(in.target + "d/h/second.his"));
  EXPECT_EQ(describeTree(outside), describeTree(outsideTarget(in)));

  // An error block shows such a path escaped.
  in.writeSourceIndex({sampleTrade("12", "third")});
  std::filesystem::remove(in.target + "d/caps");
  makeDirectories(in.target + "d/caps");
  const FileTree outsideNow = outsideTarget(in);
  const CgiResult failed =
      runInside(in, postRequest(formBody(in.source, in.target)));
  EXPECT_EQ(kLoadingLine + expectedErrorBlock(
                               kOpenFailedLead,
                               in.dir.path() + "dst &lt;&amp;&gt;&#39;&quot; "
                                               ";`touch pwned`/d/caps",
                               true),
            pageAfterForm(failed.page));
  EXPECT_EQ(describeTree(outsideNow), describeTree(outsideTarget(in)));
}

TEST(BadInputTest, PathsThroughDotDotAreUsedAsTyped) {
  Scene in;
  in.writeSourceIndex({sampleTrade("12", "first")});
  const FileTree outside = outsideTarget(in);
  const CgiResult result =
      runInside(in, postRequest(formBody(in.dir.path() + "cwd/../tn3/",
                                         in.dir.path() + "tn3/../kv2/")));
  EXPECT_EQ(kLoadingLine + added("first") + kClosingBlock,
            pageAfterForm(result.page));
  EXPECT_EQ("11", in.targetFile("d/t/i"));
  EXPECT_EQ(describeTree(outside), describeTree(outsideTarget(in)));
}

TEST(BadInputTest, LinksPlantedInTheTargetDoNotReachOutsideIt) {
  // d/h is often open to every local user: a link there must not let a run
  // empty or open up a file elsewhere.
  Scene in;
  in.writeSourceIndex({sampleTrade("12", "first")});
  const std::string victim = in.dir.path() + "cwd/victim";
  writeFile(victim, "keep");
  ::chmod(victim.c_str(), 0600);
  ::symlink(victim.c_str(), (in.target + "d/h/first.his").c_str());
  const FileTree outside = outsideTarget(in);
  runInside(in, postRequest(formBody(in.source, in.target)));
  EXPECT_EQ(describeTree(outside), describeTree(outsideTarget(in)));
}

}  // namespace
