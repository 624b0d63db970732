// COUNTA, COUNTIF, Find, the unique advanced filter, CLEAN and TRIM of the in-memory host.
#include <string>
#include <vector>

#include "engine/value_rule.hpp"
#include "memory_fixture.hpp"

namespace qmv::memory {
namespace {

class MemoryFunctionsTest : public MemoryHostTest {
 protected:
  double countIf(std::u16string_view a1, const std::u16string& text) {
    return host->worksheetFunction().countIf(*range(a1), text);
  }
  /// Address found by Find over `where` after `after`; empty when nothing is found.
  std::u16string find(std::u16string_view where, const std::u16string& what,
                      std::u16string_view after) {
    auto found = range(where)->find(what, *range(after));
    return found ? found->address() : std::u16string();
  }
  void column(const std::vector<Value>& values) { host->setColumn({1, 1}, values); }
};

TEST_F(MemoryFunctionsTest, CountACountsEverythingButBlanks) {
  put(u"A1", Value{u"a"});
  put(u"A2", Value{u""});
  put(u"A3", Value{CellError::Div0});
  host->setCell(ref(u"A4"), CellContent{Value{}, u"=A9"});
  host->setFill(ref(u"A5"), 0xFF);
  put(u"A7", Value{0.0});
  EXPECT_EQ(host->worksheetFunction().countA(*range(u"A1:A10")), 5);
  EXPECT_EQ(host->worksheetFunction().countA(*range(u"A2:A3")), 2);
  EXPECT_EQ(host->worksheetFunction().countA(*range(u"A1,A7")), 2);
  EXPECT_EQ(host->worksheetFunction().countA(*range(u"B1:B10")), 0);
}

TEST_F(MemoryFunctionsTest, CountIfMatchesWholeValuesLiterally) {
  column({Value{u"abc"}, Value{u"ABC"}, Value{u"a*"}, Value{u"<5"}, Value{3.0}, Value{u"=x"},
          Value{u"x"}, Value{u"~"}, Value{u"a?c"}, Value{7.0}, Value{u"7"}, Value{true},
          Value{CellError::NA}, Value{DateTime{39084}}, Value{u"\u00C9t\u00E9"}, Value{u" abc"}});
  struct Row {
    std::u16string criterion;
    double count;
  };
  const std::vector<Row> rows{
      {u"abc", 2},            // case-insensitive, whole value only
      {u"a*", 1},             // no wildcard: only the text "a*" itself
      {u"a?c", 1},            // no single-character wildcard
      {u"<5", 1},             // no comparison: 3 is not counted
      {u"=x", 1},             // no leading "=" operator: "x" is not counted
      {u"x", 1},              //
      {u"~", 1},              // the tilde is an ordinary character
      {u"7", 2},              // the number 7 and the text "7" read alike
      {u"true", 1},           // a Boolean by its text
      {u"#N/A", 0},           // errors never match
      {u"1/2/2007", 1},       // a date by its short-date text
      {u"\u00E9T\u00C9", 1},  // Latin letters fold too
      {u"ab", 0},             // no partial match
      {u"zzz", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(u8(row.criterion));
    EXPECT_EQ(countIf(u"A1:A16", row.criterion), row.count);
  }
}

TEST_F(MemoryFunctionsTest, CountIfCountsOnlyTheRowsOfTheRange) {
  column({Value{u"x"}, Value{u"x"}, Value{u"y"}, Value{u"x"}, Value{u"x"}});
  EXPECT_EQ(countIf(u"A1:A5", u"x"), 4);
  EXPECT_EQ(countIf(u"A2:A4", u"x"), 2);
  EXPECT_EQ(countIf(u"A2:A5", u"x"), 3);
  EXPECT_EQ(countIf(u"A3", u"x"), 0);
  EXPECT_EQ(countIf(u"A:A", u"X"), 4);
  EXPECT_EQ(countIf(u"B:B", u"x"), 0);
  EXPECT_EQ(countIf(u"A1:B5", u"y"), 1);
}

TEST_F(MemoryFunctionsTest, CountIfFollowsWritesAndClears) {
  column({Value{u"x"}, Value{u"x"}, Value{u"x"}});
  range(u"A3")->clear();
  EXPECT_EQ(countIf(u"A1:A3", u"x"), 2);
  range(u"A2")->setValue(Value{u"y"});
  EXPECT_EQ(countIf(u"A1:A3", u"x"), 1);
  EXPECT_EQ(countIf(u"A1:A3", u"y"), 1);
  range(u"A2")->setValue(Value{u"X"});
  range(u"A3")->setValue(Value{u"x"});
  EXPECT_EQ(countIf(u"A1:A3", u"x"), 3);
  EXPECT_EQ(countIf(u"A2:A3", u"x"), 2);
  range(u"A1:A3")->clear();
  EXPECT_EQ(countIf(u"A:A", u"x"), 0);
}

TEST_F(MemoryFunctionsTest, CountIfStaysExactThroughManyClears) {
  for (int64_t r = 1; r <= 300; ++r) host->setCell({r, 1}, constantOf(Value{u"same"}));
  for (int64_t r = 2; r <= 300; r += 2) cellAt(r, 1)->clear();
  EXPECT_EQ(countIf(u"A1:A300", u"same"), 150);
  EXPECT_EQ(countIf(u"A101:A200", u"same"), 50);
  EXPECT_EQ(find(u"A1:A300", u"same", u"A101"), u"$A$103");
  for (int64_t r = 2; r <= 300; r += 2) host->setCell({r, 1}, constantOf(Value{u"SAME"}));
  EXPECT_EQ(countIf(u"A101:A200", u"same"), 100);
}

TEST_F(MemoryFunctionsTest, CountIfEmptyCriterionCountsBlanks) {
  column({Value{u"x"}, Value{u""}, Value{}, Value{3.0}});
  EXPECT_EQ(countIf(u"A1:A5", u""), 3);
}

TEST_F(MemoryFunctionsTest, CountIfFollowsTheLocale) {
  column({Value{0.5}});
  EXPECT_EQ(countIf(u"A1", u"0.5"), 1);
  HostLocale german;
  german.decimalSeparator = u',';
  host->setLocale(german);
  EXPECT_EQ(countIf(u"A1", u"0.5"), 0);
  EXPECT_EQ(countIf(u"A1", u"0,5"), 1);
}

// COUNTIF, Find and the unique filter match a cell exactly when the engine's value rule
// gives it and the other value one key: one comparison for the host and every tool.
TEST_F(MemoryFunctionsTest, CountFindAndFilterAgreeWithTheValueRule) {
  struct Row {
    const char* name;
    Value cell;
    std::u16string other;
  };
  const std::vector<Row> rows = {
      {"Vietnamese", Value{u"Vi\u1EC7t"}, u"VI\u1EC6T"},
      {"Kelvin sign", Value{u"\u212A"}, u"k"},
      {"Deseret pair", Value{u"\U00010400"}, u"\U00010428"},
      {"fullwidth", Value{u"\uFF21"}, u"\uFF41"},
      {"sharp s is no ss", Value{u"\u00DF"}, u"ss"},
      {"number", Value{7.5}, u"7.5"},
      {"logical", Value{true}, u"true"},
      {"wildcard", Value{u"abc"}, u"a*"},
      {"other letter", Value{u"\u0430"}, u"a"},
  };
  const HostLocale locale = host->locale();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto key = valueKey(row.cell, locale, ValueMode::KeepFirst);
    const bool same = key && key == valueKey(Value{row.other}, locale, ValueMode::KeepFirst);
    put(u"A1", row.cell);
    put(u"A2", Value{row.other});
    EXPECT_EQ(countIf(u"A1", row.other), same ? 1 : 0);
    EXPECT_EQ(find(u"A1", row.other, u"A1"), same ? u"$A$1" : u"");
    range(u"A1:A2")->advancedFilterUniqueInPlace();
    EXPECT_EQ(host->rowHidden(2), same);
  }
}

TEST_F(MemoryFunctionsTest, FindIsLiteralByRowsAndWraps) {
  column({Value{u"x"}, Value{u"abc"}, Value{u"x"}, Value{u"a*"}, Value{u"X"}});
  EXPECT_EQ(find(u"A1:A5", u"x", u"A1"), u"$A$3");
  EXPECT_EQ(find(u"A1:A5", u"x", u"A3"), u"$A$5");
  EXPECT_EQ(find(u"A1:A5", u"x", u"A5"), u"$A$1");
  EXPECT_EQ(find(u"A1:A5", u"a*", u"A1"), u"$A$4");
  EXPECT_EQ(find(u"A1:A5", u"a?c", u"A1"), u"");
  EXPECT_EQ(find(u"A1:A5", u"ab", u"A1"), u"");
  EXPECT_EQ(find(u"A1:A5", u"abc", u"A2"), u"$A$2");
  EXPECT_EQ(find(u"A1:A5", u"", u"A1"), u"");
}

TEST_F(MemoryFunctionsTest, FindSearchesRowByRowAcrossColumns) {
  put(u"B1", Value{u"k"});
  put(u"A2", Value{u"k"});
  put(u"B2", Value{u"k"});
  put(u"A3", Value{u"k"});
  EXPECT_EQ(find(u"A1:B3", u"k", u"A1"), u"$B$1");
  EXPECT_EQ(find(u"A1:B3", u"k", u"B1"), u"$A$2");
  EXPECT_EQ(find(u"A1:B3", u"k", u"A2"), u"$B$2");
  EXPECT_EQ(find(u"A1:B3", u"k", u"A3"), u"$B$1");
  EXPECT_EQ(find(u"A1:A3,B1:B3", u"k", u"A3"), u"$B$1");
}

TEST_F(MemoryFunctionsTest, FindNeverMatchesErrors) {
  column({Value{CellError::NA}, Value{u"#N/A"}});
  EXPECT_EQ(find(u"A1:A2", u"#N/A", u"A2"), u"$A$2");
}

TEST_F(MemoryFunctionsTest, UniqueFilterComparesTheFirstRowToo) {
  column({Value{u"x"}, Value{u"y"}, Value{u"X"}, Value{u"z"}, Value{u"x"}});
  host->setRowHidden(4, true);  // a non-repeat hidden earlier is shown by the filter
  range(u"A1:A5")->advancedFilterUniqueInPlace();
  const std::vector<bool> hidden{false, false, true, false, true};
  for (int64_t r = 1; r <= 5; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(host->rowHidden(r), hidden[static_cast<std::size_t>(r - 1)]);
    EXPECT_EQ(cellAt(r, 1)->entireRowHidden(), hidden[static_cast<std::size_t>(r - 1)]);
  }
  EXPECT_TRUE(host->filterActive());
  host->activeSheet()->showAllData();
  for (int64_t r = 1; r <= 5; ++r) EXPECT_FALSE(host->rowHidden(r));
  EXPECT_FALSE(host->filterActive());
}

TEST_F(MemoryFunctionsTest, UniqueFilterKeepsErrorsAndComparesNumbersByText) {
  column({Value{CellError::NA}, Value{CellError::NA}, Value{7.0}, Value{u"7"}});
  range(u"A1:A4")->advancedFilterUniqueInPlace();
  EXPECT_FALSE(host->rowHidden(1));
  EXPECT_FALSE(host->rowHidden(2));
  EXPECT_FALSE(host->rowHidden(3));
  EXPECT_TRUE(host->rowHidden(4));
}

TEST_F(MemoryFunctionsTest, UniqueFilterOverSeveralColumnsComparesWholeRows) {
  host->setColumn({1, 1}, {Value{u"a"}, Value{u"a"}, Value{u"a"}});
  host->setColumn({1, 2}, {Value{u"1"}, Value{u"2"}, Value{1.0}});
  range(u"A1:B3")->advancedFilterUniqueInPlace();
  EXPECT_FALSE(host->rowHidden(1));
  EXPECT_FALSE(host->rowHidden(2));
  EXPECT_TRUE(host->rowHidden(3));
}

TEST_F(MemoryFunctionsTest, ShowAllDataThrowsWithoutFilter) {
  EXPECT_EQ(errorNumberOf([&] { host->activeSheet()->showAllData(); }), host_errors::kRefused);
}

TEST_F(MemoryFunctionsTest, CleanRemovesControlCodesOnly) {
  const std::vector<std::pair<std::u16string, std::u16string>> rows{
      {u"a\tb\nc\x01", u"abc"},
      {std::u16string(u"x\0y", 3), u"xy"},
      {u"\u007F\u00A0\u0085", u"\u007F\u00A0\u0085"},
      {u"  keep spaces ", u"  keep spaces "},
  };
  for (const auto& [in, out] : rows) {
    SCOPED_TRACE(u8(out));
    EXPECT_EQ(host->worksheetFunction().clean(in), out);
  }
}

TEST_F(MemoryFunctionsTest, TrimRemovesOnlyPlainSpaces) {
  const std::vector<std::pair<std::u16string, std::u16string>> rows{
      {u"  a  b  ", u"a b"},     {u"a", u"a"},
      {u"     ", u""},           {u"\u00A0a\u00A0", u"\u00A0a\u00A0"},
      {u"\ta  b\t", u"\ta b\t"}, {u"x y", u"x y"},
  };
  for (const auto& [in, out] : rows) {
    SCOPED_TRACE(u8(in));
    EXPECT_EQ(host->worksheetFunction().trim(in), out);
  }
}

}  // namespace
}  // namespace qmv::memory
