// Cell values as the spreadsheet host reports them, and the content of a cell
// (a constant value or a formula with its current value).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace qmv {

/// The host's cell error values; the numbers are the host's error codes (CVErr).
enum class CellError : int32_t {
  Null = 2000,
  Div0 = 2007,
  Value = 2015,
  Ref = 2023,
  Name = 2029,
  Num = 2036,
  NA = 2042,
};

/// A date-time as the host's serial number: days since 1899-12-30, the fraction is the time of day.
struct DateTime {
  double serial = 0;
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

/// One cell's value. Text is UTF-16: positions count 16-bit code units.
using Value = std::variant<std::monostate, double, std::u16string, bool, DateTime, CellError>;

/// True when the value is the empty cell value (not the empty text).
inline bool isEmpty(const Value& v) { return std::holds_alternative<std::monostate>(v); }

/// What a cell holds: a constant value, or a formula together with its current value.
/// True for a formula as the formula bar shows an array formula: "{=SUM(A1:A3*B1:B3)}".
inline bool isArrayFormulaText(std::u16string_view formula) {
  return formula.size() > 2 && formula.front() == u'{' && formula.back() == u'}';
}

struct CellContent {
  Value value;
  /// Empty for a constant. An array formula entered with Control+Shift+Enter stands in
  /// braces, as the formula bar shows it: "{=SUM(A1:A3*B1:B3)}".
  std::u16string formula;
  bool isFormula() const { return !formula.empty(); }
  bool isArrayFormula() const { return isArrayFormulaText(formula); }
  friend bool operator==(const CellContent&, const CellContent&) = default;
};

/// The parts of CellFormats, as bits of CellFormats::unknown.
enum FormatPart : uint8_t {
  kNumberFormatPart = 1,
  kFillPart = 2,
  kFontColorPart = 4,
  kOtherFormatsPart = 8,
};

/// The formats of a cell that a full clear removes and the add-in can put back.
struct CellFormats {
  CellFormats() = default;
  explicit(false)
      CellFormats(std::u16string numberFormatCode, std::optional<uint32_t> fillColour = {},
                  std::optional<uint32_t> fontColour = {}, std::u16string others = {})
      : numberFormat(std::move(numberFormatCode)),
        fill(fillColour),
        fontColor(fontColour),
        other(std::move(others)) {}

  std::u16string numberFormat = u"General";  ///< the format code, in the host's notation
  std::optional<uint32_t> fill;              ///< RGB fill colour; none: no fill
  std::optional<uint32_t> fontColor;         ///< RGB font colour; none: automatic
  /// Everything else a full clear removes (borders, font name, size and style, alignment,
  /// cell style, protection, comments, links), as one opaque token of the host; empty for
  /// none. A host that cannot tell it as one value marks it unknown.
  std::u16string other;
  /// The parts (FormatPart bits) the host could not tell, such as the font colour of a
  /// cell whose characters have colours of their own: their fields mean nothing, and
  /// setFormats leaves those parts of a cell as they are.
  uint8_t unknown = 0;
  bool known(FormatPart part) const { return (unknown & part) == 0; }
  friend bool operator==(const CellFormats&, const CellFormats&) = default;
};

/// `wanted` with each part it marks unknown taken from `current`: what a cell holding
/// `current` holds after setFormats(wanted).
inline CellFormats withKnownParts(const CellFormats& current, const CellFormats& wanted) {
  CellFormats out = wanted;
  if (!wanted.known(kNumberFormatPart)) out.numberFormat = current.numberFormat;
  if (!wanted.known(kFillPart)) out.fill = current.fill;
  if (!wanted.known(kFontColorPart)) out.fontColor = current.fontColor;
  if (!wanted.known(kOtherFormatsPart)) out.other = current.other;
  out.unknown = current.unknown;
  return out;
}

/// Maximum number of characters a cell holds.
inline constexpr std::size_t kMaxCellChars = 32767;

}  // namespace qmv
