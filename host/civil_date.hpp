// Calendar dates and the host's serial day numbers (days since 1899-12-30, so that
// 1900-01-01 is day 2 and 2007-01-02 is day 39084), in the proleptic Gregorian calendar.
//
// The arithmetic is in 64-bit integers: any serial a cell can hold maps to a date, far past
// the years std::chrono's calendar types can hold (-32767 to 32767).
#pragma once

#include <cstdint>

namespace qmv {

struct CivilDate {
  int64_t year = 1900;
  int64_t month = 1;  ///< 1 to 12
  int64_t day = 1;    ///< 1 to 31
  friend bool operator==(const CivilDate&, const CivilDate&) = default;
};

/// True for a leap year: 2000 and 2024 are, 1900 and 2023 are not.
bool isLeapYear(int64_t year);

/// True when `month` is 1 to 12 and `day` a day of that month in `year` (2023-02-29 is not).
bool isCalendarDate(int64_t year, int64_t month, int64_t day);

/// The serial day of a calendar date (isCalendarDate must hold).
int64_t serialDayOf(const CivilDate& date);

/// The calendar date of a serial day.
CivilDate civilDateOf(int64_t serialDay);

}  // namespace qmv
