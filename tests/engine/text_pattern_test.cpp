// The pattern removal through its row of the operation table, under both text rules; the
// Windows test program runs the same table against the DLL's build of the matcher.
#include "engine/text_pattern.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "engine/operations.hpp"

namespace qmv {
namespace {

struct PatternRow {
  const char* name;
  std::u16string pattern;
  bool matchCase;
  std::u16string text;
  std::optional<std::u16string> classic;  ///< under TextRules::Classic
  std::optional<std::u16string> unicode;  ///< under TextRules::Unicode
};

std::optional<std::u16string> run(const PatternRow& row, TextRules rules) {
  CharacterInputs in;
  in.pattern = row.pattern;
  in.matchCase = row.matchCase;
  in.rules = rules;
  return transformText(Operation::RPAT, row.text, in);
}

TEST(TextPattern, EveryMatchGoesUnderBothRules) {
  const std::u16string nested = u"(a+)+$";
  const std::u16string loneHigh(1, u'\xD800');
  const PatternRow rows[] = {
      {"digits", u"\\d+", true, u"tel. 212-555-0147", u"tel. --", u"tel. --"},
      {"everything but digits", u"\\D+", true, u"+44 (20) 7946", u"44207946", u"44207946"},
      {"no word characters", u"\\W", true, u"a-b_c", u"ab_c", u"ab_c"},
      {"no spaces kept", u"\\S", true, u"a b\tc", u" \t", u" \t"},
      {"tags", u"<[^>]*>", true, u"Call <b>today</b>", u"Call today", u"Call today"},
      {"last three after a dash", u"-[A-Z]{2}$", true, u"AB-123-XY", u"AB-123", u"AB-123"},
      {"case matched", u"[A-Z]", true, u"aBc", u"ac", u"ac"},
      {"any case", u"b", false, u"aBcb", u"ac", u"ac"},
      {"any case folds Latin-1", u"\u00E9", false, u"\u00C9t\u00E9", u"t", u"t"},
      {"inline case switch", u"(?i)x", true, u"xXy", u"y", u"y"},
      {"an empty pattern changes nothing", u"", true, u"abc", u"abc", u"abc"},
      {"empty matches remove nothing", u"x*", true, u"axxb", u"ab", u"ab"},
      {"dot stops at a line feed", u"a.b", true, u"a\nb axb", u"a\nb ", u"a\nb "},
      {"^ holds at the start of the text only", u"^x", true, u"x\nx", u"\nx", u"\nx"},
      {"lookahead", u"\\d(?=%)", true, u"5% 6", u"% 6", u"% 6"},
      {"backreference", u"(\\w)\\1", true, u"aabcc", u"b", u"b"},
      {"Arabic-Indic digit only under Unicode", u"\\d", true, u"1\u0663", u"\u0663", u""},
      {"letters beyond ASCII only under Unicode", u"\\w+", true, u"Jos\u00E9!", u"\u00E9!", u"!"},
      {"a pair is one character", u"^.$", true, u"\U0001F600", u"", u""},
      {"an emoji as a literal", u"\U0001F600", true, u"a\U0001F600b", u"ab", u"ab"},
      {"a lone surrogate matches nothing", u".", true, loneHigh, loneHigh, loneHigh},
      {"a lone surrogate fails no match", u"\\d", true, u"1" + loneHigh + u"2", loneHigh, loneHigh},
      {"an invalid pattern leaves the text", u"(ab", true, u"ab", std::nullopt, std::nullopt},
      {"backtracking past the budget leaves the text", nested, true,
       std::u16string(40, u'a') + u"!", std::nullopt, std::nullopt},
      {"the same pattern where it matches", nested, true, std::u16string(40, u'a'), u"", u""},
      // Cleaning patterns as Excel's users write them.
      {"letters of every script and spaces kept", u"[^\\p{L} ]", true,
       u"Hello World \u00C9COLE \u00E9cole \u0416\u0436 123!",
       u"Hello World \u00C9COLE \u00E9cole \u0416\u0436 ",
       u"Hello World \u00C9COLE \u00E9cole \u0416\u0436 "},
      {"capitals of every script", u"\\p{Lu}", true, u"\u00C9coLe \u0416\u0436", u"coe \u0436",
       u"coe \u0436"},
      {"numbers of every kind", u"\\p{N}", true, u"1\u00BD\u0663\u216B x", u" x", u" x"},
      {"a script", u"\\p{Latin}", true, u"a\u00E9 \u0416\u03C9", u" \u0416\u03C9",
       u" \u0416\u03C9"},
      {"anything but a line feed", u"\\N", true, u"ab\ncd", u"\n", u"\n"},
      {"a lookbehind with alternatives of two lengths", u"(?<=ab|c)x", true, u"abx cx bx",
       u"ab c bx", u"ab c bx"},
      {"$ before a final line feed", u"x$", true, u"ax\n", u"a\n", u"a\n"},
      {"dot over CR and U+2028", u"a.b", true, u"a\rb a\u2028b a\nb", u"  a\nb", u"  a\nb"},
      {"horizontal space takes the no-break space", u"\\h", true, u"a\u00A0b c", u"abc", u"abc"},
      {"final sigma in any case", u"(?i)\u03C3", true, u"\u03A3\u03C3\u03C2x", u"x", u"x"},
      {"Kelvin sign in any case", u"(?i)k", true, u"kK\u212Ax", u"x", u"x"},
  };
  for (const PatternRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(run(row, TextRules::Classic), row.classic);
    EXPECT_EQ(run(row, TextRules::Unicode), row.unicode);
  }
}

TEST(TextPattern, ErrorsAreOneLine) {
  struct Row {
    const char* name;
    std::u16string pattern;
    bool valid;
  };
  const Row rows[] = {
      {"an unclosed group", u"(ab", false},
      {"a quantifier without an atom", u"*a", false},
      {"an unknown class", u"[[:nothing:]]", false},
      {"an unknown property", u"\\p{Nope}", false},
      {"a lookbehind of no fixed length", u"(?<=a+)b", false},
      {"a lone surrogate", std::u16string(1, u'\xDC00'), false},
      {"too long", std::u16string(kMaxPatternLength + 1, u'a'), false},
      {"the longest allowed", std::u16string(kMaxPatternLength, u'a'), true},
      {"a class and a range", u"[[:alpha:]0-9_-]+", true},
      {"properties and a lookbehind", u"(?<=ab|c)[^\\p{L}\\p{N} ]", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::optional<std::u16string> error = patternError(row.pattern, true, TextRules::Classic);
    EXPECT_EQ(error.has_value(), !row.valid);
    if (!error) continue;
    EXPECT_TRUE(error->starts_with(u"The pattern is not valid: "));
    EXPECT_EQ(error->find(u'\n'), std::u16string::npos);
    EXPECT_LT(error->size(), 120U);
  }
  // The reason and the place, as PCRE2 gives them; a surrogate pair before it counts once.
  EXPECT_EQ(patternError(u"(ab", true, TextRules::Classic),
            u"The pattern is not valid: missing closing parenthesis at offset 3.");
  EXPECT_EQ(patternError(u"\U0001F600(", false, TextRules::Unicode),
            u"The pattern is not valid: missing closing parenthesis at offset 2.");
}

}  // namespace
}  // namespace qmv
