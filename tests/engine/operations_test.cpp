#include "engine/operations.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "engine/block_rule.hpp"

namespace qmv {
namespace {

// The codes: each once, four capital letters, found again by operationFromCode; the
// entry points' sixteen come first, the value removals among them last.
TEST(OperationTable, EveryCodeOnce) {
  std::vector<std::u16string_view> codes;
  for (const OperationRow& row : operationTable()) {
    SCOPED_TRACE(std::string(row.code.begin(), row.code.end()));
    ASSERT_EQ(row.code.size(), 4u);
    EXPECT_TRUE(std::all_of(row.code.begin(), row.code.end(),
                            [](char16_t c) { return c >= u'A' && c <= u'Z'; }));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), row.code), 0) << "a code twice";
    codes.push_back(row.code);
    EXPECT_EQ(operationCode(row.operation), row.code);
    EXPECT_EQ(operationFromCode(row.code), row.operation);
    EXPECT_TRUE(row.question.starts_with(u"Do You want to "));
    EXPECT_TRUE(row.question.ends_with(u"in Selection?"));
  }
  EXPECT_EQ(codes.at(0), u"RNUM");
  EXPECT_EQ(codes.at(15), u"RUDP");
}

// Every kind of input is read by some row, and the start position and the count are read
// exactly by the rows whose inputs name them.
TEST(OperationTable, EveryInputKindIsReadByARow) {
  using enum OperationInputs;
  for (const OperationInputs kind :
       {None, Characters, StartPosition, StartAndCount, Text, Delimiters, Count, Pattern}) {
    SCOPED_TRACE(static_cast<int>(kind));
    EXPECT_TRUE(std::any_of(operationTable().begin(), operationTable().end(),
                            [kind](const OperationRow& row) { return row.inputs == kind; }));
  }
  for (const OperationRow& row : operationTable()) {
    SCOPED_TRACE(std::string(row.code.begin(), row.code.end()));
    EXPECT_EQ(usesStartPosition(row.operation), row.facts.side != PositionSide::None);
    EXPECT_EQ(usesCharCount(row.operation), row.inputs == StartAndCount || row.inputs == Count);
    if (row.facts.side != PositionSide::None) {
      EXPECT_EQ(positionOperation(row.facts.side, row.facts.wholeSide), row.operation);
      EXPECT_EQ(row.inputs == StartPosition, row.facts.wholeSide);
    }
  }
}

// Every row through the block rule, over texts of every kind: a character row changes a
// cell exactly when its transform gives another text; a row said to drop single characters
// treats an ASCII text as its characters one by one; a row that starts at a separator
// takes the position of the separator as its start.
TEST(OperationTable, EveryRowThroughTheBlockRule) {
  const std::u16string texts[] = {u"Ab1 -c2.d#E\t", u"", u"  x  y ", u"(a)b[c]"};
  std::vector<CellContent> cells;
  for (const std::u16string& t : texts) cells.push_back(CellContent{Value{t}, {}});
  CharacterInputs inputs{int16_t{3}, int16_t{2}, u"-#"};
  inputs.text = u"b";
  inputs.pattern = u"[0-9]";
  inputs.opening = u"(";
  inputs.closing = u")";
  for (const OperationRow& row : operationTable()) {
    SCOPED_TRACE(std::string(row.code.begin(), row.code.end()));
    BlockRequest request;
    request.fixed = {row.operation, inputs};
    BlockResults results;
    ruleOverBlock(cells, request, results);
    std::size_t next = 0;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const std::optional<std::u16string> made = transformText(row.operation, texts[i], inputs);
      const bool changes = made && *made != texts[i];
      const bool listed = next < results.cells().size() && results.cells()[next].cell == i;
      EXPECT_EQ(listed, changes) << "cell " << i;
      if (listed) {
        EXPECT_EQ(results.cells()[next++].after, *made);
      }
      if (row.facts.dropsSingleCharacters) {
        std::u16string oneByOne;
        for (const char16_t c : texts[i]) {
          oneByOne += transformText(row.operation, std::u16string(1, c), inputs).value_or(u"?");
        }
        EXPECT_EQ(made.value_or(u"?"), oneByOne) << "cell " << i;
      }
    }
    if (row.facts.startsAtSeparator) {
      CharacterInputs at = inputs;
      at.separator = u"-";
      at.startPosition.reset();
      std::u16string out;
      request.fixed.inputs = at;
      const CellOutcome outcome = ruleOnText(texts[0], request, out);
      at.separator.reset();
      at.startPosition = static_cast<int16_t>(texts[0].find(u'-') + 1);
      const std::optional<std::u16string> expected = transformText(row.operation, texts[0], at);
      ASSERT_TRUE(expected);
      EXPECT_EQ(outcome, CellOutcome::Changed);
      EXPECT_EQ(out, *expected);
    }
  }
}

TEST(OperationCodes, AreComparedAsAWhole) {
  for (const std::u16string code : {u"", u"rnum", u"RNUM ", u"RNU", u"QMV1", u"RNUMX"}) {
    SCOPED_TRACE(std::string(code.begin(), code.end()));
    EXPECT_FALSE(operationFromCode(code).has_value());
  }
}

