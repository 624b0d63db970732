// Workbooks, sheets, cell values, typed input, used range, clearing, SpecialCells and
// Intersect of the in-memory host.
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "memory_fixture.hpp"

namespace qmv::memory {
namespace {

TEST(MemoryWorkbooks, StartsWithoutWorkbook) {
  MemoryApplication host;
  EXPECT_EQ(host.workbooksCount(), 0);
  EXPECT_EQ(host.activeWorkbook(), nullptr);
  EXPECT_EQ(host.activeSheet(), nullptr);
  EXPECT_EQ(errorNumberOf([&] { host.selection(); }), host_errors::kObjectNotSet);
  EXPECT_EQ(errorNumberOf([&] { host.range(u"A1"); }), host_errors::kRefused);
}

TEST(MemoryWorkbooks, NewWorkbookHasActiveSheet1WithA1Selected) {
  MemoryApplication host;
  EXPECT_EQ(host.addWorkbook(), u"Book1");
  EXPECT_EQ(host.workbooksCount(), 1);
  EXPECT_EQ(host.activeWorkbook()->name(), u"Book1");
  EXPECT_EQ(host.activeSheet()->name(), u"Sheet1");
  EXPECT_EQ(host.selection()->address(), u"$A$1");
  EXPECT_EQ(host.addWorkbook(), u"Book2");
  EXPECT_EQ(host.activeWorkbook()->name(), u"Book2");
}

TEST(MemoryWorkbooks, ActivateSwitchesWorkbookAndSheet) {
  MemoryApplication host;
  host.addWorkbook();
  host.addSheet(u"Sheet2");
  EXPECT_EQ(host.activeSheetName(), u"Sheet1");
  auto sheet1 = host.activeSheet();
  auto book1 = host.activeWorkbook();
  host.activateSheet({u"Sheet2", {}});
  host.setCell({1, 1}, constantOf(Value{u"on 2"}));
  EXPECT_EQ(host.activeSheet()->name(), u"Sheet2");
  host.addWorkbook();
  EXPECT_EQ(host.activeWorkbookName(), u"Book2");
  book1->activate();
  sheet1->activate();
  EXPECT_EQ(host.activeWorkbookName(), u"Book1");
  EXPECT_EQ(host.activeSheetName(), u"Sheet1");
  EXPECT_EQ(host.cell({1, 1}).value, Value{});
  EXPECT_EQ(host.cell({u"Sheet2", u"Book1"}, {1, 1}).value, Value{u"on 2"});
}

TEST(MemoryWorkbooks, HandlesOfAClosedWorkbookFail) {
  MemoryApplication host;
  host.addWorkbook();
  auto book = host.activeWorkbook();
  auto sheet = host.activeSheet();
  auto cell = host.range(u"A1");
  host.closeWorkbooks();
  EXPECT_EQ(host.workbooksCount(), 0);
  EXPECT_NE(errorNumberOf([&] { book->activate(); }), 0);
  EXPECT_NE(errorNumberOf([&] { sheet->activate(); }), 0);
  EXPECT_NE(errorNumberOf([&] { cell->value(); }), 0);
  EXPECT_EQ(host.activeWorkbook(), nullptr);
}

class MemoryCellsTest : public MemoryHostTest {};

TEST_F(MemoryCellsTest, ValueAssignmentIsReadAsTypedInput) {
  struct Row {
    std::u16string typed;
    Value stored;
  };
  const std::vector<Row> rows{
      {u"007", Value{7.0}},
      {u"TRUE", Value{true}},
      {u"true", Value{true}},
      {u"50%", Value{0.5}},
      {u"1/2/2007", Value{DateTime{39084}}},
      {u"1/2", Value{DateTime{39084}}},
      {u"=x", Value{u"=x"}},
      {u"=SUM(A1:A3)", Value{u"=SUM(A1:A3)"}},
      // A result starting with an apostrophe keeps it, as the Excel bridge writes it.
      {u"'007", Value{u"'007"}},
      {u"abc", Value{u"abc"}},
      {u"1,234", Value{1234.0}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(u8(row.typed));
    range(u"B2")->setValue(Value{row.typed});
    EXPECT_EQ(at(u"B2"), row.stored);
    EXPECT_FALSE(host->cell(ref(u"B2")).isFormula());
  }
}

TEST_F(MemoryCellsTest, EmptyTextEmptiesTheCell) {
  put(u"A1", Value{u"x"});
  range(u"A1")->setValue(Value{u""});
  EXPECT_EQ(at(u"A1"), Value{});
  EXPECT_EQ(host->worksheetFunction().countA(*range(u"A1")), 0);
}

TEST_F(MemoryCellsTest, NonTextValuesAreStoredAsTheyAre) {
  range(u"A1")->setValue(Value{2.5});
  range(u"A2")->setValue(Value{false});
  range(u"A3")->setValue(Value{CellError::NA});
  range(u"A4")->setValue(Value{DateTime{39084}});
  EXPECT_EQ(
      host->columnValues({1, 1}, 4),
      (std::vector<Value>{Value{2.5}, Value{false}, Value{CellError::NA}, Value{DateTime{39084}}}));
}

TEST_F(MemoryCellsTest, ACellHoldsAtMost32767Characters) {
  put(u"A1", Value{u"keep"});
  const std::u16string longest(kMaxCellChars, u'x');
  const std::u16string tooLong(kMaxCellChars + 1, u'x');
  EXPECT_EQ(errorNumberOf([&] { range(u"A1")->setValue(Value{tooLong}); }), host_errors::kRefused);
  EXPECT_EQ(at(u"A1"), Value{u"keep"});
  EXPECT_EQ(errorNumberOf([&] { range(u"A1")->setContent(constantOf(Value{tooLong})); }),
            host_errors::kRefused);
  EXPECT_EQ(at(u"A1"), Value{u"keep"});
  range(u"A1")->setValue(Value{longest});
  EXPECT_EQ(at(u"A1"), Value{longest});
}

TEST_F(MemoryCellsTest, SetContentWritesExactly) {
  range(u"A1")->setContent(constantOf(Value{u"007"}));
  range(u"A2")->setContent(CellContent{Value{4.0}, u"=A3*2"});
  EXPECT_EQ(at(u"A1"), Value{u"007"});
  EXPECT_EQ(host->cell(ref(u"A2")), (CellContent{Value{4.0}, u"=A3*2"}));
}

TEST_F(MemoryCellsTest, FormulaNotationReadAndWritten) {
  range(u"A1")->setFormula(u"=A2+1");
  EXPECT_EQ(host->cell(ref(u"A1")), (CellContent{Value{}, u"=A2+1"}));
  EXPECT_EQ(range(u"A1")->formula(), u"=A2+1");
  range(u"A1")->setFormula(u"007");
  EXPECT_EQ(at(u"A1"), Value{7.0});
  range(u"A1")->setFormula(u"#DIV/0!");
  EXPECT_EQ(at(u"A1"), Value{CellError::Div0});
  put(u"B1", Value{1234.5});
  EXPECT_EQ(range(u"B1")->formula(), u"1234.5");
}

TEST_F(MemoryCellsTest, FormulaTextRestoresEveryConstant) {
  const std::vector<Value> values{Value{u"007"}, Value{u"=x"},        Value{u"abc"},
                                  Value{true},   Value{1234.5},       Value{DateTime{39084.25}},
                                  Value{u"'a"},  Value{CellError::NA}};
  for (const auto& v : values) {
    put(u"C3", v);
    const std::u16string notation = range(u"C3")->formula();
    SCOPED_TRACE(u8(notation));
    host->setCell(ref(u"C3"), {});
    range(u"C3")->setFormula(notation);
    EXPECT_EQ(host->cell(ref(u"C3")), constantOf(v));
  }
}

TEST_F(MemoryCellsTest, SetValueWritesEveryCellOfEveryArea) {
  range(u"A1:B2,D4")->setValue(Value{u"5"});
  for (auto a1 : {u"A1", u"B1", u"A2", u"B2", u"D4"}) EXPECT_EQ(at(a1), Value{5.0});
  EXPECT_EQ(at(u"C3"), Value{});
}

TEST_F(MemoryCellsTest, SetCellValueWritesOneCellOfTheFirstArea) {
  auto r = range(u"B2:B10");
  r->setCellValue(3, 1, Value{u"007"});
  EXPECT_EQ(at(u"B4"), Value{7.0});
  EXPECT_EQ(errorNumberOf([&] { r->setCellValue(0, -1, Value{1.0}); }), host_errors::kRefused);
}

TEST_F(MemoryCellsTest, SetColumnValuesTypesEachCellAsSetCellValueInOneCall) {
  const std::vector<Value> values = {Value{u"007"},       Value{u"abc"}, Value{u"TRUE"},
                                     Value{u"3/12/2024"}, Value{2.5},    Value{u""},
                                     Value{u"-x"}};
  auto r = range(u"B2:C20");
  for (std::size_t i = 0; i < values.size(); ++i) {
    r->setCellValue(static_cast<int64_t>(i) + 2, 2, values[i]);
  }
  const uint64_t before = host->hostCallCount();
  r->setColumnValues(2, 1, values);
  EXPECT_EQ(host->hostCallCount() - before, 1U);
  for (std::size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(i);
    const auto row = static_cast<int64_t>(i) + 3;
    EXPECT_EQ(host->cell({row, 2}), host->cell({row, 3}));
  }
  EXPECT_EQ(at(u"B2"), Value{});
  EXPECT_EQ(at(u"B10"), Value{});
}

TEST_F(MemoryCellsTest, SetColumnValuesStopsAtACellItRefuses) {
  struct Row {
    const char* name;
    int64_t row;
    Value first;  // what the first cell holds after the refusal
  };
  const Row rows[] = {{"a cell too long: the cell before is written", 1, Value{u"kept"}},
                      {"beyond the last row: nothing is written", kMaxRows, Value{}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::vector<Value> values = {Value{u"kept"},
                                       Value{std::u16string(kMaxCellChars + 1, u'x')}};
    EXPECT_EQ(errorNumberOf([&] { range(u"A1")->setColumnValues(row.row, 1, values); }),
              host_errors::kRefused);
    EXPECT_EQ(host->cell({row.row, 1}).value, row.first);
    if (row.row < kMaxRows) {
      EXPECT_EQ(host->cell({row.row + 1, 1}), CellContent{});
    }
  }
}

// Collects what a column write reports, by cell.
struct CollectedReport final : WriteReport {
  std::vector<std::optional<Value>> held;
  explicit CollectedReport(std::size_t size) : held(size) {}
  void holds(std::size_t index, const Value& value) override { held.at(index) = value; }
};

TEST_F(MemoryCellsTest, SetColumnValuesReportedTellsWhatAReadReturns) {
  struct Row {
    const char* name;
    CellContent before;  // what the cell held before the write
    Value written;
  };
  const Row rows[] = {
      {"a text stays text", constantOf(Value{u"x1"}), Value{u"abc"}},
      {"a text of digits is typed as a number", constantOf(Value{u"a7"}), Value{u"007"}},
      {"a truth value", constantOf(Value{u"x"}), Value{u"TRUE"}},
      {"a date", constantOf(Value{u"x"}), Value{u"3/12/2024"}},
      {"punctuation", constantOf(Value{u"+1 (2)"}), Value{u"+ ()"}},
      {"the empty text leaves no value", constantOf(Value{u"12"}), Value{u""}},
      {"over a formula", CellContent{Value{2.0}, u"=1+1"}, Value{u"left"}},
      {"a number", constantOf(Value{u"n"}), Value{2.5}},
      {"a text into an empty cell", CellContent{}, Value{u"new"}},
      {"a text below it", constantOf(Value{u"old"}), Value{u"next"}},
  };
  std::vector<Value> values;
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    host->setCell({static_cast<int64_t>(i) + 1, 2}, rows[i].before);
    values.push_back(rows[i].written);
  }
  host->setFill({6, 2}, 0xff0000u);  // a cell kept by its fill once its value goes
  CollectedReport report(values.size());
  range(u"B1")->setColumnValuesReported(1, 1, values, report);
  const CellBlock read = range(u"B1:B10")->readBlock();
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].name);
    ASSERT_TRUE(report.held[i].has_value());
    EXPECT_FALSE(read.cells[i].isFormula());
    EXPECT_EQ(*report.held[i], read.cells[i].value);
  }
}

