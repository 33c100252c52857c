#include "app/UpdateQuery.h"

#include <utility>

#include "app/Translations.h"

namespace quillet {

std::string VersionInfoURL(const std::string& host) {
  return "http://" + host + kVersionInfoPath + std::to_string(kProgramVersion);
}

CUpdateQuery::CUpdateQuery(THttpClient& HttpInfo, AppendLogHook AppendLog, std::string host)
    : CUpdateQuery(
          [&HttpInfo](const std::string& url) {
            HttpInfo.URL = url;
            // False only while a request is still running; the query is not repeated then.
            HttpInfo.Read(false);
          },
          std::move(AppendLog), std::move(host)) {
  HttpInfo.Agent = kUpdateAgent;
}

CUpdateQuery::CUpdateQuery(TStartRead startRead, AppendLogHook AppendLog, std::string host)
    : startRead_(std::move(startRead)), appendLog_(std::move(AppendLog)), host_(std::move(host)) {}

void CUpdateQuery::QueryVersionInfo() {
  try {
    startRead_(VersionInfoURL(host_));
  } catch (...) {
    if (appendLog_) appendLog_(FillIn(QCoreApplication::translate("UpdateQuery", kVersionQueryFailed)));
  }
}

}  // namespace quillet
