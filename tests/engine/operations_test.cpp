#include "engine/operations.hpp"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace qmv
