// The values of one column of a sheet, kept in process: counting a value and finding its
// next cell take no call into Excel, and clearing cells keeps them true.
//
// Matching is literal and ignores letter case: a cell matches a text when its cell text
// (cellText in the locale given) folded by foldCase equals the text folded. Empty cells
// and error values match nothing. Unlike COUNTIF and Range.Find there are no wildcards,
// no 15-digit rounding of numeric texts and no dependence on number formats.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/address.hpp"
#include "host/locale.hpp"
#include "host/value.hpp"

namespace qmv::windows {

class ColumnIndex {
 public:
  /// `values` are the cells of `column` (one column, top to bottom) on the sheet `sheet`.
  ColumnIndex(std::u16string sheet, AreaRef column, std::vector<Value> values,
              const HostLocale& locale);

  const std::u16string& sheet() const { return sheet_; }
  const AreaRef& column() const { return column_; }

  /// Cells holding `text`.
  double count(std::u16string_view text) const;
  /// The first row after `afterRow` holding `text`, wrapping round to the top; `afterRow`
  /// itself comes last. None when no cell holds it.
  std::optional<int64_t> next(std::u16string_view text, int64_t afterRow) const;
  /// The value of `row` (absolute), as far as this index knows it.
  const Value& valueAt(int64_t row) const;

  /// The cells of `area` on `sheet` were cleared.
  void cleared(std::u16string_view sheet, const AreaRef& area);

  /// A change the index cannot follow happened: it no longer speaks for the sheet.
  void markStale() { stale_ = true; }
  bool stale() const { return stale_; }

 private:
  std::u16string sheet_;
  AreaRef column_;
  bool stale_ = false;
  HostLocale locale_;
  std::vector<Value> values_;
  std::vector<std::u16string> keys_;  ///< folded text per row; empty for none
  std::map<std::u16string, std::set<int64_t>, std::less<>> rows_;  ///< absolute rows per key
};

}  // namespace qmv::windows
