// A1 references: formatting absolute addresses and parsing the references a user types;
// the algebra of areas (overlap, difference, cells counted once) that hosts use to answer
// Intersect and to visit each cell of overlapping areas once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmv {

inline constexpr int64_t kMaxRows = 1048576;
inline constexpr int64_t kMaxColumns = 16384;

/// One cell, 1-based row and column.
struct CellRef {
  int64_t row = 1;
  int64_t column = 1;
  friend bool operator==(const CellRef&, const CellRef&) = default;
};

/// A rectangle of cells, `first` top-left and `last` bottom-right (inclusive).
struct AreaRef {
  CellRef first;
  CellRef last;
  int64_t rows() const { return last.row - first.row + 1; }
  int64_t columns() const { return last.column - first.column + 1; }
  int64_t count() const { return rows() * columns(); }
  bool contains(CellRef c) const {
    return c.row >= first.row && c.row <= last.row && c.column >= first.column &&
           c.column <= last.column;
  }
  friend bool operator==(const AreaRef&, const AreaRef&) = default;
};

/// Column letters: 1 -> "A", 28 -> "AB". Precondition: 1 <= column <= kMaxColumns.
std::u16string columnLetters(int64_t column);

/// Column letters at the start of a reference, read by leadingColumnLetters.
struct LeadingColumn {
  int64_t column = 0;      ///< 0 when the text starts with no letter
  std::size_t length = 0;  ///< the letters read
};

/// The column the leading ASCII letters of `text` name, in either case ("ab12" -> 28, two
/// letters); none when there are more than three letters or they pass XFD.
std::optional<LeadingColumn> leadingColumnLetters(std::string_view text);
std::optional<LeadingColumn> leadingColumnLetters(std::u16string_view text);

/// Absolute address of one cell, "$B$3".
std::u16string formatAddress(CellRef cell);

/// Absolute address of an area: "$B$3" for one cell, "$A$1:$B$2" otherwise.
std::u16string formatAddress(const AreaRef& area);

/// Absolute address of several areas joined by commas.
std::u16string formatAddress(const std::vector<AreaRef>& areas);

/// Parses references joined by commas: cells ("B3", "$B$3"), ranges ("A1:B2"), whole
/// columns ("A:A", "A:C") and whole rows ("3:3"). Case-insensitive. Gives no value for
/// anything else or for a reference outside the sheet (row 0, column XFE, row 1048577).
std::optional<std::vector<AreaRef>> parseReference(std::u16string_view text);

/// The cells `a` and `b` share, as one area; no value when they share none.
std::optional<AreaRef> commonArea(const AreaRef& a, const AreaRef& b);

/// The cells of `a` outside `b`, as at most four areas in this order: the rows above `b`,
/// then beside it on the left, beside it on the right, and the rows below it. `a` itself
/// when they share no cell; nothing when `b` covers `a`.
std::vector<AreaRef> areaMinus(const AreaRef& a, const AreaRef& b);

/// The areas with every cell already covered by an earlier area taken out, so that a
/// walk over the result visits each cell once; areas that share no cell come back as they
/// are. Above 64 areas the pairs are not checked and the areas come back unchanged (a
/// selection of that many areas is rare; its overlaps are then visited again).
std::vector<AreaRef> disjointAreas(const std::vector<AreaRef>& areas);

/// The number of cells of all areas, a cell in two areas counted twice.
int64_t cellCount(const std::vector<AreaRef>& areas);

}  // namespace qmv
