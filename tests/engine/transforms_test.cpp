#include "engine/transforms.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "host/text.hpp"

namespace qmv {
namespace {

struct RemoveRow {
  const char* name;
  std::u16string text;
  std::u16string_view set;
  std::u16string expected;
};

TEST(RemoveChars, RemovesEveryMemberOfTheSet) {
  const RemoveRow rows[] = {
      {"digits from a phone number", u"Tel: 0123-456", charsets::kDigits, u"Tel: -"},
      {"letters keep the digits", u"ab12CD", charsets::kLetters, u"12"},
      {"upper case", u"McDonald", charsets::kUpperCase, u"conald"},
      {"lower case", u"McDonald", charsets::kLowerCase, u"MD"},
      {"user characters", u"2007-01/02", u"-/", u"20070102"},
      {"empty set keeps the text", u"2007-01/02", u"", u"2007-01/02"},
      {"empty text", u"", charsets::kDigits, u""},
      {"repeats in the set are harmless", u"a-b-c", u"--", u"abc"},
      {"accented letters stay", u"\u00c9t\u00e9 caf\u00e9", charsets::kLetters,
       u"\u00c9\u00e9 \u00e9"},
      {"full-width digits stay", u"\uff11\uff122", charsets::kDigits, u"\uff11\uff12"},
      {"other scripts stay", u"\u0416a\u4e2d", charsets::kLetters, u"\u0416\u4e2d"},
      {"non-ASCII member of a user set", u"a\u00e9b\u00e9", u"\u00e9", u"ab"},
      {"sample user characters", u"a@b#c$d%e,f\"g", charsets::kSampleUserChars, u"abcdefg"},
      {"exact, no case folding", u"aAbB", u"a", u"AbB"},
      {"surrogate halves are separate units", u"x\U0001F600y", u"\xD83D", u"x\xDE00y"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(RemoveChars(row.text, row.set), row.expected);
    EXPECT_EQ(RemoveChars(row.text, CharacterSet(row.set)), row.expected);
  }
}

TEST(CharacterSet, TellsMembersApart) {
  const CharacterSet set(u"a\u00e9\x7f");
  EXPECT_TRUE(set.contains(u'a'));
  EXPECT_TRUE(set.contains(u'\u00e9'));
  EXPECT_TRUE(set.contains(u'\x7f'));
  EXPECT_FALSE(set.contains(u'A'));
  EXPECT_FALSE(set.contains(u'\u00c9'));
  EXPECT_FALSE(set.contains(u'\0'));
}

struct CutRow {
  const char* name;
  std::u16string text;
  bool before;
  bool wholeRest;
  int16_t n;
  int16_t x;
  std::optional<std::u16string> expected;
};

TEST(CutAtPosition, FollowsTheSubstringRules) {
  const std::u16string t = u"ABCDEFG";
  const CutRow rows[] = {
      // before the start position, whole rest (RBSP)
      {"RBSP n=3", t, true, true, 3, 0, u"CDEFG"},
      {"RBSP n=1 unchanged", t, true, true, 1, 0, t},
      {"RBSP n=len", t, true, true, 7, 0, u"G"},
      {"RBSP n beyond the end", t, true, true, 8, 0, u""},
      {"RBSP n=0 fails", t, true, true, 0, 0, std::nullopt},
      {"RBSP negative n fails", t, true, true, -1, 0, std::nullopt},
      {"RBSP ignores x", t, true, true, 3, -7, u"CDEFG"},
      {"RBSP on empty text", u"", true, true, 1, 0, u""},
      {"RBSP largest n", t, true, true, 32767, 0, u""},
      // after the start position, whole rest (RASP)
      {"RASP n=3", t, false, true, 3, 0, u"ABC"},
      {"RASP n=0 empties", t, false, true, 0, 0, u""},
      {"RASP n=len unchanged", t, false, true, 7, 0, t},
      {"RASP n beyond unchanged", t, false, true, 100, 0, t},
      {"RASP negative n fails", t, false, true, -1, 0, std::nullopt},
      {"RASP smallest n fails", t, false, true, -32768, 0, std::nullopt},
      // a number before the start position (RNBP)
      {"RNBP n=4 x=2", t, true, false, 4, 2, u"ADEFG"},
      {"RNBP x=0 unchanged", t, true, false, 4, 0, t},
      {"RNBP x=n-1 removes the whole prefix", t, true, false, 4, 3, u"DEFG"},
      {"RNBP n=2 x=2 fails", t, true, false, 2, 2, std::nullopt},
      {"RNBP n=0 fails", t, true, false, 0, 0, std::nullopt},
      {"RNBP negative n fails", t, true, false, -5, 0, std::nullopt},
      {"RNBP smallest n fails", t, true, false, -32768, 1, std::nullopt},
      {"RNBP n beyond, x=0 keeps all", t, true, false, 20, 0, t},
      {"RNBP n beyond, prefix cut to L", t, true, false, 20, 15, u"ABCD"},
      {"RNBP n just beyond", t, true, false, 8, 2, u"ABCDE"},
      {"RNBP negative x unchanged", t, true, false, 4, -2, t},
      {"RNBP negative x with n=0 still fails", t, true, false, 0, -2, std::nullopt},
      {"RNBP largest values", t, true, false, 32767, 32766, u""},
      // a number after the start position (RNAP)
      {"RNAP n=4 x=2", t, false, false, 4, 2, u"ABCDG"},
      {"RNAP n=0 x=2", t, false, false, 0, 2, u"CDEFG"},
      {"RNAP x=0 unchanged", t, false, false, 4, 0, t},
      {"RNAP n=len unchanged", t, false, false, 7, 3, t},
      {"RNAP n beyond unchanged", t, false, false, 50, 3, t},
      {"RNAP x beyond the end", t, false, false, 3, 10, u"ABC"},
      {"RNAP negative n fails", t, false, false, -1, 2, std::nullopt},
      {"RNAP negative x unchanged", t, false, false, 4, -2, t},
      {"RNAP n+x=32766 fits", t, false, false, 32000, 766, t},
      {"RNAP n+x=32767 overflows", t, false, false, 32000, 767, std::nullopt},
      {"RNAP largest values overflow", t, false, false, 32767, 32767, std::nullopt},
      {"RNAP on empty text", u"", false, false, 0, 2, u""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(CutAtPosition(row.text, row.before, row.wholeRest, row.n, row.x), row.expected);
  }
}

TEST(CutAtPosition, KeepsTheCharacterAtTheStartPosition) {
  const std::u16string t = u"abc-def-ghi";
  for (int16_t n = 1; n <= 11; ++n) {
    SCOPED_TRACE(n);
    const char16_t at = t[static_cast<std::size_t>(n - 1)];
    auto beforeAll = CutAtPosition(t, true, true, n, 0);
    auto afterAll = CutAtPosition(t, false, true, n, 0);
    ASSERT_TRUE(beforeAll && afterAll);
    EXPECT_EQ(beforeAll->front(), at);
    EXPECT_EQ(afterAll->back(), at);
    EXPECT_EQ(afterAll->size() + beforeAll->size(), t.size() + 1);
  }
}

struct SpaceRow {
  const char* name;
  std::u16string text;
  std::u16string spacesRemoved;
  std::u16string edgesTrimmed;
};

TEST(SpaceTransforms, TreatOnlyU0020AsASpace) {
  const SpaceRow rows[] = {
      {"space, a, two spaces, b, space", u" a  b ", u"ab", u"a  b"},
      {"only spaces", u"   ", u"", u""},
      {"empty", u"", u"", u""},
      {"no spaces", u"abc", u"abc", u"abc"},
      {"tab and line feed are not spaces", u"\ta b\n", u"\tab\n", u"\ta b\n"},
      {"non-breaking space is not a space", u"\u00a0a b\u00a0", u"\u00a0ab\u00a0",
       u"\u00a0a b\u00a0"},
      {"leading only", u"  x", u"x", u"x"},
      {"trailing only", u"x  ", u"x", u"x"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(removeSpaces(row.text), row.spacesRemoved);
    EXPECT_EQ(trimEdges(row.text), row.edgesTrimmed);
  }
}

TEST(Charsets, HoldTheExactMembers) {
  EXPECT_EQ(charsets::kDigits, u"1234567890");
  EXPECT_EQ(charsets::kLetters.size(), 52u);
  EXPECT_EQ(charsets::kUpperCase.size(), 26u);
  EXPECT_EQ(charsets::kLowerCase.size(), 26u);
  EXPECT_EQ(charsets::kSampleUserChars, u"@#$%,\"");
}

}  // namespace
}  // namespace qmv
