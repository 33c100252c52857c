#include "tests/support/FakeNotificationService.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <fstream>

namespace quillet::test {

namespace {

// Only what the tests need: a session bus on a socket in its own folder, everyone may talk.
constexpr char kConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=@DIR@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

}  // namespace

FakeNotificationService::FakeNotificationService(bool serve) {
  static std::atomic<int> counter{0};
  dir_ = std::filesystem::temp_directory_path() /
         ("quillet-bus-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(dir_);
  std::string config = kConfig;
  config.replace(config.find("@DIR@"), 5, dir_.string());
  std::ofstream(dir_ / "bus.conf") << config;

  int address[2];
  if (::pipe(address) != 0) return;
  const std::string configArg = "--config-file=" + (dir_ / "bus.conf").string();
  const std::string printArg = "--print-address=" + std::to_string(address[1]);
  daemon_ = ::fork();
  if (daemon_ == 0) {
    ::close(address[0]);
    ::execlp("dbus-daemon", "dbus-daemon", "--nofork", configArg.c_str(), printArg.c_str(), nullptr);
    ::_exit(127);
  }
  ::close(address[1]);
  char c;
  while (::read(address[0], &c, 1) == 1 && c != '\n') address_ += c;
  ::close(address[0]);
  if (address_.empty()) return;

  if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address_.c_str()) < 0 ||
      sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0)
    return;
  if (serve) {
    static const sd_bus_vtable table[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", &FakeNotificationService::OnNotify,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
    sd_bus_add_object_vtable(bus_, &slot_, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                             table, this);
    sd_bus_request_name(bus_, "org.freedesktop.Notifications", 0);
  }
  if (::pipe(stop_) != 0) return;
  thread_ = std::thread([this] { Serve(); });
}

FakeNotificationService::~FakeNotificationService() {
  if (stop_[1] >= 0) ::close(stop_[1]);
  if (thread_.joinable()) thread_.join();
  if (stop_[0] >= 0) ::close(stop_[0]);
  sd_bus_slot_unref(slot_);
  sd_bus_flush_close_unref(bus_);
  if (daemon_ > 0) {
    ::kill(daemon_, SIGTERM);
    ::waitpid(daemon_, nullptr, 0);
  }
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void FakeNotificationService::Serve() {
  for (;;) {
    int r;
    while ((r = sd_bus_process(bus_, nullptr)) > 0) {
    }
    if (r < 0) return;
    pollfd fds[2] = {{sd_bus_get_fd(bus_), static_cast<short>(sd_bus_get_events(bus_)), 0}, {stop_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 || fds[1].revents) return;
  }
}

int FakeNotificationService::OnNotify(sd_bus_message* m, void* self, sd_bus_error*) {
  auto* service = static_cast<FakeNotificationService*>(self);
  const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
  uint32_t replaces = 0;
  const int r = sd_bus_message_read(m, "susss", &app, &replaces, &icon, &summary, &body);
  if (r < 0) return r;
  uint32_t id = 0;
  {
    std::lock_guard lock(service->mutex_);
    service->calls_.push_back({app, replaces, summary, body});
    id = static_cast<uint32_t>(service->calls_.size());
  }
  service->changed_.notify_all();
  return sd_bus_reply_method_return(m, "u", id);
}

std::vector<NotifyCall> FakeNotificationService::WaitForCalls(size_t count, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, limit, [&] { return calls_.size() >= count; });
  return calls_;
}

std::vector<NotifyCall> FakeNotificationService::Calls() {
  std::lock_guard lock(mutex_);
  return calls_;
}

}  // namespace quillet::test
