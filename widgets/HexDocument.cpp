#include "widgets/HexDocument.h"

#include <QIODevice>
#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "widgets/HexFile.h"
#include "widgets/TextFill.h"

namespace quillet::widgets {

HexDocument::HexDocument(QObject* parent) : QObject(parent) {}

bool HexDocument::IsByteChanged(int offset) const {
  return offset >= 0 && offset < Size() && changed_[static_cast<size_t>(offset)];
}

void HexDocument::SetSize(int size) {
  if (size < 0) throw std::invalid_argument("Data size cannot be negative");
  const int old = Size();
  // Both stores are sized before either is replaced, so a failed allocation changes nothing.
  std::vector<bool> marks = changed_;
  marks.resize(static_cast<size_t>(size), true);
  QByteArray resized = data_;
  resized.resize(size);
  if (size > old) std::memset(resized.data() + old, 0, static_cast<size_t>(size - old));
  data_ = std::move(resized);
  changed_ = std::move(marks);
  modified_ = true;
  emit changed(size != old);
}

void HexDocument::Write(const void* buffer, int index, int count) {
  if (index < 0 || count < 0 || index > Size() - count)
    throw std::out_of_range("Data position/length out of data bounds");
  if (count == 0) return;
  if (buffer == nullptr) throw std::invalid_argument("No data to write");
  std::memmove(data_.data() + index, buffer, static_cast<size_t>(count));
  std::fill_n(changed_.begin() + index, count, true);
  modified_ = true;
  emit changed(false);
}

void HexDocument::SetByte(int offset, unsigned char value) {
  data_[offset] = static_cast<char>(value);
  changed_[static_cast<size_t>(offset)] = true;
  modified_ = true;
  emit byteChanged(offset);
}

void HexDocument::LoadFromFile(const QString& path) {
  LoadedFile file = ReadWholeFile(path);
  Replace(std::move(file.bytes));
  fileName_ = path;
  fileReadOnly_ = file.readOnly;
}

void HexDocument::LoadFromFile(const QString& path, QByteArray bytes) {
  Replace(std::move(bytes));
  fileName_ = path;
  fileReadOnly_ = IsReadOnlyFile(path);
}

void HexDocument::SaveToFile(const QString& path) {
  const bool sameFile = SameFile(path, fileName_);
  if (sameFile && fileReadOnly_)
    throw std::runtime_error(FillIn(QCoreApplication::translate("HexFile", kCannotSaveReadOnly), {path.toStdString()}));
  ReplaceFile(path, data_, sameFile && modified_);
  fileName_ = path;
  fileReadOnly_ = false;
  modified_ = false;
  changed_.assign(changed_.size(), false);
  emit saved();
}

void HexDocument::SaveToStream(QIODevice& stream) const {
  if (!stream.isWritable()) throw std::runtime_error("Cannot write to a stream not open for writing.");
  if (stream.write(data_) != data_.size())
    throw std::runtime_error("Cannot write stream.\r\n(" + stream.errorString().toStdString() + ".)");
}

void HexDocument::LoadFromStream(QIODevice& stream) {
  if (!stream.isReadable()) throw std::runtime_error("Cannot read from a stream not open for reading.");
  if (!stream.isSequential() && !stream.seek(0))
    throw std::runtime_error("Cannot read stream.\r\n(" + stream.errorString().toStdString() + ".)");
  QByteArray bytes;
  char chunk[64 * 1024];
  for (;;) {
    const qint64 got = stream.read(chunk, sizeof chunk);
    if (got < 0) throw std::runtime_error("Cannot read stream.\r\n(" + stream.errorString().toStdString() + ".)");
    if (got == 0) break;
    if (bytes.size() > INT_MAX - got) throw std::runtime_error("Cannot read stream.\r\n(Stream too large.)");
    bytes.append(chunk, got);
  }
  Replace(std::move(bytes));
}

void HexDocument::Replace(QByteArray data) {
  std::vector<bool> marks(static_cast<size_t>(data.size()), false);
  data_ = std::move(data);
  changed_ = std::move(marks);
  modified_ = false;
  emit replaced();
}

}  // namespace quillet::widgets
