// The virtual programmer without /dev/uhid: its events as the kernel's structures, the pacing, the
// node search over a sysfs tree of our own, the options, and the service loop over a socket pair
// that plays the kernel's side (one event per read and per write, as /dev/uhid).
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "engine/Wire.h"
#include "sim/SimHidModels.h"
#include "sim/UhidDevice.h"
#include "sim/VirtualProgrammer.h"

namespace quillet::sim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

UhidDeviceInfo SampleDevice() {
  UhidDeviceInfo d;
  d.name = "Quillet Virtual Programmer";
  d.phys = "vp/1";
  d.serial = "VP0001";
  d.vendor = 0x04D8;
  d.product = 0x003F;
  d.version = 0x0102;
  d.descriptor = VendorReportDescriptor64();
  return d;
}

TEST(UhidEncode, Create2CarriesIdsStringsAndDescriptor) {
  const auto ev = EncodeCreate2(SampleDevice());
  ASSERT_TRUE(ev);
  EXPECT_EQ(ev->type, static_cast<uint32_t>(UHID_CREATE2));
  const auto& c = ev->u.create2;
  EXPECT_STREQ(reinterpret_cast<const char*>(c.name), "Quillet Virtual Programmer");
  EXPECT_STREQ(reinterpret_cast<const char*>(c.phys), "vp/1");
  EXPECT_STREQ(reinterpret_cast<const char*>(c.uniq), "VP0001");
  EXPECT_EQ(c.bus, 0x03);  // BUS_USB
  EXPECT_EQ(c.vendor, 0x04D8u);
  EXPECT_EQ(c.product, 0x003Fu);
  EXPECT_EQ(c.version, 0x0102u);
  const auto rd = VendorReportDescriptor64();
  ASSERT_EQ(c.rd_size, rd.size());
  EXPECT_EQ(0, std::memcmp(c.rd_data, rd.data(), rd.size()));
  EXPECT_EQ(c.rd_data[rd.size()], 0);
}

TEST(UhidEncode, Create2CutsLongStringsAndRefusesBadDescriptors) {
  UhidDeviceInfo d = SampleDevice();
  d.serial = std::string(100, 'S');
  d.name = std::string(200, 'N');
  const auto ev = EncodeCreate2(d);
  ASSERT_TRUE(ev);
  EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(ev->u.create2.uniq)), 63u);
  EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(ev->u.create2.name)), 127u);
  d.descriptor.clear();
  EXPECT_FALSE(EncodeCreate2(d));
  d.descriptor.assign(HID_MAX_DESCRIPTOR_SIZE + 1, 0);
  EXPECT_FALSE(EncodeCreate2(d));
  d.descriptor.assign(HID_MAX_DESCRIPTOR_SIZE, 0);
  EXPECT_TRUE(EncodeCreate2(d));
}

TEST(UhidEncode, Input2AndReplies) {
  uint8_t data[64];
  for (int i = 0; i < 64; ++i) data[i] = static_cast<uint8_t>(i + 1);
  const auto ev = EncodeInput2(data, sizeof data);
  ASSERT_TRUE(ev);
  EXPECT_EQ(ev->type, static_cast<uint32_t>(UHID_INPUT2));
  EXPECT_EQ(ev->u.input2.size, 64);
  EXPECT_EQ(0, std::memcmp(ev->u.input2.data, data, 64));
  EXPECT_EQ(ev->u.input2.data[64], 0);
  std::vector<uint8_t> big(UHID_DATA_MAX + 1, 0);
  EXPECT_FALSE(EncodeInput2(big.data(), big.size()));
  EXPECT_TRUE(EncodeInput2(big.data(), UHID_DATA_MAX));

  EXPECT_EQ(EncodeDestroy().type, static_cast<uint32_t>(UHID_DESTROY));
  const uhid_event g = EncodeGetReportReply(77, EIO);
  EXPECT_EQ(g.type, static_cast<uint32_t>(UHID_GET_REPORT_REPLY));
  EXPECT_EQ(g.u.get_report_reply.id, 77u);
  EXPECT_EQ(g.u.get_report_reply.err, EIO);
  EXPECT_EQ(g.u.get_report_reply.size, 0);
  const uhid_event s = EncodeSetReportReply(78, 0);
  EXPECT_EQ(s.type, static_cast<uint32_t>(UHID_SET_REPORT_REPLY));
  EXPECT_EQ(s.u.set_report_reply.id, 78u);
  EXPECT_EQ(s.u.set_report_reply.err, 0);
}

uhid_event Event(uint32_t type) {
  uhid_event ev;
  std::memset(&ev, 0, sizeof ev);
  ev.type = type;
  return ev;
}

uhid_event OutputEvent(const std::vector<uint8_t>& bytes) {
  uhid_event ev = Event(UHID_OUTPUT);
  std::memcpy(ev.u.output.data, bytes.data(), bytes.size());
  ev.u.output.size = static_cast<__u16>(bytes.size());
  ev.u.output.rtype = UHID_OUTPUT_REPORT;
  return ev;
}

