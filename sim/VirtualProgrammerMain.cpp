// quillet-virtual-programmer: see VirtualProgrammer.h and --help.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sim/VirtualProgrammer.h"

namespace {
constexpr char kProgram[] = "quillet-virtual-programmer";
}

int main(int argc, char** argv) {
  using namespace quillet::sim;
  const VirtualProgrammerOptions o = ParseVirtualProgrammerOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (o.help) {
    std::fputs(VirtualProgrammerUsage().c_str(), stdout);
    return 0;
  }
  if (!o.error.empty()) {
    std::fprintf(stderr, "%s: %s (--help shows the usage)\n", kProgram, o.error.c_str());
    return 2;
  }
  if (o.printDescriptor) {
    const auto& d = o.device.descriptor;
    return std::fwrite(d.data(), 1, d.size(), stdout) == d.size() && std::fflush(stdout) == 0 ? 0 : 1;
  }

  // The signals end the loop through a descriptor, so the device is always destroyed cleanly.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  const int signals = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);

  if (o.realtime) {
    sched_param param{};
    param.sched_priority = 10;
    if (sched_setscheduler(0, SCHED_FIFO, &param) != 0)
      std::fprintf(stderr, "%s: no real-time priority (%s); a fast writer may overflow uhid's queue\n", kProgram,
                   std::strerror(errno));
  }

  SimProgrammer model(o.programmer);
  UhidService::Hooks hooks;
  hooks.findNode = [&o] {
    return FindHidrawNode("/sys", "/dev", o.device.bus, o.device.vendor, o.device.product, o.device.serial);
  };
  hooks.onReady = [](const std::string& node) {
    std::printf("ready %s\n", node.c_str());
    std::fflush(stdout);
  };
  hooks.log = [](const std::string& line) { std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str()); };

  // Boards seated and removed from outside, each board's flash its own.
  const auto say = [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  };
  uint32_t seed = 0;
  for (const char c : o.device.serial) seed = seed * 31 + static_cast<unsigned char>(c);
  BoardControl board(model, o.programmer.flashSize, o.programmer.chipConnected, seed, o.programmer.faults, say);
  LineSplitter commands;
  int control = -1;
  if (!o.control.empty()) {
    std::string error;
    control = OpenControlFifo(o.control, error);
    if (control < 0) {
      std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
      return 1;
    }
    hooks.controlFd = control;
    hooks.onControl = [&] { return ServeControl(control, commands, board); };
    hooks.afterOutput = [&board](const uint8_t* report, size_t length) { board.AfterOutput(report, length); };
  }

  const std::string path = o.gadget.empty() ? "/dev/uhid" : o.gadget;
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int e = errno;
    std::fprintf(stderr, "%s: cannot open %s: %s%s\n", kProgram, path.c_str(), std::strerror(e),
                 e == EACCES || e == EPERM        ? " (run it as root)"
                 : e == ENOENT && o.gadget.empty() ? " (load the uhid module: modprobe uhid)"
                                                   : "");
    return 1;
  }

  UhidService::End end;
  std::string summary;
  if (!o.gadget.empty()) {
    GadgetService service(fd, model, o, hooks);
    end = service.Run(signals);
    summary = service.Summary();
  } else {
    UhidService service(fd, model, o, hooks);
    std::string error;
    if (!service.Create(error)) {
      std::fprintf(stderr, "%s: the kernel refused the device: %s\n", kProgram, error.c_str());
      ::close(fd);
      return 1;
    }
    end = service.Run(signals);
    service.Destroy();
    summary = service.Summary();
  }
  ::close(fd);
  if (control >= 0) ::close(control);
  std::printf("ended (%s): %s\n", EndName(end), summary.c_str());
  std::fflush(stdout);
  return end == UhidService::End::Failed || end == UhidService::End::DeviceGone ? 1 : 0;
}
