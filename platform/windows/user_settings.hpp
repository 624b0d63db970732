// The add-in's per-user settings in the registry: DWORD values under
// HKEY_CURRENT_USER\Software\Vandrel QMV, which follow the user from session to session
// (and, with a roaming profile, from machine to machine). The host interface passes a
// setting as text, so a value is read and written as the decimal digits of its DWORD.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qmv::windows {

/// The key of the per-user settings, under HKEY_CURRENT_USER.
inline constexpr wchar_t kUserSettingsKey[] = L"Software\\Vandrel QMV";

/// The setting `name` as decimal digits ("0", "1"); none when the key or the value is
/// missing, the value is not a REG_DWORD, or the registry cannot be read. Never creates the
/// key.
std::optional<std::u16string> readUserSetting(std::wstring_view name);

/// Stores `value`, the decimal digits of a number from 0 to 4294967295, as the REG_DWORD
/// `name`, creating the key when it is missing. Throws HostError for any other text and
/// when the registry refuses the write.
void writeUserSetting(std::wstring_view name, std::u16string_view value);

/// Removes the value `name`; a missing key or value is no failure. Returns false when the
/// registry refuses.
bool removeUserSetting(std::wstring_view name) noexcept;

}  // namespace qmv::windows
