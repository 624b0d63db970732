#include "engine/operations.hpp"

#include <array>

#include "engine/broken_encoding.hpp"
#include "engine/change_case.hpp"
#include "engine/emoji_removal.hpp"
#include "engine/look_alikes.hpp"
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

// The transforms that read nothing but the text.
template <std::u16string (*kChange)(std::u16string_view)>
Result textOnly(std::u16string_view t, const CharacterInputs&, WorksheetFunction*) {
  return kChange(t);
}

using enum OperationInputs;
using Group = RibbonGroupId;
constexpr OperationKind kValue = OperationKind::ValueLevel;
constexpr OperationFacts kDrops{.dropsSingleCharacters = true};
constexpr OperationFacts kBeforeWhole{
    .side = PositionSide::Before, .wholeSide = true, .startsAtSeparator = true};
constexpr OperationFacts kAfterWhole{
    .side = PositionSide::After, .wholeSide = true, .startsAtSeparator = true};
constexpr OperationFacts kBeforeCount{.side = PositionSide::Before, .startsAtSeparator = true};
constexpr OperationFacts kAfterCount{.side = PositionSide::After, .startsAtSeparator = true};
constexpr OperationFacts kCodePoints{.readsCodePoints = true};
constexpr std::u16string_view kOne = u"1";

constexpr std::array<OperationGroup, 11> kGroups{{
    {Group::Characters, u"grpCharacters", u"Characters", u"C", 0x2E7D32},
    {Group::Spaces, u"grpSpaces", u"Spaces", u"S", 0x00838F},
    {Group::Positions, u"grpPositions", u"Positions", u"P", 0x6A1B9A},
    {Group::Case, u"grpCase", u"Case", u"A", 0xAD1457},
    {Group::Keep, u"grpKeep", u"Keep Only", u"K", 0x2E7D32},
    {Group::Text, u"grpText", u"Text", u"T", 0xEF6C00},
    {Group::Ends, u"grpEnds", u"Ends", u"E", 0x6A1B9A},
    {Group::CleanUp, u"grpCleanUp", u"Clean Up", u"L", 0x00838F},
    {Group::ChangeCase, u"grpChangeCase", u"Change Case", u"G", 0xAD1457},
    {Group::Repair, u"grpRepair", u"Repair", u"R", 0x1F5F99},
    {Group::Values, u"grpValues", u"Values", u"V", 0xC62828},
}};

