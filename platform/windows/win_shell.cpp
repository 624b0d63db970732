#include "platform/windows/win_shell.hpp"

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include "platform/windows/com_support.hpp"

namespace qmv::windows {

void Win32Shell::openAddress(std::uintptr_t ownerWindow, const std::u16string& address) {
  const std::wstring target = toWide(address);
  ShellExecuteW(reinterpret_cast<HWND>(ownerWindow), L"open", target.c_str(), nullptr, nullptr,
                SW_SHOWNORMAL);
}

}  // namespace qmv::windows
