// What installing the add-in writes to the registry, and writing and removing it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace qmv::windows {

/// Where the add-in is registered: for the current user (HKEY_CURRENT_USER, no
/// administrator rights needed) or for every user of the machine (HKEY_LOCAL_MACHINE).
enum class RegistrationScope { User, Machine };

/// The scope a DllInstall command line asks for: "user" (or nothing) or "machine".
std::optional<RegistrationScope> scopeFromCommandLine(const wchar_t* commandLine);

/// The root key of a scope.
HKEY rootKey(RegistrationScope scope);

/// One value of a registry key; an empty name is the key's default value.
struct RegistryValue {
  std::wstring name;
  std::variant<std::wstring, DWORD> data;
};

/// One key, relative to the scope's root, with the values registering writes.
struct RegistryKey {
  std::wstring path;
  std::vector<RegistryValue> values;
};

/// Every key and value registering writes, parents before children. `dllPath` is the
/// DLL's full path; the type library is its resource 1.
std::vector<RegistryKey> registrationKeys(const std::wstring& dllPath);

/// The bitness of a DLL, which names the type library's platform key (win32 or win64).
enum class DllBitness { Bits32, Bits64 };

/// The bitness of this build of the DLL.
DllBitness builtBitness();

/// The same keys for a DLL of `bitness`, with its path and folder given as text of their
/// own (an installer writes them with its own placeholders for the installed file and
/// folder).
std::vector<RegistryKey> registrationKeys(const std::wstring& dllPath,
                                          const std::wstring& dllFolder, DllBitness bitness);

/// The keys unregistering deletes with everything below them: the keys that belong to
/// the add-in alone (never a shared parent such as CLSID or Addins).
std::vector<std::wstring> ownedKeys();

/// The owned keys that the 32-bit and the 64-bit registration share in `scope` on 64-bit
/// Windows (one physical key seen by both registry views): the ProgIDs and the type
/// library in either scope, and Excel's add-in key per user, where all of Software is
/// shared. The class and interface keys are never among them (each view has its own), nor
/// the add-in key of the machine, which lies under the redirected HKLM\Software.
std::vector<std::wstring> sharedKeys(RegistrationScope scope);

/// The key, below the shared type library key, that names the DLL of `bitness`
/// ("...\1.0\0\win64").
std::wstring typeLibFileKey(DllBitness bitness);

/// Writes every entry; on failure removes what it wrote and returns the error.
HRESULT registerServer(RegistrationScope scope, const std::wstring& dllPath);

/// Removes every owned key; keys that are already gone are no error. While the DLL of the
/// other bitness stays registered in the same scope (its class key is in the other view),
/// the shared keys stay too, and of the type library only this bitness's file key goes.
HRESULT unregisterServer(RegistrationScope scope);

/// Identifier as registry text, "{XXXXXXXX-...}".
std::wstring guidText(const GUID& guid);

}  // namespace qmv::windows
