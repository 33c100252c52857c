#pragma once
// TBaseIO: the device-list and connection machinery of an I/O component. It owns the list of
// device records, opens and closes one connection at a time, runs the reader thread of that
// connection and reports through callbacks bound by the owner.
//
// Threads. The list, selection, Open and the property setters belong to the UI thread. The reader
// thread delivers input through OnAfterReceive and may write and close from there. Bind every
// event before setting Active to true; they are read by the reader thread without a lock. The log
// sink is called from both threads. Never destroy the component from inside one of its events.
// Each opened connection is an object of its own, shared with its reader: closing it happens once
// whoever gets there first, a reader never reads or delivers for a later connection, and a device
// node is released only when neither the component nor the reader can still use it.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "component/Component.h"
#include "hid/Device.h"
#include "hid/HidPlatform.h"

namespace quillet::hid {

enum TDetailLevel { dlSimple, dlDetail, dlDebug };
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TBaseIO;

using TNotifyEvent = std::function<void(TBaseIO* Sender)>;
using TOnReceived = std::function<void(TBaseIO* Com, const uint8_t* Buffer, uint32_t Received)>;
using TOnFatalErrorEvent = std::function<void(TBaseIO* Sender, uint32_t ErrorCode, uint32_t Detail,
                                              const std::string& ErrorMsg, bool& RaiseException)>;
// Receives every diagnostic line with its level; the sink decides what it keeps.
using TCustomLogSink = std::function<void(TDetailLevel level, const std::string& line)>;
// Runs a call on the UI thread and returns when it has run. With UseMainThread the reader waits
// in it, so the UI thread must keep serving such calls while it closes or destroys the component.
using TMainThreadInvoker = std::function<void(const std::function<void()>& call)>;
// Shows a message box (text, caption); used when applying the stored Active fails after loading.
using TMessageBox = std::function<void(const std::string& text, const std::string& caption)>;
using TNotifyCallback = void (*)(void* context, int code);

// The exception a failed open raises, carrying the message the fatal error reported.
class EHidError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TStringItem {
  std::string Text;
  TDevice* Object = nullptr;
};
using TStrings = std::vector<TStringItem>;

class TBaseIO : public TComponent {
 public:
  explicit TBaseIO(TComponent* owner, std::string logPrefix);
  ~TBaseIO() override;

  // Events and hooks, bound by the owner before the connection opens.
  TNotifyEvent OnOpen;
  TNotifyEvent OnClose;
  TOnReceived OnAfterReceive;
  TOnFatalErrorEvent OnFatalError;
  TCustomLogSink Log;
  TMessageBox MessageBox;

  bool GetActive() const;
  void SetActive(bool value);
  virtual bool IsHandleValid() const;
  virtual void Open();
  virtual void Close();
  void Loaded() override;

  // Device list.
  virtual void DeviceListLoad() = 0;
  virtual void DeviceListClear();
  virtual void Update();
  virtual void GetDeviceList(TStrings* target);
  int32_t GetDeviceCount() const { return static_cast<int32_t>(list_.size()); }
  TDevice* GetDeviceRecord(int index) const;
  virtual int AddDevice(TDevice* record);        // takes ownership
  virtual int AddDeviceSorted(TDevice* record);  // takes ownership; ordered by SortKey
  int IndexOfDevice(const TDevice* record) const;
  int IndexOfDeviceData(int key) const;
  virtual void SetDeviceIndex(int index) = 0;
  virtual int GetDeviceIndex() const = 0;

  void NotifyAdd(TNotifyCallback callback, void* context);
  void NotifyDelete(TNotifyCallback callback, void* context);

 protected:
  struct Connection {
    std::shared_ptr<IHidHandle> handle;
    std::shared_ptr<std::vector<uint8_t>> input;  // the report buffer the reader fills
    std::shared_ptr<const HidPreparsedData> ppd;
    bool canRead = false;
    bool canWrite = false;
    std::atomic<bool> readerWanted{false};
    std::atomic<bool> stop{false};
    std::atomic<bool> closed{false};
  };

  // Opens the selected device; null when it could not be opened and no exception was raised.
  virtual std::shared_ptr<Connection> RequestDeviceHandle() = 0;
  // The connection's own resources, released once when it closes.
  virtual void RequestDeviceHandleClose(Connection& c);
  virtual void DoInputData(const uint8_t* buffer, uint32_t length);
  virtual void DoNotify(int code);
  // Raises OnFatalError, logs it and, unless a handler said otherwise, throws EHidError.
  virtual void DoFatalErrors(uint32_t errorCode, uint32_t detail, const std::string& errorMsg,
                             bool show);
  void WriteLog(TDetailLevel level, const std::string& line) const;

  std::shared_ptr<Connection> CurrentConnection() const;
  // Closes `c` (null: the current connection) exactly once; raises OnClose when this call did it.
  void CloseConnection(std::shared_ptr<Connection> c);
  // For the destructor of the most derived class: closes and waits for the reader to end.
  void Shutdown();
  bool OnReaderThread() const;

  bool storedActive_ = false;
  TMainThreadInvoker mainThreadInvoker_;
  bool useMainThread_ = false;

 private:
  void ThreadStart(const std::shared_ptr<Connection>& c);
  void ThreadExecute(std::shared_ptr<Connection> c);
  void WaitForReaders(int allowed);

  std::string logPrefix_;
  struct Entry {
    std::string text;
    std::unique_ptr<TDevice> record;
  };
  std::vector<Entry> list_;
  std::vector<std::pair<TNotifyCallback, void*>> listeners_;

  mutable std::mutex connMutex_;  // guards conn_ only; never held across I/O or callbacks
  std::shared_ptr<Connection> conn_;

  std::mutex readerMutex_;
  std::condition_variable readerDone_;
  int liveReaders_ = 0;
};

}  // namespace quillet::hid
