#include "hex/HexConversion.h"

#include <algorithm>

#include "hex/Chex2bin.h"

namespace quillet {

bool HexConversion::Built() const { return result == CHex2Bin::kSuccess || result == CHex2Bin::kWriteDestError; }

HexConversion ConvertHexImage(std::span<const std::uint8_t> file,
                              const std::optional<std::filesystem::path>& sideFile, std::uint64_t limit) {
  HexConversion c;
  CHex2Bin converter;
  std::uint32_t length = 0;
  c.result = converter.ConvertBytes(file, std::nullopt, &length, nullptr);
  c.length = length;
  if (c.result != CHex2Bin::kLengthOnly) {
    if (converter.FailedRecordOffset >= 0)
      c.failedLine = LineOfOffset(file, static_cast<std::size_t>(converter.FailedRecordOffset));
    return c;
  }
  if (limit != 0 && length > limit) {
    c.result = CHex2Bin::kBufferOverflow;
    return c;
  }
  c.image.resize(length);
  // The measured length as the capacity keeps the fill inside the buffer; an empty image still
  // needs somewhere to go, or the call would only measure.
  std::uint8_t none = 0;
  c.result = converter.ConvertBytes(file, sideFile, &length, length ? c.image.data() : &none);
  c.length = length;
  if (!c.Built()) c.image.clear();
  return c;
}

std::string ConversionMessage(const std::string& path, std::size_t line, std::int32_t result, std::string_view lead) {
  std::string message = path;
  if (line != 0) message += ':' + std::to_string(line);
  message += ": ";
  message += lead;
  message += "result " + std::to_string(result) + ", " + CHex2Bin::ResultMessage(result);
  if (result == CHex2Bin::kEofError) message += " (no end record " + std::string(kIntelHexEndRecord) + ")";
  return message;
}

std::size_t LineOfOffset(std::span<const std::uint8_t> text, std::size_t offset) {
  offset = std::min(offset, text.size());
  return 1 + static_cast<std::size_t>(
                 std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

}  // namespace quillet
