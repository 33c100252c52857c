#include "programmer/DesktopNotice.h"

#include <utility>

#include "programmer/LogText.h"
#include "programmer/MessageCatalogue.h"

namespace quillet {

using logtext::Format;
using logtext::Translate;

DesktopNotice WriteSucceededNotice(const std::string& file, uint64_t bytes, std::chrono::milliseconds elapsed,
                                   bool verified) {
  return {verified ? Translate("Flash written and verified") : Translate("Flash written, not verified"),
          Format(Translate("%s: %llu bytes in %lld ms"), file.c_str(), static_cast<unsigned long long>(bytes),
                 static_cast<long long>(elapsed.count()))};
}

DesktopNotice WriteFailedNotice(const std::string& file, const std::string& reason) {
  return {Translate("Flash write failed"),
          file.empty() ? reason : Format(Translate("%s: %s"), file.c_str(), reason.c_str())};
}

DesktopNotifier::DesktopNotifier(std::unique_ptr<NoticeSender> sender, std::function<void(const std::string&)> log)
    : sender_(std::move(sender)), log_(std::move(log)) {}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::Show(const DesktopNotice& notice) {
  // A failure heard after the notifier is gone says nothing: whoever took its lines may be gone.
  sender_->Send(notice, [told = std::weak_ptr<bool>(told_), log = log_](const std::string& why) {
    const std::shared_ptr<bool> alive = told.lock();
    if (!alive || *alive) return;
    *alive = true;
    log(Format(Translate("Desktop notifications cannot be shown: %s"), why.c_str()));
  });
}

}  // namespace quillet
