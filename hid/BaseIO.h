#pragma once
// TBaseIO: the device-list and connection machinery of an I/O component. It owns the list of
// device records, opens and closes one connection at a time, runs the reader thread of that
// connection and reports through events bound by the owner.
//
// Threads:
// - The device list, the selection, Open, Close, Active and the property setters belong to the UI
//   thread.
// - The reader thread delivers input through OnAfterReceive; from inside that event it may write
//   and close. When the device goes away the reader closes the connection itself, so OnClose
//   runs on the reader thread then, and on the closing thread otherwise; it runs once per
//   connection either way.
// - Bind every event before setting Active to true: the reader reads them without a lock. The
//   log sink is called from both threads.
// - Open returns only once the reader of an earlier connection has gone, so nothing that reader
//   reads is delivered into the new connection. With UseMainThread the reader waits in the
//   invoker instead: the UI thread must keep serving its calls while it closes, opens or
//   destroys the component.
// - Destruction closes the connection and waits until the reader has let go of the device. Never
//   destroy the component from inside one of its events.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "component/Component.h"
#include "hid/Device.h"
#include "hid/HidPlatform.h"

// The format attribute's flavour: mingw's "printf" is Microsoft's, which lacks %zu, and clang knows
// no "gnu_printf".
#ifdef __MINGW32__
#define QUILLET_PRINTF_FORMAT gnu_printf
#else
#define QUILLET_PRINTF_FORMAT printf
#endif

namespace quillet::hid {

enum TDetailLevel { dlSimple, dlDetail, dlDebug };

class TBaseIO;

// TNotifyEvent (component/Component.h) with the sender typed as the I/O component itself, as
// the handlers of OnOpen and OnClose take it.
using TBaseIOEvent = std::function<void(TBaseIO* Sender)>;
using TOnReceived = std::function<void(TBaseIO* Com, const uint8_t* Buffer, uint32_t Received)>;
using TOnFatalErrorEvent = std::function<void(TBaseIO* Sender, uint32_t ErrorCode, uint32_t Detail,
                                              const std::string& ErrorMsg, bool& RaiseException)>;
// The ErrorCode of OnFatalError when an open fails. Its Detail is the system's error code, or
// kFatalDetailNoDevice when no device was selected.
inline constexpr uint32_t kFatalOpenFailed = 16;
inline constexpr uint32_t kFatalDetailNoDevice = 2;

// Receives every diagnostic line with its level; the sink decides what it keeps.
using TCustomLogSink = std::function<void(TDetailLevel level, const std::string& line)>;
// Runs a call on the UI thread and returns when it has run.
using TMainThreadInvoker = std::function<void(const std::function<void()>& call)>;
// Shows a message box (text, caption); used when applying the stored Active fails after loading.
using TMessageBox = std::function<void(const std::string& text, const std::string& caption)>;

using TNotifyCallback = void (*)(void* context, int code);
// The code listeners get from Update and SetDeviceIndex: the list or the selection changed.
inline constexpr int kNotifyDeviceList = 3;

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
  TBaseIOEvent OnOpen;
  TBaseIOEvent OnClose;
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

  // Delivery of input on the UI thread, through the invoker; change them while closed.
  bool GetUseMainThread() const { return useMainThread_; }
  void SetUseMainThread(bool value) { useMainThread_ = value; }
  void SetMainThreadInvoker(TMainThreadInvoker invoker) { mainThreadInvoker_ = std::move(invoker); }

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
  // What a subclass's open hands to the base for one connection.
  struct TOpenedDevice {
    std::shared_ptr<IHidHandle> handle;
    // The report buffer the reader fills; null when the device has no input reports.
    std::shared_ptr<std::vector<uint8_t>> input;
    std::shared_ptr<const HidPreparsedData> ppd;  // held until the connection closes
    bool canRead = false;  // a reader runs when the device can be read and has input reports
  };

  // Opens the selected device; nothing when it could not be opened and no exception was raised.
  virtual std::optional<TOpenedDevice> RequestDeviceHandle() = 0;
  // The open connection's device node; null while closed.
  std::shared_ptr<IHidHandle> CurrentHandle() const;
  // For the destructor of the most derived class: closes and waits for the reader to end.
  void Shutdown();

  virtual void DoInputData(const uint8_t* buffer, uint32_t length);
  virtual void DoNotify(int code);
  // Raises OnFatalError, logs it and, unless a handler said otherwise, throws EHidError.
  virtual void DoFatalErrors(uint32_t errorCode, uint32_t detail, const std::string& errorMsg,
                             bool show);
  // Every diagnostic line goes through here: printf-style, after the log prefix. Nothing is
  // formatted while no sink is bound.
  void WriteLog(TDetailLevel level, const char* format, ...) const
      __attribute__((format(QUILLET_PRINTF_FORMAT, 3, 4)));

 private:
  struct Connection;

  // Closes `c` (null: the current connection) exactly once; raises OnClose when this call did it.
  void CloseConnection(std::shared_ptr<Connection> c);
  void ThreadStart(const std::shared_ptr<Connection>& c);
  void ThreadExecute(std::shared_ptr<Connection> c);
  void WaitForReaders(int allowed);
  bool OnReaderThread() const;

  std::string logPrefix_;
  bool storedActive_ = false;
  TMainThreadInvoker mainThreadInvoker_;
  bool useMainThread_ = false;

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
