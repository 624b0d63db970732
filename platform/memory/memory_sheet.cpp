#include "platform/memory/memory_sheet.hpp"

#include <algorithm>
#include <array>

#include "engine/value_rule.hpp"
#include "host/cell_text.hpp"
#include "host/text.hpp"

namespace qmv::memory::detail {

namespace {

/// to = from, with the common case of a text over a text done without the variant's
/// general dispatch (the text keeps its storage either way).
void assignValue(Value& to, const Value& from) {
  auto* target = std::get_if<std::u16string>(&to);
  const auto* source = std::get_if<std::u16string>(&from);
  if (target != nullptr && source != nullptr) {
    target->assign(*source);
  } else {
    to = from;
  }
}

}  // namespace

/// A column's index: the keys of the folded texts and the key of every cell.
struct Column::Index {
  KeyIndex keys;
  LargeVector<uint32_t> cellKeys;  ///< by row - base_; 0 for no key
  std::u16string scratch;          ///< the folded text being looked up
  /// The row whose cell matched the last lookup: callers mostly walk a column and look up
  /// each cell's own text, so the next lookup usually matches a neighbouring cell.
  int64_t cursor = 0;

  /// Folds the cell's text into `out` by the engine's value rule; false for an empty cell
  /// and for an error value (it has no text, so it matches nothing).
  static bool foldedText(const Cell& c, const HostLocale& locale, std::u16string& out) {
    if (c.value.index() == 0 && !(c.flags & kHasFormula)) return false;
    return foldedValueText(out, c.value, locale);
  }

  /// The key of the cell's folded text, made when new; 0 when it has none.
  uint32_t internCell(const Cell& c, const HostLocale& locale) {
    return foldedText(c, locale, scratch) ? keys.intern(keyText(scratch)) : 0;
  }

  /// The key of the folded text, 0 when there is none. The cells next to the cursor are
  /// tried first, compared by their own text: a walk down or up the column then reads
  /// only memory it reads anyway.
  uint32_t find(std::u16string_view folded, const LargeVector<Cell>& cells, int64_t base) {
    for (const int64_t row : {cursor - 1, cursor + 1, cursor}) {
      const int64_t i = row - base;
      if (i < 0 || i >= static_cast<int64_t>(cellKeys.size())) continue;
      const uint32_t key = cellKeys[static_cast<std::size_t>(i)];
      if (key == 0) continue;
      const auto* text = std::get_if<std::u16string>(&cells[static_cast<std::size_t>(i)].value);
      if (text ? foldsTo(*text, folded) : keys.isKeyOf(key, folded)) {
        cursor = row;
        return key;
      }
    }
    const uint32_t key = keys.find(keyText(folded));
    if (key != 0) resync(key, base);
    return key;
  }

  /// Puts the cursor on a cell holding `key`: one near the cursor (a walk that skipped a
  /// few cells), else the key's most recent row if it still holds the key.
  void resync(uint32_t key, int64_t base) {
    constexpr int64_t kNear = 8;
    for (int64_t step = 2; step <= kNear; ++step) {
      for (const int64_t row : {cursor - step, cursor + step}) {
        if (holds(row, key, base)) {
          cursor = row;
          return;
        }
      }
    }
    const int64_t known = keys.soleRow(key) != 0 ? keys.soleRow(key) : keys.recentRow(key);
    if (holds(known, key, base)) cursor = known;
  }

  bool holds(int64_t row, uint32_t key, int64_t base) const {
    const int64_t i = row - base;
    return i >= 0 && i < static_cast<int64_t>(cellKeys.size()) &&
           cellKeys[static_cast<std::size_t>(i)] == key;
  }

