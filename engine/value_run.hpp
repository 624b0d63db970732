// Value-level removal on a single-column selection: duplicates keeping the first, every
// repeated value, or every unique value. Cells are cleared in place (values and formats).
// runRemoval (engine/run.hpp) reaches it for RDPV, RADP and RUDP; the two entry points
// here serve it and callers that prepared the host themselves.
#pragma once

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
