// Cell values as the spreadsheet host reports them, and the content of a cell
// (a constant value or a formula with its current value).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
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
struct CellContent {
  Value value;
  std::u16string formula;  ///< empty for a constant
  bool isFormula() const { return !formula.empty(); }
  friend bool operator==(const CellContent&, const CellContent&) = default;
};

/// The formats of a cell that a full clear removes and the add-in can put back.
struct CellFormats {
  std::u16string numberFormat = u"General";  ///< the format code, in the host's notation
  std::optional<uint32_t> fill;              ///< RGB fill colour; none: no fill
  std::optional<uint32_t> fontColor;         ///< RGB font colour; none: automatic
  friend bool operator==(const CellFormats&, const CellFormats&) = default;
};

/// Maximum number of characters a cell holds.
inline constexpr std::size_t kMaxCellChars = 32767;

}  // namespace qmv
