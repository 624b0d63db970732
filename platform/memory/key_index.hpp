// The index of one column's cell texts for counting and finding: each distinct folded
// text (the engine's value rule folds it: engine/value_rule.hpp) becomes a key, found through a
// flat open-addressing table of 8-byte slots. Per key it keeps its text (in the key when short),
// the number of cells holding it, and, once a search needs them, their rows in one shared pool.
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

/// Keys of folded texts (numbered from 1; 0 is no key), their live counts and rows.
///
/// A key's text and row bookkeeping take one cache line; its tally (the number of cells
/// holding it and the XOR of their rows) lives apart in a dense array, so that the walks
/// that count and clear cell after cell touch 8 bytes per key and stay in the cache
/// longer. The XOR names the row of a key held by one cell without any row list.
class KeyIndex {
 public:
  /// Prepares the table for about `keys` keys.
  void reserve(std::size_t keys);

  /// The key of `text`; 0 when the index has none.
  uint32_t find(const KeyText& text) const {
    return findBy(text, [&](uint32_t key) { return isKeyOf(key, text.folded); });
  }
  /// The same, with `matches(key)` telling for a key in the probe sequence whether it is
  /// the key of the text: a caller that can tell from memory it reads anyway spares the
  /// read of the key's own text.
  template <class Matches>
  uint32_t findBy(const KeyText& text, Matches&& matches) const {
    if (slots_.empty()) return 0;
    const uint64_t mixed = mix(text.hash);
    const auto tag = static_cast<uint32_t>(mixed >> 32);
    const std::size_t size = slots_.size();
    for (std::size_t i = homeOf(mixed, size);; i = i + 1 == size ? 0 : i + 1) {
      const uint64_t slot = slots_[i];
      if (slot == 0) return 0;
      const auto key = static_cast<uint32_t>(slot);
      if (static_cast<uint32_t>(slot >> 32) == tag && matches(key)) return key;
    }
  }
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
  uint32_t count(uint32_t key) const { return tallies_[key - 1].count & ~kManyRows; }
  /// The row of the one cell holding `key`; 0 unless exactly one cell holds it.
  uint32_t soleRow(uint32_t key) const {
    const Tally& t = tallies_[key - 1];
    return (t.count & ~kManyRows) == 1 ? t.rowXor : 0;
  }
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
  /// The cell in `row` no longer holds `key`. The row stays in the key's row list until
  /// `isCurrent(row, key)` sweeps the stale rows.
  template <class IsCurrent>
  void remove(uint32_t key, uint32_t row, IsCurrent&& isCurrent) {
    Tally& t = tallies_[key - 1];
    uint32_t& count = t.count;
    --count;
    t.rowXor ^= row;
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
    Tally& t = tallies_[key - 1];
    if (t.count++ == 0) ++liveKeys_;
    t.rowXor ^= row;
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

  struct Tally {
    uint32_t count = 0;   ///< cells holding the key, and kManyRows
    uint32_t rowXor = 0;  ///< the XOR of their rows
  };

  /// Spreads a hash over 64 bits (the finaliser of MurmurHash3), so that the slot takes
  /// the low half and the tag the high one even where std::size_t has 32 bits.
  static uint64_t mix(std::size_t hash) {
    uint64_t h = hash;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    return h;
  }
  /// The first slot of a probe sequence: the low half of the hash scaled to the table,
  /// so that the table can have any size.
  static std::size_t homeOf(uint64_t mixed, std::size_t slots) {
    return static_cast<std::size_t>(((mixed & 0xffffffffu) * slots) >> 32);
  }

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
  LargeVector<Tally> tallies_;  ///< by key - 1
  std::u16string texts_;        ///< the texts too long to keep in their key
  LargeVector<uint32_t> rows_;
  std::size_t liveKeys_ = 0;
  std::size_t deadRows_ = 0;
  bool hasRows_ = false;
};

}  // namespace qmv::memory::detail
