#include "hid/WindowsDeviceChanges.h"

#include <windows.h>
// The broadcast records and the HID class need windows.h first.
#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include <future>
#include <stdexcept>
#include <string>

#include "component/WindowsText.h"

namespace quillet::hid {
namespace {

constexpr wchar_t kWindowClass[] = L"QuilletDeviceChanges";

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DEVICECHANGE) {
    auto* listeners = reinterpret_cast<Listeners<DeviceChange>*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    const auto change = WindowsDeviceChanges::ChangeOfMessage(wParam, reinterpret_cast<const void*>(lParam));
    if (listeners && change) listeners->Publish(*change);
    return TRUE;
  }
  if (message == WM_CLOSE) {
    ::DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

std::string Reason(const char* what) {
  return std::string("cannot watch HID devices: ") + what + " failed (error " + std::to_string(::GetLastError()) + ")";
}

}  // namespace

std::optional<DeviceChange> WindowsDeviceChanges::ChangeOfMessage(uintptr_t event, const void* broadcast) {
  if ((event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) || !broadcast) return std::nullopt;
  const auto* header = static_cast<const DEV_BROADCAST_HDR*>(broadcast);
  if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return std::nullopt;
  const auto* iface = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(broadcast);
  return DeviceChange{event == DBT_DEVICEARRIVAL ? DeviceChange::Added : DeviceChange::Removed,
                      NarrowToUtf8(iface->dbcc_name)};
}

WindowsDeviceChanges::WindowsDeviceChanges() {
  std::promise<std::string> started;
  std::future<std::string> ready = started.get_future();
  thread_ = std::thread([this, &started] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    // A second source in the same program finds the class registered already.
    if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
      return started.set_value(Reason("RegisterClassEx"));
    const HWND window = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                          windowClass.hInstance, nullptr);
    if (!window) return started.set_value(Reason("CreateWindowEx"));
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&listeners_));
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    ::HidD_GetHidGuid(&filter.dbcc_classguid);
    const HDEVNOTIFY registration = ::RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!registration) {
      const std::string reason = Reason("RegisterDeviceNotification");
      ::DestroyWindow(window);
      return started.set_value(reason);
    }
    window_ = window;
    started.set_value({});
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
    ::UnregisterDeviceNotification(registration);
  });
  if (const std::string reason = ready.get(); !reason.empty()) {
    thread_.join();
    throw std::runtime_error(reason);
  }
}

WindowsDeviceChanges::~WindowsDeviceChanges() {
  ::PostMessageW(static_cast<HWND>(window_), WM_CLOSE, 0, 0);
  thread_.join();
}

Subscription WindowsDeviceChanges::Subscribe(Post post, Listener listener) {
  return listeners_.Subscribe(std::move(post), std::move(listener));
}

}  // namespace quillet::hid
