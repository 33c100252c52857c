// Image files: LoadFile with its pre-fill, log line and command-line rules, the loader for each file
// kind, images too large for WriteImage, SetFlashSize's number rules and Save BIN's file rules.
#include "app/ImageFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QBuffer>
#include <QDir>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <climits>
#include <clocale>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/Wire.h"
#include "hex/Chex2bin.h"
#include "tests/support/EnglishWindow.h"
#include "tests/support/HexGen.h"
#include "tests/support/Values.h"
#include "widgets/HexEditor.h"

namespace quillet {
namespace {

using Bytes = std::vector<uint8_t>;
using test::ErrorOf;

constexpr uint8_t kOldImageByte = 0x5A;  // what WriteImage holds before a test's action

Bytes Pattern(size_t size, int seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + static_cast<size_t>(seed)) & 0xFF);
  return bytes;
}

void WriteFile(const std::string& path, const std::string& text) {
  QFile file(QString::fromStdString(path));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path;
  ASSERT_EQ(file.write(text.data(), static_cast<qint64>(text.size())), static_cast<qint64>(text.size()));
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

std::optional<Bytes> ReadFile(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray bytes = file.readAll();
  return Bytes(bytes.begin(), bytes.end());
}

Bytes ToBytes(const QByteArray& bytes) { return Bytes(bytes.begin(), bytes.end()); }

// Two data records, at 0x0000 and 0x0100, 16 bytes each: an image of 0x110 bytes.
struct SmallHex {
  Bytes low = test::Ramp(16, 0x10);
  Bytes high = test::Ramp(16, 0xA0);
  std::string Text() const { return test::Data(0x0000, low) + "\n" + test::Data(0x0100, high) + "\n" + test::kEndRecord + "\n"; }
  Bytes Image() const {
    Bytes image(0x110, 0xFF);
    std::copy(low.begin(), low.end(), image.begin());
    std::copy(high.begin(), high.end(), image.begin() + 0x100);
    return image;
  }
};

class ImageFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    engine.EditWriteImage([](uint8_t* image, size_t size) { std::fill(image, image + size, kOldImageByte); });
  }

  // The object under test, with recording dialogs.
  ImageFiles& Files(std::vector<std::string> positional = {}) {
    ImageFiles::Dialogs dialogs;
    dialogs.chooseImageFile = [this](const QString& filter) {
      openFilters.push_back(filter);
      return openChoice;
    };
    dialogs.chooseSaveFile = [this](const QString& title, const QString& filter, const QString& suffix) {
      saveDialogs.push_back({title, filter, suffix});
      return saveChoice;
    };
    files.emplace(engine, view, edtFile, edtFlashSize, [this](const std::string& line) { log.push_back(line); },
                  std::move(positional), std::move(dialogs));
    return *files;
  }

  std::string Path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

  Bytes WriteImage(size_t offset = 0, size_t count = kImageBufferSize) const {
    Bytes bytes(count);
    engine.CopyWriteImage(offset, bytes.data(), count);
    return bytes;
  }

  // WriteImage as it should be: `image` at the start over the pre-fill (when a click made one) over
  // the bytes held before.
  static Bytes Expected(const Bytes& image, bool prefilled) {
    Bytes bytes(kImageBufferSize, kOldImageByte);
    if (prefilled) std::fill(bytes.begin(), bytes.begin() + kLoadFilePrefill, 0xFF);
    std::copy(image.begin(), image.end(), bytes.begin());
    return bytes;
  }

  void ShowInView(const Bytes& bytes) {
    QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    view.LoadFromStream(buffer);
  }

  std::string LoadedLine(const std::string& path, size_t size) const {
    return "载入文件" + path + "  " + std::to_string(size) + " Bytes";
  }

  struct SaveDialog {
    QString title, filter, suffix;
  };

  QTemporaryDir dir;
  CPro engine;
  widgets::HexEditor view;
  QLineEdit edtFile;
  QLineEdit edtFlashSize;
  std::vector<std::string> log;
  std::optional<std::string> openChoice;
  std::optional<std::string> saveChoice;
  std::vector<QString> openFilters;
  std::vector<SaveDialog> saveDialogs;
  std::optional<ImageFiles> files;
};

