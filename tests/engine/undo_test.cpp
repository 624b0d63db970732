#include "engine/undo.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "addin/entry_points.hpp"
#include "dialog/frm_prg_bar.hpp"
#include "engine/run.hpp"
#include "host/host_error.hpp"
#include "support/engine_fixture.hpp"

namespace qmv {
namespace {

using testing::EngineFixture;
using testing::LoadedAddin;
using testing::text;

// Formats as the record gives them back: the host's other formats are never recorded.
CellFormats recorded(CellFormats formats) {
  formats.unknown |= kOtherFormatsPart;
  return formats;
}

// --- The record itself ----------------------------------------------------------------------

TEST(UndoSnapshotRecord, KeepsEveryKindOfContentExactly) {
  const std::vector<CellContent> contents{
      {Value{std::u16string(u"007")}, {}},
      {Value{std::u16string(u"TRUE")}, {}},
      {Value{std::u16string(u"=x")}, {}},
      {Value{std::u16string()}, {}},
      {Value{1234567890123456789.0}, {}},
      {Value{-0.0}, {}},
      {Value{true}, {}},
      {Value{DateTime{39083.5}}, {}},
      {Value{CellError::Div0}, {}},
      {Value{}, {}},
      {Value{2.0}, u"=1+1"},
      {Value{std::u16string(40000, u'x')}, {}},
  };
  UndoSnapshot snapshot;
  snapshot.beginBlock(AreaRef{{1, 1}, {static_cast<int64_t>(contents.size()), 1}});
  for (std::size_t i = 0; i < contents.size(); ++i) {
    EXPECT_EQ(RecordUndoEntry(snapshot, {static_cast<int64_t>(i + 1), 1}, contents[i]), i);
  }
  ASSERT_EQ(snapshot.size(), contents.size());
  for (std::size_t i = 0; i < contents.size(); ++i) {
    SCOPED_TRACE(i);
    const UndoEntry entry = snapshot.entry(i);
    // A formula comes back with the value it showed.
    EXPECT_EQ(entry.formula, contents[i]);
    EXPECT_TRUE(snapshot.holdsPrevious(i, contents[i]));
    // Not rewritten: the run left the previous content.
    EXPECT_TRUE(snapshot.holdsRunResult(i, contents[i]));
  }
  EXPECT_EQ(snapshot.entry(0).address, u"$A$1");
  EXPECT_EQ(snapshot.entry(11).address, u"$A$12");
  EXPECT_FALSE(snapshot.holdsPrevious(0, CellContent{Value{7.0}, {}}));
  EXPECT_FALSE(snapshot.holdsPrevious(1, CellContent{Value{true}, {}}));
  EXPECT_FALSE(snapshot.holdsPrevious(2, CellContent{Value{}, u"=x"}));
}

TEST(UndoSnapshotRecord, ABandRecordedAheadKeepsOnlyTheCellsVisited) {
  // A1:B3, row-major; the formulas' shown values are kept apart from the entries.
  CellBlock band{AreaRef{{1, 1}, {3, 2}},
                 {{text(u"a1"), {}},
                  {Value{1.0}, u"=1"},
                  {text(u"b2"), {}},
                  {Value{2.0}, {}},
                  {text(u"c3"), {}},
                  {Value{3.0}, u"=3"}}};
  UndoSnapshot snapshot;
  EXPECT_EQ(snapshot.recordBlock(band), 0U);
  ASSERT_EQ(snapshot.size(), 6U);
  for (std::size_t i = 0; i < band.cells.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(snapshot.cell(i),
              (CellRef{static_cast<int64_t>(i / 2 + 1), static_cast<int64_t>(i % 2 + 1)}));
    EXPECT_EQ(snapshot.previous(i), band.cells[i]);
  }
  // A stop after the third cell: the rest go, and the block ends on row 2.
  snapshot.dropEntriesFrom(3);
  ASSERT_EQ(snapshot.size(), 3U);
  EXPECT_EQ(snapshot.blocks().back().end, 3U);
  EXPECT_EQ(snapshot.blocks().back().bottomRow, 2);
  // Entries recorded afterwards take the places of the dropped ones, their own values too.
  band.cells[2] = {Value{9.0}, u"=9"};
  EXPECT_EQ(snapshot.recordBlock(band), 3U);
  for (std::size_t i = 0; i < band.cells.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(snapshot.previous(3 + i), band.cells[i]);
  }
  EXPECT_EQ(snapshot.previous(1), (CellContent{Value{1.0}, u"=1"}));
}

TEST(UndoSnapshotRecord, TellsTheRunsResultFromALaterChange) {
  UndoSnapshot snapshot;
  snapshot.beginBlock(AreaRef{{1, 1}, {4, 1}});
  const CellContent before{Value{std::u16string(u"a007")}, {}};
  for (int64_t r = 1; r <= 4; ++r) RecordUndoEntry(snapshot, {r, 1}, before);
  snapshot.markWritten(0);
  snapshot.noteResult(0, CellContent{Value{7.0}, {}});
  snapshot.markWritten(1);
  snapshot.noteResult(1, CellContent{Value{std::u16string(u"a")}, {}});
  snapshot.markWritten(2);  // result never read

  EXPECT_TRUE(snapshot.holdsRunResult(0, CellContent{Value{7.0}, {}}));
  EXPECT_FALSE(snapshot.holdsRunResult(0, CellContent{Value{std::u16string(u"7")}, {}}));
  EXPECT_FALSE(snapshot.holdsRunResult(0, CellContent{Value{8.0}, {}}));
  EXPECT_TRUE(snapshot.holdsRunResult(1, CellContent{Value{std::u16string(u"a")}, {}}));
  EXPECT_FALSE(snapshot.holdsRunResult(1, CellContent{Value{std::u16string(u"b")}, {}}));
  EXPECT_FALSE(snapshot.holdsRunResult(1, CellContent{Value{}, {}}));
  EXPECT_FALSE(snapshot.holdsRunResult(1, CellContent{Value{}, u"a"}));
  EXPECT_TRUE(snapshot.holdsRunResult(2, CellContent{Value{1.0}, {}}));
  EXPECT_TRUE(snapshot.written(2));
  EXPECT_FALSE(snapshot.written(3));
  EXPECT_TRUE(snapshot.holdsRunResult(3, before));
  EXPECT_FALSE(snapshot.holdsRunResult(3, CellContent{Value{std::u16string(u"a00")}, {}}));
}

TEST(UndoSnapshotRecord, CountsTheRewrittenCellsWhoseResultIsNotKnown) {
  UndoSnapshot snapshot;
  snapshot.beginBlock(AreaRef{{1, 1}, {4, 1}});
  const CellContent before{Value{std::u16string(u"a1")}, {}};
  for (int64_t r = 1; r <= 4; ++r) RecordUndoEntry(snapshot, {r, 1}, before);
  snapshot.beginBlock(AreaRef{{5, 1}, {5, 1}});
  RecordUndoEntry(snapshot, {5, 1}, before);
  for (std::size_t i : {0U, 1U, 2U, 4U}) snapshot.markWritten(i);
  snapshot.markWritten(1);  // twice counts once
  snapshot.noteResultValue(0, Value{std::u16string(u"a")});
  snapshot.noteResult(2, CellContent{});
  ASSERT_EQ(snapshot.blocks().size(), 2U);
  EXPECT_EQ(snapshot.blocks()[0].unconfirmed, 1U);
  EXPECT_EQ(snapshot.blocks()[1].unconfirmed, 1U);
  EXPECT_TRUE(snapshot.holdsRunResult(0, CellContent{Value{std::u16string(u"a")}, {}}));
  EXPECT_FALSE(snapshot.holdsRunResult(0, CellContent{Value{std::u16string(u"b")}, {}}));
  EXPECT_TRUE(snapshot.holdsRunResult(2, CellContent{}));
}

TEST(UndoSnapshotRecord, SpendsAFixedSmallAmountPerCellBeyondTheOldText) {
  UndoSnapshot snapshot;
  constexpr int64_t kCells = 100000;
  snapshot.beginBlock(AreaRef{{1, 1}, {kCells, 1}});
  const CellContent content{Value{std::u16string(u"0123456789abcdef")}, {}};
  for (int64_t r = 1; r <= kCells; ++r) RecordUndoEntry(snapshot, {r, 1}, content);
  const double perCell = static_cast<double>(snapshot.entryBytes()) / kCells;
  const double textPerCell = static_cast<double>(snapshot.textBytes()) / kCells;
  EXPECT_LE(perCell, 40.0);
  EXPECT_LE(textPerCell, 16 * 2 * 1.5);
  EXPECT_GE(textPerCell, 16 * 2);
}

TEST(UndoSnapshotRecord, ACellClearedWithItsFormatsCostsAtMost64BytesBeyondItsText) {
  UndoSnapshot snapshot;
  constexpr int64_t kCells = 100000;
  snapshot.beginBlock(AreaRef{{1, 1}, {kCells, 1}});
  const CellContent content{Value{std::u16string(u"0123456789abcdef")}, {}};
  const std::u16string formats[] = {u"General", u"0.00%", u"dd/mm/yyyy"};
  for (int64_t r = kCells; r >= 1; --r) {  // cleared bottom up, as the value runs do
    const CellFormats cellFormats{formats[r % 3], static_cast<uint32_t>(r), std::nullopt};
    markCleared(snapshot, RecordClearedCell(snapshot, {r, 1}, content, cellFormats));
  }
  const double perCell = static_cast<double>(snapshot.entryBytes()) / kCells;
  const double textPerCell = static_cast<double>(snapshot.textBytes()) / kCells;
  EXPECT_LE(perCell, 64.0);
  EXPECT_LE(textPerCell, 16 * 2 * 1.5) << "each number format is kept once";
  EXPECT_EQ(snapshot.formats(0), recorded(CellFormats{u"0.00%", kCells, std::nullopt}));
  EXPECT_EQ(snapshot.formats(kCells - 1), recorded(CellFormats{u"0.00%", 1, std::nullopt}));
  EXPECT_EQ(snapshot.blocks().front().topRow, 1);
  EXPECT_EQ(snapshot.blocks().front().bottomRow, kCells);
}

TEST(UndoSnapshotRecord, FormatsAreKeptOnlyForTheCellsGivenThem) {
  UndoSnapshot snapshot;
  const CellContent content{Value{1.5}, {}};
  const CellFormats plain{};
  const CellFormats dressed{u"0.0", 0x112233, 0x445566};
  const struct {
    const char* name;
    std::optional<CellFormats> formats;
  } rows[] = {{"none read", std::nullopt}, {"plain", plain}, {"dressed", dressed}};
  for (const auto& row : rows) RecordClearedCell(snapshot, {1, 1}, content, row.formats);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(rows[i].name);
    EXPECT_EQ(snapshot.formats(i),
              rows[i].formats ? std::optional(recorded(*rows[i].formats)) : std::nullopt);
    EXPECT_FALSE(snapshot.written(i)) << "not cleared until markCleared";
  }
  markCleared(snapshot, 1);
  EXPECT_TRUE(snapshot.written(1));
  EXPECT_TRUE(snapshot.holdsRunResult(1, CellContent{}));
  EXPECT_FALSE(snapshot.holdsRunResult(1, content));
}

TEST(UndoSnapshotRecord, EachFormatPartTheHostCouldNotTellIsMarkedOnItsOwn) {
  UndoSnapshot snapshot;
  const struct {
    const char* name;
    uint8_t unknown;
  } rows[] = {{"every part told", 0},
              {"the font colour of rich text", kFontColorPart},
              {"the number format", kNumberFormatPart},
              {"fill and font colour", kFillPart | kFontColorPart}};
  std::size_t index = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CellFormats formats{u"0.0", 0x112233, 0x445566};
    formats.unknown = row.unknown;
    RecordClearedCell(snapshot, {1, 1}, CellContent{}, formats);
    const std::optional<CellFormats> back = snapshot.formats(index++);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->unknown, row.unknown | kOtherFormatsPart);
    EXPECT_EQ(back->numberFormat, u"0.0");
    EXPECT_EQ(back->fill, 0x112233u);
  }
}

