// The character removals under the Classic and the Unicode text rules, side by side.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "engine/operations.hpp"
#include "engine/unicode_transforms.hpp"

namespace qmv {
namespace {

// Samples: a no-break space, a C1 control, a zero-width space, e/E acute, omega, a pair.
constexpr char16_t kNbsp[] = u"\u00A0";
constexpr char16_t kC1[] = u"\u0085";
constexpr char16_t kZwsp[] = u"\u200B";
constexpr char16_t kPair[] = u"\U0001F600";  // one character of two code units

struct RulesRow {
  const char* name;
  Operation operation;
  std::u16string text;
  std::optional<std::u16string> classic;
  std::optional<std::u16string> unicode;
  CharacterInputs inputs = {};
};

std::u16string s(std::u16string a) { return a; }

TEST(UnicodeRules, EachOperationUnderBothRules) {
  const std::u16string nbsp = kNbsp;
  const std::u16string pair = kPair;
  const RulesRow rows[] = {
      // Spaces.
      {"RALS no-break space", Operation::RALS, u"a" + nbsp + u"b c", u"a" + nbsp + u"bc", u"abc"},
      {"RALS tab and ideographic space", Operation::RALS, u"a\tb\u3000c", u"a\tb\u3000c", u"abc"},
      {"RLTS no-break spaces at the ends", Operation::RLTS, nbsp + u" a" + nbsp + u"b " + nbsp,
       nbsp + u" a" + nbsp + u"b " + nbsp, u"a" + nbsp + u"b"},
      {"RLTS only spaces", Operation::RLTS, u" \t" + nbsp, u"\t" + nbsp, u""},
      {"RLTE inner run keeps its first space", Operation::RLTE, u" a" + nbsp + u" \u2003b\t\tc ",
       u"a" + nbsp + u" \u2003b\t\tc", u"a" + nbsp + u"b\tc"},
      {"RLTE a single no-break space stays", Operation::RLTE, u"1" + nbsp + u"000",
       u"1" + nbsp + u"000", u"1" + nbsp + u"000"},
      // Non-printable characters.
      {"RNPC C1 next line", Operation::RNPC, s(u"a") + kC1 + u"b\tc", s(u"a") + kC1 + u"bc",
       u"abc"},
      {"RNPC zero width, word joiner, byte order mark", Operation::RNPC,
       s(u"\uFEFFa") + kZwsp + u"b\u2060c\u200Dd", s(u"\uFEFFa") + kZwsp + u"b\u2060c\u200Dd",
       u"abcd"},
      {"RNPC keeps a pair", Operation::RNPC, pair + u"\x01", pair, pair},
      // Letters and case.
      {"RALP accented letters", Operation::RALP, u"\u00E9t\u00E9 1 \u00C9",
       u"\u00E9\u00E9 1 \u00C9", u" 1 "},
      {"RALP omega and CJK", Operation::RALP, u"\u03A9=5\u4E2D", u"\u03A9=5\u4E2D", u"=5"},
      {"RALP a letter outside the first plane", Operation::RALP, u"x\U0001D400" + pair,
       u"\U0001D400" + pair, pair},
      {"RUPC E acute and omega", Operation::RUPC, u"\u00C9cole \u03A9\u03C9",
       u"\u00C9cole \u03A9\u03C9", u"cole \u03C9"},
      {"RLOC e acute and omega", Operation::RLOC, u"\u00C9t\u00E9 \u03A9\u03C9",
       u"\u00C9\u00E9 \u03A9\u03C9", u"\u00C9 \u03A9"},
      {"RLOC title case stays", Operation::RLOC, u"\u01C5a", u"\u01C5", u"\u01C5"},
      // A decomposed letter goes with its combining marks.
      {"RALP decomposed e acute", Operation::RALP, u"Cafe\u0301 1\u0301", u"\u0301 1\u0301",
       u" 1\u0301"},
      {"RUPC decomposed E acute", Operation::RUPC, u"E\u0301te\u0301", u"\u0301te\u0301",
       u"te\u0301"},
      {"RLOC keeps the marks of a kept letter", Operation::RLOC, u"E\u0301te\u0301",
       u"E\u0301\u0301", u"E\u0301"},
      {"RALS leaves marks alone", Operation::RALS, u"a \u0301b", u"a\u0301b", u"a\u0301b"},
      // Digits are 0-9 under both rules.
      {"RNUM full-width digits stay", Operation::RNUM, u"1\uFF12" + pair, u"\uFF12" + pair,
       u"\uFF12" + pair},
      // User characters: a pair is one character.
      {"RUDC removes a whole pair",
       Operation::RUDC,
       u"a" + pair + u"b",
       u"ab",
       u"ab",
       {std::nullopt, std::nullopt, kPair}},
      {"RUDC half a pair",
       Operation::RUDC,
       u"a" + pair + u"b",
       u"a\xDE00"
       u"b",
       u"a" + pair + u"b",
       {std::nullopt, std::nullopt, u"\xD83D"}},
      {"RUDC a lone half",
       Operation::RUDC,
       u"a\xD83D"
       u"b",
       u"ab",
       u"ab",
       {std::nullopt, std::nullopt, u"\xD83D"}},
      {"RUDC e acute",
       Operation::RUDC,
       u"caf\u00E9 \u00C9",
       u"caf \u00C9",
       u"caf \u00C9",
       {std::nullopt, std::nullopt, u"\u00E9"}},
      // Positions count characters.
      {"RBSP after a pair",
       Operation::RBSP,
       pair + u"abc",
       u"\xDE00"
       u"abc",
       u"abc",
       {int16_t{2}, std::nullopt, {}}},
      {"RASP keeps a whole pair",
       Operation::RASP,
       u"a" + pair + u"b",
       u"a\xD83D",
       u"a" + pair,
       {int16_t{2}, std::nullopt, {}}},
      {"RNBP removes a pair before",
       Operation::RNBP,
       u"a" + pair + u"b",
       u"a\xDE00"
       u"b",
       u"ab",
       {int16_t{3}, int16_t{1}, {}}},
      {"RNAP removes a pair after",
       Operation::RNAP,
       u"a" + pair + u"b",
       u"a\xDE00"
       u"b",
       u"ab",
       {int16_t{1}, int16_t{1}, {}}},
      {"RNAP beyond the end", Operation::RNAP, pair, u"\xD83D", pair, {int16_t{1}, int16_t{1}, {}}},
      {"RNBP fails alike",
       Operation::RNBP,
       pair + pair,
       std::nullopt,
       std::nullopt,
       {int16_t{2}, int16_t{2}, {}}},
      {"RBSP position 0 fails alike",
       Operation::RBSP,
       pair,
       std::nullopt,
       std::nullopt,
       {int16_t{0}, std::nullopt, {}}},
  };
  for (const RulesRow& row : rows) {
    SCOPED_TRACE(row.name);
    CharacterInputs inputs = row.inputs;
    inputs.rules = TextRules::Classic;
    EXPECT_EQ(transformText(row.operation, row.text, inputs), row.classic);
    inputs.rules = TextRules::Unicode;
    EXPECT_EQ(transformText(row.operation, row.text, inputs), row.unicode);
  }
}

TEST(UnicodeRules, ValueOperationsHaveNoTransformUnderEitherRule) {
  CharacterInputs inputs;
  inputs.rules = TextRules::Unicode;
  for (Operation op : {Operation::RDPV, Operation::RADP, Operation::RUDP}) {
    SCOPED_TRACE(std::string(operationRow(op).name));
    EXPECT_EQ(transformText(op, u"a", inputs), std::nullopt);
  }
}

struct PositionRow {
  const char* name;
  std::u16string text;
  int32_t unitPosition;
  int32_t expected;
};

TEST(UnicodeRules, UnitPositionsBecomeCharacterPositions) {
  const PositionRow rows[] = {
      {"zero stays zero", u"abc", 0, 0},       {"ASCII unchanged", u"abc", 3, 3},
      {"after a pair", u"\U0001F600-x", 3, 2}, {"after two pairs", u"\U0001F600\U0001F600-", 5, 3},
      {"beyond the end", u"ab", 9, 3},
  };
  for (const PositionRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(codePointPosition(row.text, row.unitPosition), row.expected);
  }
}

}  // namespace
}  // namespace qmv
