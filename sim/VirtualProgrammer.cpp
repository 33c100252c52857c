#include "sim/VirtualProgrammer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "engine/Wire.h"
#include "sim/BoardControl.h"
#include "sim/SimHidModels.h"

namespace quillet::sim {

namespace {

using Clock = std::chrono::steady_clock;

// Decimal, or hexadecimal after 0x or 0X; at most `max`. No sign, blank or other prefix.
bool ParseNumber(std::string_view s, unsigned long long max, unsigned long long& out) {
  int base = 10;
  if (s.size() > 2 && (s.starts_with("0x") || s.starts_with("0X"))) {
    base = 16;
    s.remove_prefix(2);
  }
  unsigned long long v = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (error != std::errc() || end != s.data() + s.size() || v > max) return false;
  out = v;
  return true;
}

bool UnplugDue(const VirtualProgrammerOptions& o, const UhidServiceStats& s) {
  return (o.unplugAfterInput >= 0 && s.inputReports >= static_cast<unsigned long>(o.unplugAfterInput)) ||
         (o.unplugAfterOutput >= 0 && s.outputReports >= static_cast<unsigned long>(o.unplugAfterOutput));
}

// The device's descriptor, the stop descriptor and the control descriptor (-1: not watched).
using Watched = std::array<pollfd, 3>;
Watched Watch(int device, int stopFd, int controlFd) {
  return {pollfd{device, POLLIN, 0}, pollfd{stopFd, POLLIN, 0}, pollfd{controlFd, POLLIN, 0}};
}

// Runs the control hook when its descriptor spoke; false when it asked for the device to go.
bool ControlKeepsDevice(const pollfd& control, const UhidService::Hooks& hooks) {
  return !(control.revents && hooks.onControl) || hooks.onControl();
}

// ppoll until `wake` (time_point::max(): no limit).
int PollUntil(pollfd* fds, nfds_t count, Clock::time_point wake, Clock::time_point now) {
  timespec timeout{};
  timespec* wait = nullptr;
  if (wake != Clock::time_point::max()) {
    const auto left = std::max(Clock::duration::zero(), wake - now);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    wait = &timeout;
  }
  return ::ppoll(fds, count, wait, nullptr);
}

}  // namespace

std::string VirtualProgrammerUsage() {
  return std::string(R"(Usage: quillet-virtual-programmer [OPTIONS]
Serves the simulated nRF24 programmer as a HID device through /dev/uhid: the kernel makes a
hidraw node of it that quillet and quillet-cli open as the real programmer. Needs write access
to /dev/uhid (root) and the uhid module. Prints "ready NODE" when the node exists, and a
summary at the end. Runs until SIGTERM or SIGINT unless told otherwise.

The chip:
  --flash-size 16k|32k       flash of the simulated chip (default 16k)
  --no-chip                  no chip on the connector
  --firmware-type N          identity reply's firmware type (default 3)
  --firmware-version N       identity reply's firmware version (default 12)
Faults:
  --connect-reply B, --read-reply B, --write-reply B, --verify-reply B
                             answer that operation with reply byte B (e.g. 0x85)
  --stall-after N            stop a read-back stream after N data reports
  --drop-report N            leave out data report N (0-based) of each read-back stream
  --wrong-check-word         answer the connect request with a wrong check word
  --corrupt-checksum         send a verify checksum that does not match the flash
  --stuck ADDR:ZERO:ONE      a worn flash byte: bits in ZERO read 0, bits in ONE read 1
The device:
  --name S                   HID name (default "Quillet Virtual Programmer")
  --serial S                 serial number, HID_UNIQ (default "VP0001")
  --phys S                   physical path (default "quillet-virtual-programmer")
  --vendor ID, --product ID  USB IDs (default 0x04d8, 0x003f)
  --version N                device version (default 0x0100)
  --interval-us N            at least N microseconds between input reports (default 1000,
                             one per full-speed frame; 0 sends at once and may lose reports)
  --no-realtime              do not ask for real-time priority (by default it does, so that
                             it takes each output report before the kernel's queue of 32
                             for the device overflows: uhid drops the rest)
Ending:
  --duration S               remove the device after S seconds
  --unplug-after-input N     remove it once N input reports have been sent
  --unplug-after-output N    remove it once N output reports have been taken
Boards from outside:
  --control FIFO             read board commands from FIFO (made when missing), one a line,
                             e.g. echo seat >FIFO; each is answered with a line on stdout,
                             and so are writes ("write started on board N", "write stream
                             ended on board N") and the host's second identity request since
                             the connector changed ("asked twice since board N was seated"
                             or "... removed": a station has then seen the change). Start
                             with --no-chip for an empty connector. The commands:
)" + std::string(BoardControl::Help()) + R"(Other ways:
  --gadget NODE              serve a USB gadget HID function's node (/dev/hidg0) instead of
                             /dev/uhid; the gadget's IDs and serial are set up in configfs
                             and should match --vendor, --product and --serial ("ready" names
                             the host's hidraw node of the device with those)
  --print-descriptor         write the report descriptor's bytes to stdout (for configfs)
  -h, --help                 this text
)");
}

VirtualProgrammerOptions ParseVirtualProgrammerOptions(const std::vector<std::string>& args) {
  VirtualProgrammerOptions o;
  o.device.name = "Quillet Virtual Programmer";
  o.device.serial = "VP0001";
  o.device.phys = "quillet-virtual-programmer";
  o.device.vendor = kProgrammerVendorId;
  o.device.product = kProgrammerProductId;
  o.device.version = 0x0100;
  o.device.descriptor = VendorReportDescriptor64();
  SimProgrammerFaults& f = o.programmer.faults;

  auto fail = [&o](const std::string& why) {
    o.error = why;
    return o;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string value;
    auto next = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    auto number = [&](unsigned long long max, unsigned long long& out) {
      if (!next(value)) return false;
      return ParseNumber(value, max, out);
    };
    unsigned long long n = 0;
    if (a == "-h" || a == "--help") {
      o.help = true;
    } else if (a == "--flash-size") {
      if (!next(value)) return fail("--flash-size needs 16k or 32k");
      if (value == "16k" || value == "16K" || value == "16384") o.programmer.flashSize = 16384;
      else if (value == "32k" || value == "32K" || value == "32768") o.programmer.flashSize = 32768;
      else return fail("--flash-size: 16k or 32k, not " + value);
    } else if (a == "--no-chip") {
      o.programmer.chipConnected = false;
    } else if (a == "--firmware-type" || a == "--firmware-version") {
      if (!number(255, n)) return fail(a + " needs a number 0-255");
      (a == "--firmware-type" ? o.programmer.firmwareType : o.programmer.firmwareVersion) = static_cast<uint8_t>(n);
    } else if (a == "--connect-reply" || a == "--read-reply" || a == "--write-reply" || a == "--verify-reply") {
      if (!number(255, n) || n == 0) return fail(a + " needs a reply byte 1-255, e.g. 0x85");
      uint8_t& reply = a == "--connect-reply" ? f.connectReply
                       : a == "--read-reply"  ? f.readReply
                       : a == "--write-reply" ? f.writeReply
                                              : f.verifyReply;
      reply = static_cast<uint8_t>(n);
    } else if (a == "--stall-after" || a == "--drop-report") {
      if (!number(std::numeric_limits<int>::max(), n)) return fail(a + " needs a count");
      (a == "--stall-after" ? f.stallAfterDataReports : f.dropDataReport) = static_cast<int>(n);
    } else if (a == "--wrong-check-word") {
      f.wrongCheckWord = true;
    } else if (a == "--corrupt-checksum") {
      f.corruptChecksum = true;
    } else if (a == "--stuck") {
      if (!next(value)) return fail("--stuck needs ADDR:ZERO:ONE");
      const size_t c1 = value.find(':');
      const size_t c2 = c1 == std::string::npos ? c1 : value.find(':', c1 + 1);
      unsigned long long addr, zero, one;
      if (c2 == std::string::npos || !ParseNumber(value.substr(0, c1), 0xFFFFFFFF, addr) ||
          !ParseNumber(value.substr(c1 + 1, c2 - c1 - 1), 255, zero) || !ParseNumber(value.substr(c2 + 1), 255, one))
        return fail("--stuck needs ADDR:ZERO:ONE, e.g. 0x100:0x01:0x00, not " + value);
      f.stuckCells.push_back({static_cast<uint32_t>(addr), static_cast<uint8_t>(zero), static_cast<uint8_t>(one)});
    } else if (a == "--name" || a == "--serial" || a == "--phys") {
      if (!next(value)) return fail(a + " needs a text");
      // The kernel's fields: name 128 bytes, phys and uniq 64, each with its terminating zero.
      const size_t limit = a == "--name" ? 127 : 63;
      if (value.size() > limit) return fail(a + ": at most " + std::to_string(limit) + " bytes");
      (a == "--name" ? o.device.name : a == "--serial" ? o.device.serial : o.device.phys) = value;
    } else if (a == "--vendor" || a == "--product") {
      if (!number(0xFFFF, n)) return fail(a + " needs an ID 0-0xffff");
      (a == "--vendor" ? o.device.vendor : o.device.product) = static_cast<uint16_t>(n);
    } else if (a == "--version") {
      if (!number(0xFFFFFFFF, n)) return fail("--version needs a number");
      o.device.version = static_cast<uint32_t>(n);
    } else if (a == "--interval-us") {
      if (!number(10'000'000, n)) return fail("--interval-us needs microseconds, at most 10000000");
      o.interval = std::chrono::microseconds(n);
    } else if (a == "--gadget") {
      if (!next(o.gadget) || o.gadget.empty()) return fail("--gadget needs a device node, e.g. /dev/hidg0");
    } else if (a == "--control") {
      if (!next(o.control) || o.control.empty()) return fail("--control needs a FIFO's path");
    } else if (a == "--print-descriptor") {
      o.printDescriptor = true;
    } else if (a == "--no-realtime") {
      o.realtime = false;
    } else if (a == "--duration") {
      if (!number(86400, n) || n == 0) return fail("--duration needs seconds, 1-86400");
      o.duration = std::chrono::seconds(n);
    } else if (a == "--unplug-after-input" || a == "--unplug-after-output") {
      if (!number(std::numeric_limits<long>::max(), n)) return fail(a + " needs a count");
      (a == "--unplug-after-input" ? o.unplugAfterInput : o.unplugAfterOutput) = static_cast<long>(n);
    } else {
      return fail("unknown option " + a);
    }
  }
  return o;
}

const char* EndName(UhidService::End end) {
  switch (end) {
    case UhidService::End::Stopped: return "stopped";
    case UhidService::End::DurationOver: return "duration over";
    case UhidService::End::Unplugged: return "unplugged";
    case UhidService::End::DeviceGone: return "uhid closed";
    case UhidService::End::Failed: return "failed";
  }
  return "?";
}

UhidService::UhidService(int uhidFd, SimProgrammer& model, const VirtualProgrammerOptions& options, Hooks hooks)
    : fd_(uhidFd), model_(model), options_(options), hooks_(std::move(hooks)), pacer_(options.interval) {}

bool UhidService::Send(const uhid_event& ev) {
  for (;;) {
    const ssize_t n = ::write(fd_, &ev, sizeof ev);
    if (n == static_cast<ssize_t>(sizeof ev)) return true;
    if (n >= 0) {
      errno = EIO;
      return false;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return false;
    pollfd p{fd_, POLLOUT, 0};
    ::poll(&p, 1, 100);
  }
}

bool UhidService::Create(std::string& error) {
  auto ev = EncodeCreate2(options_.device);
  if (!ev) {
    error = "the report descriptor is empty or too long";
    return false;
  }
  if (!Send(*ev)) {
    error = std::strerror(errno);
    return false;
  }
  created_ = true;
  return true;
}

void UhidService::Destroy() {
  if (!created_) return;
  created_ = false;
  Send(EncodeDestroy());
}

bool UhidService::Handle(const UhidMessage& m) {
  switch (m.kind) {
    case UhidMessage::Start:
      stats_.started = true;
      numberedInput_ = (m.deviceFlags & UHID_DEV_NUMBERED_INPUT_REPORTS) != 0;
      break;
    case UhidMessage::Stop: stats_.started = false; break;
    case UhidMessage::Open: ++stats_.opens; break;
    case UhidMessage::Close: ++stats_.closes; break;
    case UhidMessage::Output:
      ++stats_.outputReports;
      // A host writing to a device without report IDs passes ID 0 and the 64 payload bytes.
      if (m.data.size() != kReportSize || m.data[0] != 0) {
        if (++stats_.unexpectedOutputs <= 5 && hooks_.log) {
          char line[96];
          std::snprintf(line, sizeof line, "output report of %zu bytes, first byte 0x%02X", m.data.size(),
                        m.data.empty() ? 0 : m.data[0]);
          hooks_.log(line);
        }
      }
      model_.HandleOutputReport(m.data.data(), m.data.size());
      if (hooks_.afterOutput) hooks_.afterOutput(m.data.data(), m.data.size());
      break;
    case UhidMessage::GetReport:
      ++stats_.reportRequests;
      return Send(EncodeGetReportReply(m.id, EIO));
    case UhidMessage::SetReport:
      ++stats_.reportRequests;
      return Send(EncodeSetReportReply(m.id, EIO));
    case UhidMessage::Other: break;
  }
  return true;
}

UhidService::End UhidService::Run(int stopFd) {
  const auto start = Clock::now();
  const auto deadline = options_.duration ? start + *options_.duration : Clock::time_point::max();
  constexpr auto kNodeSearchStep = std::chrono::milliseconds(10);
  uhid_event ev;
  for (;;) {
    auto now = Clock::now();
    if (now >= deadline) return End::DurationOver;
    SimProgrammer::Report report;
    while (model_.PendingInputReports() > 0 && pacer_.Ready(now)) {
      if (!model_.TakeInputReport(report)) break;
      const auto wire = InputWireBytes(report.data(), report.size(), numberedInput_);
      const auto input = EncodeInput2(wire.data(), wire.size());
      if (!input || !Send(*input)) return End::DeviceGone;
      ++stats_.inputReports;
      pacer_.Sent(now);
      if (UnplugDue(options_, stats_)) return End::Unplugged;
      now = Clock::now();
    }
    if (stats_.started && !announced_ && hooks_.findNode) {
      if (auto node = hooks_.findNode()) {
        announced_ = true;
        if (hooks_.onReady) hooks_.onReady(*node);
      }
    }

    auto wake = deadline;
    if (model_.PendingInputReports() > 0) wake = std::min(wake, pacer_.NextAt());
    if (stats_.started && !announced_ && hooks_.findNode) wake = std::min(wake, now + kNodeSearchStep);
    Watched fds = Watch(fd_, stopFd, hooks_.controlFd);
    const int ready = PollUntil(fds.data(), fds.size(), wake, now);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return End::Failed;
    }
    if (fds[1].revents) return End::Stopped;
    if (!ControlKeepsDevice(fds[2], hooks_)) return End::Unplugged;
    if (fds[0].revents & POLLIN) {
      // Take every queued event now: the kernel's queue for a uhid device holds only 32 and
      // drops what comes after, an image stream among them.
      for (;;) {
        const ssize_t n = ::read(fd_, &ev, sizeof ev);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        if (n <= 0) return End::DeviceGone;
        const auto m = DecodeUhidEvent(&ev, static_cast<size_t>(n));
        if (!m) continue;
        if (!Handle(*m)) return End::DeviceGone;
        if (m->kind == UhidMessage::Output && UnplugDue(options_, stats_)) return End::Unplugged;
      }
    } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      return End::DeviceGone;
    }
  }
}

int OpenControlFifo(const std::string& path, std::string& error) {
  if (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) {
    error = "cannot make " + path + ": " + std::strerror(errno);
    return -1;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) {
    error = path + " is not a FIFO";
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) error = "cannot open " + path + ": " + std::strerror(errno);
  return fd;
}

bool ServeControl(int fd, LineSplitter& lines, BoardControl& control) {
  bool keep = true;
  char buffer[512];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return keep;
    lines.Feed(std::string_view(buffer, static_cast<size_t>(n)),
               [&](std::string_view line) { keep = keep && control.Command(line); });
    if (!keep) return false;
  }
}

std::string UhidService::Summary() const { return StatsSummary(stats_); }

std::string StatsSummary(const UhidServiceStats& s) {
  char text[256];
  std::snprintf(text, sizeof text,
                "opened %lu, closed %lu, output reports %lu (unexpected %lu), input reports %lu (dropped %lu), "
                "report requests %lu",
                s.opens, s.closes, s.outputReports, s.unexpectedOutputs, s.inputReports, s.droppedInputs,
                s.reportRequests);
  return text;
}

GadgetService::GadgetService(int fd, SimProgrammer& model, const VirtualProgrammerOptions& options,
                             UhidService::Hooks hooks)
    : fd_(fd), model_(model), options_(options), hooks_(std::move(hooks)), pacer_(options.interval) {}

std::string GadgetService::Summary() const { return StatsSummary(stats_); }

bool GadgetService::Send(const std::vector<uint8_t>& bytes, int stopFd) {
  // The function takes one report at a time and the next once the host has polled for it; a
  // host that stopped polling (its node closed) gets the report dropped after a second.
  const auto limit = Clock::now() + std::chrono::seconds(1);
  for (;;) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n >= 0) return true;
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - Clock::now()).count();
    if (left <= 0) {
      ++stats_.droppedInputs;
      return true;
    }
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {stopFd, POLLIN, 0}};
    if (::poll(fds, stopFd >= 0 ? 2 : 1, static_cast<int>(left)) < 0 && errno != EINTR) return false;
    if (stopFd >= 0 && fds[1].revents) return true;  // Run sees the stop next
  }
}

