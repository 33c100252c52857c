#pragma once
// The desktop notification a write ends with, for a user whose eyes are on the editor: its texts
// (in the user's language, from the message catalogue) and the one rule for sending it. A
// notification service that cannot be reached shows nothing and fails nothing; the log says so
// once. Each front end brings the sender for its system and toolkit.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quillet {

struct DesktopNotice {
  std::string summary;
  std::string body;
};

// `bytes` of `file` written in `elapsed`; `verified`: the programmer's checksum agreed (false:
// verify was not asked for).
DesktopNotice WriteSucceededNotice(const std::string& file, uint64_t bytes, std::chrono::milliseconds elapsed,
                                   bool verified);
// `reason`: the failure in the front end's words for its typed outcome.
DesktopNotice WriteFailedNotice(const std::string& file, const std::string& reason);

class NoticeSender {
 public:
  using Failed = std::function<void(const std::string& why)>;
  virtual ~NoticeSender() = default;
  // Hands the notice to the service; `failed` hears why it was not taken, now or later on the
  // thread that sends.
  virtual void Send(const DesktopNotice& notice, Failed failed) = 0;
};

class DesktopNotifier {
 public:
  // `log` takes the one line that says notifications cannot be shown.
  DesktopNotifier(std::unique_ptr<NoticeSender> sender, std::function<void(const std::string&)> log);
  ~DesktopNotifier();
  DesktopNotifier(const DesktopNotifier&) = delete;
  DesktopNotifier& operator=(const DesktopNotifier&) = delete;

  void Show(const DesktopNotice& notice);

 private:
  std::unique_ptr<NoticeSender> sender_;
  std::function<void(const std::string&)> log_;
  std::shared_ptr<bool> told_ = std::make_shared<bool>(false);
};

}  // namespace quillet
