// Value-level removal on a single-column selection: duplicates keeping the first, every
// repeated value, or every unique value. Cells are cleared in place (values and formats).
// runRemoval (engine/run.hpp) reaches it for RDPV, RADP and RUDP; the two entry points
// here serve it and callers that prepared the host themselves.
#pragma once

#include <cstdint>

#include "engine/operations.hpp"
#include "engine/run.hpp"
#include "engine/session.hpp"

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

}  // namespace qmv
