#include "app/ImageFiles.h"

#include <QBuffer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <filesystem>
#include <span>
#include <utility>

#include "app/UpdateReply.h"
#include "engine/Wire.h"
#include "hex/Chex2bin.h"
#include "widgets/HexEditor.h"
#include "widgets/HexFile.h"

namespace quillet {

// Qt writes a filter as "description (patterns)". "All" keeps every file: on this platform "*.*"
// would hide names without a dot, and a file named "fwhex" is a HEX file too.
const QString kImageFileFilter = QStringLiteral("烧写文件(*.hex *.bin);;All (*)");
const QString kSaveBinFilter = QStringLiteral("二进制文件(*.bin)");
const QString kSaveBinTitle = QStringLiteral("请输入文件名");
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
      view_(view),
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
  return kind == ImageFileKind::Hex ? LoadHex(path) : LoadOther(path, kind);
}

bool ImageFiles::LoadHex(const std::string& path) {
  // The file is read once and converted from memory, so both passes below see the same bytes.
  QByteArray file;
  bool readable = true;
  try {
    file = widgets::ReadWholeFile(ToQString(path)).bytes;
  } catch (const std::exception&) {
    readable = false;
  }
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(file.constData()),
                                       static_cast<size_t>(file.size()));

  CHex2Bin converter;
  uint32_t length = 0;
  int32_t result = CHex2Bin::kOpenHexError;
  if (readable) {
    // Measure first: an image that does not fit WriteImage is refused before a side file is
    // written, rather than leaving a side file cut short.
    converter.ConvertBytes(bytes, std::nullopt, &length, nullptr);
    if (length > kImageBufferSize) {
      Refuse(path, length);
      return false;
    }
    // Into a copy of WriteImage, so the engine's lock is not held across the file writes and the
    // capacity keeps the converter inside the buffer whatever the file holds.
    std::vector<uint8_t> scratch(kImageBufferSize);
    engine_.CopyWriteImage(0, scratch.data(), scratch.size());
    length = static_cast<uint32_t>(kImageBufferSize);
    result = converter.ConvertBytes(bytes, std::filesystem::path(path + ".bin"), &length, scratch.data());
    if (length > kImageBufferSize) {  // only if the two passes disagreed
      Refuse(path, length);
      return false;
    }
    const bool filled = result == CHex2Bin::kSuccess || result == CHex2Bin::kWriteDestError;
    if (filled) {
      engine_.EditWriteImage([&](uint8_t* image, size_t size) {
        std::memcpy(image, scratch.data(), std::min<size_t>(length, size));
      });
    }
  }
  if (result != CHex2Bin::kSuccess) {
    // The view below still takes the length the converter counted, but the operator must not
    // take a broken file (or a missing side file) for a good load.
    Log("HEX转换：" + path + "  " + CHex2Bin::ResultMessage(result));
  }

  QByteArray image(static_cast<qsizetype>(length), '\0');
  engine_.CopyWriteImage(0, reinterpret_cast<uint8_t*>(image.data()), length);
  view_.SetDataSize(static_cast<int>(length));
  view_.WriteBuffer(image.constData(), 0, static_cast<int>(length));
  return true;
}

bool ImageFiles::LoadOther(const std::string& path, ImageFileKind kind) {
  const QString file = ToQString(path);
  if (kind == ImageFileKind::Bin) {
    const QFileInfo info(file);
    if (info.exists() && info.size() > static_cast<qint64>(kImageBufferSize)) {
      Refuse(path, static_cast<uint64_t>(info.size()));
      return false;
    }
  }
  view_.LoadFromFile(file);
  QBuffer stream;
  stream.open(QIODevice::ReadWrite);
  view_.SaveToStream(stream);
  view_.LoadFromStream(stream);
  if (kind != ImageFileKind::Bin) return true;

  const QByteArray& data = stream.buffer();
  if (static_cast<size_t>(data.size()) > kImageBufferSize) {  // the file grew after it was measured
    Refuse(path, static_cast<uint64_t>(data.size()));
    return false;
  }
  engine_.EditWriteImage([&](uint8_t* image, size_t size) {
    std::memcpy(image, data.constData(), std::min<size_t>(static_cast<size_t>(data.size()), size));
  });
  return true;
}

void ImageFiles::Refuse(const std::string& path, uint64_t imageSize) {
  Log("文件过大，未载入：" + path + "  " + std::to_string(imageSize) + " Bytes，缓冲区 " +
      std::to_string(kImageBufferSize) + " Bytes");
  // An empty view rather than the previous image: a following Write then stops at its empty
  // image instead of sending something that is not the file shown in edtFile.
  QBuffer empty;
  empty.open(QIODevice::ReadOnly);
  view_.LoadFromStream(empty);
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
  const int size = view_.GetDataSize();
  Log("载入文件" + *path + "  " + std::to_string(size) + " Bytes");
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
    view_.SetDataSize(*size);
  } catch (const std::exception&) {
    edtFlashSize_.clear();
  }
}

void ImageFiles::btnSaveBinClick() {
  if (!dialogs_.chooseSaveFile) return;
  const std::optional<std::string> path = dialogs_.chooseSaveFile(kSaveBinTitle, kSaveBinFilter, kSaveBinSuffix);
  if (!path) return;
  view_.SaveToFile(ToQString(*path));
}

}  // namespace quillet
