#include "host/civil_date.hpp"

#include <array>
#include <cstddef>

namespace qmv {
namespace {

// Days from 1970-01-01 (Howard Hinnant's days_from_civil, the algorithm of <chrono>).
constexpr int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

constexpr int64_t kSerialEpoch = daysFromCivil(1899, 12, 30);

}  // namespace

bool isLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool isCalendarDate(int64_t year, int64_t month, int64_t day) {
  static constexpr std::array<int64_t, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const int64_t last =
      month == 2 && isLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
  return day <= last;
}

int64_t serialDayOf(const CivilDate& date) {
  return daysFromCivil(date.year, date.month, date.day) - kSerialEpoch;
}

CivilDate civilDateOf(int64_t serialDay) {
  const int64_t z = serialDay + kSerialEpoch + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp + (mp < 10 ? 3 : -9);
  return {yoe + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

}  // namespace qmv