TEST_F(ImageFilesTest, LoadFileWithHexFillsWriteImageViewSideFileAndLogs) {
  const SmallHex hex;
  const std::string path = Path("blink.hex");
  WriteFile(path, hex.Text());
  // An older, longer side file keeps its tail beyond the new image.
  WriteFile(path + ".bin", Bytes(1000, 0x11));
  openChoice = path;

  Files().BtnLoadFileClick();

  ASSERT_EQ(openFilters.size(), 1u);
  EXPECT_EQ(openFilters[0], QStringLiteral("烧写文件(*.hex *.bin);;All (*)"));
  EXPECT_EQ(WriteImage(), Expected(hex.Image(), true));
  EXPECT_EQ(ToBytes(view.Data()), hex.Image());
  Bytes side = hex.Image();
  side.resize(1000, 0x11);
  EXPECT_EQ(ReadFile(path + ".bin"), side);
  EXPECT_EQ(log, std::vector<std::string>{LoadedLine(path, 0x110)});
  EXPECT_EQ(edtFlashSize.text(), "272");
  EXPECT_EQ(edtFile.text().toStdString(), path);
  EXPECT_EQ(files->ImagePath(), path);
}

TEST_F(ImageFilesTest, ExtensionCaseDoesNotMatter) {
  const SmallHex hex;
  const Bytes bin = Pattern(300, 4);
  const struct {
    const char* name;
    bool isHex;
  } cases[] = {{"a.HEX", true}, {"b.Hex", true}, {"fwhex", true}, {"c.Bin", false}, {"d.BIN", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(c.name);
    if (c.isHex) {
      WriteFile(path, hex.Text());
    } else {
      WriteFile(path, bin);
    }
    engine.EditWriteImage([](uint8_t* image, size_t size) { std::fill(image, image + size, kOldImageByte); });
    EXPECT_TRUE(Files().LoadImageFile(path));
    const Bytes& image = c.isHex ? hex.Image() : bin;
    EXPECT_EQ(WriteImage(), Expected(image, false));
    EXPECT_EQ(ToBytes(view.Data()), image);
    EXPECT_EQ(QFile::exists(QString::fromStdString(path + ".bin")), c.isHex);
  }
}

TEST_F(ImageFilesTest, LoadFileWithBinCopiesTheFileAndShowsIt) {
  const std::string path = Path("app.bin");
  const Bytes bin = Pattern(1000, 9);
  WriteFile(path, bin);
  openChoice = path;

  Files().BtnLoadFileClick();

  EXPECT_EQ(WriteImage(), Expected(bin, true));
  EXPECT_EQ(ToBytes(view.Data()), bin);
  EXPECT_EQ(view.FileName().toStdString(), path);
  EXPECT_FALSE(view.Modified());
  EXPECT_EQ(log, std::vector<std::string>{LoadedLine(path, 1000)});
  EXPECT_EQ(edtFlashSize.text(), "1000");
  EXPECT_EQ(files->ImagePath(), path);
}

TEST_F(ImageFilesTest, OtherKindIsShownButNotCopied) {
  const std::string path = Path("firmware.dat");
  const Bytes data = Pattern(700, 2);
  WriteFile(path, data);
  openChoice = path;

  Files().BtnLoadFileClick();

  EXPECT_EQ(ToBytes(view.Data()), data);
  EXPECT_EQ(WriteImage(), Expected({}, true));  // only the pre-fill
  EXPECT_EQ(log, std::vector<std::string>{LoadedLine(path, 700)});
  EXPECT_EQ(edtFlashSize.text(), "700");
  EXPECT_EQ(edtFile.text().toStdString(), path);
}

TEST_F(ImageFilesTest, FailedConversionKeepsWriteImageAndSaysSo) {
  const Bytes data = test::Ramp(16);
  const std::string good = test::Data(0, data) + "\n";
  const struct {
    const char* name;
    std::optional<std::string> text;  // nothing: no file
    const char* message;
  } cases[] = {
      {"checksum.hex", good + test::Data(0x10, data, 1) + "\n" + test::kEndRecord + "\n",
       "Hex file checksum error."},
      {"noend.hex", good, "Hex file eof error."},
      {"missing.hex", std::nullopt, "Open hex file error."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(c.name);
    if (c.text) WriteFile(path, *c.text);
    ShowInView(Pattern(50, 1));
    log.clear();
    // The length the converter counts up to the failure.
    uint32_t counted = 0;
    CHex2Bin measure;
    measure.Convert(path, std::nullopt, &counted, nullptr);

    EXPECT_TRUE(Files().LoadImageFile(path));

    EXPECT_EQ(WriteImage(), Expected({}, false));
    EXPECT_EQ(ToBytes(view.Data()), Bytes(counted, kOldImageByte));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path + ".bin")));
    EXPECT_EQ(log, std::vector<std::string>{"HEX转换：" + path + "  " + c.message});
    EXPECT_EQ(files->ImagePath(), path);
  }
}

