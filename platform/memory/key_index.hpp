// The index of one column's cell texts for counting and finding: each distinct folded
// text becomes a key, kept in a flat open-addressing table with the texts in one buffer
// and, per key, the number of cells holding it and their rows in one shared pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory/large_allocator.hpp"

namespace qmv::memory::detail {

/// A folded text with its hash, computed once per lookup.
struct KeyText {
  std::u16string_view folded;
  std::size_t hash = 0;
};

/// The text as the index hashes it.
KeyText keyText(std::u16string_view folded);

/// Writes `text` folded (as foldCase does) into `out`, reusing its storage.
void foldInto(std::u16string& out, std::u16string_view text);

/// Keys of folded texts (numbered from 1; 0 is no key), their live counts and rows.
///
/// A key's text and row bookkeeping take one cache line; its count lives apart in a
/// dense array, so that the walks that count and clear cell after cell touch 4 bytes
/// per key and stay in the cache longer.
class KeyIndex {
 public:
  /// Prepares the table for about `keys` keys.
  void reserve(std::size_t keys);

  /// The key of `text`; 0 when the index has none.
  uint32_t find(const KeyText& text) const;
  /// The key of `text`, made (with no cells) when the index has none.
  uint32_t intern(const KeyText& text);

  /// True when `key` is the key of the folded text.
  bool isKeyOf(uint32_t key, std::u16string_view folded) const {
    return sameText(keys_[key - 1], folded);
  }
  /// Starts fetching the slot where a lookup of `text` begins (for a run of lookups).
  void prefetch(const KeyText& text) const;
  /// Starts fetching the key that the slot fetched by prefetch points to, if its tag
  /// matches: together they take a run of lookups past both cache misses.
  void prefetchKey(const KeyText& text) const;

  /// Keys made so far, including those no cell holds any more.
  std::size_t size() const { return keys_.size(); }
  /// Keys that no cell holds any more.
  std::size_t deadKeys() const { return keys_.size() - liveKeys_; }
  /// Row slots no key uses any more (left behind when a key's rows moved).
  std::size_t deadRows() const { return deadRows_; }

  /// Cells holding `key`.
  uint32_t count(uint32_t key) const { return counts_[key - 1] & ~kManyRows; }
  /// A row that held `key` when it was last given to a cell (it may have let go since).
  uint32_t recentRow(uint32_t key) const { return keys_[key - 1].recentRow; }

  /// True once the rows of every key are recorded (see layOutRows).
  bool hasRows() const { return hasRows_; }
  /// Rows recorded for `key`, ascending; a row may be stale (its cell holds another key).
  /// Only while hasRows().
  std::span<const uint32_t> rows(uint32_t key) const {
    const Key& k = keys_[key - 1];
    return {rows_.data() + k.rowsAt, k.rowsSize};
  }

  /// One more cell holds `key`, in `row`.
  void add(uint32_t key, uint32_t row);
  /// One cell fewer holds `key`. Its row stays until `isCurrent(row, key)` sweeps the
  /// stale rows.
  template <class IsCurrent>
  void remove(uint32_t key, IsCurrent&& isCurrent) {
    uint32_t& count = counts_[key - 1];
    --count;
    if ((count & ~kManyRows) == 0) --liveKeys_;
    if (!(count & kManyRows)) return;
    // Stale rows are dropped in one sweep once they outnumber the live ones.
    Key& k = keys_[key - 1];
    if (k.rowsSize > 2 * static_cast<std::size_t>(count & ~kManyRows) + kFewRows) {
      uint32_t* first = rows_.data() + k.rowsAt;
      uint32_t* out = first;
      for (uint32_t* r = first; r != first + k.rowsSize; ++r) {
        if (isCurrent(*r, key)) *out++ = *r;
      }
      k.rowsSize = static_cast<uint32_t>(out - first);
      if (k.rowsSize <= kFewRows) count &= ~kManyRows;
    }
  }

  /// Building: `countCell` once per cell holding the key, top to bottom.
  void countCell(uint32_t key, uint32_t row) {
    if (counts_[key - 1]++ == 0) ++liveKeys_;
    keys_[key - 1].recentRow = row;
  }
  /// Recording the rows, which only searches and partial counts need: `layOutRows` makes
  /// room for exactly count(key) rows per key, filled by `placeRow` in ascending row
  /// order; from then on add and remove keep them.
  void layOutRows();
  void placeRow(uint32_t key, uint32_t row) {
    Key& k = keys_[key - 1];
    rows_[k.rowsAt + k.rowsSize++] = row;
  }

 private:
  /// Texts of up to this many units are kept in the key itself, so that a lookup reads
  /// one slot and one key (one cache line) and no text buffer.
  static constexpr std::size_t kInlineUnits = 18;
  /// Keys with more recorded rows than this carry kManyRows in their count: only they
  /// may need a sweep of stale rows when a cell lets go of them.
  static constexpr std::size_t kFewRows = 16;
  static constexpr uint32_t kManyRows = uint32_t{1} << 31;

  struct alignas(64) Key {
    uint64_t textAt = 0;  ///< in texts_, for a longer text
    uint32_t textLength = 0;
    uint32_t rowsAt = 0;
    uint32_t rowsSize = 0;
    uint32_t rowsCapacity = 0;
    uint32_t recentRow = 0;
    char16_t text[kInlineUnits] = {};
  };
  static_assert(sizeof(Key) == 64);

  bool sameText(const Key& k, std::u16string_view folded) const;
  std::u16string_view textOf(const Key& k) const {
    return {k.textLength <= kInlineUnits ? k.text : texts_.data() + k.textAt, k.textLength};
  }
  /// Resizes the table to `slots` and places every key again.
  void rehash(std::size_t slots);
  /// Puts `key` into the first free slot of its probe sequence.
  void place(uint32_t key, uint64_t mixed);

  LargeVector<uint64_t> slots_;  ///< (hash tag << 32) | key; 0 is empty
  LargeVector<Key> keys_;
  LargeVector<uint32_t> counts_;  ///< by key - 1: cells holding it, and kManyRows
  std::u16string texts_;          ///< the texts too long to keep in their key
  LargeVector<uint32_t> rows_;
  std::size_t liveKeys_ = 0;
  std::size_t deadRows_ = 0;
  bool hasRows_ = false;
};

}  // namespace qmv::memory::detail
