#include "platform/windows/click_events.hpp"

#include <ocidl.h>

#include <exception>
#include <optional>
#include <utility>

#include "host/text.hpp"
#include "platform/windows/com_boundary.hpp"
#include "platform/windows/com_object.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/excel_host.hpp"
#include "platform/windows/guids.hpp"

namespace qmv::windows {

namespace {

// The object an argument holds, passed by value or by reference; no value for an argument
// that holds no object (a null object is a value: null).
std::optional<IDispatch*> objectArgument(const VARIANT& v) {
  if (v.vt == VT_DISPATCH) return v.pdispVal;
  if (v.vt == (VT_DISPATCH | VT_BYREF) && v.ppdispVal) return *v.ppdispVal;
  return std::nullopt;
}

// The IDispatch of a sink for one events interface, whose one member of interest is
// `member` with DISPID `id` and two arguments. Invoke checks the call and hands the
// arguments to the sink's handle(); what the handler throws becomes the call's failure.
class EventSink : public ComObject<IDispatch> {
 public:
  /// `otherMembers` is what Invoke answers for any other DISPID of the interface.
  EventSink(const GUID& events, const wchar_t* member, DISPID id, HRESULT otherMembers)
      : events_(events), member_(member), id_(id), otherMembers_(otherMembers) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, events_)) {
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
          CompareStringOrdinal(names[0], -1, member_, -1, TRUE) == CSTR_EQUAL) {
        ids[0] = id_;
      } else {
        ids[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
      }
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* info, UINT* argError) final {
    if (result) VariantInit(result);
    if (id != id_) return otherMembers_;
    if (!params || params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
    // Keep this sink alive while the handler runs: it may end its own subscription.
    ComPtr<IDispatch> self(this);
    try {
      // Arguments arrive in reverse order: rgvarg[1] is the first.
      return handle(params->rgvarg[1], params->rgvarg[0], argError);
    } catch (...) {
      return caughtInvokeResult(info);
    }
  }

 protected:
  /// The member's call with its first and second argument; `argError` (may be null)
  /// receives the position of a bad argument, counted from the last.
  virtual HRESULT handle(const VARIANT& first, VARIANT& second, UINT* argError) = 0;

 private:
  GUID events_;
  const wchar_t* member_;
  DISPID id_;
  HRESULT otherMembers_;
};

// Receives _CommandBarButtonEvents for one button: Click(Ctrl, CancelDefault).
class ClickSink final : public EventSink {
 public:
  explicit ClickSink(ClickHandler handler)
      : EventSink(kDiidCommandBarButtonEvents, L"Click", kDispidClick, DISP_E_MEMBERNOTFOUND),
        handler_(std::move(handler)) {}

 protected:
  HRESULT handle(const VARIANT& ctrl, VARIANT& cancel, UINT* argError) override {
    const std::optional<IDispatch*> control = objectArgument(ctrl);
    if (!control) {
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
    // CancelDefault goes back to the caller even when the handler fails.
    struct WriteBack {
      VARIANT_BOOL* ref;
      const bool& value;
      ~WriteBack() {
        if (ref) *ref = value ? VARIANT_TRUE : VARIANT_FALSE;
      }
    } writeBack{cancelRef, cancelDefault};
    CommandBarControlPtr clicked = makeCommandBarControl(*control);
    handler_(*clicked, cancelDefault);
    return S_OK;
  }

 private:
  ClickHandler handler_;
};

// Receives AppEvents: SheetChange(Sh, Target) goes to the handler; the application's other
// events are answered as handled.
class SheetChangeSink final : public EventSink {
 public:
  explicit SheetChangeSink(SheetChangeHandler handler)
      : EventSink(kDiidAppEvents, L"SheetChange", kDispidSheetChange, S_OK),
        handler_(std::move(handler)) {}

 protected:
  HRESULT handle(const VARIANT& sheet, VARIANT& target, UINT*) override {
    handler_(objectArgument(sheet).value_or(nullptr), objectArgument(target).value_or(nullptr));
    return S_OK;
  }

 private:
  SheetChangeHandler handler_;
};

// An advised sink, unadvised when destroyed.
class Advice final : public EventSubscription {
 public:
  Advice(ComPtr<IConnectionPoint> point, DWORD cookie)
      : point_(std::move(point)), cookie_(cookie) {}
  ~Advice() override {
    if (point_) point_->Unadvise(cookie_);
  }

 private:
  ComPtr<IConnectionPoint> point_;
  DWORD cookie_;
};

}  // namespace

namespace {

// Advises `sink` on `source`'s connection point for `events`.
std::unique_ptr<EventSubscription> advise(IDispatch* source, const GUID& events,
                                          ComPtr<IDispatch> sink) {
  if (!source) throw HostError(host_errors::kObjectNotSet, "Object variable not set");
  ComPtr<IConnectionPointContainer> container;
  HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.putVoid());
  if (FAILED(hr)) throwHostError(hr, nullptr, L"IConnectionPointContainer");
  ComPtr<IConnectionPoint> point;
  hr = container->FindConnectionPoint(events, point.put());
  if (FAILED(hr)) throwHostError(hr, nullptr, L"FindConnectionPoint");
  DWORD cookie = 0;
  hr = point->Advise(sink.get(), &cookie);
  if (FAILED(hr)) throwHostError(hr, nullptr, L"Advise");
  return std::make_unique<Advice>(std::move(point), cookie);
}

}  // namespace

std::unique_ptr<EventSubscription> subscribeButtonClick(IDispatch* button, ClickHandler handler) {
  return advise(button, kDiidCommandBarButtonEvents,
                ComPtr<IDispatch>::adopt(new ClickSink(std::move(handler))));
}

std::unique_ptr<EventSubscription> subscribeSheetChange(IDispatch* application,
                                                        SheetChangeHandler handler) {
  return advise(application, kDiidAppEvents,
                ComPtr<IDispatch>::adopt(new SheetChangeSink(std::move(handler))));
}

}  // namespace qmv::windows
