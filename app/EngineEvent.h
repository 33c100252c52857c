#pragma once
// The engine's events as values. The engine hands each event over as a code and a payload that
// lives only during the call; DecodeEngineEvent reads it once, copying what it carries, so the
// window and the command line consume typed values and never cast a payload themselves.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "engine/Wire.h"

namespace quillet {

struct LogEvent {
  std::string text;
};
struct IdentityEvent {
  std::array<uint8_t, kPayloadSize> reply{};
};
struct ReadProgressEvent {
  int32_t received = 0;  // bytes of read-back data stored so far
};
struct WriteProgressEvent {
  int32_t sent = 0;  // image bytes sent so far
};
struct VerifyEvent {
  bool agree = false;  // the programmer's checksum equals ours
};

using EngineEvent =
    std::variant<LogEvent, IdentityEvent, ReadProgressEvent, WriteProgressEvent, VerifyEvent>;

// Nothing for a code the engine does not define, or a null payload.
std::optional<EngineEvent> DecodeEngineEvent(int code, const void* payload);

// Two outcomes the engine reports only as log text, read back for a front end that must tell how
// an operation ended: the programmer's failure reply (its reply byte), and an image stream the
// programmer stopped taking.
std::optional<uint8_t> FailureReplyCode(const LogEvent& event);
bool IsImageStreamFailure(const LogEvent& event);

}  // namespace quillet