TEST(UhidDecode, OutputCarriesTheBytesTheHostWrote) {
  std::vector<uint8_t> report(65, 0);
  report[1] = 0x01;
  report[3] = 0x02;
  const uhid_event ev = OutputEvent(report);
  const auto m = DecodeUhidEvent(&ev, sizeof ev);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->kind, UhidMessage::Output);
  EXPECT_EQ(m->reportType, UHID_OUTPUT_REPORT);
  EXPECT_EQ(m->data, report);
}

TEST(UhidDecode, RefusesShortEventsAndBadSizes) {
  uhid_event ev = OutputEvent(std::vector<uint8_t>(65, 0));
  EXPECT_FALSE(DecodeUhidEvent(&ev, 3));
  EXPECT_FALSE(DecodeUhidEvent(&ev, sizeof(__u32) + 10));  // the output's fields cut off
  ev.u.output.size = UHID_DATA_MAX + 1;
  EXPECT_FALSE(DecodeUhidEvent(&ev, sizeof ev));
  EXPECT_FALSE(DecodeUhidEvent(nullptr, sizeof ev));
  // An event with no fields needs only its type.
  const uhid_event open = Event(UHID_OPEN);
  const auto m = DecodeUhidEvent(&open, sizeof(__u32));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->kind, UhidMessage::Open);
}

TEST(UhidDecode, StartRequestsAndOthers) {
  uhid_event start = Event(UHID_START);
  start.u.start.dev_flags = UHID_DEV_NUMBERED_INPUT_REPORTS;
  auto m = DecodeUhidEvent(&start, sizeof start);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->kind, UhidMessage::Start);
  EXPECT_EQ(m->deviceFlags, static_cast<uint64_t>(UHID_DEV_NUMBERED_INPUT_REPORTS));

  uhid_event get = Event(UHID_GET_REPORT);
  get.u.get_report.id = 9;
  get.u.get_report.rnum = 2;
  get.u.get_report.rtype = UHID_FEATURE_REPORT;
  m = DecodeUhidEvent(&get, sizeof get);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->kind, UhidMessage::GetReport);
  EXPECT_EQ(m->id, 9u);
  EXPECT_EQ(m->reportNumber, 2);
  EXPECT_EQ(m->reportType, UHID_FEATURE_REPORT);

  uhid_event set = Event(UHID_SET_REPORT);
  set.u.set_report.id = 10;
  set.u.set_report.size = 3;
  set.u.set_report.data[0] = 5;
  set.u.set_report.data[2] = 7;
  m = DecodeUhidEvent(&set, sizeof set);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->kind, UhidMessage::SetReport);
  EXPECT_EQ(m->id, 10u);
  EXPECT_EQ(m->data, (std::vector<uint8_t>{5, 0, 7}));

  for (uint32_t type : {uint32_t(UHID_STOP), uint32_t(UHID_CLOSE), uint32_t(999)}) {
    const uhid_event e = Event(type);
    m = DecodeUhidEvent(&e, sizeof e);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->type, type);
    EXPECT_EQ(m->kind, type == UHID_STOP ? UhidMessage::Stop
                       : type == UHID_CLOSE ? UhidMessage::Close
                                            : UhidMessage::Other);
  }
}

TEST(UhidWire, UnnumberedInputLeavesOutTheReportId) {
  std::vector<uint8_t> report(65);
  for (size_t i = 0; i < report.size(); ++i) report[i] = static_cast<uint8_t>(i);
  const auto bare = InputWireBytes(report.data(), report.size(), false);
  ASSERT_EQ(bare.size(), 64u);
  EXPECT_EQ(bare.front(), 1);
  EXPECT_EQ(bare.back(), 64);
  EXPECT_EQ(InputWireBytes(report.data(), report.size(), true), report);
  EXPECT_TRUE(InputWireBytes(nullptr, 0, false).empty());
}

TEST(UhidPacer, OneReportPerInterval) {
  ReportPacer pacer(1000us);
  const ReportPacer::Clock::time_point t0{std::chrono::seconds(100)};
  EXPECT_TRUE(pacer.Ready(t0));  // the first goes at once
  pacer.Sent(t0);
  EXPECT_FALSE(pacer.Ready(t0));
  EXPECT_FALSE(pacer.Ready(t0 + 999us));
  EXPECT_TRUE(pacer.Ready(t0 + 1000us));
  EXPECT_EQ(pacer.NextAt(), t0 + 1000us);
  // Late sends do not earn a burst: the next one is an interval after the late one.
  pacer.Sent(t0 + 5000us);
  EXPECT_FALSE(pacer.Ready(t0 + 5500us));
  EXPECT_TRUE(pacer.Ready(t0 + 6000us));
}

