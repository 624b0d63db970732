#include "host/cell_text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/text.hpp"

namespace qmv {
namespace {

// Germany's separators and day-month-year dates, as the typing tests read them.
HostLocale germanTyping() {
  HostLocale german;
  german.decimalSeparator = u',';
  german.thousandsSeparator = u'.';
  german.dateOrder = DateOrder::DayMonthYear;
  german.dateSeparator = u'.';
  return german;
}

std::string u8(const std::u16string& s) { return toUtf8(s); }

/// Serial of a date-time built from the text the host shows, via the typed-input reader.
double serialOf(std::u16string_view text) {
  const Value v = parseTypedInput(text, HostLocale{}, 2007);
  EXPECT_TRUE(std::holds_alternative<DateTime>(v)) << u8(std::u16string(text));
  return std::holds_alternative<DateTime>(v) ? std::get<DateTime>(v).serial : -1;
}

TEST(NumberText, ShortestTextOfFifteenDigits) {
  struct Row {
    double number;
    std::u16string text;
  };
  const std::vector<Row> rows{
      {1234.5, u"1234.5"},
      {0.1 + 0.2, u"0.3"},
      {1e20, u"1E+20"},
      {1.5e-7, u"1.5E-07"},
      {-0.0, u"0"},
      {7, u"7"},
      {-42.25, u"-42.25"},
      {100000000000000.0, u"100000000000000"},
      {1e15, u"1E+15"},
      {123456789012345678.0, u"1.23456789012346E+17"},
      {0.0001, u"0.0001"},
      {1.0 / 3.0, u"0.333333333333333"},
      {2.0 / 3.0, u"0.666666666666667"},
      {-1e-10, u"-1E-10"},
      {1e100, u"1E+100"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(u8(row.text));
    EXPECT_EQ(numberText(row.number), row.text);
  }
}

TEST(NumberText, UsesTheLocaleDecimalSeparator) {
  EXPECT_EQ(numberText(1234.5, u','), u"1234,5");
  EXPECT_EQ(numberText(2.5e-7, u','), u"2,5E-07");
  HostLocale german;
  german.decimalSeparator = u',';
  EXPECT_EQ(cellText(Value{0.5}, german), u"0,5");
}

TEST(DateText, ShortDateAndTimeOfDay) {
  const HostLocale us;
  struct Row {
    std::u16string typed;
    std::u16string shown;
  };
  const std::vector<Row> rows{
      {u"1/2/2007", u"1/2/2007"},
      {u"1/2/2007 3:04:05 PM", u"1/2/2007 3:04:05 PM"},
      {u"12/31/1999 0:00:01", u"12/31/1999 12:00:01 AM"},
      {u"2/29/2000 12:30", u"2/29/2000 12:30:00 PM"},
      {u"15:04", u"3:04:00 PM"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(u8(row.typed));
    EXPECT_EQ(dateText(DateTime{serialOf(row.typed)}, us), row.shown);
  }
}

TEST(DateText, KnownSerials) {
  const HostLocale us;
  EXPECT_EQ(dateText(DateTime{39084}, us), u"1/2/2007");
  EXPECT_EQ(dateText(DateTime{39084.5}, us), u"1/2/2007 12:00:00 PM");
  EXPECT_EQ(dateText(DateTime{2}, us), u"1/1/1900");
  EXPECT_EQ(dateText(DateTime{0}, us), u"12:00:00 AM");
}

TEST(DateText, OtherDateOrders) {
  HostLocale british;
  british.dateOrder = DateOrder::DayMonthYear;
  EXPECT_EQ(dateText(DateTime{39084}, british), u"02/01/2007");
  EXPECT_EQ(dateText(DateTime{39084.75}, british), u"02/01/2007 18:00:00");
  HostLocale iso;
  iso.dateOrder = DateOrder::YearMonthDay;
  iso.dateSeparator = u'-';
  EXPECT_EQ(dateText(DateTime{39084}, iso), u"2007-01-02");
}

TEST(CellText, EveryKindOfValue) {
  const HostLocale us;
  EXPECT_EQ(cellText(Value{u"abc"}, us), u"abc");
  EXPECT_EQ(cellText(Value{}, us), u"");
  EXPECT_EQ(cellText(Value{true}, us), u"True");
  EXPECT_EQ(cellText(Value{false}, us), u"False");
  EXPECT_EQ(cellText(Value{1234.5}, us), u"1234.5");
  EXPECT_EQ(cellText(Value{DateTime{39084}}, us), u"1/2/2007");
  EXPECT_FALSE(cellText(Value{CellError::Div0}, us).has_value());
  EXPECT_FALSE(cellText(Value{CellError::NA}, us).has_value());
}

TEST(ErrorText, RoundTripsEveryError) {
  const std::vector<std::pair<CellError, std::u16string>> rows{
      {CellError::Div0, u"#DIV/0!"},  {CellError::NA, u"#N/A"},   {CellError::Name, u"#NAME?"},
      {CellError::Null, u"#NULL!"},   {CellError::Num, u"#NUM!"}, {CellError::Ref, u"#REF!"},
      {CellError::Value, u"#VALUE!"},
  };
  for (const auto& [error, text] : rows) {
    SCOPED_TRACE(u8(text));
    EXPECT_EQ(errorText(error), text);
    EXPECT_EQ(parseErrorText(text), error);
  }
  EXPECT_EQ(parseErrorText(u"#n/a"), CellError::NA);
  EXPECT_FALSE(parseErrorText(u"#N/A ").has_value());
  EXPECT_FALSE(parseErrorText(u"N/A").has_value());
}

TEST(FormulaText, ConstantsInFormulaNotation) {
  struct Row {
    CellContent content;
    std::u16string text;
  };
  const std::vector<Row> rows{
      {{Value{1234.5}, {}}, u"1234.5"},
      {{Value{true}, {}}, u"TRUE"},
      {{Value{false}, {}}, u"FALSE"},
      {{Value{u"abc"}, {}}, u"abc"},
      {{Value{DateTime{39084.25}}, {}}, u"1/2/2007 6:00:00 AM"},
      {{Value{CellError::Div0}, {}}, u"#DIV/0!"},
      {{Value{}, {}}, u""},
      {{Value{3.0}, u"=A1+1"}, u"=A1+1"},
      // Texts that would be read back as something else keep their text by an apostrophe.
      {{Value{u"007"}, {}}, u"'007"},
      {{Value{u"=x"}, {}}, u"'=x"},
      {{Value{u"TRUE"}, {}}, u"'TRUE"},
      {{Value{u"1/2"}, {}}, u"'1/2"},
      {{Value{u"'quoted"}, {}}, u"''quoted"},
      {{Value{u""}, {}}, u"'"},
      {{Value{u"#N/A"}, {}}, u"'#N/A"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(u8(row.text));
    EXPECT_EQ(formulaText(row.content), row.text);
  }
}

TEST(FormulaText, NumbersUseThePointWhateverTheLocale) {
  EXPECT_EQ(formulaText({Value{0.5}, {}}), u"0.5");
}

TEST(TypedInput, ReadsWhatTheUserTypes) {
  const HostLocale us;
  struct Row {
    std::u16string typed;
    Value value;
  };
  const std::vector<Row> rows{
      {u"007", Value{7.0}},
      {u"1234.5", Value{1234.5}},
      {u"1,234", Value{1234.0}},
      {u"1,234,567.5", Value{1234567.5}},
      {u"-1.5", Value{-1.5}},
      {u"+3", Value{3.0}},
      {u".5", Value{0.5}},
      {u"1e3", Value{1000.0}},
      {u"1.5E-07", Value{1.5e-7}},
      {u"(5)", Value{-5.0}},
      {u" 42 ", Value{42.0}},
      {u"-0", Value{0.0}},
      {u"50%", Value{0.5}},
      {u"-5%", Value{-0.05}},
      {u"12345678901234567", Value{12345678901234500.0}},
      {u"TRUE", Value{true}},
      {u"true", Value{true}},
      {u"False", Value{false}},
      {u"abc", Value{u"abc"}},
      {u"=x", Value{u"=x"}},
      {u"=A1+1", Value{u"=A1+1"}},
      {u"'007", Value{u"007"}},
      {u"'", Value{u""}},
      {u"", Value{}},
      {u"  ", Value{u"  "}},
      {u".", Value{u"."}},
      {u"1.2.3", Value{u"1.2.3"}},
      {u"12,34", Value{u"12,34"}},
      {u"1e", Value{u"1e"}},
      {u"-", Value{u"-"}},
      {u"1e999", Value{u"1e999"}},
      {u"a007", Value{u"a007"}},
      {u"2/30/2007", Value{u"2/30/2007"}},
      {u"13/1/2007", Value{u"13/1/2007"}},
      {u"1/2/1899", Value{u"1/2/1899"}},
      {u"25:00", Value{u"25:00"}},
      {u"13:00 PM", Value{u"13:00 PM"}},
      {u"#N/A", Value{u"#N/A"}},
      {u"1/2/2007", Value{DateTime{39084}}},
      {u"1-2-2007", Value{DateTime{39084}}},
      {u"1/2/07", Value{DateTime{39084}}},
      {u"1/2", Value{DateTime{39084}}},
      {u"15:04", Value{DateTime{(15 * 60 + 4) / 1440.0}}},
      {u"3:04 PM", Value{DateTime{(15 * 60 + 4) / 1440.0}}},
      {u"12:00 am", Value{DateTime{0}}},
      {u"1/2/2007 12:00 PM", Value{DateTime{39084.5}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(u8(row.typed));
    EXPECT_EQ(parseTypedInput(row.typed, us, 2007), row.value);
  }
}

TEST(TypedInput, FollowsTheLocale) {
  const HostLocale german = germanTyping();
  EXPECT_EQ(parseTypedInput(u"1,5", german, 2007), Value{1.5});
  EXPECT_EQ(parseTypedInput(u"1.234,5", german, 2007), Value{1234.5});
  EXPECT_EQ(parseTypedInput(u"2.1.2007", german, 2007), Value{DateTime{39084}});
  EXPECT_EQ(parseTypedInput(u"2.1", german, 2007), Value{DateTime{39084}});
}

TEST(TypedInput, GroupsByTheThousandsSeparatorGivenOnly) {
  struct Row {
    const char* name;
    char16_t decimal;
    char16_t thousands;
    std::u16string typed;
    Value value;
  };
  const std::vector<Row> rows{
      {"French no-break space", u',', u'\u00A0', u"1\u00A0234,5", Value{1234.5}},
      {"French narrow no-break space", u',', u'\u202F', u"1\u202F234\u202F567", Value{1234567.0}},
      {"French 1.234 is no number", u',', u'\u00A0', u"1.234", Value{u"1.234"}},
      {"French plain space is not the separator", u',', u'\u00A0', u"1 234", Value{u"1 234"}},
      {"Swiss apostrophe", u'.', u'\'', u"1'234.5", Value{1234.5}},
      {"Swiss right single quote", u'.', u'\u2019', u"1\u2019234", Value{1234.0}},
      {"Swiss comma is no separator", u'.', u'\'', u"1,234", Value{u"1,234"}},
      {"no grouping at all", u'.', 0, u"1,234", Value{u"1,234"}},
      {"a separator equal to the decimal groups nothing", u',', u',', u"1,234", Value{1.234}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HostLocale locale;
    locale.decimalSeparator = row.decimal;
    locale.thousandsSeparator = row.thousands;
    EXPECT_EQ(parseTypedInput(row.typed, locale, 2007), row.value);
  }
}

TEST(TypedInput, ATextCellKeepsTypingAndAGeneralCellGetsTheTypedFormat) {
  const HostLocale german = germanTyping();
  struct Row {
    const char* name;
    std::u16string typed;
    std::u16string cellFormat;
    TypedCell typing;  ///< typeIntoCell
    TypedCell result;  ///< typedResult
  };
  const std::vector<Row> rows{
      {"a decimal in a Text cell", u"3,5", u"@", {Value{u"3,5"}, u""}, {Value{u"3,5"}, u""}},
      {"a date in a Text cell",
       u"03.12.2024",
       u"@",
       {Value{u"03.12.2024"}, u""},
       {Value{u"03.12.2024"}, u""}},
      {"TRUE in a Text cell", u"TRUE", u"@", {Value{u"TRUE"}, u""}, {Value{u"TRUE"}, u""}},
      {"the apostrophe in a Text cell", u"'7", u"@", {Value{u"7"}, u""}, {Value{u"'7"}, u""}},
      {"a percent", u"12,5%", u"General", {Value{0.125}, u"0.00%"}, {Value{0.125}, u"0.00%"}},
      {"a whole percent", u"12%", u"general", {Value{0.12}, u"0%"}, {Value{0.12}, u"0%"}},
      {"a grouped number",
       u"1.234,50",
       u"General",
       {Value{1234.5}, u"#,##0.00"},
       {Value{1234.5}, u"#,##0.00"}},
      {"an exponent",
       u"1,5E3",
       u"General",
       {Value{1500.0}, u"0.00E+00"},
       {Value{1500.0}, u"0.00E+00"}},
      {"a plain number", u"1234", u"General", {Value{1234.0}, u""}, {Value{1234.0}, u""}},
      {"a formatted cell keeps its format", u"12%", u"0.0", {Value{0.12}, u""}, {Value{0.12}, u""}},
      {"a date",
       u"3.12.2024",
       u"General",
       {Value{DateTime{45629}}, u""},
       {Value{DateTime{45629}}, u""}},
      {"the empty text", u"", u"@", {Value{}, u""}, {Value{}, u""}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(typeIntoCell(row.typed, german, 2007, row.cellFormat), row.typing);
    EXPECT_EQ(typedResult(row.typed, german, 2007, row.cellFormat), row.result);
  }
}

// The quick answer a caller types most results by agrees with typing the result in full.
TEST(TypedInput, TypedResultIsTextAgreesWithTypedResult) {
  const HostLocale german = germanTyping();
  const std::vector<std::u16string> texts{u"",        u" ",
                                          u"abc",     u"Caf\u00E9 ",
                                          u"'7",      u"'",
                                          u"=1+2",    u"TRUE",
                                          u" false ", u"truely",
                                          u"1234",    u"12%",
                                          u"1.234,5", u"1,234.5",
                                          u"1e3",     u"(5)",
                                          u"-",       u"3/4",
                                          u"3.12.24", u"15:04",
                                          u"3:04 PM", u"1/2/2007 3:04",
                                          u"ref- ()", u"#N/A",
                                          u"\u20AC",  u"\u00A05\u00A0",
                                          u"5 x",     u"\uFF15"};
  const std::vector<std::u16string> formats{u"General", u"@", u"0.00", u""};
  for (const HostLocale& locale : {HostLocale{}, german}) {
    for (const std::u16string& format : formats) {
      for (const std::u16string& text : texts) {
        SCOPED_TRACE(u8(text) + " in " + u8(format));
        const TypedCell typed = typedResult(text, locale, 2007, format);
        const auto* stored = std::get_if<std::u16string>(&typed.value);
        const bool itself = stored != nullptr && *stored == text && typed.numberFormat.empty();
        EXPECT_EQ(typedResultIsText(text, locale, 2007, format), itself);
      }
    }
  }
}

TEST(TypedInput, AnAmountInTheUsersCurrencyIsANumberWithACurrencyFormat) {
  HostLocale german;
  german.decimalSeparator = u',';
  german.thousandsSeparator = u'.';
  german.currencySymbol = u"\u20AC";
  german.currencyBefore = false;
  HostLocale swiss;
  swiss.thousandsSeparator = u'\u2019';
  swiss.currencySymbol = u"CHF";
  HostLocale unknown;
  unknown.currencySymbol.clear();
  struct Row {
    const char* name;
    HostLocale locale;
    std::u16string typed;
    TypedCell typing;  ///< in a General cell
  };
  const std::vector<Row> rows{
      {"dollars", HostLocale{}, u"$5", {Value{5.0}, u"\"$\"#,##0"}},
      {"dollars and cents, grouped", HostLocale{}, u"$1,234.50", {Value{1234.5}, u"\"$\"#,##0.00"}},
      {"minus before the symbol", HostLocale{}, u"-$5", {Value{-5.0}, u"\"$\"#,##0"}},
      {"minus after the symbol", HostLocale{}, u"$-5", {Value{-5.0}, u"\"$\"#,##0"}},
      {"in parentheses", HostLocale{}, u"($5.25)", {Value{-5.25}, u"\"$\"#,##0.00"}},
      {"the symbol alone", HostLocale{}, u"$", {Value{u"$"}, u""}},
      {"two signs", HostLocale{}, u"-$-5", {Value{u"-$-5"}, u""}},
      {"with a percent", HostLocale{}, u"$5%", {Value{u"$5%"}, u""}},
      {"with an exponent", HostLocale{}, u"$1E3", {Value{u"$1E3"}, u""}},
      {"on the wrong side", HostLocale{}, u"5$", {Value{u"5$"}, u""}},
      {"euros after, spaced", german, u"12,50 \u20AC", {Value{12.5}, u"#,##0.00 \"\u20AC\""}},
      {"euros after, grouped, unspaced",
       german,
       u"-1.234\u20AC",
       {Value{-1234.0}, u"#,##0\"\u20AC\""}},
      {"euros before the German amount", german, u"\u20AC12,50", {Value{u"\u20AC12,50"}, u""}},
      {"dollars in Germany", german, u"$5", {Value{u"$5"}, u""}},
      {"francs, spaced, grouped",
       swiss,
       u"CHF 1\u2019234.50",
       {Value{1234.5}, u"\"CHF\" #,##0.00"}},
      {"no known currency", unknown, u"$5", {Value{u"$5"}, u""}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(typeIntoCell(row.typed, row.locale, 2007, u"General"), row.typing);
    // A cell formatted as Text keeps it as typed; one with a format of its own keeps that.
    EXPECT_EQ(typeIntoCell(row.typed, row.locale, 2007, u"@").value, Value{row.typed});
    EXPECT_EQ(typeIntoCell(row.typed, row.locale, 2007, u"0.0").numberFormat, u"");
  }
}

TEST(TypedInput, YearlessDateFallsInTheCurrentYear) {
  const Value v = parseTypedInput(u"2/29", HostLocale{}, 2008);
  ASSERT_TRUE(std::holds_alternative<DateTime>(v));
  EXPECT_EQ(dateText(std::get<DateTime>(v), HostLocale{}), u"2/29/2008");
  EXPECT_EQ(parseTypedInput(u"2/29", HostLocale{}, 2007), Value{u"2/29"});
}

TEST(TypedInput, FormulaTextReadsBackToTheSameContent) {
  const std::vector<CellContent> contents{
      {Value{u"007"}, {}},   {Value{u"=x"}, {}},  {Value{u"abc"}, {}},
      {Value{u"'lead"}, {}}, {Value{u"1/2"}, {}}, {Value{u"True"}, {}},
      {Value{1234.5}, {}},   {Value{true}, {}},   {Value{DateTime{39084.5}}, {}},
      {Value{u" 5"}, {}},    {Value{u"50%"}, {}}, {Value{-0.25}, {}},
  };
  for (const auto& content : contents) {
    const std::u16string notation = formulaText(content);
    SCOPED_TRACE(u8(notation));
    EXPECT_EQ(parseTypedInput(notation, HostLocale{}, 2007), content.value);
  }
}

}  // namespace
}  // namespace qmv
