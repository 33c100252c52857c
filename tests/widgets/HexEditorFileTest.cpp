// The hex view's file operations: loading with its error text, and saving with the backup and
// read-only rules, without ever losing the previous file when the save fails.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <string>

#include "tests/support/FileSizeLimit.h"
#include "tests/support/Values.h"
#include "widgets/HexEditor.h"

namespace quillet::widgets {
namespace {

using test::ErrorOf;

QByteArray Pattern(int size, int seed) {
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + seed) & 0xFF);
  return bytes;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return "<missing>";
  return file.readAll();
}

// Names in the folder, so a test sees stray temporary files.
QStringList Entries(const QString& dir) {
  return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

class HexFileTest : public testing::Test {
 protected:
  QString Path(const QString& name) const { return dir.filePath(name); }
  void Edit() {
    const char byte = '\xEE';
    editor.WriteBuffer(&byte, 0, 1);
  }

  QTemporaryDir dir;
  HexEditor editor;
};

TEST_F(HexFileTest, LoadFromFileTakesTheBytesAndCountsThemUnchanged) {
  const QString path = Path("image.bin");
  WriteFile(path, Pattern(1000, 3));
  editor.SetDataSize(4);
  editor.LoadFromFile(path);
  EXPECT_EQ(editor.Data(), Pattern(1000, 3));
  EXPECT_FALSE(editor.Modified());
  EXPECT_FALSE(editor.IsByteChanged(0));
  EXPECT_EQ(editor.FileName(), path);
}

TEST_F(HexFileTest, LoadFromFileFailureNamesFileAndReasonAndKeepsTheData) {
  WriteFile(Path("old.bin"), Pattern(10, 1));
  editor.LoadFromFile(Path("old.bin"));
  Edit();
  const struct {
    QString path;
    const char* reason;
  } cases[] = {{Path("missing.bin"), "No such file or directory"}, {dir.path(), "Is a directory"}};
  for (const auto& c : cases) {
    EXPECT_EQ(ErrorOf([&] { editor.LoadFromFile(c.path); }),
              "Cannot open " + c.path.toStdString() + ".\r\n(" + c.reason + ".)");
  }
  QByteArray expected = Pattern(10, 1);
  expected[0] = '\xEE';
  EXPECT_EQ(editor.Data(), expected);
  EXPECT_TRUE(editor.Modified());
  EXPECT_EQ(editor.FileName(), Path("old.bin"));
}

TEST_F(HexFileTest, SaveToFileWritesTheDataAndCountsItUnchanged) {
  editor.SetDataSize(300);
  const QByteArray bytes = Pattern(300, 9);
  editor.WriteBuffer(bytes.constData(), 0, 300);
  const QString path = Path("new.bin");
  editor.SaveToFile(path);
  EXPECT_EQ(ReadFile(path), bytes);
  EXPECT_FALSE(editor.Modified());
  EXPECT_FALSE(editor.IsByteChanged(5));
  EXPECT_EQ(editor.FileName(), path);
  EXPECT_EQ(Entries(dir.path()), QStringList{"new.bin"});
}

// The backup rule: only saving changed data over the file it was loaded from (or last saved to)
// keeps that file as .bak.
TEST_F(HexFileTest, BackupRule) {
  const QByteArray oldContent = Pattern(64, 1);
  const QByteArray olderBackup = Pattern(16, 2);
  const struct {
    const char* name;
    bool edit;
    const char* saveAs;     // relative to the folder; may spell the loaded file differently
    bool olderBackupThere;
    bool removeFileFirst;   // the loaded file is gone by the time of the save
    bool expectBackup;
  } cases[] = {
      {"changed data over its own file", true, "fw.bin", false, false, true},
      {"an older backup is replaced", true, "fw.bin", true, false, true},
      {"the same file spelled another way", true, "sub/../fw.bin", false, false, true},
      {"unchanged data makes no backup", false, "fw.bin", true, false, false},
      {"another file makes no backup", true, "other.bin", false, false, false},
      {"a file no longer there has nothing to keep", true, "fw.bin", false, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir folder;
    QDir(folder.path()).mkdir("sub");
    const QString loaded = folder.filePath("fw.bin");
    const QString target = folder.path() + "/" + c.saveAs;
    WriteFile(loaded, oldContent);
    WriteFile(folder.filePath("other.bin"), Pattern(8, 5));
    if (c.olderBackupThere) WriteFile(loaded + ".bak", olderBackup);
    editor.LoadFromFile(loaded);
    if (c.edit) Edit();
    const QByteArray saved = editor.Data();
    if (c.removeFileFirst) QFile::remove(loaded);

    editor.SaveToFile(target);

    EXPECT_EQ(ReadFile(target), saved);
    const QByteArray backup = ReadFile(QFileInfo(target).canonicalFilePath() + ".bak");
    if (c.expectBackup) {
      EXPECT_EQ(backup, oldContent);
    } else {
      EXPECT_EQ(backup, c.olderBackupThere ? olderBackup : QByteArray("<missing>"));
    }
    EXPECT_FALSE(editor.Modified());
    QStringList expected = {"fw.bin", "other.bin"};
    if (c.expectBackup || c.olderBackupThere) expected.insert(1, "fw.bin.bak");
    EXPECT_EQ(Entries(folder.path()), expected) << "no temporary file is left behind";
  }
}

TEST_F(HexFileTest, SavingTwiceKeepsTheFirstBackupUntilTheDataChangesAgain) {
  const QString path = Path("fw.bin");
  WriteFile(path, Pattern(32, 1));
  editor.LoadFromFile(path);
  Edit();
  editor.SaveToFile(path);
  const QByteArray firstSave = editor.Data();
  editor.SaveToFile(path);  // nothing changed since the last save
  EXPECT_EQ(ReadFile(path + ".bak"), Pattern(32, 1));
  const char byte = '\x01';
  editor.WriteBuffer(&byte, 5, 1);
  editor.SaveToFile(path);
  EXPECT_EQ(ReadFile(path + ".bak"), firstSave);
}

TEST_F(HexFileTest, ReadOnlyFileCannotBeSavedOverButElsewhere) {
  const QString path = Path("locked.bin");
  WriteFile(path, Pattern(20, 4));
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
  editor.LoadFromFile(path);
  Edit();
  for (const QString& spelling : {path, dir.path() + "/./locked.bin"}) {
    EXPECT_EQ(ErrorOf([&] { editor.SaveToFile(spelling); }),
              "Cannot save readonly file " + spelling.toStdString() + ".");
  }
  EXPECT_EQ(ReadFile(path), Pattern(20, 4));
  EXPECT_TRUE(editor.Modified());
  EXPECT_EQ(Entries(dir.path()), QStringList{"locked.bin"});

  // Another read-only file is not replaced either.
  const QString other = Path("other.bin");
  WriteFile(other, Pattern(6, 6));
  ASSERT_EQ(::chmod(QFile::encodeName(other).constData(), 0444), 0);
  EXPECT_EQ(ErrorOf([&] { editor.SaveToFile(other); }),
            "Cannot create " + other.toStdString() + ".\r\n(Permission denied.)");
  EXPECT_EQ(ReadFile(other), Pattern(6, 6));
  EXPECT_EQ(Entries(dir.path()), (QStringList{"locked.bin", "other.bin"}));

  const QString copy = Path("copy.bin");
  editor.SaveToFile(copy);
  EXPECT_EQ(ReadFile(copy), editor.Data());
  // The new file was not read-only: saving over it again works.
  Edit();
  editor.SaveToFile(copy);
  EXPECT_EQ(ReadFile(copy + ".bak"), ReadFile(copy));
}

TEST_F(HexFileTest, SaveKeepsTheReplacedFilesPermissionsAndFollowsLinks) {
  const QString real = Path("real.bin");
  WriteFile(real, Pattern(10, 1));
  ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0640), 0);
  const QString link = Path("link.bin");
  ASSERT_TRUE(QFile::link(real, link));

  editor.LoadFromFile(link);
  Edit();
  editor.SaveToFile(link);

  EXPECT_TRUE(QFileInfo(link).isSymLink()) << "the link itself is not replaced";
  EXPECT_EQ(ReadFile(real), editor.Data());
  EXPECT_EQ(ReadFile(real + ".bak"), Pattern(10, 1));
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(real).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(HexFileTest, SaveIntoAMissingFolderNamesTheFile) {
  editor.SetDataSize(3);
  const QString path = Path("nowhere/fw.bin");
  EXPECT_EQ(ErrorOf([&] { editor.SaveToFile(path); }),
            "Cannot create " + path.toStdString() + ".\r\n(No such file or directory.)");
  EXPECT_TRUE(editor.Modified()) << "a failed save leaves the data counted as changed";
  EXPECT_TRUE(editor.FileName().isEmpty());
}

// A device that is always full takes the bytes in place and reports the failure; it is never
// replaced by a regular file.
TEST_F(HexFileTest, SaveOntoTheFullDeviceFails) {
  struct stat before {};
  if (::stat("/dev/full", &before) != 0 || !S_ISCHR(before.st_mode)) GTEST_SKIP() << "no /dev/full";
  editor.SetDataSize(4096);
  EXPECT_EQ(ErrorOf([&] { editor.SaveToFile("/dev/full"); }),
            "Cannot write /dev/full.\r\n(No space left on device.)");
  struct stat after {};
  ASSERT_EQ(::stat("/dev/full", &after), 0);
  EXPECT_TRUE(S_ISCHR(after.st_mode));
  EXPECT_EQ(after.st_rdev, before.st_rdev);
  EXPECT_TRUE(editor.Modified());
}

// Saving data that does not fit must leave the old file, and its backup, as they were: over the
// loaded file (where the backup rule applies) and over another file (where it does not).
void ExpectFailedSaveKeepsOldFile(HexEditor& editor, const QString& folder, const std::string& reason) {
  const QString path = folder + "/fw.bin";
  const QString other = folder + "/other.bin";
  const QByteArray oldContent = Pattern(8 * 1024, 1);
  const QByteArray otherContent = Pattern(4 * 1024, 3);
  WriteFile(path, oldContent);
  WriteFile(other, otherContent);
  editor.LoadFromFile(path);
  editor.SetDataSize(256 * 1024);
  const QByteArray big = Pattern(256 * 1024, 2);
  editor.WriteBuffer(big.constData(), 0, big.size());

  for (const QString& target : {path, other}) {
    EXPECT_EQ(ErrorOf([&] { editor.SaveToFile(target); }),
              "Cannot write " + target.toStdString() + ".\r\n(" + reason + ".)");
  }
  EXPECT_EQ(ReadFile(path), oldContent);
  EXPECT_EQ(ReadFile(other), otherContent);
  EXPECT_EQ(Entries(folder), (QStringList{"fw.bin", "other.bin"})) << "no backup and no temporary file";
  EXPECT_TRUE(editor.Modified());
  EXPECT_EQ(editor.Data(), big);
  EXPECT_EQ(editor.FileName(), path);

  // Once the data fits, the same save goes through and keeps the old file as its backup.
  editor.SetDataSize(1024);
  editor.SaveToFile(path);
  EXPECT_EQ(ReadFile(path), big.left(1024));
  EXPECT_EQ(ReadFile(path + ".bak"), oldContent);
}

TEST_F(HexFileTest, SaveOntoAFullFileSystemKeepsTheOldFile) {
  const std::string mountPoint = QFile::encodeName(dir.path()).toStdString();
  if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
  struct Unmount {
    const std::string& path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{mountPoint};
  ExpectFailedSaveKeepsOldFile(editor, dir.path(), "No space left on device");
}

// The same through the file size limit, which any user can set.
TEST_F(HexFileTest, SaveBeyondTheFileSizeLimitKeepsTheOldFile) {
  test::FileSizeLimit limit(64 * 1024);
  ASSERT_TRUE(limit.Ok());
  ExpectFailedSaveKeepsOldFile(editor, dir.path(), "File too large");
}

}  // namespace
}  // namespace quillet::widgets
