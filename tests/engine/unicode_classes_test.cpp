// The classification of the Unicode text rules. Also compiled into the Windows test
// program, so both builds are held to the same tables and the same answers.
#include "engine/unicode_classes.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace qmv {
namespace {

TEST(UnicodeClasses, LookupReproducesTheGeneratedClassification) {
  // Every code point's classes, hashed here and by the generator from the character data.
  EXPECT_EQ(classificationDigest(), generatedClassificationDigest());
}

struct ClassRow {
  const char* name;
  char32_t codePoint;
  bool space;
  bool nonPrintable;
  bool letter;
  bool upper;
  bool lower;
};

TEST(UnicodeClasses, ClassifiesTheCharactersUsersMeet) {
  const ClassRow rows[] = {
      {"space", U' ', true, false, false, false, false},
      {"tab is a space and a control", U'\t', true, true, false, false, false},
      {"line feed", U'\n', false, true, false, false, false},
      {"no-break space", U'\u00A0', true, false, false, false, false},
      {"narrow no-break space", U'\u202F', true, false, false, false, false},
      {"ideographic space", U'\u3000', true, false, false, false, false},
      {"em space", U'\u2003', true, false, false, false, false},
      {"delete", U'\x7F', false, true, false, false, false},
      {"first C1 control", U'\u0080', false, true, false, false, false},
      {"last C1 control", U'\u009F', false, true, false, false, false},
      {"zero width space", U'\u200B', false, true, false, false, false},
      {"zero width joiner", U'\u200D', false, true, false, false, false},
      {"left-to-right mark stays printable", U'\u200E', false, false, false, false, false},
      {"word joiner", U'\u2060', false, true, false, false, false},
      {"byte order mark", U'\uFEFF', false, true, false, false, false},
      {"soft hyphen stays printable", U'\u00AD', false, false, false, false, false},
      {"A", U'A', false, false, true, true, false},
      {"z", U'z', false, false, true, false, true},
      {"e acute", U'\u00E9', false, false, true, false, true},
      {"E acute", U'\u00C9', false, false, true, true, false},
      {"sharp s", U'\u00DF', false, false, true, false, true},
      {"Greek capital omega", U'\u03A9', false, false, true, true, false},
      {"ohm sign is an upper-case letter", U'\u2126', false, false, true, true, false},
      {"Greek small omega", U'\u03C9', false, false, true, false, true},
      {"title-case dz is neither case", U'\u01C5', false, false, true, false, false},
      {"CJK ideograph has no case", U'\u4E2D', false, false, true, false, false},
      {"Hangul syllable inside a range", U'\uAC01', false, false, true, false, false},
      {"digit", U'7', false, false, false, false, false},
      {"full-width digit", U'\uFF11', false, false, false, false, false},
      {"mathematical bold capital A", U'\U0001D400', false, false, true, true, false},
      {"Deseret small long i", U'\U00010428', false, false, true, false, true},
      {"emoji", U'\U0001F600', false, false, false, false, false},
      {"lone high surrogate", 0xD83D, false, false, false, false, false},
      {"beyond U+10FFFF", 0x110000, false, false, false, false, false},
  };
  for (const ClassRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(inClass(row.codePoint, CharClass::Space), row.space);
    EXPECT_EQ(inClass(row.codePoint, CharClass::NonPrintable), row.nonPrintable);
    EXPECT_EQ(inClass(row.codePoint, CharClass::Letter), row.letter);
    EXPECT_EQ(inClass(row.codePoint, CharClass::Upper), row.upper);
    EXPECT_EQ(inClass(row.codePoint, CharClass::Lower), row.lower);
  }
}

TEST(UnicodeClasses, TellsCombiningMarks) {
  const std::pair<const char*, char32_t> marks[] = {
      {"combining acute", U'\u0301'},
      {"Devanagari vowel sign aa", U'\u093E'},
      {"combining enclosing circle", U'\u20DD'},
      {"variation selector 16", U'\uFE0F'},
  };
  for (const auto& [name, cp] : marks) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(inClass(cp, CharClass::Mark));
    EXPECT_FALSE(inClass(cp, CharClass::Letter));
  }
  const std::pair<const char*, char32_t> others[] = {
      {"e acute", U'\u00E9'}, {"acute accent", U'\u00B4'}, {"zero width joiner", U'\u200D'}};
  for (const auto& [name, cp] : others) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(inClass(cp, CharClass::Mark));
  }
}

struct WalkRow {
  const char* name;
  std::u16string text;
  std::size_t count;
  std::size_t offsetOfSecond;
};

TEST(UnicodeClasses, WalksTextByCodePoint) {
  const WalkRow rows[] = {
      {"empty", u"", 0, 0},
      {"ASCII", u"abc", 3, 1},
      {"a pair first", u"\U0001F600x", 2, 2},
      {"lone high surrogate at the end", u"a\xD83D", 2, 1},
      {"lone low surrogate first",
       u"\xDE00"
       u"a",
       2, 1},
      {"reversed halves are two characters", u"\xDE00\xD83D", 2, 1},
  };
  for (const WalkRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(codePointCount(row.text), row.count);
    EXPECT_EQ(unitOffset(row.text, 1), row.offsetOfSecond);
    EXPECT_EQ(unitOffset(row.text, row.count + 3), row.text.size());
  }
  EXPECT_EQ(codePointAt(u"\U0001F600", 0).value, U'\U0001F600');
}

}  // namespace
}  // namespace qmv
