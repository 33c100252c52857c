#pragma once
// The start-up version query: one background GET to the update service, whose path carries the
// program's version. Nothing waits for it; only a failure to start it leaves a log line.

#include <functional>
#include <string>

#include <QtGlobal>

#include "app/Version.h"
#include "engine/AppendLog.h"
#include "net/HttpClient.h"

namespace quillet {

// The version as one number, as the update service, the window and quillet --version know it:
// major, minor and patch as its decimal digits (2.0.0 is 200).
inline constexpr int kProgramVersion = kVersionMajor * 100 + kVersionMinor * 10 + kVersionPatch;
static_assert(kVersionMinor < 10 && kVersionPatch < 10, "minor and patch are one digit each");
// The update service; the reserved .example name keeps the query harmless until a real host exists.
inline constexpr char kUpdateServiceHost[] = "update.quillet.example";
inline constexpr char kVersionInfoPath[] = "/Upgrade/Info/n/tarnwick/json/1/version/";
inline const std::string kUpdateAgent =
    "Quillet/" + std::to_string(kProgramVersion) + " (Linux; nRF24LE1/nRF24LU1 programmer)";
inline constexpr char kVersionQueryFailed[] =
    QT_TRANSLATE_NOOP("UpdateQuery", "Could not ask for the version information");

// "http://", the host, the fixed path and the version number.
std::string VersionInfoURL(const std::string& host);

class CUpdateQuery {
 public:
  // Starts a GET of the URL without waiting; may raise when it cannot be started.
  using TStartRead = std::function<void(const std::string& url)>;

  // Gives HttpInfo its identification text; the query runs on it.
  CUpdateQuery(THttpClient& HttpInfo, AppendLogHook AppendLog, std::string host = kUpdateServiceHost);
  // The same over another way of starting the request.
  CUpdateQuery(TStartRead startRead, AppendLogHook AppendLog, std::string host = kUpdateServiceHost);

  // Called once, as the last step of the main window's creation.
  void QueryVersionInfo();

 private:
  TStartRead startRead_;
  AppendLogHook appendLog_;
  std::string host_;
};

}  // namespace quillet
