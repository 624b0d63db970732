#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/undo.hpp"
#include "wizard/wizard_fixture.hpp"

namespace qmv::testing {
namespace {

using memory::HeadlessToolkit;

class WizardRun : public WizardFixture {};

// How the separator is given: an entry of its list, a typed character, the design text
// left as it stands, or the box emptied.
struct Separator {
  enum class How { Entry, Typed, Untouched, Emptied };
  Separator(How way, int index, std::u16string text)
      : how(way), entry(index), typed(std::move(text)) {}
  How how;
  int entry;
  std::u16string typed;
};
Separator entry(int index) { return Separator(Separator::How::Entry, index, u""); }
Separator typed(std::u16string c) { return Separator(Separator::How::Typed, -1, std::move(c)); }
Separator untouched() { return Separator(Separator::How::Untouched, -1, u""); }
Separator emptied() { return Separator(Separator::How::Emptied, -1, u""); }

// Which occurrence: an entry of the list, or typed text.
struct Occurrence {
  explicit Occurrence(int index) : entry(index) {}
  explicit Occurrence(std::u16string text) : typed(std::move(text)) {}
  int entry = -1;
  std::u16string typed;
};

Occurrence at(int index) { return Occurrence(index); }
Occurrence typedAt(std::u16string text) { return Occurrence(std::move(text)); }

// All characters rather than a number of them.
const std::optional<std::u16string> kAll;

struct SeparatorRow {
  const char* name;
  std::u16string text;
  Separator separator;
  Occurrence occurrence;
  bool before;
  std::optional<std::u16string> count;  // none: all characters
  std::u16string expected;
};

constexpr int kSpace = 0;
constexpr int kHyphen = 3;
constexpr int kQuestion = 8;
constexpr int kSlash = 9;       // labelled "BackSlash /"
constexpr int kBackslash = 10;  // labelled "ForwardSlash \\"
constexpr int k1st = 0;
constexpr int k2nd = 1;
constexpr int k3rd = 2;
constexpr int k4th = 3;
constexpr int kLast = 4;

TEST_F(WizardRun, StartPositionFromASeparatorOccurrence) {
  const std::u16string abc = u"abc-def-ghi";
  const Separator hyphen = entry(kHyphen);
  const SeparatorRow rows[] = {
      {"1st hyphen, before, all", abc, hyphen, at(k1st), true, kAll, u"-def-ghi"},
      {"1st hyphen, after, all", abc, hyphen, at(k1st), false, kAll, u"abc-"},
      {"1st hyphen, before, 2", abc, hyphen, at(k1st), true, u"2", u"a-def-ghi"},
      {"1st hyphen, after, 2", abc, hyphen, at(k1st), false, u"2", u"abc-f-ghi"},
      {"last hyphen, before, all", abc, hyphen, at(kLast), true, kAll, u"-ghi"},
      {"last hyphen, after, all", abc, hyphen, at(kLast), false, kAll, u"abc-def-"},
      {"2nd hyphen, before, all", abc, hyphen, at(k2nd), true, kAll, u"-ghi"},
      {"2nd hyphen, after, all", abc, hyphen, at(k2nd), false, kAll, u"abc-def-"},
      {"3rd hyphen is missing", abc, hyphen, at(k3rd), true, kAll, abc},
      {"4th hyphen", u"a-b-c-d-e", hyphen, at(k4th), true, kAll, u"-e"},
      {"typed occurrence 2", abc, hyphen, typedAt(u"2"), true, kAll, u"-ghi"},
      {"typed occurrence 0", abc, hyphen, typedAt(u"0"), true, kAll, abc},
      {"typed word", abc, hyphen, typedAt(u"two"), false, kAll, abc},
      {"typed occurrence beyond 16 bits fails", abc, hyphen, typedAt(u"40000"), true, kAll, abc},
      {"2nd question mark, after, all", u"a?b?c", entry(kQuestion), at(k2nd), false, kAll, u"a?b?"},
      {"typed x, 1st", u"AxBXc", typed(u"x"), at(k1st), false, kAll, u"Ax"},
      {"typed x, 2nd ignores case", u"AxBXc", typed(u"x"), at(k2nd), false, kAll, u"AxBX"},
      {"typed x, last respects case", u"AxBXc", typed(u"x"), at(kLast), false, kAll, u"Ax"},
      {"typed x, typed occurrence 2 ignores case", u"AxBXc", typed(u"x"), typedAt(u"2"), false,
       kAll, u"AxBX"},
      {"Space entry is the space", u"ab cd ef", entry(kSpace), at(kLast), true, kAll, u" ef"},
      {"Select Character gives r", u"barber", untouched(), at(k1st), false, kAll, u"bar"},
      {"BackSlash entry is the slash", u"a/b\\c", entry(kSlash), at(k1st), false, kAll, u"a/"},
      {"ForwardSlash entry is the backslash", u"a/b\\c", entry(kBackslash), at(k1st), false, kAll,
       u"a/b\\"},
      {"emptied separator box", abc, emptied(), at(k1st), true, kAll, abc},
  };
  for (const SeparatorRow& row : rows) {
    SCOPED_TRACE(row.name);
    column({row.text});
    separatorMode();
    switch (row.separator.how) {
      case Separator::How::Entry:
        user.choose("cmbSpChar", row.separator.entry);
        break;
      case Separator::How::Typed:
        user.type("cmbSpChar", row.separator.typed);
        break;
      case Separator::How::Emptied:
        user.clear("cmbSpChar");
        break;
      case Separator::How::Untouched:
        break;
    }
    if (row.occurrence.entry >= 0) {
      user.choose("cmbPos", row.occurrence.entry);
    } else {
      user.type("cmbPos", row.occurrence.typed);
    }
    cut(row.before, row.count).press("CommandButton1");
    openWizard();
    EXPECT_EQ(textAt(1), row.expected);
    EXPECT_FALSE(wizard().loaded());
    EXPECT_EQ(user.pending(), 0u);
  }
}

struct FixedRow {
  const char* name;
  std::u16string startPosition;  // typed; empty: the box is emptied
  bool before;
  std::optional<std::u16string> count;  // none: all characters
  std::u16string expected;
};

TEST_F(WizardRun, FixedStartPosition) {
  const FixedRow rows[] = {
      {"before, all", u"3", true, {}, u"cdef"},
      {"after, all", u"3", false, {}, u"abc"},
      {"before, 1", u"3", true, u"1", u"acdef"},
      {"after, 2", u"3", false, u"2", u"abcf"},
      {"before, 3 fails: two characters stand before", u"3", true, u"3", u"abcdef"},
      {"after, 10 takes everything after", u"3", false, u"10", u"abc"},
      {"start position 0 leaves the text", u"0", true, {}, u"abcdef"},
      {"a half goes to the even neighbour", u"2.5", false, {}, u"ab"},
      {"a lone point fails", u".", false, {}, u"abcdef"},
      {"emptied box reads 1", u"", false, {}, u"a"},
  };
  for (const FixedRow& row : rows) {
    SCOPED_TRACE(row.name);
    column({u"abcdef"});
    if (row.startPosition.empty()) {
      user.clear("txtStartPos");
    } else {
      user.type("txtStartPos", row.startPosition);
    }
    cut(row.before, row.count).press("CommandButton1");
    openWizard();
    EXPECT_EQ(textAt(1), row.expected);
  }
}

TEST_F(WizardRun, AnEmptiedStartPositionIsSetBackToOne) {
  column({u"abcdef"});
  user.clear("txtStartPos").clear("txtNoOfChars").press("CommandButton1");
  openWizard();
  EXPECT_EQ(control("txtStartPos").text(), u"1");
  EXPECT_EQ(control("txtNoOfChars").text(), u"1");
  EXPECT_EQ(textAt(1), u"acdef");
}

struct PastedRow {
  const char* name;
  const char* box;
  std::u16string pasted;
  bool all;
  std::u16string expected;
};

TEST_F(WizardRun, PastedNumbersOutsideTheRulesLeaveTheText) {
  const PastedRow rows[] = {
      {"hidden count holds a lone point", "txtNoOfChars", u".", true, u"abcdef"},
      {"negative count", "txtNoOfChars", u"-1", false, u"abcdef"},
      {"negative start position", "txtStartPos", u"-2", true, u"abcdef"},
      {"start position beyond 16 bits", "txtStartPos", u"99999", true, u"abcdef"},
      {"pasted letter", "txtStartPos", u"x", false, u"abcdef"},
  };
  for (const PastedRow& row : rows) {
    SCOPED_TRACE(row.name);
    column({u"abcdef", u"ghijkl"});
    // The start position box is pasted into directly, the count after a start of 3.
    if (std::string_view(row.box) != "txtStartPos") user.type("txtStartPos", u"3");
    user.paste(row.box, row.pasted);
    if (row.all) user.toggle("chkAllChars");
    user.press("CommandButton1");
    openWizard();
    EXPECT_EQ(textAt(1), row.expected);
    EXPECT_EQ(textAt(2), u"ghijkl");
  }
}

struct ListRow {
  const char* name;
  int operation;
  std::u16string text;
  std::u16string expected;
};

TEST_F(WizardRun, ListModeOperations) {
  const ListRow rows[] = {
      {"all numeric", 0, u"a1b2 c3", u"ab c"},
      {"all alphabet leaves a number", 1, u"ab12CD", u"12"},
      {"all spaces", 2, u"a1b2 c3", u"a1b2c3"},
      {"leading and trailing spaces", 3, u" a  b ", u"a  b"},
      {"leading, trailing and excessive spaces", 4, u"  a   b", u"a b"},
      {"non-printable", 5, u"a\tb\nc", u"abc"},
      {"upper case", 6, u"McDonald", u"conald"},
      {"lower case", 7, u"McDonald", u"MD"},
  };
  for (const ListRow& row : rows) {
    SCOPED_TRACE(row.name);
    column({row.text});
    user.toggle("CheckBox1").choose("cmbAN", row.operation).press("CommandButton1");
    openWizard();
    EXPECT_EQ(textAt(1), row.expected);
  }
}

TEST_F(WizardRun, EveryTypedEntryRemovesTheLatestSet) {
  column({u"a#b%c&d"});
  toolkit.queueAnswer(u"#%");
  toolkit.queueAnswer(u"&");
  user.toggle("CheckBox1")
      .choose("cmbAN", 11)
      .choose("cmbAN", 11)
      .choose("cmbAN", 12)
      .press("CommandButton1");
  openWizard();
  EXPECT_EQ(textAt(1), u"a#b%cd");
}

TEST_F(WizardRun, AfterCancelATypedEntryRemovesNothing) {
  column({u"a#b"});
  toolkit.queueAnswer(u"#");
  toolkit.queueCancel();
  user.toggle("CheckBox1")
      .choose("cmbAN", 11)
      .choose("cmbAN", 11)
      .choose("cmbAN", 12)
      .press("CommandButton1");
  openWizard();
  EXPECT_EQ(textAt(1), u"a#b");
}

TEST_F(WizardRun, FourConstantsAndAFormulaEndAtEightyPercent) {
  column({u"a1", u"b2", u"c3", u"d4"});
  host->setCell({5, 1}, CellContent{Value{2.0}, u"=1+1"});
  host->select(u"A1:A5");
  user.toggle("CheckBox1").press("CommandButton1");
  openWizard();
  EXPECT_FLOAT_EQ(control("ProgressBar1").max(), 5);
  EXPECT_FLOAT_EQ(control("ProgressBar1").value(), 4);
  EXPECT_EQ(control("lblPer").caption(), u"80 %");
  EXPECT_EQ(toolkit.yields(), 4u);
  EXPECT_EQ(textAt(1), u"a");
  EXPECT_EQ(textAt(4), u"d");
  EXPECT_EQ(host->cell({5, 1}).formula, u"=1+1");
  EXPECT_EQ(control("CommandButton1").caption(), u"Stop!");
}

TEST_F(WizardRun, StopDuringTheTenthOfAHundredCellsAndUndo) {
  std::vector<std::u16string> texts;
  for (std::size_t i = 1; i <= 100; ++i) {
    std::u16string text(1, u'x');
    text.append(toU16(i));
    texts.push_back(std::move(text));
  }
  column(texts);
  bool loadedAfterSecondClick = false;
  toolkit.scheduleDuringYield(10, [&](HeadlessToolkit& tk) {
    Control& stop = tk.shownControl("CommandButton1");
    tk.press(stop);
    tk.press(stop);
    loadedAfterSecondClick = wizard().loaded();
  });
  user.toggle("CheckBox1").press("CommandButton1");
  openWizard();
  EXPECT_TRUE(loadedAfterSecondClick);
  EXPECT_FALSE(wizard().loaded());
  for (int row = 1; row <= 100; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(textAt(row), row <= 10 ? u"x" : texts[static_cast<std::size_t>(row - 1)]);
  }
  EXPECT_EQ(control("lblPer").caption(), u"10 %");
  ASSERT_NE(module.undoSnapshot, nullptr);
  EXPECT_EQ(module.undoSnapshot->size(), 10u);

  UndoLastRun(module);
  for (int row = 1; row <= 100; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(textAt(row), texts[static_cast<std::size_t>(row - 1)]);
  }
}

struct CloseRow {
  const char* name;
  std::function<void(HeadlessToolkit&)> close;
};

TEST_F(WizardRun, ClosingDuringARunStopsItAndUnloadsOnlyAtTheEnd) {
  const CloseRow rows[] = {
      {"close box", [](HeadlessToolkit& tk) { tk.close(); }},
      {"Close button", [](HeadlessToolkit& tk) { tk.press(tk.shownControl("CommandButton2")); }},
  };
  for (const CloseRow& row : rows) {
    SCOPED_TRACE(row.name);
    column({u"a1", u"b2", u"c3", u"d4", u"e5"});
    bool loadedAfterClose = false;
    toolkit.scheduleDuringYield(3, [&](HeadlessToolkit& tk) {
      row.close(tk);
      loadedAfterClose = wizard().loaded();
    });
    user.toggle("CheckBox1").press("CommandButton1");
    openWizard();
    EXPECT_TRUE(loadedAfterClose);
    EXPECT_FALSE(wizard().loaded());
    EXPECT_EQ(textAt(3), u"c");
    EXPECT_EQ(textAt(4), u"d4");
    EXPECT_EQ(host->runSettings().calculation, xl::kCalculationAutomatic);
    EXPECT_TRUE(host->runSettings().screenUpdating);
    EXPECT_TRUE(host->undoBinding().has_value());
  }
}

TEST_F(WizardRun, OptionsChangedDuringARunApplyToTheCellsNotYetVisited) {
  column({u"aB1", u"aB1", u"aB1", u"aB1"});
  toolkit.scheduleDuringYield(2,
                              [](HeadlessToolkit& tk) { tk.choose(tk.shownControl("cmbAN"), 7); });
  user.toggle("CheckBox1").press("CommandButton1");
  openWizard();
  EXPECT_EQ(textAt(1), u"aB");
  EXPECT_EQ(textAt(2), u"aB");
  EXPECT_EQ(textAt(3), u"B1");
  EXPECT_EQ(textAt(4), u"B1");
}

TEST_F(WizardRun, RunsInTheHostRunStateAndRenewsTheUndoBindings) {
  column({u"a1"});
  user.press("CommandButton1");
  std::u16string captionDuringRun;
  toolkit.scheduleDuringYield(1, [&](HeadlessToolkit& tk) {
    captionDuringRun = tk.shownControl("CommandButton1").caption();
  });
  openWizard();
  EXPECT_EQ(captionDuringRun, u"Stop!");
  const memory::RunSettings& settings = host->runSettings();
  EXPECT_EQ(settings.enableCancelKey, xl::kErrorHandler);
  EXPECT_EQ(settings.calculation, xl::kCalculationAutomatic);
  EXPECT_TRUE(settings.statusBar.empty());
  EXPECT_TRUE(settings.screenUpdating);
  ASSERT_TRUE(host->undoBinding().has_value());
  EXPECT_EQ(host->undoBinding()->text, u"VandrelQMV_Undo");
  EXPECT_EQ(host->undoBinding()->macro, u"undo_changes");
  EXPECT_EQ(host->keyBinding(u"^z"), std::nullopt) << "Control+Z stays the host's Undo";
  EXPECT_TRUE(toolkit.messages().empty());
  const std::vector<std::u16string> expected{u"EnableCancelKey=2",    u"StatusBar=Processing...!",
                                             u"ScreenUpdating=False", u"Calculation=-4135",
                                             u"Calculation=-4105",    u"StatusBar=",
                                             u"ScreenUpdating=True"};
  EXPECT_EQ(host->settingsLog(), expected);
}

TEST_F(WizardRun, NoOpenWorkbook) {
  host->closeWorkbooks();
  user.press("CommandButton1");
  openWizard();
  ASSERT_EQ(toolkit.messages().size(), 1u);
  EXPECT_EQ(toolkit.messages()[0].text, u"Please add a New Workbook!");
  EXPECT_FALSE(wizard().loaded());
  EXPECT_TRUE(host->settingsLog().empty());
  EXPECT_FALSE(host->undoBinding().has_value());
}

struct EmptyRow {
  const char* name;
  std::function<void(memory::MemoryApplication&)> select;
};

TEST_F(WizardRun, EmptyOrNonCellSelectionEndsAsEmpty) {
  const EmptyRow rows[] = {
      {"blank cells", [](memory::MemoryApplication& h) { h.select(u"C1:C5"); }},
      {"a drawing object", [](memory::MemoryApplication& h) { h.selectNonCells(); }},
  };
  for (const EmptyRow& row : rows) {
    SCOPED_TRACE(row.name);
    // An earlier run leaves a snapshot that an empty run keeps.
    column({u"a1"});
    user.press("CommandButton1");
    openWizard();
    const std::shared_ptr<UndoSnapshot> earlier = module.undoSnapshot;
    ASSERT_NE(earlier, nullptr);

    const std::size_t messagesBefore = toolkit.messages().size();
    row.select(*host);
    user.press("CommandButton1");
    openWizard();
    ASSERT_EQ(toolkit.messages().size(), messagesBefore + 1);
    EXPECT_EQ(toolkit.messages().back().text, u"Selection is Empty!");
    EXPECT_FALSE(wizard().loaded());
    EXPECT_EQ(module.undoSnapshot, earlier);
    EXPECT_EQ(host->runSettings().calculation, xl::kCalculationAutomatic);
    EXPECT_TRUE(host->runSettings().statusBar.empty());
    EXPECT_TRUE(host->runSettings().screenUpdating);
    EXPECT_TRUE(host->undoBinding().has_value());
    EXPECT_EQ(control("CommandButton1").caption(), u"Remove");
  }
}

TEST_F(WizardRun, OnlyFormulasChangeNothing) {
  host->setCell({1, 1}, CellContent{Value{2.0}, u"=1+1"});
  host->select(u"A1");
  user.press("CommandButton1");
  openWizard();
  EXPECT_EQ(host->cell({1, 1}).formula, u"=1+1");
  EXPECT_TRUE(toolkit.messages().empty());
  ASSERT_NE(module.undoSnapshot, nullptr);
  EXPECT_TRUE(module.undoSnapshot->empty());
}

}  // namespace
}  // namespace qmv::testing
