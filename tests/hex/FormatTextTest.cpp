#include "hex/FormatText.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace quillet {
namespace {

// Translations move their arguments with "%n$"; the result must be what glibc's printf gives, on
// a C library without that form too.
TEST(FormatText, PutsEachArgumentWhereItsNumberSays) {
  const char* const file = "fw.hex";
  const unsigned long long bytes = 16385, limit = 16384;
  const struct {
    const char* format;
    std::string expected;
  } cases[] = {
      {"%1$s: %2$llu > %3$llu", "fw.hex: 16385 > 16384"},
      {"%3$llu < %2$llu (%1$s)", "16384 < 16385 (fw.hex)"},
      {"%1$s%1$s", "fw.hexfw.hex"},                        // one argument twice
      {"100%% %2$06llu", "100% 016385"},                   // a literal percent; flags and width
      {"%1$.2s|%2$-7llu|", "fw|16385  |"},                 // precision; left-aligned
      {"%4$s and %1$s", "%4$s and fw.hex"},                // a number past the arguments stays as written
      {"%1$s ends in %", "fw.hex ends in %"},              // a directive cut short
      {"%s: %llu of %llu", "fw.hex: 16385 of 16384"},     // no "$": printf as usual
  };
  for (const auto& c : cases) EXPECT_EQ(FormatText(c.format, file, bytes, limit), c.expected) << c.format;
}

TEST(FormatText, TakesEveryIntegerWidthAndHexadecimal) {
  const std::size_t address = 0x10, count = 2;
  const unsigned expected = 0xFF, read = 0xF7;
  EXPECT_EQ(FormatText("at 0x%1$04zX: 0x%2$02X/0x%3$02X, %4$zu", address, expected, read, count),
            "at 0x0010: 0xFF/0xF7, 2");
  EXPECT_EQ(FormatText("%2$zu bytes at 0x%1$04zX", address, count), "2 bytes at 0x0010");
  EXPECT_EQ(FormatText("%1$.1f s", 2.5), "2.5 s");
}

TEST(FormatText, WithoutArgumentsIsTheFormatItself) {
  EXPECT_EQ(FormatText("plain text"), "plain text");
  EXPECT_EQ(FormatText(""), "");
}

}  // namespace
}  // namespace quillet
