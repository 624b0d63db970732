#include "ui/progress_display.hpp"

#include <cmath>
#include <cstdint>
#include <string>

#include "host/portable.hpp"

namespace qmv {

int64_t roundHalfEven(double x) {
  // Exact without touching the rounding mode. From 2^52 on every double is whole; below
  // it the whole part fits the integer and x - whole loses no bits.
  if (!(std::fabs(x) < 4503599627370496.0)) return static_cast<int64_t>(x);
  auto whole = static_cast<int64_t>(x);  // towards zero
  if (static_cast<double>(whole) > x) --whole;
  const double fraction = x - static_cast<double>(whole);
  const bool up = fraction > 0.5 || (fraction == 0.5 && (whole & 1) != 0);
  return up ? whole + 1 : whole;
}

int64_t percentOf(float value, float max) {
  const float ratio = max != 0.0f ? value * 100.0f / max : 0.0f;
  return roundHalfEven(static_cast<double>(ratio));
}

std::u16string percentText(float value, float max) {
  const std::string digits = std::to_string(percentOf(value, max));
  std::u16string out(digits.begin(), digits.end());
  out += u" %";
  return out;
}

void ProgressDisplay::setMax(float max) { bar_.setMax(max); }

int64_t ProgressDisplay::percentSpanning(float value, float max) {
  const int64_t percent = percentOf(value, max);
  spanMax_ = -1;
  // The percentage never falls as the value grows (each step of its arithmetic keeps the
  // order), so the span ends at the least value that gives more: found by halving between
  // `value` and the maximum, over the order of the bit patterns of non-negative floats.
  if (!(max > 0) || !std::isfinite(max) || !(value >= 0) || std::signbit(value) || value >= max ||
      percent >= 100) {
    return percent;
  }
  if (percentOf(max, max) <= percent) return percent;
  uint32_t low = bitCast<uint32_t>(value);  // gives `percent`
  uint32_t high = bitCast<uint32_t>(max);   // gives more
  while (high - low > 1) {
    const uint32_t middle = low + (high - low) / 2;
    (percentOf(bitCast<float>(middle), max) <= percent ? low : high) = middle;
  }
  spanMax_ = max;
  spanFrom_ = value;
  spanTo_ = bitCast<float>(high);
  spanPercent_ = percent;
  return percent;
}

void ProgressDisplay::relabel(int64_t percent) {
  std::u16string text = percentText(bar_.value(), bar_.max());
  shownPercent_ = percent;
  if (text != label_.caption()) label_.setCaption(std::move(text));
  shownCaption_ = label_.captionChanges();
}

}  // namespace qmv
