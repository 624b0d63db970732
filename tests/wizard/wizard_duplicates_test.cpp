#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/undo.hpp"
#include "wizard/wizard_fixture.hpp"

namespace qmv::testing {
namespace {

class WizardDuplicates : public WizardFixture {
 protected:
  /// Queues list mode with the value operation `index` (8, 9 or 10) and the run.
  void runOperation(int index) {
    user.toggle("CheckBox1").choose("cmbAN", index).press("CommandButton1");
    openWizard();
  }
  std::vector<std::u16string> texts(int64_t rows) const {
    std::vector<std::u16string> out;
    for (int64_t r = 1; r <= rows; ++r) out.push_back(textAt(r));
    return out;
  }
};

constexpr int kKeepOne = 8;
constexpr int kAllDuplicates = 9;
constexpr int kUniqueValues = 10;

TEST_F(WizardDuplicates, TwoColumnsAreRefusedForEveryValueOperation) {
  for (int operation : {kKeepOne, kAllDuplicates, kUniqueValues}) {
    SCOPED_TRACE(operation);
    host->setColumn({1, 1}, {Value{u"x"}, Value{u"y"}, Value{u"x"}});
    host->setColumn({1, 2}, {Value{u"x"}, Value{u"z"}, Value{u"z"}});
    host->select(u"A1:B3");
    const std::size_t before = toolkit.messages().size();
    runOperation(operation);
    ASSERT_EQ(toolkit.messages().size(), before + 1);
    EXPECT_EQ(toolkit.messages().back().text, u"Please Select Single Column!");
    EXPECT_FALSE(wizard().loaded());
    EXPECT_EQ(texts(3), (std::vector<std::u16string>{u"x", u"y", u"x"}));
    EXPECT_EQ(textAt(2, 2), u"z");
    EXPECT_EQ(textAt(3, 2), u"z");
    EXPECT_EQ(host->runSettings().calculation, xl::kCalculationAutomatic);
    EXPECT_TRUE(host->runSettings().screenUpdating);
  }
}

struct ModeRow {
  const char* name;
  int operation;
  std::vector<std::u16string> column;
  std::vector<std::u16string> expected;
};

TEST_F(WizardDuplicates, ClearsAsTheMenuCommandsDo) {
  const ModeRow rows[] = {
      {"all duplicates",
       kAllDuplicates,
       {u"x", u"y", u"x", u"z", u"x"},
       {u"", u"y", u"", u"z", u""}},
      {"unique values", kUniqueValues, {u"x", u"y", u"x", u"z"}, {u"x", u"", u"x", u""}},
      {"keep one", kKeepOne, {u"y", u"x", u"z", u"x"}, {u"y", u"x", u"z", u""}},
  };
  for (const ModeRow& row : rows) {
    SCOPED_TRACE(row.name);
    column(row.column);
    runOperation(row.operation);
    EXPECT_EQ(texts(static_cast<int64_t>(row.column.size())), row.expected);
    EXPECT_FALSE(wizard().loaded());
    EXPECT_TRUE(toolkit.messages().empty());
    EXPECT_NE(module.undoSnapshot, nullptr) << "the cleared cells are recorded";
    // The wizard's end renews the bindings and restores the host on this path too.
    EXPECT_TRUE(host->undoBinding().has_value());
    EXPECT_EQ(host->runSettings().calculation, xl::kCalculationAutomatic);
    EXPECT_TRUE(host->runSettings().statusBar.empty());
    EXPECT_TRUE(host->runSettings().screenUpdating);
    EXPECT_EQ(control("CommandButton1").caption(), u"Stop!");
  }
}

TEST_F(WizardDuplicates, ValueEntryRunsEvenAfterTheModeSwitchIsCleared) {
  column({u"x", u"y", u"x", u"z", u"x"});
  user.toggle("CheckBox1")
      .choose("cmbAN", kAllDuplicates)
      .toggle("CheckBox1")
      .press("CommandButton1");
  openWizard();
  EXPECT_EQ(texts(5), (std::vector<std::u16string>{u"", u"y", u"", u"z", u""}));
}

TEST_F(WizardDuplicates, KeepOneClearsValueAndFillOfARepeatedRow) {
  column({u"y", u"x", u"z", u"x"});
  host->setFill({4, 1}, 0xFF0000);
  host->setFill({2, 1}, 0x00FF00);
  runOperation(kKeepOne);
  EXPECT_EQ(texts(4), (std::vector<std::u16string>{u"y", u"x", u"z", u""}));
  EXPECT_FALSE(host->fill({4, 1}).has_value());
  EXPECT_EQ(host->fill({2, 1}), 0x00FF00u);
  EXPECT_FALSE(host->filterActive());
  for (int64_t r = 1; r <= 4; ++r) EXPECT_FALSE(host->rowHidden(r));
}

TEST_F(WizardDuplicates, KeepOneClearsTheFillOfAnEmptyCellInAHiddenRow) {
  // Rows 2 and 4 are both empty; the filter hides row 4 as a repeat of row 2.
  host->setColumn({1, 1}, {Value{u"y"}, Value{}, Value{u"x"}, Value{}, Value{u"z"}});
  host->setFill({2, 1}, 0x00FF00);
  host->setFill({4, 1}, 0xFF0000);
  host->select(u"A1:A5");
  runOperation(kKeepOne);
  EXPECT_EQ(texts(5), (std::vector<std::u16string>{u"y", u"", u"x", u"", u"z"}));
  EXPECT_FALSE(host->fill({4, 1}).has_value());
  EXPECT_EQ(host->fill({2, 1}), 0x00FF00u);
  EXPECT_FALSE(host->filterActive());
}

TEST_F(WizardDuplicates, StopDuringTheFirstPassOfAllDuplicates) {
  column({u"x", u"y", u"x", u"z", u"x"});
  toolkit.scheduleStop(1);
  runOperation(kAllDuplicates);
  // Only the bottom x went in the first step; the second pass never ran.
  EXPECT_EQ(texts(5), (std::vector<std::u16string>{u"x", u"y", u"x", u"z", u""}));
  EXPECT_FALSE(wizard().loaded());
  EXPECT_TRUE(host->runSettings().screenUpdating);
}

TEST_F(WizardDuplicates, EmptySingleColumnEndsAsEmpty) {
  host->select(u"D1:D4");
  runOperation(kUniqueValues);
  ASSERT_EQ(toolkit.messages().size(), 1u);
  EXPECT_EQ(toolkit.messages()[0].text, u"Selection is Empty!");
  EXPECT_FALSE(wizard().loaded());
}

TEST_F(WizardDuplicates, UndoPutsBackWhatEachModeCleared) {
  const CellFormats dressed{u"0.00", 0xFFFF00, 0xFF0000};
  const ModeRow rows[] = {
      {"keep one", kKeepOne, {u"y", u"x", u"z", u"x"}, {u"y", u"x", u"z", u""}},
      {"all duplicates", kAllDuplicates, {u"x", u"y", u"x", u"z"}, {u"", u"y", u"", u"z"}},
      {"unique values", kUniqueValues, {u"x", u"y", u"x", u"z"}, {u"x", u"", u"x", u""}},
  };
  for (const ModeRow& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<Value> values(row.column.begin(), row.column.end());
    host->setColumn({1, 1}, values);
    for (int64_t r = 1; r <= 4; ++r) host->setFormats({r, 1}, r == 4 ? dressed : CellFormats{});
    host->select(u"A1:A4");
    runOperation(row.operation);
    ASSERT_EQ(texts(4), row.expected);
    UndoLastRun(module);
    EXPECT_EQ(texts(4), row.column);
    EXPECT_EQ(host->formats({4, 1}), dressed);
  }
}

}  // namespace
}  // namespace qmv::testing
