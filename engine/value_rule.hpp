// The value rule: which cells of one column a value removal clears. Pure: it knows values,
// not hosts. The in-memory host, `qmv apply` and the web engine let it decide; over COM,
// Excel's own COUNTIF and advanced filter decide.
//
// Two cells hold the same value when their keys are equal: the cell's text (a text as it
// stands, any other value through the cell-text rule of the locale) folded without regard
// to case (host/case_fold.hpp). `*`, `?`, `~` and the comparison signs are characters like
// any other. A cell has no key, and is never counted nor cleared, when it holds an error
// value or the empty text, and in the counting modes (every repeat, every unique value)
// when its text is longer than the 255 characters a COUNTIF criterion takes: a count
// could not speak for it. Keep one compares whole texts of any length, as the unique
// filter does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/operations.hpp"
#include "host/locale.hpp"
#include "host/value.hpp"

namespace qmv {

/// The characters of the longest text the counting modes compare (a COUNTIF criterion).
inline constexpr std::size_t kMaxCriterionChars = 255;

/// The folded text that every key of a cell's value is: the value's text (a text as it
/// stands, any other value through the cell-text rule of `locale`) folded, in UTF-16, written
/// into `out`. False, with `out` empty, for an error value, which has no text. The empty text
/// folds to itself: whether it counts is the caller's rule (valueKey gives it no key; a
/// COUNTIF of the empty criterion counts it). Hosts that index UTF-16 cells key by this.
bool foldedValueText(std::u16string& out, const Value& value, const HostLocale& locale);

/// `text` (a criterion, a search) folded as foldedValueText folds a text, into `out`.
void foldedText(std::u16string& out, std::u16string_view text);

/// Whether `text` folded is `folded` (as foldedText makes it), unit by unit without a copy.
/// Folding keeps the UTF-16 length, so texts of other lengths differ at once.
bool foldsTo(std::u16string_view text, std::u16string_view folded);

/// The key of a text given as UTF-8 (a CSV field), written into `out` (UTF-8, folded);
/// false when the text has none under `mode`.
bool textValueKey(std::string& out, std::string_view utf8, ValueMode mode);

/// The key of a cell's value in `locale`, written into `out`; false when it has none.
bool valueKey(std::string& out, const Value& value, const HostLocale& locale, ValueMode mode);

/// The same as a value: none when the cell has no key.
std::optional<std::string> valueKey(const Value& value, const HostLocale& locale, ValueMode mode);

/// The distinct keys of a column, each with how often it occurs, for a column of any length
/// read twice, in the same order: count() every key on the first read, then clears() on the
/// second tells whether that cell is cleared. Keep one needs no first read (count() does
/// nothing): the first time a key comes it stays, each later time it is cleared. It holds
/// each distinct key's bytes once and 8 bytes of table per key, nothing per cell.
class ValueTally {
 public:
  explicit ValueTally(ValueMode mode);
  ValueTally(const ValueTally&) = delete;
  ValueTally& operator=(const ValueTally&) = delete;
  ValueTally(ValueTally&&) noexcept;
  ValueTally& operator=(ValueTally&&) noexcept;
  ~ValueTally();

  /// First read: one more cell holds `key`.
  void count(std::string_view key);
  /// Second read, cell by cell in the order counted: whether the cell holding `key` is
  /// cleared. A key never counted occurs once (in keep one: it is the first).
  bool clears(std::string_view key);

  /// Distinct keys held.
  std::size_t distinct() const;

 private:
  struct Table;
  ValueMode mode_;
  std::unique_ptr<Table> table_;
};

/// Which cells of a column `mode` clears, given each cell's key (none: never counted nor
/// cleared), top to bottom.
std::vector<bool> valueListClears(ValueMode mode,
                                  const std::vector<std::optional<std::string>>& keys);

/// Which cells of a column `mode` clears: the values top to bottom, their text in `locale`.
std::vector<bool> valueClears(ValueMode mode, std::span<const Value> column,
                              const HostLocale& locale);

}  // namespace qmv
