#include "platform/memory/memory_sheet.hpp"

#include <algorithm>

#include "host/cell_text.hpp"

namespace qmv::memory::detail {

CellContent Column::content(int64_t row) const {
  const Cell* c = at(row);
  if (!c) return {};
  CellContent out{c->value, {}};
  if (c->flags & kHasFormula) out.formula = formulas_.at(row);
  return out;
}

std::optional<uint32_t> Column::fill(int64_t row) const {
  const Cell* c = at(row);
  if (!c || !(c->flags & kHasFill)) return std::nullopt;
  return fills_.at(row);
}

Cell& Column::ensure(int64_t row) {
  if (cells_.empty()) {
    base_ = row;
    cells_.resize(1);
  } else if (row < base_) {
    // Grow towards the top by at least the current size, so that writing upwards
    // costs amortised constant time per cell.
    const int64_t size = static_cast<int64_t>(cells_.size());
    const int64_t newBase = std::max<int64_t>(1, std::min(row, base_ - size));
    cells_.insert(cells_.begin(), static_cast<std::size_t>(base_ - newBase), Cell{});
    base_ = newBase;
  } else if (row - base_ >= static_cast<int64_t>(cells_.size())) {
    cells_.resize(static_cast<std::size_t>(row - base_ + 1));
  }
  return cells_[static_cast<std::size_t>(row - base_)];
}

void Column::releaseAll() {
  cells_ = {};
  formulas_ = {};
  fills_ = {};
  keyIds_ = {};
  keys_ = {};
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

uint32_t Column::keyFor(const Cell& c, const HostLocale& locale) {
  if (c.value.index() == 0 && !(c.flags & kHasFormula)) return 0;
  const auto text = cellText(c.value, locale);
  if (!text) return 0;  // an error value matches nothing
  std::u16string folded = foldCase(*text);
  auto [it, inserted] = keyIds_.try_emplace(std::move(folded), 0);
  if (inserted) {
    keys_.emplace_back();
    it->second = static_cast<uint32_t>(keys_.size());
  }
  return it->second;
}

void Column::addKey(uint32_t key, int64_t row) {
  if (key == 0) return;
  KeyEntry& e = keys_[key - 1];
  ++e.count;
  auto pos = std::lower_bound(e.rows.begin(), e.rows.end(), row);
  if (pos == e.rows.end() || *pos != row) e.rows.insert(pos, row);
}

void Column::removeKey(uint32_t key) {
  if (key == 0) return;
  KeyEntry& e = keys_[key - 1];
  --e.count;
  // Stale rows are dropped in one sweep once they outnumber the live ones.
  if (e.rows.size() > static_cast<std::size_t>(2 * e.count + 16)) {
    std::erase_if(e.rows, [&](int64_t r) {
      const Cell* c = at(r);
      return !c || c->key != key;
    });
  }
}

void Column::setContent(int64_t row, const CellContent& content, const HostLocale& locale) {
  const bool empty = content.value.index() == 0 && !content.isFormula();
  if (empty && !at(row)) return;
  Cell& c = ensure(row);
  const bool wasLive = isLive(c);
  const bool wasNonEmpty = (c.flags & kHasFormula) || c.value.index() != 0;
  c.value = content.value;
  if (content.isFormula()) {
    formulas_[row] = content.formula;
    c.flags |= kHasFormula;
  } else if (c.flags & kHasFormula) {
    formulas_.erase(row);
    c.flags &= static_cast<uint8_t>(~kHasFormula);
  }
  const uint32_t oldKey = c.key;
  const uint32_t newKey = keyFor(c, locale);
  // keyFor may grow keys_, never cells_, so `c` stays valid.
  c.key = newKey;
  if (oldKey != newKey) {
    removeKey(oldKey);
    addKey(newKey, row);
  }
  afterChange(row, wasLive, wasNonEmpty);
}

void Column::setFill(int64_t row, std::optional<uint32_t> colour) {
  if (!colour && !at(row)) return;
  Cell& c = ensure(row);
  const bool wasLive = isLive(c);
  const bool wasNonEmpty = (c.flags & kHasFormula) || c.value.index() != 0;
  if (colour) {
    fills_[row] = *colour;
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
  const uint32_t oldKey = c.key;
  c.key = 0;
  removeKey(oldKey);
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

const Column::KeyEntry* Column::entry(const std::u16string& folded, uint32_t* id) const {
  auto it = keyIds_.find(folded);
  if (it == keyIds_.end()) return nullptr;
  *id = it->second;
  return &keys_[it->second - 1];
}

int64_t Column::countKey(const std::u16string& folded, int64_t r1, int64_t r2) const {
  uint32_t id = 0;
  const KeyEntry* e = entry(folded, &id);
  if (!e || e->count == 0) return 0;
  if (r1 <= lo_ && r2 >= hi_) return e->count;
  auto isCurrent = [&](int64_t r) {
    const Cell* c = at(r);
    return c && c->key == id;
  };
  const auto first = std::lower_bound(e->rows.begin(), e->rows.end(), r1);
  const auto last = std::upper_bound(first, e->rows.end(), r2);
  const auto inside = last - first;
  const auto outside = static_cast<std::ptrdiff_t>(e->rows.size()) - inside;
  if (inside <= outside) return std::count_if(first, last, isCurrent);
  const auto outsideCount = std::count_if(e->rows.begin(), first, isCurrent) +
                            std::count_if(last, e->rows.end(), isCurrent);
  return e->count - outsideCount;
}

std::optional<int64_t> Column::firstKeyRow(const std::u16string& folded, int64_t from,
                                           int64_t to) const {
  uint32_t id = 0;
  const KeyEntry* e = entry(folded, &id);
  if (!e || e->count == 0) return std::nullopt;
  for (auto it = std::lower_bound(e->rows.begin(), e->rows.end(), from);
       it != e->rows.end() && *it <= to; ++it) {
    const Cell* c = at(*it);
    if (c && c->key == id) return *it;
  }
  return std::nullopt;
}

void Column::rebuildKeys(const HostLocale& locale) {
  keyIds_.clear();
  keys_.clear();
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    Cell& c = cells_[i];
    c.key = keyFor(c, locale);
    if (c.key != 0) addKey(c.key, base_ + static_cast<int64_t>(i));
  }
}

CellContent Sheet::content(CellRef cell) const {
  const Column* col = column(cell.column);
  return col ? col->content(cell.row) : CellContent{};
}

std::optional<uint32_t> Sheet::fill(CellRef cell) const {
  const Column* col = column(cell.column);
  return col ? col->fill(cell.row) : std::nullopt;
}

void Sheet::setContent(CellRef cell, const CellContent& content) {
  if (content.value.index() == 0 && !content.isFormula()) {
    auto it = columns_.find(cell.column);
    if (it != columns_.end()) it->second.setContent(cell.row, content, *locale_);
    return;
  }
  columns_[cell.column].setContent(cell.row, content, *locale_);
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
    std::vector<int64_t> rows;
    col.forEachLive(area.first.row, area.last.row,
                    [&](int64_t r, const Cell&) { rows.push_back(r); });
    for (int64_t r : rows) {
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

void Sheet::rebuildKeys() {
  for (auto& [c, col] : columns_) col.rebuildKeys(*locale_);
}

}  // namespace qmv::memory::detail
