// Self-registration of VandrelQMV.dll: every registry entry, removal of exactly those
// entries, and the embedded type library.
#include "platform/windows/registration.hpp"

#include <gtest/gtest.h>

#include <optional>

#include "dll_under_test.hpp"
#include "platform/windows/com_support.hpp"
#include "platform/windows/guids.hpp"

namespace qmv::windows {
namespace {

std::optional<std::wstring> readText(HKEY root, const std::wstring& key, const wchar_t* name) {
  wchar_t buffer[2048] = {};
  DWORD size = sizeof(buffer);
  DWORD type = 0;
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_ANY, &type, buffer, &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  return std::wstring(buffer);
}

std::optional<DWORD> readNumber(HKEY root, const std::wstring& key, const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

bool keyExists(HKEY root, const std::wstring& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

const std::wstring kAddinKey = L"Software\\Microsoft\\Office\\Excel\\Addins\\Orvik.Connect";

struct Expected {
  const char* name;
  std::wstring key;
  const wchar_t* value;  // null: default value
  std::wstring text;
};

std::vector<Expected> expectedTexts(const std::wstring& dll) {
  const std::wstring clsid = L"Software\\Classes\\CLSID\\" + guidText(kClsidConnect);
  const std::wstring lib = L"Software\\Classes\\TypeLib\\" + guidText(kLibId) + L"\\1.0";
#ifdef _WIN64
  const std::wstring platform = L"win64";
#else
  const std::wstring platform = L"win32";
#endif
  return {
      {"server path", clsid + L"\\InprocServer32", nullptr, dll},
      {"threading model", clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {"class ProgID", clsid + L"\\ProgID", nullptr, L"Orvik.Connect"},
      {"ProgID class", L"Software\\Classes\\Orvik.Connect\\CLSID", nullptr,
       guidText(kClsidConnect)},
      {"cbEvents ProgID class", L"Software\\Classes\\Orvik.cbEvents\\CLSID", nullptr,
       guidText(kClsidCbEvents)},
      {"class type library", clsid + L"\\TypeLib", nullptr, guidText(kLibId)},
      {"type library help string", lib, nullptr,
       L"Powerful Excel Add-In to Remove Cells Text Conditionally"},
      {"type library file", lib + L"\\0\\" + platform, nullptr, dll},
      {"interface name", L"Software\\Classes\\Interface\\" + guidText(kIidConnect), nullptr,
       L"_Connect"},
      {"interface marshaler",
       L"Software\\Classes\\Interface\\" + guidText(kIidCbEvents) + L"\\ProxyStubClsid32", nullptr,
       kPsOaInterface},
      {"friendly name", kAddinKey, L"FriendlyName", L"Orvik"},
      {"description", kAddinKey, L"Description",
       L"Vandrel QMV is a valuable addin to automate text removing task for Excel with quality and "
       L"speed."},
  };
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dll_) << "VandrelQMV.dll did not load"; }
  void checkScope(HKEY root, const std::function<HRESULT()>& doRegister,
                  const std::function<HRESULT()>& doUnregister) {
    // A neighbour in the shared keys must survive unregistering.
    const std::wstring neighbour = L"Software\\Microsoft\\Office\\Excel\\Addins\\Other.Addin";
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, neighbour.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &created,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(created);

    ASSERT_EQ(doRegister(), S_OK);
    for (const Expected& e : expectedTexts(test::dllUnderTest())) {
      SCOPED_TRACE(e.name);
      auto actual = readText(root, e.key, e.value);
      ASSERT_TRUE(actual.has_value());
      EXPECT_EQ(CompareStringOrdinal(actual->c_str(), -1, e.text.c_str(), -1, TRUE), CSTR_EQUAL)
          << "registry holds a different text";
    }
    EXPECT_EQ(readNumber(root, kAddinKey, L"LoadBehavior"), std::optional<DWORD>(3));

    ASSERT_EQ(doUnregister(), S_OK);
    for (const std::wstring& key : ownedKeys()) {
      EXPECT_FALSE(keyExists(root, key));
    }
    EXPECT_TRUE(keyExists(root, neighbour));
    EXPECT_TRUE(keyExists(root, L"Software\\Classes\\CLSID"));
    RegDeleteKeyW(root, neighbour.c_str());
    // Unregistering again finds nothing to remove and is no error.
    EXPECT_EQ(doUnregister(), S_OK);
  }
  test::LoadedDll dll_;
};

TEST_F(RegistrationTest, PerUserByDefault) {
  checkScope(
      HKEY_CURRENT_USER, [&] { return dll_.registerServer(); },
      [&] { return dll_.unregisterServer(); });
}

TEST_F(RegistrationTest, MachineWideThroughDllInstall) {
  checkScope(
      HKEY_LOCAL_MACHINE, [&] { return dll_.install(true, L"machine"); },
      [&] { return dll_.install(false, L"machine"); });
}

// Both bitnesses registered in one scope share the ProgIDs, the type library and (per
// user) Excel's add-in key: unregistering one keeps them for the other, whose class key
// sits in the other registry view.
TEST_F(RegistrationTest, UnregisteringOneBitnessKeepsWhatTheOtherShares) {
  const REGSAM otherView = builtBitness() == DllBitness::Bits64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  const DllBitness other =
      builtBitness() == DllBitness::Bits64 ? DllBitness::Bits32 : DllBitness::Bits64;
  const std::wstring otherServer =
      L"Software\\Classes\\CLSID\\" + guidText(kClsidConnect) + L"\\InprocServer32";
  struct Row {
    const char* name;
    HKEY root;
    RegistrationScope scope;
    bool otherRegistered;
  };
  const Row rows[] = {
      {"user, alone", HKEY_CURRENT_USER, RegistrationScope::User, false},
      {"user, beside the other bitness", HKEY_CURRENT_USER, RegistrationScope::User, true},
      {"machine, alone", HKEY_LOCAL_MACHINE, RegistrationScope::Machine, false},
      {"machine, beside the other bitness", HKEY_LOCAL_MACHINE, RegistrationScope::Machine, true},
  };
  // Whether the two views hold separate class keys under `root` (64-bit Windows does; Wine
  // per user keeps one key for both, where the other registration overwrites this one).
  const auto separateViews = [&](HKEY root) {
    const std::wstring probe = L"Software\\Classes\\CLSID\\{9E1D5B7A-0000-4000-8000-00000000C0DE}";
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, probe.c_str(), 0, nullptr, 0, KEY_WRITE | otherView, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(key);
    const bool separate = !keyExists(root, probe);
    RegDeleteKeyExW(root, probe.c_str(), otherView, 0);
    return separate;
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const bool machine = row.scope == RegistrationScope::Machine;
    const bool kept = row.otherRegistered && separateViews(row.root);
    SCOPED_TRACE(kept ? "views apart: the shared keys stay" : "the shared keys go");
    ASSERT_EQ(machine ? dll_.install(true, L"machine") : dll_.registerServer(), S_OK);
    // The other bitness's own entries, as its registration leaves them.
    HKEY created = nullptr;
    if (row.otherRegistered) {
      ASSERT_EQ(RegCreateKeyExW(row.root, otherServer.c_str(), 0, nullptr, 0, KEY_WRITE | otherView,
                                nullptr, &created, nullptr),
                ERROR_SUCCESS);
      const wchar_t otherDll[] = L"C:\\Program Files (other)\\Vandrel QMV\\VandrelQMV.dll";
      RegSetValueExW(created, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(otherDll),
                     sizeof(otherDll));
      RegCloseKey(created);
      ASSERT_EQ(RegCreateKeyExW(row.root, typeLibFileKey(other).c_str(), 0, nullptr, 0, KEY_WRITE,
                                nullptr, &created, nullptr),
                ERROR_SUCCESS);
      RegCloseKey(created);
    }
    ASSERT_EQ(machine ? dll_.install(false, L"machine") : dll_.unregisterServer(), S_OK);

    EXPECT_FALSE(keyExists(row.root, L"Software\\Classes\\CLSID\\" + guidText(kClsidConnect)));
    EXPECT_FALSE(keyExists(row.root, typeLibFileKey(builtBitness())));
    const std::vector<std::wstring> shared = sharedKeys(row.scope);
    for (std::size_t i = 0; i < shared.size(); ++i) {
      EXPECT_EQ(keyExists(row.root, shared[i]), kept) << "shared key " << i;
    }
    EXPECT_EQ(keyExists(row.root, typeLibFileKey(other)), kept);
    // The machine's add-in key is per view: it goes whatever the other bitness does.
    if (machine) {
      EXPECT_FALSE(keyExists(row.root, kAddinKey));
    }

    // What the other bitness's unregistering would remove, before the next row.
    HKEY classes = nullptr;
    if (RegOpenKeyExW(row.root, L"Software\\Classes\\CLSID", 0, KEY_ALL_ACCESS | otherView,
                      &classes) == ERROR_SUCCESS) {
      RegDeleteTreeW(classes, guidText(kClsidConnect).c_str());
      RegCloseKey(classes);
    }
    for (const std::wstring& key : shared) RegDeleteTreeW(row.root, key.c_str());
  }
}

TEST_F(RegistrationTest, DllInstallScopes) {
  EXPECT_EQ(scopeFromCommandLine(nullptr), RegistrationScope::User);
  EXPECT_EQ(scopeFromCommandLine(L"User"), RegistrationScope::User);
  EXPECT_EQ(scopeFromCommandLine(L"MACHINE"), RegistrationScope::Machine);
  EXPECT_EQ(scopeFromCommandLine(L"everyone"), std::nullopt);
  EXPECT_EQ(dll_.install(true, L"everyone"), E_INVALIDARG);
}

TEST_F(RegistrationTest, TypeLibraryNamesItsClassesAndMethods) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadTypeLibEx(test::dllUnderTest().c_str(), REGKIND_NONE, lib.put()), S_OK);
  Bstr name, doc;
  ASSERT_EQ(lib->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr), S_OK);
  EXPECT_EQ(name.text(), u"Orvik");
  EXPECT_EQ(doc.text(), u"Powerful Excel Add-In to Remove Cells Text Conditionally");

