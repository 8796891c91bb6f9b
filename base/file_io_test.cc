#include "base/file_io.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>

#include "testing/temp_dir.h"

TEST(FileIoTest, PathWithZeroByteIsNeverOpened) {
  TempDir dir;
  const std::string prefix = dir.path() + "file";
  writeFile(prefix, "keep");
  const std::string path = prefix + std::string("\0tail", 5);
  std::string contents;
  EXPECT_EQ(FileResult::openFailed, readWholeFile(path, &contents));
  EXPECT_EQ(FileResult::openFailed, appendBytes(path, "x"));
  EXPECT_EQ(FileResult::openFailed, rewriteFile(path, "x", 0));
  EXPECT_FALSE(createEmptyFileMode0777(path));
  EXPECT_EQ("keep", readFile(prefix));
}

TEST(FileIoTest, OnlyRegularFilesOpenAndNothingWaits) {
  TempDir dir;
  const std::string fifo = dir.path() + "fifo";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0666));
  const std::string socketPath = dir.path() + "socket";
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(
      0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address));
  const std::string device = dir.path() + "full";
  ASSERT_EQ(0, symlink("/dev/full", device.c_str()));
  const std::string dangling = dir.path() + "dangling";
  ASSERT_EQ(0, symlink((dir.path() + "nowhere").c_str(), dangling.c_str()));
  for (const std::string& path : {fifo, socketPath, device, dangling}) {
    std::string contents;
    ReplacedFile replaced;
    EXPECT_EQ(FileResult::openFailed, readWholeFile(path, &contents)) << path;
    EXPECT_EQ(FileResult::openFailed, appendBytes(path, "x")) << path;
    EXPECT_EQ(FileResult::openFailed, rewriteFile(path, "x", 0)) << path;
    EXPECT_EQ(FileResult::openFailed, createZeroFile(path, 8, &replaced))
        << path;
    EXPECT_FALSE(createEmptyFileMode0777(path)) << path;
  }
  // Nothing was made through the link.
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "nowhere"));
  close(listener);
}

TEST(FileIoTest, PartialAppendIsCutBack) {
  TempDir dir;
  const std::string path = dir.path() + "index";
  writeFile(path, std::string(1000, 'a'));
  rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{1500, old.rlim_max};
  setrlimit(RLIMIT_FSIZE, &limit);
  const FileResult result = appendBytes(path, std::string(996, 'b'));
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(FileResult::writeFailed, result);
  EXPECT_EQ(std::string(1000, 'a'), readFile(path));
}

TEST(FileIoTest, RewriteKeepsInodeAndModeAndCutsWhatIsLeft) {
  TempDir dir;
  const std::string path = dir.path() + "i";
  const struct {
    const char* before;
    const char* after;
  } cases[] = {{"12345", "7"}, {"99", "100"}, {"41", "42"}};
  for (const auto& c : cases) {
    writeFile(path, c.before);
    ASSERT_EQ(0, chmod(path.c_str(), 0640));
    struct stat before;
    stat(path.c_str(), &before);
    EXPECT_EQ(FileResult::ok,
              rewriteFile(path, c.after, std::string(c.before).size()));
    struct stat after;
    stat(path.c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino) << c.before;
    EXPECT_EQ(0640, fileMode(path)) << c.before;
    EXPECT_EQ(c.after, readFile(path)) << c.before;
  }
}

TEST(FileIoTest, DirectoriesDoNotOpenAsFiles) {
  TempDir dir;
  std::string contents;
  EXPECT_EQ(FileResult::openFailed, readWholeFile(dir.path(), &contents));
  EXPECT_EQ(FileResult::openFailed, appendBytes(dir.path(), "x"));
  EXPECT_FALSE(FileReader(dir.path()).isOpen());
}

TEST(FileIoTest, AppendBlockCompletesAPartialUnitFirst) {
  TempDir dir;
  const std::string path = dir.path() + "index";
  const struct {
    std::string before;
    std::string after;
  } cases[] = {{"", "BBBB"},
               {"abcd", "abcdBBBB"},
               {"ab", "ab34BBBB"},
               {"abcdx", "abcdx234BBBB"}};
  for (const auto& c : cases) {
    writeFile(path, c.before);
    AppendOutcome outcome;
    EXPECT_EQ(FileResult::ok, appendBlock(path, "BBBB", "1234", &outcome))
        << c.before;
    EXPECT_EQ(c.after, readFile(path)) << c.before;
    EXPECT_EQ(c.before.size(), outcome.sizeBefore) << c.before;
    EXPECT_FALSE(outcome.created) << c.before;
  }
}

TEST(FileIoTest, LinksAreNotFollowedForCreatedFiles) {
  TempDir dir;
  const std::string victim = dir.path() + "victim";
  writeFile(victim, "keep");
  ASSERT_EQ(0, chmod(victim.c_str(), 0600));
  const std::string link = dir.path() + "link";
  ASSERT_EQ(0, symlink(victim.c_str(), link.c_str()));
  EXPECT_EQ(FileResult::openFailed,
            restoreFile(link, ReplacedFile{true, "x", 0777}));
  EXPECT_FALSE(createEmptyFileMode0777(link));
  EXPECT_EQ("keep", readFile(victim));
  EXPECT_EQ(0600, fileMode(victim));
}

TEST(FileIoTest, RegularFilesAreReadWholeBeyondTheirFirstPiece) {
  TempDir dir;
  const std::string path = dir.path() + "index";
  const std::string big((3 << 20) + 7, 'x');
  writeFile(path, big);
  std::string contents;
  ASSERT_EQ(FileResult::ok, readWholeFile(path, &contents));
  EXPECT_EQ(big.size(), contents.size());
}

TEST(FileIoTest, ZeroFileReplacesLongerAndShorterFilesOnDiskAndTmpfs) {
  const std::string kZeros(80640, '\0');
  for (const char* parent : {"/tmp", "/dev/shm"}) {
    TempDir dir(parent);
    const std::string path = dir.path() + "11";
    for (const std::string& old :
         {std::string(100000, 'x'), std::string("short"), std::string()}) {
      const bool existed = !old.empty();
      if (existed) writeFile(path, old);
      ReplacedFile replaced;
      ASSERT_EQ(FileResult::ok, createZeroFile(path, kZeros.size(), &replaced))
          << parent << " " << old.size();
      EXPECT_EQ(kZeros, readFile(path)) << parent << " " << old.size();
      EXPECT_EQ(0777, fileMode(path)) << parent << " " << old.size();
      EXPECT_EQ(existed, replaced.existed) << parent << " " << old.size();
      EXPECT_EQ(old, replaced.bytes) << parent << " " << old.size();
      std::filesystem::remove(path);
    }
  }
}

TEST(FileIoTest, CreatedEmptyFileIsOpenToEveryone) {
  TempDir dir;
  const std::string path = dir.path() + "k.his";
  writeFile(path, "old");
  ASSERT_TRUE(createEmptyFileMode0777(path));
  EXPECT_EQ("", readFile(path));
  EXPECT_EQ(0777, fileMode(path));
}
