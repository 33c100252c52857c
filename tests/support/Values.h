#pragma once
// Values the tests of several layers build or observe: seeded random bytes, and the message of
// the exception an action throws.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace quillet::test {

inline std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint8_t> out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(gen());
  return out;
}

inline std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "<no error>";
}

}  // namespace quillet::test
