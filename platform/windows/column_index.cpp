#include "platform/windows/column_index.hpp"

#include <algorithm>
#include <utility>

#include "host/cell_text.hpp"

namespace qmv::windows {

namespace {

std::u16string keyOf(const Value& value, const HostLocale& locale) {
  if (std::holds_alternative<CellError>(value)) return {};
  return foldCase(cellText(value, locale).value_or(u""));
}

}  // namespace

ColumnIndex::ColumnIndex(std::u16string sheet, AreaRef column, std::vector<Value> values,
                         const HostLocale& locale)
    : sheet_(std::move(sheet)), column_(column), locale_(locale), values_(std::move(values)) {
  values_.resize(static_cast<std::size_t>(column_.rows()));
  keys_.reserve(values_.size());
  for (std::size_t i = 0; i < values_.size(); ++i) {
    keys_.push_back(keyOf(values_[i], locale_));
    if (!keys_.back().empty())
      rows_[keys_.back()].insert(column_.first.row + static_cast<int64_t>(i));
  }
}

double ColumnIndex::count(std::u16string_view text) const {
  const auto it = rows_.find(foldCase(text));
  return it == rows_.end() ? 0 : static_cast<double>(it->second.size());
}

std::optional<int64_t> ColumnIndex::next(std::u16string_view text, int64_t afterRow) const {
  const auto it = rows_.find(foldCase(text));
  if (it == rows_.end() || it->second.empty()) return std::nullopt;
  const auto after = it->second.upper_bound(afterRow);
  return after != it->second.end() ? *after : *it->second.begin();
}

const Value& ColumnIndex::valueAt(int64_t row) const {
  static const Value kEmpty;
  const int64_t i = row - column_.first.row;
  if (i < 0 || i >= static_cast<int64_t>(values_.size())) return kEmpty;
  return values_[static_cast<std::size_t>(i)];
}

void ColumnIndex::cleared(std::u16string_view sheet, const AreaRef& area) {
  if (sheet != sheet_ || area.first.column > column_.first.column ||
      area.last.column < column_.first.column) {
    return;
  }
  const int64_t from = std::max(area.first.row, column_.first.row);
  const int64_t to = std::min(area.last.row, column_.last.row);
  for (int64_t row = from; row <= to; ++row) {
    const auto i = static_cast<std::size_t>(row - column_.first.row);
    if (!keys_[i].empty()) {
      auto it = rows_.find(keys_[i]);
      it->second.erase(row);
      if (it->second.empty()) rows_.erase(it);
      keys_[i].clear();
    }
    values_[i] = Value{};
  }
}

namespace {

// This thread's indexes, and a pointer to them that outlives them: ranges that go while
// the thread ends find none.
thread_local ValueIndexes* current = nullptr;
struct ThreadIndexes {
  ThreadIndexes() { current = &indexes; }
  ~ThreadIndexes() { current = nullptr; }
  ValueIndexes indexes;
};

}  // namespace

ValueIndexes& ValueIndexes::ofThisThread() {
  thread_local ThreadIndexes mine;
  return mine.indexes;
}

void ValueIndexes::releaseHeld(const void* owner) {
  if (current != nullptr && !current->empty()) current->release(owner);
}

ColumnIndex* ValueIndexes::held(const void* owner) const {
  for (const auto& [holder, index] : held_) {
    if (holder == owner) return index->stale() ? nullptr : index.get();
  }
  return nullptr;
}

ColumnIndex& ValueIndexes::hold(const void* owner, ColumnIndex index) {
  release(owner);
  held_.emplace_back(owner, std::make_unique<ColumnIndex>(std::move(index)));
  return *held_.back().second;
}

void ValueIndexes::release(const void* owner) {
  std::erase_if(held_, [owner](const auto& held) { return held.first == owner; });
}

void ValueIndexes::cleared(std::u16string_view sheet, const AreaRef& area) {
  for (const auto& held : held_) held.second->cleared(sheet, area);
}

void ValueIndexes::dropAll() {
  for (const auto& held : held_) held.second->markStale();
  held_.clear();
}

ColumnIndex* ValueIndexes::answering(std::u16string_view sheet, const AreaRef& area,
                                     const AreaRef& used) const {
  const AreaRef clip{{std::max(area.first.row, used.first.row), area.first.column},
                     {std::min(area.last.row, used.last.row), area.first.column}};
  for (const auto& held : held_) {
    ColumnIndex& index = *held.second;
    const AreaRef& column = index.column();
    if (index.stale() || index.sheet() != sheet || column.first.column != area.first.column ||
        column.first.row < area.first.row || column.last.row > area.last.row ||
        (clip.first.row <= clip.last.row &&
         (clip.first.row < column.first.row || clip.last.row > column.last.row))) {
      continue;
    }
    return &index;
  }
  return nullptr;
}

}  // namespace qmv::windows
