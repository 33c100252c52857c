#pragma once
// Firmware image files: the LoadFile, SetFlashSize and Save BIN handlers of the HEX page and the
// loader the reload before Write uses. Two byte stores meet here: the engine's WriteImage, which a
// Write sends, and the hex view's data, which the operator sees, edits and saves. Loading a HEX or
// BIN file fills both; nothing else copies between them.
//
// All of it runs on the UI thread. Errors the operator must see (a file that cannot be opened, a
// save that fails) leave as exceptions whose what() is the message for the window's error box.

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/Translations.h"
#include "engine/AppendLog.h"
#include "engine/Cpro.h"
#include "hex/ImageFile.h"

class QLineEdit;
class QWidget;

namespace quillet {

namespace widgets {
class HexDocument;
class HexEditor;
}

// SetFlashSize's number rules: blanks around the text are ignored; a signed 32-bit decimal, or
// hexadecimal after "$", "x", "X", "0x" or "0X". Empty when the text is not such a number.
std::optional<int32_t> ParseFlashSize(const std::string& text);

// The dialogs' filters and the save dialog's title and default extension.
extern const UiText kImageFileFilter;
extern const UiText kSaveBinFilter;
extern const UiText kSaveBinTitle;
extern const QString kSaveBinSuffix;

// The first bytes of WriteImage that every LoadFile click erases (kErasedByte).
inline constexpr size_t kLoadFilePrefill = 65536;

class ImageFiles {
 public:
  struct Dialogs {
    // The chosen file, nothing on cancel.
    std::function<std::optional<std::string>(const QString& filter)> chooseImageFile;
    std::function<std::optional<std::string>(const QString& title, const QString& filter,
                                             const QString& defaultSuffix)>
        chooseSaveFile;
  };

  // engine, view and both edit boxes must outlive this object, and the view must keep showing the
  // document it shows now. positionalArguments are the
  // program's command-line arguments other than options.
  ImageFiles(CPro& engine, widgets::HexEditor& view, QLineEdit& edtFile, QLineEdit& edtFlashSize,
             AppendLogHook appendLog,
             std::vector<std::string> positionalArguments, Dialogs dialogs = DefaultDialogs(nullptr));

  // Modal file dialogs owned by parent. The save dialog does not ask before replacing a file.
  static Dialogs DefaultDialogs(QWidget* parent);

  // The bytes the hex view shows: the loaded image, or the chip's content after a Read.
  widgets::HexDocument& Document() const { return document_; }
  // The path of the last file given to LoadImageFile (empty before any).
  const std::string& ImagePath() const { return imagePath_; }
  // The file LoadFile takes instead of asking: the second positional argument, or the only one.
  std::optional<std::string> CommandLineImage() const;

  // Loads one file into WriteImage and the hex view by its kind and shows its path. Returns false
  // when the image was refused for not fitting WriteImage (a log line says so; WriteImage is left
  // as it was and the hex view is emptied). Throws when a BIN or other file cannot be opened.
  bool LoadImageFile(const std::string& path);

  void BtnLoadFileClick();
  void btnSetFlashSizeClick();
  void btnSaveBinClick();

 private:
  bool ShowHex(const std::string& path, const ImageLoad& load);
  bool ShowBin(const std::string& path, ImageLoad load);
  void FillWriteImage(const Image& image);
  void Refuse(const std::string& path, uint64_t imageSize);
  void Log(const std::string& text) const;

  CPro& engine_;
  widgets::HexDocument& document_;
  QLineEdit& edtFile_;
  QLineEdit& edtFlashSize_;
  AppendLogHook appendLog_;
  std::vector<std::string> positionalArguments_;
  Dialogs dialogs_;
  std::string imagePath_;
};

}  // namespace quillet
