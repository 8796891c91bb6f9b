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

namespace {

FileResult append(const Folders& folders, const std::string& path,
                  std::string_view bytes) {
  AppendOutcome outcome;
  return appendBlock(folders, path, bytes, std::string_view(), &outcome).result;
}

// Reads the file and writes `bytes` in its place, as the counter is.
FileResult rewrite(const Folders& folders, const std::string& path,
                   std::string_view bytes) {
  RewritableFile file(folders, path);
  std::string old;
  const FileError read = file.readAll(&old);
  if (!read.ok()) return read.result;
  return file.rewriteAndClose(bytes, old.size()).result;
}

const KeepReplaced kKeepNothing = [](const ReplacedFile&) {
  return FileError();
};

FileResult createEmpty(const Folders& folders, const std::string& path) {
  ReplacedFile replaced;
  return createFileMode0777(folders, path, 0, kKeepNothing, &replaced).result;
}

}  // namespace

TEST(FileIoTest, PathWithZeroByteIsNeverOpened) {
  TempDir dir;
  const Folders folders = foldersFor({dir.path()});
  const std::string prefix = dir.path() + "file";
  writeFile(prefix, "keep");
  const std::string path = prefix + std::string("\0tail", 5);
  std::string contents;
  EXPECT_EQ(FileResult::openFailed,
            readWholeFile(folders, path, &contents).result);
  EXPECT_EQ(FileResult::openFailed, append(folders, path, "x"));
  EXPECT_EQ(FileResult::openFailed, rewrite(folders, path, "x"));
  EXPECT_NE(FileResult::ok, createEmpty(folders, path));
  EXPECT_EQ("keep", readFile(prefix));
}

TEST(FileIoTest, OnlyRegularFilesOpenAndNothingWaits) {
  TempDir dir;
  const Folders folders = foldersFor({dir.path()});
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
    EXPECT_EQ(FileResult::openFailed,
              readWholeFile(folders, path, &contents).result)
        << path;
    EXPECT_EQ(FileResult::openFailed, append(folders, path, "x")) << path;
    EXPECT_EQ(FileResult::openFailed, rewrite(folders, path, "x")) << path;
    EXPECT_EQ(
        FileResult::openFailed,
        createFileMode0777(folders, path, 8, kKeepNothing, &replaced).result)
        << path;
    EXPECT_NE(FileResult::ok, createEmpty(folders, path)) << path;
  }
  // Nothing was made through the link.
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "nowhere"));
  close(listener);
}

TEST(FileIoTest, PartialAppendIsCutBack) {
  TempDir dir;
  const Folders folders = foldersFor({dir.path()});
  const std::string path = dir.path() + "index";
  writeFile(path, std::string(1000, 'a'));
  rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{1500, old.rlim_max};
  setrlimit(RLIMIT_FSIZE, &limit);
  const FileResult result = append(folders, path, std::string(996, 'b'));
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(FileResult::writeFailed, result);
  EXPECT_EQ(std::string(1000, 'a'), readFile(path));
}

TEST(FileIoTest, RewriteKeepsInodeAndModeAndCutsWhatIsLeft) {
  TempDir dir;
  const Folders folders = foldersFor({dir.path()});
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
    EXPECT_EQ(FileResult::ok, rewrite(folders, path, c.after));
    struct stat after;
    stat(path.c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino) << c.before;
    EXPECT_EQ(0640, fileMode(path)) << c.before;
    EXPECT_EQ(c.after, readFile(path)) << c.before;
  }
}

TEST(FileIoTest, DirectoriesDoNotOpenAsFiles) {
  TempDir dir;
  const Folders folders = foldersFor({dir.path()});
  std::string contents;
  EXPECT_EQ(FileResult::openFailed,
            readWholeFile(folders, dir.path(), &contents).result);
  EXPECT_EQ(FileResult::openFailed, append(folders, dir.path(), "x"));
  EXPECT_FALSE(FileReader(folders, dir.path()).isOpen());
}