  struct Row {
    const char* what;
    const GUID* guid;
    std::u16string typeName;
    std::vector<std::u16string> members;
  };
  const Row rows[] = {
      {"Connect", &kClsidConnect, u"Connect", {}},
      {"cbEvents", &kClsidCbEvents, u"cbEvents", {}},
      {"_Connect",
       &kIidConnect,
       u"_Connect",
       {u"txtRemoverCB_Add", u"remMenuBar", u"remToolBar", u"txtRemoverMB_Add"}},
      {"_cbEvents", &kIidCbEvents, u"_cbEvents", {u"cbBtn", u"cbBtn"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(*row.guid, info.put()), S_OK);
    Bstr typeName;
    info->GetDocumentation(MEMBERID_NIL, typeName.put(), nullptr, nullptr, nullptr);
    EXPECT_EQ(typeName.text(), row.typeName);
    // A dual interface lists its own methods in its vtable view.
    HREFTYPE vtableRef = 0;
    ComPtr<ITypeInfo> vtableView;
    if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &vtableRef)) &&
        SUCCEEDED(info->GetRefTypeInfo(vtableRef, vtableView.put()))) {
      info = vtableView;
    }
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    std::vector<std::u16string> members;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
      FUNCDESC* func = nullptr;
      if (FAILED(info->GetFuncDesc(i, &func))) continue;
      Bstr member;
      info->GetDocumentation(func->memid, member.put(), nullptr, nullptr, nullptr);
      members.push_back(member.text());
      info->ReleaseFuncDesc(func);
    }
    info->ReleaseTypeAttr(attr);
    EXPECT_EQ(members, row.members);
  }

  // _Connect derives from stdole's IDispatch, not from a copy in this library.
  ComPtr<ITypeInfo> connect;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(kIidConnect, connect.put()), S_OK);
  HREFTYPE base = 0;
  ComPtr<ITypeInfo> baseInfo;
  ComPtr<ITypeInfo> dual;
  HREFTYPE dualRef = 0;
  if (SUCCEEDED(connect->GetRefTypeOfImplType(-1, &dualRef)))
    connect->GetRefTypeInfo(dualRef, dual.put());
  ITypeInfo* iface = dual ? dual.get() : connect.get();
  ASSERT_EQ(iface->GetRefTypeOfImplType(0, &base), S_OK);
  ASSERT_EQ(iface->GetRefTypeInfo(base, baseInfo.put()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(baseInfo->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IDispatch));
  baseInfo->ReleaseTypeAttr(attr);
}

}  // namespace
}  // namespace qmv::windows
