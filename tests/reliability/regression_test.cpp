// Inputs that once broke something, and the limits of what a cell holds: each stays here
// so that the fault cannot come back.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "addin/entry_points.hpp"
#include "engine/find_nth_occurrence.hpp"
#include "engine/transforms.hpp"
#include "engine/undo.hpp"
#include "host/cell_text.hpp"
#include "tests/reliability/reliability_world.hpp"
#include "tools/qmv/csv.hpp"
#include "wizard/frm_text_remover.hpp"

namespace qmv::reliability {
namespace {

void loadAddin(World& w) {
  w.module.hostApp = w.host;
  registerUndoMacro(w.module);
}

// Found by fuzzing the cell-text rule: a date serial beyond the calendar (here 1E+20) was
// turned into a day count with an overflowing conversion.
TEST(DatesOutsideTheCalendar, HaveNoCellTextAndAreShownAsTheirNumber) {
  struct Row {
    const char* name;
    double serial;
    bool hasText;
  };
  const Row rows[] = {
      {"the crashing input", 1e20, false},
      {"the largest double", 1.7976931348623157e308, false},
      {"far before the calendar", -1e300, false},
      {"the day after 31 December 9999", 2958466, false},
      {"the day before 1 January 100", -657435, false},
      {"31 December 9999, one second before midnight", 2958465 + 86399.0 / 86400, true},
      {"1 January 100", -657434, true},
      {"2 January 2007", 39084, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const DateTime date{row.serial};
    EXPECT_EQ(cellText(Value{date}, HostLocale{}).has_value(), row.hasText);
    EXPECT_FALSE(dateText(date, HostLocale{}).empty());
    EXPECT_FALSE(formulaText(CellContent{Value{date}, {}}).empty());
  }
  EXPECT_EQ(dateText(DateTime{1e20}, HostLocale{}), u"1E+20");
  EXPECT_EQ(cellText(Value{DateTime{2958465}}, HostLocale{}), u"12/31/9999");
}

TEST(DatesOutsideTheCalendar, AreLeftAloneByEveryRun) {
  const CellContent impossible{Value{DateTime{1e20}}, {}};
  for (void (*command)(AddinModule&) :
       {RemoveNumbers, RemoveAllDuplicates, RemoveUniqueValues, RemoveDuplicatesKeepOne}) {
    World w;
    loadAddin(w);
    w.host->setCell({1, 1}, impossible);
    w.host->setCell({2, 1}, impossible);
    w.host->setCell({3, 1}, CellContent{Value{std::u16string(u"1E+20")}, {}});
    w.host->setCell({4, 1}, CellContent{Value{std::u16string(u"a1")}, {}});
    w.host->select(u"A1:A4");
    w.user.press("CommandButton1");
    command(w.module);
    EXPECT_TRUE(w.host->cell({1, 1}) == impossible);
    EXPECT_TRUE(w.host->cell({2, 1}) == impossible);
    EXPECT_TRUE(w.toolkit.shownForms().empty());
  }
}

// The longest text a cell holds, 32,767 units: every position fits the 16-bit counters.
TEST(LongestCellText, OccurrencesUpToTheLastPosition) {
  std::u16string text(kMaxCellChars, u'a');
  EXPECT_EQ(FindNthOccurrence(text, 32767, u"A"), 32767);
  EXPECT_EQ(FindNthOccurrence(text, 1, u"a"), 1);
  EXPECT_EQ(FindNthOccurrence(text, -32768, u"a"), 0);
  EXPECT_EQ(FindNthOccurrence(text, 0, u"a"), 0);
  EXPECT_EQ(findLastExact(text, u"a"), 32767);
  text.back() = u'\xD800';  // a lone surrogate at the very end
  EXPECT_EQ(FindNthOccurrence(text, 1, u"\xD800"), 32767);
  EXPECT_EQ(FindNthOccurrence(text, 32767, u"a"), 0);
  EXPECT_EQ(findFirstExact(text, u"\xD800"), 32767);

  // The cut at the last position keeps the text whole or its last unit.
  EXPECT_EQ(CutAtPosition(text, false, true, 32767, 0), text);
  EXPECT_EQ(CutAtPosition(text, true, true, 32767, 0), std::u16string(u"\xD800"));
  EXPECT_FALSE(CutAtPosition(text, false, false, 32767, 1).has_value()) << "n + x passes 16 bits";
}

TEST(LongestCellText, RunsOverItAndUndoBringsItBack) {
  std::u16string digits;
  while (digits.size() < kMaxCellChars) digits += u"a1-";
  digits.resize(kMaxCellChars);
  struct Row {
    const char* name;
    std::function<void(World&)> run;
  };
  const Row rows[] = {
      {"dialog RNUM",
       [](World& w) {
         w.user.press("CommandButton1");
         RemoveNumbers(w.module);
       }},
      {"dialog RNAP at 32767",
       [](World& w) {
         w.user.clear("txtSP").paste("txtSP", u"32767").clear("txtNOC").paste("txtNOC", u"0");
         w.user.press("CommandButton1");
         RemoveCharsAfter(w.module);
       }},
      {"wizard, before the last hyphen",
       [](World& w) {
         w.user.toggle("chkConSP").choose("cmbSpChar", 3).choose("cmbPos", 4).pick("optRight");
         w.user.toggle("chkAllChars").press("CommandButton1");
         ShowWizard(w.module);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    World w;
    loadAddin(w);
    const CellContent before{Value{digits}, {}};
    w.host->setCell({1, 1}, before);
    w.host->select(u"A1");
    row.run(w);
    EXPECT_TRUE(w.toolkit.shownForms().empty());
    EXPECT_FALSE(w.toolkit.scriptEnded());
    const CellContent content = w.host->cell({1, 1});
    const auto* after = std::get_if<std::u16string>(&content.value);
    ASSERT_NE(after, nullptr);
    EXPECT_LE(after->size(), kMaxCellChars);
    UndoLastRun(w.module);
    EXPECT_TRUE(w.host->cell({1, 1}) == before);
  }
}

// Found by fuzzing the CSV reader: a first field beginning with U+FEFF was written without
// quotes at the start of the file, where reading takes it for a byte-order mark.
TEST(CsvByteOrderMark, AFieldStartingWithTheMarkCharacterSurvivesWritingAndReading) {
  const std::string mark = "\xEF\xBB\xBF";
  const std::vector<cli::CsvRecord> records = {{mark + "a", "b"}, {mark}, {"c", mark + "d"}};
  for (const bool withMark : {false, true}) {
    SCOPED_TRACE(withMark ? "file with a byte-order mark" : "file without one");
    cli::CsvWriteOptions options;
    options.byteOrderMark = withMark;
    const std::string written = cli::writeCsv(records, options);
    const cli::CsvDocument read = cli::readCsv(written);
    ASSERT_FALSE(read.error.has_value()) << read.error->describe();
    EXPECT_EQ(read.records, records);
    EXPECT_EQ(read.byteOrderMark, withMark);
  }
  // The crashing input itself: a quoted field holding the mark and control characters.
  const std::string input = "\"" + mark + std::string(7, '\0') + "\x0E\"";
  const cli::CsvDocument first = cli::readCsv(input);
  ASSERT_FALSE(first.error.has_value());
  const cli::CsvDocument again = cli::readCsv(cli::writeCsv(first.records));
  EXPECT_EQ(again.records, first.records);
}

}  // namespace
}  // namespace qmv::reliability
