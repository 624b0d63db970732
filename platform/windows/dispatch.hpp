// Late-bound calls through IDispatch: property get and put and method calls by name, with
// positional, named and omitted arguments. Failures become HostError with the number
// that Visual Basic would report (Excel's own number from EXCEPINFO, 91 for Nothing).
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/host_error.hpp"
#include "platform/windows/com_support.hpp"

namespace qmv::windows {

/// One argument of a late-bound call.
struct Arg {
  Arg(Variant v) : value(std::move(v)) {}  // NOLINT(google-explicit-constructor)
  Arg(bool b) : value(Variant::fromBool(b)) {}
  Arg(int32_t i) : value(Variant::fromInt(i)) {}
  Arg(double d) : value(Variant::fromDouble(d)) {}
  Arg(std::u16string_view text) : value(Variant::fromText(text)) {}
  Arg(const char16_t* text) : value(Variant::fromText(text)) {}
  Arg(const std::u16string& text) : value(Variant::fromText(text)) {}
  Arg(IDispatch* object) : value(Variant::fromDispatch(object)) {}

  /// An optional argument left out.
  static Arg omitted() { return Arg(Variant::omitted()); }
  /// The same value passed by parameter name.
  Arg named(std::wstring parameterName) && {
    name = std::move(parameterName);
    return std::move(*this);
  }

  Variant value;
  std::wstring name;  ///< empty for a positional argument
};

/// What an Invoke does.
enum class InvokeKind : WORD {
  Get = DISPATCH_PROPERTYGET,
  Put = DISPATCH_PROPERTYPUT,
  PutRef = DISPATCH_PROPERTYPUTREF,
  Call = DISPATCH_METHOD | DISPATCH_PROPERTYGET,
};

/// The locale every late-bound call passes to GetIDsOfNames and Invoke: English (United
/// States), as Visual Basic for Applications does. An English Excel asked in another user
/// locale looks for that language's resources and, without them, fails the call with
/// TYPE_E_INVDATAREAD (0x80028018, "Old format or invalid type library"); with 1033 member
/// names, argument texts, dates and numbers follow the en-US conventions on every
/// installation.
inline constexpr LCID kAutomationLocale =
    MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);

/// Number of Invoke calls made through this helper (for tests and benchmarks).
std::atomic<uint64_t>& invokeCounter();

/// The DISPIDs of the members of one automation interface, each asked of GetIDsOfNames once.
/// An interface that a type library describes (Excel's Range) gives each member the same
/// DISPID on every object of it, and an object keeps its DISPIDs for its lifetime
/// (IDispatch::GetIDsOfNames: "The member and parameter DISPIDs must remain constant for
/// the lifetime of the object"), so one table serves every object of that interface. Use a
/// table only for objects of its interface; names are kept as spelt, so spell each alike.
class InterfaceIds {
 public:
  /// The DISPID of `member` on `target`; asks `target` the first time. Throws HostError
  /// when `target` has no such member.
  DISPID member(IDispatch* target, std::wstring_view member);

 private:
  std::vector<std::pair<std::wstring, DISPID>> ids_;
};

/// Invokes `member` on `target`. Positional arguments come first in `args`, in the order
/// of the member's parameters, named ones after them. Throws HostError on failure
/// (91 when `target` is null). With `ids`, the member's DISPID comes from that table of
/// `target`'s interface (named arguments are still asked of `target`).
Variant invoke(IDispatch* target, std::wstring_view member, InvokeKind kind,
               std::initializer_list<Arg> args, InterfaceIds* ids = nullptr);

/// Property get (with optional index arguments).
inline Variant get(IDispatch* target, std::wstring_view property,
                   std::initializer_list<Arg> args = {}, InterfaceIds* ids = nullptr) {
  return invoke(target, property, InvokeKind::Get, args, ids);
}
/// Property put.
void put(IDispatch* target, std::wstring_view property, Arg value, InterfaceIds* ids = nullptr);
/// Method call.
inline Variant call(IDispatch* target, std::wstring_view method,
                    std::initializer_list<Arg> args = {}, InterfaceIds* ids = nullptr) {
  return invoke(target, method, InvokeKind::Call, args, ids);
}

/// Visual Basic's error number for a failed call: Excel's number from EXCEPINFO for
/// DISP_E_EXCEPTION, the matching runtime error for the common dispatch failures.
int32_t errorNumber(HRESULT hr, const EXCEPINFO* info);

/// Throws HostError for a failed HRESULT of `what`.
[[noreturn]] void throwHostError(HRESULT hr, const EXCEPINFO* info, std::wstring_view what);

/// Converts a result to an object reference: null for Nothing or Empty; throws 13 for
/// anything else that is not an object.
ComPtr<IDispatch> asObject(const Variant& v);
/// Converts a result with VariantChangeType; throws 13 when it cannot be converted.
std::u16string asText(const Variant& v);
double asDouble(const Variant& v);
int32_t asInt(const Variant& v);
bool asBool(const Variant& v);

}  // namespace qmv::windows
