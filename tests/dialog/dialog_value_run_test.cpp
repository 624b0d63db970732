// Duplicate and unique value removal driven as a user would: the menu command, Yes on the
// dialog and Stop during the run, over the in-memory host; and the wizard's variant on a
// form with its own progress bar.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "addin/entry_points.hpp"
#include "dialog/frm_prg_bar.hpp"
#include "engine/value_run.hpp"
#include "support/engine_fixture.hpp"
#include "ui/form_run_observer.hpp"

namespace qmv {
namespace {

using testing::EngineFixture;
using testing::LoadedAddin;
using testing::text;

constexpr uint32_t kYellow = 0xFFFF00;

std::u16string decimal(int64_t n) {
  const std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

/// Fills column A from row 1 with `values` and selects exactly those rows.
void fillAndSelect(LoadedAddin& addin, const std::vector<Value>& values) {
  addin.host->setColumn({1, 1}, values);
  addin.host->select(u"A1:A" + decimal(static_cast<int64_t>(values.size())));
}

/// Records what the dialog's progress controls show, and the yield each caption came in.
class ProgressTrace : public FormObserver {
 public:
  ProgressTrace(Form& form, memory::HeadlessToolkit& toolkit) : form_(&form), toolkit_(toolkit) {
    form.setObserver(this);
  }
  ~ProgressTrace() override {
    if (form_ != nullptr) form_->setObserver(nullptr);
  }
  ProgressTrace(const ProgressTrace&) = delete;
  ProgressTrace& operator=(const ProgressTrace&) = delete;
  void controlChanged(Control& control, ControlProperty property) override {
    if (control.name() == "lblPer" && property == ControlProperty::Caption) {
      captions.push_back(control.caption());
      captionYields.push_back(toolkit_.yields());
    }
    if (control.name() == "ProgressBar1" && property == ControlProperty::ProgressValue) {
      if (control.value() > control.max()) valueAboveMax = true;
      values.push_back(control.value());
    }
  }
  void formChanged(Form&) override {}
  void formDestroyed(Form&) override { form_ = nullptr; }

  std::vector<std::u16string> captions;
  std::vector<uint64_t> captionYields;
  std::vector<float> values;
  bool valueAboveMax = false;

 private:
  Form* form_;
  memory::HeadlessToolkit& toolkit_;
};

class DuplicateRun : public EngineFixture {
 protected:
  /// The dialog the next command shows, created ahead so that tests can watch it.
  frmPrgBar& dialog() {
    if (!module.prgBar || !module.prgBar->loaded()) {
      module.prgBar = std::make_shared<frmPrgBar>(module);
    }
    return *module.prgBar;
  }
  std::vector<Value> columnA(int64_t rows) const { return host->columnValues({1, 1}, rows); }
};

const Value kEmpty{};
const Value x = text(u"x");
const Value y = text(u"y");
const Value z = text(u"z");

struct ModeRow {
  const char* name;
  void (*command)(AddinModule&);
  std::vector<Value> before;
  std::vector<Value> after;
};

TEST_F(DuplicateRun, EachModeClearsTheCellsItShould) {
  const std::u16string p255(255, u'p');
  const Value longText = text(p255 + u"-tail");
  const ModeRow rows[] = {
      {"all duplicates on x,y,x,z,x",
       RemoveAllDuplicates,
       {x, y, x, z, x},
       {kEmpty, y, kEmpty, z, kEmpty}},
      {"unique values on x,y,x,z", RemoveUniqueValues, {x, y, x, z}, {x, kEmpty, x, kEmpty}},
      {"keep one on y,x,z,x", RemoveDuplicatesKeepOne, {y, x, z, x}, {y, x, z, kEmpty}},
      {"keep one on x,x,x", RemoveDuplicatesKeepOne, {x, x, x}, {x, kEmpty, kEmpty}},
      {"all duplicates with empty cells between",
       RemoveAllDuplicates,
       {x, kEmpty, y, kEmpty, x},
       {kEmpty, kEmpty, y, kEmpty, kEmpty}},
      {"unique values with empty cells between",
       RemoveUniqueValues,
       {x, kEmpty, y, y},
       {kEmpty, kEmpty, y, y}},
      {"matching ignores letter case",
       RemoveAllDuplicates,
       {text(u"Abc"), text(u"aBC"), y},
       {kEmpty, kEmpty, y}},
      {"a star or a comparison is a value, not a pattern",
       RemoveAllDuplicates,
       {text(u"a*"), text(u"abc"), text(u"A*"), text(u"<5"), number(3), text(u"<5")},
       {kEmpty, text(u"abc"), kEmpty, kEmpty, number(3), kEmpty}},
      {"a pattern-like value is unique when it occurs once",
       RemoveUniqueValues,
       {text(u"a*"), text(u"abc"), text(u"abd"), text(u"?"), text(u"x")},
       {kEmpty, kEmpty, kEmpty, kEmpty, kEmpty}},
      {"an error value is not cleared on the text of the cell above it",
       RemoveAllDuplicates,
       {x, x, Value{CellError::NA}, x},
       {kEmpty, kEmpty, Value{CellError::NA}, kEmpty}},
      {"an error value never repeats its display text",
       RemoveAllDuplicates,
       {text(u"#N/A"), Value{CellError::NA}, y},
       {text(u"#N/A"), Value{CellError::NA}, y}},
      {"an error value is never counted as unique",
       RemoveUniqueValues,
       {text(u"#N/A"), Value{CellError::NA}, Value{CellError::Div0}},
       {kEmpty, Value{CellError::NA}, Value{CellError::Div0}}},
      {"a 255-character text is counted whole",
       RemoveAllDuplicates,
       {text(p255), y, text(p255)},
       {kEmpty, y, kEmpty}},
      {"a longer text is not cleared on the count of its first 255 characters",
       RemoveAllDuplicates,
       {text(p255), text(p255), longText},
       {kEmpty, kEmpty, longText}},
      {"longer texts are not taken for unique on their first 255 characters",
       RemoveUniqueValues,
       {text(p255), longText, longText},
       {kEmpty, longText, longText}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    host->closeWorkbooks();
    host->addWorkbook();
    fillAndSelect(*this, row.before);
    runYes(row.command);
    EXPECT_EQ(columnA(static_cast<int64_t>(row.before.size())), row.after);
    EXPECT_FALSE(module.prgBar->loaded()) << "the dialog closes";
    EXPECT_FALSE(host->filterActive());
  }
  EXPECT_TRUE(messages().empty()) << "no completion message";
}

TEST_F(DuplicateRun, AllDuplicatesClearsInPlace) {
  fillAndSelect(*this, {x, y, x, z, x});
  runYes(RemoveAllDuplicates);
  EXPECT_EQ(valueAt(4, 1), z) << "nothing moves up";
  EXPECT_EQ(host->usedRangeAddress(), u"$A$2:$A$4");
}

TEST_F(DuplicateRun, ClearRemovesTheFillToo) {
  fillAndSelect(*this, {x, y, x});
  for (int64_t r = 1; r <= 3; ++r) host->setFill({r, 1}, kYellow);
  runYes(RemoveAllDuplicates);
  EXPECT_EQ(host->fill({1, 1}), std::nullopt);
  EXPECT_EQ(host->fill({3, 1}), std::nullopt);
  EXPECT_EQ(host->fill({2, 1}), kYellow) << "a kept cell keeps its fill";
}

struct RefusalRow {
  const char* name;
  void (*arrange)(LoadedAddin&);
  std::u16string message;
  bool hostPrepared;  // the run state was entered and restored
};

TEST(DuplicateRefusal, EachRefusalLeavesItsPartUntouched) {
  const RefusalRow rows[] = {
      {"no workbook open", [](LoadedAddin& a) { a.host->closeWorkbooks(); },
       u"Please add a New Workbook!", false},
      {"two columns", [](LoadedAddin& a) { a.host->select(u"A1:B3"); },
       u"Please Select Single Column!", false},
      {"a selection that is not cells", [](LoadedAddin& a) { a.host->selectNonCells(); },
       u"Please Select Single Column!", false},
      {"a column of empty cells", [](LoadedAddin& a) { a.host->select(u"C1:C5"); },
       u"Selection is Empty!", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LoadedAddin addin;
    addin.host->setColumn({1, 1}, {x, x, y});
    addin.host->setColumn({1, 2}, {y, y, y});
    addin.host->setFill({2, 3}, kYellow);  // an empty cell with a format
    row.arrange(addin);
    addin.module.runOptions.stopRequested = true;
    addin.runYes(RemoveAllDuplicates);

    EXPECT_EQ(addin.messages(), std::vector<std::u16string>{row.message});
    EXPECT_FALSE(addin.module.prgBar->loaded()) << "the dialog closes";
    if (addin.host->workbooksCount() > 0) {
      EXPECT_EQ(addin.host->columnValues({1, 1}, 3), (std::vector<Value>{x, x, y}));
      EXPECT_EQ(addin.host->columnValues({1, 2}, 3), (std::vector<Value>{y, y, y}));
      EXPECT_EQ(addin.host->fill({2, 3}), kYellow);
    }
    if (row.hostPrepared) {
      const memory::RunSettings& s = addin.host->runSettings();
      EXPECT_EQ(s.calculation, xl::kCalculationAutomatic);
      EXPECT_EQ(s.statusBar, u"");
      EXPECT_TRUE(s.screenUpdating);
      EXPECT_EQ(s.enableCancelKey, xl::kErrorHandler) << "the cancel key stays";
      EXPECT_FALSE(addin.module.runOptions.stopRequested) << "cleared before counting";
    } else {
      EXPECT_TRUE(addin.host->settingsLog().empty()) << "no host setting changed";
      EXPECT_TRUE(addin.module.runOptions.stopRequested) << "the stop flag is not touched";
    }
  }
}

TEST_F(DuplicateRun, HostIsRestoredWithTheUsersCalculationModeAfterwards) {
  host->setCalculation(xl::kCalculationManual);
  fillAndSelect(*this, {x, y, x});
  runYes(RemoveUniqueValues);
  const std::vector<std::u16string> expected = {
      u"Calculation=-4135",    u"EnableCancelKey=2",  u"StatusBar=Processing...!",
      u"ScreenUpdating=False", u"Calculation=-4135",  u"Calculation=-4135",
      u"StatusBar=",           u"ScreenUpdating=True"};
  EXPECT_EQ(host->settingsLog(), expected);
  EXPECT_EQ(host->runSettings().calculation, xl::kCalculationManual);
}

TEST_F(DuplicateRun, StopDuringTheFirstPassSkipsTheSecond) {
  fillAndSelect(*this, {x, y, x, z, x});
  toolkit.scheduleStop(2);  // while the bottom two rows are done
  runYes(RemoveAllDuplicates);
  EXPECT_EQ(columnA(5), (std::vector<Value>{x, y, x, z, kEmpty}))
      << "the cleared cell stays cleared, the top occurrences stay";
  EXPECT_EQ(toolkit.yields(), 2u);
  EXPECT_FALSE(module.prgBar->loaded());
  EXPECT_EQ(host->runSettings().calculation, xl::kCalculationAutomatic);
  EXPECT_TRUE(host->runSettings().screenUpdating);
  EXPECT_EQ(host->runSettings().statusBar, u"");
}

TEST_F(DuplicateRun, StopDuringKeepOneStillRemovesTheFilter) {
  fillAndSelect(*this, {y, x, z, x});
  toolkit.scheduleStop(1);
  runYes(RemoveDuplicatesKeepOne);
  EXPECT_EQ(columnA(4), (std::vector<Value>{y, x, z, x}));
  EXPECT_FALSE(host->filterActive());
  EXPECT_FALSE(host->rowHidden(4));
}

TEST_F(DuplicateRun, StopDuringUniqueValuesKeepsWhatWasCleared) {
  fillAndSelect(*this, {x, y, z, x});
  toolkit.scheduleStop(2);
  runYes(RemoveUniqueValues);
  EXPECT_EQ(columnA(4), (std::vector<Value>{x, y, kEmpty, x}));
}

TEST_F(DuplicateRun, KeepOneShowsEveryRowAgain) {
  fillAndSelect(*this, {y, x, z, x});
  runYes(RemoveDuplicatesKeepOne);
  for (int64_t r = 1; r <= 4; ++r) EXPECT_FALSE(host->rowHidden(r)) << "row " << r;
  EXPECT_FALSE(host->filterActive());
}

TEST_F(DuplicateRun, KeepOneClearsRepeatsInRowsTheUserHidAndKeepsThemHidden) {
  struct Row {
    const char* name;
    std::vector<Value> before;
    std::vector<int64_t> hidden;
    std::vector<Value> after;
  };
  const Row rows[] = {
      {"a hidden repeat is cleared", {y, x, z, x, x}, {4}, {y, x, z, kEmpty, kEmpty}},
      {"every row hidden", {y, x, x}, {1, 2, 3}, {y, x, kEmpty}},
      {"a hidden first occurrence stays, its repeat goes", {x, y, x}, {1}, {x, y, kEmpty}},
      {"a hidden value that occurs once stays", {x, y, z}, {2}, {x, y, z}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (int64_t r = 1; r <= 5; ++r) host->setRowHidden(r, false);
    fillAndSelect(*this, row.before);
    for (int64_t r : row.hidden) host->setRowHidden(r, true);
    runYes(RemoveDuplicatesKeepOne);
    EXPECT_EQ(columnA(static_cast<int64_t>(row.before.size())), row.after);
    for (int64_t r = 1; r <= static_cast<int64_t>(row.before.size()); ++r) {
      const bool hid = std::find(row.hidden.begin(), row.hidden.end(), r) != row.hidden.end();
      EXPECT_EQ(host->rowHidden(r), hid) << "row " << r;
    }
    EXPECT_FALSE(host->filterActive());
  }
}

TEST_F(DuplicateRun, KeepOneSetsTheUsersAutoFilterAgainOrSaysItIsCleared) {
  // A1:B5 is a list under its header row: A the region, B what keep one runs over. The
  // user's AutoFilter shows the north rows; the south rows 3 and 5 are hidden.
  const Value north(u"north");
  const auto byColumnA = [](int32_t op, FilterCriterion criterion, bool exact) {
    return AutoFilterState{{{1, 1}, {5, 2}}, {ColumnFilter{1, op, criterion, {}}}, exact};
  };
  struct Row {
    const char* name;
    AutoFilterState filter;
    bool setByTheUser;  ///< false: put on as the host reports it, its rows hidden by hand
    std::vector<ColumnFilter> after;
    std::vector<std::u16string> messages;
  };
  const Row rows[] = {
      {"one criterion",
       byColumnA(0, {{north}, false}, true),
       true,
       byColumnA(0, {{north}, false}, true).filters,
       {}},
      {"a list of values",
       byColumnA(xl::kFilterValues, {{north}, true}, true),
       true,
       byColumnA(xl::kFilterValues, {{north}, true}, true).filters,
       {}},
      {"a colour, which cannot be set again",
       byColumnA(8, {{255.0}, false}, false),
       false,
       {},
       {kAutoFilterClearedText}},
      {"criteria the host refuses",
       byColumnA(8, {{255.0}, false}, true),
       false,
       {},
       {kAutoFilterClearedText}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    LoadedAddin addin;
    addin.host->setColumn({1, 1},
                          {Value(u"region"), north, Value(u"south"), north, Value(u"south")});
    addin.host->setColumn({1, 2}, {Value(u"id"), x, y, x, z});
    if (row.setByTheUser) {
      addin.host->autoFilter(u"A1:B5", 1, u"north");
      if (row.filter.filters.front().op != 0) {
        addin.host->activeSheet()->applyAutoFilter(row.filter);
      }
    } else {
      addin.host->setAutoFilterState(row.filter);
      addin.host->setRowHidden(3, true);
      addin.host->setRowHidden(5, true);
    }
    addin.host->select(u"B2:B5");
    addin.runYes(RemoveDuplicatesKeepOne);
    EXPECT_EQ(addin.host->columnValues({2, 2}, 4), (std::vector<Value>{x, y, kEmpty, z}));
    ASSERT_TRUE(addin.host->autoFilterState());
    EXPECT_EQ(addin.host->autoFilterState()->filters, row.after);
    EXPECT_EQ(addin.messages(), row.messages);
    for (int64_t r = 1; r <= 5; ++r) {
      EXPECT_EQ(addin.host->rowHidden(r), r == 3 || r == 5) << "row " << r;
    }
  }
}

TEST_F(DuplicateRun, KeepOneFromTheMenuLeavesEmptyCellsOfHiddenRows) {
  fillAndSelect(*this, {y, kEmpty, x, kEmpty, x});
  host->setFill({2, 1}, kYellow);
  host->setFill({4, 1}, kYellow);
  runYes(RemoveDuplicatesKeepOne);
  EXPECT_EQ(columnA(5), (std::vector<Value>{y, kEmpty, x, kEmpty, kEmpty}));
  EXPECT_EQ(host->fill({4, 1}), kYellow) << "the filter hid row 4, but its cell is empty";
}

TEST_F(DuplicateRun, HalfwayAfterTheFirstPassOfAllDuplicates) {
  fillAndSelect(*this, {x, y, x, z, x});
  std::optional<std::u16string> caption;
  std::optional<float> value;
  std::optional<float> max;
  toolkit.scheduleDuringYield(6, [&](memory::HeadlessToolkit&) {  // first yield of pass two
    caption = dialog().lblPer.caption();
    value = dialog().ProgressBar1.value();
    max = dialog().ProgressBar1.max();
  });
  dialog();
  runYes(RemoveAllDuplicates);
  EXPECT_EQ(caption, u"50 %");
  EXPECT_EQ(value, 5.0f);
  EXPECT_EQ(max, 10.0f);
}

TEST_F(DuplicateRun, CellsWithoutACriterionStillCountAsStepsOfTheFirstPass) {
  // An error value and an over-long text are never compared, but COUNTA counts them in the
  // maximum, so the first pass still ends at half and the run at 100 %.
  const std::u16string p255(255, u'p');
  fillAndSelect(*this, {x, Value{CellError::NA}, text(p255 + u"-tail"), x});
  std::optional<std::u16string> halfway;
  toolkit.scheduleDuringYield(5, [&](memory::HeadlessToolkit&) {  // first yield of pass two
    halfway = dialog().lblPer.caption();
  });
  dialog();
  runYes(RemoveAllDuplicates);
  EXPECT_EQ(halfway, u"50 %");
  EXPECT_EQ(module.prgBar->lblPer.caption(), u"100 %");
  EXPECT_EQ(columnA(4),
            (std::vector<Value>{kEmpty, Value{CellError::NA}, text(p255 + u"-tail"), kEmpty}));
}

TEST_F(DuplicateRun, PercentagesRoundHalvesToEven) {
  fillAndSelect(*this, {text(u"a"), text(u"b"), text(u"c"), text(u"d"), text(u"e"), text(u"f"),
                        text(u"g"), text(u"h")});
  ProgressTrace trace(dialog(), toolkit);
  runYes(RemoveUniqueValues);
  const std::vector<std::u16string> expected = {u"12 %", u"25 %", u"38 %", u"50 %",
                                                u"62 %", u"75 %", u"88 %", u"100 %"};
  EXPECT_EQ(trace.captions, expected);
}

struct FullEarlyRow {
  const char* name;
  void (*command)(AddinModule&);
  std::vector<Value> before;
  uint64_t yields;         // every step of every pass yields
  uint64_t fullFromYield;  // the yield after which the bar stands at 100 %
};

TEST(DuplicateProgress, FullBeforeTheEndWithEmptyCellsAndNeverAboveTheMaximum) {
  const FullEarlyRow rows[] = {
      // Three values, maximum 6: the first pass ends at 3, the second counts 5 rows.
      {"all duplicates", RemoveAllDuplicates, {x, kEmpty, x, kEmpty, y}, 10, 8},
      // Two values, maximum 2: the walk counts every row, empty or not.
      {"unique values", RemoveUniqueValues, {x, kEmpty, kEmpty, y}, 4, 2},
      {"keep one", RemoveDuplicatesKeepOne, {x, kEmpty, kEmpty, y}, 4, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LoadedAddin addin;
    fillAndSelect(addin, row.before);
    addin.module.prgBar = std::make_shared<frmPrgBar>(addin.module);
    ProgressTrace trace(*addin.module.prgBar, addin.toolkit);
    addin.runYes(row.command);
    EXPECT_EQ(addin.toolkit.yields(), row.yields);
    EXPECT_FALSE(trace.valueAboveMax);
    ASSERT_FALSE(trace.captions.empty());
    EXPECT_EQ(trace.captions.back(), u"100 %");
    EXPECT_EQ(trace.captionYields.back(), row.fullFromYield) << "100 % reached early";
    EXPECT_EQ(addin.module.prgBar->ProgressBar1.value(), addin.module.prgBar->ProgressBar1.max());
  }
}

TEST_F(DuplicateRun, WholeColumnWalksOnlyTheUsedRows) {
  std::vector<Value> values;
  for (int64_t i = 1; i <= 1000; ++i) {
    values.push_back(i % 5 == 3 ? kEmpty : number(static_cast<double>(i % 300)));
  }
  host->setColumn({1, 1}, values);
  host->select(u"A:A");
  dialog();
  runYes(RemoveUniqueValues);
  EXPECT_EQ(toolkit.yields(), 1000u) << "one step per used row";
  EXPECT_EQ(module.prgBar->ProgressBar1.max(), 800.0f) << "the maximum is the non-empty count";
  EXPECT_EQ(module.prgBar->lblPer.caption(), u"100 %");
}

TEST(DuplicateTolerance, AFailingHostCallIsSkippedAndTheRunGoesOn) {
  struct Mode {
    const char* name;
    void (*command)(AddinModule&);
  };
  const Mode modes[] = {{"all duplicates", RemoveAllDuplicates},
                        {"keep one", RemoveDuplicatesKeepOne},
                        {"unique values", RemoveUniqueValues}};
  const std::vector<Value> before = {x, y, x, z, x};
  for (const auto& mode : modes) {
    uint64_t calls = 0;
    {
      LoadedAddin clean;
      fillAndSelect(clean, before);
      const uint64_t start = clean.host->hostCallCount();
      clean.runYes(mode.command);
      calls = clean.host->hostCallCount() - start;
    }
    ASSERT_GT(calls, 10u);
    for (uint64_t n = 1; n <= calls; ++n) {
      SCOPED_TRACE(std::string(mode.name) + ", failing call " + std::to_string(n));
      LoadedAddin addin;
      fillAndSelect(addin, before);
      addin.host->armFault(n, 1004);
      EXPECT_NO_THROW(addin.runYes(mode.command));
      EXPECT_FALSE(addin.module.prgBar->loaded()) << "the dialog closes";
      const std::vector<Value> after = addin.host->columnValues({1, 1}, 5);
      for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_TRUE(after[i] == before[i] || after[i] == kEmpty) << "row " << i + 1;
      }
      if (mode.command == RemoveUniqueValues) {
        EXPECT_EQ(after[0], x) << "a repeated value is never cleared here";
      } else {
        EXPECT_EQ(after[1], y) << "a value that occurs once is never cleared here";
        EXPECT_EQ(after[3], z);
      }
    }
  }
}

// The wizard's variant, on a form with the wizard's progress controls; the wizard's caller
// has prepared the host and counted the non-empty cells.
class WizardDuplicateRun : public EngineFixture {
 protected:
  WizardDuplicateRun() {
    wizard.add("ProgressBar1", ControlKind::ProgressBar);
    wizard.add("lblPer", ControlKind::Label);
  }
  void run(bool keepOne, bool allDuplicates, bool uniqueValues, int32_t nonEmptyCount) {
    wizard.control("ProgressBar1").setMax(static_cast<float>(nonEmptyCount));
    const ValueMode mode = keepOne         ? ValueMode::KeepFirst
                           : allDuplicates ? ValueMode::AllRepeated
                                           : ValueMode::AllUnique;
    EXPECT_TRUE(keepOne || allDuplicates || uniqueValues);
    FormRunObserver observer(module, wizard, wizard.control("ProgressBar1"),
                             wizard.control("lblPer"));
    runPreparedValueRemoval(module, mode, nonEmptyCount, observer);
  }
  std::vector<Value> columnA(int64_t rows) const { return host->columnValues({1, 1}, rows); }

  Form wizard{"frmTextRemover"};
};

TEST_F(WizardDuplicateRun, AllDuplicatesAsFromTheMenu) {
  fillAndSelect(*this, {x, y, x, z, x});
  run(false, true, false, 5);
  EXPECT_EQ(columnA(5), (std::vector<Value>{kEmpty, y, kEmpty, z, kEmpty}));
  EXPECT_EQ(wizard.control("ProgressBar1").max(), 10.0f);
  EXPECT_EQ(wizard.control("lblPer").caption(), u"100 %");
  EXPECT_FALSE(wizard.loaded()) << "the wizard closes";
  EXPECT_TRUE(host->settingsLog().empty()) << "the host settings are the caller's";
}

TEST_F(WizardDuplicateRun, OtherModesKeepTheCallersMaximum) {
  fillAndSelect(*this, {x, y, x, z});
  run(false, false, true, 4);
  EXPECT_EQ(columnA(4), (std::vector<Value>{x, kEmpty, x, kEmpty}));
  EXPECT_EQ(wizard.control("ProgressBar1").max(), 4.0f);
}

TEST_F(WizardDuplicateRun, TwoColumnsAreRefused) {
  host->setColumn({1, 1}, {x, x});
  host->setColumn({1, 2}, {y, y});
  host->select(u"A1:B2");
  run(false, false, true, 4);
  EXPECT_EQ(messages(), std::vector<std::u16string>{u"Please Select Single Column!"});
  EXPECT_FALSE(wizard.loaded());
  EXPECT_EQ(columnA(2), (std::vector<Value>{x, x}));
  EXPECT_EQ(host->columnValues({1, 2}, 2), (std::vector<Value>{y, y}));
}

TEST_F(WizardDuplicateRun, KeepOneClearsValueAndFillOfAHiddenRow) {
  fillAndSelect(*this, {y, x, z, x});
  host->setFill({4, 1}, kYellow);
  run(true, false, false, 4);
  EXPECT_EQ(columnA(4), (std::vector<Value>{y, x, z, kEmpty}));
  EXPECT_EQ(host->fill({4, 1}), std::nullopt);
  EXPECT_FALSE(host->filterActive());
}

TEST_F(WizardDuplicateRun, KeepOneClearsEmptyCellsOfHiddenRows) {
  fillAndSelect(*this, {y, kEmpty, x, kEmpty, x});
  host->setFill({2, 1}, kYellow);
  host->setFill({4, 1}, kYellow);
  run(true, false, false, 3);
  EXPECT_EQ(columnA(5), (std::vector<Value>{y, kEmpty, x, kEmpty, kEmpty}));
  EXPECT_EQ(host->fill({4, 1}), std::nullopt) << "the filter hid row 4";
  EXPECT_EQ(host->fill({2, 1}), kYellow) << "row 2 stayed visible";
}

TEST_F(WizardDuplicateRun, KeepOneLeavesRowsTheUserHidBeforeTheRun) {
  fillAndSelect(*this, {y, x, kEmpty, kEmpty, x});
  host->setFill({4, 1}, kYellow);
  host->setRowHidden(4, true);
  run(true, false, false, 3);
  EXPECT_EQ(host->fill({4, 1}), kYellow);
  EXPECT_EQ(valueAt(5, 1), kEmpty);
}

TEST_F(WizardDuplicateRun, StopDuringTheFirstPassSkipsTheSecond) {
  fillAndSelect(*this, {x, y, x, z, x});
  toolkit.scheduleDuringYield(2, [&](memory::HeadlessToolkit&) {
    module.runOptions.stopRequested = true;  // the wizard's run button, captioned "Stop!"
  });
  run(false, true, false, 5);
  EXPECT_EQ(columnA(5), (std::vector<Value>{x, y, x, z, kEmpty}));
  EXPECT_FALSE(wizard.loaded());
}

TEST_F(WizardDuplicateRun, TheStopFlagIsTheCallersToClear) {
  fillAndSelect(*this, {x, y, x, z, x});
  module.runOptions.stopRequested = true;
  run(false, true, false, 5);
  EXPECT_EQ(columnA(5), (std::vector<Value>{x, y, x, z, kEmpty})) << "one step, then stop";
  EXPECT_EQ(toolkit.yields(), 1u);
}

}  // namespace
}  // namespace qmv
