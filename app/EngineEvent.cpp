#include "app/EngineEvent.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "engine/Cpro.h"

namespace quillet {

std::optional<EngineEvent> DecodeEngineEvent(int code, const void* payload) {
  if (!payload) return std::nullopt;
  const auto count = [payload] { return *static_cast<const int32_t*>(payload); };
  switch (code) {
    case EVT_LOG:
      return LogEvent{static_cast<const char*>(payload)};
    case EVT_IDENTITY: {
      IdentityEvent e;
      const auto* bytes = static_cast<const uint8_t*>(payload);
      std::copy_n(bytes, e.reply.size(), e.reply.begin());
      return e;
    }
    case EVT_READ_PROGRESS:
      return ReadProgressEvent{count()};
    case EVT_WRITE_PROGRESS:
      return WriteProgressEvent{count()};
    case EVT_VERIFY:
      return VerifyEvent{count() != 0};
    default:
      return std::nullopt;
  }
}

// The engine's texts: "操作失败:%02X  %02X" with the reply byte and its failure bit, and
// "写FLASH失败：..." when a report of the image stream was not taken.
std::optional<uint8_t> FailureReplyCode(const LogEvent& event) {
  constexpr std::string_view kPrefix = "操作失败:";
  const std::string_view text = event.text;
  if (text.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
  unsigned reply = 0, flag = 0;
  char end = 0;
  const std::string rest(text.substr(kPrefix.size()));
  if (std::sscanf(rest.c_str(), "%2X  %2X%c", &reply, &flag, &end) != 2 || !(reply & OP_FAIL))
    return std::nullopt;
  return static_cast<uint8_t>(reply);
}

bool IsImageStreamFailure(const LogEvent& event) {
  return std::string_view(event.text).starts_with("写FLASH失败");
}

}  // namespace quillet
