// The cells' contents as Excel takes and gives them: a result typed as the user's typing
// would read it, value arrays, and formulas.
#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/cell_text.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/excel_parts.hpp"
#include "platform/windows/excel_range_parts.hpp"
#include "platform/windows/variant_value.hpp"

namespace qmv::windows {

namespace {

// Whether Excel would take `text`, assigned as a cell's value, for a formula: "=...", or
// "+", "-" or "@" followed by anything that does not read as a number or a date (see
// Range.Formula and the implicit intersection operator "@" in Excel's documentation).
// Such a text is written with the apostrophe prefix, so that it stays the text it is.
bool readsAsFormula(const std::u16string& text) {
  if (text.empty()) return false;
  const char16_t first = text.front();
  if (first == u'=') return true;
  if (first != u'+' && first != u'-' && first != u'@') return false;
  // Assigned values are read in en-US, the locale of every call (kAutomationLocale).
  return std::holds_alternative<std::u16string>(parseTypedInput(text, HostLocale{}, 2000));
}

// The year Excel gives a date typed without one.
int yearNow() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return now.wYear;
}

}  // namespace

// What to assign to a cell for a result read as the user's typing would be, and the number
// format to give the cell afterwards (empty: none). Excel reads an assigned text in en-US
// conventions whatever the user's (every call is made with LCID 1033: "Formatting Data in
// Excel with Various Regional Settings"), so the text is read here in the user's
// conventions (typedResult, the rule of every host): where Excel would read it the same,
// it goes as it is and Excel formats it as typed; otherwise a number, date or Boolean goes
// as its typed value, with the format typing would give it, and a text with the apostrophe
// prefix, which keeps it the text it is. A cell formatted as Text keeps the text as typed
// ("Available number formats in Excel": Text "displays the content exactly as you type
// it, even when you type numbers"); a typed date or number handed over would replace the
// format or the text (Range.Formula: a date changes the cell's format to a date format).
// `cellFormat` gives the cell's NumberFormat, none where its cells differ; it is asked
// only when Excel and the user would read the text differently. A leading apostrophe of the
// text itself is kept behind the prefix (Range.PrefixCharacter).
TypedWrite typedWrite(const std::u16string& text, const HostLocale& user,
                      const std::function<std::optional<std::u16string>()>& cellFormat) {
  if (!text.empty() && text.front() == u'\'') return {Variant::fromText(u"'" + text), {}};
  const int year = yearNow();
  const Value mine = parseTypedInput(text, user, year);
  const Value excels = parseTypedInput(text, HostLocale{}, year);
  const bool formula = readsAsFormula(text);
  // Read alike, the text goes as it is, and Excel types it for the cell's format itself.
  if (!formula && excels == mine) return {Variant::fromText(text), {}};
  if (formula && std::holds_alternative<std::u16string>(mine)) {
    return {Variant::fromText(u"'" + text), {}};
  }
  const std::optional<std::u16string> format = cellFormat();
  if (format && isTextFormat(*format)) return {Variant::fromText(text), {}};
  if (std::holds_alternative<std::u16string>(mine)) return {Variant::fromText(u"'" + text), {}};
  const TypedCell typed = typedResult(text, user, year, format.value_or(u"General"));
  return {toVariant(typed.value), typed.numberFormat};
}

// Range.NumberFormat (https://learn.microsoft.com/office/vba/api/excel.range.numberformat):
// the code, or none for Null, which the page documents for cells whose formats differ.
std::optional<std::u16string> numberFormatOf(IDispatch* range, InterfaceIds* ids) {
  const Variant code = get(range, L"NumberFormat", {}, ids);
  if (code.type() != VT_BSTR) return std::nullopt;
  return asText(code);
}

// The elements of a 2-D (1-based) SAFEARRAY result, row-major; a scalar is one element.
std::vector<Variant> arrayElements(const Variant& v, int64_t rows, int64_t columns) {
  std::vector<Variant> out;
  const VARIANT& raw = v.get();
  if (!(raw.vt & VT_ARRAY)) {
    out.push_back(Variant::copyOf(raw));
    return out;
  }
  SAFEARRAY* array = (raw.vt & VT_BYREF) ? *raw.pparray : raw.parray;
  if (!array || SafeArrayGetDim(array) != 2)
    throw HostError(host_errors::kTypeMismatch, "Type mismatch");
  LONG rowLow = 0, rowHigh = -1, colLow = 0, colHigh = -1;
  SafeArrayGetLBound(array, 1, &rowLow);
  SafeArrayGetUBound(array, 1, &rowHigh);
  SafeArrayGetLBound(array, 2, &colLow);
  SafeArrayGetUBound(array, 2, &colHigh);
  if (rowHigh - rowLow + 1 != rows || colHigh - colLow + 1 != columns) {
    throw HostError(host_errors::kTypeMismatch, "Unexpected array shape");
  }
  out.reserve(static_cast<std::size_t>(rows * columns));
  for (LONG r = rowLow; r <= rowHigh; ++r) {
    for (LONG c = colLow; c <= colHigh; ++c) {
      LONG index[2] = {r, c};
      Variant element;
      HRESULT hr = SafeArrayGetElement(array, index, element.raw());
      if (FAILED(hr)) throwHostError(hr, nullptr, L"SafeArrayGetElement");
      out.push_back(std::move(element));
    }
  }
  return out;
}

