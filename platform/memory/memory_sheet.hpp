// Storage of the in-memory host's sheets: each column keeps its cells in one dense vector
// over the rows it uses. Counting and finding a value in a column use an index from each
// cell's folded text to the rows holding it; a column builds its index on the first such
// question and from then on keeps it up to date with every write and clear, so that a
// column nobody counts in costs no index work on a write.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/address.hpp"
#include "host/host.hpp"
#include "host/locale.hpp"
#include "host/value.hpp"
#include "platform/memory/key_index.hpp"

namespace qmv::memory::detail {

struct Book;

/// One stored cell: its value and flags.
struct Cell {
  Value value;
  uint8_t flags = 0;
};

inline constexpr uint8_t kHasFormula = 1;
inline constexpr uint8_t kHasFill = 2;  ///< formats other than the plain ones (fill and others)

/// The cells of one column with the index of their texts.
class Column {
 public:
  Column();
  Column(const Column&) = delete;
  Column& operator=(const Column&) = delete;
  ~Column();

  const Cell* at(int64_t row) const {
    const int64_t i = row - base_;
    if (i < 0 || i >= static_cast<int64_t>(cells_.size())) return nullptr;
    return &cells_[static_cast<std::size_t>(i)];
  }
  CellContent content(int64_t row) const;
  /// The content into `out`, whose strings keep their storage when a text replaces a text.
  void contentInto(int64_t row, CellContent& out) const;
  /// contentInto for rows r1..r2 into out[0], out[1], ...; an empty cell gives no content.
  void contentsInto(int64_t r1, int64_t r2, CellContent* out) const;
  std::optional<uint32_t> fill(int64_t row) const;
  CellFormats formats(int64_t row) const;
  bool hasFormula(int64_t row) const {
    const Cell* c = at(row);
    return c && (c->flags & kHasFormula);
  }

  /// Writes the content, keeping the fill.
  void setContent(int64_t row, const CellContent& content, const HostLocale& locale);
  /// Writes a constant, keeping the fill (the same as setContent with no formula).
  void setConstant(int64_t row, const Value& value, const HostLocale& locale);
  /// setConstant for rows row, row + 1, ... of `values`, in one pass; `done` counts the
  /// cells written (all of them unless an allocation fails).
  void setConstants(int64_t row, std::span<const Value> values, const HostLocale& locale,
                    std::size_t& done);
  void setFill(int64_t row, std::optional<uint32_t> colour);
  void setFormats(int64_t row, const CellFormats& formats);
  /// Removes content and fill.
  void clear(int64_t row);

  /// Rows holding content or a fill: count, first, last.
  int64_t live() const { return live_; }
  int64_t lo() const { return lo_; }
  int64_t hi() const { return hi_; }
  /// Cells with a value or a formula.
  int64_t nonEmpty() const { return nonEmpty_; }
  /// True when every row from lo() to hi() holds a constant (none empty, no formula), so
  /// that the constants of any rows are the rows themselves, known without a walk.
  bool allConstants() const { return live_ > 0 && formulas_.empty() && nonEmpty_ == hi_ - lo_ + 1; }
  int64_t countNonEmpty(int64_t r1, int64_t r2) const;

  /// Cells in rows r1..r2 whose folded text is `folded`; builds the index when absent.
  int64_t countKey(std::u16string_view folded, int64_t r1, int64_t r2,
                   const HostLocale& locale) const;
  /// First row in from..to whose folded text equals `key`; builds the index when absent.
  std::optional<int64_t> firstKeyRow(const KeyText& key, int64_t from, int64_t to,
                                     const HostLocale& locale) const;
  /// Into `keys`, for each row of r1..r2, a number for the cell's folded text, the same
  /// for cells with the same folded text; 0 for an empty cell and for an error value.
  /// Returns a bound that every number is below.
  std::size_t keysOf(int64_t r1, int64_t r2, const HostLocale& locale,
                     std::vector<uint32_t>& keys) const;
  /// Drops the index (its keys depend on the locale); the next question builds it anew.
  void dropIndex();
  /// True while the column keeps an index.
  bool indexed() const { return index_ != nullptr; }

  /// Calls f(row, cell) for every live row in r1..r2, top to bottom.
  template <class F>
  void forEachLive(int64_t r1, int64_t r2, F&& f) const {
    if (live_ == 0) return;
    const int64_t from = std::max(r1, lo_);
    const int64_t to = std::min(r2, hi_);
    for (int64_t r = from; r <= to; ++r) {
      const Cell& c = cells_[static_cast<std::size_t>(r - base_)];
      if (isLive(c)) f(r, c);
    }
  }