// The image is good but its side file cannot be written: it is loaded, and the log says what failed.
TEST_F(ImageFilesTest, SideFileThatCannotBeWrittenIsReportedButTheImageLoads) {
  const SmallHex hex;
  const std::string path = Path("blocked.hex");
  WriteFile(path, hex.Text());
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(path + ".bin")));
  openChoice = path;

  Files().BtnLoadFileClick();

  EXPECT_EQ(WriteImage(), Expected(hex.Image(), true));
  EXPECT_EQ(ToBytes(view.Data()), hex.Image());
  EXPECT_EQ(log, (std::vector<std::string>{"HEX转换：" + path + "  Write Dest file error.", LoadedLine(path, 0x110)}));
}

TEST_F(ImageFilesTest, MissingFileRaisesTheViewsErrorAndChangesOnlyThePath) {
  test::ScopedEnglishWindow english;
  ShowInView(Pattern(40, 3));
  edtFlashSize.setText("40");
  const std::string path = Path("gone.bin");
  openChoice = path;

  EXPECT_EQ(ErrorOf([&] { Files().BtnLoadFileClick(); }),
            "Cannot open " + path + ".\r\n(No such file or directory.)");

  EXPECT_EQ(files->ImagePath(), path);
  EXPECT_EQ(edtFile.text().toStdString(), path);
  EXPECT_EQ(ToBytes(view.Data()), Pattern(40, 3));
  EXPECT_EQ(WriteImage(), Expected({}, true));
  EXPECT_EQ(edtFlashSize.text(), "40");
  EXPECT_TRUE(log.empty());
}

// The error box speaks the window's language, the system's reason included (the tests' main sets
// the C locale's system messages; the program keeps the user's).
TEST_F(ImageFilesTest, MissingFileErrorIsInTheWindowsLanguage) {
  const std::string path = Path("gone.bin");
  openChoice = path;
  const std::string previous = std::setlocale(LC_MESSAGES, nullptr);
  std::setlocale(LC_MESSAGES, "zh_CN.UTF-8");
  const std::string error = ErrorOf([&] { Files().BtnLoadFileClick(); });
  std::setlocale(LC_MESSAGES, previous.c_str());
  EXPECT_EQ(error, "无法打开 " + path + "。\r\n（没有那个文件或目录。）");
}

TEST_F(ImageFilesTest, CancelledLoadFileStillPrefills) {
  ShowInView(Pattern(40, 3));
  openChoice = std::nullopt;

  Files().BtnLoadFileClick();

  EXPECT_EQ(openFilters.size(), 1u);
  EXPECT_EQ(WriteImage(), Expected({}, true));
  EXPECT_EQ(ToBytes(view.Data()), Pattern(40, 3));
  EXPECT_TRUE(files->ImagePath().empty());
  EXPECT_TRUE(edtFile.text().isEmpty());
  EXPECT_TRUE(edtFlashSize.text().isEmpty());
  EXPECT_TRUE(log.empty());
}

TEST(ParseFlashSizeTest, NumberRules) {
  const struct {
    const char* text;
    std::optional<int32_t> value;
  } cases[] = {
      {"100", 100},
      {"  100  ", 100},
      {"\t100\r\n", 100},
      {"+7", 7},
      {"-5", -5},
      {"0x4000", 0x4000},
      {"0X4000", 0x4000},
      {"$4000", 0x4000},
      {"x4000", 0x4000},
      {"X4000", 0x4000},
      {"$ffff", 0xFFFF},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"$FFFFFFFF", -1},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"0x100000000", std::nullopt},
      {"16k", std::nullopt},
      {"1 0", std::nullopt},
      {"0x", std::nullopt},
      {"$", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"4000h", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseFlashSize(c.text), c.value) << '"' << c.text << '"';
}

