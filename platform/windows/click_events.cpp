#include "platform/windows/click_events.hpp"

#include <ocidl.h>

#include <exception>
#include <utility>

#include "host/text.hpp"
#include "platform/windows/com_boundary.hpp"
#include "platform/windows/com_object.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/excel_host.hpp"
#include "platform/windows/guids.hpp"

namespace qmv::windows {

namespace {

// Receives _CommandBarButtonEvents for one button.
class ClickSink final : public ComObject<IDispatch> {
 public:
  explicit ClickSink(ClickHandler handler) : handler_(std::move(handler)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, kDiidCommandBarButtonEvents)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (!names || !ids) return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      if (i == 0 && names[0] &&
          CompareStringOrdinal(names[0], -1, L"Click", -1, TRUE) == CSTR_EQUAL) {
        ids[0] = kDispidClick;
      } else {
        ids[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
      }
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* info, UINT* argError) override {
    if (result) VariantInit(result);
    if (id != kDispidClick) return DISP_E_MEMBERNOTFOUND;
    if (!params || params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
    // Arguments arrive in reverse order: rgvarg[1] is Ctrl, rgvarg[0] is CancelDefault.
    const VARIANT& ctrl = params->rgvarg[1];
    VARIANT& cancel = params->rgvarg[0];
    IDispatch* control = nullptr;
    if (ctrl.vt == VT_DISPATCH) {
      control = ctrl.pdispVal;
    } else if (ctrl.vt == (VT_DISPATCH | VT_BYREF) && ctrl.ppdispVal) {
      control = *ctrl.ppdispVal;
    } else {
      if (argError) *argError = 1;
      return DISP_E_TYPEMISMATCH;
    }
    VARIANT_BOOL* cancelRef = nullptr;
    if (cancel.vt == (VT_BOOL | VT_BYREF)) {
      cancelRef = cancel.pboolVal;
    } else if (cancel.vt == (VT_VARIANT | VT_BYREF) && cancel.pvarVal &&
               cancel.pvarVal->vt == VT_BOOL) {
      cancelRef = &cancel.pvarVal->boolVal;
    }
    bool cancelDefault = cancelRef && *cancelRef != VARIANT_FALSE;
    // Keep this sink alive while the handler runs: it may end its own subscription.
    ComPtr<IDispatch> self(this);
    HRESULT hr = S_OK;
    try {
      CommandBarControlPtr clicked = makeCommandBarControl(control);
      handler_(*clicked, cancelDefault);
    } catch (...) {
      hr = caughtInvokeResult(info);
    }
    if (cancelRef) *cancelRef = cancelDefault ? VARIANT_TRUE : VARIANT_FALSE;
    return hr;
  }

 private:
  ClickHandler handler_;
};

class ClickSubscription final : public EventSubscription {
 public:
  ClickSubscription(ComPtr<IConnectionPoint> point, DWORD cookie)
      : point_(std::move(point)), cookie_(cookie) {}
  ~ClickSubscription() override {
    if (point_) point_->Unadvise(cookie_);
  }

 private:
  ComPtr<IConnectionPoint> point_;
  DWORD cookie_;
};

}  // namespace

std::unique_ptr<EventSubscription> subscribeButtonClick(IDispatch* button, ClickHandler handler) {
  if (!button) throw HostError(host_errors::kObjectNotSet, "Object variable not set");
  ComPtr<IConnectionPointContainer> container;
  HRESULT hr = button->QueryInterface(IID_IConnectionPointContainer, container.putVoid());
  if (FAILED(hr)) throwHostError(hr, nullptr, L"IConnectionPointContainer");
  ComPtr<IConnectionPoint> point;
  hr = container->FindConnectionPoint(kDiidCommandBarButtonEvents, point.put());
  if (FAILED(hr)) throwHostError(hr, nullptr, L"FindConnectionPoint");
  auto sink = ComPtr<IDispatch>::adopt(new ClickSink(std::move(handler)));
  DWORD cookie = 0;
  hr = point->Advise(sink.get(), &cookie);
  if (FAILED(hr)) throwHostError(hr, nullptr, L"Advise");
  return std::make_unique<ClickSubscription>(std::move(point), cookie);
}

}  // namespace qmv::windows
