#include "widgets/TextFill.h"

#include <vector>

namespace quillet {

std::string FillIn(const QString& pattern, std::initializer_list<std::string_view> args) {
  const std::string text = pattern.toStdString();
  const std::vector<std::string_view> values(args);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t n = i + 1 < text.size() ? static_cast<size_t>(text[i + 1] - '1') : values.size();
    if (text[i] == '%' && n < values.size()) {
      out += values[n];
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace quillet
