// The block rule: which cells of a block a removal changes, and to what.
#include "engine/block_rule.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qmv {
namespace {

CellContent constant(Value v) { return CellContent{std::move(v), {}}; }
CellContent text(std::u16string s) { return constant(Value{std::move(s)}); }

// A pattern whose matching backtracks past any budget on a long run of a's.
constexpr std::u16string_view kRunaway = u"(a+)+$";
const std::u16string kManyAs = std::u16string(40, u'a').append(u"!");

struct BlockRow {
  const char* name;
  std::vector<CellContent> cells;
  CellRequest fixed;
  TextRules rules;
  // Per changed or given-up cell: its place, and its new text ("" for given up).
  std::vector<std::pair<std::size_t, std::u16string>> changed;
  std::vector<std::size_t> gaveUp;
};

CellRequest op(Operation operation, CharacterInputs inputs = {}) { return {operation, inputs}; }

CharacterInputs separatorAt(std::u16string_view separator, Occurrence occurrence,
                            int16_t count = 1) {
  CharacterInputs in;
  in.separator = separator;
  in.occurrence = occurrence;
  in.charCount = count;
  return in;
}

CharacterInputs patternOf(std::u16string_view pattern) {
  CharacterInputs in;
  in.pattern = pattern;
  in.matchCase = true;
  return in;
}

TEST(BlockRule, DecidesEachCellOfABlock) {
  const Occurrence first{Occurrence::Kind::First, 1};
  const Occurrence last{Occurrence::Kind::Last, 1};
  const std::vector<BlockRow> rows = {
      {"changed cells only, in order",
       {text(u"a1"), text(u"b"), text(u"c3")},
       op(Operation::RNUM),
       TextRules::Classic,
       {{0, u"a"}, {2, u"c"}},
       {}},
      {"a formula is never rewritten, an error value has no text",
       {CellContent{Value{12.0}, u"=6*2"}, constant(Value{CellError::Div0}), text(u"x9")},
       op(Operation::RNUM),
       TextRules::Classic,
       {{2, u"x"}},
       {}},
      {"a number goes through the text its cell shows",
       {constant(Value{1234.5})},
       op(Operation::RNUM),
       TextRules::Classic,
       {{0, u"."}},
       {}},
      {"a failing transform leaves the cell: RBSP without a start",
       {text(u"abc")},
       op(Operation::RBSP),
       TextRules::Classic,
       {},
       {}},
      {"after the first separator",
       {text(u"key=value=x"), text(u"none")},
       op(Operation::RASP, separatorAt(u"=", first)),
       TextRules::Classic,
       {{0, u"key="}},
       {}},
      {"a count before the last separator",
       {text(u"a-b-c")},
       op(Operation::RNBP, separatorAt(u"-", last)),
       TextRules::Classic,
       {{0, u"a--c"}},
       {}},
      {"a separator position counts code points under the Unicode rules",
       {text(u"\U0001F600\U0001F600=x")},
       op(Operation::RASP, separatorAt(u"=", first)),
       TextRules::Unicode,
       {{0, u"\U0001F600\U0001F600="}},
       {}},
      {"a pattern past its budget gives up; others in the block still change",
       {text(kManyAs), text(u"aa"), text(u"b")},
       op(Operation::RPAT, patternOf(kRunaway)),
       TextRules::Classic,
       {{1, u""}},
       {0}},
      {"a pattern that does not compile fails quietly, it never gives up",
       {text(u"ab(")},
       op(Operation::RPAT, patternOf(u"(ab")),
       TextRules::Classic,
       {},
       {}},
      {"a value removal has no rule over texts",
       {text(u"x"), text(u"x")},
       op(Operation::RDPV),
       TextRules::Classic,
       {},
       {}},
  };
  for (const BlockRow& row : rows) {
    SCOPED_TRACE(row.name);
    BlockRequest request;
    request.fixed = row.fixed;
    request.rules = row.rules;
    BlockResults results;
    ruleOverBlock(row.cells, request, results);
    std::vector<std::pair<std::size_t, std::u16string>> changed;
    std::vector<std::size_t> gaveUp;
    for (const CellResult& result : results.cells()) {
      if (result.outcome == CellOutcome::GaveUp) {
        gaveUp.push_back(result.cell);
        EXPECT_EQ(Value{result.before}, row.cells[result.cell].value) << "the cell is named";
      } else {
        changed.emplace_back(result.cell, result.after);
      }
    }
    EXPECT_EQ(changed, row.changed);
    EXPECT_EQ(gaveUp, row.gaveUp);
  }
}

// Results keep their storage from block to block: a short block after a long one shows
// nothing of the long one.
TEST(BlockRule, ResultsOfAnEarlierBlockNeverShowThrough) {
  BlockRequest request;
  request.fixed = op(Operation::RNUM);
  BlockResults results;
  const std::vector<CellContent> first = {text(u"long text 1"), text(u"2 more")};
  ruleOverBlock(first, request, results);
  ASSERT_EQ(results.cells().size(), 2u);
  results.clear();
  const std::vector<CellContent> second = {text(u"x"), text(u"y7")};
  ruleOverBlock(second, request, results);
  ASSERT_EQ(results.cells().size(), 1u);
  EXPECT_EQ(results.cells()[0].cell, 1u);
  EXPECT_EQ(results.cells()[0].after, u"y");
  EXPECT_EQ(results.cells()[0].before, u"y7");
}

// Inputs asked per cell: once per cell that has a text, in order; no answer keeps it.
TEST(BlockRule, AsksPerCellInputsOncePerTextInOrder) {
  std::vector<std::u16string> asked;
  const InputSource inputs = [&](std::u16string_view t) -> std::optional<CellRequest> {
    asked.emplace_back(t);
    if (t == u"keep1") return std::nullopt;
    return op(Operation::RNUM);
  };
  BlockRequest request;
  request.perCell = &inputs;
  BlockResults results;
  const std::vector<CellContent> cells = {text(u"keep1"), CellContent{Value{1.0}, u"=1"},
                                          text(u"go2")};
  ruleOverBlock(cells, request, results);
  EXPECT_EQ(asked, (std::vector<std::u16string>{u"keep1", u"go2"}));
  ASSERT_EQ(results.cells().size(), 1u);
  EXPECT_EQ(results.cells()[0].after, u"go");
}

}  // namespace
}  // namespace qmv
