#include "app/ImageFiles.h"

#include <QBuffer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <utility>

#include "app/UpdateReply.h"
#include "engine/Wire.h"
#include "hex/Chex2bin.h"
#include "hex/ImageFile.h"
#include "widgets/HexDocument.h"
#include "widgets/HexEditor.h"
#include "widgets/HexFile.h"

namespace quillet {

// Qt writes a filter as "description (patterns)". "All" keeps every file: on this platform "*.*"
// would hide names without a dot, and a file named "fwhex" is a HEX file too.
const UiText kImageFileFilter{"ImageFiles",
                              QT_TRANSLATE_NOOP("ImageFiles", "Firmware files (*.hex *.bin);;All (*)")};
const UiText kSaveBinFilter{"ImageFiles", QT_TRANSLATE_NOOP("ImageFiles", "Binary files (*.bin)")};
const UiText kSaveBinTitle{"ImageFiles", QT_TRANSLATE_NOOP("ImageFiles", "Enter a file name")};
const QString kSaveBinSuffix = QStringLiteral("bin");

namespace {

QString ToQString(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }
std::string ToStdString(const QString& path) { return QFile::encodeName(path).toStdString(); }

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

std::optional<int32_t> ParseFlashSize(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return StrToInt(text.substr(first, last - first));
}

ImageFiles::ImageFiles(CPro& engine, widgets::HexEditor& view, QLineEdit& edtFile, QLineEdit& edtFlashSize,
                       AppendLogHook appendLog,
                       std::vector<std::string> positionalArguments, Dialogs dialogs)
    : engine_(engine),
      document_(view.Document()),
      edtFile_(edtFile),
      edtFlashSize_(edtFlashSize),
      appendLog_(std::move(appendLog)),
      positionalArguments_(std::move(positionalArguments)),
      dialogs_(std::move(dialogs)) {}

ImageFiles::Dialogs ImageFiles::DefaultDialogs(QWidget* parent) {
  Dialogs dialogs;
  dialogs.chooseImageFile = [parent](const QString& filter) -> std::optional<std::string> {
    const QString path = QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
    if (path.isEmpty()) return std::nullopt;
    return ToStdString(path);
  };
  dialogs.chooseSaveFile = [parent](const QString& title, const QString& filter,
                                    const QString& defaultSuffix) -> std::optional<std::string> {
    QFileDialog dialog(parent, title, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return ToStdString(dialog.selectedFiles().constFirst());
  };
  return dialogs;
}

std::optional<std::string> ImageFiles::CommandLineImage() const {
  if (positionalArguments_.empty()) return std::nullopt;
  return positionalArguments_.size() == 1 ? positionalArguments_[0] : positionalArguments_[1];
}

void ImageFiles::Log(const std::string& text) const {
  if (appendLog_) appendLog_(text);
}

bool ImageFiles::LoadImageFile(const std::string& path) {
  imagePath_ = path;
  edtFile_.setText(ToQString(path));
  const ImageFileKind kind = ImageFileKindOf(path);
  if (kind == ImageFileKind::Other) {
    // Shown, but not an image: WriteImage keeps what it holds.
    document_.LoadFromFile(ToQString(path));
    return true;
  }
  ImageLoadOptions options;
  options.sizeLimit = kImageBufferSize;
  options.writeSideFile = true;
  options.acceptEmpty = true;
  ImageLoad load = LoadImage(path, options);
  if (load.error.failure == ImageLoadFailure::kTooLarge) {
    Refuse(path, load.error.size);
    return false;
  }
  return kind == ImageFileKind::Hex ? ShowHex(path, load) : ShowBin(path, std::move(load));
}

void ImageFiles::FillWriteImage(const Image& image) {
  engine_.EditWriteImage([&](uint8_t* buffer, size_t size) {
    std::memcpy(buffer, image.bytes.data(), std::min(image.Size(), size));
  });
}

bool ImageFiles::ShowHex(const std::string& path, const ImageLoad& load) {
  const ImageLoadError& error = load.error;
  int32_t result = CHex2Bin::kSuccess;
  uint64_t length = 0;  // what the view shows: the image, or what the converter counted
  if (load.Ok()) {
    FillWriteImage(load.image);
    if (load.sideFileFailed) result = CHex2Bin::kWriteDestError;
    length = load.image.Size();
  } else if (error.failure == ImageLoadFailure::kConversionFailed) {
    result = error.converterResult;
    length = error.size;
    if (length > kImageBufferSize) {  // nothing beyond WriteImage can be shown
      Refuse(path, length);
      return false;
    }
  } else {
    result = CHex2Bin::kOpenHexError;
  }
  if (result != CHex2Bin::kSuccess) {
    // The view below still takes the length the converter counted, but the operator must not
    // take a broken file (or a missing side file) for a good load.
    Log(FillIn(QCoreApplication::translate("ImageFiles", "HEX conversion: %1  %2"),
               {path, CHex2Bin::ResultMessage(result)}));
  }

  QByteArray image(static_cast<qsizetype>(length), '\0');
  engine_.CopyWriteImage(0, reinterpret_cast<uint8_t*>(image.data()), static_cast<size_t>(length));
  document_.SetSize(static_cast<int>(length));
  document_.Write(image.constData(), 0, static_cast<int>(length));
  return true;
}

bool ImageFiles::ShowBin(const std::string& path, ImageLoad load) {
  if (load.error.failure == ImageLoadFailure::kUnreadable)
    throw widgets::FileError(widgets::kCannotOpen, path, load.error.systemError);
  const Image& image = load.image;
  document_.LoadFromFile(ToQString(path), QByteArray(reinterpret_cast<const char*>(image.bytes.data()),
                                                     static_cast<qsizetype>(image.Size())));
  FillWriteImage(image);
  return true;
}

void ImageFiles::Refuse(const std::string& path, uint64_t imageSize) {
  Log(FillIn(QCoreApplication::translate("ImageFiles",
                                         "File too large, not loaded: %1  %2 bytes, buffer %3 bytes"),
             {path, std::to_string(imageSize), std::to_string(kImageBufferSize)}));
  // An empty view rather than the previous image: a following Write then stops at its empty
  // image instead of sending something that is not the file shown in edtFile.
  QBuffer empty;
  empty.open(QIODevice::ReadOnly);
  document_.LoadFromStream(empty);
}

void ImageFiles::BtnLoadFileClick() {
  engine_.EditWriteImage([](uint8_t* image, size_t size) {
    std::memset(image, kErasedByte, std::min(kLoadFilePrefill, size));
  });
  std::optional<std::string> path = CommandLineImage();
  if (!path) {
    path = dialogs_.chooseImageFile ? dialogs_.chooseImageFile(kImageFileFilter) : std::nullopt;
    if (!path) return;
  }
  if (!LoadImageFile(*path)) return;
  const int size = document_.Size();
  Log(FillIn(QCoreApplication::translate("ImageFiles", "Loaded file %1  %2 bytes"),
             {*path, std::to_string(size)}));
  edtFlashSize_.setText(QString::number(size));
}

void ImageFiles::btnSetFlashSizeClick() {
  const std::optional<int32_t> size = ParseFlashSize(edtFlashSize_.text().toStdString());
  // Beyond WriteImage no size can be written to a chip, and a mistyped large number would have
  // the view allocate gigabytes.
  if (!size || *size < 0 || static_cast<size_t>(*size) > kImageBufferSize) {
    edtFlashSize_.clear();
    return;
  }
  try {
    document_.SetSize(*size);
  } catch (const std::exception&) {
    edtFlashSize_.clear();
  }
}

void ImageFiles::btnSaveBinClick() {
  if (!dialogs_.chooseSaveFile) return;
  const std::optional<std::string> path = dialogs_.chooseSaveFile(kSaveBinTitle, kSaveBinFilter, kSaveBinSuffix);
  if (!path) return;
  document_.SaveToFile(ToQString(*path));
}

}  // namespace quillet
