// Cell values in the notation of session scripts: "text", 12, -1.5, TRUE, empty,
// date:2007-01-02T15:04:05, error:#DIV/0! and formula "=A1+1" VALUE. The same notation
// is used to read a script's values and to show a cell in a transcript, so that a
// printed cell can be pasted into an expectation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/address.hpp"
#include "host/value.hpp"

namespace qmv::cli {

/// A calendar date and time of day, as written after "date:".
struct CivilDateTime {
  int year = 1900;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

/// The host's serial number of a date-time (days since 1899-12-30, the time as fraction).
double serialOf(const CivilDateTime& when);

/// The date-time of a serial number, rounded to the second.
CivilDateTime civilOf(double serial);

/// Reads "2007-01-02" or "2007-01-02T15:04:05" (years 1900 to 9999, real calendar dates);
/// no value for anything else.
std::optional<CivilDateTime> parseIsoDateTime(std::string_view text);

/// Reads a script number: "12", "-1.5", "+3", "1e3", ".5"; finite values only.
std::optional<double> parseScriptNumber(std::string_view text);

/// A text in double quotes, with \" \\ \t \n \r and \uXXXX for other control characters
/// and lone surrogates. Other characters are written as UTF-8.
std::string quoteText(std::u16string_view text);

/// A value in script notation: "text", 12, TRUE, FALSE, empty, date:..., error:#N/A.
std::string formatValue(const Value& value);

/// A cell in script notation: its value, or formula "=..." VALUE for a formula.
std::string formatContent(const CellContent& content);

/// A cell's name as scripts write it: "B3".
std::string cellName(CellRef cell);

/// A colour as scripts write it: "RRGGBB" in upper-case hex, or "none" for the automatic one.
std::string colourText(std::optional<uint32_t> colour);

/// True when two values are the same value of the same type. Dates compare to within
/// half a second; numbers compare exactly.
bool sameValue(const Value& a, const Value& b);

/// True when both are constants with the same value, or formulas with the same formula
/// and the same value.
bool sameContent(const CellContent& a, const CellContent& b);

}  // namespace qmv::cli
