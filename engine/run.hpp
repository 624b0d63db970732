// The run API: one removal over the selection of the host, reporting to an observer.
//
// Call order:
//   1. Build a RunRequest: the operation and, for the character operations that read
//      inputs, an InputSource asked once per visited cell (a form reads its boxes again
//      each time; a tool gives fixed numbers).
//   2. Call runRemoval(session, request, observer). It returns when the run has ended; the
//      observer hears, in this order:
//        - message(...) then finish() when the run is refused (no open workbook; for a
//          value operation also a selection that is not one column);
//        - started(): a stop requested before this point does not count;
//        - message("Selection is Empty!") when the selection holds no non-empty cell;
//        - setMaximum(T) with T the non-empty cells (2T for AllRepeated, set again);
//        - per step: yield() once, progress(step) and stopRequested(); a true answer ends
//          the loop after the step that is in progress;
//        - message(gaveUpText(n)) after the last cell when the transform gave up on n
//          cells (a pattern past its budget), which stay as they were;
//        - finish() once at the end, also after a stop and after an empty selection.
//      An exception that leaves the run (out of memory for the undo record, a failing
//      observer) still puts the host back (calculation automatic, status bar empty, screen
//      updating on) and calls finish() before it propagates.
//   3. After a character run session.undoSnapshot holds the visited cells for undo and the
//      host's undo entry and Control+Z are bound (when the session registered the macro).
//
// The changes of cells a run makes are the add-in's own (OwnChanges): they never give
// Control+Z back to the host.
//
// Character runs visit the constants of the selection, area by area, row by row; a cell is
// written only when its new text differs, as typed input. Every host failure after the
// start is skipped and the run goes on. Value runs clear whole cells of one column.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/block_rule.hpp"
#include "engine/operations.hpp"
#include "engine/session.hpp"

namespace qmv {

/// Messages of a run.
inline constexpr char16_t kNoWorkbookText[] = u"Please add a New Workbook!";
inline constexpr char16_t kEmptySelectionText[] = u"Selection is Empty!";
inline constexpr char16_t kSingleColumnText[] = u"Please Select Single Column!";
/// After "keep one" on a sheet whose AutoFilter filtered by what cannot be set again.
inline constexpr char16_t kAutoFilterClearedText[] =
    u"The AutoFilter of this sheet was cleared. The rows it hid are hidden again; filter the "
    u"list again to change them.";

/// Hears of a run: its progress and its messages, and answers whether to stop.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  /// The run has started; forget any earlier stop request.
  virtual void started() = 0;
  /// The progress maximum (single precision, as a progress bar holds it).
  virtual void setMaximum(float maximum) = 0;
  /// Lets the user act once (a Stop click lands here).
  virtual void yield() = 0;
  /// Steps done so far; never above the maximum in a value run.
  virtual void progress(float step) = 0;
  /// True when the user asked the run to stop.
  virtual bool stopRequested() = 0;
  /// Tells the user something (a refusal or an empty selection).
  virtual void message(const std::u16string& text) = 0;
  /// The run has ended; its form closes.
  virtual void finish() = 0;
};

/// The line that tells how many cells a run or a preview left as they were because the
/// transform gave up on them: "1 cell was left as it was: the pattern needed too many steps".
std::u16string gaveUpText(int64_t cells);

/// One run.
struct RunRequest {
  Operation operation = Operation::RNUM;
  /// Character operations: the inputs per cell. Absent: `operation` without inputs.
  InputSource inputs;
  /// Character operations: asked once after the maximum is set and before any cell; a
  /// value mode hands the run to the value removal over the same selection, with the
  /// host already prepared and every cell of a row the filter hid cleared, empty or not.
  std::function<std::optional<ValueMode>()> beforeCells;
  /// Character operations: the text rules of every cell, whatever the inputs say.
  TextRules rules = TextRules::Classic;
  /// A recipe's character steps (Recipe::characterSteps, engine/recipe.hpp), run in order
  /// as one rule over each cell (BlockRequest::steps); when given, `operation`, `inputs`
  /// and `rules` are not read. The run stays one run: one maximum, one progress, one Stop
  /// and one undo record that brings every cell back as it was before the first step.
  /// The steps view the recipe's texts: the recipe must outlive the run.
  std::vector<CellRequest> steps;
  /// Character operations: a value removal that follows the character steps over the same
  /// selection, in the same run (a recipe that ends by clearing values). The selection must
  /// then be one column, which is checked before any cell changes; a Stop during the
  /// character steps ends the run before it; its clears join the same undo record, so that
  /// one undo brings every cell back as it was before the first step.
  std::optional<ValueMode> afterCells;
};

/// Runs the request over the selection of session.hostApp (character or value removal by
/// the operation's kind).
void runRemoval(RemovalSession& session, const RunRequest& request, RunObserver& observer);

}  // namespace qmv
