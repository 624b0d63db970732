#include "platform/windows/dispatch.hpp"

#include <string>
#include <vector>

#include "host/text.hpp"

namespace qmv::windows {

namespace {

// Visual Basic's runtime error numbers for dispatch failures.
constexpr int32_t kOverflow = 6;
constexpr int32_t kOutOfMemory = 7;
constexpr int32_t kTypeMismatch = 13;
constexpr int32_t kObjectNotSet = 91;
constexpr int32_t kMemberNotFound = 438;
constexpr int32_t kArgumentNotOptional = 449;
constexpr int32_t kWrongArgumentCount = 450;
constexpr int32_t kUnknownNamedArgument = 448;

std::string describe(const EXCEPINFO* info, std::wstring_view what) {
  std::u16string text;
  if (info && info->bstrDescription) {
    text = fromWide(std::wstring_view(info->bstrDescription, SysStringLen(info->bstrDescription)));
  }
  if (text.empty()) text = fromWide(what) + u" failed";
  return toUtf8(text);
}

// Releases the strings an EXCEPINFO owns.
struct ExcepInfoGuard {
  EXCEPINFO info{};
  ~ExcepInfoGuard() {
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
  }
};

}  // namespace

std::atomic<uint64_t>& invokeCounter() {
  static std::atomic<uint64_t> counter{0};
  return counter;
}

int32_t errorNumber(HRESULT hr, const EXCEPINFO* info) {
  if (hr == DISP_E_EXCEPTION && info) {
    HRESULT scode = info->scode;
    if (scode == 0 && info->wCode != 0) return info->wCode;
    if (HRESULT_FACILITY(scode) == FACILITY_CONTROL) return HRESULT_CODE(scode);
    if (scode != 0) hr = scode;
  }
  switch (hr) {
    case DISP_E_MEMBERNOTFOUND:
    case DISP_E_UNKNOWNNAME:
      return kMemberNotFound;
    case DISP_E_TYPEMISMATCH:
      return kTypeMismatch;
    case DISP_E_OVERFLOW:
      return kOverflow;
    case DISP_E_BADPARAMCOUNT:
      return kWrongArgumentCount;
    case DISP_E_PARAMNOTOPTIONAL:
      return kArgumentNotOptional;
    case DISP_E_PARAMNOTFOUND:
      return kUnknownNamedArgument;
    case E_OUTOFMEMORY:
      return kOutOfMemory;
    case E_POINTER:
      return kObjectNotSet;
    default:
      break;
  }
  if (HRESULT_FACILITY(hr) == FACILITY_CONTROL) return HRESULT_CODE(hr);
  return static_cast<int32_t>(hr);
}

void throwHostError(HRESULT hr, const EXCEPINFO* info, std::wstring_view what) {
  throw HostError(errorNumber(hr, info), describe(info, what));
}

DISPID InterfaceIds::member(IDispatch* target, std::wstring_view member) {
  for (const auto& [name, id] : ids_) {
    if (name == member) return id;
  }
  if (!target) throw HostError(kObjectNotSet, "Object variable not set");
  std::wstring name(member);
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = target->GetIDsOfNames(IID_NULL, names, 1, kAutomationLocale, &id);
  if (FAILED(hr)) throwHostError(hr, nullptr, member);
  ids_.emplace_back(std::move(name), id);
  return id;
}

Variant invoke(IDispatch* target, std::wstring_view member, InvokeKind kind,
               std::initializer_list<Arg> args, InterfaceIds* interfaceIds) {
  if (!target) throw HostError(kObjectNotSet, "Object variable not set");

  // Names to resolve: the member, then the named arguments' parameter names; a member
  // known from its interface's table and no named argument need no call at all.
  std::vector<std::wstring> names{std::wstring(member)};
  for (const Arg& a : args) {
    if (!a.name.empty()) names.push_back(a.name);
  }
  std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
  HRESULT hr = S_OK;
  if (interfaceIds) ids[0] = interfaceIds->member(target, member);
  if (!interfaceIds || names.size() > 1) {
    std::vector<LPOLESTR> namePtrs;
    for (auto& n : names) namePtrs.push_back(n.data());
    hr = target->GetIDsOfNames(IID_NULL, namePtrs.data(), static_cast<UINT>(names.size()),
                               kAutomationLocale, ids.data());
  }
  if (FAILED(hr)) throwHostError(hr, nullptr, member);

  // rgvarg holds the named arguments first (paired with their DISPIDs), then the
  // positional ones in reverse order.
  std::vector<VARIANT> slots;
  std::vector<DISPID> namedIds;
  slots.reserve(args.size());
  for (const Arg& a : args) {
    if (a.name.empty()) continue;
    slots.push_back(a.value.get());
    namedIds.push_back(ids[namedIds.size() + 1]);
  }
  const bool isPut = kind == InvokeKind::Put || kind == InvokeKind::PutRef;
  std::vector<const Arg*> positional;
  for (const Arg& a : args) {
    if (a.name.empty()) positional.push_back(&a);
  }
  // For a put the value is the last positional argument and goes by DISPID_PROPERTYPUT.
  if (isPut) {
    if (positional.empty()) throw HostError(kArgumentNotOptional, "Argument not optional");
    slots.insert(slots.begin(), positional.back()->value.get());
    namedIds.insert(namedIds.begin(), DISPID_PROPERTYPUT);
    positional.pop_back();
  }
  for (auto it = positional.rbegin(); it != positional.rend(); ++it) {
    slots.push_back((*it)->value.get());
  }

  DISPPARAMS params{};
  params.rgvarg = slots.empty() ? nullptr : slots.data();
  params.cArgs = static_cast<UINT>(slots.size());
  params.rgdispidNamedArgs = namedIds.empty() ? nullptr : namedIds.data();
  params.cNamedArgs = static_cast<UINT>(namedIds.size());

  Variant result;
  ExcepInfoGuard excep;
  UINT argError = 0;
  ++invokeCounter();
  hr = target->Invoke(ids[0], IID_NULL, kAutomationLocale, static_cast<WORD>(kind), &params,
                      isPut ? nullptr : result.raw(), &excep.info, &argError);
  if (hr == DISP_E_EXCEPTION && excep.info.pfnDeferredFillIn) {
    excep.info.pfnDeferredFillIn(&excep.info);
  }
  if (FAILED(hr)) throwHostError(hr, &excep.info, member);
  return result;
}

void put(IDispatch* target, std::wstring_view property, Arg value, InterfaceIds* ids) {
  // Objects are assigned by reference, every other value by value.
  const InvokeKind kind = value.value.type() == VT_DISPATCH ? InvokeKind::PutRef : InvokeKind::Put;
  invoke(target, property, kind, {std::move(value)}, ids);
}

ComPtr<IDispatch> asObject(const Variant& v) {
  const VARIANT& raw = v.get();
  switch (raw.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return {};
    case VT_DISPATCH:
      return ComPtr<IDispatch>(raw.pdispVal);
    case VT_UNKNOWN: {
      ComPtr<IDispatch> d;
      if (raw.punkVal) raw.punkVal->QueryInterface(IID_IDispatch, d.putVoid());
      if (raw.punkVal && !d) throw HostError(kTypeMismatch, "Type mismatch");
      return d;
    }
    case VT_DISPATCH | VT_BYREF:
      return ComPtr<IDispatch>(raw.ppdispVal ? *raw.ppdispVal : nullptr);
    default:
      throw HostError(kTypeMismatch, "Type mismatch");
  }
}

namespace {

Variant converted(const Variant& v, VARTYPE type) {
  Variant out;
  HRESULT hr =
      VariantChangeTypeEx(out.raw(), const_cast<VARIANT*>(&v.get()), LOCALE_USER_DEFAULT, 0, type);
  if (FAILED(hr)) throwHostError(hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH, nullptr, L"");
  return out;
}

}  // namespace

std::u16string asText(const Variant& v) {
  if (v.type() == VT_EMPTY) return {};
  Variant s = converted(v, VT_BSTR);
  const BSTR b = s.get().bstrVal;
  return fromWide(std::wstring_view(b ? b : L"", b ? SysStringLen(b) : 0));
}

double asDouble(const Variant& v) { return converted(v, VT_R8).get().dblVal; }

int32_t asInt(const Variant& v) { return converted(v, VT_I4).get().lVal; }

bool asBool(const Variant& v) { return converted(v, VT_BOOL).get().boolVal != VARIANT_FALSE; }

}  // namespace qmv::windows