TEST(UhidPacer, ZeroIntervalSendsAtOnce) {
  ReportPacer pacer(0us);
  const ReportPacer::Clock::time_point t0{std::chrono::seconds(1)};
  pacer.Sent(t0);
  EXPECT_TRUE(pacer.Ready(t0));
}

// A sysfs tree as the kernel lays out uhid devices: /sys/class/hidraw/hidrawN is a link into the
// HID device's hidraw folder, and its "device" link leads back to the HID device.
class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("uhid-test-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "sys/class/hidraw");
    fs::create_directories(root_ / "dev");
  }
  void TearDown() override { fs::remove_all(root_); }

  void AddDevice(const std::string& hidName, const std::string& node, const std::string& id, const std::string& uniq,
                 bool withNode = true) {
    const fs::path hid = root_ / "sys/devices/virtual/misc/uhid" / hidName;
    fs::create_directories(hid / "hidraw" / node);
    std::ofstream(hid / "uevent") << "DRIVER=hid-generic\nHID_ID=" << id << "\nHID_NAME=x\nHID_PHYS=p\nHID_UNIQ=" << uniq
                                  << "\nMODALIAS=hid:b0003\n";
    fs::create_directory_symlink(hid, hid / "hidraw" / node / "device");
    fs::create_directory_symlink(hid / "hidraw" / node, root_ / "sys/class/hidraw" / node);
    if (withNode) std::ofstream(root_ / "dev" / node) << "";
  }
  std::optional<std::string> Find(const std::string& uniq, uint16_t product = 0x003F) {
    return FindHidrawNode((root_ / "sys").string(), (root_ / "dev").string(), 3, 0x04D8, product, uniq);
  }
  std::string Dev(const std::string& node) { return (root_ / "dev" / node).string(); }

  fs::path root_;
};

TEST_F(FakeSysfs, FindsTheNodeByIdsAndSerial) {
  AddDevice("0003:04D8:0040.0001", "hidraw0", "0003:000004D8:00000040", "VP0001");
  AddDevice("0003:04D8:003F.0002", "hidraw1", "0003:000004D8:0000003F", "OTHER");
  AddDevice("0003:04D8:003F.0003", "hidraw2", "0003:000004D8:0000003F", "VP0001");
  EXPECT_EQ(Find("VP0001"), Dev("hidraw2"));
  EXPECT_EQ(Find("OTHER"), Dev("hidraw1"));
  EXPECT_EQ(Find("VP0001", 0x0040), Dev("hidraw0"));
  EXPECT_FALSE(Find("NONE"));
}

TEST_F(FakeSysfs, WaitsForTheDeviceNode) {
  AddDevice("0003:04D8:003F.0001", "hidraw0", "0003:000004D8:0000003F", "VP0001", false);
  EXPECT_FALSE(Find("VP0001"));
  std::ofstream(root_ / "dev/hidraw0") << "";
  EXPECT_EQ(Find("VP0001"), Dev("hidraw0"));
}

TEST_F(FakeSysfs, NewestOfTwoWithTheSameSerialWins) {
  // hidraw minors are reused; the HID sequence number is not (hex: 0x0A > 0x09).
  AddDevice("0003:04D8:003F.000A", "hidraw0", "0003:000004D8:0000003F", "VP0001");
  AddDevice("0003:04D8:003F.0009", "hidraw1", "0003:000004D8:0000003F", "VP0001");
  EXPECT_EQ(Find("VP0001"), Dev("hidraw0"));
}

// The sequence number is the hex number after the directory name's last dot; a name without
// one, or with anything but hex digits there, has none (and loses to any that has one). A number
// whose digits before the last exceed 2^40 counts as none too.
TEST_F(FakeSysfs, SequenceNumbersAreHexAfterTheLastDot) {
  struct Row {
    const char* suffix;  // after "rowN."; nullptr: no dot at all
    bool beatsOne;       // beats a device whose sequence number is 1
  };
  const Row rows[] = {
      {"000A", true},
      {"a", true},
      {"0002", true},
      {"0000000000000000000000000002", true},
      {"10000000000F", true},  // 2^44 + 15: 2^40 before the last digit
      {"100000000010", false},  // 2^44 + 16: 2^40 + 1 before the last digit
      {"FFFFFFFFFFFFFFFFF", false},  // beyond 64 bits
      {"0000", false},
      {"", false},
      {"G1", false},
      {"-5", false},
      {"+5", false},
      {" 5", false},
      {"5 ", false},
      {"0x5", false},
      {nullptr, false},
  };
  int row = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.suffix ? r.suffix : "(no dot)");
    const std::string uniq = "ROW" + std::to_string(row);
    const std::string name = "row" + std::to_string(row);
    const std::string one = "hidraw" + std::to_string(2 * row);
    const std::string other = "hidraw" + std::to_string(2 * row + 1);
    AddDevice(name + ".0001", one, "0003:000004D8:0000003F", uniq);
    AddDevice(r.suffix ? name + "x." + r.suffix : name + "x", other, "0003:000004D8:0000003F", uniq);
    EXPECT_EQ(Find(uniq), Dev(r.beatsOne ? other : one));
    ++row;
  }
}

