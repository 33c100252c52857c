// The command on files alone: convert.

#include <cstring>
#include <optional>

#include "cli/Commands.h"
#include "cli/ImageIo.h"
#include "cli/Output.h"
#include "hex/Chex2bin.h"
#include "hex/HexConversion.h"
#include "hex/ImageFile.h"
#include "programmer/MessageCatalogue.h"

namespace quillet::cli {

int RunConvert(const CliOptions& o, Output& out) {
  const auto start = SteadyClock::now();
  const std::string& in = o.arguments[0];
  const std::string& target = o.arguments[1];
  Json::Value record = NewRecord(Command::Convert, {});
  record["file"] = in;
  record["output"] = target;
  std::vector<uint8_t> file;
  HexConversion c;
  c.result = CHex2Bin::kOpenHexError;
  const int why = ReadFileBytes(in, file);
  if (why == 0) c = ConvertHexImage(file, std::nullopt);
  record["result"] = c.result;
  record["message"] = CHex2Bin::ResultMessage(c.result);
  record["bytes"] = c.result == CHex2Bin::kSuccess ? Json::Value(static_cast<Json::UInt64>(c.length)) : Json::Value();
  if (c.result != CHex2Bin::kSuccess) {
    std::string error = ConversionMessage(in, c.failedLine, c.result);
    if (c.result == CHex2Bin::kOpenHexError) error += " (" + std::string(std::strerror(why)) + ")";
    return Finish(out, record, {kExitUsage, error}, start);
  }
  // Written whole through a temporary file: a longer file there before keeps no stale tail.
  if (std::string failed = WriteFileAtomically(target, c.image); !failed.empty())
    return Finish(out, record, {kExitFailed, failed}, start);
  out.Message(logtext::Say("%s -> %s: result 0, Success. %llu bytes", in.c_str(), target.c_str(),
                           static_cast<unsigned long long>(c.length)));
  return Finish(out, record, {}, start);
}

}  // namespace quillet::cli
