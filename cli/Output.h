#pragma once
// Everything a command prints: data on stdout, JSON records, progress, messages and errors; and
// how a command ends, with its record and exit status.

#include <json/json.h>

#include <chrono>
#include <string>

#include "cli/CliOptions.h"
#include "cli/Progress.h"
#include "cli/Session.h"

namespace quillet::cli {

using SteadyClock = std::chrono::steady_clock;

inline constexpr char kProgram[] = "quillet-cli";

class Output {
 public:
  explicit Output(const CliOptions& o);

  Progress& Bar() { return progress_; }
  bool Json() const { return json_; }
  void Message(const std::string& line) { progress_.Message(line); }
  void Error(const std::string& line) { progress_.Error(std::string(kProgram) + ": " + line); }
  // A line of data; in JSON mode stdout carries the records only.
  void Data(const std::string& line);
  void Record(const Json::Value& record);

 private:
  bool json_;
  Progress progress_;
};

Json::Value NewRecord(Command command, const std::string& chip);

// Ends a command: the error line, the record's error and exit status.
int Finish(Output& out, Json::Value& record, const Outcome& o, SteadyClock::time_point start);

}  // namespace quillet::cli
