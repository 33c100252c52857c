#include "sim/BoardControl.h"

#include <fstream>
#include <iterator>

#include "engine/Wire.h"

namespace quillet::sim {

std::vector<uint8_t> FactoryFlash(uint32_t size, uint32_t seed) {
  // Whatever the factory left, which the erase must clear.
  std::vector<uint8_t> flash(size);
  uint32_t x = seed * 2654435761u;
  for (uint8_t& b : flash) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 24);
  }
  return flash;
}

BoardControl::BoardControl(SimProgrammer& model, uint32_t flashSize, bool chipOn, uint32_t seed,
                           SimProgrammerFaults faults, Say say)
    : model_(model),
      flashSize_(flashSize),
      seed_(seed),
      faults_(std::move(faults)),
      say_(std::move(say)),
      seated_(chipOn),
      boards_(chipOn ? 1 : 0) {}

const char* BoardControl::Help() {
  return R"(  seat [FILE]                a board on the connector: a fresh chip holding what the factory
                             left (a pattern of its own per board), or FILE's bytes (the rest
                             0xFF); answers "seated board N"
  remove [FILE]              the board off the connector, saving what its flash holds to FILE;
                             answers "removed board N"
  hang                       from now on a write takes the whole image and never answers, as a
                             stuck fixture does; answers "writes hang"
  answer                     writes answer again; answers "writes answer"
  unplug                     removes the device (the cable pulled); answers "unplugging"
)";
}

namespace {

std::string_view Word(std::string_view& rest) {
  const size_t start = rest.find_first_not_of(" \t");
  if (start == std::string_view::npos) {
    rest = {};
    return {};
  }
  rest.remove_prefix(start);
  const size_t end = rest.find_first_of(" \t");
  const std::string_view word = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
  return word;
}

// The rest of the line without the blanks around it: a file name may hold blanks inside.
std::string_view Trimmed(std::string_view s) {
  const size_t start = s.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  return s.substr(start, s.find_last_not_of(" \t") - start + 1);
}

}  // namespace

bool BoardControl::Command(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::string_view rest = line;
  const std::string_view command = Word(rest);
  const std::string file(Trimmed(rest));
  if (command.empty()) return true;
  if (command == "seat") {
    if (seated_) {
      say_("error: board " + std::to_string(boards_) + " is seated; remove it first");
      return true;
    }
    std::vector<uint8_t> flash;
    if (file.empty()) {
      flash = FactoryFlash(flashSize_, seed_ + static_cast<uint32_t>(boards_) + 1);
    } else {
      std::ifstream in(file, std::ios::binary);
      flash.assign(std::istreambuf_iterator<char>(in), {});
      if (!in.good() && !in.eof()) {
        say_("error: cannot read " + file);
        return true;
      }
      if (flash.size() > flashSize_) {
        say_("error: " + file + " is larger than the flash (" + std::to_string(flashSize_) + " bytes)");
        return true;
      }
      flash.resize(flashSize_, 0xFF);
    }
    model_.SetFlash(flash);
    model_.SetChipConnected(true);
    seated_ = true;
    asked_ = 0;
    say_("seated board " + std::to_string(++boards_));
  } else if (command == "remove") {
    if (!seated_) {
      say_("error: no board is seated");
      return true;
    }
    model_.SetChipConnected(false);
    seated_ = false;
    asked_ = 0;
    std::string saved;
    if (!file.empty()) {
      const std::vector<uint8_t> flash = model_.Flash();
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
      out.close();
      saved = out ? ", saved to " + file : ", not saved: cannot write " + file;
    }
    say_("removed board " + std::to_string(boards_) + saved);
  } else if ((command == "hang" || command == "answer") && file.empty()) {
    SimProgrammerFaults faults = faults_;
    faults.withholdChecksum = command == "hang";
    model_.SetFaults(faults);
    say_(command == "hang" ? "writes hang" : "writes answer");
  } else if (command == "unplug" && file.empty()) {
    say_("unplugging");
    return false;
  } else {
    say_("error: unknown command: " + std::string(line));
  }
  return true;
}

void BoardControl::AfterOutput(const uint8_t* report, size_t length) {
  const bool writing = model_.PendingImageReports() > 0;
  if (writing != writing_) {
    writing_ = writing;
    say_(writing ? "write started on board " + std::to_string(boards_)
                 : "write stream ended on board " + std::to_string(boards_));
  }
  if (!writing && length > 1 && report[1] == OP_CONNECT && ++asked_ == 2)
    say_("asked twice since board " + std::to_string(boards_) + (seated_ ? " was seated" : " was removed"));
}

void LineSplitter::Feed(std::string_view bytes, const std::function<void(std::string_view)>& line) {
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, end);
    if (!overlong_) {
      pending_.append(piece.substr(0, kLongest - pending_.size()));
      if (pending_.size() == kLongest && end == std::string_view::npos) overlong_ = true;
    }
    if (end == std::string_view::npos) return;
    bytes.remove_prefix(end + 1);
    line(pending_);
    pending_.clear();
    overlong_ = false;
  }
}

}  // namespace quillet::sim
