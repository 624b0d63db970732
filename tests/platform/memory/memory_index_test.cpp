// The column index behind COUNTIF, Find and the unique filter: built on the first count,
// then kept up to date by writes and clears. Its answers are checked against a scan of
// the cells through long random sequences of changes, and its parts on their own.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/cell_text.hpp"
#include "memory_fixture.hpp"
#include "platform/memory/key_index.hpp"
#include "platform/memory/large_allocator.hpp"
#include "platform/memory/memory_sheet.hpp"

namespace qmv::memory {
namespace {

/// A small deterministic generator (xorshift), so that every failure can be replayed.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  int64_t below(int64_t n) { return static_cast<int64_t>(next() % static_cast<uint64_t>(n)); }

 private:
  uint64_t state_;
};

/// `prefix` followed by the number.
std::string numbered(const char* prefix, uint64_t n) {
  std::string out(prefix);
  out += std::to_string(n);
  return out;
}

/// The folded text a cell is counted by; none for an empty cell and an error value.
std::optional<std::u16string> foldedTextOf(const CellContent& content, const HostLocale& locale) {
  if (isEmpty(content.value) && !content.isFormula()) return std::nullopt;
  const auto text = cellText(content.value, locale);
  if (!text) return std::nullopt;
  return foldCase(*text);
}

class MemoryIndexTest : public MemoryHostTest {
 protected:
  static constexpr int64_t kRows = 48;

  std::u16string column(int64_t last) const {
    const std::string a1 = numbered("A1:A", static_cast<uint64_t>(last));
    return {a1.begin(), a1.end()};
  }

  /// COUNTIF by a scan of rows r1..r2 of column A.
  double scanCount(int64_t r1, int64_t r2, const std::u16string& criterion) const {
    const std::u16string key = foldCase(criterion);
    double n = 0;
    for (int64_t r = r1; r <= r2; ++r) {
      if (foldedTextOf(host->cell({r, 1}), locale) == key) ++n;
    }
    return n;
  }

  /// Find over A1:A<kRows> after row `after`, by a scan: the rows below it, then from the
  /// top down to it.
  std::optional<int64_t> scanFind(const std::u16string& what, int64_t after) const {
    const std::u16string key = foldCase(what);
    for (int64_t i = 1; i <= kRows; ++i) {
      const int64_t r = (after - 1 + i) % kRows + 1;
      if (foldedTextOf(host->cell({r, 1}), locale) == key) return r;
    }
    return std::nullopt;
  }

  /// The rows the unique filter hides, by a scan of the used rows: a row repeats an
  /// earlier row's text (an empty cell repeats an earlier empty cell); an error value
  /// never repeats.
  std::vector<bool> scanFilter() const {
    auto used = [&](int64_t r) {
      const CellContent content = host->cell({r, 1});
      return !isEmpty(content.value) || content.isFormula() || host->fill({r, 1}).has_value();
    };
    int64_t first = 1;
    int64_t last = kRows;
    while (first <= kRows && !used(first)) ++first;
    while (last >= 1 && !used(last)) --last;
    std::vector<std::optional<std::u16string>> seen;
    std::vector<bool> hidden;
    for (int64_t r = 1; r <= kRows; ++r) {
      const CellContent content = host->cell({r, 1});
      if (r < first || r > last || std::holds_alternative<CellError>(content.value)) {
        hidden.push_back(false);
        continue;
      }
      const auto key = foldedTextOf(content, locale);
      const bool repeat = std::find(seen.begin(), seen.end(), key) != seen.end();
      if (!repeat) seen.push_back(key);
      hidden.push_back(repeat);
    }
    return hidden;
  }

