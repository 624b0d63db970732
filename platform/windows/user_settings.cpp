#include "platform/windows/user_settings.hpp"

#include <cstdint>

#include "host/host_error.hpp"
#include "platform/windows/registry_key.hpp"

namespace qmv::windows {

namespace {

// The decimal digits of a DWORD, or none for any other text (empty, signs, spaces, too
// large).
std::optional<DWORD> parseDword(std::u16string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t n = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    n = n * 10 + static_cast<uint64_t>(c - u'0');
  }
  if (n > UINT32_MAX) return std::nullopt;
  return static_cast<DWORD>(n);
}

std::u16string digitsOf(DWORD n) {
  const std::wstring digits = std::to_wstring(n);
  return {digits.begin(), digits.end()};
}

[[noreturn]] void refused(const char* what, LSTATUS status) {
  throw HostError(host_errors::kRefused,
                  std::string(what) + " (registry error " + std::to_string(status) + ")");
}

}  // namespace

std::optional<std::u16string> readUserSetting(std::wstring_view name) {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kUserSettingsKey, 0, KEY_QUERY_VALUE, key.put()) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  const std::wstring valueName(name);
  DWORD type = REG_NONE;
  DWORD data = 0;
  DWORD size = sizeof(data);
  // A value of another type, or of another size, is not this setting: it reads as unset.
  const LSTATUS status = RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type,
                                          reinterpret_cast<BYTE*>(&data), &size);
  if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(data)) return std::nullopt;
  return digitsOf(data);
}

void writeUserSetting(std::wstring_view name, std::u16string_view value) {
  const std::optional<DWORD> number = parseDword(value);
  if (!number) throw HostError(host_errors::kInvalidCall, "A setting is a whole number");
  UniqueRegKey key;
  LSTATUS status =
      RegCreateKeyExW(HKEY_CURRENT_USER, kUserSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) refused("The settings key cannot be created", status);
  const std::wstring valueName(name);
  const DWORD data = *number;
  status = RegSetValueExW(key.get(), valueName.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&data), sizeof(data));
  if (status != ERROR_SUCCESS) refused("The setting cannot be stored", status);
}

bool removeUserSetting(std::wstring_view name) noexcept {
  UniqueRegKey key;
  LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kUserSettingsKey, 0, KEY_SET_VALUE, key.put());
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (status != ERROR_SUCCESS) return false;
  const std::wstring valueName(name);
  status = RegDeleteValueW(key.get(), valueName.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace qmv::windows