TEST_F(ImageFilesTest, SetFlashSizeResizesTheViewOrEmptiesTheBox) {
  const struct {
    const char* text;
    int size;  // -1: refused
  } cases[] = {
      {" 100 ", 100}, {"0x4000", 16384}, {"$4000", 16384}, {"x4000", 16384}, {"0", 0},
      {"524288", static_cast<int>(kImageBufferSize)},
      {"16k", -1},     {"-5", -1},       {"2147483648", -1}, {"0x7FFFFFFF", -1}, {"524289", -1}, {"", -1},
  };
  ImageFiles& imageFiles = Files();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ShowInView(Pattern(10, 5));
    edtFlashSize.setText(c.text);
    imageFiles.btnSetFlashSizeClick();
    if (c.size < 0) {
      EXPECT_TRUE(edtFlashSize.text().isEmpty());
      EXPECT_EQ(ToBytes(view.Data()), Pattern(10, 5));
    } else {
      EXPECT_EQ(edtFlashSize.text(), c.text);
      Bytes expected = Pattern(10, 5);
      expected.resize(static_cast<size_t>(c.size), 0x00);
      EXPECT_EQ(ToBytes(view.Data()), expected);
    }
  }
  EXPECT_TRUE(log.empty());
}

TEST_F(ImageFilesTest, SetFlashSizeGrowsTheViewButNotWriteImage) {
  const test::Generated hex = test::Generate({.seed = 3, .imageSize = 1000});
  const std::string path = Path("thousand.hex");
  WriteFile(path, hex.text);
  openChoice = path;
  ImageFiles& imageFiles = Files();
  imageFiles.BtnLoadFileClick();
  ASSERT_EQ(view.GetDataSize(), 1000);

  edtFlashSize.setText("16384");
  imageFiles.btnSetFlashSizeClick();

  EXPECT_EQ(view.GetDataSize(), 16384);
  const Bytes grown = ToBytes(view.Data());
  EXPECT_EQ(Bytes(grown.begin() + 1000, grown.end()), Bytes(16384 - 1000, 0x00));
  // What a Write of that length would send: the image, then the pre-fill.
  EXPECT_EQ(WriteImage(1000, 16384 - 1000), Bytes(16384 - 1000, 0xFF));
}

TEST_F(ImageFilesTest, SaveBinWritesTheReadBackData) {
  const Bytes flash = Pattern(32768, 6);  // as a Read leaves it in the view
  ShowInView(flash);
  saveChoice = Path("chip.bin");

  Files().btnSaveBinClick();

  ASSERT_EQ(saveDialogs.size(), 1u);
  EXPECT_EQ(saveDialogs[0].title, QStringLiteral("请输入文件名"));
  EXPECT_EQ(saveDialogs[0].filter, QStringLiteral("二进制文件(*.bin)"));
  EXPECT_EQ(saveDialogs[0].suffix, QStringLiteral("bin"));
  EXPECT_EQ(ReadFile(*saveChoice), flash);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(*saveChoice + ".bak")));
}

TEST_F(ImageFilesTest, CancelledSaveBinWritesNothing) {
  ShowInView(Pattern(64, 6));
  saveChoice = std::nullopt;
  Files().btnSaveBinClick();
  EXPECT_EQ(saveDialogs.size(), 1u);
  EXPECT_TRUE(QDir(dir.path()).isEmpty(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot));
}

TEST_F(ImageFilesTest, SaveBinOverTheLoadedFileKeepsABackupOnlyAfterEdits) {
  const Bytes original = Pattern(500, 1);
  for (const bool edited : {true, false}) {
    SCOPED_TRACE(edited ? "edited" : "unchanged");
    const std::string path = Path(edited ? "edited.bin" : "unchanged.bin");
    WriteFile(path, original);
    ImageFiles& imageFiles = Files();
    imageFiles.LoadImageFile(path);
    Bytes expected = original;
    if (edited) {
      const uint8_t byte = 0xEE;
      view.WriteBuffer(&byte, 7, 1);
      expected[7] = byte;
    }
    saveChoice = path;

    imageFiles.btnSaveBinClick();

    EXPECT_EQ(ReadFile(path), expected);
    EXPECT_EQ(ReadFile(path + ".bak"), edited ? std::optional<Bytes>(original) : std::nullopt);
  }
}

