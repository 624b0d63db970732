// The run API heard through a recording observer: the order of what a run reports, its
// progress, one yield per step, the stop test after each step, the inputs asked per cell,
// and the hand-over to the value removal.
#include "engine/run.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/undo.hpp"
#include "engine/value_run.hpp"
#include "platform/memory/memory_application.hpp"
#include "support/recording_observer.hpp"

namespace qmv {
namespace {

using testing::RecordingObserver;
using testing::RecordingSession;

Value text(std::u16string s) { return Value{std::move(s)}; }
CellContent constant(Value v) { return CellContent{std::move(v), {}}; }

class RunApi : public ::testing::Test {
 protected:
  RunApi() {
    session.hostApp = host;
    host->addWorkbook();
  }
  RunRequest request(Operation operation) {
    RunRequest r;
    r.operation = operation;
    return r;
  }
  Value valueAt(int64_t row, int64_t column) const { return host->cell({row, column}).value; }

  std::shared_ptr<memory::MemoryApplication> host = std::make_shared<memory::MemoryApplication>();
  RecordingSession session;
  RecordingObserver observer;
};

TEST_F(RunApi, ACharacterRunReportsInOrder) {
  host->setColumn({1, 1}, {text(u"a1"), text(u"b2")});
  host->select(u"A1:A2");
  runRemoval(session, request(Operation::RNUM), observer);
  const std::vector<std::string> expected = {
      "started", "max 2", "yield", "progress 1", "stop?", "yield", "progress 2", "stop?", "finish"};
  EXPECT_EQ(observer.events, expected);
  EXPECT_EQ(valueAt(1, 1), text(u"a"));
  EXPECT_EQ(valueAt(2, 1), text(u"b"));
}

TEST_F(RunApi, FormulasCountTowardsTheMaximumButAreNotVisited) {
  host->setCell({1, 1}, constant(text(u"a1")));
  host->setCell({2, 1}, CellContent{Value{2.0}, u"=1+1"});
  host->setCell({3, 1}, constant(text(u"b2")));
  host->select(u"A1:A3");
  runRemoval(session, request(Operation::RNUM), observer);
  EXPECT_EQ(observer.maximums, (std::vector<float>{3}));
  EXPECT_EQ(observer.steps, (std::vector<float>{1, 2}));
  EXPECT_EQ(observer.yields, 2);
  EXPECT_EQ(host->cell({2, 1}).formula, u"=1+1");
}

TEST_F(RunApi, AStopEndsTheRunAfterTheStepInProgress) {
  std::vector<Value> column;
  for (int i = 0; i < 10; ++i) {
    std::u16string name = u"x";
    name.push_back(static_cast<char16_t>(u'0' + i));
    column.push_back(text(name));
  }
  host->setColumn({1, 1}, column);
  host->select(u"A1:A10");
  observer.stopAfterStep = 4;
  runRemoval(session, request(Operation::RNUM), observer);
  EXPECT_EQ(observer.steps.size(), 4u);
  EXPECT_EQ(observer.count("finish"), 1);
  for (int64_t r = 1; r <= 10; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(valueAt(r, 1), r <= 4 ? text(u"x") : column[static_cast<std::size_t>(r - 1)]);
  }
  ASSERT_TRUE(session.undoSnapshot);
  EXPECT_EQ(session.undoSnapshot->size(), 4u);
}

TEST_F(RunApi, AStopInsideABandLeavesOnlyTheVisitedCellsToUndo) {
  // A1:B3 is visited row by row; the stop comes after A2, the third cell.
  const std::vector<std::u16string> before = {u"a1", u"b1", u"c2", u"d2", u"e3", u"f3"};
  for (std::size_t i = 0; i < before.size(); ++i) {
    host->setCell({static_cast<int64_t>(i / 2 + 1), static_cast<int64_t>(i % 2 + 1)},
                  constant(text(before[i])));
  }
  host->select(u"A1:B3");
  observer.stopAfterStep = 3;
  runRemoval(session, request(Operation::RNUM), observer);
  ASSERT_TRUE(session.undoSnapshot);
  EXPECT_EQ(session.undoSnapshot->size(), 3U);
  EXPECT_EQ(valueAt(2, 1), text(u"c"));
  EXPECT_EQ(valueAt(2, 2), text(u"d2"));
  // A cell the run never reached, changed afterwards, is none of undo's business.
  host->setCell({3, 2}, constant(text(u"later")));
  UndoLastRun(session);
  for (std::size_t i = 0; i + 1 < before.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(valueAt(static_cast<int64_t>(i / 2 + 1), static_cast<int64_t>(i % 2 + 1)),
              text(before[i]));
  }
  EXPECT_EQ(valueAt(3, 2), text(u"later"));
  EXPECT_TRUE(session.told.empty());
}

TEST_F(RunApi, RefusalsAndAnEmptySelectionAreMessages) {
  struct Row {
    const char* name;
    bool workbook;
    Operation operation;
    std::vector<std::string> events;
  };
  const Row rows[] = {
      {"no workbook, character",
       false,
       Operation::RNUM,
       {"message Please add a New Workbook!", "finish"}},
      {"no workbook, value",
       false,
       Operation::RDPV,
       {"message Please add a New Workbook!", "finish"}},
      {"empty selection, character",
       true,
       Operation::RALP,
       {"started", "message Selection is Empty!", "finish"}},
      {"empty selection, value",
       true,
       Operation::RUDP,
       {"started", "message Selection is Empty!", "finish"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto app = std::make_shared<memory::MemoryApplication>();
    if (row.workbook) {
      app->addWorkbook();
      app->select(u"B2:B3");
    }
    RecordingSession fresh;
    fresh.hostApp = app;
    RecordingObserver heard;
    runRemoval(fresh, request(row.operation), heard);
    EXPECT_EQ(heard.events, row.events);
    EXPECT_TRUE(fresh.told.empty()) << "run messages go to the observer";
  }
}

TEST_F(RunApi, TheInputsAreAskedOncePerVisitedCell) {
  host->setColumn({1, 1}, {text(u"abcdef"), text(u"abcdef"), text(u"abcdef")});
  host->select(u"A1:A3");
  std::vector<std::u16string> asked;
  RunRequest r = request(Operation::RASP);
  // The start position grows from cell to cell, as a box edited during the run would.
  r.inputs = [&](std::u16string_view cellText) -> std::optional<CellRequest> {
    asked.emplace_back(cellText);
    CellRequest cell{Operation::RASP, {}};
    cell.inputs.startPosition = static_cast<int16_t>(asked.size() + 1);
    return cell;
  };
  runRemoval(session, r, observer);
  EXPECT_EQ(asked.size(), 3u);
  EXPECT_EQ(valueAt(1, 1), text(u"ab"));
  EXPECT_EQ(valueAt(2, 1), text(u"abc"));
  EXPECT_EQ(valueAt(3, 1), text(u"abcd"));
}

// The inputs of a cell are read after the step of the cell before: a box changed during a
// yield applies from the next cell on, whatever the run computes ahead.
TEST_F(RunApi, TheInputsOfACellAreReadAfterTheYieldBeforeIt) {
  host->setColumn({1, 1}, {text(u"abcdef"), text(u"abcdef"), text(u"abcdef")});
  host->select(u"A1:A3");
  int16_t box = 2;
  observer.onYield = [&](int64_t yields) { box = static_cast<int16_t>(yields + 2); };
  RunRequest r = request(Operation::RASP);
  r.inputs = [&](std::u16string_view) -> std::optional<CellRequest> {
    observer.events.push_back("inputs");
    CellRequest cell{Operation::RASP, {}};
    cell.inputs.startPosition = box;
    return cell;
  };
  runRemoval(session, r, observer);
  EXPECT_EQ(valueAt(1, 1), text(u"ab"));
  EXPECT_EQ(valueAt(2, 1), text(u"abc"));
  EXPECT_EQ(valueAt(3, 1), text(u"abcd"));
  const std::vector<std::string> expected = {
      "started",    "max 3", "inputs", "yield", "progress 1", "stop?", "inputs", "yield",
      "progress 2", "stop?", "inputs", "yield", "progress 3", "stop?", "finish"};
  EXPECT_EQ(observer.events, expected);
}

// A cell the pattern gives up on stays as it was, and the run says how many there were
// before it finishes; the other cells change as usual.
TEST_F(RunApi, CellsThePatternGivesUpOnAreToldNotHidden) {
  std::u16string runaway(40, u'a');
  runaway.push_back(u'!');
  const std::u16string pattern = u"(a+)+$";
  struct Row {
    const char* name;
    std::vector<Value> column;
    std::vector<std::string> messages;
  } rows[] = {
      {"one",
       {text(runaway), text(u"aa")},
       {"1 cell was left as it was: the pattern needed too many steps."}},
      {"two",
       {text(runaway), text(u"b"), text(runaway)},
       {"2 cells were left as they were: the pattern needed too many steps."}},
      {"none", {text(u"aa")}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingObserver heard;
    host->setColumn({1, 1}, row.column);
    std::u16string area = u"A1:A";
    area.push_back(static_cast<char16_t>(u'0' + row.column.size()));
    host->select(area);
    RunRequest r = request(Operation::RPAT);
    r.inputs = [&](std::u16string_view) -> std::optional<CellRequest> {
      CellRequest cell{Operation::RPAT, {}};
      cell.inputs.pattern = pattern;
      cell.inputs.matchCase = true;
      return cell;
    };
    runRemoval(session, r, heard);
    std::vector<std::string> messages;
    for (const std::u16string& m : heard.messages) messages.emplace_back(m.begin(), m.end());
    EXPECT_EQ(messages, row.messages);
    ASSERT_GE(heard.events.size(), 2u);
    EXPECT_EQ(heard.events.back(), "finish");
    for (std::size_t i = 0; i < row.column.size(); ++i) {
      const Value now = valueAt(static_cast<int64_t>(i) + 1, 1);
      // The runaway text stays whole; "aa" is matched whole and goes.
      if (row.column[i] == text(runaway)) {
        EXPECT_EQ(now, text(runaway));
      }
      if (row.column[i] == text(u"aa")) {
        EXPECT_NE(now, text(u"aa"));
      }
    }
  }
}

TEST_F(RunApi, NoInputsLeaveTheCellAsItIsButItIsStillAStep) {
  host->setColumn({1, 1}, {text(u"a1"), text(u"b2")});
  host->select(u"A1:A2");
  RunRequest r = request(Operation::RNUM);
  r.inputs = [](std::u16string_view cellText) -> std::optional<CellRequest> {
    if (cellText == u"a1") return std::nullopt;
    return CellRequest{Operation::RNUM, {}};
  };
  runRemoval(session, r, observer);
  EXPECT_EQ(valueAt(1, 1), text(u"a1"));
  EXPECT_EQ(valueAt(2, 1), text(u"b"));
  EXPECT_EQ(observer.steps, (std::vector<float>{1, 2}));
  ASSERT_TRUE(session.undoSnapshot);
  EXPECT_EQ(session.undoSnapshot->size(), 2u) << "both cells are recorded";
}

TEST_F(RunApi, AValueRunNeverReportsAStepAboveItsMaximum) {
  const struct Row {
    const char* name;
    Operation operation;
    float maximum;
  } rows[] = {
      {"RDPV", Operation::RDPV, 4},
      {"RADP runs two passes", Operation::RADP, 8},
      {"RUDP", Operation::RUDP, 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host->setColumn({1, 1}, {text(u"a"), text(u"b"), text(u"a"), text(u"c")});
    host->select(u"A1:A4");
    RecordingObserver heard;
    runRemoval(session, request(row.operation), heard);
    ASSERT_FALSE(heard.maximums.empty());
    EXPECT_EQ(heard.maximums.back(), row.maximum);
    ASSERT_FALSE(heard.steps.empty());
    for (float step : heard.steps) EXPECT_LE(step, row.maximum);
    EXPECT_EQ(heard.yields, static_cast<int64_t>(heard.steps.size())) << "one yield per step";
    EXPECT_EQ(heard.count("finish"), 1);
  }
}

TEST_F(RunApi, AValueRunRefusesMoreThanOneColumn) {
  host->setCell({1, 1}, constant(text(u"a")));
  host->select(u"A1:B2");
  runRemoval(session, request(Operation::RADP), observer);
  const std::vector<std::string> expected = {"message Please Select Single Column!", "finish"};
  EXPECT_EQ(observer.events, expected);
}

TEST_F(RunApi, BeforeCellsHandsTheRunToTheValueRemoval) {
  host->setColumn({1, 1}, {text(u"a"), text(u"b"), text(u"a")});
  host->select(u"A1:A3");
  RunRequest r = request(Operation::RNUM);
  int asked = 0;
  r.beforeCells = [&]() -> std::optional<ValueMode> {
    ++asked;
    EXPECT_EQ(observer.maximums, (std::vector<float>{3})) << "asked after the maximum";
    return ValueMode::AllUnique;
  };
  runRemoval(session, r, observer);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(valueAt(1, 1), text(u"a"));
  EXPECT_EQ(valueAt(2, 1), Value{}) << "the value that occurs once is cleared";
  EXPECT_EQ(valueAt(3, 1), text(u"a"));
  ASSERT_TRUE(session.undoSnapshot) << "the value path records what it cleared";
  EXPECT_EQ(session.undoSnapshot->size(), 1u);
  EXPECT_EQ(observer.count("started"), 1);
  EXPECT_GE(observer.count("finish"), 1);
}

TEST_F(RunApi, TheHostIsRestoredAfterTheRun) {
  host->setColumn({1, 1}, {text(u"a1")});
  host->select(u"A1");
  runRemoval(session, request(Operation::RNUM), observer);
  EXPECT_TRUE(host->runSettings().screenUpdating);
  EXPECT_EQ(host->runSettings().statusBar, u"");
  EXPECT_EQ(host->runSettings().calculation, xl::kCalculationAutomatic);
  EXPECT_FALSE(host->keyBinding(u"^z")) << "no bindings without a registered undo macro";
}

TEST_F(RunApi, TheRequestsRulesReachEveryCellWhateverItsInputsSay) {
  struct Row {
    const char* name;
    TextRules rules;
    std::u16string expected;
  };
  const Row rows[] = {
      {"classic", TextRules::Classic, u"\u00A0a\u00A0b\u2003"},
      {"unicode", TextRules::Unicode, u"a\u00A0b"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host->setColumn({1, 1}, {text(u"\u00A0a\u00A0b\u2003")});
    host->select(u"A1");
    RunRequest r = request(Operation::RLTS);
    r.rules = row.rules;
    // The inputs ask for the other rules: the request decides.
    r.inputs = [&row](std::u16string_view) -> std::optional<CellRequest> {
      CellRequest cell{Operation::RLTS, {}};
      cell.inputs.rules = row.rules == TextRules::Unicode ? TextRules::Classic : TextRules::Unicode;
      return cell;
    };
    runRemoval(session, r, observer);
    EXPECT_EQ(valueAt(1, 1), text(row.expected));
  }
}

TEST_F(RunApi, TheStoredSettingIsReadThroughTheHost) {
  struct Row {
    const char* name;
    bool store;
    TextRules stored;
    TextRules expected;
  };
  const Row rows[] = {
      {"never stored", false, TextRules::Classic, TextRules::Classic},
      {"stored on", true, TextRules::Unicode, TextRules::Unicode},
      {"stored off", true, TextRules::Classic, TextRules::Classic},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto fresh = std::make_shared<memory::MemoryApplication>();
    if (row.store) {
      EXPECT_TRUE(trySetTextRulesSetting(*fresh, row.stored));
    }
    session.hostApp = fresh;
    EXPECT_EQ(sessionTextRules(session), row.expected);
  }
  session.hostApp = nullptr;
  EXPECT_EQ(sessionTextRules(session), TextRules::Classic);
}

TEST_F(RunApi, AFailingHostGivesClassicRulesAndAFailedStore) {
  host->armFault(1, host_errors::kRefused);
  EXPECT_EQ(tryTextRulesSetting(*host), TextRules::Classic);
  host->armFault(1, host_errors::kRefused);
  EXPECT_FALSE(trySetTextRulesSetting(*host, TextRules::Unicode));
  host->armFault(1, host_errors::kRefused);
  EXPECT_THROW(setTextRulesSetting(*host, TextRules::Unicode), HostError);
  EXPECT_EQ(textRulesSetting(*host), TextRules::Classic);
}

}  // namespace
}  // namespace qmv