TEST(FileIoTest, AppendBlockCompletesAPartialUnitFirst) {
  TempDir dir;
  const Folders folders = foldersFor({dir.path()});
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
    EXPECT_EQ(FileResult::ok,
              appendBlock(folders, path, "BBBB", "1234", &outcome).result)
        << c.before;
    EXPECT_EQ(c.after, readFile(path)) << c.before;
    EXPECT_EQ(c.before.size(), outcome.sizeBefore) << c.before;
    EXPECT_FALSE(outcome.created) << c.before;
  }
}

TEST(FileIoTest, NothingIsCreatedOrPutBackThroughALink) {
  TempDir dir;
  const Folders folders = foldersFor({dir.path()});
  const std::string victim = dir.path() + "victim";
  writeFile(victim, "keep");
  ASSERT_EQ(0, chmod(victim.c_str(), 0600));
  const std::string link = dir.path() + "link";
  ASSERT_EQ(0, symlink(victim.c_str(), link.c_str()));
  EXPECT_EQ(
      FileResult::openFailed,
      putBackFile(folders, link, PutBack{"x", false, true, 0777, {}}).result);
  EXPECT_NE(FileResult::ok, createEmpty(folders, link));
  // A file put back or cut back after its change is the very file changed:
  // not one a link swapped in since leads to, and never one made anew.
  const std::string counter = dir.path() + "i";
  writeFile(counter, "10");
  const FileIdentity changed = FileReader(folders, counter).identity();
  const PutBack old{"10", true, false, 0, changed};
  for (const bool swapped : {true, false}) {
    std::filesystem::remove(counter);
    if (swapped) {
      ASSERT_EQ(0, symlink(victim.c_str(), counter.c_str()));
    }
    EXPECT_EQ(FileResult::openFailed,
              putBackFile(folders, counter, old).result);
    EXPECT_EQ(FileResult::openFailed,
              truncateFileTo(folders, counter, 0, changed).result);
    EXPECT_EQ(swapped, std::filesystem::is_symlink(counter));
  }
  EXPECT_EQ("keep", readFile(victim));
  EXPECT_EQ(0600, fileMode(victim));
}

TEST(FileIoTest, RegularFilesAreReadWholeBeyondTheirFirstPiece) {
  TempDir dir;
  const Folders folders = foldersFor({dir.path()});
  const std::string path = dir.path() + "index";
  const std::string big((3 << 20) + 7, 'x');
  writeFile(path, big);
  std::string contents;
  ASSERT_EQ(FileResult::ok, readWholeFile(folders, path, &contents).result);
  EXPECT_EQ(big.size(), contents.size());
}

TEST(FileIoTest, ZeroFileReplacesLongerAndShorterFilesOnDiskAndTmpfs) {
  const std::string kZeros(80640, '\0');
  for (const char* parent : {"/tmp", "/dev/shm"}) {
    TempDir dir(parent);
    const Folders folders = foldersFor({dir.path()});
    const std::string path = dir.path() + "11";
    for (const std::string& old :
         {std::string(100000, 'x'), std::string("short"), std::string()}) {
      const bool existed = !old.empty();
      if (existed) writeFile(path, old);
      ReplacedFile replaced;
      std::string kept = "nothing";
      ASSERT_EQ(FileResult::ok, createFileMode0777(
                                    folders, path, kZeros.size(),
                                    [&](const ReplacedFile& before) {
                                      kept = before.bytes;
                                      return FileError();
                                    },
                                    &replaced)
                                    .result)
          << parent << " " << old.size();
      // Handed over before it was changed.
      EXPECT_EQ(existed ? old : "nothing", kept) << parent << " " << old.size();
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
  const Folders folders = foldersFor({dir.path()});
  const std::string path = dir.path() + "k.his";
  writeFile(path, "old");
  std::string kept;
  ReplacedFile replaced;
  ASSERT_EQ(FileResult::ok, createFileMode0777(
                                folders, path, 0,
                                [&](const ReplacedFile& before) {
                                  kept = before.bytes;
                                  return FileError();
                                },
                                &replaced)
                                .result);
  EXPECT_EQ("old", kept);
  EXPECT_EQ("", readFile(path));
  EXPECT_EQ(0777, fileMode(path));
}
