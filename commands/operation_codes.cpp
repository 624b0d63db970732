#include "commands/operation_codes.hpp"

#include <array>

namespace qmv {

namespace {

struct OperationInfo {
  std::u16string_view code;
  std::u16string_view question;
};

constexpr std::array<OperationInfo, kOperationCount> kOperations{{
    {u"RNUM", u"Do You want to remove all Numeric (Numbers) in Selection?"},
    {u"RALP", u"Do You want to remove Text Characters (Alphabets) in Selection?"},
    {u"RNPC",
     u"Do You want to remove all Non Printable Characters (Tab, Return Carriage etc.) in "
     u"Selection?"},
    {u"RUDC", u"Do You want to remove all User Defined Characters (entered below) in Selection?"},
    {u"RALS", u"Do You want to remove all Spaces in Selection?"},
    {u"RLTS", u"Do You want to remove all Leading and Trailing Spaces in Selection?"},
    {u"RLTE", u"Do You want to remove all Leading, Trailing and Excessive Spaces in Selection?"},
    {u"RBSP", u"Do You want to remove all Text before Start Position in Selection?"},
    {u"RASP", u"Do You want to remove all Text after Start Position in Selection?"},
    {u"RNBP", u"Do You want to remove No. of Characters before Start Position in Selection?"},
    {u"RNAP", u"Do You want to remove No. of Characters after Start Position in Selection?"},
    {u"RUPC", u"Do You want to remove all 'UPPER' charcters in Selection?"},
    {u"RLOC", u"Do You want to remove all 'lower' charcters in Selection?"},
    {u"RDPV", u"Do You want to remove 'Duplicate' Value (Keep First Value) in Selection?"},
    {u"RADP", u"Do You want to remove All 'Duplicate' Values in Selection?"},
    {u"RUDP", u"Do You want to remove All 'Unique' Values in Selection?"},
}};

const OperationInfo& info(Operation operation) {
  return kOperations[static_cast<std::size_t>(operation)];
}

}  // namespace

std::u16string_view operationCode(Operation operation) { return info(operation).code; }

std::optional<Operation> operationFromCode(std::u16string_view code) {
  for (std::size_t i = 0; i < kOperations.size(); ++i) {
    if (kOperations[i].code == code) return static_cast<Operation>(i);
  }
  return std::nullopt;
}

bool isCharacterOperation(Operation operation) {
  return operation != Operation::RDPV && operation != Operation::RADP &&
         operation != Operation::RUDP;
}

std::u16string_view operationQuestion(Operation operation) { return info(operation).question; }

bool usesStartPosition(Operation operation) {
  return operation == Operation::RBSP || operation == Operation::RASP ||
         operation == Operation::RNBP || operation == Operation::RNAP;
}

bool usesCharCount(Operation operation) {
  return operation == Operation::RNBP || operation == Operation::RNAP;
}

}  // namespace qmv