  HostLocale locale;
};

const std::vector<std::u16string> kTexts{u"a", u"A", u"b", u"B ", u"", u"7", u"007", u"3.5", u"3,5",
                                         u"TRUE", u"x*", u"\u00C9t\u00E9", u"\u00E9T\u00C9",
                                         // Longer than a key keeps in itself.
                                         u"a text longer than twenty units",
                                         u"A TEXT LONGER THAN TWENTY UNITS"};

TEST_F(MemoryIndexTest, CountsFindsAndFiltersAgreeWithAScanThroughRandomChanges) {
  for (uint64_t seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(numbered("seed ", seed));
    host->closeWorkbooks();
    host->addWorkbook();
    host->setLocale(HostLocale{});
    locale = HostLocale{};
    Random random(seed);
    for (int step = 0; step < 400; ++step) {
      SCOPED_TRACE(numbered("step ", static_cast<uint64_t>(step)));
      const int64_t row = 1 + random.below(kRows);
      const std::u16string& text =
          kTexts[static_cast<std::size_t>(random.below(static_cast<int64_t>(kTexts.size())))];
      switch (random.below(12)) {
        case 0:
        case 1:
          host->setCell({row, 1}, constantOf(Value{text}));
          break;
        case 2:
          cellAt(row, 1)->setCellValue(1, 1, Value{text});  // typed input
          break;
        case 3:
          host->setCell({row, 1}, constantOf(Value{static_cast<double>(random.below(4)) + 0.5}));
          break;
        case 4:
          host->setCell({row, 1}, constantOf(Value{CellError::NA}));
          break;
        case 5:
          host->setCell({row, 1}, CellContent{Value{text}, u"=B1"});
          break;
        case 6:
          cellAt(row, 1)->clear();
          break;
        case 7:
          host->setFill({row, 1}, 0xFF00FF);
          break;
        case 8: {
          const int64_t r1 = 1 + random.below(kRows);
          const int64_t r2 = std::min(kRows, r1 + random.below(10));
          std::string a1 = numbered("A", static_cast<uint64_t>(r1));
          a1 += numbered(":A", static_cast<uint64_t>(r2));
          const double count =
              host->worksheetFunction().countIf(*range(std::u16string(a1.begin(), a1.end())), text);
          if (!text.empty()) {
            EXPECT_EQ(count, scanCount(r1, r2, text)) << u8(text);
          }
          break;
        }
        case 9: {
          const auto found = range(column(kRows))->find(text, *cellAt(row, 1));
          const auto expected = text.empty() ? std::nullopt : scanFind(text, row);
          ASSERT_EQ(found != nullptr, expected.has_value()) << u8(text);
          if (found) {
            EXPECT_EQ(found->topLeft().row, *expected) << u8(text);
          }
          break;
        }
        case 10: {
          if (random.below(8) == 0) {
            locale = random.below(2) == 0 ? HostLocale{} : HostLocale{u',', u'.'};
            host->setLocale(locale);
          }
          range(column(kRows))->advancedFilterUniqueInPlace();
          const std::vector<bool> hidden = scanFilter();
          for (int64_t r = 1; r <= kRows; ++r) {
            EXPECT_EQ(host->rowHidden(r), hidden[static_cast<std::size_t>(r - 1)]) << r;
          }
          host->activeSheet()->showAllData();
          break;
        }
        default: {
          const double count = host->worksheetFunction().countIf(*range(column(kRows)), text);
          if (!text.empty()) {
            EXPECT_EQ(count, scanCount(1, kRows, text)) << u8(text);
          }
          break;
        }
      }
    }
  }
}

TEST_F(MemoryIndexTest, AColumnWalkedUpAndDownCountsEveryCellAsAScanDoes) {
  // Callers walk a column and count each cell's own text; the index answers those from
  // the cells next to the last one. Walk with gaps, in both directions, while clearing.
  std::vector<Value> values;
  for (int64_t r = 1; r <= kRows; ++r) {
    values.emplace_back(
        kTexts[static_cast<std::size_t>(r * 7 % static_cast<int64_t>(kTexts.size()))]);
  }
  host->setColumn({1, 1}, values);
  const RangePtr all = range(column(kRows));
  struct Walk {
    const char* name;
    int64_t from;
    int64_t step;
  };
  for (const Walk& walk : {Walk{"down", 1, 1}, Walk{"up", kRows, -1},
                           Walk{"up by threes", kRows, -3}, Walk{"down by fives", 2, 5}}) {
    SCOPED_TRACE(walk.name);
    for (int64_t r = walk.from; r >= 1 && r <= kRows; r += walk.step) {
      const CellContent content = host->cell({r, 1});
      const auto* text = std::get_if<std::u16string>(&content.value);
      if (text == nullptr || text->empty()) continue;
      EXPECT_EQ(host->worksheetFunction().countIf(*all, *text), scanCount(1, kRows, *text)) << r;
      if (r % 4 == 0) cellAt(r, 1)->clear();
    }
  }
}

TEST_F(MemoryIndexTest, ManyRowsOfOneTextStayExactThroughClearsAndRewrites) {
  // More rows than a key lists without sweeping: the stale rows are swept as they pile up.
  constexpr int64_t kMany = 300;
  host->setColumn({1, 1}, std::vector<Value>(kMany, Value{u"same"}));
  const std::u16string a1 = u"A1:A300";
  EXPECT_EQ(host->worksheetFunction().countIf(*range(a1), u"SAME"), kMany);
  for (int64_t r = 1; r <= kMany; r += 2) cellAt(r, 1)->clear();
  EXPECT_EQ(host->worksheetFunction().countIf(*range(a1), u"same"), kMany / 2);
  EXPECT_EQ(host->worksheetFunction().countIf(*range(u"A1:A10"), u"same"), 5);
  EXPECT_EQ(range(a1)->find(u"same", *cellAt(1, 1))->topLeft().row, 2);
  for (int64_t r = 1; r <= kMany; r += 2) host->setCell({r, 1}, constantOf(Value{u"x"}));
  EXPECT_EQ(host->worksheetFunction().countIf(*range(a1), u"X"), kMany / 2);
  for (int64_t r = 1; r <= kMany; r += 2) host->setCell({r, 1}, constantOf(Value{u"same"}));
  EXPECT_EQ(host->worksheetFunction().countIf(*range(a1), u"same"), kMany);
  EXPECT_EQ(host->worksheetFunction().countIf(*range(u"A101:A200"), u"same"), 100);
  EXPECT_EQ(range(a1)->find(u"same", *cellAt(kMany, 1))->topLeft().row, 1);
}

TEST(MemoryColumnIndex, IsBuiltByTheFirstCountAndKeptByWritesAfterwards) {
  const HostLocale locale;
  detail::Column column;
  for (int64_t r = 1; r <= 20; ++r) {
    column.setContent(r, constantOf(Value{r % 2 == 0 ? u"even" : u"odd"}), locale);
  }
  EXPECT_FALSE(column.indexed());  // writes alone build nothing
  EXPECT_EQ(column.countKey(u"even", 1, 20, locale), 10);
  EXPECT_TRUE(column.indexed());
  column.setContent(3, constantOf(Value{u"even"}), locale);
  column.clear(2);
  EXPECT_EQ(column.countKey(u"even", 1, 20, locale), 10);
  EXPECT_EQ(column.countKey(u"odd", 1, 20, locale), 9);
  EXPECT_EQ(column.countKey(u"even", 1, 3, locale), 1);
  const auto key = detail::keyText(u"even");
  EXPECT_EQ(column.firstKeyRow(key, 1, 20, locale), 3);
  column.dropIndex();
  EXPECT_FALSE(column.indexed());
  EXPECT_EQ(column.countKey(u"odd", 1, 20, locale), 9);
}

TEST(MemoryColumnIndex, SurvivesWritesOfEverNewTexts) {
  // Each write makes a new key and leaves one behind: the index is rebuilt once the
  // keys no cell holds outnumber the column, and stays exact throughout.
  const HostLocale locale;
  detail::Column column;
  for (int64_t r = 1; r <= 8; ++r) column.setContent(r, constantOf(Value{u"seed"}), locale);
  ASSERT_EQ(column.countKey(u"seed", 1, 8, locale), 8);
  for (int i = 0; i < 20000; ++i) {
    const int64_t row = 1 + i % 8;
    const std::string text = numbered("t", static_cast<uint64_t>(i));
    column.setContent(row, constantOf(Value{std::u16string(text.begin(), text.end())}), locale);
    if (i % 997 == 0) {
      SCOPED_TRACE(i);
      EXPECT_EQ(column.countKey(std::u16string(text.begin(), text.end()), 1, 8, locale), 1);
      EXPECT_EQ(column.countKey(u"seed", 1, 8, locale), i < 7 ? 7 - i : 0);
    }
  }
}

TEST(MemoryColumnIndex, GivesTheSameNumberToTheSameFoldedText) {
  const HostLocale locale;
  detail::Column column;
  const std::vector<Value> values{Value{u"Ab"}, Value{},     Value{u"aB"}, Value{CellError::NA},
                                  Value{7.0},   Value{u"7"}, Value{u""},   Value{u"ab "}};
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!isEmpty(values[i])) {
      column.setContent(static_cast<int64_t>(i) + 1, constantOf(values[i]), locale);
    }
  }
  for (const bool indexed : {false, true}) {
    SCOPED_TRACE(indexed ? "from the index" : "without an index");
    if (indexed) column.countKey(u"ab", 1, 8, locale);
    std::vector<uint32_t> keys;
    const std::size_t limit = column.keysOf(1, 9, locale, keys);
    ASSERT_EQ(keys.size(), 9u);
    EXPECT_EQ(keys[0], keys[2]);  // "Ab" and "aB"
    EXPECT_EQ(keys[1], 0u);       // empty
    EXPECT_EQ(keys[3], 0u);       // error
    EXPECT_EQ(keys[4], keys[5]);  // 7 and "7"
    EXPECT_NE(keys[6], 0u);       // the empty text is a text
    EXPECT_NE(keys[0], keys[7]);  // a trailing space counts
    EXPECT_EQ(keys[8], 0u);       // beyond the column
    for (uint32_t key : keys) EXPECT_LT(key, limit);
  }
}

