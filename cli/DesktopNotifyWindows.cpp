// No notification service is reached on Windows yet: every notice says so, and the log tells
// the user once.

#include "cli/DesktopNotify.h"

namespace quillet::cli {

namespace {

class UnavailableSender : public NoticeSender {
 public:
  void Send(const DesktopNotice&, Failed failed) override { failed("not available on this system"); }
};

}  // namespace

std::unique_ptr<NoticeSender> SystemNoticeSender() { return std::make_unique<UnavailableSender>(); }

}  // namespace quillet::cli