TEST(UndoTexts, SayHowManyCellsWereKept) {
  EXPECT_EQ(keptChangesText(3), u"3 cells changed after the removal were left as they are.");
  EXPECT_EQ(keptChangesText(1), u"1 cell changed after the removal was left as it is.");
}

// --- The undo command ----------------------------------------------------------------------

using Undo = EngineFixture;

TEST_F(Undo, RestoresTheCellsOfTheLastRunWithoutAMessage) {
  host->setColumn({1, 1}, {text(u"a1"), text(u"b2")});
  host->select(u"A1:A2");
  runYes(RemoveNumbers);
  ASSERT_EQ(valueAt(1, 1), text(u"a"));
  UndoLastRun(module);
  EXPECT_EQ(valueAt(1, 1), text(u"a1"));
  EXPECT_EQ(valueAt(2, 1), text(u"b2"));
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(host->runSettings().calculation, xl::kCalculationAutomatic);
  EXPECT_TRUE(host->runSettings().screenUpdating);
}

TEST_F(Undo, SkipsTheBlankCellsThatWereNeverVisited) {
  host->setCell({1, 1}, constant(text(u"a1")));
  host->setCell({3, 1}, constant(text(u"c3")));
  host->select(u"A1:A3");
  runYes(RemoveNumbers);
  UndoLastRun(module);
  EXPECT_EQ(valueAt(1, 1), text(u"a1"));
  EXPECT_EQ(valueAt(2, 1), Value{});
  EXPECT_EQ(valueAt(3, 1), text(u"c3"));
  EXPECT_TRUE(messages().empty());
}

