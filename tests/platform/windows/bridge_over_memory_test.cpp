// The Excel bridge over the in-memory workbook behind the test automation object: the
// number of Excel calls a character run makes, the advanced filter's header row, and the
// limits of Excel's Address and Find that the bridge works around.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "addin/addin_module.hpp"
#include "dialog/frm_prg_bar.hpp"
#include "engine/operations.hpp"
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

class BridgeOverMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(apartment_.result()));
    host_->addWorkbook();
    app_ = makeExcelApplication(excel_.application.get());
    ASSERT_TRUE(app_);
  }

  /// Runs `run(module, dialog)` with the add-in on the bridge, as the confirmed dialog does.
  template <class Run>
  void withDialog(Run run) {
    memory::QueuedUser user;
    memory::HeadlessToolkit toolkit{user};
    memory::RecordedShell shell;
    AddinModule module{toolkit, shell};
    module.hostApp = app_;
    frmPrgBar dialog(module);
    run(module, dialog);
  }

  /// Removes digits from the selection through the bridge.
  void runDigits() { runCharacters(Operation::RNUM); }

  /// Runs a character removal over the selection through the bridge.
  void runCharacters(Operation operation) {
    withDialog([operation](AddinModule& module, frmPrgBar& dialog) {
      RunRequest request;
      request.operation = operation;
      FormRunObserver observer(module, dialog, dialog.ProgressBar1, dialog.lblPer);
      runRemoval(module, request, observer);
    });
  }

  /// Runs a value-level removal over the selection through the bridge.
  void runDuplicates(bool keepOne, bool allDuplicates) {
    withDialog([&](AddinModule& module, frmPrgBar& dialog) {
      const ValueMode mode = keepOne         ? ValueMode::KeepFirst
                             : allDuplicates ? ValueMode::AllRepeated
                                             : ValueMode::AllUnique;
      FormRunObserver observer(module, dialog, dialog.ProgressBar1, dialog.lblPer);
      runValueRemoval(module, mode, observer);
    });
  }

  ComApartment apartment_;
  std::shared_ptr<memory::MemoryApplication> host_ = std::make_shared<memory::MemoryApplication>();
  fake::MemoryExcel excel_{host_};
  ApplicationPtr app_;
};

TEST_F(BridgeOverMemoryTest, ACharacterRunWritesAColumnInAFewExcelCalls) {
  // Every cell changes; a run of consecutive cells goes to Excel as one array, and the
  // DISPIDs of Range are asked once: GetIDsOfNames counts as a call.
  constexpr int64_t kCells = 100000;
  std::vector<Value> column;
  for (int64_t i = 0; i < kCells; ++i) {
    std::u16string text = toUtf16(std::to_string(i));
    text.insert(text.begin(), u'a');
    column.emplace_back(std::move(text));
  }
  host_->setColumn({1, 1}, column);
  host_->select(u"A1:A100000");

  const uint64_t before = fake::invokeCount() + fake::namesCount();
  runDigits();
  const uint64_t calls = fake::invokeCount() + fake::namesCount() - before;
  RecordProperty("excel_calls", std::to_string(calls));

  for (const int64_t row : {int64_t{1}, int64_t{65536}, int64_t{65537}, kCells}) {
    SCOPED_TRACE(row);
    EXPECT_EQ(host_->cell({row, 1}).value, Value(u"a"));
  }
  EXPECT_LE(static_cast<double>(calls), 0.05 * kCells) << calls << " Excel calls";
}

