#include "platform/windows/registration.hpp"

#include <objbase.h>

#include <algorithm>

#include "platform/windows/guids.hpp"
#include "platform/windows/registry_key.hpp"

namespace qmv::windows {

namespace {

constexpr wchar_t kCbEventsProgId[] = L"Orvik.cbEvents";
constexpr wchar_t kClasses[] = L"Software\\Classes\\";
constexpr wchar_t kExcelAddins[] = L"Software\\Microsoft\\Office\\Excel\\Addins\\";
constexpr wchar_t kFriendlyName[] = L"Orvik";
constexpr wchar_t kDescription[] =
    L"Vandrel QMV is a valuable addin to automate text removing task for Excel with quality and "
    L"speed.";
constexpr wchar_t kLibHelpString[] = L"Powerful Excel Add-In to Remove Cells Text Conditionally";
constexpr DWORD kLoadAtStartup = 3;

const wchar_t* typeLibPlatform(DllBitness bitness) {
  return bitness == DllBitness::Bits64 ? L"win64" : L"win32";
}

std::wstring libVersion() { return std::to_wstring(kLibMajor) + L"." + std::to_wstring(kLibMinor); }

void addClass(std::vector<RegistryKey>& keys, const GUID& clsid, const std::wstring& progId,
              const std::wstring& dllPath) {
  const std::wstring clsidKey = std::wstring(kClasses) + L"CLSID\\" + guidText(clsid);
  keys.push_back({clsidKey, {{L"", progId}}});
  keys.push_back(
      {clsidKey + L"\\InprocServer32", {{L"", dllPath}, {L"ThreadingModel", L"Apartment"}}});
  keys.push_back({clsidKey + L"\\ProgID", {{L"", progId}}});
  keys.push_back({clsidKey + L"\\TypeLib", {{L"", guidText(kLibId)}}});
  keys.push_back({clsidKey + L"\\Version", {{L"", libVersion()}}});
  const std::wstring progIdKey = std::wstring(kClasses) + progId;
  keys.push_back({progIdKey, {{L"", progId}}});
  keys.push_back({progIdKey + L"\\CLSID", {{L"", guidText(clsid)}}});
}

void addInterface(std::vector<RegistryKey>& keys, const GUID& iid, const std::wstring& name) {
  const std::wstring key = std::wstring(kClasses) + L"Interface\\" + guidText(iid);
  keys.push_back({key, {{L"", name}}});
  keys.push_back({key + L"\\ProxyStubClsid", {{L"", kPsOaInterface}}});
  keys.push_back({key + L"\\ProxyStubClsid32", {{L"", kPsOaInterface}}});
  keys.push_back({key + L"\\TypeLib", {{L"", guidText(kLibId)}, {L"Version", libVersion()}}});
}

std::wstring directoryOf(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

HRESULT fromWin32(LSTATUS status) { return HRESULT_FROM_WIN32(static_cast<DWORD>(status)); }

HRESULT writeKey(HKEY root, const RegistryKey& entry) {
  UniqueRegKey key;
  LSTATUS status = RegCreateKeyExW(root, entry.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return fromWin32(status);
  for (const RegistryValue& value : entry.values) {
    const wchar_t* name = value.name.empty() ? nullptr : value.name.c_str();
    if (const auto* text = std::get_if<std::wstring>(&value.data)) {
      status =
          RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text->c_str()),
                         static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t)));
    } else {
      const DWORD number = std::get<DWORD>(value.data);
      status = RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                              sizeof(number));
    }
    if (status != ERROR_SUCCESS) break;
  }
  return fromWin32(status);
}

