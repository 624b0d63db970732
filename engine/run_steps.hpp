// Steps shared by every run: the host's run state, the undo bindings and the progress
// display on a form's progress bar and percentage label.
#pragma once

#include <cstdint>

#include "commands/form.hpp"
#include "host/host.hpp"

namespace qmv {

class AddinModule;

/// Texts and names of the host run state and the undo bindings.
inline constexpr char16_t kProcessingText[] = u"Processing...!";
inline constexpr char16_t kUndoText[] = u"VandrelQMV_Undo";
inline constexpr char16_t kUndoMacro[] = u"undo_changes";
inline constexpr char16_t kUndoKey[] = u"^z";

/// Puts the host into its run state: cancel key 2, status bar "Processing...!", screen
/// updating off, calculation manual, in that order. A failing call propagates (callers
/// decide whether these steps are tolerant).
void enterHostRunState(Application& app);

/// The same four steps, each tolerant: a failing step is skipped and the next one runs.
void enterHostRunStateTolerant(Application& app) noexcept;

/// Restores the host after a run, each step tolerant: calculation automatic (whatever it
/// was before), status bar empty, screen updating on. The cancel key stays at 2.
void leaveHostRunState(Application& app) noexcept;

/// Binds the host's Undo entry and Control+Z to the undo macro, each step tolerant.
/// Does nothing when the host could not register the macro (an unbound name would make
/// every Control+Z fail).
void bindUndoCommands(AddinModule& module) noexcept;

/// Gives Control+Z back to the host if the add-in bound it; tolerant.
void releaseUndoKey(AddinModule& module) noexcept;

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
  /// Sets the bar's value to `step` (never above the maximum when `capAtMax`), reads value
  /// and maximum back and writes the percentage label when its text changes.
  void show(int64_t step, bool capAtMax = false);

 private:
  Control& bar_;
  Control& label_;
  int64_t shownPercent_ = -1;  ///< the percentage the label shows, -1 before the first step
};

}  // namespace qmv
