// Value removals from the menu over the in-memory host: selections of several areas, and
// the undo of what a run cleared (values and formats).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "addin/entry_points.hpp"
#include "engine/undo.hpp"
#include "support/engine_fixture.hpp"

namespace qmv {
namespace {

using testing::EngineFixture;
using testing::text;

const Value kEmpty{};
const Value x = text(u"x");
const Value y = text(u"y");
const Value z = text(u"z");

class ValueRunAreas : public EngineFixture {
 protected:
  std::vector<Value> columnA(int64_t rows) const { return host->columnValues({1, 1}, rows); }
};

struct AreasRow {
  const char* name;
  void (*command)(AddinModule&);
  std::u16string selection;
  std::vector<Value> before;  ///< column A from row 1
  std::vector<Value> after;
};

TEST_F(ValueRunAreas, SeveralAreasOfOneColumnAreOneList) {
  const AreasRow rows[] = {
      {"unique: x, y | y, x has no unique value",
       RemoveUniqueValues,
       u"A1:A2,A4:A5",
       {x, y, z, y, x},
       {x, y, z, y, x}},
      {"all duplicates: x, y | y, x are all repeated",
       RemoveAllDuplicates,
       u"A1:A2,A4:A5",
       {x, y, z, y, x},
       {kEmpty, kEmpty, z, kEmpty, kEmpty}},
      {"keep one: the later areas' repeats go",
       RemoveDuplicatesKeepOne,
       u"A1:A2,A4:A5",
       {x, y, z, y, x},
       {x, y, z, kEmpty, kEmpty}},
      {"the list runs top to bottom whatever order the areas were selected in",
       RemoveDuplicatesKeepOne,
       u"A4:A5,A1:A2",
       {x, y, z, x, y},
       {x, y, z, kEmpty, kEmpty}},
      {"overlapping areas count each cell once",
       RemoveUniqueValues,
       u"A1:A3,A2:A4",
       {x, y, x, z},
       {x, kEmpty, x, kEmpty}},
      {"cells outside the areas are not counted",
       RemoveUniqueValues,
       u"A1,A3",
       {x, x, y},
       {kEmpty, x, kEmpty}},
  };
  for (const AreasRow& row : rows) {
    SCOPED_TRACE(row.name);
    host->setColumn({1, 1}, row.before);
    host->select(row.selection);
    runYes(row.command);
    EXPECT_EQ(columnA(static_cast<int64_t>(row.before.size())), row.after);
    EXPECT_TRUE(messages().empty());
    UndoLastRun(module);
    EXPECT_EQ(columnA(static_cast<int64_t>(row.before.size())), row.before) << "undone";
  }
}

TEST_F(ValueRunAreas, AreasInTwoColumnsAreRefused) {
  const char16_t* selections[] = {u"A1:A2,B1:B2", u"A1:A2,A4:B5"};
  for (const char16_t* selection : selections) {
    SCOPED_TRACE(std::string(selection, selection + std::char_traits<char16_t>::length(selection)));
    host->setColumn({1, 1}, {x, x, x, x, x});
    host->setColumn({1, 2}, {x, x, x, x, x});
    host->select(selection);
    runYes(RemoveAllDuplicates);
    ASSERT_FALSE(messages().empty());
    EXPECT_EQ(messages().back(), u"Please Select Single Column!");
    EXPECT_EQ(columnA(5), (std::vector<Value>{x, x, x, x, x}));
  }
}

// --- Undo ----------------------------------------------------------------------------------

const CellFormats kPlain{};
// With other formats (borders, fonts, a comment) that only a kept copy brings back.
const CellFormats kDressed{u"0.00%", 0xFFFF00, 0x0000FF, u"bold; thin border"};
const CellFormats kDate{u"dd/mm/yyyy", std::nullopt, 0x00FF00, u"comment: due"};

struct UndoRow {
  const char* name;
  void (*command)(AddinModule&);
  std::vector<Value> before;
  std::vector<Value> after;
};

class ValueRunUndo : public ValueRunAreas {
 protected:
  /// Column A from `values`, rows 2 and 4 with formats, selected.
  void prepare(const std::vector<Value>& values) {
    host->setColumn({1, 1}, values);
    for (int64_t r = 1; r <= static_cast<int64_t>(values.size()); ++r) {
      host->setFormats({r, 1}, r == 2 ? kDressed : r == 4 ? kDate : kPlain);
    }
    host->select(u"A1:A" + std::u16string(1, static_cast<char16_t>(u'0' + values.size())));
  }
  void expectFormatsBack(std::size_t rows) {
    for (int64_t r = 1; r <= static_cast<int64_t>(rows); ++r) {
      EXPECT_EQ(host->formats({r, 1}), r == 2 ? kDressed : r == 4 ? kDate : kPlain) << r;
    }
  }
};

TEST_F(ValueRunUndo, UndoPutsBackValuesAndFormats) {
  const UndoRow rows[] = {
      {"keep one", RemoveDuplicatesKeepOne, {y, x, z, x, y}, {y, x, z, kEmpty, kEmpty}},
      {"all duplicates", RemoveAllDuplicates, {x, y, x, z, x}, {kEmpty, y, kEmpty, z, kEmpty}},
      {"unique values",
       RemoveUniqueValues,
       {x, y, x, z, Value{12.5}},
       {x, kEmpty, x, kEmpty, kEmpty}},
  };
  for (const UndoRow& row : rows) {
    SCOPED_TRACE(row.name);
    prepare(row.before);
    runYes(row.command);
    ASSERT_EQ(columnA(5), row.after);
    UndoLastRun(module);
    EXPECT_EQ(columnA(5), row.before);
    expectFormatsBack(5);
    EXPECT_TRUE(messages().empty());
    UndoLastRun(module);
    EXPECT_EQ(columnA(5), row.before) << "undo twice is undo once";
    expectFormatsBack(5);
  }
}

TEST_F(ValueRunUndo, AFormulaComesBackAsAFormula) {
  host->setColumn({1, 1}, {x, x});
  host->setCell({3, 1}, CellContent{x, u"=A1"});
  host->select(u"A1:A3");
  runYes(RemoveAllDuplicates);
  EXPECT_EQ(host->cell({3, 1}), CellContent{}) << "the formula's value repeats x";
  UndoLastRun(module);
  EXPECT_EQ(host->cell({3, 1}).formula, u"=A1");
}

TEST_F(ValueRunUndo, CellsChangedAfterTheRunAreLeftAlone) {
  prepare({x, y, x, z, y});
  runYes(RemoveAllDuplicates);
  host->setCell({3, 1}, CellContent{text(u"typed later"), {}});
  UndoLastRun(module);
  EXPECT_EQ(columnA(5), (std::vector<Value>{x, y, text(u"typed later"), z, y}));
  EXPECT_EQ(messages(), std::vector<std::u16string>{keptChangesText(1)});
}

TEST_F(ValueRunUndo, AStoppedRunUndoesWhatItCleared) {
  prepare({x, y, x, z, x});
  toolkit.scheduleStop(2);  // the bottom two rows are done: one cleared
  runYes(RemoveAllDuplicates);
  EXPECT_EQ(columnA(5), (std::vector<Value>{x, y, x, z, kEmpty}));
  ASSERT_TRUE(module.undoSnapshot);
  EXPECT_EQ(module.undoSnapshot->size(), 1u);
  UndoLastRun(module);
  EXPECT_EQ(columnA(5), (std::vector<Value>{x, y, x, z, x}));
}

TEST_F(ValueRunUndo, TheRecordReplacesThePreviousRunsAndBindsTheUndo) {
  host->setColumn({1, 2}, {text(u"a1")});
  host->select(u"B1");
  runYes(RemoveNumbers);
  prepare({x, x});
  runYes(RemoveUniqueValues);  // nothing to clear, yet a new record
  ASSERT_TRUE(module.undoSnapshot);
  EXPECT_TRUE(module.undoSnapshot->empty());
  UndoLastRun(module);
  EXPECT_EQ(host->cell({1, 2}).value, text(u"a")) << "the character run is no longer undone";
}

TEST_F(ValueRunUndo, EachClearedCellKeepsItsOwnFormats) {
  std::vector<Value> values;
  for (int i = 0; i < 9; ++i) values.push_back(x);
  host->setColumn({1, 1}, values);
  host->setFormats({5, 1}, kDressed);
  host->select(u"A1:A9");
  runYes(RemoveAllDuplicates);
  ASSERT_TRUE(module.undoSnapshot);
  EXPECT_EQ(module.undoSnapshot->size(), 9u);
  // The record holds the parts it can put back itself; the other formats are the kept
  // copy's to bring back.
  for (const auto& [index, expected] : {std::pair{std::size_t{4}, kDressed}, {0, kPlain}}) {
    SCOPED_TRACE(index);
    const std::optional<CellFormats> got = module.undoSnapshot->formats(index);
    ASSERT_TRUE(got);
    EXPECT_EQ(withKnownParts(expected, *got), expected);
    EXPECT_FALSE(got->known(kOtherFormatsPart));
  }
  UndoLastRun(module);
  EXPECT_EQ(host->formats({5, 1}), kDressed);
}

}  // namespace
}  // namespace qmv