TEST_F(MemoryCellsTest, SetColumnValuesReportedTellsNothingOnARefusal) {
  const std::vector<Value> values = {Value{u"kept"},
                                     Value{std::u16string(kMaxCellChars + 1, u'x')}};
  CollectedReport report(values.size());
  EXPECT_EQ(errorNumberOf([&] { range(u"A1")->setColumnValuesReported(1, 1, values, report); }),
            host_errors::kRefused);
  EXPECT_FALSE(report.held[0].has_value());
  EXPECT_FALSE(report.held[1].has_value());
}

TEST_F(MemoryCellsTest, RangeGeometryAndAddresses) {
  auto r = range(u"B2:D5,F1");
  EXPECT_EQ(r->count(), 13);
  EXPECT_EQ(r->rowsCount(), 4);
  EXPECT_EQ(r->columnsCount(), 3);
  EXPECT_EQ(r->topLeft(), (CellRef{2, 2}));
  EXPECT_EQ(r->address(), u"$B$2:$D$5,$F$1");
  EXPECT_EQ(r->column(2)->address(), u"$C$2:$C$5");
  EXPECT_EQ(r->cell(2, 3)->address(), u"$D$3");
  EXPECT_EQ(r->areas().size(), 2U);
  EXPECT_EQ(r->areas()[1]->address(), u"$F$1");
  EXPECT_EQ(r->worksheet()->name(), u"Sheet1");
  EXPECT_EQ(range(u"A:A")->count(), kMaxRows);
  EXPECT_EQ(errorNumberOf([&] { range(u"nonsense"); }), host_errors::kRefused);
}