UhidService::End GadgetService::Run(int stopFd) {
  using End = UhidService::End;
  const auto start = Clock::now();
  const auto deadline = options_.duration ? start + *options_.duration : Clock::time_point::max();
  constexpr auto kNodeSearchStep = std::chrono::milliseconds(10);
  uint8_t buffer[1 + 1024];
  for (;;) {
    auto now = Clock::now();
    if (now >= deadline) return End::DurationOver;
    SimProgrammer::Report report;
    while (model_.PendingInputReports() > 0 && pacer_.Ready(now)) {
      if (!model_.TakeInputReport(report)) break;
      if (!Send(InputWireBytes(report.data(), report.size(), false), stopFd)) return End::DeviceGone;
      ++stats_.inputReports;
      pacer_.Sent(now);
      if (UnplugDue(options_, stats_)) return End::Unplugged;
      now = Clock::now();
    }
    if (!announced_ && hooks_.findNode) {
      if (auto node = hooks_.findNode()) {
        announced_ = true;
        if (hooks_.onReady) hooks_.onReady(*node);
      }
    }
    auto wake = deadline;
    if (model_.PendingInputReports() > 0) wake = std::min(wake, pacer_.NextAt());
    if (!announced_ && hooks_.findNode) wake = std::min(wake, now + kNodeSearchStep);
    Watched fds = Watch(fd_, stopFd, hooks_.controlFd);
    const int ready = PollUntil(fds.data(), fds.size(), wake, now);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return End::Failed;
    }
    if (fds[1].revents) return End::Stopped;
    if (!ControlKeepsDevice(fds[2], hooks_)) return End::Unplugged;
    if (fds[0].revents & POLLIN) {
      for (;;) {
        // Byte 0 is the report ID the host's transport left out; the model reads it as such.
        const ssize_t n = ::read(fd_, buffer + 1, sizeof buffer - 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        if (n <= 0) return End::DeviceGone;
        buffer[0] = 0;
        ++stats_.outputReports;
        if (n != static_cast<ssize_t>(kPayloadSize) && ++stats_.unexpectedOutputs <= 5 &&
            hooks_.log)
          hooks_.log("output report of " + std::to_string(n) + " bytes on the bus");
        model_.HandleOutputReport(buffer, static_cast<size_t>(n) + 1);
        if (hooks_.afterOutput) hooks_.afterOutput(buffer, static_cast<size_t>(n) + 1);
        if (UnplugDue(options_, stats_)) return End::Unplugged;
      }
    } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      return End::DeviceGone;
    }
  }
}

}  // namespace quillet::sim
