// The progress display of a running form: a progress bar and a percentage label, and the
// percentage arithmetic they share.
#pragma once

#include <cstdint>
#include <string>

#include "ui/form.hpp"

namespace qmv {

/// Rounds to the nearest whole number, a half going to the even neighbour.
int64_t roundHalfEven(double x);

/// round(value * 100 / max) in single precision, halves to even; 0 when max is 0.
int64_t percentOf(float value, float max);

/// Percentage label text: percentOf(value, max) followed by " %".
std::u16string percentText(float value, float max);

/// The progress bar and percentage label of a running form.
class ProgressDisplay {
 public:
  ProgressDisplay(Control& bar, Control& label) : bar_(bar), label_(label) {}
  /// Sets the bar's maximum.
  void setMax(float max);
  /// Sets the bar's value, reads value and maximum back and writes the percentage label
  /// when its text changes.
  void show(float value) {
    bar_.setValue(value);
    // Formatting the label costs more than the arithmetic: the text is made only when the
    // percentage changed or someone else set the label's caption since.
    // Within the span of values known to give the last percentage, it is not worked out
    // again.
    const float at = bar_.value();
    const float max = bar_.max();
    const int64_t percent = max == spanMax_ && at >= spanFrom_ && at < spanTo_
                                ? spanPercent_
                                : percentSpanning(at, max);
    if (percent != shownPercent_ || label_.captionChanges() != shownCaption_) relabel(percent);
  }

 private:
  /// percentOf(value, max), and the span of values from `value` on that give the same.
  int64_t percentSpanning(float value, float max);
  /// Writes the label for `percent` where its text differs.
  void relabel(int64_t percent);

  Control& bar_;
  Control& label_;
  int64_t shownPercent_ = -1;  ///< the percentage the label shows, -1 before the first step
  uint64_t shownCaption_ = 0;  ///< the label's caption count when it showed that percentage
  /// Values from spanFrom_ up to, not including, spanTo_ give spanPercent_ of spanMax_.
  float spanMax_ = -1;
  float spanFrom_ = 0;
  float spanTo_ = 0;
  int64_t spanPercent_ = 0;
};

}  // namespace qmv
