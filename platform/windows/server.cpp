// The COM server: the exported entry points, the class factories and the classes Connect
// and cbEvents. No C++ exception leaves a COM method; failures become HRESULTs.
#include <olectl.h>
#include <windows.h>

#include <exception>
#include <memory>
#include <new>
#include <string>

#include "addin/cb_events.hpp"
#include "host/host_error.hpp"
#include "host/text.hpp"
#include "platform/windows/addin_state.hpp"
#include "platform/windows/com_boundary.hpp"
#include "platform/windows/com_object.hpp"
#include "platform/windows/com_support.hpp"
#include "platform/windows/excel_host.hpp"
#include "platform/windows/guids.hpp"
#include "platform/windows/interfaces.hpp"
#include "platform/windows/registration.hpp"
#include "platform/windows/ribbon.hpp"
#include "platform/windows/xll_commands.hpp"

namespace qmv::windows {

namespace {

HINSTANCE gInstance = nullptr;

// Sets the thread's error object and gives the HRESULT Visual Basic shows as `number`.
// The type information of one of the DLL's interfaces, from its embedded type library.
HRESULT loadTypeInfo(const GUID& iid, ComPtr<ITypeInfo>& out) {
  if (out) return S_OK;
  ComPtr<ITypeLib> lib;
  const std::wstring path = dllPath();
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
  if (FAILED(hr)) return hr;
  ComPtr<ITypeInfo> info;
  hr = lib->GetTypeInfoOfGuid(iid, info.put());
  if (FAILED(hr)) return hr;
  // Invoke must go through the vtable view of a dual interface.
  HREFTYPE vtableRef = 0;
  ComPtr<ITypeInfo> vtableView;
  if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &vtableRef)) &&
      SUCCEEDED(info->GetRefTypeInfo(vtableRef, vtableView.put()))) {
    info = vtableView;
  }
  out = info;
  return S_OK;
}

// IDispatch over the type information of interface `Iid`, implemented by `Self`.
template <class Self, class Interface, const GUID& Iid>
class TypeInfoDispatch {
 protected:
  HRESULT typeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT typeInfo(UINT index, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    HRESULT hr = loadTypeInfo(Iid, typeInfo_);
    if (FAILED(hr)) return hr;
    *info = ComPtr<ITypeInfo>(typeInfo_).detach();
    return S_OK;
  }
  HRESULT idsOfNames(LPOLESTR* names, UINT count, DISPID* ids) {
    HRESULT hr = loadTypeInfo(Iid, typeInfo_);
    if (FAILED(hr)) return hr;
    return typeInfo_->GetIDsOfNames(names, count, ids);
  }
  HRESULT invoke(Interface* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* argError) {
    HRESULT hr = loadTypeInfo(Iid, typeInfo_);
    if (FAILED(hr)) return hr;
    return typeInfo_->Invoke(self, id, flags, params, result, excep, argError);
  }

 private:
  ComPtr<ITypeInfo> typeInfo_;
};

// The add-in class: Excel's connection interface, the public methods of _Connect, and the
// Ribbon's interface with its callbacks (reached by name through IDispatch).
class ConnectObject final
    : public ComObject<IOrvikConnect, IDTExtensibility2, IRibbonExtensibility>,
      private TypeInfoDispatch<ConnectObject, IOrvikConnect, kIidConnect> {
 public:
  explicit ConnectObject(std::shared_ptr<AddinState> state) : state_(std::move(state)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, kIidConnect)) {
      *out = static_cast<IOrvikConnect*>(this);
    } else if (IsEqualIID(iid, kIidDTExtensibility2)) {
      *out = static_cast<IDTExtensibility2*>(this);
    } else if (IsEqualIID(iid, kIidRibbonExtensibility)) {
      *out = static_cast<IRibbonExtensibility*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return typeInfoCount(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    return typeInfo(index, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (names && ids && count == 1) {
      const DISPID callback = ribbonDispid(names[0]);
      if (callback != DISPID_UNKNOWN) {
        ids[0] = callback;
        return S_OK;
      }
    }
    return idsOfNames(names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excep, UINT* argError) override {
    if (isRibbonDispid(id)) {
      return comBoundary(
          [&] { return invokeRibbon(state_->module, state_->ribbon, id, params, result); });
    }
    return invoke(static_cast<IOrvikConnect*>(this), id, flags, params, result, excep, argError);
  }

  // IRibbonExtensibility: the tab for Excel's workbook ribbon, nothing for any other.
  HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR ribbonId, BSTR* ribbonXml) override {
    if (!ribbonXml) return E_POINTER;
    *ribbonXml = nullptr;
    return comBoundary([&] {
      const std::wstring xml = customUiFor(
          ribbonId ? std::wstring_view(ribbonId, SysStringLen(ribbonId)) : std::wstring_view());
      if (!xml.empty()) *ribbonXml = Bstr(std::wstring_view(xml)).detach();
    });
  }

  // IDTExtensibility2. Neither handler reports a failure to the host.
  HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* application, ExtConnectMode,
                                         IDispatch* addInInst, SAFEARRAY**) override {
    comBoundary([&] {
      // A setting stored through the host (the wizard's box) shows on the Ribbon too.
      const std::weak_ptr<AddinState> weak = state_;
      ApplicationPtr app =
          makeExcelApplication(application, &xllCommands(), [weak](const std::u16string& name) {
            if (const std::shared_ptr<AddinState> state = weak.lock()) {
              state->ribbon.settingStored(name);
            }
          });
      std::unique_ptr<AddInInstance> instance;
      if (addInInst) instance = makeAddInInstance(addInInst);
      state_->connect.AddinInstance_OnConnection(std::move(app), instance.get());
    });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDisconnection(ExtDisconnectMode, SAFEARRAY**) override {
    comBoundary([&] {
      state_->connect.AddinInstance_OnDisconnection();
      // Office loads the tab afresh, with a new onLoad, at the next connection.
      state_->ribbon.set({});
    });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY**) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY**) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY**) override { return S_OK; }

  // _Connect
  HRESULT STDMETHODCALLTYPE txtRemoverCB_Add(IDispatch* addInInst) override {
    return comBoundary([&] {
      std::unique_ptr<AddInInstance> instance;
      if (addInInst) instance = makeAddInInstance(addInInst);
      state_->connect.txtRemoverCB_Add(instance.get());
    });
  }
  HRESULT STDMETHODCALLTYPE remMenuBar() override {
    return comBoundary([&] { state_->connect.remMenuBar(); });
  }
  HRESULT STDMETHODCALLTYPE remToolBar() override {
    return comBoundary([&] { state_->connect.remToolBar(); });
  }
  HRESULT STDMETHODCALLTYPE txtRemoverMB_Add() override {
    return comBoundary([&] { state_->connect.txtRemoverMB_Add(); });
  }

 private:
  std::shared_ptr<AddinState> state_;
};