TEST_F(BridgeOverMemoryTest, ResultsKeepATextColumnTextAndGetTheFormatTypingGives) {
  const HostLocale german{u',', u'.', DateOrder::DayMonthYear, u'.'};
  const HostLocale french{u',', u'/', DateOrder::DayMonthYear, u'\u202F'};
  const HostLocale euro{u',', u'.', DateOrder::DayMonthYear, u'.', u"\u20AC", false};
  struct Row {
    const char* name;
    HostLocale locale;
    Operation operation;
    std::u16string format;
    std::u16string before;
    Value after;
    std::u16string formatAfter;
  };
  const Row rows[] = {
      {"phone digits in a Text column", HostLocale{}, Operation::RNDG, u"@", u"(0161) 496-0000",
       Value(u"01614960000"), u"@"},
      {"phone digits in a General column", HostLocale{}, Operation::RNDG, u"General",
       u"(0161) 496-0000", Value(1614960000.0), u"General"},
      {"a German date in a Text column", german, Operation::RALP, u"@", u"am 03.12.2024",
       Value(u" 03.12.2024"), u"@"},
      {"a German decimal in a Text column", german, Operation::RALP, u"@", u"x3,5", Value(u"3,5"),
       u"@"},
      {"a German percent", german, Operation::RALP, u"General", u"x12,5%", Value(0.125), u"0.00%"},
      {"a French 1.234 stays text", french, Operation::RALP, u"General", u"x1.234", Value(u"1.234"),
       u"General"},
      {"German euros", euro, Operation::RALP, u"General", u"x12,50 \u20AC", Value(12.5),
       u"#,##0.00 \"\u20AC\""},
      {"dollars", HostLocale{}, Operation::RALP, u"General", u"x$5", Value(5.0), u"\"$\"#,##0"},
      {"a leading apostrophe stays", HostLocale{}, Operation::RALP, u"General", u"x'007",
       Value(u"'007"), u"General"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_->setLocale(row.locale);
    for (int64_t r = 1; r <= 2; ++r) {
      host_->setFormats({r, 1}, CellFormats(row.format));
      host_->setCell({r, 1}, CellContent{Value(row.before), u""});
    }
    host_->select(u"A1:A2");
    runCharacters(row.operation);
    for (int64_t r = 1; r <= 2; ++r) {
      SCOPED_TRACE(r);
      EXPECT_EQ(host_->cell({r, 1}).value, row.after);
      EXPECT_EQ(host_->formats({r, 1}).numberFormat, row.formatAfter);
    }
  }
}

TEST_F(BridgeOverMemoryTest, AStopWritesTheFinishedCellsAndNoMore) {
  struct Row {
    const char* name;
    int stopAfter;  // the cell whose step sees the stop
  };
  const Row rows[] = {{"the first cell", 1}, {"inside the column", 37}, {"the last cell", 50}};
  const auto label = [](int i) {
    std::u16string text = toUtf16(std::to_string(i));
    text.insert(text.begin(), u'x');
    return text;
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<Value> column;
    for (int i = 0; i < 50; ++i) column.emplace_back(label(i));
    host_->setColumn({1, 1}, column);
    host_->select(u"A1:A50");
    withDialog([&](AddinModule& module, frmPrgBar& dialog) {
      // Stop is pressed while the step of cell `stopAfter` is in progress.
      struct Stopping final : FormRunObserver {
        using FormRunObserver::FormRunObserver;
        void progress(float step) override {
          FormRunObserver::progress(step);
          steps = static_cast<int>(step);
        }
        bool stopRequested() override { return steps >= stopAfter; }
        int steps = 0;
        int stopAfter = 0;
      } observer(module, dialog, dialog.ProgressBar1, dialog.lblPer);
      observer.stopAfter = row.stopAfter;
      RunRequest request;
      request.operation = Operation::RNUM;
      runRemoval(module, request, observer);
    });
    for (int i = 0; i < 50; ++i) {
      SCOPED_TRACE(i + 1);
      const bool finished = i < row.stopAfter;
      EXPECT_EQ(host_->cell({i + 1, 1}).value, finished ? Value(u"x") : Value(label(i)));
    }
  }
}

TEST_F(BridgeOverMemoryTest, ARunGivesTheUserBackTheirModesAndLeavesItsUndoEntryLast) {
  struct Row {
    const char* name;
    int32_t calculation;
    bool events;
  };
  const Row rows[] = {{"automatic, events on", xl::kCalculationAutomatic, true},
                      {"manual, events on", xl::kCalculationManual, true},
                      {"semi-automatic, events off", 2, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_->setColumn({1, 1}, {Value(u"a1"), Value(u"b2"), Value(u"c3")});
    host_->select(u"A1:A3");
    host_->setCalculation(row.calculation);
    excel_.enableEvents = row.events;
    excel_.userMacroRuns = 0;
    withDialog([](AddinModule& module, frmPrgBar& dialog) {
      module.undoMacroRegistered = true;  // as after a connection that registered it
      RunRequest request;
      request.operation = Operation::RNUM;
      FormRunObserver observer(module, dialog, dialog.ProgressBar1, dialog.lblPer);
      runRemoval(module, request, observer);
      module.cellWatch.reset();
    });
    EXPECT_EQ(host_->cell({3, 1}).value, Value(u"c"));
    EXPECT_EQ(host_->runSettings().calculation, row.calculation);
    EXPECT_EQ(excel_.enableEvents, row.events);
    // The user's Worksheet_Change did not run once per rewritten cell.
    EXPECT_EQ(excel_.userMacroRuns, 0);
    EXPECT_TRUE(host_->undoBinding().has_value());
  }
}

TEST_F(BridgeOverMemoryTest, TheAdvancedFilterComparesTheFirstRowToo) {
  struct Row {
    const char* name;
    const char16_t* list;  // where the values go and what is filtered
    std::vector<Value> values;
  };
  const Row rows[] = {
      {"first value repeats",
       u"A1:A5",
       {Value(u"x"), Value(u"y"), Value(u"X"), Value(u"x"), Value(u"z")}},
      {"first value alone", u"A1:A4", {Value(u"x"), Value(u"y"), Value(u"y"), Value(u"z")}},
      {"below the first row", u"A3:A6", {Value(u"p"), Value(u"q"), Value(u"p"), Value(12.0)}},
      {"numbers and their text", u"A1:A3", {Value(12.0), Value(u"12"), Value(u"a")}},
      {"an error value", u"A1:A3", {Value(CellError::NA), Value(CellError::NA), Value(u"b")}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // The in-memory host compares every row of the range: that is what the bridge must give.
    auto expected = std::make_shared<memory::MemoryApplication>();
    expected->addWorkbook();
    const auto area = parseReference(row.list)->front();
    expected->setColumn(area.first, row.values);
    expected->range(row.list)->advancedFilterUniqueInPlace();

    host_->closeWorkbooks();
    host_->addWorkbook();
    host_->setColumn(area.first, row.values);
    excel_.filteredLists.clear();
    app_->range(row.list)->advancedFilterUniqueInPlace();
    ASSERT_EQ(excel_.filteredLists.size(), 1u);
    EXPECT_EQ(excel_.filteredLists[0], formatAddress(area));
    for (int64_t r = 1; r <= area.last.row; ++r) {
      SCOPED_TRACE(r);
      EXPECT_EQ(host_->rowHidden(r), expected->rowHidden(r));
    }
  }
}

// A range of many areas: Excel's Address names only the areas that fit in 255 characters,
// so the bridge must not take it for the whole range.
TEST_F(BridgeOverMemoryTest, KeepOneLeavesEveryRowTheFilterShowsAcrossManyAreas) {
  constexpr int64_t kPairs = 100;
  std::vector<Value> column(2 * kPairs);
  for (int64_t k = 1; k <= kPairs; ++k) {
    column[static_cast<std::size_t>(2 * k - 2)] = static_cast<double>(k);
    column[static_cast<std::size_t>(2 * k - 1)] = static_cast<double>(k);
  }
  host_->setColumn({1, 1}, column);
  host_->select(u"A1:A" + toUtf16(std::to_string(2 * kPairs)));
  ASSERT_GT(app_->range(u"A1,A3,A5,A7")->areaRefs().size(), 1u);

  runDuplicates(/*keepOne=*/true, /*allDuplicates=*/false);

  for (int64_t k = 1; k <= kPairs; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(host_->cell({2 * k - 1, 1}).value, Value(static_cast<double>(k)));
    EXPECT_EQ(host_->cell({2 * k, 1}).value, Value{});
  }
}

TEST_F(BridgeOverMemoryTest, ACharacterRunReachesEveryAreaOfConstants) {
  // Constants between formulas: every constant is an area of its own.
  constexpr int64_t kRows = 200;
  for (int64_t r = 1; r <= kRows; ++r) {
    host_->setCell(
        {r, 1}, r % 2 == 1 ? CellContent{Value(u"a1x"), {}} : CellContent{Value(u"f"), u"=\"f\""});
  }
  host_->select(u"A1:A" + toUtf16(std::to_string(kRows)));

  runDigits();

  for (int64_t r = 1; r <= kRows; r += 2) {
    SCOPED_TRACE(r);
    EXPECT_EQ(host_->cell({r, 1}).value, Value(u"ax"));
  }
}

TEST_F(BridgeOverMemoryTest, AllDuplicatesFindsATextTooLongForExcelsSearch) {
  // 200 characters, but 300 once its wildcards are escaped for Find.
  std::u16string text;
  for (int i = 0; i < 100; ++i) text += u"a*";
  host_->setColumn({1, 1}, {Value(text), Value(u"y"), Value(text)});
  host_->select(u"A1:A3");

  runDuplicates(/*keepOne=*/false, /*allDuplicates=*/true);

  EXPECT_EQ(host_->cell({1, 1}).value, Value{});
  EXPECT_EQ(host_->cell({2, 1}).value, Value(u"y"));
  EXPECT_EQ(host_->cell({3, 1}).value, Value{});
}

// The value removals judge values by their own text, not by COUNTIF's numeric reading or
// by the text a number format shows, which Excel's Find matches.
TEST_F(BridgeOverMemoryTest, ValueRemovalsCompareTheValuesThemselves) {
  struct Row {
    const char* name;
    bool allDuplicates;  // RADP, else RUDP
    std::vector<Value> column;
    std::vector<std::pair<int64_t, std::u16string>> shown;  // rows with a formatted text
    std::vector<Value> after;
  };
  const Row rows[] = {
      {"16-digit card numbers differing in the last digit are unique",
       true,
       {Value(u"4111111111111111"), Value(u"4111111111111112"), Value(u"x"), Value(u"x")},
       {},
       {Value(u"4111111111111111"), Value(u"4111111111111112"), Value{}, Value{}}},
      {"unique card numbers are cleared as unique",
       false,
       {Value(u"4111111111111111"), Value(u"4111111111111112"), Value(u"x"), Value(u"x")},
       {},
       {Value{}, Value{}, Value(u"x"), Value(u"x")}},
      {"a formatted number repeated is cleared in every copy",
       true,
       {Value(1234.5), Value(u"y"), Value(1234.5)},
       {{1, u"1,234.50"}, {3, u"1,234.50"}},
       {Value{}, Value(u"y"), Value{}}},
      {"a date shown in another format repeated is cleared in every copy",
       true,
       {Value(DateTime{45000}), Value(DateTime{45000}), Value(u"z")},
       {{1, u"15-Mar-2023"}, {2, u"15-Mar-2023"}},
       {Value{}, Value{}, Value(u"z")}},
      {"wildcard characters are literal",
       true,
       {Value(u"a*"), Value(u"ab"), Value(u"a?"), Value(u"a*")},
       {},
       {Value{}, Value(u"ab"), Value(u"a?"), Value{}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_->closeWorkbooks();
    host_->addWorkbook();
    host_->setColumn({1, 1}, row.column);
    excel_.shownTexts.clear();
    for (const auto& [r, text] : row.shown) excel_.shownTexts[{r, 1}] = text;
    host_->select(u"A1:A" + toUtf16(std::to_string(row.column.size())));

    runDuplicates(/*keepOne=*/false, row.allDuplicates);

    for (std::size_t r = 0; r < row.after.size(); ++r) {
      SCOPED_TRACE(r + 1);
      EXPECT_EQ(host_->cell({static_cast<int64_t>(r + 1), 1}).value, row.after[r]);
    }
  }
}

TEST_F(BridgeOverMemoryTest, AValueRemovalCostsAtMostOneAndAFifthExcelCallsPerRow) {
  // 10,000 rows, one value in ten repeated once further down: every way of clearing runs.
  constexpr int64_t kRows = 10000;
  std::vector<Value> column;
  for (int64_t i = 0; i < kRows; ++i) {
    const int64_t id = i % 10 == 9 ? i - 5 : i;
    column.emplace_back(u"id" + toUtf16(std::to_string(id)));
  }
  struct Row {
    const char* name;
    bool keepOne;
    bool allDuplicates;
    int64_t cleared;
  };
  const Row rows[] = {{"every repeated value", false, true, 2 * kRows / 10},
                      {"every unique value", false, false, kRows - 2 * kRows / 10},
                      {"keep one", true, false, kRows / 10}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_->closeWorkbooks();
    host_->addWorkbook();
    host_->setColumn({1, 1}, column);
    host_->select(u"A1:A10000");

    const uint64_t before = fake::invokeCount();
    runDuplicates(row.keepOne, row.allDuplicates);
    const uint64_t calls = fake::invokeCount() - before;
    RecordProperty(std::string("excel_calls_") + row.name, std::to_string(calls));

    int64_t cleared = 0;
    for (int64_t r = 1; r <= kRows; ++r) cleared += isEmpty(host_->cell({r, 1}).value) ? 1 : 0;
    EXPECT_EQ(cleared, row.cleared);
    // Cells are cleared many to a call, so even clearing most rows stays within the bound.
    EXPECT_LE(static_cast<double>(calls), 1.2 * kRows + 100.0) << calls << " Excel calls";
  }
}

// Cells of their own formats, in blocks of 100 rows: each part is read over many cells at
// once and only a block's edge costs more, where read cell by cell each cleared cell
// costs several calls. The record holds each cell's own formats all the same.
TEST_F(BridgeOverMemoryTest, ClearedCellsOfTheirOwnFormatsAreReadInFewExcelCalls) {
  constexpr int64_t kRows = 12000;
  const std::u16string codes[] = {u"0.00", u"0.0%", u"dd/mm/yyyy"};
  const auto formatsOf = [&](int64_t row) {
    const int64_t block = (row - 1) / 100;
    return CellFormats{codes[block % 3],
                       block % 2 == 0 ? std::optional<uint32_t>(0xFFC000) : std::nullopt};
  };
  constexpr int64_t kRich = 5002;  // a cleared cell whose characters have colours of their own
  struct Row {
    const char* name;
    const char16_t* selection;
    bool refuseSpans;
    double maxCallsPerCleared;
  };
  const Row rows[] = {{"one area", u"A1:A12000", false, 2.0},
                      {"two areas, taken as a list", u"A1:A6000,A6001:A12000", false, 4.0},
                      {"Excel refuses spans: cell by cell", u"A1:A12000", true, 1e9}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_->closeWorkbooks();
    host_->addWorkbook();
    std::vector<Value> column;
    for (int64_t r = 0; r < kRows; ++r) {
      std::u16string text = toUtf16(std::to_string(r / 2));
      text.insert(text.begin(), u'v');
      column.emplace_back(std::move(text));
    }
    host_->setColumn({1, 1}, column);
    for (int64_t r = 1; r <= kRows; ++r) host_->setFormats({r, 1}, formatsOf(r));
    excel_.richTextCells = {{kRich, 1}};
    excel_.refuseFormatSpans = row.refuseSpans;
    host_->select(row.selection);

    withDialog([&](AddinModule& module, frmPrgBar& dialog) {
      FormRunObserver observer(module, dialog, dialog.ProgressBar1, dialog.lblPer);
      const uint64_t before = fake::invokeCount();
      runValueRemoval(module, ValueMode::KeepFirst, observer);
      const double perCleared = static_cast<double>(fake::invokeCount() - before) / (kRows / 2);
      RecordProperty(std::string("excel_calls_per_cleared_cell_") + row.name,
                     std::to_string(perCleared));
      EXPECT_LE(perCleared, row.maxCallsPerCleared);
      ASSERT_TRUE(module.undoSnapshot);
      ASSERT_EQ(module.undoSnapshot->size(), static_cast<std::size_t>(kRows / 2));
      for (std::size_t i = 0; i < module.undoSnapshot->size(); ++i) {
        const CellRef at = module.undoSnapshot->cell(i);
        const std::optional<CellFormats> got = module.undoSnapshot->formats(i);
        ASSERT_TRUE(got) << at.row;
        ASSERT_EQ(withKnownParts(formatsOf(at.row), *got), formatsOf(at.row)) << at.row;
        ASSERT_EQ(got->unknown, kOtherFormatsPart | (at.row == kRich ? kFontColorPart : 0))
            << at.row;
      }
      UndoLastRun(module);
    });
    excel_.refuseFormatSpans = false;
    for (const int64_t r : {int64_t{2}, int64_t{100}, int64_t{102}, kRich, kRows}) {
      EXPECT_EQ(host_->formats({r, 1}), formatsOf(r)) << r;
      EXPECT_EQ(host_->cell({r, 1}).value, column[static_cast<std::size_t>(r - 1)]) << r;
    }
  }
}

// A benchmark, not a test: how a value removal's time and Excel calls grow with the rows.
// Run it with --gtest_also_run_disabled_tests --gtest_filter=*Benchmark*.
TEST_F(BridgeOverMemoryTest, DISABLED_BenchmarkValueRemovalsThroughTheBridge) {
  for (const int64_t rows : {int64_t{10000}, int64_t{100000}}) {
    std::vector<Value> column;
    for (int64_t i = 0; i < rows; ++i) {
      column.emplace_back(u"id" + toUtf16(std::to_string(i % 10 == 9 ? i - 5 : i)));
    }
    for (const bool allDuplicates : {true, false}) {
      host_->closeWorkbooks();
      host_->addWorkbook();
      host_->setColumn({1, 1}, column);
      host_->select(u"A1:A" + toUtf16(std::to_string(rows)));
      const uint64_t calls = fake::invokeCount();
      LARGE_INTEGER frequency, start, end;
      QueryPerformanceFrequency(&frequency);
      QueryPerformanceCounter(&start);
      runDuplicates(/*keepOne=*/false, allDuplicates);
      QueryPerformanceCounter(&end);
      const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                        static_cast<double>(frequency.QuadPart);
      std::printf("%s over %lld rows: %.0f ms, %llu Excel calls (%.2f per row)\n",
                  allDuplicates ? "RADP" : "RUDP", static_cast<long long>(rows), ms,
                  static_cast<unsigned long long>(fake::invokeCount() - calls),
                  static_cast<double>(fake::invokeCount() - calls) / static_cast<double>(rows));
    }
  }
}

TEST_F(BridgeOverMemoryTest, TheFakeExcelTakesTheFirstRowAsAHeader) {
  // Without the bridge's own step the first row's repeat would stay: the double shows it.
  host_->setColumn({1, 1}, {Value(u"x"), Value(u"y"), Value(u"x")});
  ComPtr<IDispatch> list = asObject(get(excel_.application.get(), L"Range", {u"A1:A3"}));
  call(list.get(), L"AdvancedFilter", {1, Arg::omitted(), Arg::omitted(), true});
  EXPECT_FALSE(host_->rowHidden(1));
  EXPECT_FALSE(host_->rowHidden(2));
  EXPECT_FALSE(host_->rowHidden(3));
}

TEST_F(BridgeOverMemoryTest, UndoOfAValueRunPutsBackFormatsThroughExcel) {
  // Formats travel as Excel has them: NumberFormat, Interior and Font with Color in
  // Excel's byte order and ColorIndex for "no fill" and "automatic".
  const CellFormats dressed{u"0.00%", 0xFFC000, 0x0070C0};
  struct Row {
    const char* name;
    CellFormats row2;  ///< the other rows are plain
  };
  const Row rows[] = {{"mixed formats are read cell by cell", dressed},
                      {"shared formats are read once", CellFormats{}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_->closeWorkbooks();
    host_->addWorkbook();
    host_->setColumn({1, 1}, {Value(u"x"), Value(u"x"), Value(u"y")});
    host_->setFormats({2, 1}, row.row2);
    host_->select(u"A1:A3");
    withDialog([&](AddinModule& module, frmPrgBar& dialog) {
      FormRunObserver observer(module, dialog, dialog.ProgressBar1, dialog.lblPer);
      runValueRemoval(module, ValueMode::AllRepeated, observer);
      EXPECT_EQ(host_->cell({2, 1}).value, Value{});
      EXPECT_EQ(host_->formats({2, 1}), CellFormats{}) << "the full clear";
      UndoLastRun(module);
    });
    EXPECT_EQ(host_->columnValues({1, 1}, 3),
              (std::vector<Value>{Value(u"x"), Value(u"x"), Value(u"y")}));
    EXPECT_EQ(host_->formats({2, 1}), row.row2);
    EXPECT_EQ(host_->formats({1, 1}), CellFormats{});
  }
}

// A full clear takes borders, fonts, comments and the like too: undo brings them back from
// the copy kept in a hidden scratch workbook, the user's workbook staying the active one,
// and never into a cell the user changed since.
TEST_F(BridgeOverMemoryTest, UndoOfAValueRunPutsBackEverythingTheClearRemoved) {
  const CellFormats bordered{u"0.00%", 0xFFC000, 0x0070C0, u"bold; thin border; note"};
  const CellFormats noted{u"General", std::nullopt, std::nullopt, u"comment: checked"};
  const CellFormats users{u"0.0", 0x00FF00, std::nullopt, u"italic"};
  struct Row {
    const char* name;
    CellFormats row1, row2;
  };
  const Row rows[] = {{"cells of their own formats", bordered, noted},
                      {"formats the cells share", bordered, bordered}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_->closeWorkbooks();
    const std::u16string book = host_->addWorkbook();
    host_->setColumn({1, 1}, {Value(u"x"), Value(u"x"), Value(u"x")});
    host_->setFormats({1, 1}, row.row1);
    host_->setFormats({2, 1}, row.row2);
    host_->setFormats({3, 1}, row.row2);
    host_->select(u"A1:A3");
    withDialog([&](AddinModule& module, frmPrgBar& dialog) {
      FormRunObserver observer(module, dialog, dialog.ProgressBar1, dialog.lblPer);
      runValueRemoval(module, ValueMode::AllRepeated, observer);
      EXPECT_EQ(host_->formats({1, 1}), CellFormats{}) << "the full clear";
      EXPECT_EQ(host_->activeWorkbookName(), book);
      EXPECT_EQ(excel_.hiddenWorkbooks.size(), 1u) << "the scratch workbook is hidden";
      EXPECT_EQ(app_->workbooksCount(), 1) << "and none of the user's";
      host_->setCell({3, 1}, CellContent{Value(u"later"), {}});
      host_->setFormats({3, 1}, users);
      UndoLastRun(module);
    });
    EXPECT_EQ(host_->formats({1, 1}), row.row1);
    EXPECT_EQ(host_->formats({2, 1}), row.row2);
    EXPECT_EQ(host_->formats({3, 1}), users) << "changed by the user after the run";
    EXPECT_EQ(host_->cell({3, 1}).value, Value(u"later"));
    EXPECT_EQ(host_->columnValues({1, 1}, 2), (std::vector<Value>{Value(u"x"), Value(u"x")}));
    EXPECT_TRUE(excel_.hiddenWorkbooks.empty()) << "the scratch workbook went with the record";
  }
}

// A part Excel will not tell (Font.ColorIndex of rich text reads Null) leaves the others.
TEST_F(BridgeOverMemoryTest, EachFormatPartOfACellIsReadOnItsOwn) {
  const CellFormats dressed{u"0.00%", 0xFFC000, 0x0070C0};
  struct Row {
    const char* name;
    bool richText;
    uint8_t unknown;
  };
  const Row rows[] = {
      {"one colour for the whole text", false, kOtherFormatsPart},
      {"characters of their own colours", true, kOtherFormatsPart | kFontColorPart}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_->setCell({2, 1}, CellContent{Value(u"rich"), {}});
    host_->setFormats({2, 1}, dressed);
    excel_.richTextCells.clear();
    if (row.richText) excel_.richTextCells.insert({2, 1});
    const CellFormats read = app_->range(u"A2")->formats();
    EXPECT_EQ(read.unknown, row.unknown);
    EXPECT_EQ(read.numberFormat, dressed.numberFormat);
    EXPECT_EQ(read.fill, dressed.fill);
    if (!row.richText) {
      EXPECT_EQ(read.fontColor, dressed.fontColor);
    }
    host_->setFormats({2, 1}, CellFormats{});
    app_->range(u"A2")->setFormats(read);
    EXPECT_EQ(withKnownParts(CellFormats{}, read), host_->formats({2, 1}))
        << "only the parts told are written";
  }
  excel_.richTextCells.insert({2, 1});
  EXPECT_THROW(app_->range(u"A1:A2")->formats(), HostError) << "over several cells, they differ";
}

// Undo writes a formula as the run found it: through Formula2, so that it spills again;
// through Formula where Excel has no Formula2; an array formula through FormulaArray.
TEST_F(BridgeOverMemoryTest, UndoPutsFormulasBackInTheirOwnDialect) {
  struct Row {
    const char* name;
    bool formula2;  ///< Excel with dynamic arrays
    bool array;
    std::u16string formula;  ///< as the user entered it (Formula2's dialect)
    std::u16string restored;
  };
  const Row rows[] = {
      {"a spilling formula", true, false, u"=SEQUENCE(2)", u"=SEQUENCE(2)"},
      {"an intersection the user asked for", true, false, u"=@B1:B2", u"=@B1:B2"},
      {"Excel before dynamic arrays", false, false, u"=B1", u"=@B1"},
      {"an array formula", true, true, u"=SUM(B1:B2*C1:C2)", u"=SUM(B1:B2*C1:C2)"},
      {"an array formula before dynamic arrays", false, true, u"=SUM(B1:B2)", u"=SUM(B1:B2)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fake::MemoryExcel excel{host_};
    excel.formula2 = row.formula2;
    const ApplicationPtr app = makeExcelApplication(excel.application.get());
    host_->closeWorkbooks();
    host_->addWorkbook();
    host_->setColumn({1, 1}, {Value(u"x"), Value(u"x")});
    host_->setCell({3, 1}, CellContent{Value(u"x"), row.formula});
    if (row.array) excel.arrayCells.insert({3, 1});
    host_->select(u"A1:A3");
    withDialog([&](AddinModule& module, frmPrgBar& dialog) {
      module.hostApp = app;
      FormRunObserver observer(module, dialog, dialog.ProgressBar1, dialog.lblPer);
      runValueRemoval(module, ValueMode::AllRepeated, observer);
      ASSERT_EQ(host_->cell({3, 1}), CellContent{});
      EXPECT_TRUE(excel.arrayCells.empty());
      UndoLastRun(module);
    });
    EXPECT_EQ(host_->cell({3, 1}).formula, row.restored);
    EXPECT_EQ(excel.arrayCells.count({3, 1}), row.array ? 1u : 0u);
  }
}

TEST_F(BridgeOverMemoryTest, UndoLeavesRowsTheUserSortedOrInsertedThroughExcelsSheetChange) {
  // As over the in-memory host: A holds y, x, x and a blank, B numbers the rows, "every
  // unique value" clears A1's y; SheetChange's Target tells undo what moved.
  struct Row {
    const char* name;
    std::function<void(memory::MemoryApplication&)> userDoes;
    Value a1AfterUndo;
    std::size_t told;
  };
  const Row rows[] = {
      {"sorted by B", [](memory::MemoryApplication& h) { h.sortRows(u"A1:B4", 2); }, Value{}, 1},
      {"a row inserted above", [](memory::MemoryApplication& h) { h.insertRows(1); }, Value{}, 1},
      {"an edit elsewhere",
       [](memory::MemoryApplication& h) {
         h.typeInto({9, 3}, u"note");
       },
       Value(u"y"), 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_->closeWorkbooks();
    host_->addWorkbook();
    host_->setColumn({1, 1}, {Value(u"y"), Value(u"x"), Value(u"x")});
    host_->setColumn({1, 2}, {Value(3.0), Value(1.0), Value(2.0), Value(0.0)});
    host_->select(u"A1:A3");
    memory::QueuedUser user;
    memory::HeadlessToolkit toolkit{user};
    memory::RecordedShell shell;
    AddinModule module{toolkit, shell};
    module.hostApp = app_;
    {
      frmPrgBar dialog(module);
      FormRunObserver observer(module, dialog, dialog.ProgressBar1, dialog.lblPer);
      runValueRemoval(module, ValueMode::AllUnique, observer);
    }
    ASSERT_EQ(host_->cell({1, 1}).value, Value{});
    row.userDoes(*host_);
    UndoLastRun(module);
    EXPECT_EQ(host_->cell({1, 1}).value, row.a1AfterUndo);
    EXPECT_EQ(toolkit.messages().size(), row.told);
  }
}

TEST_F(BridgeOverMemoryTest, CellsExcelWillNotClearTogetherAreClearedOneByOneAndUndone) {
  // 600 rows, every value unique but one pair: more cells than one batch clears.
  std::vector<Value> column;
  for (int64_t i = 0; i < 600; ++i) {
    const int64_t id = i % 599;
    column.emplace_back(u"id" + toUtf16(std::to_string(id)));
  }
  for (const bool refuse : {false, true}) {
    SCOPED_TRACE(refuse ? "Excel refuses lists of areas" : "Excel takes lists of areas");
    host_->closeWorkbooks();
    host_->addWorkbook();
    host_->setColumn({1, 1}, column);
    host_->select(u"A1:A600");
    excel_.refuseAreaLists = refuse;
    withDialog([&](AddinModule& module, frmPrgBar& dialog) {
      FormRunObserver observer(module, dialog, dialog.ProgressBar1, dialog.lblPer);
      runValueRemoval(module, ValueMode::AllUnique, observer);
      std::vector<Value> expected(600);
      expected[0] = column[0];
      expected[599] = column[0];
      EXPECT_EQ(host_->columnValues({1, 1}, 600), expected);
      UndoLastRun(module);
    });
    EXPECT_EQ(host_->columnValues({1, 1}, 600), column);
  }
  excel_.refuseAreaLists = false;
}

TEST_F(BridgeOverMemoryTest, TheFakeExcelIndexesRangesAsExcelDoes) {
  // Range.Item takes a second index only on a range of single cells; one index picks a
  // column of Columns, a row of Rows, a cell of cells left to right; Count counts them.
  struct Row {
    const char* name;
    std::function<ComPtr<IDispatch>(IDispatch*)> reach;
    const char16_t* address;  ///< none: Excel refuses with 1004
    double count;
  };
  const auto item = [](IDispatch* of, std::initializer_list<Arg> indexes) {
    return asObject(get(of, L"Item", indexes));
  };
  const auto member = [](IDispatch* of, const wchar_t* name) { return asObject(get(of, name)); };
  const Row rows[] = {
      {"a cell",
       [&](IDispatch* r) {
         return item(r, {2.0, 3.0});
       },
       u"$D$3", 1},
      {"a cell counted left to right", [&](IDispatch* r) { return item(r, {4.0}); }, u"$B$3", 1},
      {"the columns", [&](IDispatch* r) { return member(r, L"Columns"); }, u"$B$2:$D$4", 3},
      {"a column", [&](IDispatch* r) { return item(member(r, L"Columns").get(), {2.0}); },
       u"$C$2:$C$4", 1},
      {"a row", [&](IDispatch* r) { return item(member(r, L"Rows").get(), {3.0}); }, u"$B$4:$D$4",
       1},
      {"the cells of a column",
       [&](IDispatch* r) {
         return member(item(member(r, L"Columns").get(), {2.0}).get(), L"Cells");
       },
       u"$C$2:$C$4", 3},
      {"a cell of a column's cells",
       [&](IDispatch* r) {
         return item(member(item(member(r, L"Columns").get(), {2.0}).get(), L"Cells").get(),
                     {3.0, 1.0});
       },
       u"$C$4", 1},
      {"a cell of a column",
       [&](IDispatch* r) {
         return item(item(member(r, L"Columns").get(), {2.0}).get(), {3.0, 1.0});
       },
       nullptr, 0},
  };
  const ComPtr<IDispatch> range = asObject(get(excel_.application.get(), L"Range", {u"B2:D4"}));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (!row.address) {
      try {
        row.reach(range.get());
        ADD_FAILURE() << "Excel refuses this";
      } catch (const HostError& e) {
        EXPECT_EQ(e.number(), host_errors::kRefused);
      }
      continue;
    }
    const ComPtr<IDispatch> reached = row.reach(range.get());
    ASSERT_TRUE(reached);
    EXPECT_EQ(asText(get(reached.get(), L"Address")), row.address);
    EXPECT_EQ(asDouble(get(reached.get(), L"Count")), row.count);
  }
}

TEST_F(BridgeOverMemoryTest, KeepOneHidesTheUsersRowsAgainAndSetsTheirAutoFilterAgain) {
  // A1:B5 is a list under its header: A the region, B what keep one runs over (x, y, x,
  // z). Rows 3 and 5, the south rows, are hidden by hand or by the user's AutoFilter.
  const Value north(u"north");
  const auto filtered = [](ColumnFilter filter) {
    return AutoFilterState{{{1, 1}, {5, 2}}, {std::move(filter)}, true};
  };
  struct Row {
    const char* name;
    std::optional<AutoFilterState> filter;  ///< the user's; none: rows hidden by hand
    std::vector<ColumnFilter> after;
    std::size_t told;
    bool described = true;  ///< false: Excel will not tell the filter's operator
  };
  const ColumnFilter one{1, 0, FilterCriterion{{north}, false}, {}};
  const ColumnFilter either{1, xl::kFilterOr, FilterCriterion{{Value(u"=north")}, false},
                            FilterCriterion{{Value(u"=east")}, false}};
  const ColumnFilter ticked{
      1, xl::kFilterValues, FilterCriterion{{north, Value(u"east")}, true}, {}};
  const ColumnFilter colour{1, 8, FilterCriterion{{255.0}, false}, {}};
  const Row rows[] = {
      {"rows hidden by hand", std::nullopt, {}, 0},
      {"one criterion", filtered(one), {one}, 0},
      {"two criteria, either one", filtered(either), {either}, 0},
      {"a list of values", filtered(ticked), {ticked}, 0},
      {"a colour, which cannot be set again", filtered(colour), {}, 1},
      {"a filter Excel will not describe", filtered(one), {}, 1, false},
  };
  const Value x(u"x"), y(u"y"), z(u"z");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_->closeWorkbooks();
    host_->addWorkbook();
    host_->setColumn({1, 1}, {Value(u"region"), north, Value(u"south"), north, Value(u"south")});
    host_->setColumn({1, 2}, {Value(u"id"), x, y, x, z});
    if (row.filter && row.filter->filters.front().op != colour.op) {
      host_->activeSheet()->applyAutoFilter(*row.filter);
    } else {
      if (row.filter) host_->setAutoFilterState(*row.filter);
      host_->setRowHidden(3, true);
      host_->setRowHidden(5, true);
    }
    host_->select(u"B2:B5");
    excel_.refuseFilterOperators = !row.described;
    memory::QueuedUser user;
    memory::HeadlessToolkit toolkit{user};
    memory::RecordedShell shell;
    AddinModule module{toolkit, shell};
    module.hostApp = app_;
    {
      frmPrgBar dialog(module);
      FormRunObserver observer(module, dialog, dialog.ProgressBar1, dialog.lblPer);
      runValueRemoval(module, ValueMode::KeepFirst, observer);
    }
    excel_.refuseFilterOperators = false;
    EXPECT_EQ(host_->columnValues({2, 2}, 4), (std::vector<Value>{x, y, Value{}, z}));
    for (int64_t r = 1; r <= 5; ++r) {
      EXPECT_EQ(host_->rowHidden(r), r == 3 || r == 5) << "row " << r;
    }
    ASSERT_EQ(host_->autoFilterState().has_value(), row.filter.has_value());
    if (row.filter) {
      EXPECT_EQ(host_->autoFilterState()->filters, row.after);
    }
    EXPECT_EQ(toolkit.messages().size(), row.told);
  }
}

TEST_F(BridgeOverMemoryTest, AreasOfOneColumnAreOneListThroughExcel) {
  host_->setColumn({1, 1}, {Value(u"x"), Value(u"y"), Value(u"-"), Value(u"y"), Value(u"x")});
  host_->select(u"A1:A2,A4:A5");
  runDuplicates(false, /*allDuplicates=*/false);
  EXPECT_EQ(host_->columnValues({1, 1}, 5),
            (std::vector<Value>{Value(u"x"), Value(u"y"), Value(u"-"), Value(u"y"), Value(u"x")}))
      << "no value occurs once in the two areas together";
}

}  // namespace
}  // namespace qmv::windows
