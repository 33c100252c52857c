#include "hid/BaseIO.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <thread>

namespace quillet::hid {
namespace {

// The component whose reader runs on this thread, so that calls made from inside a delivery
// never wait for the very thread that makes them.
thread_local const TBaseIO* tlsReaderOf = nullptr;

std::string FormatV(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, again);
  va_end(again);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

}  // namespace

// One opened connection, shared by the component and its reader.
struct TBaseIO::Connection {
  explicit Connection(TOpenedDevice d) : device(std::move(d)) {}
  TOpenedDevice device;
  std::atomic<bool> stop{false};
  std::atomic<bool> closed{false};
};

TBaseIO::TBaseIO(TComponent* owner, std::string logPrefix)
    : TComponent(owner), logPrefix_(std::move(logPrefix)) {}

TBaseIO::~TBaseIO() {
  Shutdown();
  DeviceListClear();
}

void TBaseIO::Shutdown() {
  Destroying();
  CloseConnection(nullptr);
  WaitForReaders(OnReaderThread() ? 1 : 0);
}

bool TBaseIO::OnReaderThread() const { return tlsReaderOf == this; }

void TBaseIO::WriteLog(TDetailLevel level, const char* format, ...) const {
  if (!Log) return;
  va_list args;
  va_start(args, format);
  std::string line = logPrefix_ + FormatV(format, args);
  va_end(args);
  Log(level, line);
}

bool TBaseIO::GetActive() const {
  if (IsLoading()) return storedActive_;
  return IsHandleValid();
}

void TBaseIO::SetActive(bool value) {
  if (IsLoading()) {
    storedActive_ = value;
    return;
  }
  if (value == IsHandleValid()) return;
  if (value) Open();
  else Close();
}

bool TBaseIO::IsHandleValid() const { return CurrentHandle() != nullptr; }

std::shared_ptr<IHidHandle> TBaseIO::CurrentHandle() const {
  std::lock_guard lock(connMutex_);
  return conn_ ? conn_->device.handle : nullptr;
}

void TBaseIO::Loaded() {
  TComponent::Loaded();
  if (!storedActive_) return;
  try {
    SetActive(true);
  } catch (const std::exception&) {
    if (MessageBox) MessageBox("error", "Error");
  }
}

void TBaseIO::Open() {
  if (IsHandleValid()) return;
  std::optional<TOpenedDevice> opened = RequestDeviceHandle();
  if (!opened) return;
  const bool startReader = opened->canRead && opened->input;
  auto c = std::make_shared<Connection>(std::move(*opened));
  // A reader of an earlier connection may still be on its way out; it must be gone before this
  // connection exists, so that nothing it does can land in the new one. A reader handing its
  // report to the UI thread may be waiting for this very thread; it is filtered there instead.
  if (!(useMainThread_ && mainThreadInvoker_)) WaitForReaders(OnReaderThread() ? 1 : 0);
  {
    std::lock_guard lock(connMutex_);
    conn_ = c;
  }
  if (startReader) ThreadStart(c);
  if (OnOpen && !IsDestroying()) {
    try {
      OnOpen(this);
    } catch (...) {
    }
  }
}

void TBaseIO::Close() { CloseConnection(nullptr); }

void TBaseIO::CloseConnection(std::shared_ptr<Connection> c) {
  {
    std::lock_guard lock(connMutex_);
    if (!c) c = conn_;
    if (c && c == conn_) conn_.reset();
  }
  if (!c) return;
  c->stop = true;
  c->device.handle->Shutdown();  // wakes a reader waiting for its read, and a writer waiting to write
  if (c->closed.exchange(true)) return;
  WriteLog(dlDetail, "close device.");
  c->device.ppd.reset();
  if (OnClose && !IsDestroying()) {
    try {
      OnClose(this);
    } catch (...) {
    }
  }
}

void TBaseIO::ThreadStart(const std::shared_ptr<Connection>& c) {
  {
    std::lock_guard lock(readerMutex_);
    ++liveReaders_;
  }
  std::thread([this, conn = c]() mutable { ThreadExecute(std::move(conn)); }).detach();
}

void TBaseIO::ThreadExecute(std::shared_ptr<Connection> c) {
  tlsReaderOf = this;
  std::vector<uint8_t>& buffer = *c->device.input;
  const auto length = static_cast<uint32_t>(buffer.size());
  WriteLog(dlDebug, "Start monitoring thread ... InRepLen= %u", length);
  try {
    while (!c->stop) {
      std::fill(buffer.begin(), buffer.end(), 0);
      const HidIoResult r = c->device.handle->Read(buffer.data(), buffer.size());
      if (c->stop) break;
      if (r.status != HidIoResult::Ok) {
        // The device went away (or failed) while nobody was closing: close from here.
        CloseConnection(c);
        break;
      }
      if (IsDestroying()) continue;
      if (useMainThread_ && mainThreadInvoker_) {
        // Close and Open run on the UI thread too, so checking there is exact: a report read
        // just before a close is dropped rather than delivered into a later connection.
        mainThreadInvoker_([&] {
          if (!c->stop) DoInputData(buffer.data(), length);
        });
      } else {
        DoInputData(buffer.data(), length);
      }
    }
  } catch (...) {
    // A failing receive handler ends this reader; the connection stays open without one.
  }
  c->stop = true;
  WriteLog(dlDebug, "... exit monitoring thread.");
  tlsReaderOf = nullptr;
  // Let go of the device before counting this reader out, so that whoever waits for the reader
  // also finds the device released.
  c.reset();
  std::lock_guard lock(readerMutex_);
  --liveReaders_;
  readerDone_.notify_all();
}

void TBaseIO::WaitForReaders(int allowed) {
  std::unique_lock lock(readerMutex_);
  readerDone_.wait(lock, [&] { return liveReaders_ <= allowed; });
}

void TBaseIO::DoInputData(const uint8_t* buffer, uint32_t length) {
  if (!OnAfterReceive) return;
  WriteLog(dlDebug, "Do input data [%u] bytes ", length);
  WriteLog(dlDebug, "Input data length: %u", length);
  OnAfterReceive(this, buffer, length);
}

void TBaseIO::DoNotify(int code) {
  const auto listeners = listeners_;
  for (const auto& [callback, context] : listeners) callback(context, code);
}

void TBaseIO::DoFatalErrors(uint32_t errorCode, uint32_t detail, const std::string& errorMsg,
                            bool show) {
  bool raise = true;
  if (OnFatalError) OnFatalError(this, errorCode, detail, errorMsg, raise);
  WriteLog(dlSimple, "Fatal Error: %u, %u, %s", errorCode, detail, errorMsg.c_str());
  if (!raise || IsLoading()) return;
  if (show && MessageBox) {
    MessageBox(errorMsg, "Error");
    return;
  }
  throw EHidError(errorMsg);
}

void TBaseIO::DeviceListClear() { list_.clear(); }

void TBaseIO::Update() {
  DeviceListLoad();
  DoNotify(kNotifyDeviceList);
}

void TBaseIO::GetDeviceList(TStrings* target) {
  if (list_.empty()) DeviceListLoad();
  if (!target) return;
  target->clear();
  for (const Entry& e : list_) target->push_back({e.text, e.record.get()});
}

TDevice* TBaseIO::GetDeviceRecord(int index) const {
  if (index < 0 || index >= GetDeviceCount()) return nullptr;
  return list_[index].record.get();
}

int TBaseIO::AddDevice(TDevice* record) {
  const int position = GetDeviceCount();
  record->ListPosition = position;
  record->Owner = this;
  list_.push_back({record->Name, std::unique_ptr<TDevice>(record)});
  return position;
}

int TBaseIO::AddDeviceSorted(TDevice* record) {
  auto at = std::upper_bound(list_.begin(), list_.end(), record->SortKey,
                             [](int key, const Entry& e) { return key < e.record->SortKey; });
  at = list_.insert(at, {record->Name, std::unique_ptr<TDevice>(record)});
  record->Owner = this;
  for (size_t i = 0; i < list_.size(); ++i) list_[i].record->ListPosition = static_cast<int32_t>(i);
  return static_cast<int>(at - list_.begin());
}

int TBaseIO::IndexOfDevice(const TDevice* record) const {
  for (size_t i = 0; i < list_.size(); ++i)
    if (list_[i].record.get() == record) return static_cast<int>(i);
  return -1;
}

int TBaseIO::IndexOfDeviceData(int key) const {
  for (size_t i = 0; i < list_.size(); ++i)
    if (list_[i].record->SortKey == key) return static_cast<int>(i);
  return -1;
}

void TBaseIO::NotifyAdd(TNotifyCallback callback, void* context) {
  listeners_.emplace_back(callback, context);
}

void TBaseIO::NotifyDelete(TNotifyCallback callback, void* context) {
  std::erase(listeners_, std::make_pair(callback, context));
}

}  // namespace quillet::hid