// The values of an area in one call: Range.Value, which keeps dates; where it gives
// Currency, rounded to four decimal places, Range.Value2 (one more call) gives the exact
// number (https://learn.microsoft.com/office/vba/api/excel.range.value2).
std::vector<Value> readValues(IDispatch* area, int64_t rows, int64_t columns) {
  const std::vector<Variant> values =
      arrayElements(get(area, L"Value", {}, &rangeIds()), rows, columns);
  std::vector<Variant> exact;
  std::vector<Value> out;
  out.reserve(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i].type() == VT_CY) {
      if (exact.empty())
        exact = arrayElements(get(area, L"Value2", {}, &rangeIds()), rows, columns);
      out.push_back(toValue(exact[i].get()));
    } else {
      out.push_back(toValue(values[i].get()));
    }
  }
  return out;
}

// Formula2 keeps a formula as dynamic-array Excel has it, where Formula would put
// implicit intersection into it and stop it spilling ("Range.Formula vs Range.Formula2",
// https://learn.microsoft.com/office/vba/excel/concepts/cells-and-ranges/range-formula-vs-formula2);
// Excel before dynamic arrays has no Formula2, and only Formula is used there.
bool noFormula2(const HostError& error) { return error.number() == host_errors::kNotSupported; }
// One column of values as the two-dimensional array Range.Value and Formula take: element
// (i, 1) is the i-th in memory. The elements are moved into it (a detached VARIANT moves its
// string).
Variant columnArray(std::vector<Variant>& elements) {
  SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(elements.size()), 1}, {1, 1}};
  Variant array;
  array.raw()->parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
  if (!array.get().parray) throwHostError(E_OUTOFMEMORY, nullptr, L"SafeArrayCreate");
  array.raw()->vt = VT_ARRAY | VT_VARIANT;
  VARIANT* data = nullptr;
  const HRESULT access = SafeArrayAccessData(array.get().parray, reinterpret_cast<void**>(&data));
  if (FAILED(access)) throwHostError(access, nullptr, L"SafeArrayAccessData");
  for (std::size_t i = 0; i < elements.size(); ++i) data[i] = elements[i].detach();
  SafeArrayUnaccessData(array.get().parray);
  return array;
}

Variant readFormulas(IDispatch* range, InterfaceIds* ids) {
  try {
    return get(range, L"Formula2", {}, ids);
  } catch (const HostError& error) {
    if (!noFormula2(error)) throw;
  }
  return get(range, L"Formula", {}, ids);
}
// An array formula entered with Control+Shift+Enter is written in braces, as the formula
// bar shows it, and goes back through Range.FormulaArray
// (https://learn.microsoft.com/office/vba/api/excel.range.formulaarray). One longer than
// FormulaArray takes goes through Formula2 instead: a formula set so "will always be
// evaluated as an array" (https://learn.microsoft.com/office/vba/api/excel.range.formula2),
// as a Control+Shift+Enter formula was ("Range.Formula vs Range.Formula2": array
// evaluation was used for "CSE Array formulas"), so the one cell (the only kind a removal
// clears: Excel refuses to change part of an array) calculates as it did. Excel before
// dynamic arrays has no Formula2, and refuses such a formula as before.
void writeFormula(IDispatch* range, std::u16string_view formula) {
  if (isArrayFormulaText(formula)) {
    const std::u16string_view inner = formula.substr(1, formula.size() - 2);
    if (inner.size() <= kFormulaArrayLimit) {
      put(range, L"FormulaArray", inner);
    } else {
      put(range, L"Formula2", inner);
    }
    return;
  }
  try {
    put(range, L"Formula2", formula);
    return;
  } catch (const HostError& error) {
    if (!noFormula2(error)) throw;
  }
  put(range, L"Formula", formula);
}

}  // namespace qmv::windows
