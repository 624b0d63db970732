// VandrelQMV.dll as the tests load it: from the test program's own folder.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/windows/com_support.hpp"

namespace qmv::windows::test {

/// Full path of VandrelQMV.dll beside the test program.
inline std::wstring dllUnderTest() {
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path = exe;
  path.resize(path.find_last_of(L"\\/") + 1);
  return path + L"VandrelQMV.dll";
}

/// The DLL loaded for the lifetime of the object, with its exports.
class LoadedDll {
 public:
  LoadedDll() : module_(LoadLibraryW(dllUnderTest().c_str())) {}
  ~LoadedDll() {
    if (module_) FreeLibrary(module_);
  }
  LoadedDll(const LoadedDll&) = delete;
  LoadedDll& operator=(const LoadedDll&) = delete;

  explicit operator bool() const { return module_ != nullptr; }
  HRESULT registerServer() const { return call<HRESULT(WINAPI*)()>("DllRegisterServer")(); }
  HRESULT unregisterServer() const { return call<HRESULT(WINAPI*)()>("DllUnregisterServer")(); }
  HRESULT install(bool install, const wchar_t* commandLine) const {
    return call<HRESULT(WINAPI*)(BOOL, LPCWSTR)>("DllInstall")(install, commandLine);
  }
  HRESULT canUnloadNow() const { return call<HRESULT(WINAPI*)()>("DllCanUnloadNow")(); }
  HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** out) const {
    return call<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>("DllGetClassObject")(clsid, iid, out);
  }

 private:
  template <class F>
  F call(const char* name) const {
    FARPROC proc = GetProcAddress(module_, name);
    return reinterpret_cast<F>(reinterpret_cast<void*>(proc));
  }
  HMODULE module_;
};

/// Tests of the installed DLL: loaded and registered for the machine (Wine finds only
/// machine-wide classes) once per suite, each test in a COM apartment.
class InstalledDllTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dll_ = new LoadedDll();
    if (*dll_) dll_->install(true, L"machine");
  }
  static void TearDownTestSuite() {
    if (*dll_) dll_->install(false, L"machine");
    delete dll_;
    dll_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(*dll_) << "VandrelQMV.dll did not load";
    ASSERT_TRUE(SUCCEEDED(apartment_.result()));
  }

  static inline LoadedDll* dll_ = nullptr;
  ComApartment apartment_;
};

}  // namespace qmv::windows::test