// The class server path registered under `root` in the view `view` (0: this DLL's own), or
// nothing.
std::optional<std::wstring> serverPath(HKEY root, REGSAM view) {
  const std::wstring server =
      std::wstring(kClasses) + L"CLSID\\" + guidText(kClsidConnect) + L"\\InprocServer32";
  UniqueRegKey key;
  wchar_t path[MAX_PATH * 2] = {};
  DWORD size = sizeof(path);
  if (RegOpenKeyExW(root, server.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS ||
      RegGetValueW(key.get(), nullptr, nullptr, RRF_RT_REG_SZ, nullptr, path, &size) !=
          ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(path);
}

// Whether the DLL of the other bitness is registered under `root`: a class key in the other
// registry view that names another DLL than this view's. Where both views name one physical
// key (32-bit Windows, where the view flags are ignored; Wine's per-user classes) the two
// paths are the same, and the other registration, if there was one, was overwritten.
bool otherBitnessRegistered(HKEY root) {
  const REGSAM otherView = builtBitness() == DllBitness::Bits64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  const std::optional<std::wstring> other = serverPath(root, otherView);
  return other && other != serverPath(root, 0);
}

}  // namespace

std::wstring guidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

std::optional<RegistrationScope> scopeFromCommandLine(const wchar_t* commandLine) {
  if (!commandLine || !*commandLine ||
      CompareStringOrdinal(commandLine, -1, L"user", -1, TRUE) == CSTR_EQUAL) {
    return RegistrationScope::User;
  }
  if (CompareStringOrdinal(commandLine, -1, L"machine", -1, TRUE) == CSTR_EQUAL) {
    return RegistrationScope::Machine;
  }
  return std::nullopt;
}

HKEY rootKey(RegistrationScope scope) {
  return scope == RegistrationScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

DllBitness builtBitness() {
#ifdef _WIN64
  return DllBitness::Bits64;
#else
  return DllBitness::Bits32;
#endif
}

std::vector<RegistryKey> registrationKeys(const std::wstring& dllPath) {
  return registrationKeys(dllPath, directoryOf(dllPath), builtBitness());
}

std::vector<RegistryKey> registrationKeys(const std::wstring& dllPath,
                                          const std::wstring& dllFolder, DllBitness bitness) {
  std::vector<RegistryKey> keys;
  addClass(keys, kClsidConnect, kConnectProgId, dllPath);
  addClass(keys, kClsidCbEvents, kCbEventsProgId, dllPath);

  const std::wstring lib = std::wstring(kClasses) + L"TypeLib\\" + guidText(kLibId);
  const std::wstring version = lib + L"\\" + libVersion();
  keys.push_back({lib, {}});
  keys.push_back({version, {{L"", kLibHelpString}}});
  keys.push_back({version + L"\\FLAGS", {{L"", L"0"}}});
  keys.push_back({version + L"\\HELPDIR", {{L"", dllFolder}}});
  keys.push_back({version + L"\\0", {}});
  keys.push_back({version + L"\\0\\" + typeLibPlatform(bitness), {{L"", dllPath}}});

  addInterface(keys, kIidConnect, L"_Connect");
  addInterface(keys, kIidCbEvents, L"_cbEvents");

  keys.push_back({std::wstring(kExcelAddins) + kConnectProgId,
                  {{L"FriendlyName", kFriendlyName},
                   {L"Description", kDescription},
                   {L"LoadBehavior", kLoadAtStartup}}});
  return keys;
}

std::vector<std::wstring> sharedKeys(RegistrationScope scope) {
  const std::wstring classes = kClasses;
  std::vector<std::wstring> keys = {
      classes + L"TypeLib\\" + guidText(kLibId),
      classes + kCbEventsProgId,
      classes + kConnectProgId,
  };
  if (scope == RegistrationScope::User) keys.push_back(std::wstring(kExcelAddins) + kConnectProgId);
  return keys;
}

std::wstring typeLibFileKey(DllBitness bitness) {
  return std::wstring(kClasses) + L"TypeLib\\" + guidText(kLibId) + L"\\" + libVersion() +
         L"\\0\\" + typeLibPlatform(bitness);
}

std::vector<std::wstring> ownedKeys() {
  const std::wstring classes = kClasses;
  return {
      std::wstring(kExcelAddins) + kConnectProgId,
      classes + L"Interface\\" + guidText(kIidCbEvents),
      classes + L"Interface\\" + guidText(kIidConnect),
      classes + L"TypeLib\\" + guidText(kLibId),
      classes + kCbEventsProgId,
      classes + L"CLSID\\" + guidText(kClsidCbEvents),
      classes + kConnectProgId,
      classes + L"CLSID\\" + guidText(kClsidConnect),
  };
}

HRESULT registerServer(RegistrationScope scope, const std::wstring& dllPath) {
  const HKEY root = rootKey(scope);
  for (const RegistryKey& entry : registrationKeys(dllPath)) {
    const HRESULT hr = writeKey(root, entry);
    if (FAILED(hr)) {
      unregisterServer(scope);
      return hr;
    }
  }
  return S_OK;
}

HRESULT unregisterServer(RegistrationScope scope) {
  const HKEY root = rootKey(scope);
  const std::vector<std::wstring> shared = sharedKeys(scope);
  const auto isShared = [&](const std::wstring& path) {
    return std::find(shared.begin(), shared.end(), path) != shared.end();
  };
  HRESULT result = S_OK;
  const auto remove = [&](const std::wstring& path) {
    const LSTATUS status = RegDeleteTreeW(root, path.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return;
    // RegDeleteTree leaves the key itself when it was opened without delete rights.
    if (RegDeleteKeyW(root, path.c_str()) == ERROR_SUCCESS) return;
    result = fromWin32(status);
  };
  const bool keepShared = otherBitnessRegistered(root);
  for (const std::wstring& path : ownedKeys()) {
    if (!isShared(path)) remove(path);
  }
  if (keepShared) {
    remove(typeLibFileKey(builtBitness()));
  } else {
    for (const std::wstring& path : shared) remove(path);
  }
  return result;
}

}  // namespace qmv::windows
