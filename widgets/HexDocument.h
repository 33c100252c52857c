#pragma once
// The bytes a hex view shows: a byte array with one "changed" flag a byte, the file it was loaded
// from or saved to, and its file operations. Views display a document they do not own; whoever
// owns the image owns the document, and code that needs the image's size or bytes asks it, not a
// view. Errors are thrown as std::exception subclasses whose what() is the text the window's error
// box shows.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <vector>

class QIODevice;

namespace quillet::widgets {

class HexDocument : public QObject {
  Q_OBJECT

 public:
  explicit HexDocument(QObject* parent = nullptr);

  int Size() const { return static_cast<int>(data_.size()); }
  const QByteArray& Bytes() const { return data_; }
  // True for bytes changed since the last load or save.
  bool IsByteChanged(int offset) const;
  // True after any change since the last load or save.
  bool Modified() const { return modified_; }
  // The file remembered by the last LoadFromFile or SaveToFile (empty before either).
  QString FileName() const { return fileName_; }

  // Grows with 0x00 bytes or drops the tail; counts as a change. Negative sizes throw
  // std::invalid_argument and leave the data as it was.
  void SetSize(int size);
  // Copies count bytes into the data at index; counts as a change. Throws std::out_of_range
  // ("Data position/length out of data bounds") when the range leaves the data.
  void Write(const void* buffer, int index, int count);
  // One byte changed in place, as typing changes it.
  void SetByte(int offset, unsigned char value);

  // Replaces the data with the file's bytes and remembers the file; the data counts as
  // unchanged. Throws std::runtime_error("Cannot open <file>.\r\n(<reason>.)") and keeps the data
  // when the file cannot be read.
  void LoadFromFile(const QString& path);
  // The same with the file's bytes already read.
  void LoadFromFile(const QString& path, QByteArray bytes);
  // Writes the data to the file. Saving over the remembered file fails when that file was
  // read-only when loaded; saving changed data over it first moves it to "<file>.bak". A failed
  // save leaves the old file whole. Throws std::runtime_error naming the file.
  void SaveToFile(const QString& path);
  void SaveToStream(QIODevice& stream) const;
  // Replaces the data with the whole stream, read from its start; the data counts as unchanged.
  void LoadFromStream(QIODevice& stream);

 signals:
  // The whole data was replaced by a load.
  void replaced();
  // SetSize or Write changed the data.
  void changed(bool sizeChanged);
  // SetByte changed one byte.
  void byteChanged(int offset);
  // A save cleared the change marks.
  void saved();

 private:
  void Replace(QByteArray data);

  QByteArray data_;
  std::vector<bool> changed_;  // one flag a byte, same length as data_
  bool modified_ = false;
  QString fileName_;
  bool fileReadOnly_ = false;
};

}  // namespace quillet::widgets