TEST_F(MemoryCellsTest, ReadBlockGivesTheFirstAreaInOneCall) {
  put(u"B2", Value{u"a"});
  host->setCell(ref(u"C3"), CellContent{Value{2.0}, u"=1+1"});
  auto r = range(u"B2:C3,E5");
  const uint64_t before = host->hostCallCount();
  const CellBlock block = r->readBlock();
  EXPECT_EQ(host->hostCallCount() - before, 1U);
  EXPECT_EQ(block.area, (AreaRef{{2, 2}, {3, 3}}));
  ASSERT_EQ(block.cells.size(), 4U);
  EXPECT_EQ(block.at(0, 0).value, Value{u"a"});
  EXPECT_EQ(block.at(0, 1), CellContent{});
  EXPECT_EQ(block.at(1, 1), (CellContent{Value{2.0}, u"=1+1"}));
}

TEST_F(MemoryCellsTest, UsedRangeIsTheBoxOfContentAndFormats) {
  EXPECT_EQ(host->activeSheet()->usedRange()->address(), u"$A$1");
  put(u"C2", Value{1.0});
  EXPECT_EQ(host->activeSheet()->usedRange()->address(), u"$C$2");
  put(u"B5", Value{u"x"});
  host->setFill(ref(u"E3"), 0xFF0000);
  EXPECT_EQ(host->activeSheet()->usedRange()->address(), u"$B$2:$E$5");
  range(u"E3")->clear();
  range(u"B5")->clear();
  EXPECT_EQ(host->usedRangeAddress(), u"$C$2");
  range(u"C2")->clear();
  EXPECT_EQ(host->usedRangeAddress(), u"$A$1");
}

