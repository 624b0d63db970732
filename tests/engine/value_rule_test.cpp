// The value rule: which cells each value removal clears, for columns whose values match
// only without regard to case in many scripts, and the streaming tally held to a plain
// count of UTF-16 folded keys over a long random column.
#include "engine/value_rule.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/case_fold.hpp"
#include "host/text.hpp"

namespace qmv {
namespace {

std::string marks(const std::vector<bool>& clears) {
  std::string out;
  for (const bool c : clears) out += c ? 'x' : '.';
  return out;
}

TEST(ValueRule, EachModeClearsByTheValuesFoldedInEveryScript) {
  struct Row {
    const char* name;
    std::vector<Value> column;
    const char* keepFirst;  ///< 'x' for each cell cleared
    const char* allRepeated;
    const char* allUnique;
  };
  const std::u16string p255(255, u'p');
  const std::u16string p256(256, u'p');
  std::u16string P256 = p256;
  P256[0] = u'P';
  const Row rows[] = {
      {"Vietnamese", {u"Vi\u1EC7t", u"VI\u1EC6T", u"abc", u"ABC"}, ".x.x", "xxxx", "...."},
      {"Romanian, Ukrainian, Kazakh, Armenian",
       {u"\u0218", u"\u0219", u"\u0490", u"\u0491", u"\u04D8", u"\u04D9", u"\u0531", u"\u0561"},
       ".x.x.x.x",
       "xxxxxxxx",
       "........"},
      {"accented Greek and final sigma",
       {u"\u0386", u"\u03AC", u"\u03A3", u"\u03C2", u"\u03C3"},
       ".x.xx",
       "xxxxx",
       "....."},
      {"fullwidth and beyond U+FFFF",
       {u"\uFF21", u"\uFF41", u"\U00010400", u"\U00010428"},
       ".x.x",
       "xxxx",
       "...."},
      {"the Kelvin sign and the long s",
       {u"\u212A", u"k", u"\u017F", u"S"},
       ".x.x",
       "xxxx",
       "...."},
      {"full foldings are not made", {u"\u00DF", u"ss", u"SS", u"\u1E9E"}, "..xx", "xxxx", "...."},
      {"wildcards are characters",
       {u"a*", u"ab", u"?", u"x", u"~?", u"?"},
       ".....x",
       "..x..x",
       "xx.xx."},
      {"numbers and texts by their text",
       {1.0, u"1", true, u"TRUE", u"1.5", 1.5},
       ".x.x.x",
       "xxxxxx",
       "......"},
      {"errors and empty texts are never cleared",
       {CellError::NA, u"#N/A", CellError::NA, u"", u"", Value{}},
       "......",
       "......",
       ".x...."},
      {"texts past the criterion", {p256, P256, p255, p255}, ".x.x", "..xx", "...."},
  };
  const HostLocale locale;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(marks(valueClears(ValueMode::KeepFirst, row.column, locale)), row.keepFirst);
    EXPECT_EQ(marks(valueClears(ValueMode::AllRepeated, row.column, locale)), row.allRepeated);
    EXPECT_EQ(marks(valueClears(ValueMode::AllUnique, row.column, locale)), row.allUnique);
  }
}

// A long column of words drawn from a small alphabet in both cases, with long and
// supplementary values: the tally (UTF-8 keys, its own table) against a map of the
// UTF-16 folds.
TEST(ValueRule, TheTallyClearsWhatACountOfTheFoldsClears) {
  const std::u16string letters[] = {u"a",          u"A",          u"\u1EC7", u"\u1EC6",
                                    u"\U00010400", u"\U00010428", u"\u00DF", u"*"};
  std::mt19937 random(41);
  std::vector<Value> column;
  for (int i = 0; i < 200'000; ++i) {
    std::u16string text;
    const int length = static_cast<int>(random() % 4) + (random() % 1000 == 0 ? 300 : 0);
    for (int k = 0; k < length; ++k) text += letters[random() % std::size(letters)];
    column.emplace_back(text);
  }
  for (const ValueMode mode :
       {ValueMode::KeepFirst, ValueMode::AllRepeated, ValueMode::AllUnique}) {
    SCOPED_TRACE(static_cast<int>(mode));
    std::unordered_map<std::u16string, int> counts;
    const auto keyOf = [&](const Value& v) {
      const std::u16string& text = std::get<std::u16string>(v);
      const bool usable = !text.empty() && (mode == ValueMode::KeepFirst || text.size() <= 255);
      return usable ? std::optional<std::u16string>(foldCase(text)) : std::nullopt;
    };
    for (const Value& v : column) {
      if (const auto key = keyOf(v)) ++counts[*key];
    }
    std::unordered_map<std::u16string, int> seen;
    const std::vector<bool> clears = valueClears(mode, column, HostLocale{});
    ASSERT_EQ(clears.size(), column.size());
    int wrong = 0;
    for (std::size_t i = 0; i < column.size(); ++i) {
      const auto key = keyOf(column[i]);
      bool expected = false;
      if (key) {
        const int n = counts[*key];
        expected = mode == ValueMode::KeepFirst     ? seen[*key]++ > 0
                   : mode == ValueMode::AllRepeated ? n > 1
                                                    : n == 1;
      }
      if (clears[i] != expected) ++wrong;
    }
    EXPECT_EQ(wrong, 0);
  }
}

}  // namespace
}  // namespace qmv
