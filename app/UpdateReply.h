#pragma once
// What the update service's JSON reply asks of the program: log its message, stop the program,
// announce a newer version, send the user to the download. The window decides whether to bind
// it to its client's OnDone; the steps that leave the program go through replaceable hooks.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "component/Component.h"
#include "engine/AppendLog.h"
#include "net/MemoryStream.h"

namespace quillet {

struct TUpdateReplyHooks {
  AppendLogHook AppendLog;
  std::function<void(const std::string& text)> ShowMessage;  // a modal message box
  // Asks the application to terminate and ends the process at once with the status.
  std::function<void(int status)> TerminateProcess;
  // Opens the address in the default browser.
  std::function<void(const std::string& url)> ShellOpen;
};

// Ends the process with the status after asking the application to quit.
void ExitProcessNow(int status);

// The standard text-to-integer conversion: optional leading blanks and sign, then decimal
// digits, or hexadecimal ones after "$", "x" or "0x". Empty when the text is not such a number.
std::optional<int32_t> StrToInt(const std::string& text);

class CUpdateReplyHandler {
 public:
  explicit CUpdateReplyHandler(TUpdateReplyHooks hooks);

  // Shaped for the client's OnDone: the body is FileSize bytes of Stream (all of it for 0).
  void HttpInfoDone(TComponent* Sender, const std::string& ContentType, int32_t FileSize,
                    TMemoryStream& Stream);

 private:
  void Log(const std::string& message) const;
  TUpdateReplyHooks hooks_;
};

}  // namespace quillet
