#include "cli/Output.h"

#include <cstdio>

#include "cli/Commands.h"
#include "cli/Console.h"

namespace quillet::cli {

namespace {

double SecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

}  // namespace

Output::Output(const CliOptions& o)
    : json_(o.json),
      progress_(o.verbosity == Verbosity::Quiet ? Progress::Mode::Silent
                : ErrorStreamIsTerminal()       ? Progress::Mode::Bar
                                                : Progress::Mode::Lines,
                stderr, [] {
                  const int columns = ErrorStreamColumns();
                  return columns > 20 ? columns : Progress::kFallbackWidth;
                }) {}

void Output::Data(const std::string& line) {
  if (json_) return;
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}

void Output::Record(const Json::Value& record) {
  if (!json_) return;
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  std::fprintf(stdout, "%s\n", Json::writeString(builder, record).c_str());
  std::fflush(stdout);
}

Json::Value NewRecord(Command command, const std::string& chip) {
  Json::Value r(Json::objectValue);
  r["operation"] = CommandName(command);
  r["chip"] = chip.empty() ? Json::Value() : Json::Value(chip);
  r["error"] = Json::Value();
  return r;
}

int Finish(Output& out, Json::Value& record, const Outcome& o, SteadyClock::time_point start) {
  record["duration"] = SecondsSince(start);
  record["exit"] = o.exit;
  if (!o.Ok()) {
    out.Error(o.error);
    record["error"] = o.error;
  }
  out.Record(record);
  return o.exit;
}

}  // namespace quillet::cli