TEST(VirtualProgrammerOptions, Defaults) {
  const auto o = ParseVirtualProgrammerOptions({});
  EXPECT_TRUE(o.error.empty());
  EXPECT_FALSE(o.help);
  EXPECT_EQ(o.device.vendor, 0x04D8);
  EXPECT_EQ(o.device.product, 0x003F);
  EXPECT_EQ(o.device.bus, 0x03);
  EXPECT_EQ(o.device.descriptor, VendorReportDescriptor64());
  EXPECT_FALSE(o.device.serial.empty());
  EXPECT_EQ(o.interval, 1000us);
  EXPECT_FALSE(o.duration);
  EXPECT_EQ(o.programmer.flashSize, 16384u);
  EXPECT_TRUE(o.programmer.chipConnected);
  EXPECT_EQ(o.unplugAfterInput, -1);
  EXPECT_EQ(o.unplugAfterOutput, -1);
  EXPECT_TRUE(o.realtime);
}

TEST(VirtualProgrammerOptions, EveryOption) {
  const auto o = ParseVirtualProgrammerOptions(
      {"--flash-size", "32k", "--no-chip", "--firmware-type", "4", "--firmware-version", "0x10", "--connect-reply",
       "0x81", "--read-reply", "0x85", "--write-reply", "134", "--verify-reply", "0x87", "--stall-after", "12",
       "--drop-report", "3", "--wrong-check-word", "--corrupt-checksum", "--stuck", "0x100:0x01:0x80", "--name", "Other",
       "--serial", "X2", "--phys", "p2", "--vendor", "0x1234", "--product", "0x5678", "--version", "0x0200",
       "--interval-us", "0", "--no-realtime", "--duration", "5", "--unplug-after-input", "100", "--unplug-after-output", "50"});
  ASSERT_TRUE(o.error.empty()) << o.error;
  EXPECT_EQ(o.programmer.flashSize, 32768u);
  EXPECT_FALSE(o.programmer.chipConnected);
  EXPECT_EQ(o.programmer.firmwareType, 4);
  EXPECT_EQ(o.programmer.firmwareVersion, 0x10);
  const auto& f = o.programmer.faults;
  EXPECT_EQ(f.connectReply, 0x81);
  EXPECT_EQ(f.readReply, 0x85);
  EXPECT_EQ(f.writeReply, 134);
  EXPECT_EQ(f.verifyReply, 0x87);
  EXPECT_EQ(f.stallAfterDataReports, 12);
  EXPECT_EQ(f.dropDataReport, 3);
  EXPECT_TRUE(f.wrongCheckWord);
  EXPECT_TRUE(f.corruptChecksum);
  ASSERT_EQ(f.stuckCells.size(), 1u);
  EXPECT_EQ(f.stuckCells[0].address, 0x100u);
  EXPECT_EQ(f.stuckCells[0].stuckAtZero, 0x01);
  EXPECT_EQ(f.stuckCells[0].stuckAtOne, 0x80);
  EXPECT_EQ(o.device.name, "Other");
  EXPECT_EQ(o.device.serial, "X2");
  EXPECT_EQ(o.device.phys, "p2");
  EXPECT_EQ(o.device.vendor, 0x1234);
  EXPECT_EQ(o.device.product, 0x5678);
  EXPECT_EQ(o.device.version, 0x0200u);
  EXPECT_EQ(o.interval, 0us);
  ASSERT_TRUE(o.duration);
  EXPECT_EQ(*o.duration, 5s);
  EXPECT_EQ(o.unplugAfterInput, 100);
  EXPECT_EQ(o.unplugAfterOutput, 50);
  EXPECT_FALSE(o.realtime);
}

TEST(VirtualProgrammerOptions, RefusesBadValues) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--flash-size", "8k"},
           {"--flash-size"},
           {"--vendor", "0x10000"},
           {"--read-reply", "0"},
           {"--read-reply", "256"},
           {"--stuck", "0x100:1"},
           {"--stuck", "0x100:0x100:0"},
           {"--serial", std::string(64, 'x')},
           {"--name", std::string(128, 'x')},
           {"--duration", "0"},
           {"--interval-us", "-1"},
           {"--unplug-after-input", "many"},
           {"--bogus"}}) {
    EXPECT_FALSE(ParseVirtualProgrammerOptions(args).error.empty()) << args[0];
  }
  EXPECT_TRUE(ParseVirtualProgrammerOptions({"--serial", std::string(63, 'x')}).error.empty());
  EXPECT_TRUE(ParseVirtualProgrammerOptions({"--help"}).help);
}

