// The run options shared by the entry points, the dialog, the engines and the wizard.
#pragma once

#include <string>

namespace qmv {

/// Process-wide run state. The dialog inputs (start position, character count, user
/// characters) live in the dialog's boxes and are read from there by the engine.
struct RunOptions {
  std::u16string operationCode;  ///< "RNUM" ... "RUDP"; empty before the first command
  bool stopRequested = false;    ///< set by a Stop click, cleared when a run starts
};

}  // namespace qmv
