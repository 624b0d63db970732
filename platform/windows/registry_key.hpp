// The owner of an open registry key: every key the add-in opens or creates is held by one
// and closed exactly once.
#pragma once

#include <windows.h>

#include "platform/windows/unique_handle.hpp"

namespace qmv::windows {

struct CloseRegKey {
  void operator()(HKEY key) const noexcept { RegCloseKey(key); }
};

/// An open registry key (RegOpenKeyExW, RegCreateKeyExW fill in put()).
using UniqueRegKey = UniqueHandle<HKEY, CloseRegKey>;

}  // namespace qmv::windows
