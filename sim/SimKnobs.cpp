#include "sim/SimKnobs.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "component/AtomicFile.h"

namespace quillet::sim {

namespace {

bool Number(const std::string& text, long min, long max, long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 0);
  if (errno || *end || v < min || v > max) return false;
  out = v;
  return true;
}

}  // namespace

SimKnobs ParseSimKnobs(const char* faults, const char* flashFile, std::string& error) {
  SimKnobs k;
  if (flashFile) k.flashFile = flashFile;
  std::stringstream items(faults ? faults : "");
  std::string item;
  while (std::getline(items, item, ',')) {
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    const std::string name = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
    long n = 0;
    uint8_t* reply = name == "connect-reply" ? &k.faults.connectReply
                     : name == "read-reply"  ? &k.faults.readReply
                     : name == "write-reply" ? &k.faults.writeReply
                     : name == "verify-reply" ? &k.faults.verifyReply
                                              : nullptr;
    bool ok = true;
    if (reply) {
      ok = Number(value, 0, 255, n);
      *reply = static_cast<uint8_t>(n);
    } else if (name == "stall-read") {
      ok = Number(value, 0, 1 << 20, n);
      k.faults.stallAfterDataReports = static_cast<int>(n);
    } else if (name == "drop-read") {
      ok = Number(value, 0, 1 << 20, n);
      k.faults.dropDataReport = static_cast<int>(n);
    } else if (name == "takes-output") {
      ok = Number(value, 0, 1 << 20, n);
      k.takesOutputReports = static_cast<int>(n);
    } else if (name == "wrong-check-word" && value.empty()) {
      k.faults.wrongCheckWord = true;
    } else if (name == "corrupt-checksum" && value.empty()) {
      k.faults.corruptChecksum = true;
    } else if (name == "withhold-checksum" && value.empty()) {
      k.faults.withholdChecksum = true;
    } else if (name == "refuse-access" && value.empty()) {
      k.accessRefused = true;
    } else if (name == "no-chip" && value.empty()) {
      k.chipConnected = false;
    } else if (name == "stuck") {
      const size_t a = value.find(':'), b = a == std::string::npos ? a : value.find(':', a + 1);
      long address = 0, zeros = 0, ones = 0;
      ok = b != std::string::npos && Number(value.substr(0, a), 0, 0xFFFFFF, address) &&
           Number(value.substr(a + 1, b - a - 1), 0, 255, zeros) && Number(value.substr(b + 1), 0, 255, ones);
      k.faults.stuckCells.push_back({static_cast<uint32_t>(address), static_cast<uint8_t>(zeros),
                                     static_cast<uint8_t>(ones)});
    } else {
      ok = false;
    }
    if (!ok) {
      error = "QUILLET_SIM_FAULTS: cannot use \"" + item + "\"";
      return k;
    }
  }
  return k;
}

SimKnobs SimKnobsFromEnvironment(std::string& error) {
  return ParseSimKnobs(std::getenv("QUILLET_SIM_FAULTS"), std::getenv("QUILLET_SIM_FLASH"), error);
}

std::string LoadFlashFile(const std::string& file, SimProgrammer& programmer) {
  if (file.empty() || !std::filesystem::exists(file)) return {};
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) return file + ": is a directory";
  // Binary: a text-mode read would change the flash's bytes on Windows.
  std::ifstream in(file, std::ios::binary);
  if (!in) return file + ": " + std::strerror(errno);
  std::vector<uint8_t> flash{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return file + ": read error";
  programmer.SetFlash(flash);
  return {};
}

std::string SaveFlashFile(const std::string& file, const SimProgrammer& programmer) {
  if (file.empty()) return {};
  // Replaced whole: a reader never sees half a chip.
  if (const auto failed = ReplaceFileAtomically(file, programmer.Flash()))
    return file + ": cannot write: " + std::strerror(failed->error);
  return {};
}

}  // namespace quillet::sim
