#include "platform/windows/undo_macro.hpp"

namespace qmv::windows {

bool registerUndoMacro(const std::u16string& /*name*/, std::function<void()> /*macro*/) {
  // Excel has not loaded the DLL as an XLL: the name cannot be run, so nothing is bound.
  return false;
}

}  // namespace qmv::windows
