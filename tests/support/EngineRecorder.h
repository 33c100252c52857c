#pragma once
// Captures everything an engine sends and raises, in one ordered trail: each event as the code it
// stands for, with the log line the console makes of it (programmer/LogText.h), so a test reads
// the engine's output as the operator's log shows it.

#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "engine/Cpro.h"
#include "programmer/LogText.h"

namespace quillet {

// The kinds of engine output a test tells apart.
enum RecordedEventCode : int {
  EVT_LOG = 0,             // an event the log shows as a line of its own
  EVT_IDENTITY = 1,        // the identity reply
  EVT_READ_PROGRESS = 5,   // bytes received so far
  EVT_WRITE_PROGRESS = 6,  // image bytes sent so far
  EVT_VERIFY = 7,          // 1 when the checksums agree, else 0
};

namespace test {

struct Recorded {
  // AppendLog: a line the engine raises around its own steps (connect, write start, chip name).
  enum Kind { Send, Event, AppendLog } kind;
  int code = -1;                // event code
  int32_t value = 0;            // count or flag events
  std::string text;             // the log line
  std::vector<uint8_t> bytes;   // sent bytes, or the identity payload
};

class EngineRecorder {
 public:
  explicit EngineRecorder(CPro& engine) {
    engine.SetSendReport([this](const uint8_t* b, size_t n) {
      trail.push_back({Recorded::Send, -1, 0, {}, std::vector<uint8_t>(b, b + n)});
      if (forward) forward(b, n);
    });
    engine.SetEngineEvent([this](const EngineEvent& e) { Record(e); });
  }

  void Record(const EngineEvent& e) {
    const auto lines = logtext::LinesOf(e);
    std::visit(
        [&](const auto& event) {
          using T = std::decay_t<decltype(event)>;
          if constexpr (std::is_same_v<T, ConnectEvent> || std::is_same_v<T, UnknownChipEvent> ||
                        std::is_same_v<T, WriteStartEvent>) {
            trail.push_back({Recorded::AppendLog, -1, 0, lines.at(0), {}});
          } else if constexpr (std::is_same_v<T, IdentityEvent>) {
            trail.push_back({Recorded::Event, EVT_IDENTITY, 0, {}, {event.reply.begin(), event.reply.end()}});
          } else if constexpr (std::is_same_v<T, ReadProgressEvent>) {
            trail.push_back({Recorded::Event, EVT_READ_PROGRESS, event.received, {}, {}});
          } else if constexpr (std::is_same_v<T, WriteProgressEvent>) {
            trail.push_back({Recorded::Event, EVT_WRITE_PROGRESS, event.sent, {}, {}});
          } else if constexpr (std::is_same_v<T, VerifyEvent>) {
            trail.push_back({Recorded::Event, EVT_VERIFY, event.agree ? 1 : 0, {}, {}});
            // The checksums of a mismatch make a line of their own after the verdict's.
            if (!event.agree) trail.push_back({Recorded::Event, EVT_LOG, 0, lines.back(), {}});
          } else {
            trail.push_back({Recorded::Event, EVT_LOG, 0, lines.at(0), {}});
          }
        },
        e);
  }

  std::vector<Recorded> Of(Recorded::Kind kind, int code = -1) const {
    std::vector<Recorded> out;
    for (const auto& r : trail)
      if (r.kind == kind && (code < 0 || r.code == code)) out.push_back(r);
    return out;
  }
  std::vector<std::vector<uint8_t>> Sends() const {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& r : Of(Recorded::Send)) out.push_back(r.bytes);
    return out;
  }
  // Log texts in order, whether they came as EVT_LOG or around the engine's own steps.
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& r : trail)
      if (r.kind == Recorded::AppendLog || (r.kind == Recorded::Event && r.code == EVT_LOG))
        out.push_back(r.text);
    return out;
  }

  std::vector<Recorded> trail;
  // Where sent bytes go after they are recorded, e.g. a simulated programmer.
  std::function<void(const uint8_t*, size_t)> forward;
};

}  // namespace test
}  // namespace quillet
