#include "engine/operations.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace qmv {
namespace {

struct CodeRow {
  Operation operation;
  std::u16string code;
  bool character;
  bool start;
  bool count;
};

TEST(OperationCodes, NameTheSixteenRemovals) {
  const CodeRow rows[] = {
      {Operation::RNUM, u"RNUM", true, false, false},
      {Operation::RALP, u"RALP", true, false, false},
      {Operation::RNPC, u"RNPC", true, false, false},
      {Operation::RUDC, u"RUDC", true, false, false},
      {Operation::RALS, u"RALS", true, false, false},
      {Operation::RLTS, u"RLTS", true, false, false},
      {Operation::RLTE, u"RLTE", true, false, false},
      {Operation::RBSP, u"RBSP", true, true, false},
      {Operation::RASP, u"RASP", true, true, false},
      {Operation::RNBP, u"RNBP", true, true, true},
      {Operation::RNAP, u"RNAP", true, true, true},
      {Operation::RUPC, u"RUPC", true, false, false},
      {Operation::RLOC, u"RLOC", true, false, false},
      {Operation::RDPV, u"RDPV", false, false, false},
      {Operation::RADP, u"RADP", false, false, false},
      {Operation::RUDP, u"RUDP", false, false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.code.begin(), row.code.end()));
    EXPECT_EQ(operationCode(row.operation), row.code);
    EXPECT_EQ(operationFromCode(row.code), row.operation);
    EXPECT_EQ(isCharacterOperation(row.operation), row.character);
    EXPECT_EQ(usesStartPosition(row.operation), row.start);
    EXPECT_EQ(usesCharCount(row.operation), row.count);
    const std::u16string_view question = operationQuestion(row.operation);
    EXPECT_TRUE(question.starts_with(u"Do You want to remove"));
    EXPECT_TRUE(question.ends_with(u"in Selection?"));
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
