#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "hid/HidIO.h"
#include "sim/SimHidPlatform.h"
#include "tests/hid/HidTestSupport.h"

namespace quillet::hid {
namespace {

using sim::SimHidDeviceConfig;
using test::VendorDevice;

struct Expected {
  std::string name;
  std::string manufacturer;
  std::string serial;
  uint16_t vid, pid;
  uint16_t input, output;
};

struct EnumCase {
  const char* name;
  std::vector<SimHidDeviceConfig> devices;
  bool fullMode;
  std::vector<Expected> listed;
};

SimHidDeviceConfig With(SimHidDeviceConfig c, void (*edit)(SimHidDeviceConfig&)) {
  edit(c);
  return c;
}

const SimHidDeviceConfig kWidget = VendorDevice(0x1234, 0x0001);
const Expected kWidgetListed{"Vendor Widget", "Acme Devices", "SN-4711", 0x1234, 0x0001, 65, 65};

class Enumeration : public ::testing::TestWithParam<EnumCase> {};

TEST_P(Enumeration, ListsWhatTheQueriesAllow) {
  const EnumCase& c = GetParam();
  auto platform = std::make_shared<sim::SimHidPlatform>();
  for (const auto& d : c.devices) platform->Attach(d);
  THidIO hid(nullptr, platform);
  hid.EnumFullMode = c.fullMode;
  hid.Update();

  ASSERT_EQ(hid.GetDeviceCount(), static_cast<int>(c.listed.size()));
  for (size_t i = 0; i < c.listed.size(); ++i) {
    SCOPED_TRACE(i);
    const THidDevice* d = hid.GetDevice(static_cast<int>(i));
    const Expected& e = c.listed[i];
    EXPECT_EQ(d->Name, e.name);
    EXPECT_EQ(d->Manufacturer, e.manufacturer);
    EXPECT_EQ(d->SerialNumber, e.serial);
    EXPECT_EQ(d->GetVendorId(), e.vid);
    EXPECT_EQ(d->GetProductId(), e.pid);
    EXPECT_EQ(d->GetReportLength(1), e.input);
    EXPECT_EQ(d->GetReportLength(0), e.output);
    EXPECT_EQ(d->ListPosition, static_cast<int>(i));
    EXPECT_EQ(d->Owner, &hid);
    EXPECT_EQ(d->fPpd, nullptr);  // released once the query is done
  }
  // Nothing opened for a query stays open.
  EXPECT_EQ(platform->LiveConnectionHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Enumeration,
    ::testing::Values(
        EnumCase{"no_devices", {}, true, {}},
        EnumCase{"full_strings", {kWidget}, true, {kWidgetListed}},
        EnumCase{"not_full_mode_reads_no_string",
                 {kWidget}, false,
                 {{"HID-compliant vendor-defined device", "", "", 0x1234, 0x0001, 65, 65}}},
        EnumCase{"sharing_violation_listed_without_ids",
                 {With(kWidget, [](SimHidDeviceConfig& c) { c.heldByOtherProcess = true; })}, true,
                 {{"HID-compliant vendor-defined device", "", "", 0, 0, 0, 0}}},
        EnumCase{"query_open_failure_left_out",
                 {With(kWidget, [](SimHidDeviceConfig& c) { c.queryOpenError = EACCES; }), kWidget},
                 true, {kWidgetListed}},
        EnumCase{"unreadable_descriptor_left_out",
                 {With(kWidget, [](SimHidDeviceConfig& c) { c.descriptorUnreadable = true; })}, true, {}},
        EnumCase{"malformed_descriptor_left_out",
                 {With(kWidget, [](SimHidDeviceConfig& c) { c.reportDescriptor.pop_back(); })}, true, {}},
        EnumCase{"unreadable_attributes_left_out",
                 {With(kWidget, [](SimHidDeviceConfig& c) { c.attributesUnreadable = true; })}, true, {}},
        EnumCase{"unreadable_capabilities_left_out",
                 {With(kWidget, [](SimHidDeviceConfig& c) { c.capabilitiesUnreadable = true; })}, true, {}},
        EnumCase{"two_character_strings_count_as_empty",
                 {With(kWidget,
                       [](SimHidDeviceConfig& c) {
                         c.product = "ab";
                         c.manufacturer = "x";
                         c.serial = "12";
                         c.string3 = "S3";
                       })},
                 true, {{"HID-compliant vendor-defined device", "", "", 0x1234, 0x0001, 65, 65}}},
        EnumCase{"three_characters_are_kept",
                 {With(kWidget, [](SimHidDeviceConfig& c) { c.product = "abc"; })}, true,
                 {{"abc", "Acme Devices", "SN-4711", 0x1234, 0x0001, 65, 65}}},
        EnumCase{"serial_falls_back_to_string_3",
                 {With(kWidget,
                       [](SimHidDeviceConfig& c) {
                         c.serial.clear();
                         c.string3 = "S3-0001";
                       })},
                 true, {{"Vendor Widget", "Acme Devices", "S3-0001", 0x1234, 0x0001, 65, 65}}},
        EnumCase{"short_serial_also_falls_back",
                 {With(kWidget,
                       [](SimHidDeviceConfig& c) {
                         c.serial = "7";
                         c.string3 = "S3-0002";
                       })},
                 true, {{"Vendor Widget", "Acme Devices", "S3-0002", 0x1234, 0x0001, 65, 65}}},
        EnumCase{"order_kept",
                 {VendorDevice(1, 1, "First"), VendorDevice(2, 2, "Second"), VendorDevice(3, 3, "Third")},
                 true,
                 {{"First", "Acme Devices", "SN-4711", 1, 1, 65, 65},
                  {"Second", "Acme Devices", "SN-4711", 2, 2, 65, 65},
                  {"Third", "Acme Devices", "SN-4711", 3, 3, 65, 65}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HidString, KeepsAtMost126CharactersAndCountsCharactersNotBytes) {
  EXPECT_EQ(NormaliseHidString(std::string(200, 'a')), std::string(126, 'a'));
  EXPECT_EQ(NormaliseHidString("编程器"), "编程器");  // three characters in nine bytes
  EXPECT_EQ(NormaliseHidString("编程"), "");
}

class Selection : public ::testing::Test {
 protected:
  std::shared_ptr<sim::SimHidPlatform> platform = std::make_shared<sim::SimHidPlatform>();
  THidIO hid{nullptr, platform};
};

TEST_F(Selection, EmptyListKeepsTheIndexAndSelectsNothing) {
  hid.SetDeviceIndex(2);
  hid.Update();
  EXPECT_EQ(hid.GetDeviceCount(), 0);
  EXPECT_EQ(hid.GetDeviceIndex(), 2);
  EXPECT_EQ(hid.SelectedDevice(), nullptr);
}

TEST_F(Selection, SurvivesAReloadByPositionOnly) {
  const std::string a = platform->Attach(VendorDevice(1, 1, "Alpha"));
  platform->Attach(VendorDevice(2, 2, "Bravo"));
  platform->Attach(VendorDevice(3, 3, "Charlie"));
  hid.EnumFullMode = true;
  hid.Update();
  hid.SetDeviceIndex(1);
  ASSERT_EQ(hid.SelectedDevice()->Name, "Bravo");

  platform->Detach(a);  // Charlie moves up to position 1
  hid.Update();
  ASSERT_NE(hid.SelectedDevice(), nullptr);
  EXPECT_EQ(hid.SelectedDevice()->Name, "Charlie");
  EXPECT_EQ(hid.GetDeviceIndex(), 1);
}

TEST_F(Selection, ReloadShrinkingBelowTheIndexSelectsNothing) {
  platform->Attach(VendorDevice(1, 1));
  const std::string b = platform->Attach(VendorDevice(2, 2));
  const std::string c = platform->Attach(VendorDevice(3, 3));
  hid.Update();
  hid.SetDeviceIndex(2);
  ASSERT_NE(hid.SelectedDevice(), nullptr);
  platform->Detach(b);
  platform->Detach(c);
  hid.Update();
  EXPECT_EQ(hid.GetDeviceCount(), 1);
  EXPECT_EQ(hid.GetDeviceIndex(), 2);
  EXPECT_EQ(hid.SelectedDevice(), nullptr);
}

TEST_F(Selection, NegativeIndexSelectsNothing) {
  platform->Attach(VendorDevice(1, 1));
  hid.Update();
  hid.SetDeviceIndex(-1);
  EXPECT_EQ(hid.SelectedDevice(), nullptr);
  hid.Update();
  EXPECT_EQ(hid.SelectedDevice(), nullptr);
  EXPECT_EQ(hid.GetDevice(-1), nullptr);
  EXPECT_EQ(hid.GetDevice(1), nullptr);
}

struct PassCase {
  const char* name;
  int devices;
  bool devicePassVisible;
  int expectedDevicePasses, expectedInterfacePasses, expectedCount;
};

class EnumerationPasses : public ::testing::TestWithParam<PassCase> {};

TEST_P(EnumerationPasses, SecondPassOnlyWhenTheFirstFindsNothing) {
  const PassCase& c = GetParam();
  auto platform = std::make_shared<sim::SimHidPlatform>();
  for (int i = 0; i < c.devices; ++i) platform->Attach(VendorDevice(1, static_cast<uint16_t>(i)));
  platform->SetDevicePassVisible(c.devicePassVisible);
  THidIO hid(nullptr, platform);
  hid.Update();
  EXPECT_EQ(platform->DevicePassCount(), c.expectedDevicePasses);
  EXPECT_EQ(platform->InterfacePassCount(), c.expectedInterfacePasses);
  EXPECT_EQ(hid.GetDeviceCount(), c.expectedCount);
}

INSTANTIATE_TEST_SUITE_P(Cases, EnumerationPasses,
                         ::testing::Values(PassCase{"first_finds_devices", 2, true, 1, 0, 2},
                                           PassCase{"second_finds_them", 2, false, 1, 1, 2},
                                           PassCase{"neither_finds_any", 0, true, 1, 1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceList, GetDeviceListLoadsAgainOnlyWhenEmpty) {
  auto platform = std::make_shared<sim::SimHidPlatform>();
  THidIO hid(nullptr, platform);
  hid.Update();
  hid.GetDeviceList(nullptr);  // empty after the load: loads once more
  EXPECT_EQ(platform->DevicePassCount(), 2);

  platform->Attach(VendorDevice(1, 1, "Alpha"));
  platform->Attach(VendorDevice(2, 2, "Bravo"));
  hid.EnumFullMode = true;
  hid.Update();
  const int passes = platform->DevicePassCount();
  hid.GetDeviceList(nullptr);
  EXPECT_EQ(platform->DevicePassCount(), passes);

  TStrings target{{"stale", nullptr}};
  hid.GetDeviceList(&target);
  ASSERT_EQ(target.size(), 2u);
  EXPECT_EQ(target[0].Text, "Alpha");
  EXPECT_EQ(target[0].Object, hid.GetDevice(0));
  EXPECT_EQ(target[1].Text, "Bravo");
}

TEST(DeviceList, ALoadStartedFromWithinALoadReturnsAtOnce) {
  auto platform = std::make_shared<sim::SimHidPlatform>();
  platform->Attach(VendorDevice(1, 1));
  THidIO hid(nullptr, platform);
  struct Context {
    THidIO* hid;
    int notifications = 0;
  } context{&hid};
  // The selection inside the load notifies listeners; one that reloads must not recurse.
  hid.NotifyAdd(
      [](void* p, int code) {
        auto* c = static_cast<Context*>(p);
        EXPECT_EQ(code, 3);
        if (++c->notifications > 1) return;  // the first one comes from inside the load
        c->hid->Update();
        c->hid->DeviceListLoad();
      },
      &context);
  hid.Update();
  EXPECT_EQ(platform->DevicePassCount(), 1);
  EXPECT_EQ(context.notifications, 2);  // the selection during the load, then Update's own
  EXPECT_EQ(hid.GetDeviceCount(), 1);
}

TEST(DeviceRecord, RangeErrorsForCapabilityEntriesOutsideTheCounts) {
  auto platform = std::make_shared<sim::SimHidPlatform>();
  platform->Attach(VendorDevice(1, 1));
  THidIO hid(nullptr, platform);
  hid.Update();
  const THidDevice* d = hid.GetDevice(0);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(d->GetCount(NumberInputValueCaps), 1);
  HidCapEntry entry;
  EXPECT_NO_THROW(d->GetValues(0, 1, entry));
  EXPECT_EQ(entry.ReportCount, 64);
  EXPECT_THROW(d->GetValues(1, 1, entry), std::out_of_range);
  EXPECT_THROW(d->GetValues(-1, 1, entry), std::out_of_range);
  EXPECT_THROW(d->GetButtons(0, 0, entry), std::out_of_range);
  try {
    d->GetButtons(0, 3, entry);
    FAIL();
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "Index is out of range");
  }
  EXPECT_EQ(GetUsagePageString(9), "Button");
  EXPECT_EQ(GetUsagePageString(0xFF00), "Unknown");
}

TEST(DiagnosticLines, LoadWritesItsLinesWithThePrefix) {
  auto platform = std::make_shared<sim::SimHidPlatform>();
  platform->Attach(VendorDevice(1, 1, "Alpha"));
  THidIO hid(nullptr, platform);
  std::vector<std::string> lines;
  hid.Log = [&](TDetailLevel, const std::string& line) { lines.push_back(line); };
  hid.EnumFullMode = true;
  hid.Update();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "HID: DeviceListLoad ...");
  EXPECT_EQ(lines.back(), "HID: Detected devices: 1 ");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "HID: Load device info: Alpha  OK!"), lines.end());
}

}  // namespace
}  // namespace quillet::hid
