// The macro "undo_changes" that Excel's Undo entry and Control+Z run: the DLL is also an
// XLL, and when Excel has loaded it as one the name is registered as a command.
#pragma once

#include <functional>
#include <string>

namespace qmv::windows {

/// Makes `name` run `macro` when Excel calls it; false when Excel has not loaded the DLL
/// as an XLL (then nothing may be bound to the name).
bool registerUndoMacro(const std::u16string& name, std::function<void()> macro);

}  // namespace qmv::windows
