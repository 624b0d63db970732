// C++ declarations of the COM interfaces the DLL implements: its own dual interfaces
// (laid out exactly as in orvik.idl) and Office's IDTExtensibility2.
#pragma once

#include <oaidl.h>
#include <windows.h>

// COM interfaces have no virtual destructor: objects go through Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace qmv::windows {

/// DISPIDs of the add-in's own interfaces (orvik.idl).
namespace dispids {
inline constexpr DISPID kTxtRemoverCbAdd = 0x60030000;
inline constexpr DISPID kRemMenuBar = 0x60030001;
inline constexpr DISPID kRemToolBar = 0x60030002;
inline constexpr DISPID kTxtRemoverMbAdd = 0x60030003;
inline constexpr DISPID kCbBtn = 0x40030000;
}  // namespace dispids

/// _Connect: the public methods of the add-in class.
struct IOrvikConnect : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE txtRemoverCB_Add(IDispatch* AddInInst_1) = 0;
  virtual HRESULT STDMETHODCALLTYPE remMenuBar() = 0;
  virtual HRESULT STDMETHODCALLTYPE remToolBar() = 0;
  virtual HRESULT STDMETHODCALLTYPE txtRemoverMB_Add() = 0;
};

/// _cbEvents: the menu-button wrapper with its public field cbBtn.
struct IOrvikCbEvents : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_cbBtn(IDispatch** cbBtn) = 0;
  virtual HRESULT STDMETHODCALLTYPE putref_cbBtn(IDispatch* cbBtn) = 0;
};

/// How the host loaded the add-in (ext_ConnectMode) and why it unloads it
/// (ext_DisconnectMode).
enum ExtConnectMode : int {
  ext_cm_AfterStartup = 0,
  ext_cm_Startup = 1,
  ext_cm_External = 2,
  ext_cm_CommandLine = 3
};
enum ExtDisconnectMode : int { ext_dm_HostShutdown = 0, ext_dm_UserClosed = 1 };

/// Office's add-in connection interface.
struct IDTExtensibility2 : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* Application, ExtConnectMode ConnectMode,
                                                 IDispatch* AddInInst, SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnDisconnection(ExtDisconnectMode RemoveMode,
                                                    SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) = 0;
};

}  // namespace qmv::windows

#pragma GCC diagnostic pop