TEST_F(Undo, RightAfterLoadingThereIsNothingToUndo) {
  UndoLastRun(module);
  EXPECT_EQ(messages(), std::vector<std::u16string>{u"Nothing to Undo!"});
  EXPECT_EQ(host->runSettings().calculation, xl::kCalculationAutomatic);
  EXPECT_TRUE(host->runSettings().screenUpdating);
}

TEST_F(Undo, WithoutAnOpenWorkbookThereIsNothingToUndo) {
  host->setColumn({1, 1}, {text(u"a1")});
  host->select(u"A1");
  runYes(RemoveNumbers);
  host->closeWorkbooks();
  UndoLastRun(module);
  EXPECT_EQ(messages(), std::vector<std::u16string>{u"Nothing to Undo!"});
}

TEST_F(Undo, TwiceEqualsOnce) {
  host->setColumn({1, 1}, {text(u"a1"), text(u"b2"), text(u"c3")});
  host->select(u"A1:A3");
  runYes(RemoveNumbers);
  UndoLastRun(module);
  const std::vector<Value> once = host->columnValues({1, 1}, 3);
  UndoLastRun(module);
  EXPECT_EQ(host->columnValues({1, 1}, 3), once);
  EXPECT_EQ(once, (std::vector<Value>{text(u"a1"), text(u"b2"), text(u"c3")}));
  EXPECT_TRUE(messages().empty());
}