TEST(MemoryKeyIndex, FindsEveryTextThroughGrowthAndKnowsTheSoleRow) {
  detail::KeyIndex index;
  std::vector<std::u16string> texts;
  for (int i = 0; i < 5000; ++i) {
    const std::string t =
        numbered(i % 3 == 0 ? "a longer text than the key holds " : "k", static_cast<uint64_t>(i));
    texts.emplace_back(t.begin(), t.end());
  }
  std::vector<uint32_t> keys;
  for (const auto& t : texts) keys.push_back(index.intern(detail::keyText(t)));
  for (std::size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(index.find(detail::keyText(texts[i])), keys[i]);
    EXPECT_EQ(index.intern(detail::keyText(texts[i])), keys[i]);
    EXPECT_TRUE(index.isKeyOf(keys[i], texts[i]));
  }
  EXPECT_EQ(index.size(), texts.size());
  EXPECT_EQ(index.find(detail::keyText(u"absent")), 0u);

  const uint32_t key = keys[7];
  const auto never = [](uint32_t, uint32_t) { return false; };
  EXPECT_EQ(index.soleRow(key), 0u);
  index.add(key, 40);
  EXPECT_EQ(index.soleRow(key), 40u);
  index.add(key, 12);
  EXPECT_EQ(index.count(key), 2u);
  EXPECT_EQ(index.soleRow(key), 0u);
  index.remove(key, 40, never);
  EXPECT_EQ(index.soleRow(key), 12u);
  index.remove(key, 12, never);
  EXPECT_EQ(index.count(key), 0u);
  EXPECT_EQ(index.deadKeys(), texts.size());
}

