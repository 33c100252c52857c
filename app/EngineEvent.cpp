#include "app/EngineEvent.h"

#include <algorithm>

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

}  // namespace quillet
