#include "engine/run_steps.hpp"

#include <cfenv>
#include <cmath>
#include <string>

#include "addin/addin_module.hpp"
#include "host/tolerant.hpp"

namespace qmv {

void enterHostRunState(Application& app) {
  app.setEnableCancelKey(xl::kErrorHandler);
  app.setStatusBar(kProcessingText);
  app.setScreenUpdating(false);
  app.setCalculation(xl::kCalculationManual);
}

void enterHostRunStateTolerant(Application& app) noexcept {
  tolerant([&] { app.setEnableCancelKey(xl::kErrorHandler); });
  tolerant([&] { app.setStatusBar(kProcessingText); });
  tolerant([&] { app.setScreenUpdating(false); });
  tolerant([&] { app.setCalculation(xl::kCalculationManual); });
}

void leaveHostRunState(Application& app) noexcept {
  tolerant([&] { app.setCalculation(xl::kCalculationAutomatic); });
  tolerant([&] { app.setStatusBar(u""); });
  tolerant([&] { app.setScreenUpdating(true); });
}

void bindUndoCommands(AddinModule& module) noexcept {
  if (!module.hostApp || !module.undoMacroRegistered) return;
  Application& app = *module.hostApp;
  tolerant([&] { app.onUndo(kUndoText, kUndoMacro); });
  tolerant([&] { app.onKey(kUndoKey, kUndoMacro); });
}

int64_t roundHalfEven(double x) {
  // nearbyint rounds in the current mode, which is to-nearest-even unless changed.
  const int previous = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double r = std::nearbyint(x);
  std::fesetround(previous);
  return static_cast<int64_t>(r);
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

void ProgressDisplay::show(int64_t step, bool capAtMax) {
  float value = static_cast<float>(step);
  if (capAtMax && value > bar_.max()) value = bar_.max();
  bar_.setValue(value);
  // Formatting the label costs more than the arithmetic: only a new percentage is written.
  const int64_t percent = percentOf(bar_.value(), bar_.max());
  if (percent == shownPercent_) return;
  shownPercent_ = percent;
  label_.setCaption(percentText(bar_.value(), bar_.max()));
}

}  // namespace qmv
