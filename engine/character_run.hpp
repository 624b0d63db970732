// The per-cell loop shared by every character run (the confirm-and-progress dialog and the
// wizard): start checks, the host's run state, the cells to visit, undo recording, the
// cell text, the caller's transform, the write, one yield, progress and the stop test,
// and the end steps.
//
// The run, in order:
//   1. No open workbook: "Please add a New Workbook!", the form is unloaded, nothing else.
//   2. Host run state (cancel key 2, "Processing...!", screen updating off, calculation
//      manual); stopRequested cleared; T = COUNTA of the selection (0 when it fails).
//      From here on every failing step is skipped.
//   3. T = 0: "Selection is Empty!" and End (the previous undo snapshot stays).
//   4. The progress bar's maximum is set to T; then `beforeCells` runs, if given, and
//      may divert to End (the wizard's duplicate path).
//   5. A new undo snapshot; the cells to visit are the constants of the selection, area by
//      area, row by row, read in blocks. For each cell: record it for undo, turn its value
//      into text (an error value has none and stays), call the transform; when it gives a
//      text that differs from the cell text, assign it as typed input (one host call);
//      yield once; show progress; leave when stopRequested.
//   6. What the run left is read back for the undo record.
//   End: undo bindings, host restored, the form unloaded. No completion message.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "commands/form.hpp"

namespace qmv {

class AddinModule;

/// Messages of a run.
inline constexpr char16_t kNoWorkbookText[] = u"Please add a New Workbook!";
inline constexpr char16_t kEmptySelectionText[] = u"Selection is Empty!";

/// The form that runs, and the progress controls the run drives on it.
struct RunForm {
  Form& form;             ///< unloaded at the end of the run
  Control& progressBar;   ///< maximum T, value = cells visited
  Control& percentLabel;  ///< "40 %"
};

/// A cell's new text from its cell text; no value leaves the cell as it is. Called once per
/// visited cell, so it may read the form's controls afresh every time.
using CellTransform = std::function<std::optional<std::u16string>(const std::u16string& text)>;

/// Steps a caller adds to the shared run.
struct CharacterRunSteps {
  /// Runs after the progress maximum is set to `nonEmptyCount` and before the undo
  /// snapshot; return false to skip the cells and go straight to End.
  std::function<bool(int32_t nonEmptyCount)> beforeCells;
};

/// Runs the character loop over the selection of module.hostApp with `transform`.
void runCharacterCells(AddinModule& module, const RunForm& runForm, const CellTransform& transform,
                       const CharacterRunSteps& steps = {});

}  // namespace qmv
