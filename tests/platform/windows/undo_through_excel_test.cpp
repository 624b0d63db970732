// Undo through the bridge over the strict test Excel: a cell Excel refuses to take back,
// the user's macros, calculation mode, windows and Find settings, the scratch workbook as
// the user's code sees it, the Excel calls per restored cell; and keep one inside a table.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "addin/addin_module.hpp"
#include "dialog/frm_prg_bar.hpp"
#include "engine/run.hpp"
#include "engine/undo.hpp"
#include "engine/value_run.hpp"
#include "host/text.hpp"
#include "memory_excel.hpp"
#include "platform/memory/headless_toolkit.hpp"
#include "platform/memory/recorded_shell.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/excel_host.hpp"
#include "ui/form_run_observer.hpp"

namespace qmv::windows {
namespace {

constexpr int32_t kManual = -4135;
constexpr int32_t kAutomatic = -4105;

// `prefix` followed by the digits of `n` ("a12").
std::u16string numbered(std::u16string prefix, int64_t n) {
  prefix += toUtf16(std::to_string(n));
  return prefix;
}

class UndoThroughExcelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(apartment_.result()));
    host_->addWorkbook();
    app_ = makeExcelApplication(excel_.application.get());
    ASSERT_TRUE(app_);
  }

  /// Runs a removal over the selection (a character run for RNUM, a value run otherwise),
  /// then `between`, then Undo; returns the messages the undo showed.
  std::vector<std::u16string> runAndUndo(std::optional<ValueMode> valueMode,
                                         const std::function<void()>& between = {}) {
    memory::QueuedUser user;
    memory::HeadlessToolkit toolkit{user};
    memory::RecordedShell shell;
    AddinModule module{toolkit, shell};
    module.hostApp = app_;
    {
      frmPrgBar dialog(module);
      if (valueMode) {
        dialog.askFor(*valueMode == ValueMode::AllRepeated ? Operation::RADP
                      : *valueMode == ValueMode::KeepFirst ? Operation::RDPV
                                                           : Operation::RUDP);
      }
      question_ = dialog.lblStatus.caption();
      FormRunObserver observer(module, dialog, dialog.ProgressBar1, dialog.lblPer);
      if (valueMode) {
        runValueRemoval(module, *valueMode, observer);
      } else {
        RunRequest request;
        request.operation = Operation::RNUM;
        runRemoval(module, request, observer);
      }
    }
    if (between) between();
    const std::size_t before = toolkit.messages().size();
    runTold_.clear();
    for (std::size_t i = 0; i < before; ++i) runTold_.push_back(toolkit.messages()[i].text);
    const uint64_t calls = fake::invokeCount() + fake::namesCount();
    UndoLastRun(module);
    undoCalls_ = fake::invokeCount() + fake::namesCount() - calls;
    std::vector<std::u16string> told;
    for (std::size_t i = before; i < toolkit.messages().size(); ++i) {
      told.push_back(toolkit.messages()[i].text);
    }
    return told;
  }

  ComApartment apartment_;
  std::shared_ptr<memory::MemoryApplication> host_ = std::make_shared<memory::MemoryApplication>();
  fake::MemoryExcel excel_{host_};
  ApplicationPtr app_;
  uint64_t undoCalls_ = 0;
  std::u16string question_;              ///< the dialog's question before the last run
  std::vector<std::u16string> runTold_;  ///< the messages of the last run
};