TEST_F(Undo, ActivatesTheRunsSheetAndRestoresThere) {
  host->addSheet(u"Sheet2");
  host->setColumn({1, 1}, {text(u"a1"), text(u"b2")});
  host->select(u"A1:A2");
  runYes(RemoveNumbers);
  host->activateSheet({u"Sheet2", {}});
  host->setCell({1, 1}, constant(text(u"other")));
  // The user's edit gave Control+Z back to the host; the menu's undo still reaches the run.
  EXPECT_FALSE(host->pressKey(u"^z"));
  UndoLastRun(module);
  EXPECT_EQ(host->activeSheetName(), u"Sheet1");
  EXPECT_EQ(host->cell({u"Sheet1", {}}, {1, 1}).value, text(u"a1"));
  EXPECT_EQ(host->cell({u"Sheet1", {}}, {2, 1}).value, text(u"b2"));
  EXPECT_EQ(host->cell({u"Sheet2", {}}, {1, 1}).value, text(u"other"));
}

TEST_F(Undo, RestoresTheExactContentWithItsType) {
  host->setColumn({1, 1}, {text(u"007"), text(u"TRUE"), text(u"=x"), text(u"1/2"), number(1.5)});
  host->select(u"A1:A5");
  user.mouseDown("txtUDC").type("txtUDC", u"0Ex/.");
  runYes(RemoveUserChars);
  EXPECT_EQ(valueAt(1, 1), number(7));
  EXPECT_EQ(valueAt(2, 1), text(u"TRU"));
  EXPECT_EQ(valueAt(3, 1), text(u"="));
  EXPECT_EQ(valueAt(4, 1), number(12));
  EXPECT_EQ(valueAt(5, 1), number(15));
  const UndoEntry first = module.undoSnapshot->entry(0);
  EXPECT_EQ(first.address, u"$A$1");
  EXPECT_EQ(first.formula, constant(text(u"007")));

  UndoLastRun(module);
  EXPECT_EQ(host->cell({1, 1}), constant(text(u"007")));
  EXPECT_EQ(host->cell({2, 1}), constant(text(u"TRUE")));
  EXPECT_EQ(host->cell({3, 1}), constant(text(u"=x")));
  EXPECT_EQ(host->cell({4, 1}), constant(text(u"1/2")));
  EXPECT_EQ(host->cell({5, 1}), constant(number(1.5)));
}

