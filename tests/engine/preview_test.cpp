// The dry run: its figures and its line over the in-memory host, and that it changes
// nothing.
#include "engine/preview.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/run.hpp"
#include "platform/memory/memory_application.hpp"
#include "support/recording_observer.hpp"

namespace qmv {
namespace {

Value text(std::u16string s) { return Value{std::move(s)}; }

struct PreviewRow {
  const char* name;
  Operation operation;
  std::vector<Value> column;  // A1 down, selected
  CharacterInputs inputs;
  std::u16string expected;
};

InputSource fixed(Operation operation, const CharacterInputs& inputs) {
  return [operation, inputs](std::u16string_view) -> std::optional<CellRequest> {
    return CellRequest{operation, inputs};
  };
}

TEST(Preview, CountsAndShowsTheFirstThreeChanges) {
  const PreviewRow rows[] = {
      {"digits over four cells, one unchanged",
       Operation::RNUM,
       {text(u"a1"), text(u"b"), text(u"c3"), text(u"d4"), text(u"e5")},
       {},
       u"4 cells would change: \"a1\" -> \"a\"; \"c3\" -> \"c\"; \"d4\" -> \"d\""},
      {"one change",
       Operation::RNUM,
       {text(u"a1"), text(u"b")},
       {},
       u"1 cell would change: \"a1\" -> \"a\""},
      {"nothing to change",
       Operation::RALP,
       {text(u"12"), Value{3.0}},
       {},
       u"No cell would change."},
      {"a number is previewed through its cell text",
       Operation::RNUM,
       {Value{1234.5}},
       {},
       u"1 cell would change: \"1234.5\" -> \".\""},
      {"start position 3 of RBSP",
       Operation::RBSP,
       {text(u"ABCDEF")},
       {3, {}, {}},
       u"1 cell would change: \"ABCDEF\" -> \"CDEF\""},
      {"a long text is cut short",
       Operation::RNUM,
       {text(u"0123456789 abcdefghijklmnop")},
       {},
       u"1 cell would change: \"0123456789 abcde...\" -> \" abcdefghijklmno...\""},
      {"a cut never splits a surrogate pair",
       Operation::RNUM,
       {text(u"1abcdefghijklmn\U0001F600xyz")},
       {},
       u"1 cell would change: \"1abcdefghijklmn...\" -> \"abcdefghijklmn\U0001F600...\""},
      {"RNPC without the host's CLEAN",
       Operation::RNPC,
       {text(u"a\tb")},
       {},
       u"1 cell would change: \"a\u00B7b\" -> \"ab\""},
      {"duplicates keep the first, case aside",
       Operation::RDPV,
       {text(u"x"), text(u"X"), text(u"y"), text(u"x")},
       {},
       u"2 cells would be cleared: \"X\", \"x\""},
      {"every repeated value",
       Operation::RADP,
       {text(u"x"), text(u"y"), text(u"X")},
       {},
       u"2 cells would be cleared: \"x\", \"X\""},
      {"every unique value",
       Operation::RUDP,
       {text(u"x"), text(u"y"), text(u"X"), text(u"z")},
       {},
       u"2 cells would be cleared: \"y\", \"z\""},
      {"no repeat", Operation::RADP, {text(u"x"), text(u"y")}, {}, u"No cell would be cleared."},
  };
  for (const PreviewRow& row : rows) {
    SCOPED_TRACE(row.name);
    memory::MemoryApplication host;
    host.addWorkbook();
    host.setColumn({1, 1}, row.column);
    host.select(u"A1:A" + std::u16string(1, static_cast<char16_t>(u'0' + row.column.size())));
    const InputSource inputs =
        isCharacterOperation(row.operation) ? fixed(row.operation, row.inputs) : InputSource{};
    const Preview preview = previewRemoval(host, row.operation, inputs, TextRules::Classic);
    EXPECT_EQ(previewText(preview), row.expected);
    // Nothing was written.
    for (std::size_t i = 0; i < row.column.size(); ++i) {
      EXPECT_EQ(host.cell({static_cast<int64_t>(i) + 1, 1}).value, row.column[i]);
    }
  }
}

// A cell the pattern gives up on is no change, and the line says how many there were.
TEST(Preview, SaysHowManyCellsThePatternGaveUpOn) {
  std::u16string runaway(40, u'a');
  runaway.push_back(u'!');
  CharacterInputs inputs;
  inputs.pattern = u"(a+)+$";
  inputs.matchCase = true;
  const PreviewRow rows[] = {
      {"one given up, one changed",
       Operation::RPAT,
       {text(runaway), text(u"xaa")},
       inputs,
       u"1 cell would change: \"xaa\" -> \"x\" 1 cell was left as it was: the pattern needed "
       u"too many steps."},
      {"given up only",
       Operation::RPAT,
       {text(runaway), text(runaway)},
       inputs,
       u"No cell would change. 2 cells were left as they were: the pattern needed too many "
       u"steps."},
  };
  for (const PreviewRow& row : rows) {
    SCOPED_TRACE(row.name);
    memory::MemoryApplication host;
    host.addWorkbook();
    host.setColumn({1, 1}, row.column);
    host.select(u"A1:A" + std::u16string(1, static_cast<char16_t>(u'0' + row.column.size())));
    const Preview preview =
        previewRemoval(host, row.operation, fixed(row.operation, row.inputs), TextRules::Classic);
    EXPECT_EQ(previewText(preview), row.expected);
  }
}

TEST(Preview, LeavesFormulasOutAndNamesWhyThereIsNothing) {
  memory::MemoryApplication host;
  EXPECT_EQ(previewText(previewRemoval(host, Operation::RNUM, {}, TextRules::Classic)), u"");
  host.addWorkbook();
  host.select(u"A1:A3");
  EXPECT_EQ(previewText(previewRemoval(host, Operation::RNUM, {}, TextRules::Classic)),
            u"The selection is empty: nothing would change.");
  host.setCell({1, 1}, CellContent{Value{2.0}, u"=1+1"});
  host.setCell({2, 1}, CellContent{text(u"b2"), {}});
  EXPECT_EQ(previewText(previewRemoval(host, Operation::RNUM, {}, TextRules::Classic)),
            u"1 cell would change: \"b2\" -> \"b\"");
  host.select(u"A1:B3");
  EXPECT_EQ(previewText(previewRemoval(host, Operation::RADP, {}, TextRules::Classic)),
            u"Select a single column to see what would be cleared.");
}

TEST(Preview, AValueRemovalOverSeveralAreasJudgesWhatTheRunDoes) {
  struct Row {
    const char* name;
    Operation operation;
    std::u16string selection;
  };
  // D1:D6 hold x, y, z, x, Y, w; the areas come in the order the user selected them.
  const Row rows[] = {
      {"keep one, lower area first", Operation::RDPV, u"D4:D5,D1:D2"},
      {"every repeated value, lower area first", Operation::RADP, u"D4:D5,D1:D2"},
      {"every unique value, lower area first", Operation::RUDP, u"D4:D6,D1:D2"},
      {"keep one, overlapping areas", Operation::RDPV, u"D1:D4,D3:D6"},
      {"every unique value, three areas", Operation::RUDP, u"D6,D1,D4:D5"},
  };
  const std::vector<Value> column = {text(u"x"), text(u"y"), text(u"z"),
                                     text(u"x"), text(u"Y"), text(u"w")};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto host = std::make_shared<memory::MemoryApplication>();
    host->addWorkbook();
    host->setColumn({1, 4}, column);
    host->select(row.selection);
    const Preview preview = previewRemoval(*host, row.operation, {}, TextRules::Classic);
    ASSERT_EQ(preview.state, PreviewState::Ready);

    testing::RecordingSession session;
    session.hostApp = host;
    testing::RecordingObserver observer;
    RunRequest request;
    request.operation = row.operation;
    runRemoval(session, request, observer);
    std::vector<std::u16string> cleared;  // top down, as the preview names them
    for (std::size_t i = 0; i < column.size(); ++i) {
      if (host->cell({static_cast<int64_t>(i) + 1, 4}).value != column[i]) {
        cleared.push_back(std::get<std::u16string>(column[i]));
      }
    }
    ASSERT_FALSE(cleared.empty()) << "each row clears something";
    EXPECT_EQ(preview.tally.changes(), static_cast<int64_t>(cleared.size()));
    std::vector<std::u16string> named;
    for (const PreviewSample& sample : preview.tally.samples()) named.push_back(sample.before);
    cleared.resize(std::min(cleared.size(), kPreviewSamples));
    EXPECT_EQ(named, cleared);
  }
}

TEST(Preview, AValueRemovalOverAreasInTwoColumnsIsRefusedAsTheRunRefusesIt) {
  memory::MemoryApplication host;
  host.addWorkbook();
  host.setColumn({1, 1}, {text(u"x"), text(u"x")});
  host.setColumn({1, 3}, {text(u"x"), text(u"x")});
  host.select(u"A1:A2,C1:C2");
  EXPECT_EQ(previewRemoval(host, Operation::RDPV, {}, TextRules::Classic).state,
            PreviewState::NotOneColumn);
}

TEST(Preview, StopsPastTheCap) {
  memory::MemoryApplication host;
  host.addWorkbook();
  std::vector<Value> column(12, text(u"a1"));
  host.setColumn({1, 1}, column);
  host.select(u"A1:A12");
  const Preview capped = previewRemoval(host, Operation::RNUM, {}, TextRules::Classic, 10);
  EXPECT_TRUE(capped.tally.capped());
  EXPECT_EQ(capped.tally.changes(), 11) << "counting stops one past the cap";
  EXPECT_EQ(previewText(capped),
            u"More than 10 cells would change: \"a1\" -> \"a\"; \"a1\" -> \"a\"; \"a1\" -> \"a\"");
  const Preview exact = previewRemoval(host, Operation::RNUM, {}, TextRules::Classic, 12);
  EXPECT_FALSE(exact.tally.capped());
  EXPECT_EQ(exact.tally.changes(), 12);
}

// The preview applies the text rules the run applies: its count is the number of cells a
// real run with the same rules changes, and it differs between the rules where they do.
TEST(Preview, FollowsTheTextRulesOfTheRun) {
  const struct {
    const char* name;
    Operation operation;
    std::vector<Value> column;
    TextRules rules;
    std::u16string expected;
  } rows[] = {
      {"no-break space, classic: only U+0020 goes",
       Operation::RALS,
       {text(u"a\u00A0b"), text(u"c d"), text(u"e\u00A0f")},
       TextRules::Classic,
       u"1 cell would change: \"c d\" -> \"cd\""},
      {"no-break space, Unicode: every space separator goes",
       Operation::RALS,
       {text(u"a\u00A0b"), text(u"c d"), text(u"e\u00A0f")},
       TextRules::Unicode,
       u"3 cells would change: \"a\u00A0b\" -> \"ab\"; \"c d\" -> \"cd\"; \"e\u00A0f\" -> \"ef\""},
      {"leading and trailing no-break spaces, classic",
       Operation::RLTS,
       {text(u"\u00A0x\u00A0")},
       TextRules::Classic,
       u"No cell would change."},
      {"leading and trailing no-break spaces, Unicode",
       Operation::RLTS,
       {text(u"\u00A0x\u00A0")},
       TextRules::Unicode,
       u"1 cell would change: \"\u00A0x\u00A0\" -> \"x\""},
      {"C1 control, classic",
       Operation::RNPC,
       {text(u"x\u0085y")},
       TextRules::Classic,
       u"No cell would change."},
      {"C1 control, Unicode (shown as a dot)",
       Operation::RNPC,
       {text(u"x\u0085y")},
       TextRules::Unicode,
       u"1 cell would change: \"x\u00B7y\" -> \"xy\""},
      {"zero-width characters, Unicode (shown as dots)",
       Operation::RNPC,
       {text(u"\u200B"), text(u"a\uFEFF")},
       TextRules::Unicode,
       u"2 cells would change: \"\u00B7\" -> \"\"; \"a\u00B7\" -> \"a\""},
      {"accented capitals, classic",
       Operation::RUPC,
       {text(u"\u00C9t\u00C9"), text(u"Ab")},
       TextRules::Classic,
       u"1 cell would change: \"Ab\" -> \"b\""},
      {"accented capitals, Unicode",
       Operation::RUPC,
       {text(u"\u00C9t\u00C9"), text(u"Ab")},
       TextRules::Unicode,
       u"2 cells would change: \"\u00C9t\u00C9\" -> \"t\"; \"Ab\" -> \"b\""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto host = std::make_shared<memory::MemoryApplication>();
    host->addWorkbook();
    host->setColumn({1, 1}, row.column);
    host->select(u"A1:A" + std::u16string(1, static_cast<char16_t>(u'0' + row.column.size())));
    const Preview preview = previewRemoval(*host, row.operation, {}, row.rules);
    EXPECT_EQ(previewText(preview), row.expected);

    // A real run with the same rules changes as many cells as the preview counted.
    testing::RecordingSession session;
    session.hostApp = host;
    testing::RecordingObserver observer;
    RunRequest request;
    request.operation = row.operation;
    request.rules = row.rules;
    runRemoval(session, request, observer);
    int64_t changed = 0;
    for (std::size_t i = 0; i < row.column.size(); ++i) {
      if (host->cell({static_cast<int64_t>(i) + 1, 1}).value != row.column[i]) ++changed;
    }
    EXPECT_EQ(changed, preview.tally.changes());
  }
}

TEST(Preview, WritesThousands) {
  const struct {
    int64_t n;
    std::u16string text;
  } rows[] = {{0, u"0"},
              {999, u"999"},
              {1000, u"1,000"},
              {200000, u"200,000"},
              {1234567, u"1,234,567"},
              {-4500, u"-4,500"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.n);
    EXPECT_EQ(withThousandsSeparators(row.n), row.text);
  }
  Preview preview{PreviewState::Ready, PreviewTally(OperationKind::CharacterLevel, kPreviewCap)};
  for (int i = 0; i <= kPreviewCap; ++i) preview.tally.count();
  EXPECT_FALSE(preview.tally.count()) << "past the cap";
  EXPECT_EQ(previewText(preview), u"More than 200,000 cells would change.");
}

}  // namespace
}  // namespace qmv
