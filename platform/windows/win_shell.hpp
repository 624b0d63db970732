// Opening addresses in the user's browser through the Windows shell.
#pragma once

#include "host/shell.hpp"

namespace qmv::windows {

/// ShellExecuteW with the "open" verb and SW_SHOWNORMAL.
class Win32Shell final : public Shell {
 public:
  void openAddress(std::uintptr_t ownerWindow, const std::u16string& address) override;
};

}  // namespace qmv::windows