TEST_F(Undo, AClearedFormulaComesBackWithItsValue) {
  // Excel recalculates a restored formula; the in-memory workbook cannot, so the value
  // must come back with it, or a later run would take the cell for empty.
  host->setCell({1, 1}, constant(text(u"a")));
  host->setCell({2, 1}, CellContent{number(2), u"=1+1"});
  host->setCell({3, 1}, constant(text(u"a")));
  host->select(u"A1:A3");
  testing::RecordingObserver observer;
  RunRequest unique;
  unique.operation = Operation::RUDP;
  runRemoval(module, unique, observer);
  ASSERT_EQ(host->cell({2, 1}), CellContent{});
  UndoLastRun(module);
  EXPECT_EQ(host->cell({2, 1}), (CellContent{number(2), u"=1+1"}));

  RunRequest repeated;
  repeated.operation = Operation::RADP;
  host->setCell({3, 1}, constant(number(2)));
  runRemoval(module, repeated, observer);
  EXPECT_EQ(valueAt(2, 1), Value{}) << "the restored formula's 2 repeats A3's 2";
  EXPECT_EQ(valueAt(3, 1), Value{});
  EXPECT_EQ(valueAt(1, 1), text(u"a"));
}

TEST_F(Undo, NeverWritesIntoRowsTheUserSortedOrInsertedSinceTheRun) {
  // Column A: y, x, x and a blank; column B numbers the rows. "Every unique value" clears
  // A1's y. Blank cells look alike, so only the host's change notice tells that the
  // blank now under $A$1 came from another row.
  struct Row {
    const char* name;
    std::function<void(memory::MemoryApplication&)> userDoes;
    std::vector<Value> columnAAfterUndo;
    std::vector<std::u16string> told;
  };
  const Row rows[] = {
      {"sorted by B: the blank of row 4 comes to A1",
       [](memory::MemoryApplication& h) { h.sortRows(u"A1:B4", 2); },
       {Value{}, text(u"x"), text(u"x"), Value{}},
       {keptChangesText(1)}},
      {"a row inserted above: the new blank row is A1",
       [](memory::MemoryApplication& h) { h.insertRows(1); },
       {Value{}, Value{}, text(u"x"), text(u"x")},
       {keptChangesText(1)}},
      {"an edit elsewhere leaves the undo whole",
       [](memory::MemoryApplication& h) {
         h.typeInto({9, 3}, u"note");
       },
       {text(u"y"), text(u"x"), text(u"x"), Value{}},
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    LoadedAddin addin;
    memory::MemoryApplication& h = *addin.host;
    h.setColumn({1, 1}, {text(u"y"), text(u"x"), text(u"x")});
    h.setColumn({1, 2}, {number(3), number(1), number(2), number(0)});
    h.select(u"A1:A3");
    testing::RecordingObserver observer;
    RunRequest unique;
    unique.operation = Operation::RUDP;
    runRemoval(addin.module, unique, observer);
    ASSERT_EQ(h.cell({1, 1}), CellContent{});

    row.userDoes(h);
    const std::vector<Value> columnB = h.columnValues({1, 2}, 5);
    UndoLastRun(addin.module);
    EXPECT_EQ(h.columnValues({1, 1}, 4), row.columnAAfterUndo);
    EXPECT_EQ(h.columnValues({1, 2}, 5), columnB);
    EXPECT_EQ(addin.messages(), row.told);
  }
}

TEST_F(Undo, NeverOverwritesALaterChange) {
  host->setColumn({1, 1}, {text(u"a1"), text(u"b2"), text(u"c3"), text(u"d4")});
  host->select(u"A1:A4");
  runYes(RemoveNumbers);
  host->typeInto({2, 1}, u"mine");
  host->setCell({4, 1}, constant(Value{}));
  UndoLastRun(module);
  EXPECT_EQ(valueAt(1, 1), text(u"a1"));
  EXPECT_EQ(valueAt(2, 1), text(u"mine"));
  EXPECT_EQ(valueAt(3, 1), text(u"c3"));
  EXPECT_EQ(valueAt(4, 1), Value{});
  EXPECT_EQ(messages(), std::vector<std::u16string>{
                            u"2 cells changed after the removal were left as they are."});
  // A second undo has nothing left to restore and says so again for the same cells.
  UndoLastRun(module);
  EXPECT_EQ(valueAt(2, 1), text(u"mine"));
  EXPECT_EQ(valueAt(1, 1), text(u"a1"));
}

TEST_F(Undo, ACellTheRunLeftAloneIsNotOverwrittenEither) {
  host->setColumn({1, 1}, {text(u"abc"), text(u"x1")});
  host->select(u"A1:A2");
  runYes(RemoveNumbers);  // "abc" has no digit: not rewritten
  host->typeInto({1, 1}, u"edited");
  UndoLastRun(module);
  EXPECT_EQ(valueAt(1, 1), text(u"edited"));
  EXPECT_EQ(valueAt(2, 1), text(u"x1"));
  EXPECT_EQ(messages(),
            std::vector<std::u16string>{u"1 cell changed after the removal was left as it is."});
}

TEST_F(Undo, TheResultsAHostReportsNeedNoReadingBack) {
  // Typed as the host types them: "12" goes, "1/2" keeps "/", "x1.5" becomes "x." text.
  const std::vector<Value> before = {text(u"a1"),   text(u"12"),  text(u"1/2"),
                                     text(u"x1.5"), text(u"abc"), text(u"T1RUE")};
  host->setColumn({1, 1}, before);
  host->select(u"A1:A6");
  runYes(RemoveNumbers);
  const UndoSnapshot& snapshot = *module.undoSnapshot;
  ASSERT_EQ(snapshot.size(), before.size());
  for (const auto& block : snapshot.blocks()) EXPECT_EQ(block.unconfirmed, 0U);
  for (std::size_t i = 0; i < snapshot.size(); ++i) {
    SCOPED_TRACE(i);
    const CellContent now = host->cell(snapshot.cell(i));
    EXPECT_TRUE(snapshot.holdsRunResult(i, now));
    EXPECT_FALSE(snapshot.holdsRunResult(i, CellContent{text(u"other"), {}}));
  }
  UndoLastRun(module);
  for (std::size_t i = 0; i < before.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(valueAt(static_cast<int64_t>(i) + 1, 1), before[i]);
  }
  EXPECT_TRUE(messages().empty());
}

TEST_F(Undo, AnotherRunReplacesTheSnapshot) {
  host->setColumn({1, 1}, {text(u"a1"), text(u"b2")});
  host->select(u"A1");
  runYes(RemoveNumbers);
  host->select(u"A2");
  runYes(RemoveNumbers);
  UndoLastRun(module);
  EXPECT_EQ(valueAt(1, 1), text(u"a"));
  EXPECT_EQ(valueAt(2, 1), text(u"b2"));
}

struct FaultRow {
  const char* name;
  int32_t number;
  std::vector<std::u16string> messages;
};

// A failure before any cell is written (here the run state's cancel key, the fourth call
// after Workbooks.Count and the user's two modes) is classified by its error number.
TEST(UndoFailure, AHostFailureIsClassifiedByItsErrorNumber) {
  const FaultRow rows[] = {
      {"1004 ends silently", host_errors::kRefused, {}},
      {"91 means nothing to undo", host_errors::kObjectNotSet, {u"Nothing to Undo!"}},
      {"any other number", 13, {u"Undo Command Failed!"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LoadedAddin addin;
    addin.host->setColumn({1, 1}, {text(u"a1"), text(u"b2")});
    addin.host->select(u"A1:A2");
    addin.runYes(RemoveNumbers);
    addin.host->armFault(4, row.number);
    UndoLastRun(addin.module);
    addin.host->disarmFault();
    EXPECT_EQ(addin.messages(), row.messages);
    EXPECT_EQ(addin.valueAt(1, 1), text(u"a"));
    EXPECT_EQ(addin.host->runSettings().calculation, xl::kCalculationAutomatic);
    EXPECT_TRUE(addin.host->runSettings().screenUpdating);
  }
}

// A cell the host refuses to take back (here a text longer than a cell holds, which only
// the driver could put there) is counted, and every other cell is restored all the same;
// a refusal that a second try overcomes costs nothing.
TEST(UndoFailure, ACellTheHostRefusesLeavesEveryOtherCellRestored) {
  std::u16string tooLong;
  while (tooLong.size() < 40000) tooLong += u"a1";
  struct Row {
    const char* name;
    std::u16string middle;
    std::vector<std::u16string> messages;
  };
  const Row rows[] = {{"a text the host refuses", tooLong, {unrestoredText(1, 0)}},
                      {"a text the host takes", u"b2", {}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LoadedAddin addin;
    addin.host->setCell({1, 1}, CellContent{text(u"a1"), {}});
    addin.host->setCell({2, 1}, CellContent{text(row.middle), {}});
    addin.host->setCell({3, 1}, CellContent{text(u"c3"), {}});
    addin.host->select(u"A1:A3");
    addin.runYes(RemoveNumbers);
    ASSERT_EQ(addin.valueAt(3, 1), text(u"c"));
    UndoLastRun(addin.module);
    EXPECT_EQ(addin.messages(), row.messages);
    EXPECT_EQ(addin.valueAt(1, 1), text(u"a1"));
    EXPECT_EQ(addin.valueAt(3, 1), text(u"c3"));
  }
  EXPECT_EQ(unrestoredText(1, 1), u"1 cell could not be restored. Its formula was not taken back.");
  EXPECT_EQ(unrestoredText(2, 0), u"2 cells could not be restored.");
}

TEST_F(Undo, ARunThatRecordsNothingLeavesControlZWithTheHost) {
  // The user's edit after a run takes the run's Undo entry; a later run over empty cells
  // makes no record, so Control+Z must not reach the earlier run's record again.
  struct Row {
    const char* name;
    const char* emptySelection;
  };
  const Row rows[] = {{"one empty cell", "C1"}, {"an empty column", "D1:D5"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host->setColumn({1, 1}, {text(u"a1")});
    host->select(u"A1");
    runYes(RemoveNumbers);
    ASSERT_TRUE(host->undoBinding());
    EXPECT_FALSE(host->keyBinding(u"^z")) << "Control+Z stays the host's own";
    host->typeInto({2, 1}, u"typed");
    ASSERT_FALSE(host->undoBinding()) << "the user's edit takes the Undo entry";
    host->select(
        std::u16string(row.emptySelection, row.emptySelection + std::strlen(row.emptySelection)));
    runYes(RemoveNumbers);
    EXPECT_FALSE(host->keyBinding(u"^z"));
    EXPECT_FALSE(host->pressKey(u"^z"));
    EXPECT_EQ(valueAt(1, 1), text(u"a"));
  }
}

TEST_F(Undo, TheMacroIsRegisteredWithTheHost) {
  EXPECT_TRUE(module.undoMacroRegistered);
  host->setColumn({1, 1}, {text(u"a1")});
  host->select(u"A1");
  runYes(RemoveNumbers);
  EXPECT_TRUE(host->runMacro(u"undo_changes"));
  EXPECT_EQ(valueAt(1, 1), text(u"a1"));
}

}  // namespace
}  // namespace qmv
