// Run by the Windows checks after an MSI installed the add-in: Excel's way of loading it,
// step by step. The ProgID is resolved to a class, the class to its server DLL, the add-in
// is created, connected to the fake Excel, its menu, toolbar and Ribbon are checked, and it
// is disconnected. The one argument is the DLL's expected installed path.
//
// Windows merges HKEY_CURRENT_USER\Software\Classes into HKEY_CLASSES_ROOT, so a per-user
// install is found by CLSIDFromProgID there; Wine 8 does not merge them. When the merged
// lookup fails, this program reads the per-user keys as the merged view would and creates
// the object through the DLL's class factory, saying so.
#include <windows.h>

#include <cstdio>
#include <string>

#include "fake_excel.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/guids.hpp"
#include "platform/windows/interfaces.hpp"
#include "platform/windows/registration.hpp"
#include "platform/windows/ribbon.hpp"

namespace qmv::windows {
namespace {

int failures = 0;

void check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
  if (!ok) ++failures;
}

// The default value of a key under HKEY_CURRENT_USER\Software\Classes.
std::wstring userClassValue(const std::wstring& key) {
  wchar_t data[1024] = {};
  DWORD size = sizeof(data);
  const std::wstring path = L"Software\\Classes\\" + key;
  if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  return data;
}

bool samePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The add-in created as Excel creates it; the DLL's path from the registration.
ComPtr<IDTExtensibility2> createAddin(std::wstring& serverPath) {
  ComPtr<IDTExtensibility2> addin;
  CLSID clsid{};
  if (SUCCEEDED(CLSIDFromProgID(L"Orvik.Connect", &clsid))) {
    std::printf("the ProgID resolves through HKEY_CLASSES_ROOT\n");
    check(IsEqualCLSID(clsid, kClsidConnect), "ProgID Orvik.Connect names class Connect");
    check(SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidDTExtensibility2,
                                     addin.putVoid())),
          "CoCreateInstance of Connect");
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"VandrelQMV.dll"), path, MAX_PATH);
    serverPath = path;
    return addin;
  }
  std::printf("the ProgID is not in HKEY_CLASSES_ROOT: reading the per-user classes\n");
  const std::wstring clsidText = userClassValue(L"Orvik.Connect\\CLSID");
  check(clsidText == guidText(kClsidConnect), "per-user ProgID Orvik.Connect names Connect");
  serverPath = userClassValue(L"CLSID\\" + clsidText + L"\\InprocServer32");
  HMODULE module = LoadLibraryW(serverPath.c_str());  // stays loaded, as COM keeps it
  check(module != nullptr, "the registered server DLL loads");
  if (!module) return addin;
  using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  ComPtr<IClassFactory> factory;
  check(get && SUCCEEDED(get(kClsidConnect, IID_IClassFactory, factory.putVoid())),
        "DllGetClassObject gives Connect's factory");
  if (factory) {
    check(SUCCEEDED(factory->CreateInstance(nullptr, kIidDTExtensibility2, addin.putVoid())),
          "the factory creates Connect");
  }
  return addin;
}

int run(const std::wstring& expectedPath) {
  ComApartment apartment;
  std::wstring serverPath;
  ComPtr<IDTExtensibility2> addin = createAddin(serverPath);
  check(samePath(serverPath, expectedPath), "the class's server is the installed DLL");
  if (!addin) return 1;
  fake::Excel excel;
  SAFEARRAY* custom = nullptr;
  check(addin->OnConnection(excel.application.get(), ext_cm_Startup, excel.comAddIn.get(),
                            &custom) == S_OK,
        "OnConnection");
  check(static_cast<bool>(excel.bar(L"Dolvanis")), "the toolbar Dolvanis is built");
  std::size_t buttons = 0;
  for (auto& control : fake::Excel::controlsOf(*excel.bar(L"Worksheet Menu Bar"))) {
    if (fake::text(control->props[L"Caption"]) == L"&Vandrel QMV") {
      buttons = fake::Excel::controlsOf(*control).size();
    }
  }
  check(buttons == 21, "the popup &Vandrel QMV holds 21 buttons");
  ComPtr<IRibbonExtensibility> ribbon = addin.as<IRibbonExtensibility>(kIidRibbonExtensibility);
  Bstr xml;
  check(ribbon && ribbon->GetCustomUI(Bstr(kExcelWorkbookRibbon).get(), xml.put()) == S_OK &&
            xml.get() && SysStringLen(xml.get()) > 0,
        "the Ribbon's custom UI");
  check(addin->OnDisconnection(ext_dm_UserClosed, &custom) == S_OK, "OnDisconnection");
  check(!excel.bar(L"Dolvanis"), "the toolbar is removed");
  return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace qmv::windows

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: installed_addin_check INSTALLED-DLL-PATH\n", stderr);
    return 2;
  }
  wchar_t path[MAX_PATH] = {};
  if (!MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH)) return 2;
  return qmv::windows::run(path);
}
