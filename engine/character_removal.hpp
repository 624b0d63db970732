// The thirteen character removals run from the confirm-and-progress dialog.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "commands/form.hpp"
#include "commands/operation_codes.hpp"

namespace qmv {

class AddinModule;
class WorksheetFunction;

/// The inputs of the position and user-character operations, as converted from the boxes.
/// An absent number means its box did not convert; the operations that need it then fail.
struct CharacterInputs {
  std::optional<int16_t> startPosition;
  std::optional<int16_t> charCount;
  std::u16string_view userChars;
};

/// The new text of one cell for a character operation (RNUM ... RLOC), or no value when the
/// transform fails (a box that does not convert, a position outside the text's rules, a
/// failing host TRIM or CLEAN). RNPC and RLTE ask the host's `functions` (they fail when
/// it is null); the other operations never touch it.
std::optional<std::u16string> applyCharacterOperation(Operation operation, std::u16string_view text,
                                                      const CharacterInputs& inputs,
                                                      WorksheetFunction* functions);

/// True for the operations that ask the host's worksheet functions (RNPC, RLTE).
bool usesWorksheetFunctions(Operation operation);

/// Runs `operation` (one of the thirteen character codes) over the selection from the
/// dialog `dialog` (frmPrgBar): its ProgressBar1 and lblPer show progress, its boxes txtSP,
/// txtNOC and txtUDC are read again for every cell, and it is unloaded at the end.
void RunCharacterRemoval(AddinModule& module, Form& dialog, Operation operation);

}  // namespace qmv
