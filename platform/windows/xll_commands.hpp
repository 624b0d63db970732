// The DLL as an XLL: the commands that Excel can run by name once it has loaded the DLL
// through Application.RegisterXLL. xlAutoOpen registers them with xlfRegister through
// Excel's callback; each command runs the macro the add-in offered for its name.
#pragma once

#include "platform/windows/excel_host.hpp"

namespace qmv::windows {

/// The DLL's own command library ("undo_changes").
XllCommandLibrary& xllCommands();

}  // namespace qmv::windows
