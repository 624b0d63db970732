#include "host/portable.hpp"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace qmv {

// libc++ before 17 deletes the floating-point overloads; its C library's strtod and
// snprintf, in the "C" locale every WebAssembly module runs in, give the same digits.
#if defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 170000
#define QMV_FLOAT_CHARCONV 0
#else
#define QMV_FLOAT_CHARCONV 1
#endif

std::optional<double> parseDecimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
#if QMV_FLOAT_CHARCONV
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
#else
  // strtod takes what from_chars refuses (leading spaces, "+", hex, "inf"): only the
  // characters of a decimal number pass to it.
  for (const char c : text) {
    if ((c < '0' || c > '9') && c != '.' && c != 'e' && c != 'E' && c != '-' && c != '+') {
      return std::nullopt;
    }
  }
  if (text.front() == '+') return std::nullopt;
  const std::string copy(text);
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size()) return std::nullopt;
  return value;
#endif
}

std::string scientificText(double number, int precision) {
  char buffer[64];
#if QMV_FLOAT_CHARCONV
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, number,
                                    std::chars_format::scientific, precision);
  return std::string(buffer, result.ptr);
#else
  const int length = std::snprintf(buffer, sizeof buffer, "%.*e", precision, number);
  return std::string(buffer, static_cast<std::size_t>(length > 0 ? length : 0));
#endif
}

}  // namespace qmv
