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
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
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

/// The value indexes alive in this thread, each held by the range that counts from it and
/// living as long as that range. Every clear through the bridge is told to all of them,
/// and any other write lets them all go, so that while they live they speak for the sheet.
class ValueIndexes {
 public:
  /// Those of this thread: Excel calls an add-in on its one (single-threaded apartment)
  /// thread.
  static ValueIndexes& ofThisThread();

  /// The index `owner` holds; null when it holds none that is still true.
  ColumnIndex* held(const void* owner) const;
  /// Makes `index` the one `owner` holds, until release(owner).
  ColumnIndex& hold(const void* owner, ColumnIndex index);
  /// `owner` goes, and its index with it.
  void release(const void* owner);
  /// release(owner) on this thread's indexes, if they are still there.
  static void releaseHeld(const void* owner);

  bool empty() const { return held_.empty(); }
  /// The cells of `area` on `sheet` were cleared.
  void cleared(std::u16string_view sheet, const AreaRef& area);
  /// A change no index can follow happened: every index is marked stale and let go.
  void dropAll();

  /// An index that holds every value a Find over the one-column `area` of `sheet` can
  /// match, the cells of `area` outside it lying outside the sheet's used range `used`
  /// (they are empty). Null when none does.
  ColumnIndex* answering(std::u16string_view sheet, const AreaRef& area, const AreaRef& used) const;

 private:
  std::vector<std::pair<const void*, std::unique_ptr<ColumnIndex>>> held_;
};

}  // namespace qmv::windows
