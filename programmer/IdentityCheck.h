#pragma once
// The programmer's identity reply read against the connect request it answers: firmware type and
// version, the communication check word, and whether a chip answers on the connector.

#include <cstdint>

#include "engine/EngineEvent.h"

namespace quillet {

struct Identity {
  bool chipConnected = false;
  int firmwareType = 0;
  int firmwareVersion = 0;
  uint16_t checkWord = 0;     // as the programmer sent it
  uint16_t expectedWord = 0;  // as the request asks for
  bool CheckPassed() const { return checkWord == expectedWord; }
};

Identity ReadIdentity(const IdentityEvent& event);

}  // namespace quillet
