#include <gtest/gtest.h>

#include <vector>

#include "hid/HidDescriptor.h"
#include "sim/SimHidModels.h"

namespace quillet::hid {
namespace {

using Bytes = std::vector<uint8_t>;

struct LengthCase {
  const char* name;
  Bytes descriptor;
  uint16_t usagePage, usage, input, output, feature;
  bool numbered;
};

// A mouse-like descriptor: 3 buttons, 5 bits padding, X/Y as signed bytes.
const Bytes kMouse = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09,
                      0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01,
                      0x81, 0x02, 0x95, 0x01, 0x75, 0x05, 0x81, 0x03, 0x05, 0x01, 0x09, 0x30,
                      0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06,
                      0xC0, 0xC0};

// Two input reports of different sizes under IDs 1 and 2, a feature report under ID 3.
const Bytes kNumbered = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00,
                         0x75, 0x08, 0x85, 0x01, 0x95, 0x08, 0x09, 0x01, 0x81, 0x02, 0x85, 0x02,
                         0x95, 0x20, 0x09, 0x01, 0x81, 0x02, 0x85, 0x03, 0x95, 0x04, 0x09, 0x02,
                         0xB1, 0x02, 0xC0};

class DescriptorLengths : public ::testing::TestWithParam<LengthCase> {};

TEST_P(DescriptorLengths, FollowTheLongestReportPlusIdByte) {
  const LengthCase& c = GetParam();
  auto info = ParseReportDescriptor(c.descriptor.data(), c.descriptor.size());
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->caps.UsagePage, c.usagePage);
  EXPECT_EQ(info->caps.Usage, c.usage);
  EXPECT_EQ(info->caps.InputReportByteLength, c.input);
  EXPECT_EQ(info->caps.OutputReportByteLength, c.output);
  EXPECT_EQ(info->caps.FeatureReportByteLength, c.feature);
  EXPECT_EQ(info->numberedReports, c.numbered);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, DescriptorLengths,
    ::testing::Values(
        LengthCase{"programmer", sim::VendorReportDescriptor64(), 0xFF00, 1, 65, 65, 0, false},
        // 3 + 5 padding bits + 16 bits = 3 bytes; constant padding still counts toward the length.
        LengthCase{"mouse", kMouse, 0x01, 0x02, 4, 0, 0, false},
        LengthCase{"numbered", kNumbered, 0xFF00, 1, 33, 0, 5, true},
        // A 4-byte usage carries its own page.
        LengthCase{"extended_usage",
                   {0x0B, 0x01, 0x00, 0x0C, 0x00, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xC0},
                   0x0C, 0x01, 3, 0, 0, false},
        // Partial bytes round up.
        LengthCase{"odd_bits",
                   {0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x75, 0x03, 0x95, 0x03, 0x91, 0x02, 0xC0},
                   0x01, 0x05, 0, 3, 0, false},
        // Long items are skipped whole.
        LengthCase{"long_item",
                   {0x05, 0x01, 0x09, 0x06, 0xFE, 0x02, 0x10, 0xAA, 0xBB, 0xA1, 0x01, 0x75, 0x08,
                    0x95, 0x01, 0x81, 0x02, 0xC0},
                   0x01, 0x06, 2, 0, 0, false},
        // Push and pop restore the report size for the second field.
        LengthCase{"push_pop",
                   {0x05, 0x01, 0x09, 0x04, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0xA4, 0x75, 0x10,
                    0x81, 0x02, 0xB4, 0x81, 0x02, 0xC0},
                   0x01, 0x04, 4, 0, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DescriptorCaps, CountsButtonsValuesAndDataIndices) {
  auto info = ParseReportDescriptor(kMouse.data(), kMouse.size());
  ASSERT_TRUE(info.has_value());
  const HidCaps& caps = info->caps;
  EXPECT_EQ(caps.Counts[NumberInputButtonCaps], 1);  // the three buttons, as one range
  EXPECT_EQ(caps.Counts[NumberInputValueCaps], 1);   // X and Y in one field
  EXPECT_EQ(caps.Counts[NumberInputDataIndices], 5);
  EXPECT_EQ(caps.NumberLinkCollectionNodes, 2);
  ASSERT_EQ(info->buttonCaps[HidP_Input].size(), 1u);
  const HidCapEntry& buttons = info->buttonCaps[HidP_Input][0];
  EXPECT_TRUE(buttons.IsRange);
  EXPECT_EQ(buttons.UsagePage, 0x09);
  EXPECT_EQ(buttons.UsageMin, 1);
  EXPECT_EQ(buttons.UsageMax, 3);
  const HidCapEntry& axes = info->valueCaps[HidP_Input][0];
  EXPECT_EQ(axes.LogicalMin, -127);
  EXPECT_EQ(axes.LogicalMax, 127);
  EXPECT_EQ(axes.BitSize, 8);
  EXPECT_EQ(axes.ReportCount, 2);
  EXPECT_FALSE(axes.IsAbsolute);
}

struct MalformedCase {
  const char* name;
  Bytes descriptor;
};

class MalformedDescriptor : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedDescriptor, YieldsNothing) {
  const Bytes& d = GetParam().descriptor;
  EXPECT_FALSE(ParseReportDescriptor(d.data(), d.size()).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, MalformedDescriptor,
    ::testing::Values(
        MalformedCase{"empty", {}},
        MalformedCase{"truncated_item_data", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x26, 0xFF}},
        MalformedCase{"truncated_long_item", {0xFE, 0x08, 0x10, 0x01}},
        MalformedCase{"collection_never_closed", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x75, 0x08}},
        MalformedCase{"end_without_collection", {0xC0}},
        MalformedCase{"pop_without_push", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xB4, 0xC0}},
        MalformedCase{"report_id_zero", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x00, 0xC0}},
        MalformedCase{"report_size_too_large", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x76, 0x00, 0x10, 0xC0}},
        MalformedCase{"report_count_too_large", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0xC0}},
        // 256 bits x 12288 = 393216 bytes: beyond what a 16-bit report length can say.
        MalformedCase{"report_length_overflow",
                      {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x76, 0x00, 0x01, 0x96, 0x00, 0x30, 0x81, 0x02, 0xC0}},
        MalformedCase{"reserved_item_type", {0x0C, 0x05, 0x01}},
        MalformedCase{"no_application_collection", {0x05, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MalformedDescriptor, EveryTruncationOfAValidDescriptorIsRejectedWithoutCrashing) {
  const Bytes d = kNumbered;
  for (size_t n = 0; n < d.size(); ++n)
    EXPECT_FALSE(ParseReportDescriptor(d.data(), n).has_value()) << "length " << n;
}

TEST(MalformedDescriptor, TooDeepPushesAndCollectionsAreRejected) {
  Bytes pushes = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01};
  for (int i = 0; i <= kMaxGlobalStackDepth; ++i) pushes.push_back(0xA4);
  pushes.push_back(0xC0);
  EXPECT_FALSE(ParseReportDescriptor(pushes.data(), pushes.size()).has_value());

  Bytes nested;
  for (int i = 0; i <= kMaxCollectionDepth; ++i) nested.insert(nested.end(), {0xA1, 0x01});
  for (int i = 0; i <= kMaxCollectionDepth; ++i) nested.push_back(0xC0);
  EXPECT_FALSE(ParseReportDescriptor(nested.data(), nested.size()).has_value());
}

}  // namespace
}  // namespace quillet::hid
