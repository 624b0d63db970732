#include "engine/find_nth_occurrence.hpp"

#include <gtest/gtest.h>

#include <string>

namespace qmv {
namespace {

struct NthRow {
  const char* name;
  std::u16string text;
  int32_t n;
  std::u16string separator;
  int32_t expected;
};

TEST(FindNthOccurrence, FindsTheNthOccurrenceIgnoringCase) {
  const NthRow rows[] = {
      {"first hyphen", u"abc-def-ghi", 1, u"-", 4},
      {"second hyphen", u"abc-def-ghi", 2, u"-", 8},
      {"third hyphen is missing", u"abc-def-ghi", 3, u"-", 0},
      {"n of zero", u"abc-def-ghi", 0, u"-", 0},
      {"negative n", u"abc-def-ghi", -2, u"-", 0},
      {"second question mark, taken literally", u"a?b?c", 2, u"?", 4},
      {"star taken literally", u"a*b*c", 1, u"*", 2},
      {"tilde taken literally", u"a~b", 1, u"~", 2},
      {"lower-case separator finds an upper-case letter", u"AxBXc", 2, u"x", 4},
      {"upper-case separator finds a lower-case letter", u"AxBXc", 1, u"X", 2},
      {"accented capital folds", u"caf\u00C9 caf\u00E9", 2, u"\u00E9", 9},
      {"empty separator", u"abc", 1, u"", 0},
      {"empty text", u"", 1, u"-", 0},
      {"longer separator", u"a--b--c", 2, u"--", 5},
      {"overlapping occurrences each count", u"a---b", 2, u"--", 3},
      {"code units count: a surrogate pair takes two positions", u"\U0001F600-x", 1, u"-", 3},
  };
  for (const NthRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FindNthOccurrence(row.text, row.n, row.separator), row.expected);
  }
}

struct ExactRow {
  const char* name;
  std::u16string text;
  std::u16string separator;
  int32_t first;
  int32_t last;
};

TEST(FindExactOccurrence, FirstAndLastRespectCase) {
  const ExactRow rows[] = {
      {"hyphens", u"abc-def-ghi", u"-", 4, 8},
      {"one occurrence", u"a?bc", u"?", 2, 2},
      {"lower-case x only matches itself", u"AxBXc", u"x", 2, 2},
      {"upper-case X only matches itself", u"AxBXc", u"X", 4, 4},
      {"no occurrence", u"abc", u"-", 0, 0},
      {"empty separator", u"abc", u"", 0, 0},
  };
  for (const ExactRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(findFirstExact(row.text, row.separator), row.first);
    EXPECT_EQ(findLastExact(row.text, row.separator), row.last);
  }
}

}  // namespace
}  // namespace qmv
