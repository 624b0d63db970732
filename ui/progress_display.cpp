#include "ui/progress_display.hpp"

#include <cmath>
#include <string>

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

void ProgressDisplay::relabel(int64_t percent) {
  std::u16string text = percentText(bar_.value(), bar_.max());
  shownPercent_ = percent;
  if (text != label_.caption()) label_.setCaption(std::move(text));
  shownCaption_ = label_.captionChanges();
}

}  // namespace qmv