// "The FormulaArray property also has a character limit of 255": a longer array formula
// goes back through Formula2, evaluated as an array as it was. An Excel without Formula2
// could not take it back, so the question says so, the run leaves it and tells, and every
// other cell is cleared and comes back. A cell Excel refuses on undo is counted and named
// while every later cell still comes back.
TEST_F(UndoThroughExcelTest, ALongArrayFormulaGoesBackOrIsLeftAndToldBeforeTheRun) {
  // As the user entered them; the formula bar shows them in braces.
  std::u16string longFormula = u"=SUM(";
  while (longFormula.size() < 300) longFormula += u"B1:B2*C1:C2+";
  longFormula += u"0)";
  const std::u16string asked =
      u"Array formulas longer than 255 characters will be left as they "
      u"are: this Excel could not put them back.";
  struct Row {
    const char* name;
    std::u16string formula;
    bool formula2;
    bool left;   ///< asked about before the run, left by it and told
    bool array;  ///< an array formula of its own (FormulaArray) after undo
  };
  const Row rows[] = {
      {"an array formula over 255 characters", longFormula, true, false, false},
      {"the same without Formula2", longFormula, false, true, true},
      {"an array formula Excel takes", u"=SUM(B1:B2*C1:C2)", false, false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    excel_.formula2 = row.formula2;
    host_->closeWorkbooks();
    host_->addWorkbook();
    host_->setColumn({1, 1}, {Value(u"x"), Value(u"x"), Value(u"x"), Value(u"x"), Value(u"y")});
    host_->setCell({2, 1}, CellContent{Value(u"x"), row.formula});
    excel_.arrayCells = {{2, 1}};
    host_->select(u"A1:A5");
    const std::vector<std::u16string> told = runAndUndo(ValueMode::AllRepeated);
    EXPECT_EQ(told, std::vector<std::u16string>{});
    EXPECT_EQ(question_.ends_with(asked), row.left) << toUtf8(question_);
    EXPECT_EQ(runTold_, row.left ? std::vector<std::u16string>{keptArrayFormulasText(1, 255)}
                                 : std::vector<std::u16string>{});
    for (const int64_t r : {1, 3, 4}) EXPECT_EQ(host_->cell({r, 1}).value, Value(u"x")) << r;
    EXPECT_EQ(host_->cell({2, 1}).formula, row.formula);
    EXPECT_EQ(excel_.arrayCells.count({2, 1}), row.array ? 1u : 0u);
  }
  excel_.formula2 = true;
  EXPECT_EQ(unrestoredText(3, 1),
            u"3 cells could not be restored. 1 of them holds a formula that was not taken back.");
}

// Undo runs as a run does: the user's Worksheet_Change never runs, calculation is manual
// while cells are written and the user's mode comes back; consecutive cells of a column go
// back in one write, so undo costs a small part of an Excel call per restored cell.
TEST_F(UndoThroughExcelTest, UndoRunsInTheRunStateAndWritesInBlocks) {
  constexpr int64_t kRows = 2000;
  std::vector<Value> letters;
  std::vector<Value> ids;
  for (int64_t i = 0; i < kRows; ++i) {
    letters.emplace_back(numbered(u"a", i));
    // Unique but one pair in every 250 rows: "every unique value" clears long runs.
    ids.emplace_back(numbered(u"id", i % 250 == 249 ? i - 1 : i));
  }
  struct Row {
    const char* name;
    std::optional<ValueMode> valueMode;
    const std::vector<Value>* column;
    int32_t userCalculation;
    double maxCallsPerCell;
  };
  const Row rows[] = {
      {"a character run, automatic calculation", std::nullopt, &letters, kAutomatic, 0.1},
      {"a character run, manual calculation", std::nullopt, &letters, kManual, 0.1},
      {"a value run", ValueMode::AllUnique, &ids, kAutomatic, 0.1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_->closeWorkbooks();
    host_->addWorkbook();
    host_->setColumn({1, 1}, *row.column);
    host_->select(numbered(u"A1:A", kRows));
    host_->setCalculation(row.userCalculation);
    excel_.enableEvents = true;
    int64_t macroRunsAtUndo = -1;
    std::size_t restored = 0;
    runAndUndo(row.valueMode, [&] {
      for (int64_t r = 1; r <= kRows; ++r) {
        restored += host_->cell({r, 1}).value != (*row.column)[static_cast<std::size_t>(r - 1)];
      }
      macroRunsAtUndo = excel_.userMacroRuns;
    });
    EXPECT_EQ(excel_.userMacroRuns, macroRunsAtUndo) << "the user's macro ran during undo";
    EXPECT_EQ(host_->columnValues({1, 1}, kRows), *row.column);
    EXPECT_EQ(host_->runSettings().calculation, row.userCalculation);
    EXPECT_TRUE(excel_.enableEvents);
    ASSERT_GT(restored, 0u);
    const double perCell = static_cast<double>(undoCalls_) / static_cast<double>(restored);
    RecordProperty(std::string("undo_calls_per_cell_") + row.name, std::to_string(perCell));
    EXPECT_LE(perCell, row.maxCallsPerCell) << undoCalls_ << " calls for " << restored << " cells";
  }
}

// A formula written while calculation is manual waits for a calculation: undo calculates
// what it wrote, so the formula shows its value in either mode.
TEST_F(UndoThroughExcelTest, ARestoredFormulaShowsItsValue) {
  for (const int32_t mode : {kAutomatic, kManual}) {
    SCOPED_TRACE(mode == kManual ? "manual calculation" : "automatic calculation");
    host_->closeWorkbooks();
    host_->addWorkbook();
    excel_.formulaResults = {{u"=1+1", Value(2.0)}};
    host_->setColumn({1, 1}, {Value(u"x"), Value(u"x"), Value(u"y")});
    host_->setCell({2, 1}, CellContent{Value(2.0), u"=1+1"});
    host_->select(u"A1:A3");
    host_->setCalculation(mode);
    runAndUndo(ValueMode::AllUnique);
    EXPECT_EQ(host_->cell({2, 1}), (CellContent{Value(2.0), u"=1+1"}));
    EXPECT_EQ(host_->cell({3, 1}).value, Value(u"y"));
    EXPECT_EQ(host_->runSettings().calculation, mode);
  }
  excel_.formulaResults.clear();
}

// Undo leaves the user in the window they work in (Workbook.Activate would switch to the
// workbook's first window), and the Find dialog as they set it.
TEST_F(UndoThroughExcelTest, UndoLeavesTheUsersWindowAndFindSettings) {
  const fake::MemoryExcel::FindSettings users{-4163, 2, 2, 0};
  // Every other row of 120, an address longer than Excel gives whole: the bridge can place
  // no index on it, and searches the cells itself.
  std::u16string everyOther;
  for (int64_t r = 1; r <= 120; r += 2) {
    if (!everyOther.empty()) everyOther += u',';
    everyOther += numbered(u"A", r);
  }
  std::vector<Value> column;
  for (int64_t r = 1; r <= 120; ++r) {
    column.emplace_back(r == 1 || r == 3 ? u"x1" : r == 5 || r == 7 ? u"y" : numbered(u"v", r));
  }
  struct Row {
    const char* name;
    std::optional<ValueMode> valueMode;
    std::u16string selection;
  };
  const Row rows[] = {{"a character run", std::nullopt, u"A1:A120"},
                      {"every repeated value over 60 areas", ValueMode::AllRepeated, everyOther}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_->closeWorkbooks();
    host_->addWorkbook();
    host_->setColumn({1, 1}, column);
    host_->select(row.selection);
    excel_.activeWindow = 2;
    excel_.findSettings = users;
    std::size_t changed = 0;
    runAndUndo(row.valueMode, [&] {
      for (int64_t r = 1; r <= 120; ++r) {
        changed += host_->cell({r, 1}).value != column[static_cast<std::size_t>(r - 1)];
      }
    });
    EXPECT_GE(changed, 4u);
    EXPECT_EQ(excel_.activeWindow, 2);
    EXPECT_EQ(excel_.findSettings, users);
    EXPECT_EQ(host_->columnValues({1, 1}, 120), column);
  }
}

// The value runs' search leaves the Find dialog as the user set it, wherever it searches.
TEST_F(UndoThroughExcelTest, SearchingLeavesTheUsersFindSettings) {
  const fake::MemoryExcel::FindSettings users{-4163, 2, 2, 0};
  host_->setColumn({1, 1}, {Value(u"x"), Value(u"y"), Value(u"Y")});
  host_->setColumn({1, 3}, {Value(u"y"), Value(2.5)});
  struct Row {
    const char16_t* range;
    const char16_t* what;
    CellRef found;
  };
  const Row rows[] = {{u"A1:A3", u"y", {2, 1}}, {u"A1:A3,C1:C2", u"2.5", {2, 3}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(toUtf8(row.range));
    excel_.findSettings = users;
    const RangePtr range = app_->range(row.range);
    const RangePtr found = range->find(row.what, *range->cell(1, 1));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->topLeft(), row.found);
    EXPECT_EQ(excel_.findSettings, users);
  }
}

// What the user's macro sees while a record keeps cells aside: its own workbooks only, and
// no window of ours.
TEST_F(UndoThroughExcelTest, TheUsersCodeSeesNoWorkbookOfOurs) {
  host_->setColumn({1, 1}, {Value(u"x"), Value(u"x"), Value(u"y")});
  host_->select(u"A1:A3");
  const auto usersCount = [&] {
    return asDouble(get(asObject(get(excel_.application.get(), L"Workbooks")).get(), L"Count"));
  };
  const double before = usersCount();
  runAndUndo(ValueMode::AllRepeated, [&] {
    EXPECT_EQ(usersCount(), before);
    ASSERT_EQ(excel_.addinWorkbooks.size(), 1u) << "the copies are kept in an add-in workbook";
    EXPECT_EQ(excel_.hiddenWorkbooks, excel_.addinWorkbooks) << "whose window is not visible";
    EXPECT_EQ(host_->activeWorkbookName(), u"Book1");
  });
  EXPECT_EQ(usersCount(), before);
  EXPECT_EQ(host_->columnValues({1, 1}, 3),
            (std::vector<Value>{Value(u"x"), Value(u"x"), Value(u"y")}));
}

// A table's filter is its own (ListObject.AutoFilter): keep one sets it again after the
// ShowAllData that ends its own filter, as it sets the sheet's AutoFilter again.
TEST_F(UndoThroughExcelTest, KeepOneInsideATableKeepsTheTablesFilter) {
  const AreaRef table{{1, 1}, {6, 2}};
  const ColumnFilter byB{2, 0, FilterCriterion{{Value(u"keep")}, false}, std::nullopt};
  host_->setColumn(
      {1, 1}, {Value(u"name"), Value(u"x"), Value(u"y"), Value(u"x"), Value(u"z"), Value(u"x")});
  host_->setColumn({1, 2}, {Value(u"state"), Value(u"keep"), Value(u"keep"), Value(u"drop"),
                            Value(u"keep"), Value(u"keep")});
  excel_.tables = {{table, AutoFilterState{table, {byB}, true}}};
  host_->select(u"A2:A6");
  const std::vector<std::u16string> told = runAndUndo(ValueMode::KeepFirst, [&] {
    EXPECT_EQ(host_->columnValues({2, 1}, 5),
              (std::vector<Value>{Value(u"x"), Value(u"y"), Value{}, Value(u"z"), Value{}}));
    EXPECT_EQ(excel_.tables.front().filter, (AutoFilterState{table, {byB}, true}));
  });
  EXPECT_TRUE(told.empty());
  EXPECT_EQ(excel_.tables.front().filter, (AutoFilterState{table, {byB}, true}));
  excel_.tables.clear();
}

// A benchmark, not a test: Excel calls per changed cell of a run and of its undo, counted.
// Run it with --gtest_also_run_disabled_tests --gtest_filter=*Benchmark*.
TEST_F(UndoThroughExcelTest, DISABLED_BenchmarkExcelCallsPerChangedCell) {
  constexpr int64_t kRows = 100000;
  struct Row {
    const char* name;
    std::optional<ValueMode> valueMode;
    int64_t pairEvery;  ///< a value repeats once in every so many rows
  };
  const Row rows[] = {{"RNUM", std::nullopt, 0},
                      {"every unique value, few repeats", ValueMode::AllUnique, 1000},
                      {"every repeated value, one in ten", ValueMode::AllRepeated, 10}};
  for (const Row& row : rows) {
    std::vector<Value> column;
    for (int64_t i = 0; i < kRows; ++i) {
      column.emplace_back(
          row.pairEvery == 0 ? numbered(u"a", i)
                             : numbered(u"id", i % row.pairEvery == row.pairEvery - 1 ? i - 1 : i));
    }
    host_->closeWorkbooks();
    host_->addWorkbook();
    host_->setColumn({1, 1}, column);
    host_->select(numbered(u"A1:A", kRows));
    uint64_t runCalls = 0;
    std::size_t changed = 0;
    const uint64_t start = fake::invokeCount() + fake::namesCount();
    runAndUndo(row.valueMode, [&] {
      runCalls = fake::invokeCount() + fake::namesCount() - start;
      for (int64_t r = 1; r <= kRows; ++r) {
        changed += host_->cell({r, 1}).value != column[static_cast<std::size_t>(r - 1)];
      }
    });
    std::printf(
        "%s over %lld rows: %zu cells changed; run %llu Excel calls (%.4f per changed cell), "
        "undo %llu (%.4f per restored cell)\n",
        row.name, static_cast<long long>(kRows), changed, static_cast<unsigned long long>(runCalls),
        static_cast<double>(runCalls) / static_cast<double>(changed),
        static_cast<unsigned long long>(undoCalls_),
        static_cast<double>(undoCalls_) / static_cast<double>(changed));
    EXPECT_EQ(host_->columnValues({1, 1}, kRows), column);
  }
}

}  // namespace
}  // namespace qmv::windows