// Numbers are decimal, or hexadecimal after 0x or 0X: no sign, blank or other prefix, and
// never above the option's largest value (--vendor: 0xffff, --version: 0xffffffff,
// --unplug-after-input: the largest long).
TEST(VirtualProgrammerOptions, NumbersAreDecimalOrHexAfter0x) {
  struct Row {
    const char* option;
    const char* text;
    bool accepted;
    unsigned long long value;
  };
  const Row rows[] = {
      {"--vendor", "65535", true, 65535},
      {"--vendor", "0xffff", true, 0xFFFF},
      {"--vendor", "0XFFFF", true, 0xFFFF},
      {"--vendor", "0x0000FFFF", true, 0xFFFF},
      {"--vendor", "00012", true, 12},
      {"--vendor", "0", true, 0},
      {"--vendor", "0x0", true, 0},
      {"--vendor", "65536", false, 0},
      {"--vendor", "0x10000", false, 0},
      {"--vendor", "", false, 0},
      {"--vendor", "0x", false, 0},
      {"--vendor", "0X", false, 0},
      {"--vendor", "0x-1", false, 0},
      {"--vendor", "0x+1", false, 0},
      {"--vendor", "+1", false, 0},
      {"--vendor", "-1", false, 0},
      {"--vendor", " 1", false, 0},
      {"--vendor", "1 ", false, 0},
      {"--vendor", "ff", false, 0},
      {"--vendor", "0b1", false, 0},
      {"--vendor", "1e3", false, 0},
      {"--vendor", "0x1g", false, 0},
      {"--vendor", "99999999999999999999999", false, 0},
      {"--version", "4294967295", true, 4294967295u},
      {"--version", "0xFFFFFFFF", true, 0xFFFFFFFFu},
      {"--version", "4294967296", false, 0},
      {"--version", "0x100000000", false, 0},
      {"--unplug-after-input", "9223372036854775807", true, 9223372036854775807ull},
      {"--unplug-after-input", "9223372036854775808", false, 0},
      {"--unplug-after-input", "18446744073709551615", false, 0},
      {"--unplug-after-input", "18446744073709551616", false, 0},
      {"--unplug-after-input", "0xFFFFFFFFFFFFFFFFF", false, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.option) + " '" + r.text + "'");
    const auto o = ParseVirtualProgrammerOptions({r.option, r.text});
    EXPECT_EQ(o.error.empty(), r.accepted) << o.error;
    if (!r.accepted || !o.error.empty()) continue;
    const std::string option = r.option;
    const unsigned long long got = option == "--vendor"    ? o.device.vendor
                                   : option == "--version" ? o.device.version
                                                           : static_cast<unsigned long long>(o.unplugAfterInput);
    EXPECT_EQ(got, r.value);
  }
}

// The kernel's side of /dev/uhid over a SOCK_SEQPACKET pair: one event per message.
class UhidServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int sv[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv));
    device_ = sv[0];
    kernel_ = sv[1];
    ASSERT_EQ(0, ::fcntl(device_, F_SETFL, O_NONBLOCK));
    stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  }
  void TearDown() override {
    if (thread_.joinable()) {
      Stop();
      thread_.join();
    }
    ::close(device_);
    ::close(kernel_);
    ::close(stop_);
  }

  void Start(UhidService& service) {
    std::string error;
    ASSERT_TRUE(service.Create(error)) << error;
    thread_ = std::thread([this, &service] { end_ = service.Run(stop_); });
  }
  void Stop() {
    const uint64_t one = 1;
    ASSERT_EQ(static_cast<ssize_t>(sizeof one), ::write(stop_, &one, sizeof one));
  }
  UhidService::End Join() {
    thread_.join();
    return end_;
  }
  void Send(const uhid_event& ev) { ASSERT_EQ(static_cast<ssize_t>(sizeof ev), ::write(kernel_, &ev, sizeof ev)); }
  // The next event the device sent; type 0xFFFFFFFF when none came within 5 s.
  uhid_event Receive() {
    uhid_event ev;
    std::memset(&ev, 0, sizeof ev);
    pollfd p{kernel_, POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1 || ::read(kernel_, &ev, sizeof ev) != static_cast<ssize_t>(sizeof ev))
      ev.type = 0xFFFFFFFF;
    return ev;
  }
  static std::vector<uint8_t> Report(std::initializer_list<uint8_t> payload) {
    std::vector<uint8_t> r(65, 0);
    std::copy(payload.begin(), payload.end(), r.begin() + 1);
    return r;
  }
  static std::vector<uint8_t> ReadTask(uint32_t size) {
    std::vector<uint8_t> r(65, 0);
    r[1 + ProgrammerTask::kOp] = OP_READ;
    StoreU32(&r[1 + ProgrammerTask::kSize], size);
    return r;
  }

  int device_ = -1;
  int kernel_ = -1;
  int stop_ = -1;
  std::thread thread_;
  UhidService::End end_ = UhidService::End::Failed;
};

