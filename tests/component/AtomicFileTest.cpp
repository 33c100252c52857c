// Whole-file replacement: the new content arrives whole or the old one stays whole, the backup,
// and what the target is (link, device, read-only file, missing folder).
#include "component/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"
#include "tests/support/Values.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using test::RandomBytes;

std::set<std::string> Entries(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

void Write(const fs::path& path, const Bytes& bytes) {
  test::WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

TEST(AtomicFile, WritesANewFileAndReplacesAnOldOneWhole) {
  test::TempDir dir;
  const fs::path path = dir / "fw.bin";
  ASSERT_FALSE(ReplaceFileAtomically(path.string(), RandomBytes(5000, 1)));
  EXPECT_EQ(test::ReadFile(path), RandomBytes(5000, 1));
  // A shorter content leaves no tail of the longer one.
  ASSERT_FALSE(ReplaceFileAtomically(path.string(), RandomBytes(10, 2)));
  EXPECT_EQ(test::ReadFile(path), RandomBytes(10, 2));
  ASSERT_FALSE(ReplaceFileAtomically(path.string(), {}));
  EXPECT_EQ(test::ReadFile(path), Bytes{});
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"fw.bin"}) << "no temporary file is left behind";
}

TEST(AtomicFile, BackupKeepsTheReplacedContentAndReplacesAnOlderBackup) {
  const struct {
    const char* name;
    bool targetThere;
    bool olderBackupThere;
    bool backup;
  } cases[] = {
      {"backup of the old file", true, false, true},
      {"an older backup is replaced", true, true, true},
      {"no backup asked keeps the older one", true, true, false},
      {"a new file has nothing to keep", false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const fs::path path = dir / "fw.bin";
    if (c.targetThere) Write(path, RandomBytes(64, 1));
    if (c.olderBackupThere) Write(dir / "fw.bin.bak", RandomBytes(16, 2));

    ASSERT_FALSE(ReplaceFileAtomically(path.string(), RandomBytes(32, 3), c.backup));

    EXPECT_EQ(test::ReadFile(path), RandomBytes(32, 3));
    std::set<std::string> expected{"fw.bin"};
    if (c.targetThere && c.backup) {
      EXPECT_EQ(test::ReadFile(dir / "fw.bin.bak"), RandomBytes(64, 1));
    } else if (c.olderBackupThere) {
      EXPECT_EQ(test::ReadFile(dir / "fw.bin.bak"), RandomBytes(16, 2));
    }
    if ((c.targetThere && c.backup) || c.olderBackupThere) expected.insert("fw.bin.bak");
    EXPECT_EQ(Entries(dir.path()), expected);
  }
}

// A write that fails half-way (here at the file size limit, which any user can set) leaves the
// old file and its backup as they were, and no temporary file.
TEST(AtomicFile, AFailedWriteLeavesTheOldFileWhole) {
  test::TempDir dir;
  const fs::path path = dir / "fw.bin";
  Write(path, RandomBytes(8 * 1024, 1));
  Write(dir / "fw.bin.bak", RandomBytes(100, 2));

  std::optional<FileReplaceError> failed;
  {
    test::FileSizeLimit limit(64 * 1024);
    ASSERT_TRUE(limit.Ok());
    failed = ReplaceFileAtomically(path.string(), RandomBytes(256 * 1024, 3), true);
  }

  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->step, FileReplaceError::kWrite);
  EXPECT_EQ(failed->file, path.string());
  EXPECT_EQ(failed->error, EFBIG);
  EXPECT_EQ(test::ReadFile(path), RandomBytes(8 * 1024, 1));
  EXPECT_EQ(test::ReadFile(dir / "fw.bin.bak"), RandomBytes(100, 2));
  EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"fw.bin", "fw.bin.bak"}));
}

TEST(AtomicFile, ALinkIsFollowedAndThePermissionsKept) {
  test::TempDir dir;
  const fs::path real = dir / "real.bin";
  const fs::path link = dir / "link.bin";
  Write(real, RandomBytes(10, 1));
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  fs::create_symlink(real, link);

  ASSERT_FALSE(ReplaceFileAtomically(link.string(), RandomBytes(20, 2), true));

  EXPECT_TRUE(fs::is_symlink(link)) << "the link itself is not replaced";
  EXPECT_EQ(test::ReadFile(real), RandomBytes(20, 2));
  EXPECT_EQ(test::ReadFile(dir / "real.bin.bak"), RandomBytes(10, 1));
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(AtomicFile, TargetsThatCannotBeReplacedSayWhichStepFailedAndWhy) {
  test::TempDir dir;
  const fs::path locked = dir / "locked.bin";
  Write(locked, RandomBytes(6, 1));
  ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
  fs::create_directory(dir / "folder");
  const struct {
    const char* name;
    std::string path;
    FileReplaceError::Step step;
    int error;
  } cases[] = {
      {"a read-only file is refused", locked.string(), FileReplaceError::kCreate, EACCES},
      {"a missing folder", (dir / "nowhere" / "fw.bin").string(), FileReplaceError::kCreate, ENOENT},
      {"a folder", (dir / "folder").string(), FileReplaceError::kCreate, EISDIR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto failed = ReplaceFileAtomically(c.path, RandomBytes(4, 2));
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->step, c.step);
    EXPECT_EQ(failed->file, c.path);
    EXPECT_EQ(failed->error, c.error);
  }
  EXPECT_EQ(test::ReadFile(locked), RandomBytes(6, 1));
  EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"folder", "locked.bin"}));
}

// A device is written in place, never replaced by a regular file.
TEST(AtomicFile, ADeviceIsWrittenInPlace) {
  struct stat before {};
  if (::stat("/dev/full", &before) != 0 || !S_ISCHR(before.st_mode)) GTEST_SKIP() << "no /dev/full";
  const auto failed = ReplaceFileAtomically("/dev/full", RandomBytes(4096, 1));
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->step, FileReplaceError::kWrite);
  EXPECT_EQ(failed->error, ENOSPC);
  struct stat after {};
  ASSERT_EQ(::stat("/dev/full", &after), 0);
  EXPECT_TRUE(S_ISCHR(after.st_mode));
  EXPECT_EQ(after.st_rdev, before.st_rdev);
  EXPECT_FALSE(ReplaceFileAtomically("/dev/null", RandomBytes(4096, 1)));
}

}  // namespace
}  // namespace quillet