constexpr std::array<OperationRow, kOperationCount> kOperations{{
    {.operation = Operation::RNUM,
     .code = u"RNUM",
     .question = u"Do You want to remove all Numeric (Numbers) in Selection?",
     .transform = fixedSet<&charsets::kDigits>,
     .name = "digits",
     .meaning = "all digits 0-9",
     .ribbon = {Group::Characters},
     .menu = {u"QMV1", u"Remove all &Numeric in Selection", u"Remove_Numbers", 11, {}, true},
     .wizardEntry = u"All Numeric Characters",
     .wizardIndex = 0,
     .facts = kDrops},
    {.operation = Operation::RALP,
     .code = u"RALP",
     .question = u"Do You want to remove Text Characters (Alphabets) in Selection?",
     .transform = fixedSet<&charsets::kLetters>,
     .unicode = unicode_rules::classRemoval<CharClass::Letter>,
     .name = "letters",
     .meaning = "all letters A-Z, a-z",
     .ribbon = {Group::Characters},
     .menu = {u"QMV2", u"Remove all &Alphabets in Selection", u"Remove_Alphas", 219},
     .wizardEntry = u"All Alphabet Characters",
     .wizardIndex = 1,
     .facts = kDrops},
    {.operation = Operation::RNPC,
     .code = u"RNPC",
     .question = u"Do You want to remove all Non Printable Characters (Tab, Return Carriage etc.) "
                 u"in Selection?",
     .transform = transformMakingText<nonPrintable>,
     .unicode = unicode_rules::classRemoval<CharClass::NonPrintable>,
     .usesHostFunctions = true,
     .name = "nonprintable",
     .meaning = "non-printable characters (codes 0-31)",
     .ribbon = {Group::Characters},
     .menu = {u"QMV3", u"Remove Non-&Printable Characters in Selection", u"Remove_Nonpc", 1500},
     .wizardEntry = u"All Non-printable Characters",
     .wizardIndex = 5,
     .facts = kDrops},
    {.operation = Operation::RUDC,
     .code = u"RUDC",
     .question = u"Do You want to remove all User Defined Characters (entered below) in Selection?",
     .inputs = Characters,
     .transform = transformMakingText<userChars>,
     .unicode = unicode_rules::userCharacters,
     .name = "chars",
     .meaning = "the characters of --chars",
     .ribbon = {Group::Characters},
     .menu = {u"QMV4", u"Remove &User-defined Characters in Selection", u"Remove_Ausdc", 304},
     .wizardEntry = u"All User Defined Character(s)",
     .wizardIndex = 11,
     .facts = kDrops},
    {.operation = Operation::RALS,
     .code = u"RALS",
     .question = u"Do You want to remove all Spaces in Selection?",
     .transform = fixedSet<&charsets::kSpaceOnly>,
     .unicode = unicode_rules::classRemoval<CharClass::Space>,
     .name = "spaces",
     .meaning = "every space",
     .ribbon = {Group::Spaces},
     .menu = {u"QMV5", u"Remove all &Spaces in Selection", u"Remove_Alsps", 241, kOne, true},
     .wizardEntry = u"All Spaces",
     .wizardIndex = 2,
     .facts = kDrops},
    {.operation = Operation::RLTS,
     .code = u"RLTS",
     .question = u"Do You want to remove all Leading and Trailing Spaces in Selection?",
     .transform = transformMakingText<edges>,
     .unicode = unicode_rules::spaceEdges,
     .name = "trim",
     .meaning = "leading and trailing spaces",
     .ribbon = {Group::Spaces},
     .menu = {u"QMV6", u"Remove all &Leading and Trailing Spaces", u"Remove_Alts", 6, kOne},
     .wizardEntry = u"Leading & Trailing Spaces",
     .wizardIndex = 3},
    {.operation = Operation::RLTE,
     .code = u"RLTE",
     .question = u"Do You want to remove all Leading, Trailing and Excessive Spaces in Selection?",
     .transform = transformMakingText<excess>,
     .unicode = unicode_rules::excessSpaces,
     .usesHostFunctions = true,
     .name = "squeeze",
     .meaning = "leading, trailing and excessive spaces",
     .ribbon = {Group::Spaces},
     .menu = {u"QMV7", u"Remove all Leading, Trailing and &Excessive Spaces", u"Remove_Altes", 175,
              kOne},
     .wizardEntry = u"Leading, Trailing & Excessive Spaces",
     .wizardIndex = 4},
    {.operation = Operation::RBSP,
     .code = u"RBSP",
     .question = u"Do You want to remove all Text before Start Position in Selection?",
     .inputs = StartPosition,
     .transform = transformMakingText<cut<true, true>>,
     .meaning = "all text before the start position",
     .ribbon = {Group::Positions},
     .menu = {u"QMV8", u"Remove all Text before nth Characters", u"Remove_Altbsp", 315, kOne, true},
     .facts = kBeforeWhole},
    {.operation = Operation::RASP,
     .code = u"RASP",
     .question = u"Do You want to remove all Text after Start Position in Selection?",
     .inputs = StartPosition,
     .transform = transformMakingText<cut<false, true>>,
     .meaning = "all text after the start position",
     .ribbon = {Group::Positions},
     .menu = {u"QMV9", u"Remove all Text after nth Characters", u"Remove_Altasp", 314, kOne},
     .facts = kAfterWhole},
    {.operation = Operation::RNBP,
     .code = u"RNBP",
     .question = u"Do You want to remove No. of Characters before Start Position in Selection?",
     .inputs = StartAndCount,
     .transform = transformMakingText<cut<true, false>>,
     .meaning = "--count characters before the start position",
     .ribbon = {Group::Positions},
     .menu = {u"QMV10", u"Remove x no. of Chars before nth Characters", u"Remove_Noftbsp", 295,
              kOne},
     .facts = kBeforeCount},
    {.operation = Operation::RNAP,
     .code = u"RNAP",
     .question = u"Do You want to remove No. of Characters after Start Position in Selection?",
     .inputs = StartAndCount,
     .transform = transformMakingText<cut<false, false>>,
     .meaning = "--count characters after the start position",
     .ribbon = {Group::Positions},
     .menu = {u"QMV11", u"Remove x no. of Chars after nth Characters", u"Remove_Noftasp", 292,
              kOne},
     .facts = kAfterCount},
    {.operation = Operation::RUPC,
     .code = u"RUPC",
     .question = u"Do You want to remove all 'UPPER' charcters in Selection?",
     .transform = fixedSet<&charsets::kUpperCase>,
     .unicode = unicode_rules::classRemoval<CharClass::Upper>,
     .name = "upper",
     .meaning = "upper-case letters A-Z",
     .ribbon = {Group::Case},
     .menu = {u"QMV12", u"Remove all 'UPPER' Case Characters in Selection", u"Remove_Aupcs", 291,
              kOne, true},
     .wizardEntry = u"All UPPER Case Characters",
     .wizardIndex = 6,
     .facts = kDrops},
    {.operation = Operation::RLOC,
     .code = u"RLOC",
     .question = u"Do You want to remove all 'lower' charcters in Selection?",
     .transform = fixedSet<&charsets::kLowerCase>,
     .unicode = unicode_rules::classRemoval<CharClass::Lower>,
     .name = "lower",
     .meaning = "lower-case letters a-z",
     .ribbon = {Group::Case},
     .menu = {u"QMV13", u"Remove all 'lower' Case Characters in Selection", u"Remove_Alocs", 290,
              kOne},
     .wizardEntry = u"All lower Case Characters",
     .wizardIndex = 7,
     .facts = kDrops},
    {.operation = Operation::RDPV,
     .code = u"RDPV",
     .question = u"Do You want to remove 'Duplicate' Value (Keep First Value) in Selection?",
     .kind = kValue,
     .valueMode = ValueMode::KeepFirst,
     .name = "keep-one",
     .meaning = "duplicate values, keeping the first (one column)",
     .ribbon = {Group::Values},
     .menu = {u"QMV18", u"Remove Duplicates in Selection - Keep One", u"Remove_Aldpv", 450, kOne,
              true},
     .wizardEntry = u"Duplicate Values - Keep One",
     .wizardIndex = 8},
    {.operation = Operation::RADP,
     .code = u"RADP",
     .question = u"Do You want to remove All 'Duplicate' Values in Selection?",
     .kind = kValue,
     .valueMode = ValueMode::AllRepeated,
     .name = "duplicates",
     .meaning = "every value that occurs more than once (one column)",
     .ribbon = {Group::Values},
     .menu = {u"QMV19", u"Remove all Duplicates Values in Selection", u"Remove_Aldpvl", 486, kOne},
     .wizardEntry = u"All Duplicate Values",
     .wizardIndex = 9},
    {.operation = Operation::RUDP,
     .code = u"RUDP",
     .question = u"Do You want to remove All 'Unique' Values in Selection?",
     .kind = kValue,
     .valueMode = ValueMode::AllUnique,
     .name = "unique",
     .meaning = "every value that occurs once (one column)",
     .ribbon = {Group::Values},
     .menu = {u"QMV20", u"Remove all Unique Values in Selection", u"Remove_Aluvl", 452, kOne},
     .wizardEntry = u"All Unique Values",
     .wizardIndex = 10},
    {.operation = Operation::RNDG,
     .code = u"RNDG",
     .question = u"Do You want to remove everything but the Digits in Selection?",
     .transform = transformMakingText<byRules<keepDigits>>,
     .name = "non-digits",
     .meaning = "everything but the digits 0-9",
     .ribbon = {Group::Keep, u"Everything but Digits"},
     .facts = kDrops},
    {.operation = Operation::RNAN,
     .code = u"RNAN",
     .question = u"Do You want to remove everything but Letters and Digits in Selection?",
     .transform = transformMakingText<byRules<keepLettersAndDigits>>,
     .name = "non-alphanumeric",
     .meaning = "everything but the letters and digits (spaces too)",
     .ribbon = {Group::Keep, u"Everything but Letters and Digits"}},
    {.operation = Operation::RPSY,
     .code = u"RPSY",
     .question = u"Do You want to remove Punctuation and Symbols in Selection?",
     .transform = transformMakingText<byRules<removePunctuationAndSymbols>>,
     .name = "symbols",
     .meaning = "punctuation and symbols",
     .ribbon = {Group::Keep, u"Punctuation and Symbols"},
     .facts = kDrops},
    {.operation = Operation::RTXT,
     .code = u"RTXT",
     .question = u"Do You want to remove every occurrence of the Text in Selection?",
     .inputs = Text,
     .transform = transformMakingText<text>,
     .name = "text",
     .meaning = "every occurrence of --text",
     .ribbon = {Group::Text, u"A Text"}},
    {.operation = Operation::RBTW,
     .code = u"RBTW",
     .question = u"Do You want to remove the Text between the Delimiters (included) in Selection?",
     .inputs = Delimiters,
     .transform = transformMakingText<between>,
     .name = "between",
     .meaning = "text from --open to --close, both included",
     .ribbon = {Group::Text, u"Text between Delimiters"}},
    {.operation = Operation::RFNC,
     .code = u"RFNC",
     .question = u"Do You want to remove the First No. of Characters in Selection?",
     .inputs = Count,
     .transform = transformMakingText<ends<false>>,
     .name = "first",
     .meaning = "the first --count characters",
     .ribbon = {Group::Ends, u"First Characters"}},
    {.operation = Operation::RLNC,
     .code = u"RLNC",
     .question = u"Do You want to remove the Last No. of Characters in Selection?",
     .inputs = Count,
     .transform = transformMakingText<ends<true>>,
     .name = "last",
     .meaning = "the last --count characters",
     .ribbon = {Group::Ends, u"Last Characters"}},
    {.operation = Operation::RLBR,
     .code = u"RLBR",
     .question = u"Do You want to remove Line Breaks in Selection?",
     .transform = transformMakingText<byRules<joinLines>>,
     .name = "line-breaks",
     .meaning = "line breaks; one space between the lines",
     .ribbon = {Group::CleanUp, u"Line Breaks"}},
    {.operation = Operation::RACC,
     .code = u"RACC",
     .question = u"Do You want to remove Accents (keep the Letters) in Selection?",
     .transform = transformMakingText<byRules<removeAccents>>,
     .name = "accents",
     .meaning = "accents of letters, the letters kept (symbols keep theirs)",
     .ribbon = {Group::CleanUp, u"Accents"}},
    {.operation = Operation::RPAT,
     .code = u"RPAT",
     .question = u"Do You want to remove every match of the Pattern in Selection?",
     .inputs = Pattern,
     .transform = transformMakingText<pattern>,
     .name = "pattern",
     .meaning = "every match of the regular expression --pattern (PCRE2)",
     .ribbon = {Group::Text, u"A Pattern"}},
    {.operation = Operation::CUPR,
     .code = u"CUPR",
     .question = u"Do You want to change the Text to UPPER Case in Selection?",
     .transform = transformMakingText<textOnly<toUpperCase>>,
     .name = "to-upper",
     .meaning = "every letter to upper case, as Excel's UPPER",
     .ribbon = {Group::ChangeCase, u"UPPER CASE"},
     .facts = kCodePoints},
    {.operation = Operation::CLWR,
     .code = u"CLWR",
     .question = u"Do You want to change the Text to lower Case in Selection?",
     .transform = transformMakingText<textOnly<toLowerCase>>,
     .name = "to-lower",
     .meaning = "every letter to lower case, as Excel's LOWER",
     .ribbon = {Group::ChangeCase, u"lower case"},
     .facts = kCodePoints},
    {.operation = Operation::CPRP,
     .code = u"CPRP",
     .question = u"Do You want to change the Text to Proper Case in Selection?",
     .transform = transformMakingText<textOnly<toProperCase>>,
     .name = "to-proper",
     .meaning = "the first letter of every word upper case, as Excel's PROPER",
     .ribbon = {Group::ChangeCase, u"Proper Case"},
     .facts = kCodePoints},
    {.operation = Operation::CSNT,
     .code = u"CSNT",
     .question = u"Do You want to change the Text to Sentence case in Selection?",
     .transform = transformMakingText<textOnly<toSentenceCase>>,
     .name = "to-sentence",
     .meaning = "the first letter of every sentence upper case, the others lower",
     .ribbon = {Group::ChangeCase, u"Sentence case"},
     .facts = kCodePoints},
    {.operation = Operation::REMJ,
     .code = u"REMJ",
     .question = u"Do You want to remove all Emojis in Selection?",
     .transform = transformMakingText<textOnly<removeEmojis>>,
     .name = "emojis",
     .meaning = "emojis, with their joiners, skin tones and selectors",
     .ribbon = {Group::CleanUp, u"Emojis"},
     .facts = kCodePoints},
    {.operation = Operation::RLKA,
     .code = u"RLKA",
     .question = u"Do You want to replace Look-alike Characters by their usual forms in "
                 u"Selection?",
     .transform = transformMakingText<textOnly<normalizeWidths>>,
     .unicode = transformMakingText<textOnly<normalizeCompatibility>>,
     .name = "look-alikes",
     .meaning = "fullwidth and halfwidth forms to the usual ones; with Unicode text every "
                "compatibility form (NFKC)",
     .ribbon = {Group::Repair, u"Look-alike Characters"},
     .facts = kCodePoints},
    {.operation = Operation::RMOJ,
     .code = u"RMOJ",
     .question = u"Do You want to repair Broken Encodings (UTF-8 read as Windows-1252) in "
                 u"Selection?",
     .transform = transformMakingText<textOnly<repairBrokenEncoding>>,
     .name = "mojibake",
     .meaning = "text that was UTF-8 read as Windows-1252 or Latin-1, once or twice",
     .ribbon = {Group::Repair, u"Broken Encoding"}},
}};