TEST_F(UhidServiceTest, CreatesAnswersAndStops) {
  VirtualProgrammerOptions o = ParseVirtualProgrammerOptions({"--interval-us", "0"});
  SimProgrammer model(o.programmer);
  std::string readyNode;
  UhidService::Hooks hooks;
  hooks.findNode = [] { return std::optional<std::string>("/dev/hidraw7"); };
  hooks.onReady = [&readyNode](const std::string& node) { readyNode = node; };
  UhidService service(device_, model, o, hooks);
  Start(service);

  const uhid_event create = Receive();
  ASSERT_EQ(create.type, static_cast<uint32_t>(UHID_CREATE2));
  EXPECT_EQ(create.u.create2.vendor, 0x04D8u);
  EXPECT_EQ(create.u.create2.product, 0x003Fu);

  Send(Event(UHID_START));
  Send(Event(UHID_OPEN));
  // The connect request as the host writes it: report ID 0, then the payload.
  Send(OutputEvent(Report({0x01, 0x00, 0x02, 0x02, 0x04, 0x00})));
  const uhid_event identity = Receive();
  ASSERT_EQ(identity.type, static_cast<uint32_t>(UHID_INPUT2));
  ASSERT_EQ(identity.u.input2.size, 64);  // no report ID on the wire
  EXPECT_EQ(identity.u.input2.data[0], OP_CONNECT);
  EXPECT_EQ(identity.u.input2.data[1], 1);   // chip connected
  EXPECT_EQ(identity.u.input2.data[2], 3);   // firmware type
  EXPECT_EQ(identity.u.input2.data[3], 12);  // firmware version
  EXPECT_EQ(identity.u.input2.data[4], 4);   // check word, low byte
  EXPECT_EQ(identity.u.input2.data[5], 0);

  uhid_event get = Event(UHID_GET_REPORT);
  get.u.get_report.id = 42;
  Send(get);
  const uhid_event reply = Receive();
  ASSERT_EQ(reply.type, static_cast<uint32_t>(UHID_GET_REPORT_REPLY));
  EXPECT_EQ(reply.u.get_report_reply.id, 42u);
  EXPECT_NE(reply.u.get_report_reply.err, 0);

  Send(Event(UHID_CLOSE));
  // A second request answered means the close before it was taken too.
  get.u.get_report.id = 43;
  Send(get);
  EXPECT_EQ(Receive().u.get_report_reply.id, 43u);
  Stop();
  EXPECT_EQ(Join(), UhidService::End::Stopped);
  service.Destroy();
  EXPECT_EQ(Receive().type, static_cast<uint32_t>(UHID_DESTROY));
  EXPECT_EQ(readyNode, "/dev/hidraw7");
  const auto& s = service.Stats();
  EXPECT_TRUE(s.started);
  EXPECT_EQ(s.opens, 1u);
  EXPECT_EQ(s.closes, 1u);
  EXPECT_EQ(s.outputReports, 1u);
  EXPECT_EQ(s.unexpectedOutputs, 0u);
  EXPECT_EQ(s.inputReports, 1u);
  EXPECT_EQ(s.reportRequests, 2u);
}

TEST_F(UhidServiceTest, PacedReadBackArrivesWholeAndInOrder) {
  VirtualProgrammerOptions o = ParseVirtualProgrammerOptions({});  // 1 ms pacing
  SimProgrammer model(o.programmer);
  std::vector<uint8_t> flash(16384);
  for (size_t i = 0; i < flash.size(); ++i) flash[i] = static_cast<uint8_t>(i * 7 + i / 256);
  model.SetFlash(flash);
  UhidService service(device_, model, o, {});
  Start(service);
  ASSERT_EQ(Receive().type, static_cast<uint32_t>(UHID_CREATE2));
  Send(Event(UHID_START));
  Send(OutputEvent(ReadTask(16384)));
  const uhid_event start = Receive();
  ASSERT_EQ(start.type, static_cast<uint32_t>(UHID_INPUT2));
  EXPECT_EQ(start.u.input2.data[0], OP_READ);
  std::vector<uint8_t> got;
  for (int i = 0; i < 256; ++i) {
    const uhid_event ev = Receive();
    ASSERT_EQ(ev.type, static_cast<uint32_t>(UHID_INPUT2)) << "report " << i;
    ASSERT_EQ(ev.u.input2.size, 64);
    got.insert(got.end(), ev.u.input2.data, ev.u.input2.data + 64);
  }
  EXPECT_EQ(got, flash);
  Stop();
  EXPECT_EQ(Join(), UhidService::End::Stopped);
  EXPECT_EQ(service.Stats().inputReports, 257u);
}