  /// Records the rows of every key, once a search or a partial count needs them.
  void ensureRows(int64_t base) {
    if (keys.hasRows()) return;
    // Rows go in top to bottom, so every key's rows come out ascending.
    keys.layOutRows();
    for (std::size_t i = 0; i < cellKeys.size(); ++i) {
      if (const uint32_t key = cellKeys[i]) {
        keys.placeRow(key, static_cast<uint32_t>(base + static_cast<int64_t>(i)));
      }
    }
  }
};

namespace {

/// Dead keys or row slots beyond this many more than the column's cells make the index
/// be rebuilt, so that its size stays proportional to the column.
constexpr std::size_t kIndexSlack = 4096;

}  // namespace

Column::Column() = default;
Column::~Column() = default;

void Column::dropIndex() { index_.reset(); }

CellContent Column::content(int64_t row) const {
  const Cell* c = at(row);
  if (!c) return {};
  CellContent out{c->value, {}};
  if (c->flags & kHasFormula) out.formula = formulas_.at(row);
  return out;
}

void Column::contentInto(int64_t row, CellContent& out) const {
  const Cell* c = at(row);
  if (!c) {
    out.value = Value{};
    out.formula.clear();
    return;
  }
  assignValue(out.value, c->value);
  if (c->flags & kHasFormula) {
    out.formula = formulas_.at(row);
  } else {
    out.formula.clear();
  }
}

void Column::contentsInto(int64_t r1, int64_t r2, CellContent* out) const {
  for (int64_t r = r1; r <= r2; ++r, ++out) {
    const Cell* c = at(r);
    if (c == nullptr || !isLive(*c)) {
      out->value = Value{};
      out->formula.clear();
      continue;
    }
    assignValue(out->value, c->value);
    if (c->flags & kHasFormula) {
      out->formula = formulas_.at(r);
    } else {
      out->formula.clear();
    }
  }
}

std::optional<uint32_t> Column::fill(int64_t row) const { return formats(row).fill; }

CellFormats Column::formats(int64_t row) const {
  const Cell* c = at(row);
  if (!c || !(c->flags & kHasFill)) return CellFormats{};
  return fills_.at(row);
}

Cell& Column::ensure(int64_t row) {
  if (cells_.empty()) {
    base_ = row;
    cells_.resize(1);
    if (index_) index_->cellKeys.assign(1, 0);
  } else if (row < base_) {
    // Grow towards the top by at least the current size, so that writing upwards
    // costs amortised constant time per cell.
    const int64_t size = static_cast<int64_t>(cells_.size());
    const int64_t newBase = std::max<int64_t>(1, std::min(row, base_ - size));
    const auto added = static_cast<std::size_t>(base_ - newBase);
    cells_.insert(cells_.begin(), added, Cell{});
    if (index_) index_->cellKeys.insert(index_->cellKeys.begin(), added, 0);
    base_ = newBase;
  } else if (row - base_ >= static_cast<int64_t>(cells_.size())) {
    cells_.resize(static_cast<std::size_t>(row - base_ + 1));
    if (index_) index_->cellKeys.resize(cells_.size(), 0);
  }
  return cells_[static_cast<std::size_t>(row - base_)];
}

void Column::releaseAll() {
  cells_ = {};
  formulas_ = {};
  fills_ = {};
  index_.reset();
  live_ = 0;
  nonEmpty_ = 0;
  lo_ = 0;
  hi_ = -1;
  base_ = 1;
}

void Column::afterChange(int64_t row, bool wasLive, bool wasNonEmpty) {
  const Cell& c = cells_[static_cast<std::size_t>(row - base_)];
  const bool nowLive = isLive(c);
  const bool nowNonEmpty = (c.flags & kHasFormula) || c.value.index() != 0;
  nonEmpty_ += static_cast<int64_t>(nowNonEmpty) - static_cast<int64_t>(wasNonEmpty);
  if (nowLive && !wasLive) {
    if (live_ == 0) {
      lo_ = hi_ = row;
    } else {
      lo_ = std::min(lo_, row);
      hi_ = std::max(hi_, row);
    }
    ++live_;
  } else if (!nowLive && wasLive) {
    if (--live_ == 0) {
      releaseAll();
      return;
    }
    while (!isLive(cells_[static_cast<std::size_t>(lo_ - base_)])) ++lo_;
    while (!isLive(cells_[static_cast<std::size_t>(hi_ - base_)])) --hi_;
  }
}

void Column::internCells(std::size_t first, std::size_t end, const HostLocale& locale,
                         KeyIndex& keys, uint32_t* cellKeys) const {
  // Lookups in a large column miss the cache: the texts of the next cells are folded and
  // their slots fetched ahead, then their keys, so that those misses overlap.
  constexpr std::size_t kAhead = 16;
  std::array<std::u16string, kAhead> folded;
  std::array<std::size_t, kAhead> hashes{};
  std::array<bool, kAhead> hasText{};
  const std::size_t count = end - first;
  for (std::size_t i = 0; i < count + kAhead; ++i) {
    // Cell i - kAhead is interned, the key of cell i - kAhead / 2 fetched, then cell i
    // takes the place of the first in the ring and its slot is fetched.
    const std::size_t slot = i % kAhead;
    if (i >= kAhead && hasText[slot]) {
      const std::size_t at = first + i - kAhead;
      const uint32_t key = keys.intern(KeyText{folded[slot], hashes[slot]});
      cellKeys[i - kAhead] = key;
      keys.countCell(key, static_cast<uint32_t>(base_ + static_cast<int64_t>(at)));
    }
    const std::size_t middle = (i + kAhead / 2) % kAhead;
    if (i >= kAhead / 2 && hasText[middle]) {
      keys.prefetchKey(KeyText{folded[middle], hashes[middle]});
    }
    hasText[slot] = i < count && Index::foldedText(cells_[first + i], locale, folded[slot]);
    if (hasText[slot]) {
      const KeyText text = keyText(folded[slot]);
      hashes[slot] = text.hash;
      keys.prefetch(text);
    }
  }
}

Column::Index& Column::index(const HostLocale& locale) const {
  if (index_) return *index_;
  auto index = std::make_unique<Index>();
  index->cellKeys.assign(cells_.size(), 0);
  index->keys.reserve(static_cast<std::size_t>(nonEmpty_));
  internCells(0, cells_.size(), locale, index->keys, index->cellKeys.data());
  index_ = std::move(index);
  return *index_;
}

std::size_t Column::keysOf(int64_t r1, int64_t r2, const HostLocale& locale,
                           std::vector<uint32_t>& keys) const {
  keys.assign(static_cast<std::size_t>(std::max<int64_t>(0, r2 - r1 + 1)), 0);
  const int64_t from = std::max(r1, base_);
  const int64_t to = std::min(r2, base_ + static_cast<int64_t>(cells_.size()) - 1);
  if (live_ == 0 || from > to) return 1;
  uint32_t* out = keys.data() + (from - r1);
  const auto first = static_cast<std::size_t>(from - base_);
  const auto end = static_cast<std::size_t>(to - base_ + 1);
  if (index_) {
    std::copy(index_->cellKeys.begin() + static_cast<std::ptrdiff_t>(first),
              index_->cellKeys.begin() + static_cast<std::ptrdiff_t>(end), out);
    return index_->keys.size() + 1;
  }
  // Without an index the keys come from one made for this call only: keeping it would
  // make every later write and clear pay for its upkeep.
  KeyIndex scratchKeys;
  scratchKeys.reserve(end - first);
  internCells(first, end, locale, scratchKeys, out);
  return scratchKeys.size() + 1;
}

void Column::reindex(int64_t row, const HostLocale& locale) {
  Index& ix = *index_;
  const auto i = static_cast<std::size_t>(row - base_);
  const uint32_t oldKey = ix.cellKeys[i];
  const uint32_t newKey = ix.internCell(cells_[i], locale);
  if (oldKey == newKey) return;
  ix.cellKeys[i] = newKey;
  if (oldKey != 0) {
    ix.keys.remove(oldKey, static_cast<uint32_t>(row), [&](uint32_t r, uint32_t key) {
      const int64_t at = static_cast<int64_t>(r) - base_;
      return at >= 0 && at < static_cast<int64_t>(ix.cellKeys.size()) &&
             ix.cellKeys[static_cast<std::size_t>(at)] == key;
    });
  }
  if (newKey != 0) ix.keys.add(newKey, static_cast<uint32_t>(row));
  // Keys no cell holds any more, and rows left behind, pile up under churn: past a
  // bound proportional to the column the index is dropped and built afresh when needed.
  if (ix.keys.deadKeys() > cells_.size() + kIndexSlack ||
      ix.keys.deadRows() > cells_.size() + kIndexSlack) {
    index_.reset();
  }
}

void Column::setContent(int64_t row, const CellContent& content, const HostLocale& locale) {
  write(row, content.value, content.isFormula() ? &content.formula : nullptr, locale);
}

void Column::setConstant(int64_t row, const Value& value, const HostLocale& locale) {
  write(row, value, nullptr, locale);
}

void Column::setConstants(int64_t row, std::span<const Value> values, const HostLocale& locale,
                          std::size_t& done) {
  if (values.empty()) return;
  // The column grows once for the whole run of rows.
  ensure(row);
  ensure(row + static_cast<int64_t>(values.size()) - 1);
  for (const Value& value : values) {
    const int64_t r = row + static_cast<int64_t>(done);
    Cell& c = cells_[static_cast<std::size_t>(r - base_)];
    const bool wasLive = isLive(c);
    const bool wasNonEmpty = (c.flags & kHasFormula) || c.value.index() != 0;
    // Only the counts of a cell that was empty or held nothing but formats change.
    if (value.index() == 0 || !wasLive || !wasNonEmpty || (c.flags & kHasFormula)) {
      write(r, value, nullptr, locale);
      ++done;
      // Emptying the last cell releases the column's storage.
      if (value.index() == 0 && done < values.size()) {
        ensure(r + 1);
        ensure(row + static_cast<int64_t>(values.size()) - 1);
      }
      continue;
    }
    assignValue(c.value, value);
    if (index_) reindex(r, locale);
    ++done;
  }
}

void Column::write(int64_t row, const Value& value, const std::u16string* formula,
                   const HostLocale& locale) {
  const bool empty = value.index() == 0 && formula == nullptr;
  if (empty && !at(row)) return;
  Cell& c = ensure(row);
  const bool wasLive = isLive(c);
  const bool wasNonEmpty = (c.flags & kHasFormula) || c.value.index() != 0;
  assignValue(c.value, value);
  if (formula != nullptr) {
    formulas_[row] = *formula;
    c.flags |= kHasFormula;
  } else if (c.flags & kHasFormula) {
    formulas_.erase(row);
    c.flags &= static_cast<uint8_t>(~kHasFormula);
  }
  if (index_) reindex(row, locale);
  afterChange(row, wasLive, wasNonEmpty);
}

void Column::setFill(int64_t row, std::optional<uint32_t> colour) {
  CellFormats changed = formats(row);
  changed.fill = colour;
  setFormats(row, changed);
}

void Column::setFormats(int64_t row, const CellFormats& formats) {
  const bool plain = formats == CellFormats{};
  if (plain && !at(row)) return;
  Cell& c = ensure(row);
  const bool wasLive = isLive(c);
  const bool wasNonEmpty = (c.flags & kHasFormula) || c.value.index() != 0;
  if (!plain) {
    fills_[row] = formats;
    c.flags |= kHasFill;
  } else if (c.flags & kHasFill) {
    fills_.erase(row);
    c.flags &= static_cast<uint8_t>(~kHasFill);
  }
  afterChange(row, wasLive, wasNonEmpty);
}

void Column::clear(int64_t row) {
  const Cell* existing = at(row);
  if (!existing || !isLive(*existing)) return;
  Cell& c = cells_[static_cast<std::size_t>(row - base_)];
  const bool wasNonEmpty = (c.flags & kHasFormula) || c.value.index() != 0;
  if (c.flags & kHasFormula) formulas_.erase(row);
  if (c.flags & kHasFill) fills_.erase(row);
  c.flags = 0;
  c.value = Value{};
  // An empty cell has no key: no locale is needed to find that out.
  if (index_) reindex(row, HostLocale{});
  afterChange(row, true, wasNonEmpty);
}

int64_t Column::countNonEmpty(int64_t r1, int64_t r2) const {
  if (live_ == 0) return 0;
  if (r1 <= lo_ && r2 >= hi_) return nonEmpty_;
  int64_t n = 0;
  forEachLive(r1, r2, [&](int64_t, const Cell& c) {
    if ((c.flags & kHasFormula) || c.value.index() != 0) ++n;
  });
  return n;
}

int64_t Column::countKey(std::u16string_view folded, int64_t r1, int64_t r2,
                         const HostLocale& locale) const {
  if (live_ == 0) return 0;
  Index& ix = index(locale);
  const uint32_t id = ix.find(folded, cells_, base_);
  if (id == 0 || ix.keys.count(id) == 0) return 0;
  if (r1 <= lo_ && r2 >= hi_) return ix.keys.count(id);
  if (const int64_t sole = ix.keys.soleRow(id); sole != 0) return sole >= r1 && sole <= r2 ? 1 : 0;
  ix.ensureRows(base_);
  auto isCurrent = [&](uint32_t r) {
    const int64_t i = static_cast<int64_t>(r) - base_;
    return i >= 0 && i < static_cast<int64_t>(ix.cellKeys.size()) &&
           ix.cellKeys[static_cast<std::size_t>(i)] == id;
  };
  const auto rows = ix.keys.rows(id);
  const auto first = std::lower_bound(rows.begin(), rows.end(), r1);
  const auto last = std::upper_bound(first, rows.end(), r2);
  const auto inside = last - first;
  const auto outside = static_cast<std::ptrdiff_t>(rows.size()) - inside;
  if (inside <= outside) return std::count_if(first, last, isCurrent);
  const auto outsideCount =
      std::count_if(rows.begin(), first, isCurrent) + std::count_if(last, rows.end(), isCurrent);
  return static_cast<int64_t>(ix.keys.count(id)) - outsideCount;
}

std::optional<int64_t> Column::firstKeyRow(const KeyText& key, int64_t from, int64_t to,
                                           const HostLocale& locale) const {
  if (live_ == 0) return std::nullopt;
  Index& ix = index(locale);
  // A key held by one cell is told by that cell's text, which the caller reads next.
  const uint32_t id = ix.keys.findBy(key, [&](uint32_t candidate) {
    if (const uint32_t sole = ix.keys.soleRow(candidate); sole != 0) {
      if (const Cell* c = at(sole)) {
        if (const auto* text = std::get_if<std::u16string>(&c->value)) {
          return foldsTo(*text, key.folded);
        }
      }
    }
    return ix.keys.isKeyOf(candidate, key.folded);
  });
  if (id == 0 || ix.keys.count(id) == 0) return std::nullopt;
  // One cell holds the key: its row is known without a row list.
  if (const int64_t sole = ix.keys.soleRow(id); sole != 0) {
    return sole >= from && sole <= to ? std::optional<int64_t>(sole) : std::nullopt;
  }
  ix.ensureRows(base_);
  const auto rows = ix.keys.rows(id);
  for (auto it = std::lower_bound(rows.begin(), rows.end(), from);
       it != rows.end() && static_cast<int64_t>(*it) <= to; ++it) {
    const int64_t i = static_cast<int64_t>(*it) - base_;
    if (i >= 0 && i < static_cast<int64_t>(ix.cellKeys.size()) &&
        ix.cellKeys[static_cast<std::size_t>(i)] == id) {
      return static_cast<int64_t>(*it);
    }
  }
  return std::nullopt;
}

CellContent Sheet::content(CellRef cell) const {
  const Column* col = column(cell.column);
  return col ? col->content(cell.row) : CellContent{};
}

std::optional<uint32_t> Sheet::fill(CellRef cell) const {
  const Column* col = column(cell.column);
  return col ? col->fill(cell.row) : std::nullopt;
}

CellFormats Sheet::formats(CellRef cell) const {
  const Column* col = column(cell.column);
  return col ? col->formats(cell.row) : CellFormats{};
}

void Sheet::setFormats(CellRef cell, const CellFormats& formats) {
  if (formats == CellFormats{}) {
    auto it = columns_.find(cell.column);
    if (it != columns_.end()) it->second.setFormats(cell.row, formats);
    return;
  }
  columns_[cell.column].setFormats(cell.row, formats);
}

void Sheet::setContent(CellRef cell, const CellContent& content) {
  if (content.value.index() == 0 && !content.isFormula()) {
    auto it = columns_.find(cell.column);
    if (it != columns_.end()) it->second.setContent(cell.row, content, *locale_);
    return;
  }
  // A run writes cell after cell of one column: the last column is kept at hand.
  if (lastColumn_ == nullptr || lastColumnNumber_ != cell.column) {
    lastColumn_ = &columns_[cell.column];
    lastColumnNumber_ = cell.column;
  }
  lastColumn_->setContent(cell.row, content, *locale_);
}

void Sheet::setConstant(CellRef cell, const Value& value) {
  if (value.index() == 0) {
    auto it = columns_.find(cell.column);
    if (it != columns_.end()) it->second.setConstant(cell.row, value, *locale_);
    return;
  }
  if (lastColumn_ == nullptr || lastColumnNumber_ != cell.column) {
    lastColumn_ = &columns_[cell.column];
    lastColumnNumber_ = cell.column;
  }
  lastColumn_->setConstant(cell.row, value, *locale_);
}

void Sheet::setConstants(CellRef first, std::span<const Value> values, std::size_t& done) {
  if (lastColumn_ == nullptr || lastColumnNumber_ != first.column) {
    lastColumn_ = &columns_[first.column];
    lastColumnNumber_ = first.column;
  }
  lastColumn_->setConstants(first.row, values, *locale_, done);
}

void Sheet::setFill(CellRef cell, std::optional<uint32_t> colour) {
  if (!colour) {
    auto it = columns_.find(cell.column);
    if (it != columns_.end()) it->second.setFill(cell.row, colour);
    return;
  }
  columns_[cell.column].setFill(cell.row, colour);
}

void Sheet::clearCell(CellRef cell) {
  auto it = columns_.find(cell.column);
  if (it != columns_.end()) it->second.clear(cell.row);
}

void Sheet::clearArea(const AreaRef& area, bool formatsToo) {
  for (auto it = columns_.lower_bound(area.first.column);
       it != columns_.end() && it->first <= area.last.column; ++it) {
    Column& col = it->second;
    if (col.live() == 0) continue;
    // Clearing a cell changes no other cell, so the live rows are visited as they stand.
    const int64_t from = std::max(area.first.row, col.lo());
    const int64_t to = std::min(area.last.row, col.hi());
    for (int64_t r = from; r <= to; ++r) {
      const Cell* c = col.at(r);
      if (!c || !Column::isLive(*c)) continue;
      if (formatsToo) {
        col.clear(r);
      } else {
        col.setContent(r, CellContent{}, *locale_);
      }
    }
  }
}

std::optional<AreaRef> Sheet::usedArea() const {
  std::optional<AreaRef> box;
  for (const auto& [c, col] : columns_) {
    if (col.live() == 0) continue;
    if (!box) {
      box = AreaRef{{col.lo(), c}, {col.hi(), c}};
    } else {
      box->first.row = std::min(box->first.row, col.lo());
      box->last.row = std::max(box->last.row, col.hi());
      box->last.column = c;
    }
  }
  return box;
}

void Sheet::setRowHidden(int64_t row, bool hidden) {
  if (row < 1 || row > kMaxRows) return;
  if (!hidden && static_cast<std::size_t>(row) >= hidden_.size()) return;
  if (hidden_.size() <= static_cast<std::size_t>(row)) {
    hidden_.resize(static_cast<std::size_t>(kMaxRows) + 1, false);
  }
  hidden_[static_cast<std::size_t>(row)] = hidden;
}

void Sheet::dropIndexes() {
  for (auto& [c, col] : columns_) col.dropIndex();
}

}  // namespace qmv::memory::detail
