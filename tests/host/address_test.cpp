// The algebra of areas: the common area of two, the difference, the areas with each cell
// once, and the count of cells.
#include "host/address.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/text.hpp"

namespace qmv {
namespace {

std::vector<AreaRef> areasOf(std::u16string_view reference) {
  auto areas = parseReference(reference);
  EXPECT_TRUE(areas.has_value()) << toUtf8(reference);
  return areas.value_or(std::vector<AreaRef>{});
}

AreaRef areaOf(std::u16string_view reference) {
  const auto areas = areasOf(reference);
  EXPECT_EQ(areas.size(), 1u) << toUtf8(reference);
  return areas.empty() ? AreaRef{} : areas.front();
}

/// Every cell of the areas, each as often as the areas hold it.
std::multiset<std::pair<int64_t, int64_t>> cellsOf(const std::vector<AreaRef>& areas) {
  std::multiset<std::pair<int64_t, int64_t>> cells;
  for (const auto& a : areas) {
    for (int64_t r = a.first.row; r <= a.last.row; ++r) {
      for (int64_t c = a.first.column; c <= a.last.column; ++c) cells.emplace(r, c);
    }
  }
  return cells;
}

TEST(CommonArea, SharedCellsOrNone) {
  struct Row {
    std::u16string a;
    std::u16string b;
    std::u16string common;  ///< empty: no cell in common
  };
  const std::vector<Row> rows{
      {u"A1:C3", u"B2:D4", u"$B$2:$C$3"}, {u"A1:C3", u"A1:C3", u"$A$1:$C$3"},
      {u"A1:C3", u"B2", u"$B$2"},         {u"A1:A10", u"A10:A20", u"$A$10"},
      {u"A1:A10", u"A11:A20", u""},       {u"A1:B2", u"C1:D2", u""},
      {u"B:B", u"A3:C3", u"$B$3"},        {u"2:2", u"C:C", u"$C$2"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(toUtf8(row.a + u" & " + row.b));
    const auto common = commonArea(areaOf(row.a), areaOf(row.b));
    EXPECT_EQ(common ? formatAddress(*common) : std::u16string(), row.common);
    // Either order gives the same cells.
    EXPECT_EQ(commonArea(areaOf(row.b), areaOf(row.a)), common);
  }
}

TEST(AreaMinus, AboveLeftRightBelowInThatOrder) {
  struct Row {
    std::u16string a;
    std::u16string b;
    std::u16string rest;  ///< the pieces joined by commas; empty when b covers a
  };
  const std::vector<Row> rows{
      {u"A1:E5", u"C3", u"$A$1:$E$2,$A$3:$B$3,$D$3:$E$3,$A$4:$E$5"},
      {u"A1:E5", u"A1:E5", u""},
      {u"B2:C3", u"A1:D4", u""},
      {u"A1:C3", u"E5:F6", u"$A$1:$C$3"},
      {u"A1:C3", u"A1:C1", u"$A$2:$C$3"},
      {u"A1:C3", u"A1:C2", u"$A$3:$C$3"},
      {u"A1:C3", u"B1:B3", u"$A$1:$A$3,$C$1:$C$3"},
      {u"A1:C3", u"C1:D9", u"$A$1:$B$3"},
      {u"A1:A5", u"A3", u"$A$1:$A$2,$A$4:$A$5"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(toUtf8(row.a + u" - " + row.b));
    const auto rest = areaMinus(areaOf(row.a), areaOf(row.b));
    EXPECT_EQ(rest.empty() ? std::u16string() : formatAddress(rest), row.rest);
    // The pieces are the cells of a outside b, each once.
    auto expected = cellsOf({areaOf(row.a)});
    for (const auto& cell : cellsOf({areaOf(row.b)})) expected.erase(cell);
    EXPECT_EQ(cellsOf(rest), expected);
  }
}

TEST(DisjointAreas, EachCellOnceInTheOrderOfTheAreas) {
  struct Row {
    std::u16string areas;
    std::u16string disjoint;
  };
  const std::vector<Row> rows{
      {u"A1:A3", u"$A$1:$A$3"},
      {u"A1:A3,C1:C3", u"$A$1:$A$3,$C$1:$C$3"},
      {u"A1:A3,A1:A3", u"$A$1:$A$3"},
      {u"A1:A3,A2:A5", u"$A$1:$A$3,$A$4:$A$5"},
      {u"A1:C3,B2", u"$A$1:$C$3"},
      {u"B2,A1:C3", u"$B$2,$A$1:$C$1,$A$2,$C$2,$A$3:$C$3"},
      {u"A1:B2,B2:C3,A1:C3", u"$A$1:$B$2,$C$2,$B$3:$C$3,$C$1,$A$3"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(toUtf8(row.areas));
    const auto areas = areasOf(row.areas);
    const auto disjoint = disjointAreas(areas);
    EXPECT_EQ(formatAddress(disjoint), row.disjoint);
    const auto all = cellsOf(areas);
    const std::set<std::pair<int64_t, int64_t>> once(all.begin(), all.end());
    const auto visited = cellsOf(disjoint);
    EXPECT_EQ(visited, (std::multiset<std::pair<int64_t, int64_t>>(once.begin(), once.end())));
  }
}

TEST(DisjointAreas, ManyAreasComeBackUnchecked) {
  // Past 64 areas the pairs are not compared: the list comes back as it is.
  std::vector<AreaRef> areas(65, AreaRef{{1, 1}, {2, 2}});
  EXPECT_EQ(disjointAreas(areas), areas);
  areas.pop_back();
  EXPECT_EQ(disjointAreas(areas), (std::vector<AreaRef>{AreaRef{{1, 1}, {2, 2}}}));
}

TEST(CellCount, CountsEveryAreaWhole) {
  struct Row {
    std::u16string areas;
    int64_t count;
  };
  const std::vector<Row> rows{
      {u"A1", 1},
      {u"A1:C3", 9},
      {u"A1:A3,A2:A5", 7},
      {u"A:A", kMaxRows},
      {u"A:C,2:2", 3 * kMaxRows + kMaxColumns},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(toUtf8(row.areas));
    EXPECT_EQ(cellCount(areasOf(row.areas)), row.count);
  }
  EXPECT_EQ(cellCount({}), 0);
}

}  // namespace
}  // namespace qmv