TEST_F(UhidServiceTest, UnplugsAfterSoManyInputReports) {
  VirtualProgrammerOptions o = ParseVirtualProgrammerOptions({"--interval-us", "0", "--unplug-after-input", "10"});
  SimProgrammer model(o.programmer);
  UhidService service(device_, model, o, {});
  Start(service);
  ASSERT_EQ(Receive().type, static_cast<uint32_t>(UHID_CREATE2));
  Send(Event(UHID_START));
  Send(OutputEvent(ReadTask(16384)));
  EXPECT_EQ(Join(), UhidService::End::Unplugged);
  EXPECT_EQ(service.Stats().inputReports, 10u);
  service.Destroy();
  service.Destroy();  // once only
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Receive().type, static_cast<uint32_t>(UHID_INPUT2));
  EXPECT_EQ(Receive().type, static_cast<uint32_t>(UHID_DESTROY));
  pollfd p{kernel_, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 0);
}

TEST_F(UhidServiceTest, UnplugsAfterSoManyOutputReportsAndCountsUnexpectedOnes) {
  VirtualProgrammerOptions o = ParseVirtualProgrammerOptions({"--unplug-after-output", "3"});
  SimProgrammer model(o.programmer);
  std::vector<std::string> log;
  UhidService::Hooks hooks;
  hooks.log = [&log](const std::string& line) { log.push_back(line); };
  UhidService service(device_, model, o, hooks);
  Start(service);
  ASSERT_EQ(Receive().type, static_cast<uint32_t>(UHID_CREATE2));
  // A host that forgot the report ID byte writes 64 bytes.
  Send(OutputEvent(std::vector<uint8_t>{0x01, 0x00, 0x02, 0x02, 0x04, 0x00}));
  Send(OutputEvent(std::vector<uint8_t>(64, 0)));
  Send(OutputEvent(Report({0x01})));
  Send(OutputEvent(Report({0x01})));  // after the unplug: never taken
  EXPECT_EQ(Join(), UhidService::End::Unplugged);
  EXPECT_EQ(service.Stats().outputReports, 3u);
  EXPECT_EQ(service.Stats().unexpectedOutputs, 2u);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "output report of 6 bytes, first byte 0x01");
}

TEST_F(UhidServiceTest, EndsWhenTheOtherSideCloses) {
  VirtualProgrammerOptions o = ParseVirtualProgrammerOptions({});
  SimProgrammer model(o.programmer);
  UhidService service(device_, model, o, {});
  Start(service);
  ASSERT_EQ(Receive().type, static_cast<uint32_t>(UHID_CREATE2));
  ::shutdown(kernel_, SHUT_RDWR);
  EXPECT_EQ(Join(), UhidService::End::DeviceGone);
}

// The gadget side: each message is one report as it crossed the bus, without a report ID.
TEST_F(UhidServiceTest, GadgetTakesBusReportsAndSendsPayloads) {
  VirtualProgrammerOptions o = ParseVirtualProgrammerOptions({"--gadget", "/dev/hidg0", "--interval-us", "0"});
  ASSERT_EQ(o.gadget, "/dev/hidg0");
  SimProgrammer model(o.programmer);
  std::vector<std::string> log;
  UhidService::Hooks hooks;
  hooks.log = [&log](const std::string& line) { log.push_back(line); };
  GadgetService service(device_, model, o, hooks);
  thread_ = std::thread([this, &service] { end_ = service.Run(stop_); });
  std::vector<uint8_t> connect(64, 0);
  const uint8_t request[] = {0x01, 0x00, 0x02, 0x02, 0x04, 0x00};
  std::copy(std::begin(request), std::end(request), connect.begin());
  ASSERT_EQ(64, ::write(kernel_, connect.data(), connect.size()));
  uint8_t reply[128] = {};
  pollfd p{kernel_, POLLIN, 0};
  ASSERT_EQ(1, ::poll(&p, 1, 5000));
  ASSERT_EQ(64, ::read(kernel_, reply, sizeof reply));
  EXPECT_EQ(reply[0], OP_CONNECT);
  EXPECT_EQ(reply[4], 4);
  // A host that sent the report ID byte along: 65 bytes on the bus.
  std::vector<uint8_t> withId(65, 0);
  std::copy(std::begin(request), std::end(request), withId.begin() + 1);
  ASSERT_EQ(65, ::write(kernel_, withId.data(), withId.size()));
  // The model reads the extra byte as payload byte 0 (0): no connect request, no reply. A
  // second good request answered means the one before it was taken.
  ASSERT_EQ(64, ::write(kernel_, connect.data(), connect.size()));
  ASSERT_EQ(1, ::poll(&p, 1, 5000));
  ASSERT_EQ(64, ::read(kernel_, reply, sizeof reply));
  EXPECT_EQ(reply[0], OP_CONNECT);
  Stop();
  EXPECT_EQ(Join(), UhidService::End::Stopped);
  EXPECT_EQ(service.Stats().outputReports, 3u);
  EXPECT_EQ(service.Stats().inputReports, 2u);
  EXPECT_EQ(service.Stats().unexpectedOutputs, 1u);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "output report of 65 bytes on the bus");
}

