// The user's regional settings that shape how values turn into text and text into values.
#pragma once

namespace qmv {

/// Order of day, month and year in the user's short date.
enum class DateOrder { MonthDayYear, DayMonthYear, YearMonthDay };

/// The user's number and date conventions (default: en-US).
struct HostLocale {
  char16_t decimalSeparator = u'.';
  char16_t dateSeparator = u'/';
  DateOrder dateOrder = DateOrder::MonthDayYear;
};

}  // namespace qmv
