#include "cli/station/SerialNumber.h"

#include <algorithm>
#include <cstdio>

#include "programmer/MessageCatalogue.h"

namespace quillet::cli::station {

namespace {

using logtext::Say;
using logtext::Translate;

// The largest value `width` bytes hold.
uint64_t Largest(int width) { return width >= 8 ? UINT64_MAX : (uint64_t{1} << (8 * width)) - 1; }

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

std::string CheckSerialPlan(const SerialPlan& plan, const std::vector<uint8_t>& image, uint32_t chipSize) {
  if (plan.width < 1 || plan.width > 8) return Translate("--serial-width must be 1 to 8 bytes");
  if (plan.step == 0) return Translate("--serial-step must be at least 1");
  const uint64_t largest = Largest(plan.width);
  const std::string bytes = plan.width == 1 ? Say("%d byte", plan.width) : Say("%d bytes", plan.width);
  if (plan.start > largest)
    return Say("--serial-start %llu does not fit in %s", static_cast<unsigned long long>(plan.start), bytes.c_str());
  if (plan.end && *plan.end > largest)
    return Say("--serial-end %llu does not fit in %s", static_cast<unsigned long long>(*plan.end), bytes.c_str());
  if (plan.end && *plan.end < plan.start) return Translate("--serial-end is below --serial-start");
  if (uint64_t{plan.address} + plan.width > chipSize)
    return Say("the serial number at %s (%s) lies past the chip's %u bytes", Hex(plan.address).c_str(), bytes.c_str(),
               chipSize);
  if (plan.overwrite) return {};
  for (uint64_t a = plan.address; a < uint64_t{plan.address} + plan.width && a < image.size(); ++a)
    if (image[a] != 0xFF)
      return Say("the serial number at %s (%s) would overwrite the image's byte at %s (--serial-overwrite allows it)",
                 Hex(plan.address).c_str(), bytes.c_str(), Hex(a).c_str());
  return {};
}

std::vector<uint8_t> SerialBytes(uint64_t value, int width, Endian endian) {
  std::vector<uint8_t> bytes(static_cast<size_t>(width));
  for (int i = 0; i < width; ++i) {
    const auto byte = static_cast<uint8_t>(value >> (8 * i));
    bytes[endian == Endian::Little ? i : width - 1 - i] = byte;
  }
  return bytes;
}

std::vector<uint8_t> PatchSerial(const std::vector<uint8_t>& image, const SerialPlan& plan, uint64_t value) {
  std::vector<uint8_t> patched = image;
  const size_t end = size_t{plan.address} + static_cast<size_t>(plan.width);
  if (patched.size() < end) patched.resize(end, 0xFF);
  const std::vector<uint8_t> bytes = SerialBytes(value, plan.width, plan.endian);
  std::copy(bytes.begin(), bytes.end(), patched.begin() + plan.address);
  return patched;
}

std::optional<uint64_t> NextSerial(const SerialPlan& plan, std::optional<uint64_t> highestReserved) {
  uint64_t next = plan.start;
  if (highestReserved && *highestReserved >= plan.start) {
    if (*highestReserved > UINT64_MAX - plan.step) return std::nullopt;
    next = *highestReserved + plan.step;
  }
  if (next > Largest(plan.width) || (plan.end && next > *plan.end)) return std::nullopt;
  return next;
}

std::optional<uint64_t> KeptSerial(const std::vector<uint8_t>& flash, const SerialPlan& plan,
                                   const std::set<uint64_t>& issued) {
  const size_t end = size_t{plan.address} + static_cast<size_t>(plan.width);
  if (flash.size() < end) return std::nullopt;
  uint64_t value = 0;
  for (int i = 0; i < plan.width; ++i) {
    const uint8_t byte = flash[plan.address + static_cast<size_t>(plan.endian == Endian::Little ? plan.width - 1 - i : i)];
    value = (value << 8) | byte;
  }
  if (!issued.count(value)) return std::nullopt;
  return value;
}

}  // namespace quillet::cli::station