constexpr bool rowsInEnumOrder() {
  for (std::size_t i = 0; i < kOperations.size(); ++i) {
    if (static_cast<std::size_t>(kOperations[i].operation) != i) return false;
  }
  return true;
}
static_assert(rowsInEnumOrder(), "one row per operation, in the order of Operation");

constexpr bool everyRowInAGroupOfTheTab() {
  for (const OperationRow& row : kOperations) {
    bool found = false;
    for (const OperationGroup& group : kGroups) found = found || group.group == row.ribbon.group;
    if (!found) return false;
  }
  return true;
}
static_assert(everyRowInAGroupOfTheTab(), "every operation has a button on the Ribbon");

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

std::span<const OperationGroup> operationGroups() { return kGroups; }

const OperationGroup* operationRibbonGroup(Operation operation) {
  for (const OperationGroup& group : kGroups) {
    if (group.group == operationRow(operation).ribbon.group) return &group;
  }
  return nullptr;
}

std::u16string withoutAcceleratorMark(std::u16string_view caption) {
  std::u16string out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == u'&') {
      if (i + 1 == caption.size()) break;
      ++i;  // the marked letter, or the second of a doubled mark
    }
    out += caption[i];
  }
  return out;
}

std::u16string operationRibbonLabel(Operation operation) {
  const OperationRow& row = operationRow(operation);
  return row.ribbon.label.empty() ? withoutAcceleratorMark(row.menu.caption)
                                  : std::u16string(row.ribbon.label);
}

std::optional<Operation> wizardOperation(int index) {
  for (const OperationRow& row : kOperations) {
    if (row.wizardIndex >= 0 && row.wizardIndex == index) return row.operation;
  }
  return std::nullopt;
}

bool transformTextInto(Operation operation, std::u16string_view text, const CharacterInputs& inputs,
                       WorksheetFunction* functions, std::u16string& out) {
  const OperationRow& row = operationRow(operation);
  if (inputs.rules == TextRules::Unicode && row.unicode) {
    return row.unicode(text, inputs, functions, out);
  }
  const TextTransform transform = row.transform;
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
