// The removals that keep a class, cut texts, join lines and drop accents, each through its
// row of the operation table under both text rules.
#include "engine/text_removals.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>

#include "engine/operations.hpp"

namespace qmv {
namespace {

struct RemovalRow {
  const char* name;
  Operation operation;
  std::u16string text;
  std::optional<std::u16string> classic;  ///< under TextRules::Classic
  std::optional<std::u16string> unicode;  ///< under TextRules::Unicode
  CharacterInputs inputs = {};
};

CharacterInputs count(int16_t n) {
  CharacterInputs in;
  in.charCount = n;
  return in;
}
CharacterInputs text(std::u16string_view what, bool matchCase) {
  CharacterInputs in;
  in.text = what;
  in.matchCase = matchCase;
  return in;
}
CharacterInputs delimiters(std::u16string_view opening, std::u16string_view closing) {
  CharacterInputs in;
  in.opening = opening;
  in.closing = closing;
  return in;
}

// U+1D7D8 MATHEMATICAL DOUBLE-STRUCK DIGIT ZERO is a decimal digit outside the BMP.
const std::u16string kPhone = u"+44 (20) 7946-0018 \u0663\U0001D7D8";
// Code units as they are, lone surrogates included.
std::u16string units(std::initializer_list<char16_t> list) { return std::u16string(list); }

TEST(TextRemovals, EachRowUnderBothRules) {
  const RemovalRow rows[] = {
      {"digits kept", Operation::RNDG, kPhone, u"442079460018", u"442079460018\u0663\U0001D7D8"},
      {"digits of an empty text", Operation::RNDG, u"", u"", u""},
      {"letters and digits kept", Operation::RNAN, u"Jos\u00E9 M-1, \u00E9!", u"JosM1",
       u"Jos\u00E9M1\u00E9"},
      {"a decomposed letter keeps its mark", Operation::RNAN, u"e\u0301 \u0301x", u"ex",
       u"e\u0301x"},
      {"punctuation and symbols", Operation::RPSY, u"a+b=c, (d) \u00A9\u2014\u20AC1!",
       u"abc d \u00A9\u2014\u20AC1", u"abc d 1"},
      {"an emoji is a symbol under Unicode", Operation::RPSY, u"hi\U0001F600", u"hi\U0001F600",
       u"hi"},
      {"a text, any case", Operation::RTXT, u"[tmp] keep [TMP]", u" keep ", u" keep ",
       text(u"[tmp]", false)},
      {"a text, matching case", Operation::RTXT, u"[tmp] keep [TMP]", u" keep [TMP]",
       u" keep [TMP]", text(u"[tmp]", true)},
      {"a text folds Greek and Latin-1 case", Operation::RTXT, u"\u00C9T\u00C9 \u03A9x", u"x", u"x",
       text(u"\u00E9t\u00E9 \u03C9", false)},
      {"occurrences do not overlap", Operation::RTXT, u"aaaa", u"", u"", text(u"aa", false)},
      {"an empty text changes nothing", Operation::RTXT, u"abc", u"abc", u"abc", text(u"", false)},
      {"tags", Operation::RBTW, u"Call <b>today</b>", u"Call today", u"Call today",
       delimiters(u"<", u">")},
      {"brackets nest", Operation::RBTW, u"a (b (c) d) e (f)", u"a  e ", u"a  e ",
       delimiters(u"(", u")")},
      {"an unclosed opening leaves the rest alone", Operation::RBTW, u"[x] y [z", u" y [z",
       u" y [z", delimiters(u"[", u"]")},
      {"a closing without an opening stays", Operation::RBTW, u"a) (b)", u"a) ", u"a) ",
       delimiters(u"(", u")")},
      {"equal delimiters pair in order", Operation::RBTW, u"say \"hi\" \"x", u"say  \"x",
       u"say  \"x", delimiters(u"\"", u"\"")},
      {"longer delimiters", Operation::RBTW, u"a<!--c-->b", u"ab", u"ab",
       delimiters(u"<!--", u"-->")},
      {"an empty delimiter changes nothing", Operation::RBTW, u"(a)", u"(a)", u"(a)",
       delimiters(u"", u")")},
      {"first 3", Operation::RFNC, u"AB-123", u"123", u"123", count(3)},
      {"last 3", Operation::RLNC, u"AB-123-XY", u"AB-123", u"AB-123", count(3)},
      {"last 1 of a pair: a unit, or the pair whole", Operation::RLNC, u"a\U0001F600",
       units({u'a', 0xD83D}), u"a", count(1)},
      {"first 1 of a pair", Operation::RFNC, u"\U0001F600b", units({0xDE00, u'b'}), u"b", count(1)},
      {"more than the text has", Operation::RFNC, u"abc", u"", u"", count(9)},
      {"zero", Operation::RLNC, u"abc", u"abc", u"abc", count(0)},
      {"a negative count changes nothing", Operation::RLNC, u"abc", u"abc", u"abc", count(-2)},
      {"no count fails", Operation::RFNC, u"abc", std::nullopt, std::nullopt},
      {"line breaks join with one space", Operation::RLBR, u"line one\r\nline two\n\nthree",
       u"line one line two three", u"line one line two three"},
      {"breaks at the ends go", Operation::RLBR, u"\r\n a \n", u" a ", u" a "},
      {"a space beside a break is enough", Operation::RLBR, u"a \nb\r c", u"a b c", u"a b c"},
      {"line and paragraph separators under Unicode", Operation::RLBR, u"a\u2028b\u2029",
       u"a\u2028b\u2029", u"a b"},
      {"accents", Operation::RACC, u"Jos\u00E9 M\u00FCller \u00F1 \u00C5", u"Jose Muller n A",
       u"Jose Muller n A"},
      {"decomposed marks go", Operation::RACC, u"e\u0301\u0323", u"e", u"e"},
      {"several marks in one character", Operation::RACC, u"\u1EC7\u01D5", u"eU", u"eU"},
      {"a sign decomposing to a letter with a ring", Operation::RACC, u"\u212B", u"A", u"A"},
      {"letters without marks stay", Operation::RACC, u"\u2126\u00DF\u00F8\u4E2D",
       u"\u2126\u00DF\u00F8\u4E2D", u"\u2126\u00DF\u00F8\u4E2D"},
      {"a mark outside the BMP only under Unicode", Operation::RACC, u"a\U0001D167", u"a\U0001D167",
       u"a"},
      // A symbol whose decomposition holds a mark is no accented letter: its meaning stays.
      {"negated relations stay", Operation::RACC,
       u"a \u2260 b, x \u2209 S, \u2204x, 3\u226E4, a\u2262b, \u21CE",
       u"a \u2260 b, x \u2209 S, \u2204x, 3\u226E4, a\u2262b, \u21CE",
       u"a \u2260 b, x \u2209 S, \u2204x, 3\u226E4, a\u2262b, \u21CE"},
      {"a decomposed negation stays", Operation::RACC, u"a =\u0338 b", u"a =\u0338 b",
       u"a =\u0338 b"},
      {"a Greek spacing accent stays", Operation::RACC, u"\u1FEE\u0385", u"\u1FEE\u0385",
       u"\u1FEE\u0385"},
      {"a keycap keeps its marks", Operation::RACC, u"1\uFE0F\u20E3", u"1\uFE0F\u20E3",
       u"1\uFE0F\u20E3"},
      {"a mark with nothing before it stays", Operation::RACC, u"\u0301a\u0301", u"\u0301a",
       u"\u0301a"},
      {"marks after an accented letter go too", Operation::RACC, u"\u00E9\u0323 \u00F1", u"e n",
       u"e n"},
      {"a musical symbol stays", Operation::RACC, u"\U0001D15E", u"\U0001D15E", u"\U0001D15E"},
      {"the marks of Indic, Thai and Japanese are spelling", Operation::RACC,
       u"\u09AC\u09BE\u0982\u09B2\u09BE \u0928\u092E\u0938\u094D\u0924\u0947 \u0E01\u0E34 \u304C",
       u"\u09AC\u09BE\u0982\u09B2\u09BE \u0928\u092E\u0938\u094D\u0924\u0947 \u0E01\u0E34 \u304C",
       u"\u09AC\u09BE\u0982\u09B2\u09BE \u0928\u092E\u0938\u094D\u0924\u0947 \u0E01\u0E34 \u304C"},
  };
  for (const RemovalRow& row : rows) {
    SCOPED_TRACE(row.name);
    CharacterInputs inputs = row.inputs;
    inputs.rules = TextRules::Classic;
    EXPECT_EQ(transformText(row.operation, row.text, inputs), row.classic);
    inputs.rules = TextRules::Unicode;
    EXPECT_EQ(transformText(row.operation, row.text, inputs), row.unicode);
  }
}

}  // namespace
}  // namespace qmv