TEST(VirtualProgrammerOptions, PrintDescriptorAndGadgetNeedsANode) {
  EXPECT_TRUE(ParseVirtualProgrammerOptions({"--print-descriptor"}).printDescriptor);
  EXPECT_FALSE(ParseVirtualProgrammerOptions({"--gadget"}).error.empty());
}

TEST(VirtualProgrammerOptions, ControlNeedsAPathAndItsCommandsAreInTheHelp) {
  EXPECT_EQ(ParseVirtualProgrammerOptions({"--control", "/run/vp1"}).control, "/run/vp1");
  EXPECT_FALSE(ParseVirtualProgrammerOptions({"--control"}).error.empty());
  EXPECT_FALSE(ParseVirtualProgrammerOptions({"--control", ""}).error.empty());
  const std::string usage = VirtualProgrammerUsage();
  for (const char* command : {"seat [FILE]", "remove [FILE]", "hang", "answer", "unplug"})
    EXPECT_NE(usage.find(std::string("\n  ") + command), std::string::npos) << command;
}

TEST(ControlFifo, MadeWhenMissingKeptWhenThereAndNeverAPlainFile) {
  const fs::path dir = fs::temp_directory_path() / ("quillet-fifo-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::string error;
  const int made = OpenControlFifo((dir / "ctl").string(), error);
  ASSERT_GE(made, 0) << error;
  EXPECT_TRUE(fs::is_fifo(dir / "ctl"));
  const int again = OpenControlFifo((dir / "ctl").string(), error);
  EXPECT_GE(again, 0) << error;
  std::ofstream(dir / "plain") << "seat\n";
  EXPECT_EQ(OpenControlFifo((dir / "plain").string(), error), -1);
  EXPECT_EQ(error, (dir / "plain").string() + " is not a FIFO");
  EXPECT_EQ(OpenControlFifo((dir / "none" / "ctl").string(), error), -1);
  EXPECT_NE(error.find("cannot make"), std::string::npos) << error;
  ::close(made);
  ::close(again);
  fs::remove_all(dir);
}

// Commands through the FIFO while the device is served: a board seated shows in the next
// identity reply, a write is told as it starts and ends, and "unplug" removes the device.
TEST_F(UhidServiceTest, BoardCommandsFromTheControlFifo) {
  const fs::path fifo = fs::temp_directory_path() / ("quillet-ctl-" + std::to_string(::getpid()));
  fs::remove(fifo);
  std::string error;
  const int control = OpenControlFifo(fifo.string(), error);
  ASSERT_GE(control, 0) << error;
  VirtualProgrammerOptions o = ParseVirtualProgrammerOptions({"--interval-us", "0", "--no-chip"});
  SimProgrammer model(o.programmer);
  std::mutex mutex;
  std::vector<std::string> said;
  BoardControl board(model, o.programmer.flashSize, false, 1, o.programmer.faults, [&](const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    said.push_back(line);
  });
  auto saidCount = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return said.size();
  };
  LineSplitter lines;
  UhidService::Hooks hooks;
  hooks.controlFd = control;
  hooks.onControl = [&] { return ServeControl(control, lines, board); };
  hooks.afterOutput = [&board](const uint8_t* report, size_t length) { board.AfterOutput(report, length); };
  UhidService service(device_, model, o, hooks);
  Start(service);
  ASSERT_EQ(Receive().type, static_cast<uint32_t>(UHID_CREATE2));
  Send(Event(UHID_START));
  const auto chipSeen = [this] {
    Send(OutputEvent(Report({0x01, 0x00, 0x02, 0x02, 0x04, 0x00})));
    const uhid_event identity = Receive();
    EXPECT_EQ(identity.type, static_cast<uint32_t>(UHID_INPUT2));
    return identity.u.input2.data[1] == 1;
  };
  EXPECT_FALSE(chipSeen());
  {
    std::ofstream(fifo) << "seat\n";  // as a script's echo: opened, written, closed
  }
  for (int i = 0; i < 500 && saidCount() < 1; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(chipSeen());
  std::vector<uint8_t> write(65, 0);
  write[1 + ProgrammerTask::kOp] = OP_WRITE;
  write[1 + ProgrammerTask::kErase] = 1;
  StoreU32(&write[1 + ProgrammerTask::kSize], 64);
  Send(OutputEvent(write));
  EXPECT_EQ(Receive().u.input2.data[0], OP_WRITE);
  Send(OutputEvent(Report({0x5A})));
  for (int i = 0; i < 500 && saidCount() < 3; ++i) std::this_thread::sleep_for(10ms);
  {
    std::ofstream(fifo) << "remove\nunplug\nseat\n";  // nothing after the unplug is done
  }
  EXPECT_EQ(Join(), UhidService::End::Unplugged);
  EXPECT_EQ(model.Flash()[0], 0x5A);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(said, (std::vector<std::string>{"seated board 1", "write started on board 1",
                                            "write stream ended on board 1", "removed board 1", "unplugging"}));
  ::close(control);
  fs::remove(fifo);
}

}  // namespace
}  // namespace quillet::sim
