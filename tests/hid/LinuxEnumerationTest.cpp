#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "hid/HidIO.h"
#include "hid/LinuxHidPlatform.h"
#include "sim/SimHidModels.h"
#include "tests/hid/HidTestSupport.h"
#include "tests/support/FakeHidTree.h"

namespace quillet::hid {
namespace {

using test::FakeHidTree;
using Node = FakeHidTree::Node;

const std::vector<uint8_t> kNumbered = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08,
                                        0x85, 0x01, 0x95, 0x08, 0x81, 0x02, 0x85, 0x02, 0x95,
                                        0x20, 0x81, 0x02, 0xC0};

Node Programmer(std::string name = "hidraw0") {
  Node n;
  n.name = std::move(name);
  n.descriptor = sim::VendorReportDescriptor64();
  return n;
}

template <typename F>
Node Edit(Node n, F f) {
  f(n);
  return n;
}

struct Listed {
  std::string path;  // node name under the /dev root
  std::string name, manufacturer, serial;
  uint16_t vid, pid, version, input, output;
};

struct LinuxEnumCase {
  const char* name;
  std::vector<Node> nodes;
  bool fullMode;
  std::vector<Listed> listed;
};

const Listed kProgrammerListed{"hidraw0", "nRF24 Programmer", "Acme Devices", "UNIQ-0001",
                               0x04D8, 0x003F, 0x0200, 65, 65};

class LinuxEnumeration : public ::testing::TestWithParam<LinuxEnumCase> {};

TEST_P(LinuxEnumeration, ReadsSysfsAsTheDeviceRecords) {
  const LinuxEnumCase& c = GetParam();
  FakeHidTree tree;
  for (const Node& n : c.nodes) tree.Add(n);
  THidIO hid(nullptr, std::make_shared<LinuxHidPlatform>(LinuxHidPaths{tree.Sys(), tree.Dev()}));
  hid.EnumFullMode = c.fullMode;
  hid.Update();
  ASSERT_EQ(hid.GetDeviceCount(), static_cast<int>(c.listed.size()));
  for (size_t i = 0; i < c.listed.size(); ++i) {
    SCOPED_TRACE(i);
    const Listed& e = c.listed[i];
    const THidDevice* d = hid.GetDevice(static_cast<int>(i));
    EXPECT_EQ(d->InterfacePath, tree.DevNode(e.path));
    EXPECT_EQ(d->Name, e.name);
    EXPECT_EQ(d->Manufacturer, e.manufacturer);
    EXPECT_EQ(d->SerialNumber, e.serial);
    EXPECT_EQ(d->GetVendorId(), e.vid);
    EXPECT_EQ(d->GetProductId(), e.pid);
    EXPECT_EQ(d->GetVersion(), e.version);
    EXPECT_EQ(d->GetReportLength(1), e.input);
    EXPECT_EQ(d->GetReportLength(0), e.output);
    EXPECT_EQ(d->Service, "hid-generic");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Trees, LinuxEnumeration,
    ::testing::Values(
        LinuxEnumCase{"empty", {}, true, {}},
        LinuxEnumCase{"programmer", {Programmer()}, true, {kProgrammerListed}},
        LinuxEnumCase{"not_full_mode", {Programmer()}, false,
                      {{"hidraw0", "Vendor HID Device", "", "", 0x04D8, 0x003F, 0x0200, 65, 65}}},
        LinuxEnumCase{"serial_from_usb_when_uniq_empty",
                      {Edit(Programmer(), [](Node& n) { n.uniq.clear(); })}, true,
                      {{"hidraw0", "nRF24 Programmer", "Acme Devices", "USB-SERIAL-9", 0x04D8, 0x003F, 0x0200, 65, 65}}},
        LinuxEnumCase{"no_usb_parent",
                      {Edit(Programmer(), [](Node& n) { n.usbParent = false; })}, true,
                      {{"hidraw0", "Vendor HID Device", "", "UNIQ-0001", 0x04D8, 0x003F, 0, 65, 65}}},
        LinuxEnumCase{"short_product_falls_back_to_name",
                      {Edit(Programmer(), [](Node& n) { n.product = "ab"; })}, true,
                      {{"hidraw0", "Vendor HID Device", "Acme Devices", "UNIQ-0001", 0x04D8, 0x003F, 0x0200, 65, 65}}},
        LinuxEnumCase{"numbered_reports",
                      {Edit(Programmer(), [](Node& n) { n.descriptor = kNumbered; })}, true,
                      {{"hidraw0", "nRF24 Programmer", "Acme Devices", "UNIQ-0001", 0x04D8, 0x003F, 0x0200, 33, 0}}},
        LinuxEnumCase{"malformed_descriptor_left_out",
                      {Edit(Programmer(), [](Node& n) { n.descriptor.resize(7); })}, true, {}},
        LinuxEnumCase{"missing_hid_id_left_out",
                      {Edit(Programmer(), [](Node& n) { n.hidId.clear(); }), Programmer("hidraw1")}, true,
                      {{"hidraw1", "nRF24 Programmer", "Acme Devices", "UNIQ-0001", 0x04D8, 0x003F, 0x0200, 65, 65}}},
        LinuxEnumCase{"missing_device_node_left_out",
                      {Edit(Programmer(), [](Node& n) { n.devNode = false; })}, true, {}},
        LinuxEnumCase{"numeric_order",
                      {Programmer("hidraw10"), Programmer("hidraw2")}, true,
                      {{"hidraw2", "nRF24 Programmer", "Acme Devices", "UNIQ-0001", 0x04D8, 0x003F, 0x0200, 65, 65},
                       {"hidraw10", "nRF24 Programmer", "Acme Devices", "UNIQ-0001", 0x04D8, 0x003F, 0x0200, 65, 65}}}),
    [](const auto& info) { return std::string(info.param.name); });

// HID_ID is bus:vendor:product, each 1 to 8 hex digits with no prefix, sign or blank; a node
// whose HID_ID cannot be read so, or whose vendor or product is above 0xffff, is left out. The
// USB parent's bcdDevice is read the same way (its low 16 bits kept); one that cannot be read
// gives version 0.
struct HexFieldCase {
  const char* name;
  std::string hidId;
  std::string bcdDevice;
  bool listed;
  uint16_t vid, pid, version;
};

class LinuxHexFields : public ::testing::TestWithParam<HexFieldCase> {};

TEST_P(LinuxHexFields, ReadAsTheKernelWritesThem) {
  const HexFieldCase& c = GetParam();
  FakeHidTree tree;
  tree.Add(Edit(Programmer(), [&](Node& n) {
    n.hidId = c.hidId;
    n.bcdDevice = c.bcdDevice;
  }));
  THidIO hid(nullptr, std::make_shared<LinuxHidPlatform>(LinuxHidPaths{tree.Sys(), tree.Dev()}));
  hid.Update();
  ASSERT_EQ(hid.GetDeviceCount(), c.listed ? 1 : 0);
  if (!c.listed) return;
  const THidDevice* d = hid.GetDevice(0);
  EXPECT_EQ(d->GetVendorId(), c.vid);
  EXPECT_EQ(d->GetProductId(), c.pid);
  EXPECT_EQ(d->GetVersion(), c.version);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, LinuxHexFields,
    ::testing::Values(
        HexFieldCase{"as_the_kernel_writes", "0003:000004D8:0000003F", "0200", true, 0x04D8, 0x003F, 0x0200},
        HexFieldCase{"short_lower_case", "3:4d8:3f", "1", true, 0x04D8, 0x003F, 1},
        HexFieldCase{"largest_ids", "0003:0000FFFF:0000ffff", "ffff", true, 0xFFFF, 0xFFFF, 0xFFFF},
        HexFieldCase{"eight_digit_version_keeps_low_16_bits", "0003:000004D8:0000003F", "12345678", true,
                     0x04D8, 0x003F, 0x5678},
        HexFieldCase{"nine_digit_version", "0003:000004D8:0000003F", "000000200", true, 0x04D8, 0x003F, 0},
        HexFieldCase{"prefixed_version", "0003:000004D8:0000003F", "0x10", true, 0x04D8, 0x003F, 0},
        HexFieldCase{"empty_version", "0003:000004D8:0000003F", "", true, 0x04D8, 0x003F, 0},
        HexFieldCase{"signed_version", "0003:000004D8:0000003F", "-1", true, 0x04D8, 0x003F, 0},
        HexFieldCase{"vendor_above_16_bits", "0003:00010000:0000003F", "0200", false, 0, 0, 0},
        HexFieldCase{"product_above_16_bits", "0003:000004D8:FFFFFFFF", "0200", false, 0, 0, 0},
        HexFieldCase{"nine_digits", "0003:0000004D8:0000003F", "0200", false, 0, 0, 0},
        HexFieldCase{"nine_digit_bus", "000000003:000004D8:0000003F", "0200", false, 0, 0, 0},
        HexFieldCase{"prefix", "0003:0x4D8:0000003F", "0200", false, 0, 0, 0},
        HexFieldCase{"plus", "0003:+4D8:0000003F", "0200", false, 0, 0, 0},
        HexFieldCase{"minus", "0003:-4D8:3F", "0200", false, 0, 0, 0},
        HexFieldCase{"blank", "0003: 4D8:0000003F", "0200", false, 0, 0, 0},
        HexFieldCase{"not_hex", "0003:000004G8:0000003F", "0200", false, 0, 0, 0},
        HexFieldCase{"empty_vendor", "0003::0000003F", "0200", false, 0, 0, 0},
        HexFieldCase{"empty_bus", ":000004D8:0000003F", "0200", false, 0, 0, 0},
        HexFieldCase{"empty_product", "0003:000004D8:", "0200", false, 0, 0, 0},
        HexFieldCase{"two_fields", "0003:000004D8", "0200", false, 0, 0, 0},
        HexFieldCase{"four_fields", "0003:000004D8:0000003F:1", "0200", false, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LinuxEnumeration, NodesWithoutSysfsEntriesAreFoundByTheSecondPassButNotListed) {
  FakeHidTree tree;
  std::ofstream(tree.DevNode("hidraw5")) << "";
  LinuxHidPlatform platform({tree.Sys(), tree.Dev()});
  EXPECT_TRUE(platform.EnumerateDevices().empty());
  auto second = platform.EnumerateInterfaces();
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0]->InterfacePath, tree.DevNode("hidraw5"));
  // Without a descriptor there are no capabilities: the device is left out.
  THidIO hid(nullptr, std::make_shared<LinuxHidPlatform>(LinuxHidPaths{tree.Sys(), tree.Dev()}));
  hid.Update();
  EXPECT_EQ(hid.GetDeviceCount(), 0);
}

TEST(LinuxOpen, ANodeTheUserMayNotOpenGivesTheSystemsText) {
  FakeHidTree tree;
  tree.Add(Programmer());
  // Tests run as root here, where file modes deny nothing: the node refuses through the hooks.
  LinuxNodeOps ops = DefaultNodeOps();
  auto realOpen = ops.open;
  ops.open = [realOpen](const std::string& path, int flags) {
    if (flags & O_PATH) return realOpen(path, flags);
    errno = EACCES;
    return -1;
  };
  ops.access = [](const std::string&, int) {
    errno = EACCES;
    return -1;
  };
  THidIO hid(nullptr, std::make_shared<LinuxHidPlatform>(LinuxHidPaths{tree.Sys(), tree.Dev()}, ops));
  test::EventRecorder events;
  events.Bind(hid);
  hid.Update();
  ASSERT_EQ(hid.GetDeviceCount(), 1);  // listing needs no permission
  hid.SetDeviceIndex(0);
  try {
    hid.SetActive(true);
    FAIL() << "no exception";
  } catch (const EHidError& e) {
    EXPECT_STREQ(e.what(), "Permission denied");
  }
  ASSERT_EQ(events.fatal.size(), 1u);
  EXPECT_EQ(events.fatal[0].code, 16u);
  EXPECT_EQ(events.fatal[0].detail, static_cast<uint32_t>(EACCES));
  EXPECT_EQ(events.fatal[0].msg, "Permission denied");
  EXPECT_FALSE(hid.GetActive());
}

}  // namespace
}  // namespace quillet::hid
