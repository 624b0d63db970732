// Value-level removal on a single-column selection: duplicates keeping the first, every
// repeated value, or every unique value. Cells are cleared in place (values and formats).
#pragma once

#include <cstdint>

#include "commands/form.hpp"

namespace qmv {

class AddinModule;

/// Runs from the confirm-and-progress dialog: refusals, host run state, the chosen mode
/// with progress on the dialog's ProgressBar1 and lblPer, and the host restored; the
/// dialog is unloaded on every way out. Exactly one flag is true.
void RunDuplicateRemoval(AddinModule& module, Form& dialog, bool keepOne, bool allDuplicates,
                         bool uniqueValues);

/// Runs from the wizard, whose caller has already prepared the host, cleared the stop
/// flag, refused an empty selection and set the progress maximum to `nonEmptyCount`
/// (> 0); the caller restores the host afterwards. Drives the wizard's ProgressBar1 and
/// lblPer and unloads the wizard at its end. In keep-one mode every cell of a hidden row
/// is cleared, empty or not.
void RunWizardDuplicateRemoval(AddinModule& module, Form& wizard, bool keepOne,
                               bool allDuplicates, bool uniqueValues, int32_t nonEmptyCount);

}  // namespace qmv
