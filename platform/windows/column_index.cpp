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

}  // namespace qmv::windows
