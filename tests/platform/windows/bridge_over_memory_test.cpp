// The Excel bridge over the in-memory workbook behind the test automation object: the
// number of Excel calls a character run makes, and the advanced filter's header row.
#include <gtest/gtest.h>

#include "addin/addin_module.hpp"
#include "commands/frm_prg_bar.hpp"
#include "commands/operation_codes.hpp"
#include "engine/character_removal.hpp"
#include "host/text.hpp"
#include "memory_excel.hpp"
#include "platform/memory/headless_toolkit.hpp"
#include "platform/memory/recorded_shell.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/excel_host.hpp"

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

  ComApartment apartment_;
  std::shared_ptr<memory::MemoryApplication> host_ = std::make_shared<memory::MemoryApplication>();
  fake::MemoryExcel excel_{host_};
  ApplicationPtr app_;
};

TEST_F(BridgeOverMemoryTest, ACharacterRunCostsAtMostOneAndAHalfExcelCallsPerCell) {
  constexpr int64_t kCells = 10000;
  std::vector<Value> column;
  for (int64_t i = 0; i < kCells; ++i) column.push_back(Value(u"a" + toUtf16(std::to_string(i))));
  host_->setColumn({1, 1}, column);
  host_->select(u"A1:A10000");

  memory::QueuedUser user;
  memory::HeadlessToolkit toolkit{user};
  memory::RecordedShell shell;
  AddinModule module{toolkit, shell};
  module.hostApp = app_;
  frmPrgBar dialog(module);
  module.runOptions.operationCode = u"RNUM";

  const uint64_t before = fake::invokeCount();
  RunCharacterRemoval(module, dialog, Operation::RNUM);
  const uint64_t calls = fake::invokeCount() - before;
  RecordProperty("excel_calls", std::to_string(calls));

  EXPECT_EQ(host_->cell({1, 1}).value, Value(u"a"));
  EXPECT_EQ(host_->cell({kCells, 1}).value, Value(u"a"));
  EXPECT_LE(static_cast<double>(calls), 1.5 * kCells) << calls << " Excel calls";
  // Every rewritten cell is one call at least: the count is not taken from somewhere else.
  EXPECT_GE(calls, static_cast<uint64_t>(kCells));
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

TEST_F(BridgeOverMemoryTest, TheFakeExcelTakesTheFirstRowAsAHeader) {
  // Without the bridge's own step the first row's repeat would stay: the double shows it.
  host_->setColumn({1, 1}, {Value(u"x"), Value(u"y"), Value(u"x")});
  ComPtr<IDispatch> list = asObject(get(excel_.application.get(), L"Range", {u"A1:A3"}));
  call(list.get(), L"AdvancedFilter", {1, Arg::omitted(), Arg::omitted(), true});
  EXPECT_FALSE(host_->rowHidden(1));
  EXPECT_FALSE(host_->rowHidden(2));
  EXPECT_FALSE(host_->rowHidden(3));
}

}  // namespace
}  // namespace qmv::windows