TEST_F(ImageFilesTest, SaveBinFailuresRaiseErrorsNamingTheFile) {
  test::ScopedEnglishWindow english;
  const std::string path = Path("locked.bin");
  WriteFile(path, Pattern(100, 2));
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ImageFiles& imageFiles = Files();
  imageFiles.LoadImageFile(path);
  const uint8_t byte = 0x00;
  view.WriteBuffer(&byte, 0, 1);

  saveChoice = path;
  EXPECT_EQ(ErrorOf([&] { imageFiles.btnSaveBinClick(); }), "Cannot save readonly file " + path + ".");
  EXPECT_EQ(ReadFile(path), Pattern(100, 2));

  if (QFile::exists("/dev/full")) {
    saveChoice = "/dev/full";
    const std::string error = ErrorOf([&] { imageFiles.btnSaveBinClick(); });
    EXPECT_NE(error.find("/dev/full"), std::string::npos) << error;
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
  }
}

TEST_F(ImageFilesTest, SaveBinRefusalIsInTheWindowsLanguage) {
  const std::string path = Path("locked.bin");
  WriteFile(path, Pattern(100, 2));
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ImageFiles& imageFiles = Files();
  imageFiles.LoadImageFile(path);
  saveChoice = path;
  EXPECT_EQ(ErrorOf([&] { imageFiles.btnSaveBinClick(); }), "无法保存只读文件 " + path + "。");
}

TEST_F(ImageFilesTest, CommandLineFileIsLoadedInsteadOfAskingAndBecomesTheImagePath) {
  const SmallHex hex;
  const Bytes bin = Pattern(200, 8);
  WriteFile(Path("cli.hex"), hex.Text());
  WriteFile(Path("cli.bin"), bin);
  const struct {
    const char* what;
    std::vector<std::string> positional;
    std::string chosen;
    Bytes image;
  } cases[] = {
      {"one argument", {Path("cli.hex")}, Path("cli.hex"), hex.Image()},
      {"second of two", {Path("cli.bin"), Path("cli.hex")}, Path("cli.hex"), hex.Image()},
      {"second of three, a BIN file", {"ignored", Path("cli.bin"), "also ignored"}, Path("cli.bin"), bin},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    engine.EditWriteImage([](uint8_t* image, size_t size) { std::fill(image, image + size, kOldImageByte); });
    log.clear();
    openFilters.clear();

    ImageFiles& imageFiles = Files(c.positional);
    imageFiles.BtnLoadFileClick();

    EXPECT_TRUE(openFilters.empty());
    EXPECT_EQ(imageFiles.ImagePath(), c.chosen);
    EXPECT_EQ(edtFile.text().toStdString(), c.chosen);
    EXPECT_EQ(WriteImage(), Expected(c.image, true));
    EXPECT_EQ(ToBytes(view.Data()), c.image);
    EXPECT_EQ(log, std::vector<std::string>{LoadedLine(c.chosen, c.image.size())});
    EXPECT_EQ(edtFlashSize.text().toStdString(), std::to_string(c.image.size()));
  }
}

TEST_F(ImageFilesTest, EveryClickLoadsTheCommandLineFileAgain) {
  const std::string path = Path("again.hex");
  WriteFile(path, test::Data(0, test::Ramp(16, 1)) + "\n" + test::kEndRecord + "\n");
  ImageFiles& imageFiles = Files({path});
  imageFiles.BtnLoadFileClick();
  const Bytes changed = test::Ramp(32, 0x80);
  WriteFile(path, test::Data(0, changed) + "\n" + test::kEndRecord + "\n");

  imageFiles.BtnLoadFileClick();

  EXPECT_TRUE(openFilters.empty());
  EXPECT_EQ(WriteImage(), Expected(changed, true));
  EXPECT_EQ(ToBytes(view.Data()), changed);
  EXPECT_EQ(log, (std::vector<std::string>{LoadedLine(path, 16), LoadedLine(path, 32)}));
}

