// Values in script notation: written so that they read back the same, and dates by the
// host's serial numbers.
#include "tools/qmv/values.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/qmv/script.hpp"

namespace qmv::cli {
namespace {

struct DateRow {
  const char* text;
  double serial;
};

TEST(ScriptValuesTest, DatesAreTheHostsSerialNumbers) {
  const std::vector<DateRow> rows = {
      {"1900-03-01", 61},
      {"1970-01-01", 25569},
      {"2007-01-02", 39084},
      {"2000-02-29", 36585},
      {"2007-01-02T15:04:05", 39084 + (15 * 3600 + 4 * 60 + 5) / 86400.0},
      {"9999-12-31T23:59:59", 2958465 + 86399 / 86400.0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    const auto when = parseIsoDateTime(row.text);
    ASSERT_TRUE(when);
    EXPECT_NEAR(serialOf(*when), row.serial, 1e-9);
    const CivilDateTime back = civilOf(row.serial);
    EXPECT_EQ(back.year, when->year);
    EXPECT_EQ(back.month, when->month);
    EXPECT_EQ(back.day, when->day);
    EXPECT_EQ(back.hour, when->hour);
    EXPECT_EQ(back.minute, when->minute);
    EXPECT_EQ(back.second, when->second);
  }
  for (const char* bad :
       {"2007-1-02", "2007-13-01", "1899-12-31", "2001-02-29", "2007-01-02 15:04:05",
        "2007-01-02T24:00:00", "2007-01-02T10:60:00", "20070102"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(parseIsoDateTime(bad));
  }
}

struct FormatRow {
  const char* name;
  CellContent content;
  const char* text;
};

TEST(ScriptValuesTest, WritesValuesInScriptNotationThatReadsBack) {
  const std::vector<FormatRow> rows = {
      {"text", {u"abc", {}}, "\"abc\""},
      {"text with escapes", {u"a\"b\\c\td\ne\rf", {}}, R"("a\"b\\c\td\ne\rf")"},
      {"control character", {std::u16string(u"a\x01z"), {}}, R"("a\u0001z")"},
      {"lone surrogate", {std::u16string{u'x', 0xDC00}, {}}, R"("x\uDC00")"},
      {"non-ASCII text", {u"\u00e9\U0001F600", {}}, "\"\xC3\xA9\xF0\x9F\x98\x80\""},
      {"whole number", {12.0, {}}, "12"},
      {"fraction", {-1.5, {}}, "-1.5"},
      {"large number", {1e20, {}}, "1e+20"},
      {"tenth", {0.1, {}}, "0.1"},
      {"TRUE", {true, {}}, "TRUE"},
      {"FALSE", {false, {}}, "FALSE"},
      {"empty", {}, "empty"},
      {"date", {DateTime{39084}, {}}, "date:2007-01-02"},
      {"date and time", {DateTime{39084.5}, {}}, "date:2007-01-02T12:00:00"},
      {"error", {CellError::Ref, {}}, "error:#REF!"},
      {"formula", {3.0, u"=1+2"}, "formula \"=1+2\" 3"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string text = formatContent(row.content);
    EXPECT_EQ(text, row.text);
    const auto lines = splitScript("set A1 " + text);
    std::size_t index = 2;
    EXPECT_TRUE(sameContent(parseValue(lines[0].tokens, index, 1), row.content)) << text;
  }
}

TEST(ScriptValuesTest, ComparesTypeAndValue) {
  EXPECT_FALSE(sameValue(std::u16string(u"7"), 7.0));
  EXPECT_FALSE(sameValue(true, 1.0));
  EXPECT_FALSE(sameValue(Value{}, std::u16string()));
  EXPECT_TRUE(sameValue(DateTime{39084.5}, DateTime{39084.5 + 0.1 / 86400}));
  EXPECT_FALSE(sameValue(DateTime{39084.5}, DateTime{39084.5 + 1.0 / 86400}));
  EXPECT_FALSE(sameContent(CellContent{3.0, u"=1+2"}, CellContent{3.0, {}}));
  EXPECT_TRUE(parseScriptNumber("1e3"));
  EXPECT_FALSE(parseScriptNumber("inf"));
  EXPECT_FALSE(parseScriptNumber("0x10"));
  EXPECT_FALSE(parseScriptNumber("1e999"));
  EXPECT_FALSE(parseScriptNumber("++1"));
  EXPECT_FALSE(parseScriptNumber("12abc"));
}

}  // namespace
}  // namespace qmv::cli
