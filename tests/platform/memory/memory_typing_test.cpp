// Results written as typed: what a cell's number format and the user's separators make of
// them, in the in-memory host as in the Excel bridge (one rule, typedResult).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/run.hpp"
#include "host/cell_text.hpp"
#include "memory_fixture.hpp"
#include "support/recording_observer.hpp"

namespace qmv::memory {
namespace {

HostLocale french(char16_t thousands) {
  return HostLocale{u',', u'/', DateOrder::DayMonthYear, thousands};
}
const HostLocale kGerman{u',', u'.', DateOrder::DayMonthYear, u'.'};
const HostLocale kSwiss{u'.', u'.', DateOrder::DayMonthYear, u'\''};

class MemoryTypingTest : public MemoryHostTest {};

TEST_F(MemoryTypingTest, ACellsFormatAndTheLocaleDecideWhatAResultBecomes) {
  struct Row {
    const char* name;
    HostLocale locale;
    std::u16string format;  ///< the cell's number format before the write
    std::u16string result;
    Value stored;
    std::u16string formatAfter;
  };
  const std::vector<Row> rows{
      {"a Text cell keeps digits as text", HostLocale{}, u"@", u"01614960000",
       Value{u"01614960000"}, u"@"},
      {"a Text cell keeps a German decimal as text", kGerman, u"@", u"3,5", Value{u"3,5"}, u"@"},
      {"a Text cell keeps a German date as text", kGerman, u"@", u"03.12.2024",
       Value{u"03.12.2024"}, u"@"},
      {"a General cell reads the German decimal", kGerman, u"General", u"3,5", Value{3.5},
       u"General"},
      {"a German percent gets the percent format", kGerman, u"General", u"12,5%", Value{0.125},
       u"0.00%"},
      {"a whole percent gets 0%", HostLocale{}, u"General", u"50%", Value{0.5}, u"0%"},
      {"a grouped number gets the grouped format", kGerman, u"General", u"1.234", Value{1234.0},
       u"#,##0"},
      {"a cell's own format stays", HostLocale{}, u"0.000", u"12.5%", Value{0.125}, u"0.000"},
      {"French groups by the no-break space", french(u'\u00A0'), u"General", u"1\u00A0234,5",
       Value{1234.5}, u"#,##0.00"},
      {"French groups by the narrow no-break space", french(u'\u202F'), u"General", u"1\u202F234",
       Value{1234.0}, u"#,##0"},
      {"a French 1.234 is no number", french(u'\u00A0'), u"General", u"1.234", Value{u"1.234"},
       u"General"},
      {"a French 1 234 with the other space is text", french(u'\u202F'), u"General", u"1\u00A0234",
       Value{u"1\u00A0234"}, u"General"},
      {"Swiss groups by the apostrophe", kSwiss, u"General", u"1'234.5", Value{1234.5},
       u"#,##0.00"},
      {"Swiss groups by the right single quote",
       HostLocale{u'.', u'.', DateOrder::DayMonthYear, u'\u2019'}, u"General", u"12\u2019345",
       Value{12345.0}, u"#,##0"},
      {"a Swiss comma groups nothing", kSwiss, u"General", u"1,234", Value{u"1,234"}, u"General"},
      {"a result starting with an apostrophe keeps it", HostLocale{}, u"General", u"'007",
       Value{u"'007"}, u"General"},
      // Range.Formula: a date set into a cell without a date format gets the short date.
      {"a date gets the short date", HostLocale{}, u"General", u"1/2/2026", Value{DateTime{46024}},
       u"m/d/yyyy"},
      {"a date keeps a date format of the cell's", HostLocale{}, u"d-mmm-yy", u"1/2/2026",
       Value{DateTime{46024}}, u"d-mmm-yy"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host->setLocale(row.locale);
    host->setFormats(ref(u"B2"), CellFormats(row.format));
    cellAt(2, 2)->setCellValue(1, 1, Value{row.result});
    EXPECT_EQ(at(u"B2"), row.stored);
    EXPECT_EQ(host->formats(ref(u"B2")).numberFormat, row.formatAfter);
    // A block of the same results types each cell the same way.
    host->setFormats(ref(u"C2"), CellFormats(row.format));
    const std::vector<Value> values{Value{row.result}};
    cellAt(2, 3)->setColumnValues(1, 1, values);
    EXPECT_EQ(at(u"C2"), row.stored);
  }
}

TEST_F(MemoryTypingTest, KeepingOnlyDigitsLeavesATextColumnText) {
  host->setFormats(ref(u"A1"), CellFormats(u"@"));
  put(u"A1", Value{u"(0161) 496-0000"});
  put(u"A2", Value{u"(0161) 496-0000"});
  put(u"A3", Value{u"x'007"});
  host->select(u"A1:A2");
  qmv::testing::RecordingSession session;
  session.hostApp = host;
  qmv::testing::RecordingObserver observer;
  RunRequest keep;
  keep.operation = Operation::RNDG;
  runRemoval(session, keep, observer);
  EXPECT_EQ(at(u"A1"), Value{u"01614960000"}) << "the Text cell";
  EXPECT_EQ(at(u"A2"), Value{1614960000.0}) << "a General cell is typed";
  RunRequest letters;
  letters.operation = Operation::RALP;
  host->select(u"A3");
  runRemoval(session, letters, observer);
  EXPECT_EQ(at(u"A3"), Value{u"'007"});
}

TEST_F(MemoryTypingTest, TheUserTypingIntoATextCellKeepsText) {
  host->setFormats(ref(u"A1"), CellFormats(u"@"));
  host->typeInto(ref(u"A1"), u"007");
  EXPECT_EQ(at(u"A1"), Value{u"007"});
  host->typeInto(ref(u"A2"), u"'007");
  EXPECT_EQ(at(u"A2"), Value{u"007"}) << "typing, the apostrophe is only the prefix";
  host->typeInto(ref(u"A3"), u"25%");
  EXPECT_EQ(host->formats(ref(u"A3")).numberFormat, u"0%");
}

}  // namespace
}  // namespace qmv::memory
