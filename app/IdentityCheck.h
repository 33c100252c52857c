#pragma once
// What the console logs for the programmer's identity reply: firmware type and version, the
// communication check against the connect request it answers, and whether a chip answers.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Wire.h"

namespace quillet {

struct Identity {
  bool chipConnected = false;
  int firmwareType = 0;
  int firmwareVersion = 0;
  uint16_t checkWord = 0;     // as the programmer sent it
  uint16_t expectedWord = 0;  // as the request asks for
  bool CheckPassed() const { return checkWord == expectedWord; }
};

Identity ReadIdentity(const ConnectRequest& request, const uint8_t* reply);

// The lines, in order: communication line, the two check-failure lines when the check fails, and
// the chip line.
std::vector<std::string> IdentityCheckLines(const ConnectRequest& request, const uint8_t* reply);

}  // namespace quillet