TEST_F(MemoryCellsTest, ClearRemovesValueAndFill) {
  put(u"A1", Value{u"x"});
  host->setFill(ref(u"A1"), 0x00FFFF);
  host->setCell(ref(u"A2"), CellContent{Value{1.0}, u"=1"});
  host->setFill(ref(u"A3"), 0x00FF00);
  range(u"A1:A3")->clear();
  EXPECT_EQ(host->cell(ref(u"A1")), CellContent{});
  EXPECT_EQ(host->fill(ref(u"A1")), std::nullopt);
  EXPECT_EQ(host->cell(ref(u"A2")), CellContent{});
  EXPECT_EQ(host->fill(ref(u"A3")), std::nullopt);
}

TEST_F(MemoryCellsTest, AssigningEmptyKeepsTheFill) {
  put(u"A1", Value{u"x"});
  host->setFill(ref(u"A1"), 0x00FFFF);
  range(u"A1")->setValue(Value{});
  EXPECT_EQ(at(u"A1"), Value{});
  EXPECT_EQ(host->fill(ref(u"A1")), 0x00FFFFU);
}

TEST_F(MemoryCellsTest, SelectionAreasAndNonCells) {
  host->select(u"A1:A3,C1:C3");
  EXPECT_EQ(host->selection()->address(), u"$A$1:$A$3,$C$1:$C$3");
  host->selectNonCells();
  EXPECT_EQ(errorNumberOf([&] { host->selection(); }), host_errors::kTypeMismatch);
  EXPECT_EQ(host->selectionAddress(), u"");
  EXPECT_THROW(host->select(u"A0"), std::invalid_argument);
}

