// Excel's side of the XLL interface as the tests play it: RegisterXLL loads a library and
// calls its xlAutoOpen; the library calls back through MdCallBack12, which the test
// program exports as Excel's executable does; xlfRegister calls are recorded, and a
// registered command can be run by name as Excel runs a macro.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/windows/xll_api.hpp"

namespace qmv::windows::fake {

/// One xlfRegister call as the library made it.
struct Registration {
  int argumentCount = 0;
  std::wstring module;
  std::wstring procedure;
  std::wstring typeText;
  std::wstring functionText;
  std::wstring argumentText;
  double macroType = -1;
  std::wstring category;
};

/// The XLL host of one fake Excel. While it exists, MdCallBack12 answers for it.
class XllHost {
 public:
  XllHost();
  ~XllHost();
  XllHost(const XllHost&) = delete;
  XllHost& operator=(const XllHost&) = delete;

  /// Application.RegisterXLL: loads the library and calls its xlAutoOpen; false when it
  /// cannot be loaded or has no xlAutoOpen.
  bool registerXll(const std::wstring& path);
  /// Runs a registered command as Excel runs a macro; false when no such command is
  /// registered or its procedure is missing (Excel then alerts "Cannot run the macro",
  /// counted in missingRuns).
  bool run(const std::wstring& name);
  /// Unloads every library: calls its xlAutoClose, then unregisters whatever commands it
  /// left registered, as Excel does after xlAutoClose
  /// (https://learn.microsoft.com/office/client-developer/excel/xlautoclose), and frees it.
  /// Excel does this on closing, before it asks to save changes; when the user cancels,
  /// Excel and its COM add-ins keep running without the XLL.
  void closeAll();

  /// When false, xlfRegister answers #VALUE! (Excel refused the registration).
  bool acceptRegistrations = true;
  /// Every xlfRegister, xlfUnregister and xlfSetName call, in order.
  std::vector<Registration> registrations;
  std::vector<double> unregistered;
  std::vector<std::wstring> namesDeleted;
  /// Registered commands by name: the procedure's address and the registration id.
  struct Registered {
    FARPROC procedure = nullptr;
    double id = 0;
  };
  std::map<std::wstring, Registered> commands;
  /// Number of xlAutoOpen and xlAutoClose calls.
  int opens = 0;
  int closes = 0;
  /// Runs of a name that no registered command has.
  int missingRuns = 0;
  /// Excel's key assignments, which ON.KEY (xlcOnKey) changes as Application.OnKey does:
  /// a macro for the key, or null to give the key its own action back.
  std::function<void(const std::wstring& key, const std::wstring* macro)> onKey;

  /// The callback's work for the active host.
  int callback(int function, int count, xll::XLOPER12** args, xll::XLOPER12* result);

 private:
  std::vector<HMODULE> loaded_;
  double nextId_ = 1;
};

}  // namespace qmv::windows::fake
