// The add-in's state inside the DLL: the module-level state of the add-in, its Connect
// logic and the Windows services they use. One instance lives while any COM object of the
// DLL that needs it is alive.
#pragma once

#include <memory>

#include "addin/addin_module.hpp"
#include "addin/connect.hpp"
#include "platform/windows/ribbon.hpp"
#include "platform/windows/win_forms.hpp"
#include "platform/windows/win_shell.hpp"

namespace qmv::windows {

/// Everything the add-in keeps while Excel holds its objects.
struct AddinState {
  AddinState() : module(forms, shell), connect(module) {}
  AddinState(const AddinState&) = delete;
  AddinState& operator=(const AddinState&) = delete;

  Win32FormsToolkit forms;
  Win32Shell shell;
  AddinModule module;
  Connect connect;
  /// The Ribbon tab's IRibbonUI while Office has the tab loaded.
  RibbonUi ribbon;
};

/// The DLL's one state, created on first use and shared by its users; it goes when the
/// last user releases it.
std::shared_ptr<AddinState> sharedAddinState();

/// The DLL's module handle (for its path and resources).
HINSTANCE dllInstance();

/// The DLL's full path.
std::wstring dllPath();

}  // namespace qmv::windows
