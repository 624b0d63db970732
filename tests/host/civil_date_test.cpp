// Calendar dates against the host's serial days, and the ASCII case rule of the program's
// own vocabularies.
#include "host/civil_date.hpp"

#include <gtest/gtest.h>

#include <string>

#include "host/ascii.hpp"

namespace qmv {
namespace {

TEST(CivilDate, SerialDaysOfKnownDates) {
  struct Row {
    CivilDate date;
    int64_t serial;
  };
  // Python's datetime agrees with every row. Serials as the host shows them from 1900-03-01 on (its
  // day 60 is a 1900-02-29 that never was, so earlier days are one less here).
  for (const Row& row : {Row{{1899, 12, 30}, 0}, Row{{1900, 3, 1}, 61}, Row{{2000, 2, 29}, 36585},
                         Row{{2007, 1, 2}, 39084}, Row{{2024, 12, 31}, 45657},
                         Row{{9999, 12, 31}, 2958465}, Row{{1600, 3, 1}, -109511}}) {
    SCOPED_TRACE(std::to_string(row.date.year) + "-" + std::to_string(row.date.month) + "-" +
                 std::to_string(row.date.day));
    EXPECT_EQ(serialDayOf(row.date), row.serial);
    EXPECT_EQ(civilDateOf(row.serial), row.date);
  }
  // Every day of four centuries reads back as the date it came from, one day apart.
  for (int64_t serial = -150000; serial < 3000000; serial += 7) {
    const CivilDate date = civilDateOf(serial);
    ASSERT_TRUE(isCalendarDate(date.year, date.month, date.day)) << serial;
    ASSERT_EQ(serialDayOf(date), serial);
  }
}

TEST(CivilDate, WhichDatesAreOnTheCalendar) {
  struct Row {
    int64_t year, month, day;
    bool real;
  };
  for (const Row& row : {Row{2024, 2, 29, true}, Row{2023, 2, 29, false}, Row{1900, 2, 29, false},
                         Row{2000, 2, 29, true}, Row{2023, 4, 31, false}, Row{2023, 12, 31, true},
                         Row{2023, 13, 1, false}, Row{2023, 0, 1, false}, Row{2023, 1, 0, false}}) {
    SCOPED_TRACE(std::to_string(row.year) + "-" + std::to_string(row.month) + "-" +
                 std::to_string(row.day));
    EXPECT_EQ(isCalendarDate(row.year, row.month, row.day), row.real);
  }
}

TEST(Ascii, OnlyLatinCapitalsChange) {
  EXPECT_EQ(asciiLowered("Book.XLSX"), "book.xlsx");
  EXPECT_EQ(asciiLowered("\xC3\x84QMV[]@Z"), "\xC3\x84qmv[]@z");  // Ä and the bytes around A-Z stay
  EXPECT_EQ(asciiLower(u'\u00C4'), u'\u00C4');
  EXPECT_EQ(asciiLower(u'Q'), u'q');
}

}  // namespace
}  // namespace qmv