  static bool isLive(const Cell& c) { return c.flags != 0 || c.value.index() != 0; }

 private:
  struct Index;

  Cell& ensure(int64_t row);
  void write(int64_t row, const Value& value, const std::u16string* formula,
             const HostLocale& locale);
  void afterChange(int64_t row, bool wasLive, bool wasNonEmpty);
  /// Moves the cell's entry in the index after its content changed.
  void reindex(int64_t row, const HostLocale& locale);
  Index& index(const HostLocale& locale) const;
  /// Interns the cells [first, end) (positions in cells_) into `keys`, their keys into
  /// `cellKeys` (one per cell).
  void internCells(std::size_t first, std::size_t end, const HostLocale& locale, KeyIndex& keys,
                   uint32_t* cellKeys) const;
  void releaseAll();

  int64_t base_ = 1;
  LargeVector<Cell> cells_;
  std::unordered_map<int64_t, std::u16string> formulas_;
  std::unordered_map<int64_t, CellFormats> fills_;
  int64_t live_ = 0;
  int64_t lo_ = 0;
  int64_t hi_ = -1;
  int64_t nonEmpty_ = 0;
  /// Built on the first count or search, then kept up to date; null until then.
  mutable std::unique_ptr<Index> index_;
};

/// One worksheet.
class Sheet {
 public:
  Sheet(std::u16string sheetName, std::weak_ptr<Book> owner, const HostLocale* locale)
      : name(std::move(sheetName)), book(std::move(owner)), locale_(locale) {}

  std::u16string name;
  std::weak_ptr<Book> book;
  /// Set when its workbook is closed: checked on every call without touching the book.
  bool bookClosed = false;
  /// The sheet's own selection; `selectionIsCells` false when something else is selected.
  std::vector<AreaRef> selection{AreaRef{{1, 1}, {1, 1}}};
  bool selectionIsCells = true;
  /// The rows an advanced filter works on, while one is applied.
  std::optional<AreaRef> filterArea;
  /// The sheet's AutoFilter: its range and the columns it filters by.
  std::optional<AutoFilterState> autoFilter;

  const Column* column(int64_t c) const {
    auto it = columns_.find(c);
    return it == columns_.end() ? nullptr : &it->second;
  }
  CellContent content(CellRef cell) const;
  std::optional<uint32_t> fill(CellRef cell) const;
  void setContent(CellRef cell, const CellContent& content);
  /// The same for a constant.
  void setConstant(CellRef cell, const Value& value);
  /// setConstant for the cells of one column from `first` down, in one pass; `done` counts
  /// the cells written.
  void setConstants(CellRef first, std::span<const Value> values, std::size_t& done);
  void setFill(CellRef cell, std::optional<uint32_t> colour);
  CellFormats formats(CellRef cell) const;
  void setFormats(CellRef cell, const CellFormats& formats);
  void clearCell(CellRef cell);
  /// Removes content (or content and fill) of every stored cell of the area.
  void clearArea(const AreaRef& area, bool formatsToo);

  /// Bounding box of the cells with content or fill; none on an empty sheet.
  std::optional<AreaRef> usedArea() const;

  /// Calls f(columnNumber, column) for stored columns in c1..c2, left to right.
  template <class F>
  void forEachColumn(int64_t c1, int64_t c2, F&& f) const {
    for (auto it = columns_.lower_bound(c1); it != columns_.end() && it->first <= c2; ++it) {
      if (it->second.live() > 0) f(it->first, it->second);
    }
  }

  bool rowHidden(int64_t row) const {
    return row >= 0 && static_cast<std::size_t>(row) < hidden_.size() &&
           hidden_[static_cast<std::size_t>(row)];
  }
  void setRowHidden(int64_t row, bool hidden);

  /// Drops every column's index (after a change of locale).
  void dropIndexes();

 private:
  std::map<int64_t, Column> columns_;  ///< never erased from, so addresses stay valid
  Column* lastColumn_ = nullptr;       ///< the column setContent wrote to last
  int64_t lastColumnNumber_ = 0;
  std::vector<bool> hidden_;
  const HostLocale* locale_;
};

/// An open (or closed) workbook.
struct Book {
  std::u16string name;
  std::vector<std::shared_ptr<Sheet>> sheets;
  std::size_t activeSheet = 0;
  bool open = true;
  bool addin = false;  ///< an add-in workbook: open, but not among the user's workbooks
};

/// Closes a workbook: it and its sheets refuse every further call.
inline void markClosed(Book& book) {
  book.open = false;
  for (const auto& sheet : book.sheets) sheet->bookClosed = true;
}

}  // namespace qmv::memory::detail
