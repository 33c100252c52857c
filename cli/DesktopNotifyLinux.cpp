// The freedesktop notification service (org.freedesktop.Notifications) over sd-bus. The bus is
// the session's (DBUS_SESSION_BUS_ADDRESS, else the user's runtime folder); the call waits a
// bounded time, as the write it reports has ended and the next waits behind it.

#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "cli/DesktopNotify.h"

namespace quillet::cli {

namespace {

constexpr uint64_t kCallTimeoutUs = 2'000'000;

class SessionBusSender : public NoticeSender {
 public:
  SessionBusSender() {
    const int r = sd_bus_open_user(&bus_);
    if (r < 0) {
      openError_ = std::string("no session bus (") + std::strerror(-r) + ")";
      bus_ = nullptr;
    } else {
      sd_bus_set_method_call_timeout(bus_, kCallTimeoutUs);
    }
  }
  ~SessionBusSender() override { sd_bus_flush_close_unref(bus_); }
  SessionBusSender(const SessionBusSender&) = delete;
  SessionBusSender& operator=(const SessionBusSender&) = delete;

  void Send(const DesktopNotice& notice, Failed failed) override {
    if (!bus_) return failed(openError_);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    // Each notice replaces the one before: a loop of writes keeps one bubble up to date.
    const int r = sd_bus_call_method(bus_, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                     "org.freedesktop.Notifications", "Notify", &error, &reply, "susssasa{sv}i",
                                     "quillet-cli", shown_, "", notice.summary.c_str(), notice.body.c_str(), 0, 0,
                                     int32_t{-1});
    if (r < 0) {
      failed(error.message ? error.message : std::strerror(-r));
    } else if (sd_bus_message_read(reply, "u", &shown_) < 0) {
      shown_ = 0;
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
  }

 private:
  sd_bus* bus_ = nullptr;
  std::string openError_;
  uint32_t shown_ = 0;  // the service's id of the last notice
};

}  // namespace

std::unique_ptr<NoticeSender> SystemNoticeSender() { return std::make_unique<SessionBusSender>(); }

}  // namespace quillet::cli