TEST(OperationCodes, AskTheExactQuestions) {
  EXPECT_EQ(operationQuestion(Operation::RNUM),
            u"Do You want to remove all Numeric (Numbers) in Selection?");
  EXPECT_EQ(operationQuestion(Operation::RNPC),
            u"Do You want to remove all Non Printable Characters (Tab, Return Carriage etc.) "
            u"in Selection?");
  EXPECT_EQ(operationQuestion(Operation::RUPC),
            u"Do You want to remove all 'UPPER' charcters in Selection?");
  EXPECT_EQ(operationQuestion(Operation::RDPV),
            u"Do You want to remove 'Duplicate' Value (Keep First Value) in Selection?");
  EXPECT_NE(operationQuestion(Operation::RUDC).find(u"User Defined Characters"),
            std::u16string_view::npos);
}

TEST(OperationTable, EveryRowHasWhatItsKindNeeds) {
  ASSERT_EQ(operationTable().size(), static_cast<std::size_t>(kOperationCount));
  std::vector<int> wizardIndices;
  for (const OperationRow& row : operationTable()) {
    SCOPED_TRACE(std::string(row.code.begin(), row.code.end()));
    EXPECT_EQ(&operationRow(row.operation), &row);
    EXPECT_EQ(operationFromCode(row.code), row.operation);
    EXPECT_FALSE(row.question.empty());
    EXPECT_FALSE(row.meaning.empty());
    const bool character = row.kind == OperationKind::CharacterLevel;
    EXPECT_EQ(row.transform != nullptr, character);
    if (!character) {
      EXPECT_EQ(row.inputs, OperationInputs::None);
    }
    if (row.wizardIndex >= 0) {
      EXPECT_FALSE(row.wizardEntry.empty());
      EXPECT_EQ(wizardOperation(row.wizardIndex), row.operation);
      wizardIndices.push_back(row.wizardIndex);
    }
  }
  std::sort(wizardIndices.begin(), wizardIndices.end());
  for (std::size_t i = 0; i < wizardIndices.size(); ++i) {
    EXPECT_EQ(wizardIndices[i], static_cast<int>(i)) << "the wizard's list has no gaps";
  }
  EXPECT_FALSE(wizardOperation(static_cast<int>(wizardIndices.size())));
  EXPECT_FALSE(wizardOperation(-1));
}

TEST(OperationTable, TransformTextWorksWithoutAHost) {
  const struct Row {
    const char* name;
    Operation operation;
    std::u16string_view text;
    CharacterInputs inputs;
    std::optional<std::u16string> expected;
  } rows[] = {
      {"RNUM", Operation::RNUM, u"a1b2", {}, u"ab"},
      {"RLTE by the host's TRIM rule", Operation::RLTE, u"  a   b  ", {}, u"a b"},
      {"RLTE leaves other spaces", Operation::RLTE, u"\u00a0a\u00a0", {}, u"\u00a0a\u00a0"},
      {"RNPC by the host's CLEAN rule", Operation::RNPC, u"a\tb\r\n\u007f", {}, u"ab\u007f"},
      {"RUDC", Operation::RUDC, u"a-b_c", {{}, {}, u"-_"}, u"abc"},
      {"RASP", Operation::RASP, u"abcdef", {int16_t{3}, {}, {}}, u"abc"},
      {"RNBP", Operation::RNBP, u"abcdef", {int16_t{3}, int16_t{1}, {}}, u"acdef"},
      {"RNBP without a count fails",
       Operation::RNBP,
       u"abcdef",
       {int16_t{3}, {}, {}},
       std::nullopt},
      {"RBSP without a start fails", Operation::RBSP, u"abcdef", {}, std::nullopt},
      {"a value operation has no text transform", Operation::RDPV, u"abc", {}, std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(transformText(row.operation, row.text, row.inputs), row.expected);
  }
}

// A run makes every new text in storage kept from cell to cell: what the last cell left
// there, longer or shorter, never shows through.
TEST(OperationTable, TransformIntoReusedStorageGivesTheSameText) {
  const std::u16string texts[] = {u"K1 x-2.y#3 Qq  \u00e9", u"", u"99", u"ab\U0001F600 c",
                                  std::u16string(300, u'7') + u"z"};
  CharacterInputs inputs{int16_t{2}, int16_t{1}, u"-#"};
  inputs.text = u"x";
  inputs.opening = u"(";
  inputs.closing = u")";
  for (const TextRules rules : {TextRules::Classic, TextRules::Unicode}) {
    inputs.rules = rules;
    std::u16string out = u"left over from a much longer earlier cell text";
    for (const OperationRow& row : operationTable()) {
      if (row.kind != OperationKind::CharacterLevel) continue;
      for (const std::u16string& text : texts) {
        SCOPED_TRACE(std::string(row.name) + " over a text of " + std::to_string(text.size()) +
                     (rules == TextRules::Unicode ? " units, Unicode" : " units"));
        const std::optional<std::u16string> made = transformText(row.operation, text, inputs);
        const bool into = transformTextInto(row.operation, text, inputs, nullptr, out);
        ASSERT_EQ(into, made.has_value());
        if (made) {
          EXPECT_EQ(out, *made);
        }
      }
    }
  }
}

}  // namespace
}  // namespace qmv
