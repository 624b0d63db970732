// Checks the box-number reading against a decimal reference on arbitrary texts.
//
// Input: each byte is one character of the box's text (so the digits, the point, the
// signs and spaces come up often).
#include <cfenv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "engine/box_number.hpp"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// True when `s` is spaces, an optional sign, digits with at most one point (at least one
// digit), spaces.
bool wellFormed(const std::string& s, std::size_t& digits) {
  std::size_t i = 0;
  std::size_t end = s.size();
  while (i < end && s[i] == ' ') ++i;
  while (end > i && s[end - 1] == ' ') --end;
  if (i < end && (s[i] == '+' || s[i] == '-')) ++i;
  digits = 0;
  bool point = false;
  for (; i < end; ++i) {
    if (s[i] >= '0' && s[i] <= '9') {
      ++digits;
    } else if (s[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::u16string text;
  for (unsigned char c : bytes) text.push_back(c);
  const std::optional<int16_t> result = qmv::boxNumber(text);

  std::size_t digits = 0;
  const bool form = wellFormed(bytes, digits);
  if (!form) {
    require(!result);
    return 0;
  }
  // Up to 18 digits a long double holds the decimal value exactly enough to round it.
  if (digits > 18) return 0;
  std::string plain;
  for (char c : bytes) {
    if (c != ' ') plain.push_back(c);
  }
  const long double value = std::strtold(plain.c_str(), nullptr);
  std::fesetround(FE_TONEAREST);
  const long double rounded = std::nearbyintl(value);
  if (rounded < -32768.0L || rounded > 32767.0L) {
    require(!result);
  } else {
    require(result.has_value() && *result == static_cast<int16_t>(rounded));
  }
  return 0;
}
