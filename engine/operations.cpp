#include "engine/operations.hpp"

#include <array>

#include "engine/text_pattern.hpp"
#include "engine/text_removals.hpp"
#include "engine/transforms.hpp"
#include "engine/unicode_transforms.hpp"
#include "host/host.hpp"

namespace qmv {

namespace {

using Result = std::optional<std::u16string>;

// Removes a fixed character set, prepared once per set, into the caller's text.
template <const std::u16string_view* kMembers>
bool fixedSet(std::u16string_view t, const CharacterInputs&, WorksheetFunction*,
              std::u16string& out) {
  static const CharacterSet set(*kMembers);
  RemoveCharsInto(t, set, out);
  return true;
}
Result userChars(std::u16string_view t, const CharacterInputs& in, WorksheetFunction*) {
  return RemoveChars(t, in.userChars);
}
Result spaces(std::u16string_view t, const CharacterInputs&, WorksheetFunction*) {
  return removeSpaces(t);
}
Result edges(std::u16string_view t, const CharacterInputs&, WorksheetFunction*) {
  return trimEdges(t);
}
Result excess(std::u16string_view t, const CharacterInputs&, WorksheetFunction* functions) {
  if (functions) return functions->trim(std::u16string(t));
  return trimExcessSpaces(t);
}
Result nonPrintable(std::u16string_view t, const CharacterInputs&, WorksheetFunction* functions) {
  if (functions) return functions->clean(std::u16string(t));
  return removeNonPrintable(t);
}

// The position cuts: all text or a number of characters, before or after the start,
// counted in code units or, under the Unicode rules, in code points.
template <bool kBefore, bool kWholeRest>
Result cut(std::u16string_view t, const CharacterInputs& in, WorksheetFunction*) {
  const auto cutter = in.rules == TextRules::Unicode ? cutAtCodePoint : CutAtPosition;
  if (!in.startPosition) return std::nullopt;
  if (kWholeRest) return cutter(t, kBefore, true, *in.startPosition, 0);
  if (!in.charCount) return std::nullopt;
  return cutter(t, kBefore, false, *in.startPosition, *in.charCount);
}

// The removals that read only the text rules.
template <std::u16string (*kRemoval)(std::u16string_view, TextRules)>
Result byRules(std::u16string_view t, const CharacterInputs& in, WorksheetFunction*) {
  return kRemoval(t, in.rules);
}
Result text(std::u16string_view t, const CharacterInputs& in, WorksheetFunction*) {
  return removeText(t, in.text, in.matchCase);
}
// A pattern that does not compile, or whose matching goes past its limits, leaves the text.
Result pattern(std::u16string_view t, const CharacterInputs& in, WorksheetFunction*) {
  return tryRemovePattern(t, in.pattern, in.matchCase, in.rules);
}
Result between(std::u16string_view t, const CharacterInputs& in, WorksheetFunction*) {
  return removeBetween(t, in.opening, in.closing);
}
// The first or last characters: a number that did not convert fails, as the cuts do.
template <bool kFromEnd>
Result ends(std::u16string_view t, const CharacterInputs& in, WorksheetFunction*) {
  if (!in.charCount) return std::nullopt;
  return removeEnd(t, kFromEnd, *in.charCount, in.rules);
}

using enum OperationInputs;
constexpr OperationKind kChar = OperationKind::CharacterLevel;
constexpr OperationKind kValue = OperationKind::ValueLevel;
constexpr ValueMode kNoMode = ValueMode::KeepFirst;
constexpr OperationFacts kNoFacts{};
constexpr OperationFacts kDrops{.dropsSingleCharacters = true};
constexpr OperationFacts kBeforeWhole{
    .side = PositionSide::Before, .wholeSide = true, .startsAtSeparator = true};
constexpr OperationFacts kAfterWhole{
    .side = PositionSide::After, .wholeSide = true, .startsAtSeparator = true};
constexpr OperationFacts kBeforeCount{.side = PositionSide::Before, .startsAtSeparator = true};
constexpr OperationFacts kAfterCount{.side = PositionSide::After, .startsAtSeparator = true};

constexpr std::array<OperationRow, kOperationCount> kOperations{{
    {Operation::RNUM, u"RNUM", u"Do You want to remove all Numeric (Numbers) in Selection?", None,
     kChar, fixedSet<&charsets::kDigits>, kNoMode, false, "digits", "all digits 0-9",
     u"All Numeric Characters", 0, kDrops},
    {Operation::RALP, u"RALP", u"Do You want to remove Text Characters (Alphabets) in Selection?",
     None, kChar, fixedSet<&charsets::kLetters>, kNoMode, false, "letters", "all letters A-Z, a-z",
     u"All Alphabet Characters", 1, kDrops},
    {Operation::RNPC, u"RNPC",
     u"Do You want to remove all Non Printable Characters (Tab, Return Carriage etc.) in "
     u"Selection?",
     None, kChar, transformMakingText<nonPrintable>, kNoMode, true, "nonprintable",
     "non-printable characters (codes 0-31)", u"All Non-printable Characters", 5, kDrops},
    {Operation::RUDC, u"RUDC",
     u"Do You want to remove all User Defined Characters (entered below) in Selection?", Characters,
     kChar, transformMakingText<userChars>, kNoMode, false, "chars", "the characters of --chars",
     u"All User Defined Character(s)", 11, kDrops},
    {Operation::RALS, u"RALS", u"Do You want to remove all Spaces in Selection?", None, kChar,
     transformMakingText<spaces>, kNoMode, false, "spaces", "every space", u"All Spaces", 2,
     kDrops},
    {Operation::RLTS, u"RLTS",
     u"Do You want to remove all Leading and Trailing Spaces in Selection?", None, kChar,
     transformMakingText<edges>, kNoMode, false, "trim", "leading and trailing spaces",
     u"Leading & Trailing Spaces", 3, kNoFacts},
    {Operation::RLTE, u"RLTE",
     u"Do You want to remove all Leading, Trailing and Excessive Spaces in Selection?", None, kChar,
     transformMakingText<excess>, kNoMode, true, "squeeze",
     "leading, trailing and excessive spaces", u"Leading, Trailing & Excessive Spaces", 4,
     kNoFacts},
    {Operation::RBSP, u"RBSP",
     u"Do You want to remove all Text before Start Position in Selection?", StartPosition, kChar,
     transformMakingText<cut<true, true>>, kNoMode, false, "", "all text before the start position",
     u"", -1, kBeforeWhole},
    {Operation::RASP, u"RASP", u"Do You want to remove all Text after Start Position in Selection?",
     StartPosition, kChar, transformMakingText<cut<false, true>>, kNoMode, false, "",
     "all text after the start position", u"", -1, kAfterWhole},
    {Operation::RNBP, u"RNBP",
     u"Do You want to remove No. of Characters before Start Position in Selection?", StartAndCount,
     kChar, transformMakingText<cut<true, false>>, kNoMode, false, "",
     "--count characters before the start position", u"", -1, kBeforeCount},
    {Operation::RNAP, u"RNAP",
     u"Do You want to remove No. of Characters after Start Position in Selection?", StartAndCount,
     kChar, transformMakingText<cut<false, false>>, kNoMode, false, "",
     "--count characters after the start position", u"", -1, kAfterCount},
    {Operation::RUPC, u"RUPC", u"Do You want to remove all 'UPPER' charcters in Selection?", None,
     kChar, fixedSet<&charsets::kUpperCase>, kNoMode, false, "upper", "upper-case letters A-Z",
     u"All UPPER Case Characters", 6, kDrops},
    {Operation::RLOC, u"RLOC", u"Do You want to remove all 'lower' charcters in Selection?", None,
     kChar, fixedSet<&charsets::kLowerCase>, kNoMode, false, "lower", "lower-case letters a-z",
     u"All lower Case Characters", 7, kDrops},
    {Operation::RDPV, u"RDPV",
     u"Do You want to remove 'Duplicate' Value (Keep First Value) in Selection?", None, kValue,
     nullptr, ValueMode::KeepFirst, false, "keep-one",
     "duplicate values, keeping the first (one column)", u"Duplicate Values - Keep One", 8,
     kNoFacts},
    {Operation::RADP, u"RADP", u"Do You want to remove All 'Duplicate' Values in Selection?", None,
     kValue, nullptr, ValueMode::AllRepeated, false, "duplicates",
     "every value that occurs more than once (one column)", u"All Duplicate Values", 9, kNoFacts},
    {Operation::RUDP, u"RUDP", u"Do You want to remove All 'Unique' Values in Selection?", None,
     kValue, nullptr, ValueMode::AllUnique, false, "unique",
     "every value that occurs once (one column)", u"All Unique Values", 10, kNoFacts},
    {Operation::RNDG, u"RNDG", u"Do You want to remove everything but the Digits in Selection?",
     None, kChar, transformMakingText<byRules<keepDigits>>, kNoMode, false, "non-digits",
     "everything but the digits 0-9", u"", -1, kDrops},
    {Operation::RNAN, u"RNAN",
     u"Do You want to remove everything but Letters and Digits in Selection?", None, kChar,
     transformMakingText<byRules<keepLettersAndDigits>>, kNoMode, false, "non-alphanumeric",
     "everything but the letters and digits (spaces too)", u"", -1, kNoFacts},
    {Operation::RPSY, u"RPSY", u"Do You want to remove Punctuation and Symbols in Selection?", None,
     kChar, transformMakingText<byRules<removePunctuationAndSymbols>>, kNoMode, false, "symbols",
     "punctuation and symbols", u"", -1, kDrops},
    {Operation::RTXT, u"RTXT", u"Do You want to remove every occurrence of the Text in Selection?",
     Text, kChar, transformMakingText<text>, kNoMode, false, "text", "every occurrence of --text",
     u"", -1, kNoFacts},
    {Operation::RBTW, u"RBTW",
     u"Do You want to remove the Text between the Delimiters (included) in Selection?", Delimiters,
     kChar, transformMakingText<between>, kNoMode, false, "between",
     "text from --open to --close, both included", u"", -1, kNoFacts},
    {Operation::RFNC, u"RFNC", u"Do You want to remove the First No. of Characters in Selection?",
     Count, kChar, transformMakingText<ends<false>>, kNoMode, false, "first",
     "the first --count characters", u"", -1, kNoFacts},
    {Operation::RLNC, u"RLNC", u"Do You want to remove the Last No. of Characters in Selection?",
     Count, kChar, transformMakingText<ends<true>>, kNoMode, false, "last",
     "the last --count characters", u"", -1, kNoFacts},
    {Operation::RLBR, u"RLBR", u"Do You want to remove Line Breaks in Selection?", None, kChar,
     transformMakingText<byRules<joinLines>>, kNoMode, false, "line-breaks",
     "line breaks; one space between the lines", u"", -1, kNoFacts},
    {Operation::RACC, u"RACC", u"Do You want to remove Accents (keep the Letters) in Selection?",
     None, kChar, transformMakingText<byRules<removeAccents>>, kNoMode, false, "accents",
     "accents of letters, the letters kept (symbols keep theirs)", u"", -1, kNoFacts},
    {Operation::RPAT, u"RPAT", u"Do You want to remove every match of the Pattern in Selection?",
     Pattern, kChar, transformMakingText<pattern>, kNoMode, false, "pattern",
     "every match of the regular expression --pattern (PCRE2)", u"", -1, kNoFacts},
}};

constexpr bool rowsInEnumOrder() {
  for (std::size_t i = 0; i < kOperations.size(); ++i) {
    if (static_cast<std::size_t>(kOperations[i].operation) != i) return false;
  }
  return true;
}
static_assert(rowsInEnumOrder(), "one row per operation, in the order of Operation");

}  // namespace

std::span<const OperationRow> operationTable() { return kOperations; }

const OperationRow& operationRow(Operation operation) {
  return kOperations[static_cast<std::size_t>(operation)];
}

std::u16string_view operationCode(Operation operation) { return operationRow(operation).code; }

std::optional<Operation> operationFromCode(std::u16string_view code) {
  for (const OperationRow& row : kOperations) {
    if (row.code == code) return row.operation;
  }
  return std::nullopt;
}

bool isCharacterOperation(Operation operation) {
  return operationRow(operation).kind == OperationKind::CharacterLevel;
}

std::u16string_view operationQuestion(Operation operation) {
  return operationRow(operation).question;
}

bool usesStartPosition(Operation operation) {
  const OperationInputs inputs = operationRow(operation).inputs;
  return inputs == StartPosition || inputs == StartAndCount;
}

bool usesCharCount(Operation operation) {
  const OperationInputs inputs = operationRow(operation).inputs;
  return inputs == StartAndCount || inputs == Count;
}

Operation positionOperation(PositionSide side, bool whole) {
  for (const OperationRow& row : kOperations) {
    if (row.facts.side == side && side != PositionSide::None && row.facts.wholeSide == whole) {
      return row.operation;
    }
  }
  return Operation::RASP;  // not reached: the table has the four
}

std::optional<Operation> wizardOperation(int index) {
  for (const OperationRow& row : kOperations) {
    if (row.wizardIndex >= 0 && row.wizardIndex == index) return row.operation;
  }
  return std::nullopt;
}

bool transformTextInto(Operation operation, std::u16string_view text, const CharacterInputs& inputs,
                       WorksheetFunction* functions, std::u16string& out) {
  if (inputs.rules == TextRules::Unicode) {
    if (const TextTransform unicode = unicodeTransform(operation)) {
      return unicode(text, inputs, functions, out);
    }
  }
  const TextTransform transform = operationRow(operation).transform;
  return transform != nullptr && transform(text, inputs, functions, out);
}

std::optional<std::u16string> transformText(Operation operation, std::u16string_view text,
                                            const CharacterInputs& inputs,
                                            WorksheetFunction* functions) {
  std::u16string out;
  if (!transformTextInto(operation, text, inputs, functions, out)) return std::nullopt;
  return out;
}

}  // namespace qmv