TEST(MemoryLargeAllocator, HoldsLargeAndSmallArrays) {
  for (const std::size_t n : {std::size_t{0}, std::size_t{10}, std::size_t{3} << 20}) {
    SCOPED_TRACE(n);
    detail::LargeVector<uint32_t> v(n, 7);
    for (std::size_t i = 0; i < n; i += 4096) v[i] = static_cast<uint32_t>(i);
    for (std::size_t i = 0; i < n; i += 4096) EXPECT_EQ(v[i], static_cast<uint32_t>(i));
    v.resize(n + 1, 9);
    EXPECT_EQ(v.back(), 9u);
  }
}

// --- Reading into a block, and typed input written straight --------------------------------

TEST_F(MemoryHostTest, ReadBlockIntoGivesWhatReadBlockGivesInOneCall) {
  host->setColumn({1, 1}, {Value{u"first text"}, Value{2.5}, Value{}, Value{u"x"}});
  host->setCell({2, 2}, CellContent{Value{u"v"}, u"=A1"});
  host->setCell({5, 1}, constantOf(Value{CellError::Div0}));
  CellBlock block;
  for (const std::u16string a1 : {u"A1:A5", u"A2:B4", u"B1:B2", u"A3:A4", u"A1:A5"}) {
    SCOPED_TRACE(u8(a1));
    const RangePtr cells = range(a1);
    const uint64_t calls = host->hostCallCount();
    cells->readBlockInto(block);
    EXPECT_EQ(host->hostCallCount() - calls, 1u);
    const CellBlock expected = range(a1)->readBlock();
    EXPECT_EQ(block.area, expected.area);
    EXPECT_EQ(block.cells, expected.cells);
  }
}

