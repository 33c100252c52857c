#include "cli/station/StationOptions.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "programmer/MessageCatalogue.h"

namespace quillet::cli::station {

namespace {

using logtext::Say;
using logtext::Translate;

constexpr int kLargestBench = 16;

enum class Value { Number, Text, None };

struct Option {
  const char* name;
  Value value;
};
constexpr Option kOptions[] = {
    {"--journal", Value::Text},        {"--serial-at", Value::Number},   {"--serial-start", Value::Number},
    {"--serial-step", Value::Number},  {"--serial-width", Value::Number}, {"--serial-end", Value::Number},
    {"--serial-endian", Value::Text},  {"--programmers", Value::Text},   {"--max-boards", Value::Number},
    {"--serial-overwrite", Value::None}, {"--keep-serial", Value::None}, {"--csv", Value::None},
    {"--simulate-bench", Value::Text},
};

std::vector<std::string> SplitCommas(const std::string& text) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (;;) {
    const size_t comma = text.find(',', begin);
    parts.push_back(text.substr(begin, comma - begin));
    if (comma == std::string::npos) return parts;
    begin = comma + 1;
  }
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::string Apply(StationOptions& s, const std::string& name, const std::string& value) {
  if (name == "--journal") {
    s.journal = value;
  } else if (name == "--serial-endian") {
    const std::string e = Lower(value);
    if (e != "le" && e != "be") return Say("--serial-endian takes le or be, not \"%s\"", value.c_str());
    s.serialEndian = e == "le" ? Endian::Little : Endian::Big;
  } else if (name == "--programmers") {
    s.programmers = SplitCommas(value);
    if (std::any_of(s.programmers.begin(), s.programmers.end(), [](const std::string& p) { return p.empty(); }))
      return Translate("--programmers takes serial numbers or device nodes separated by commas");
  } else if (name == "--simulate-bench") {
    const std::vector<std::string> parts = SplitCommas(value);
    const auto n = ParseWholeNumber(parts[0]);
    if (!n || *n < 1 || *n > kLargestBench || parts.size() > 2)
      return Say("--simulate-bench takes N[,16k|32k] with N from 1 to %d", kLargestBench);
    s.benchSize = static_cast<int>(*n);
    if (parts.size() == 2) {
      const std::string size = Lower(parts[1]);
      if (size != "16k" && size != "32k") return Say("--simulate-bench takes 16k or 32k, not \"%s\"", parts[1].c_str());
      s.benchFlashSize = size == "16k" ? 16384 : 32768;
    }
  } else {
    const auto number = ParseWholeNumber(value);
    if (!number) return Say("%s takes a whole number (decimal or 0x hex), not \"%s\"", name.c_str(), value.c_str());
    if (name == "--serial-at") s.serialAt = number;
    if (name == "--serial-start") s.serialStart = number;
    if (name == "--serial-step") s.serialStep = number;
    if (name == "--serial-width") s.serialWidth = number;
    if (name == "--serial-end") s.serialEnd = number;
    if (name == "--max-boards") {
      if (*number == 0) return Translate("--max-boards must be at least 1");
      s.maxBoards = number;
    }
  }
  return {};
}

}  // namespace

std::optional<uint64_t> ParseWholeNumber(const std::string& text) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0' || end == text.c_str() + (hex ? 2 : 0)) return std::nullopt;
  return value;
}

bool TakeStationOption(const std::vector<std::string>& arguments, size_t& i, StationOptions& s, std::string& error) {
  const std::string& a = arguments[i];
  for (const Option& option : kOptions) {
    const std::string name = option.name;
    const bool bare = a == name;
    const bool joined = a.rfind(name + "=", 0) == 0;
    if (!bare && !joined) continue;
    s.given.push_back(name);
    if (option.value == Value::None) {
      if (joined) error = Say("%s takes no value", name.c_str());
      if (name == "--serial-overwrite") s.serialOverwrite = true;
      if (name == "--keep-serial") s.keepSerial = true;
      if (name == "--csv") s.csv = true;
      return true;
    }
    std::string value;
    if (joined) {
      value = a.substr(name.size() + 1);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      error = Say("%s needs a value", name.c_str());
      return true;
    }
    if (value.empty()) {
      error = Say("%s needs a non-empty value", name.c_str());
      return true;
    }
    error = Apply(s, name, value);
    return true;
  }
  return false;
}

std::string CheckStationOptions(StationOptions& s, bool isStation, bool isReport) {
  for (const std::string& name : s.given) {
    const bool reportOnly = name == "--csv";
    if (reportOnly ? !isReport : !isStation)
      return Say("%s applies to %s only", name.c_str(), reportOnly ? "station-report" : "station");
  }
  if (!isStation) return {};
  const bool anySerial = s.serialStart || s.serialStep || s.serialWidth || s.serialEnd || s.serialEndian ||
                         s.serialOverwrite || s.keepSerial;
  if (!s.serialAt) {
    if (anySerial) return Translate("the serial number options need --serial-at ADDR");
    return {};
  }
  if (!s.serialStart) return Translate("--serial-at needs --serial-start N");
  // The journal is what keeps numbers from repeating: it is named, never assumed.
  if (s.journal.empty()) return Translate("--serial-at needs --journal PATH");
  if (*s.serialAt > UINT32_MAX) return Translate("--serial-at lies past any chip");
  SerialPlan plan;
  plan.address = static_cast<uint32_t>(*s.serialAt);
  plan.width = static_cast<int>(std::min<uint64_t>(s.serialWidth.value_or(4), 99));
  plan.endian = s.serialEndian.value_or(Endian::Little);
  plan.start = *s.serialStart;
  plan.step = s.serialStep.value_or(1);
  plan.end = s.serialEnd;
  plan.overwrite = s.serialOverwrite;
  s.serial = plan;
  return {};
}

}  // namespace quillet::cli::station