TEST_F(MemoryCellsTest, SpecialCellsKeepsConstantsOnly) {
  put(u"A1", Value{u"a"});
  host->setCell(ref(u"A2"), CellContent{Value{1.0}, u"=1"});
  put(u"A3", Value{3.0});
  put(u"A4", Value{u""});
  put(u"A6", Value{CellError::NA});
  auto constants = range(u"A1:A10")->specialCells(xl::kCellTypeConstants);
  EXPECT_EQ(enumerate(*constants),
            (std::vector<std::u16string>{u"$A$1", u"$A$3", u"$A$4", u"$A$6"}));
}

// A column whose rows hold constants from its first to its last is answered without a
// walk; anything between them that is not a constant must still split the areas.
TEST_F(MemoryCellsTest, SpecialCellsOfOneColumnSplitsAtEveryNonConstant) {
  const struct Row {
    const char* name;
    const char16_t* gap;  ///< what happens to A4 of the constants A2:A6
    const char16_t* selected;
    const char16_t* expected;
  } rows[] = {
      {"every row a constant", u"", u"A1:A10", u"$A$2:$A$6"},
      {"selection inside the constants", u"", u"A3:A5", u"$A$3:$A$5"},
      {"selection across the top", u"", u"A1:A3", u"$A$2:$A$3"},
      {"a formula between", u"formula", u"A1:A10", u"$A$2:$A$3,$A$5:$A$6"},
      {"a cleared cell between", u"clear", u"A1:A10", u"$A$2:$A$3,$A$5:$A$6"},
      {"a cell with only a fill between", u"fill", u"A1:A10", u"$A$2:$A$3,$A$5:$A$6"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host->activeSheet()->usedRange()->clear();
    for (auto a1 : {u"A2", u"A3", u"A4", u"A5", u"A6"}) put(a1, Value{u"v"});
    const std::u16string gap = row.gap;
    if (gap == u"formula") host->setCell(ref(u"A4"), CellContent{Value{1.0}, u"=1"});
    if (gap == u"clear" || gap == u"fill") range(u"A4")->clear();
    if (gap == u"fill") range(u"A4")->setFormats(CellFormats{u"General", 0x00FFFFu});
    EXPECT_EQ(range(row.selected)->specialCells(xl::kCellTypeConstants)->address(), row.expected);
  }
}

TEST_F(MemoryCellsTest, SpecialCellsThrowsWhenNoConstant) {
  host->setCell(ref(u"A1"), CellContent{Value{1.0}, u"=1"});
  EXPECT_EQ(errorNumberOf([&] { range(u"A1:A5")->specialCells(xl::kCellTypeConstants); }),
            host_errors::kRefused);
  EXPECT_EQ(errorNumberOf([&] { range(u"B1:B5")->specialCells(xl::kCellTypeConstants); }),
            host_errors::kRefused);
}

TEST_F(MemoryCellsTest, SpecialCellsAndIntersectVisitAreaByAreaRowByRow) {
  // Constants around a formula in two areas; the second area lies above the first.
  for (auto a1 : {u"C5", u"D5", u"C6", u"D6", u"A1", u"B1", u"A2"}) put(a1, Value{u"v"});
  host->setCell(ref(u"B2"), CellContent{Value{2.0}, u"=2"});
  host->select(u"C5:D6,A1:B2");
  auto selection = host->selection();
  auto visited = host->intersect(*selection, *selection->specialCells(xl::kCellTypeConstants));
  ASSERT_NE(visited, nullptr);
  EXPECT_EQ(enumerate(*visited), (std::vector<std::u16string>{u"$C$5", u"$D$5", u"$C$6", u"$D$6",
                                                              u"$A$1", u"$B$1", u"$A$2"}));
}

TEST_F(MemoryCellsTest, OverlappingAreasAreVisitedOnce) {
  for (auto a1 : {u"A1", u"B1", u"A2", u"B2", u"C2", u"B3", u"C3"}) put(a1, Value{u"v"});
  host->select(u"A1:B2,B2:C3");
  auto selection = host->selection();
  auto visited = host->intersect(*selection, *selection->specialCells(xl::kCellTypeConstants));
  auto cells = enumerate(*visited);
  EXPECT_EQ(cells.size(), 7U);
  EXPECT_EQ(std::count(cells.begin(), cells.end(), u"$B$2"), 1);
}

TEST_F(MemoryCellsTest, WholeColumnVisitsOnlyStoredCells) {
  put(u"B3", Value{u"x"});
  put(u"B1000", Value{u"y"});
  host->setCell(ref(u"B500"), CellContent{Value{1.0}, u"=1"});
  put(u"C3", Value{u"other column"});
  host->select(u"B:B");
  auto selection = host->selection();
  EXPECT_EQ(selection->count(), kMaxRows);
  auto visited = host->intersect(*selection, *selection->specialCells(xl::kCellTypeConstants));
  EXPECT_EQ(enumerate(*visited), (std::vector<std::u16string>{u"$B$3", u"$B$1000"}));
  EXPECT_EQ(host->worksheetFunction().countA(*selection), 3);
  auto working = host->intersect(*selection, *host->activeSheet()->usedRange());
  EXPECT_EQ(working->address(), u"$B$3:$B$1000");
}

TEST_F(MemoryCellsTest, ColumnBlocksStayOneArea) {
  for (int64_t r = 1; r <= 50; ++r) host->setCell({r, 1}, constantOf(Value{1.0}));
  host->setCell(ref(u"A20"), CellContent{Value{1.0}, u"=1"});
  auto constants = range(u"A:A")->specialCells(xl::kCellTypeConstants);
  EXPECT_EQ(constants->address(), u"$A$1:$A$19,$A$21:$A$50");
}

TEST_F(MemoryCellsTest, IntersectOfDisjointRangesIsNothing) {
  EXPECT_EQ(host->intersect(*range(u"A1:B2"), *range(u"C3:D4")), nullptr);
  EXPECT_EQ(host->intersect(*range(u"A1:C3"), *range(u"B2:D4"))->address(), u"$B$2:$C$3");
  host->addSheet(u"Sheet2");
  auto other = host->activeSheet();
  host->activateSheet({u"Sheet2", {}});
  EXPECT_EQ(errorNumberOf([&] { host->intersect(*range(u"A1"), *other->range(u"A1")); }),
            host_errors::kRefused);
}

TEST_F(MemoryCellsTest, VisibleCellsSkipHiddenRows) {
  host->setRowHidden(3, true);
  host->setRowHidden(4, true);
  EXPECT_EQ(range(u"A1:B6")->specialCells(xl::kCellTypeVisible)->address(), u"$A$1:$B$2,$A$5:$B$6");
  EXPECT_TRUE(range(u"A3")->entireRowHidden());
  EXPECT_FALSE(range(u"A5")->entireRowHidden());
}

TEST_F(MemoryCellsTest, WritingUpwardsAndFarApartKeepsEveryCell) {
  for (int64_t r = 2000; r >= 1; --r) host->setCell({r, 1}, constantOf(Value{double(r)}));
  host->setCell({100000, 1}, constantOf(Value{u"far"}));
  EXPECT_EQ(host->cell({1, 1}).value, Value{1.0});
  EXPECT_EQ(host->cell({1500, 1}).value, Value{1500.0});
  EXPECT_EQ(host->cell({100000, 1}).value, Value{u"far"});
  EXPECT_EQ(host->usedRangeAddress(), u"$A$1:$A$100000");
  EXPECT_EQ(host->worksheetFunction().countA(*range(u"A:A")), 2001);
}

}  // namespace
}  // namespace qmv::memory
