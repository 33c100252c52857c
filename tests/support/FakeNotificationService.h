#pragma once
// A private session bus (a dbus-daemon of the test's own, with no service files, so nothing is
// activated behind the test's back) and, on it, a stand-in for the desktop's notification service:
// it owns org.freedesktop.Notifications and records each Notify call. The service answers on a
// thread of its own.

#include <sys/types.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillet::test {

struct NotifyCall {
  std::string appName;
  uint32_t replacesId = 0;
  std::string summary;
  std::string body;
};

class FakeNotificationService {
 public:
  // `serve` false: the bus runs, but nobody owns the notification service's name.
  explicit FakeNotificationService(bool serve = true);
  ~FakeNotificationService();
  FakeNotificationService(const FakeNotificationService&) = delete;
  FakeNotificationService& operator=(const FakeNotificationService&) = delete;

  // For DBUS_SESSION_BUS_ADDRESS; empty when the bus could not be started.
  const std::string& Address() const { return address_; }
  // Once `count` calls have come, or `limit` has passed: the calls so far.
  std::vector<NotifyCall> WaitForCalls(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(20));
  std::vector<NotifyCall> Calls();

 private:
  static int OnNotify(sd_bus_message* m, void* self, sd_bus_error* error);
  void Serve();

  std::filesystem::path dir_;
  pid_t daemon_ = -1;
  std::string address_;
  sd_bus* bus_ = nullptr;
  sd_bus_slot* slot_ = nullptr;
  int stop_[2] = {-1, -1};  // a pipe whose closing ends the service thread
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<NotifyCall> calls_;
};

}  // namespace quillet::test
