// A read-back compared with the image that was written.
#include "hex/ImageComparison.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

namespace quillet {
namespace {

using ::testing::HasSubstr;
using Bytes = std::vector<uint8_t>;

TEST(CompareImages, CountsBytesAndBitsEachWay) {
  const Bytes expected{0xFF, 0x00, 0x0F, 0xAA, 0x55};
  const Bytes same = expected;
  EXPECT_TRUE(CompareImages(expected, same).Equal());
  const Bytes read{0xFF, 0x01, 0x0E, 0xAA};  // one short: the missing byte counts as FF
  const ImageComparison c = CompareImages(expected, read);
  EXPECT_EQ(c.differing, 3u);
  EXPECT_EQ(c.firstAddress, 1u);
  EXPECT_EQ(c.expected, 0x00);
  EXPECT_EQ(c.actual, 0x01);
  EXPECT_EQ(c.bitsZeroToOne, 1u + 4u);  // 0x00->0x01, 0x55->0xFF
  EXPECT_EQ(c.bitsOneToZero, 1u);       // 0x0F->0x0E
  EXPECT_EQ(DescribeMismatch(c, false),
            "first difference at 0x0001: expected 0x00, read 0x01; 3 of 5 bytes differ, 1 bits 1->0 and 5 bits 0->1");
  EXPECT_THAT(DescribeMismatch(c, true), HasSubstr("was the flash erased?"));
  ImageComparison onlyUp = c;
  onlyUp.bitsOneToZero = 0;
  EXPECT_THAT(DescribeMismatch(onlyUp, true), ::testing::Not(HasSubstr("erased")));
}

}  // namespace
}  // namespace quillet
