#pragma once
// quillet-virtual-programmer: the simulated programmer served through /dev/uhid, so that the
// kernel makes a real HID device of it (hidraw node, sysfs entries, udev events).
// The options and the service loop are here; the loop talks to any descriptor that behaves as
// /dev/uhid does (one event per read and per write), so tests can drive it over a socket pair.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/BoardControl.h"
#include "sim/SimProgrammer.h"
#include "sim/UhidDevice.h"

namespace quillet::sim {

struct VirtualProgrammerOptions {
  UhidDeviceInfo device;
  SimProgrammerConfig programmer;
  std::chrono::microseconds interval{1000};
  std::optional<std::chrono::milliseconds> duration;  // none: until SIGTERM or SIGINT
  // Remove the device once this many input reports have been sent / output reports taken
  // (negative: never), as a cable pulled in the middle of a read or a write.
  long unplugAfterInput = -1;
  long unplugAfterOutput = -1;
  // Run at real-time priority when allowed: uhid keeps at most 32 events for the device and drops
  // the rest ("Output queue is full"), while a host writes a whole image stream at once, as a
  // real USB device's writes block until it takes each report and uhid's do not.
  bool realtime = true;
  // Serve through this USB gadget HID function node (/dev/hidgN) instead of /dev/uhid.
  std::string gadget;
  // A FIFO the board commands (BoardControl) are read from, made when missing.
  std::string control;
  bool printDescriptor = false;  // write the report descriptor's bytes to stdout and end
  bool help = false;
  std::string error;  // non-empty: the command line was refused
};

VirtualProgrammerOptions ParseVirtualProgrammerOptions(const std::vector<std::string>& args);
std::string VirtualProgrammerUsage();

struct UhidServiceStats {
  bool started = false;
  unsigned long opens = 0;
  unsigned long closes = 0;
  unsigned long outputReports = 0;
  unsigned long inputReports = 0;
  unsigned long unexpectedOutputs = 0;  // not 65 bytes starting with report ID 0
  unsigned long reportRequests = 0;     // GET_REPORT / SET_REPORT, refused
  unsigned long droppedInputs = 0;      // gadget: not taken by the host within a second
};

std::string StatsSummary(const UhidServiceStats& stats);

class UhidService {
 public:
  enum class End { Stopped, DurationOver, Unplugged, DeviceGone, Failed };

  struct Hooks {
    // Called until it returns a node, once the kernel has started the device; then onReady.
    std::function<std::optional<std::string>()> findNode;
    std::function<void(const std::string& node)> onReady;
    std::function<void(const std::string& line)> log;  // diagnostics
    // Commands from outside: a descriptor watched besides the device's (-1: none); `onControl`
    // runs when it is readable and says whether the device stays (false: pull the cable), and
    // `afterOutput` after each output report the model took (report ID byte first).
    int controlFd = -1;
    std::function<bool()> onControl;
    std::function<void(const uint8_t* report, size_t length)> afterOutput;
  };

  UhidService(int uhidFd, SimProgrammer& model, const VirtualProgrammerOptions& options, Hooks hooks);

  // Sends UHID_CREATE2; false with `error` set when the kernel refuses it.
  bool Create(std::string& error);
  // Serves the device until `stopFd` becomes readable (-1: none), the duration is over, the
  // unplug count is reached or the descriptor fails.
  End Run(int stopFd);
  // Sends UHID_DESTROY once; closing the descriptor would too.
  void Destroy();

  const UhidServiceStats& Stats() const { return stats_; }
  std::string Summary() const;

 private:
  bool Send(const uhid_event& ev);
  bool Handle(const UhidMessage& m);

  int fd_;
  SimProgrammer& model_;
  const VirtualProgrammerOptions& options_;
  Hooks hooks_;
  ReportPacer pacer_;
  UhidServiceStats stats_;
  bool created_ = false;
  bool numberedInput_ = false;
  bool announced_ = false;
};

// The programmer behind a USB gadget HID function's node (/dev/hidgN), which a USB device
// controller (dummy_hcd in tests) presents to the host's usbhid driver as a real USB device. Each
// read is one output report as it crossed the bus (the payload alone: usbhid leaves out report
// ID 0), each write one input report.
class GadgetService {
 public:
  GadgetService(int fd, SimProgrammer& model, const VirtualProgrammerOptions& options,
                UhidService::Hooks hooks);
  UhidService::End Run(int stopFd);
  const UhidServiceStats& Stats() const { return stats_; }
  std::string Summary() const;

 private:
  bool Send(const std::vector<uint8_t>& bytes, int stopFd);

  int fd_;
  SimProgrammer& model_;
  const VirtualProgrammerOptions& options_;
  UhidService::Hooks hooks_;
  ReportPacer pacer_;
  UhidServiceStats stats_;
  bool announced_ = false;
};

const char* EndName(UhidService::End end);

// The board commands' FIFO, made when missing and opened for reading and writing, so that it
// never reads as ended when a writer closes it. -1 with `error` set when it cannot be.
int OpenControlFifo(const std::string& path, std::string& error);
// Carries out the commands waiting on `fd`; false when one pulled the cable.
bool ServeControl(int fd, LineSplitter& lines, BoardControl& control);

}  // namespace quillet::sim
