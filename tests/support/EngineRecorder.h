#pragma once
// Captures everything an engine sends, emits and logs, in one ordered trail.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/Cpro.h"

namespace quillet::test {

struct Recorded {
  enum Kind { Send, Event, AppendLog } kind;
  int code = -1;                // event code
  int32_t value = 0;            // count or flag events
  std::string text;             // EVT_LOG text or AppendLog line
  std::vector<uint8_t> bytes;   // sent bytes, or the identity payload
};

class EngineRecorder {
 public:
  explicit EngineRecorder(CPro& engine) {
    engine.SetSendReport([this](const uint8_t* b, size_t n) {
      trail.push_back({Recorded::Send, -1, 0, {}, std::vector<uint8_t>(b, b + n)});
      if (forward) forward(b, n);
    });
    engine.SetEngineEvent([this](int code, const void* payload) {
      Recorded r{Recorded::Event, code, 0, {}, {}};
      if (code == EVT_LOG) r.text = static_cast<const char*>(payload);
      else if (code == EVT_IDENTITY) r.bytes.assign(static_cast<const uint8_t*>(payload),
                                                      static_cast<const uint8_t*>(payload) + 64);
      else r.value = *static_cast<const int32_t*>(payload);
      trail.push_back(std::move(r));
    });
    engine.SetAppendLog([this](const std::string& text) {
      trail.push_back({Recorded::AppendLog, -1, 0, text, {}});
    });
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
  // Log texts in order, whether they came as EVT_LOG or straight through AppendLog.
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

}  // namespace quillet::test
