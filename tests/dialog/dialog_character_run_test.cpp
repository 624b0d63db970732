// Character runs driven as a user would: the command's entry point, the dialog's inputs
// and its Yes / Stop buttons, over the in-memory host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addin/entry_points.hpp"
#include "dialog/frm_prg_bar.hpp"
#include "engine/host_run_state.hpp"
#include "engine/run.hpp"
#include "support/engine_fixture.hpp"

namespace qmv {
namespace {

using testing::EngineFixture;

class CharacterRun : public EngineFixture {
 protected:
  /// Fills A1 down with `values` and selects them.
  void column(const std::vector<Value>& values) {
    host->setColumn({1, 1}, values);
    host->select(label(u"A1:A", values.size()));
  }
  static std::u16string toU16(std::size_t n) {
    const std::string s = std::to_string(n);
    return {s.begin(), s.end()};
  }
  /// "row7" and the like.
  static std::u16string label(std::u16string prefix, std::size_t n) {
    prefix.append(toU16(n));
    return prefix;
  }
};

struct OperationRow {
  const char* name;
  void (*command)(AddinModule&);
  Value before;
  Value after;
};

TEST_F(CharacterRun, EachCommandRewritesTheCellAsTypedInput) {
  const OperationRow rows[] = {
      {"RNUM phone", RemoveNumbers, text(u"Tel: 0123-456"), text(u"Tel: -")},
      {"RNUM number 1234.5 leaves the point", RemoveNumbers, number(1234.5), text(u".")},
      {"RALP a007 becomes the number 7", RemoveAlphas, text(u"a007"), number(7)},
      {"RALP ab12CD becomes 12", RemoveAlphas, text(u"ab12CD"), number(12)},
      {"RUPC on TRUE gives rue", RemoveUpper, Value{true}, text(u"rue")},
      {"RUPC McDonald", RemoveUpper, text(u"McDonald"), text(u"conald")},
      {"RLOC McDonald", RemoveLower, text(u"McDonald"), text(u"MD")},
      {"RALS", RemoveAllSpaces, text(u" a  b "), text(u"ab")},
      {"RLTS", RemoveLeadTrailSpaces, text(u" a  b "), text(u"a  b")},
      {"RLTE asks the host's TRIM", RemoveExcessSpaces, text(u" a  b "), text(u"a b")},
      {"RNPC asks the host's CLEAN", RemoveNonPrintable, text(u"one\ttwo\r\nthree"),
       text(u"onetwothree")},
      {"RBSP with the default start 1 keeps the text", RemoveTextBefore, text(u"ABCDEFG"),
       text(u"ABCDEFG")},
      {"RASP with the default start 1", RemoveTextAfter, text(u"ABCDEFG"), text(u"A")},
      {"RNBP 1,1 fails and keeps the text", RemoveCharsBefore, text(u"ABCDEFG"), text(u"ABCDEFG")},
      {"RNAP 1,1", RemoveCharsAfter, text(u"ABCDEFG"), text(u"ACDEFG")},
      {"RUDC with the sample characters", RemoveUserChars, text(u"a@b#c$d%e,f\"g"),
       text(u"abcdefg")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    host->setCell({1, 1}, constant(row.before));
    host->select(u"A1");
    runYes(row.command);
    EXPECT_EQ(valueAt(1, 1), row.after);
    EXPECT_FALSE(module.prgBar->loaded());
  }
  EXPECT_TRUE(messages().empty()) << "no completion message";
}

TEST_F(CharacterRun, ThreeConstantsAndTwoFormulasEndAtSixtyPercent) {
  host->setCell({1, 1}, constant(text(u"a1")));
  host->setCell({2, 1}, CellContent{number(2), u"=1+1"});
  host->setCell({3, 1}, constant(text(u"b2")));
  host->setCell({4, 1}, CellContent{number(3), u"=A2+1"});
  host->setCell({5, 1}, constant(text(u"c3")));
  host->select(u"A1:A5");
  runYes(RemoveNumbers);
  const frmPrgBar& dialog = *module.prgBar;
  EXPECT_EQ(dialog.ProgressBar1.max(), 5.0f);
  EXPECT_EQ(dialog.ProgressBar1.value(), 3.0f);
  EXPECT_EQ(dialog.lblPer.caption(), u"60 %");
  EXPECT_EQ(valueAt(1, 1), text(u"a"));
  EXPECT_EQ(valueAt(3, 1), text(u"b"));
  EXPECT_EQ(valueAt(5, 1), text(u"c"));
  EXPECT_EQ(host->cell({2, 1}).formula, u"=1+1");
  EXPECT_EQ(host->cell({4, 1}).formula, u"=A2+1");
  ASSERT_TRUE(module.undoSnapshot);
  EXPECT_EQ(module.undoSnapshot->size(), 3u);
}

TEST_F(CharacterRun, ASingleSelectedCellIsTheOnlyCellVisited) {
  host->setColumn({1, 1}, {text(u"a1"), text(u"b2"), text(u"c3")});
  host->setCell({1, 2}, constant(text(u"d4")));
  host->select(u"A2");
  runYes(RemoveNumbers);
  EXPECT_EQ(valueAt(1, 1), text(u"a1"));
  EXPECT_EQ(valueAt(2, 1), text(u"b"));
  EXPECT_EQ(valueAt(3, 1), text(u"c3"));
  EXPECT_EQ(valueAt(1, 2), text(u"d4"));
  ASSERT_TRUE(module.undoSnapshot);
  EXPECT_EQ(module.undoSnapshot->size(), 1u);
}

TEST_F(CharacterRun, TwoAreasAreVisitedAreaByAreaRowByRow) {
  for (int64_t r = 1; r <= 2; ++r) {
    for (int64_t c = 1; c <= 4; ++c) host->setCell({r, c}, constant(text(u"x1")));
  }
  host->select(u"C1:D2,A1:B2");
  runYes(RemoveNumbers);
  ASSERT_TRUE(module.undoSnapshot);
  std::vector<std::u16string> order;
  for (std::size_t i = 0; i < module.undoSnapshot->size(); ++i) {
    order.push_back(module.undoSnapshot->entry(i).address);
  }
  const std::vector<std::u16string> expected{u"$C$1", u"$D$1", u"$C$2", u"$D$2",
                                             u"$A$1", u"$B$1", u"$A$2", u"$B$2"};
  EXPECT_EQ(order, expected);
}

TEST_F(CharacterRun, StopDuringTheTenthOfAHundredCellsChangesExactlyTen) {
  std::vector<Value> values;
  for (int i = 0; i < 100; ++i) values.push_back(text(label(u"row", static_cast<std::size_t>(i))));
  column(values);
  toolkit.scheduleStop(10);
  runYes(RemoveNumbers);
  int changed = 0;
  for (int64_t r = 1; r <= 100; ++r) changed += valueAt(r, 1) == text(u"row") ? 1 : 0;
  EXPECT_EQ(changed, 10);
  EXPECT_EQ(valueAt(10, 1), text(u"row"));
  EXPECT_EQ(valueAt(11, 1), text(u"row10"));
  EXPECT_EQ(module.prgBar->lblPer.caption(), u"10 %");
  EXPECT_FALSE(module.prgBar->loaded());

  host->hostUndo();
  for (int64_t r = 1; r <= 100; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(valueAt(r, 1), values[static_cast<std::size_t>(r - 1)]);
  }
  EXPECT_TRUE(messages().empty());
}

TEST_F(CharacterRun, StopBeforeTheFirstCellIsDoneStillFinishesThatCell) {
  column({text(u"a1"), text(u"b2"), text(u"c3")});
  toolkit.scheduleStop(1);
  runYes(RemoveNumbers);
  EXPECT_EQ(valueAt(1, 1), text(u"a"));
  EXPECT_EQ(valueAt(2, 1), text(u"b2"));
  EXPECT_EQ(valueAt(3, 1), text(u"c3"));
}

TEST_F(CharacterRun, AStopClickedBeforeTheRunHasNoEffect) {
  column({text(u"a1"), text(u"b2")});
  module.runOptions.stopRequested = true;
  runYes(RemoveNumbers);
  EXPECT_EQ(valueAt(2, 1), text(u"b"));
}

TEST_F(CharacterRun, NoOpenWorkbookSaysSoAndTouchesNothing) {
  host->closeWorkbooks();
  runYes(RemoveNumbers);
  EXPECT_EQ(messages(), std::vector<std::u16string>{u"Please add a New Workbook!"});
  EXPECT_TRUE(host->settingsLog().empty());
  EXPECT_FALSE(host->undoBinding().has_value());
  EXPECT_FALSE(module.prgBar->loaded());
}

TEST_F(CharacterRun, AnEmptySelectionSaysSoKeepsTheSnapshotAndRenewsTheBindings) {
  column({text(u"a1")});
  runYes(RemoveNumbers);
  const auto earlier = module.undoSnapshot;
  host->select(u"C1:C4");
  runYes(RemoveNumbers);
  EXPECT_EQ(messages(), std::vector<std::u16string>{u"Selection is Empty!"});
  EXPECT_EQ(module.undoSnapshot, earlier);
  ASSERT_TRUE(host->undoBinding());
  EXPECT_EQ(host->undoBinding()->text, u"VandrelQMV_Undo");
  EXPECT_EQ(host->undoBinding()->macro, u"undo_changes");
  // Control+Z stays the host's key and reaches the undo through the Undo entry.
  EXPECT_EQ(host->keyBinding(u"^z"), std::nullopt);
  EXPECT_FALSE(module.prgBar->loaded());
  EXPECT_EQ(host->runSettings().calculation, xl::kCalculationAutomatic);
  EXPECT_TRUE(host->runSettings().screenUpdating);
  // The earlier run can still be undone.
  host->pressKey(u"^z");
  EXPECT_EQ(valueAt(1, 1), text(u"a1"));
}

TEST_F(CharacterRun, OnlyFormulasFindNothingToChangeAndEndNormally) {
  host->setCell({1, 1}, CellContent{number(2), u"=1+1"});
  host->setCell({2, 1}, CellContent{number(3), u"=A1+1"});
  host->select(u"A1:A2");
  runYes(RemoveNumbers);
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(host->cell({1, 1}).formula, u"=1+1");
  ASSERT_TRUE(module.undoSnapshot);
  EXPECT_TRUE(module.undoSnapshot->empty());
  EXPECT_TRUE(host->undoBinding().has_value());
}

TEST_F(CharacterRun, TheHostIsPutIntoItsRunStateAndRestored) {
  column({text(u"a1")});
  runYes(RemoveNumbers);
  const std::vector<std::u16string> expected{u"EnableCancelKey=2",    u"StatusBar=Processing...!",
                                             u"ScreenUpdating=False", u"Calculation=-4135",
                                             u"Calculation=-4105",    u"StatusBar=",
                                             u"ScreenUpdating=True"};
  EXPECT_EQ(host->settingsLog(), expected);
  EXPECT_EQ(host->runSettings().enableCancelKey, xl::kErrorHandler);
}

TEST_F(CharacterRun, AnErrorValueHasNoTextAndStays) {
  host->setCell({1, 1}, constant(Value{CellError::NA}));
  host->setCell({2, 1}, constant(text(u"x9")));
  host->select(u"A1:A2");
  runYes(RemoveNumbers);
  EXPECT_EQ(valueAt(1, 1), Value{CellError::NA});
  EXPECT_EQ(valueAt(2, 1), text(u"x"));
  EXPECT_EQ(module.undoSnapshot->size(), 2u);
}

struct UnchangedRow {
  const char* name;
  void (*command)(AddinModule&);
  Value value;
};

TEST_F(CharacterRun, ACellWhoseTextIsUnchangedIsNotRewritten) {
  const UnchangedRow rows[] = {
      {"text 007 would become 7", RemoveAlphas, text(u"007")},
      {"text 1/2 would become a date", RemoveAlphas, text(u"1/2")},
      {"text TRUE would become a Boolean", RemoveNumbers, text(u"TRUE")},
      {"text =x would be read back differently", RemoveNumbers, text(u"=x")},
      {"19 digits would be rounded to 15", RemoveLower, number(1234567890123456789.0)},
      {"0.1+0.2 would become 0.3", RemoveAlphas, number(0.1 + 0.2)},
      {"a date would lose its time", RemoveLower, Value{DateTime{39448.123456789}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    host->setCell({1, 1}, constant(row.value));
    host->select(u"A1");
    runYes(row.command);
    EXPECT_EQ(host->cell({1, 1}), constant(row.value));
    ASSERT_TRUE(module.undoSnapshot);
    EXPECT_EQ(module.undoSnapshot->size(), 1u) << "an unchanged cell is still recorded";
    EXPECT_FALSE(module.undoSnapshot->written(0));
  }
}

struct BoxRow {
  const char* name;
  void (*command)(AddinModule&);
  std::u16string startPosition;  // pasted into txtSP
  std::u16string charCount;      // pasted into txtNOC
  std::u16string expected;       // on "ABCDEFG"
};

TEST_F(CharacterRun, StartPositionAndCountComeFromTheBoxes) {
  const BoxRow rows[] = {
      {"RBSP 3", RemoveTextBefore, u"3", u"1", u"CDEFG"},
      {"RASP 3", RemoveTextAfter, u"3", u"1", u"ABC"},
      {"RNBP 4,2", RemoveCharsBefore, u"4", u"2", u"ADEFG"},
      {"RNAP 4,2", RemoveCharsAfter, u"4", u"2", u"ABCDG"},
      {"RNAP 0,2", RemoveCharsAfter, u"0", u"2", u"CDEFG"},
      {"RASP 0 empties", RemoveTextAfter, u"0", u"1", u""},
      {"RBSP 0 fails", RemoveTextBefore, u"0", u"1", u"ABCDEFG"},
      {"RNBP 2,2 fails", RemoveCharsBefore, u"2", u"2", u"ABCDEFG"},
      {"RBSP 2.5 rounds to 2", RemoveTextBefore, u"2.5", u"1", u"BCDEFG"},
      {"RBSP 3.5 rounds to 4", RemoveTextBefore, u"3.5", u"1", u"DEFG"},
      {"lone point does not convert", RemoveTextBefore, u".", u"1", u"ABCDEFG"},
      {"1.2.3 does not convert", RemoveTextAfter, u"1.2.3", u"1", u"ABCDEFG"},
      {"99999 does not convert", RemoveTextAfter, u"99999", u"1", u"ABCDEFG"},
      {"count that does not convert", RemoveCharsAfter, u"2", u"1.2.3", u"ABCDEFG"},
      {"negative count keeps the text (after)", RemoveCharsAfter, u"4", u"-2", u"ABCDEFG"},
      {"negative count keeps the text (before)", RemoveCharsBefore, u"4", u"-2", u"ABCDEFG"},
      {"negative start fails", RemoveTextAfter, u"-1", u"1", u"ABCDEFG"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    host->setColumn({1, 1}, {text(u"ABCDEFG"), text(u"ABCDEFG")});
    host->select(u"A1:A2");
    user.clear("txtSP").paste("txtSP", row.startPosition);
    if (row.command == RemoveCharsBefore || row.command == RemoveCharsAfter) {
      user.clear("txtNOC").paste("txtNOC", row.charCount);
    }
    runYes(row.command);
    // An emptied cell holds no value.
    const Value expected = row.expected.empty() ? Value{} : text(row.expected);
    EXPECT_EQ(valueAt(1, 1), expected);
    EXPECT_EQ(valueAt(2, 1), expected);
  }
}

TEST_F(CharacterRun, TheBoxesAreReadAgainForEveryCell) {
  column({text(u"ABCDEFG"), text(u"ABCDEFG"), text(u"ABCDEFG")});
  user.clear("txtSP").type("txtSP", u"3");
  toolkit.scheduleDuringYield(
      1, [](memory::HeadlessToolkit& t) { t.shownControl("txtSP").setText(u"5"); });
  runYes(RemoveTextAfter);
  EXPECT_EQ(valueAt(1, 1), text(u"ABC"));
  EXPECT_EQ(valueAt(2, 1), text(u"ABCDE"));
  EXPECT_EQ(valueAt(3, 1), text(u"ABCDE"));
}

TEST_F(CharacterRun, AnEmptiedStartBoxRunsWithOneAndShowsIt) {
  column({text(u"ABC")});
  user.clear("txtSP");
  runYes(RemoveTextAfter);
  EXPECT_EQ(module.prgBar->txtSP.text(), u"1");
  EXPECT_EQ(valueAt(1, 1), text(u"A"));
}

TEST_F(CharacterRun, AWholeSheetSelectionRecordsOnlyTheVisitedCells) {
  host->setCell({1, 1}, constant(text(u"a1")));
  host->setCell({500000, 3}, constant(text(u"b2")));
  host->setCell({1048576, 16384}, constant(text(u"c3")));
  host->select(u"A:XFD");
  runYes(RemoveNumbers);
  ASSERT_TRUE(module.undoSnapshot);
  EXPECT_EQ(module.undoSnapshot->size(), 3u);
  EXPECT_LT(module.undoSnapshot->entryBytes() + module.undoSnapshot->textBytes(), 64u * 1024u);
  EXPECT_EQ(valueAt(1048576, 16384), text(u"c"));
  EXPECT_EQ(module.prgBar->lblPer.caption(), u"100 %");
}

TEST_F(CharacterRun, EachCellCostsAboutOneHostCall) {
  std::vector<Value> values;
  for (int i = 0; i < 2000; ++i) values.push_back(text(label(u"x", static_cast<std::size_t>(i))));
  column(values);
  const uint64_t before = host->hostCallCount();
  runYes(RemoveNumbers);
  const uint64_t calls = host->hostCallCount() - before;
  EXPECT_LT(calls, 2000u * 11 / 10) << calls << " host calls for 2000 rewritten cells";
  EXPECT_EQ(valueAt(2000, 1), text(u"x"));
}

/// Counts caption changes of one control.
class CaptionCounter : public FormObserver {
 public:
  explicit CaptionCounter(std::string name) : name_(std::move(name)) {}
  void controlChanged(Control& control, ControlProperty property) override {
    if (control.name() == name_ && property == ControlProperty::Caption) ++count;
  }
  void formChanged(Form&) override {}
  int count = 0;

 private:
  std::string name_;
};

TEST_F(CharacterRun, ThePercentageLabelIsWrittenOnlyWhenItsTextChanges) {
  std::vector<Value> values(1000, text(u"a1"));
  column(values);
  CaptionCounter counter("lblPer");
  user.then([&](memory::HeadlessToolkit&, Form& form) {
    form.setObserver(&counter);
    form.control("CommandButton1").click();
  });
  RemoveNumbers(module);
  module.prgBar->setObserver(nullptr);
  EXPECT_EQ(module.prgBar->lblPer.caption(), u"100 %");
  EXPECT_EQ(counter.count, 101);  // "0 %" (after the designer's "0%"), then 1 % ... 100 %
}

TEST_F(CharacterRun, TheBindingsReachUndoThroughTheHost) {
  column({text(u"a1"), text(u"b2")});
  runYes(RemoveNumbers);
  EXPECT_EQ(valueAt(1, 1), text(u"a"));
  EXPECT_TRUE(host->hostUndo());
  EXPECT_EQ(valueAt(1, 1), text(u"a1"));
  EXPECT_EQ(valueAt(2, 1), text(u"b2"));
}

}  // namespace
}  // namespace qmv