// A menu-button wrapper: its cbBtn's Click runs the command of the clicked button's tag.
class CbEventsObject final
    : public ComObject<IOrvikCbEvents>,
      private TypeInfoDispatch<CbEventsObject, IOrvikCbEvents, kIidCbEvents> {
 public:
  explicit CbEventsObject(std::shared_ptr<AddinState> state)
      : state_(std::move(state)), wrapper_(cbEvents::create(state_->module)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, kIidCbEvents)) {
      *out = static_cast<IOrvikCbEvents*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return typeInfoCount(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    return typeInfo(index, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    return idsOfNames(names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excep, UINT* argError) override {
    // A plain assignment of the field is taken as the object assignment it must be.
    if (id == dispids::kCbBtn && flags == DISPATCH_PROPERTYPUT) flags = DISPATCH_PROPERTYPUTREF;
    return invoke(static_cast<IOrvikCbEvents*>(this), id, flags, params, result, excep, argError);
  }

  HRESULT STDMETHODCALLTYPE get_cbBtn(IDispatch** cbBtn) override {
    if (!cbBtn) return E_POINTER;
    *cbBtn = ComPtr<IDispatch>(button_).detach();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE putref_cbBtn(IDispatch* cbBtn) override {
    return comBoundary([&] {
      button_ = ComPtr<IDispatch>(cbBtn);
      wrapper_->setButton(cbBtn ? makeCommandBarControl(cbBtn) : nullptr);
    });
  }

 private:
  std::shared_ptr<AddinState> state_;
  std::shared_ptr<cbEvents> wrapper_;
  ComPtr<IDispatch> button_;
};

// Creates objects of one class.
template <class Object>
class ClassFactory final : public ComObject<IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return comBoundary([&] {
      auto object = ComPtr<Object>::adopt(new Object(sharedAddinState()));
      return object->QueryInterface(iid, out);
    });
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++serverCounts().locks;
    } else {
      --serverCounts().locks;
    }
    return S_OK;
  }
};

}  // namespace

std::shared_ptr<AddinState> sharedAddinState() {
  static std::weak_ptr<AddinState> current;
  std::shared_ptr<AddinState> state = current.lock();
  if (!state) {
    state = std::make_shared<AddinState>();
    current = state;
  }
  return state;
}

HINSTANCE dllInstance() { return gInstance; }

std::wstring dllPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(gInstance, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace qmv::windows

using namespace qmv::windows;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    gInstance = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return comBoundary([&] {
    ComPtr<IClassFactory> factory;
    if (IsEqualCLSID(clsid, kClsidConnect)) {
      factory = ComPtr<IClassFactory>::adopt(new ClassFactory<ConnectObject>());
    } else if (IsEqualCLSID(clsid, kClsidCbEvents)) {
      factory = ComPtr<IClassFactory>::adopt(new ClassFactory<CbEventsObject>());
    } else {
      return CLASS_E_CLASSNOTAVAILABLE;
    }
    return factory->QueryInterface(iid, out);
  });
}

STDAPI DllCanUnloadNow() { return serverCanUnload() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  return comBoundary([&] {
    const std::wstring path = dllPath();
    // The embedded type library must load before anything is written.
    ComPtr<ITypeLib> lib;
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put()))) return SELFREG_E_TYPELIB;
    return registerServer(RegistrationScope::User, path);
  });
}

STDAPI DllUnregisterServer() {
  return comBoundary([&] { return unregisterServer(RegistrationScope::User); });
}

STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  return comBoundary([&] {
    const auto scope = scopeFromCommandLine(commandLine);
    if (!scope) return E_INVALIDARG;
    if (!install) return unregisterServer(*scope);
    const std::wstring path = dllPath();
    ComPtr<ITypeLib> lib;
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put()))) return SELFREG_E_TYPELIB;
    return registerServer(*scope, path);
  });
}

}  // extern "C"
