#pragma once
// What the engine tells its owner, as values: every reply it interprets, every stream step and
// every failure. The engine formats no text; the programmer layer turns these into log lines in
// one place and into the outcome of the operation under way. Each event is raised once, with the
// engine's lock held (see CPro), and carries copies of what it reports.

#include <array>
#include <cstdint>
#include <string>
#include <variant>

#include "engine/Wire.h"

namespace quillet {

// Connect was called: the connect request is about to go out.
struct ConnectEvent {};
// SelectChip was given a name the catalogue does not hold.
struct UnknownChipEvent {
  std::string name;
};
// A reply with the failure bit set.
struct FailureReplyEvent {
  uint8_t reply = 0;
};
// A reply whose operation the engine does not know.
struct UnknownReplyEvent {
  uint8_t reply = 0;
};
struct IdentityEvent {
  std::array<uint8_t, kPayloadSize> reply{};
  ConnectRequest request;  // the request it answers, for the check word
};
// The programmer starts streaming the flash; `size` is what the task asked for.
struct ReadStartEvent {
  uint32_t size = 0;
};
struct ReadProgressEvent {
  int32_t received = 0;  // bytes of read-back data stored so far
};
// The programmer is ready for the image; the stream follows.
struct WriteStartEvent {
  uint32_t size = 0;
};
struct WriteProgressEvent {
  int32_t sent = 0;  // image bytes sent so far
};
// A report of the image stream did not reach the programmer; the stream ends there.
struct StreamStoppedEvent {
  int64_t report = 0;   // 1-based, the report that was not taken
  int64_t reports = 0;  // of the whole stream
};
struct VerifyEvent {
  bool agree = false;  // the programmer's checksum equals ours
  uint8_t local = 0;
  uint8_t device = 0;
};

using EngineEvent =
    std::variant<ConnectEvent, UnknownChipEvent, FailureReplyEvent, UnknownReplyEvent,
                 IdentityEvent, ReadStartEvent, ReadProgressEvent, WriteStartEvent,
                 WriteProgressEvent, StreamStoppedEvent, VerifyEvent>;

}  // namespace quillet
