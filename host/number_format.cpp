#include "host/number_format.hpp"

#include <cstddef>

namespace qmv {

bool isDateFormatCode(std::string_view code) {
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (c == '"') {
      const std::size_t close = code.find('"', i + 1);
      if (close == std::string_view::npos) return false;
      i = close;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;  // an escaped, padding or fill character
    } else if (c == '[') {
      const std::size_t close = code.find(']', i + 1);
      if (close == std::string_view::npos) return false;
      // [h], [mm] and [ss] are elapsed times; colours, conditions and locales are not.
      const std::string_view inside = code.substr(i + 1, close - i - 1);
      if (!inside.empty() && inside.find_first_not_of("hHmMsS") == std::string_view::npos) {
        return true;
      }
      i = close;
    } else if (std::string_view("dDmMyYhHsS").find(c) != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace qmv
