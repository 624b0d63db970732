// A cell's value as text (the way the add-in reads a cell), the host's formula notation of
// a cell's content, and the texts of the host's error values.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "host/case_fold.hpp"  // foldCase, which the callers of these rules compare by
#include "host/locale.hpp"
#include "host/value.hpp"

namespace qmv {

/// Shortest decimal text of a number with at most 15 significant digits, using
/// `decimalSeparator`: 1234.5 -> "1234.5", 0.1 + 0.2 -> "0.3", 1E+20 -> "1E+20",
/// 1.5E-07 -> "1.5E-07", -0 -> "0". Scientific form for exponents of 15 and above or
/// below -4.
std::u16string numberText(double number, char16_t decimalSeparator = u'.');

/// The user's short date ("1/2/2007" in en-US), followed by the time ("3:04:05 PM")
/// when it is not midnight; a serial below 1 with a time shows the time alone.
std::u16string dateText(DateTime date, const HostLocale& locale);

/// The cell-text rule: text unchanged, numbers as `numberText` with the locale's decimal
/// separator, dates as `dateText`, Booleans "True"/"False", the empty cell as the empty
/// text. An error value has no text.
std::optional<std::u16string> cellText(const Value& value, const HostLocale& locale);

/// The error's text: "#DIV/0!", "#N/A", "#NAME?", "#NULL!", "#NUM!", "#REF!", "#VALUE!".
std::u16string errorText(CellError error);

/// The error value named by `text` (exactly one of the texts of `errorText`, any case).
std::optional<CellError> parseErrorText(std::u16string_view text);

/// The host's formula notation of a cell, as Range.Formula gives it (en-US conventions):
/// the formula; or the constant with numbers as `numberText` with '.', Booleans
/// "TRUE"/"FALSE", dates "1/2/2007 3:04:05 PM", errors as `errorText`, and a text as it
/// stands. A text that the host would read back as something else (a number, a date,
/// a formula, "TRUE", the empty text, ...) gets a leading apostrophe, so that assigning
/// the notation back restores the same text.
std::u16string formulaText(const CellContent& content);

/// Reads text the way the host reads what a user types into a cell, in `locale`:
/// numbers ("007", "1,234", "-1.5", "1e3", "(5)"; beyond 15 significant digits the
/// digits become zeros), percentages ("50%" -> 0.5), Booleans "TRUE"/"FALSE" in any case,
/// dates and times ("1/2/2007", "1/2" in `currentYear`, "15:04", "3:04 PM",
/// "1/2/2007 3:04:05 PM"). A leading apostrophe makes the rest text; the empty text gives
/// the empty cell value; everything else, a leading "=" included, stays text.
Value parseTypedInput(std::u16string_view text, const HostLocale& locale, int currentYear);

/// Whether `numberFormat` is the Text format "@": a cell so formatted keeps what is typed
/// into it as the text typed.
bool isTextFormat(std::u16string_view numberFormat);

/// What typing gives a cell: its value, and the number format typing gives it (empty: the
/// cell keeps its own).
struct TypedCell {
  Value value;
  std::u16string numberFormat;
  friend bool operator==(const TypedCell&, const TypedCell&) = default;
};

/// Typing `text` into a cell whose number format is `cellFormat`, in `locale`: the value
/// of parseTypedInput, except that a cell formatted as Text ("@") keeps the text as typed,
/// in every locale (a leading apostrophe is still the prefix that makes the rest text).
/// In a General cell a number typed with a percent sign, a thousands separator or an
/// exponent gets the format that shows it as typed ("0%", "0.00%", "#,##0", "#,##0.00",
/// "0.00E+00": codes in en-US notation, as Range.NumberFormat takes them, in every
/// locale); a cell with a format of its own keeps it. Dates carry their kind in their value.
TypedCell typeIntoCell(std::u16string_view text, const HostLocale& locale, int currentYear,
                       std::u16string_view cellFormat);

/// A removal's result written to a cell as typed: typeIntoCell, except that a result
/// starting with an apostrophe keeps it (the whole result stays text, as it reads).
TypedCell typedResult(std::u16string_view text, const HostLocale& locale, int currentYear,
                      std::u16string_view cellFormat);

/// Whether typedResult stores `text` itself, as a text, with no format of its own: the
/// common case, answered without copying the text (a caller types the rest with
/// typedResult).
bool typedResultIsText(std::u16string_view text, const HostLocale& locale, int currentYear,
                       std::u16string_view cellFormat);

}  // namespace qmv