TEST_F(MemoryHostTest, ReadBlockIntoKeepsTheStorageOfItsTexts) {
  host->setColumn({1, 1}, {Value{u"a fairly long first text"}, Value{u"another long text"}});
  host->setColumn({1, 2}, {Value{u"short"}, Value{u"tiny but not short"}});
  CellBlock block;
  range(u"A1:A2")->readBlockInto(block);
  const char16_t* storage = std::get<std::u16string>(block.cells[0].value).data();
  range(u"B1:B2")->readBlockInto(block);
  EXPECT_EQ(std::get<std::u16string>(block.cells[0].value), u"short");
  EXPECT_EQ(std::get<std::u16string>(block.cells[0].value).data(), storage);
}

TEST_F(MemoryHostTest, CellValueStoresWhatTypedInputReads) {
  // Texts that start with a letter are stored without being parsed; the result must be
  // what parsing gives in every locale, including one whose separators are letters.
  const std::vector<HostLocale> locales{HostLocale{}, HostLocale{u',', u'.'},
                                        HostLocale{u'e', u'd'}, HostLocale{u'x', u'y'}};
  const std::u16string alphabet = u"aAtTfFeEdDxXyYpPmM0159 .,-+(/)%':=\u00C9";
  Random random(99);
  for (const HostLocale& locale : locales) {
    host->setLocale(locale);
    for (int i = 0; i < 3000; ++i) {
      std::u16string text;
      const int64_t length = 1 + random.below(7);
      for (int64_t j = 0; j < length; ++j) {
        text +=
            alphabet[static_cast<std::size_t>(random.below(static_cast<int64_t>(alphabet.size())))];
      }
      SCOPED_TRACE(u8(text) + " with decimal separator " +
                   u8(std::u16string(1, locale.decimalSeparator)));
      cellAt(1, 1)->setCellValue(1, 1, Value{text});
      EXPECT_EQ(host->cell({1, 1}),
                constantOf(typedResult(text, locale, host->currentYear(), u"General").value));
    }
  }
}

}  // namespace
}  // namespace qmv::memory
