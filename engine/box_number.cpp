#include "engine/box_number.hpp"

namespace qmv {

std::optional<int16_t> boxNumber(std::u16string_view text) {
  std::size_t i = 0;
  std::size_t end = text.size();
  while (i < end && text[i] == u' ') ++i;
  while (end > i && text[end - 1] == u' ') --end;

  bool negative = false;
  if (i < end && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }

  // Whole part, exactly; anything beyond 32768 is out of range whatever follows.
  int32_t whole = 0;
  bool tooLarge = false;
  bool anyDigit = false;
  for (; i < end && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    anyDigit = true;
    if (!tooLarge) {
      whole = whole * 10 + (text[i] - u'0');
      if (whole > 32768) tooLarge = true;
    }
  }

  // Fraction: only its first digit and whether anything non-zero follows matter.
  int firstFraction = 0;
  bool restNonZero = false;
  if (i < end && text[i] == u'.') {
    ++i;
    bool first = true;
    for (; i < end && text[i] >= u'0' && text[i] <= u'9'; ++i) {
      anyDigit = true;
      if (first) {
        firstFraction = text[i] - u'0';
        first = false;
      } else if (text[i] != u'0') {
        restNonZero = true;
      }
    }
  }
  if (i != end || !anyDigit || tooLarge) return std::nullopt;

  // Halves go to the even neighbour.
  if (firstFraction > 5 || (firstFraction == 5 && (restNonZero || whole % 2 == 1))) ++whole;
  const int32_t value = negative ? -whole : whole;
  if (value < INT16_MIN || value > INT16_MAX) return std::nullopt;
  return static_cast<int16_t>(value);
}

}  // namespace qmv
