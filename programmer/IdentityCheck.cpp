#include "programmer/IdentityCheck.h"

namespace quillet {

Identity ReadIdentity(const IdentityEvent& event) {
  const auto& reply = event.reply;
  Identity id;
  id.chipConnected = reply[1] != 0;
  id.firmwareType = reply[2];
  id.firmwareVersion = reply[3];
  id.checkWord = LoadU16(&reply[4]);
  id.expectedWord = ExpectedCheckWord(event.request);
  return id;
}

}  // namespace quillet