// Images of exactly WriteImage's size load whole; one more byte and nothing is copied.
TEST_F(ImageFilesTest, ImagesLargerThanWriteImageAreRefused) {
  const size_t fits = kImageBufferSize;
  const size_t tooLarge = kImageBufferSize + 16;
  const test::Generated hexFits = test::Generate({.seed = 5, .imageSize = fits, .addressing = test::Addressing::kLinear});
  const test::Generated hexTooLarge =
      test::Generate({.seed = 6, .imageSize = tooLarge, .addressing = test::Addressing::kLinear});
  auto imageOf = [](const test::Generated& g) {
    Bytes image(g.bytes.size());
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(g.bytes[i]);
    return image;
  };
  const struct {
    const char* name;
    std::string content;
    size_t size;
    Bytes image;  // empty: refused
  } cases[] = {
      {"fits.bin", std::string(fits, '\x3C'), fits, Bytes(fits, 0x3C)},
      {"large.bin", std::string(tooLarge, '\x3C'), tooLarge, {}},
      {"fits.hex", hexFits.text, fits, imageOf(hexFits)},
      {"large.hex", hexTooLarge.text, tooLarge, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(c.name);
    WriteFile(path, c.content);
    engine.EditWriteImage([](uint8_t* image, size_t size) { std::fill(image, image + size, kOldImageByte); });
    ShowInView(Pattern(40, 3));
    edtFlashSize.setText("40");
    log.clear();
    openChoice = path;

    Files().BtnLoadFileClick();

    EXPECT_EQ(files->ImagePath(), path);
    if (!c.image.empty()) {
      EXPECT_EQ(WriteImage(), c.image);
      EXPECT_EQ(ToBytes(view.Data()), c.image);
      EXPECT_EQ(log, std::vector<std::string>{LoadedLine(path, c.size)});
      continue;
    }
    EXPECT_EQ(WriteImage(), Expected({}, true));
    EXPECT_EQ(view.GetDataSize(), 0);
    EXPECT_EQ(edtFlashSize.text(), "40");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path + ".bin")));
    EXPECT_EQ(log, std::vector<std::string>{"文件过大，未载入：" + path + "  " + std::to_string(c.size) +
                                           " Bytes，缓冲区 524288 Bytes"});
  }
}

// Answers the next modal file dialog: `check` sees it, then it is accepted with `name` selected (or
// rejected for an empty name).
void AnswerNextFileDialog(std::function<void(QFileDialog&)> check, QString name) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, check = std::move(check), name] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    timer->stop();
    timer->deleteLater();
    check(*dialog);
    if (name.isEmpty()) {
      dialog->reject();
    } else {
      // selectFile leaves the name field alone while it has the keyboard focus, which it gets
      // once the dialog's window is active: the dialog would then be accepted with no name.
      if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
      dialog->selectFile(name);
      static_cast<QDialog*>(dialog)->accept();  // public in QDialog, protected in QFileDialog
    }
  });
  timer->start();
}

TEST(DefaultDialogsTest, AskWithTheFiltersTitleAndExtensionAndReturnTheChoice) {
  // A desktop's own dialogs are not QFileDialogs this test could answer.
  QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString image = dir.filePath("fw.hex");
  ASSERT_TRUE(QFile(image).open(QIODevice::WriteOnly));
  const ImageFiles::Dialogs dialogs = ImageFiles::DefaultDialogs(nullptr);

  AnswerNextFileDialog(
      [](QFileDialog& dialog) {
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog.nameFilters(), (QStringList{"烧写文件(*.hex *.bin)", "All (*)"}));
        EXPECT_EQ(dialog.selectedNameFilter(), "烧写文件(*.hex *.bin)");
      },
      image);
  EXPECT_EQ(dialogs.chooseImageFile(kImageFileFilter), image.toStdString());
  AnswerNextFileDialog([](QFileDialog&) {}, QString());
  EXPECT_EQ(dialogs.chooseImageFile(kImageFileFilter), std::nullopt);

  // The extension is added to a bare name, and an existing file is replaced without a question.
  AnswerNextFileDialog(
      [](QFileDialog& dialog) {
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog.windowTitle(), "请输入文件名");
        EXPECT_EQ(dialog.nameFilters(), QStringList{"二进制文件(*.bin)"});
        EXPECT_EQ(dialog.defaultSuffix(), "bin");
        EXPECT_TRUE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
      },
      dir.filePath("chip"));
  EXPECT_EQ(dialogs.chooseSaveFile(kSaveBinTitle, kSaveBinFilter, kSaveBinSuffix),
            dir.filePath("chip.bin").toStdString());
  AnswerNextFileDialog([](QFileDialog&) {}, QString());
  EXPECT_EQ(dialogs.chooseSaveFile(kSaveBinTitle, kSaveBinFilter, kSaveBinSuffix), std::nullopt);
}

}  // namespace
}  // namespace quillet
