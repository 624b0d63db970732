// Owning wrappers for COM interface pointers, BSTR and VARIANT, and the conversion of
// UTF-16 text between the add-in's std::u16string and Windows' wchar_t.
#pragma once

#include <oaidl.h>
#include <objbase.h>
#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace qmv::windows {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");

/// The add-in's text as Windows text (same code units).
inline std::wstring toWide(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

/// Windows text as the add-in's text.
inline std::u16string fromWide(std::wstring_view text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

/// An owned reference to a COM interface; released when the wrapper goes.
template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}  // NOLINT(google-explicit-constructor): like a pointer
  /// Takes a new reference to `p` (AddRef).
  explicit ComPtr(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  /// Adopts a reference the caller already owns (no AddRef).
  static ComPtr adopt(T* p) noexcept {
    ComPtr result;
    result.p_ = p;
    return result;
  }

  void reset() noexcept {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  /// Gives up ownership without releasing.
  T* detach() noexcept { return std::exchange(p_, nullptr); }
  /// Releases the held reference and gives the address to fill (for out parameters).
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  /// QueryInterface for `iid`; an empty pointer when not supported.
  template <class U>
  ComPtr<U> as(const IID& iid) const noexcept {
    ComPtr<U> result;
    if (p_) p_->QueryInterface(iid, result.putVoid());
    return result;
  }

 private:
  T* p_ = nullptr;
};

/// An owned BSTR.
class Bstr {
 public:
  Bstr() noexcept = default;
  explicit Bstr(std::wstring_view text)
      : s_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  explicit Bstr(std::u16string_view text) : Bstr(std::wstring_view(toWide(text))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  Bstr(Bstr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
  Bstr& operator=(Bstr&& other) noexcept {
    std::swap(s_, other.s_);
    return *this;
  }
  ~Bstr() { SysFreeString(s_); }

  BSTR get() const noexcept { return s_; }
  BSTR* put() noexcept {
    SysFreeString(std::exchange(s_, nullptr));
    return &s_;
  }
  BSTR detach() noexcept { return std::exchange(s_, nullptr); }
  std::wstring_view view() const noexcept { return {s_ ? s_ : L"", s_ ? SysStringLen(s_) : 0}; }
  std::u16string text() const { return fromWide(view()); }

 private:
  BSTR s_ = nullptr;
};

/// An owned VARIANT, cleared when the wrapper goes.
class Variant {
 public:
  Variant() noexcept { VariantInit(&v_); }
  Variant(const Variant& other) : Variant() { copyFrom(other.v_); }
  Variant(Variant&& other) noexcept : Variant() { std::swap(v_, other.v_); }
  Variant& operator=(Variant other) noexcept {
    std::swap(v_, other.v_);
    return *this;
  }
  ~Variant() { VariantClear(&v_); }

  /// A deep copy of `v` (references are dereferenced).
  static Variant copyOf(const VARIANT& v) {
    Variant result;
    result.copyFrom(v);
    return result;
  }
  static Variant fromBool(bool b) {
    Variant result;
    result.v_.vt = VT_BOOL;
    result.v_.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return result;
  }
  static Variant fromInt(int32_t i) {
    Variant result;
    result.v_.vt = VT_I4;
    result.v_.lVal = i;
    return result;
  }
  static Variant fromDouble(double d) {
    Variant result;
    result.v_.vt = VT_R8;
    result.v_.dblVal = d;
    return result;
  }
  static Variant fromText(std::u16string_view text) {
    Variant result;
    result.v_.vt = VT_BSTR;
    result.v_.bstrVal = Bstr(text).detach();
    return result;
  }
  /// Takes a new reference to `p` (a null pointer is the host's "Nothing").
  static Variant fromDispatch(IDispatch* p) {
    Variant result;
    result.v_.vt = VT_DISPATCH;
    result.v_.pdispVal = p;
    if (p) p->AddRef();
    return result;
  }
  /// An omitted optional argument.
  static Variant omitted() {
    Variant result;
    result.v_.vt = VT_ERROR;
    result.v_.scode = DISP_E_PARAMNOTFOUND;
    return result;
  }

  VARTYPE type() const noexcept { return v_.vt; }
  const VARIANT& get() const noexcept { return v_; }
  VARIANT* put() noexcept {
    VariantClear(&v_);
    return &v_;
  }
  VARIANT* raw() noexcept { return &v_; }
  /// Gives the content away; this wrapper becomes empty.
  VARIANT detach() noexcept {
    VARIANT out = v_;
    VariantInit(&v_);
    return out;
  }

 private:
  void copyFrom(const VARIANT& v) {
    if (FAILED(VariantCopyInd(&v_, const_cast<VARIANT*>(&v)))) VariantInit(&v_);
  }
  VARIANT v_;
};

/// Calls CoUninitialize for a successful CoInitializeEx.
class ComApartment {
 public:
  ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  HRESULT result() const noexcept { return hr_; }

 private:
  HRESULT hr_;
};

}  // namespace qmv::windows
