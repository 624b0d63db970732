// The user's regional settings that shape how values turn into text and text into values.
#pragma once

#include <string>

namespace qmv {

/// Order of day, month and year in the user's short date.
enum class DateOrder { MonthDayYear, DayMonthYear, YearMonthDay };

/// The user's number and date conventions (default: en-US).
struct HostLocale {
  char16_t decimalSeparator = u'.';
  char16_t dateSeparator = u'/';
  DateOrder dateOrder = DateOrder::MonthDayYear;
  /// The digit grouping symbol, exactly as the host reports it (a French Windows gives
  /// U+00A0 or U+202F, a Swiss one ' or U+2019); 0 where numbers have no groups. Typed
  /// numbers are grouped by this unit only, never by one guessed from the decimal separator.
  char16_t thousandsSeparator = u',';
  /// The currency symbol, exactly as the host reports it ("$", "€", "CHF", "kr"); a typed
  /// number carrying it, on the side `currencyBefore` says, is a number with a currency
  /// format. Empty where it is not known: such texts then stay text.
  std::u16string currencySymbol = u"$";
  bool currencyBefore = true;
};

}  // namespace qmv
