// Arbitrary bytes as the update service's reply body, through the handler the window may bind to
// its client's OnDone. Whatever the body, the handler must neither crash nor raise; the steps that
// would leave the program are recorded instead of taken.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/UpdateReply.h"

using namespace quillet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CUpdateReplyHandler handler({
      [](const std::string& message) { (void)message.size(); },
      [](const std::string& text) { (void)text.size(); },
      [](int status) {
        if (status != 2) std::abort();  // the only status the reply may end the program with
      },
      [](const std::string& url) { (void)url.size(); },
  });
  TMemoryStream body;
  body.Write(data, size);
  body.SetPosition(0);
  try {
    handler.HttpInfoDone(nullptr, "application/json", 0, body);
  } catch (...) {
    std::abort();  // an error escaping the handler would reach the client after OnDone
  }
  return 0;
}
