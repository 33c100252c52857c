#include "cli/BackendSetUp.h"

#include "programmer/ActivityLog.h"
#include "programmer/MessageCatalogue.h"

namespace quillet::cli {

std::optional<Backend> MakeBackend(const CliOptions& o, std::string& error) {
  auto hid = HidBackendFromEnvironment(o.simulateFlashSize, error);
  if (!hid) return std::nullopt;
  return Backend{std::move(*hid)};
}

Outcome OpenProgrammer(const CliOptions& o, Output& out, OpenSession& p) {
  std::string error;
  auto backend = MakeBackend(o, error);
  if (!backend) return {kExitUsage, error};
  p.backend = std::move(*backend);
  AppendLogHook log;
  if (o.verbosity == Verbosity::Verbose) {
    log = [&out, &p, locale = ActivityLog::UserTimeLocale()](const std::string& line) {
      std::string stamped = FormatLogLine(ReadLocalClock(), line, locale);
      p.session->Loop().Post([&out, stamped] { out.Message(stamped); });
    };
  }
  p.session = std::make_unique<Session>(p.backend.hid, out.Bar(), log);
  Outcome opened = p.session->Open(o.serial, o.device);
  if (opened.Ok() && p.session->ProgrammersFound() > 1 && o.serial.empty() && o.device.empty())
    out.Message(logtext::Say("%d programmers attached; using %s (serial %s); --serial or --device picks another",
                             p.session->ProgrammersFound(), p.session->OpenNode().c_str(),
                             p.session->OpenSerial().c_str()));
  return opened;
}

void AddProgrammer(Json::Value& record, const OpenSession& p) {
  if (!p.session) return;
  record["node"] = p.session->OpenNode();
  record["serial"] = p.session->OpenSerial();
}

}  // namespace quillet::cli
