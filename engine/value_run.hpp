// Value-level removal on a single-column selection: duplicates keeping the first, every
// repeated value, or every unique value. Cells are cleared in place (values and formats).
// runRemoval (engine/run.hpp) reaches it for RDPV, RADP and RUDP; the two entry points
// here serve it and callers that prepared the host themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/operations.hpp"
#include "engine/run.hpp"
#include "engine/session.hpp"
#include "engine/value_rule.hpp"

namespace qmv {

/// A whole run: refusals (no workbook, not one column), host run state, the mode with
/// progress (maximum T, or 2T for AllRepeated), and the host restored; the observer's
/// finish() comes on every way out.
void runValueRemoval(RemovalSession& session, ValueMode mode, RunObserver& observer);

/// The same inside a run whose caller has already prepared the host, cleared the stop
/// request, refused an empty selection and set the progress maximum to `nonEmptyCount`
/// (> 0); the caller restores the host afterwards. In KeepFirst mode every cell of a
/// hidden row is cleared, empty or not. Ends with the observer's finish().
void runPreparedValueRemoval(RemovalSession& session, ValueMode mode, int32_t nonEmptyCount,
                             RunObserver& observer);

/// A recipe's value step, inside the run of its character steps, which prepared the host,
/// counted the cells and refused an empty selection or one that is not one column. Counts
/// the cells again and sets the progress maximum anew; its clears join the undo record of
/// the character steps (UndoSnapshot::beginFollowingRun), so that one undo takes back the
/// whole recipe. Neither calls the observer's finish() nor binds the undo command: the
/// caller ends the run.
void runValueRemovalAfterCharacters(RemovalSession& session, ValueMode mode, RunObserver& observer);

/// Whether a value removal leaves `content` as it is because the host could not put it
/// back after a clear: an array formula longer than `limit` (Range::arrayFormulaLimit),
/// as an Excel without Range.Formula2 has for FormulaArray's 255 characters. The run, the
/// preview and the question before the run leave out the same cells.
bool arrayFormulaKept(const CellContent& content, std::optional<std::size_t> limit);

/// The sentence the question before a value removal adds when the selection holds array
/// formulas the run will leave (arrayFormulaKept); none when it holds none or the host puts
/// every formula back. A host failure counts as none.
std::optional<std::u16string> keptArrayFormulasQuestion(Application& app);

/// "N array formulas longer than L characters were left as they are." ("1 array formula
/// ... was left as it is."): told at the end of a run that left them.
std::u16string keptArrayFormulasText(std::size_t count, std::size_t limit);

/// The areas of a selection when they all lie in one and the same column; none otherwise
/// (also when the host cannot tell). A value removal refuses any other selection.
std::optional<std::vector<AreaRef>> singleColumnAreas(Range& selection);

/// One cell of the list a value removal decides on when the selection has several areas.
struct ValueListCell {
  CellRef cell;
  CellContent content;
};

/// The cells of `areas` (of one column of `sheet`), every row once, top to bottom,
/// whatever the order and overlap of the areas. An area the host cannot read is left out.
std::vector<ValueListCell> readValueList(Worksheet& sheet, std::vector<AreaRef> areas);

}  // namespace qmv
