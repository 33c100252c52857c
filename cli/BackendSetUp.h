#pragma once
// What a command runs over: the programmers' backend (real or simulated) and, for a command on a
// chip, the programmer opened as a session.

#include <json/json.h>

#include <memory>
#include <optional>
#include <string>

#include "cli/CliOptions.h"
#include "cli/Output.h"
#include "cli/Session.h"
#include "sim/Backend.h"

namespace quillet::cli {

struct Backend {
  HidBackend hid;

  // The simulated chip's flash kept for the next command; a file that cannot be written is said,
  // since the next command would find another chip.
  void SaveSimulatedFlash(Output& out) const {
    if (const std::string failed = quillet::SaveSimulatedFlash(hid); !failed.empty()) out.Error(failed);
  }
};

std::optional<Backend> MakeBackend(const CliOptions& o, std::string& error);

// The programmer a command opened, and the backend it came through.
struct OpenSession {
  Backend backend;
  std::unique_ptr<Session> session;
  OpenSession() = default;
  OpenSession(const OpenSession&) = delete;
  OpenSession& operator=(const OpenSession&) = delete;
  ~OpenSession() {
    if (session) session->Close();
  }
  // The command is done with the programmer: the connection closed with its log printed before
  // the command's result, and the simulated chip's flash kept for the next command.
  void End(Output& out) {
    if (session) session->Close();
    backend.SaveSimulatedFlash(out);
  }
};

// Opens the programmer and waits for its identity.
Outcome OpenProgrammer(const CliOptions& o, Output& out, OpenSession& p);

// The record names the programmer that was opened.
void AddProgrammer(Json::Value& record, const OpenSession& p);

}  // namespace quillet::cli
