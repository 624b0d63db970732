#include "platform/memory/key_index.hpp"

#include <algorithm>
#include <functional>

namespace qmv::memory::detail {

namespace {

constexpr std::size_t kFirstSlots = 16;

uint32_t tagOf(uint64_t mixed) { return static_cast<uint32_t>(mixed >> 32); }

/// Slots for `keys` keys: at most three quarters are taken, so probe sequences stay short.
std::size_t slotsFor(std::size_t keys) { return std::max(kFirstSlots, keys + keys / 3 + 1); }

}  // namespace

KeyText keyText(std::u16string_view folded) {
  return KeyText{folded, std::hash<std::u16string_view>{}(folded)};
}

void KeyIndex::reserve(std::size_t keys) {
  const std::size_t slots = slotsFor(keys);
  if (slots > slots_.size()) rehash(slots);
  keys_.reserve(keys);
  tallies_.reserve(keys);
}

bool KeyIndex::sameText(const Key& k, std::u16string_view folded) const {
  if (k.textLength != folded.size()) return false;
  const std::u16string_view text = textOf(k);
  return std::equal(text.begin(), text.end(), folded.begin());
}

void KeyIndex::prefetch(const KeyText& text) const {
#if defined(__GNUC__) || defined(__clang__)
  if (!slots_.empty()) __builtin_prefetch(&slots_[homeOf(mix(text.hash), slots_.size())]);
#else
  (void)text;
#endif
}

void KeyIndex::prefetchKey(const KeyText& text) const {
#if defined(__GNUC__) || defined(__clang__)
  if (slots_.empty()) return;
  const uint64_t mixed = mix(text.hash);
  const uint64_t slot = slots_[homeOf(mixed, slots_.size())];
  if (slot != 0 && static_cast<uint32_t>(slot >> 32) == tagOf(mixed)) {
    __builtin_prefetch(&keys_[static_cast<uint32_t>(slot) - 1]);
    __builtin_prefetch(&tallies_[static_cast<uint32_t>(slot) - 1]);
  }
#else
  (void)text;
#endif
}

uint32_t KeyIndex::intern(const KeyText& text) {
  if (const uint32_t key = find(text)) return key;
  if (slotsFor(keys_.size() + 1) > slots_.size()) rehash(slotsFor(2 * keys_.size() + 1));
  Key& k = keys_.emplace_back();
  tallies_.emplace_back();
  k.textLength = static_cast<uint32_t>(text.folded.size());
  if (text.folded.size() <= kInlineUnits) {
    std::copy(text.folded.begin(), text.folded.end(), k.text);
  } else {
    k.textAt = texts_.size();
    texts_.append(text.folded);
  }
  const auto key = static_cast<uint32_t>(keys_.size());
  place(key, mix(text.hash));
  return key;
}

void KeyIndex::place(uint32_t key, uint64_t mixed) {
  const std::size_t size = slots_.size();
  std::size_t i = homeOf(mixed, size);
  while (slots_[i] != 0) i = i + 1 == size ? 0 : i + 1;
  slots_[i] = (static_cast<uint64_t>(tagOf(mixed)) << 32) | key;
}

void KeyIndex::rehash(std::size_t slots) {
  slots_.assign(slots, 0);
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    place(static_cast<uint32_t>(i + 1), mix(keyText(textOf(keys_[i])).hash));
  }
}

void KeyIndex::add(uint32_t key, uint32_t row) {
  Key& k = keys_[key - 1];
  Tally& t = tallies_[key - 1];
  uint32_t& count = t.count;
  if ((count++ & ~kManyRows) == 0) ++liveKeys_;
  t.rowXor ^= row;
  k.recentRow = row;
  if (!hasRows_) return;
  const uint32_t* first = rows_.data() + k.rowsAt;
  const uint32_t* last = first + k.rowsSize;
  // Rows mostly arrive in ascending order: check the end before searching.
  const uint32_t* pos =
      (k.rowsSize == 0 || last[-1] < row) ? last : std::lower_bound(first, last, row);
  if (pos != last && *pos == row) return;  // a stale row that is current again
  const auto at = static_cast<std::size_t>(pos - first);
  if (k.rowsSize == k.rowsCapacity) {
    const uint32_t capacity = std::max<uint32_t>(4, 2 * k.rowsCapacity);
    if (static_cast<std::size_t>(k.rowsAt) + k.rowsCapacity == rows_.size()) {
      // The last slice of the pool grows in place.
      rows_.resize(static_cast<std::size_t>(k.rowsAt) + capacity);
    } else {
      const std::size_t moved = rows_.size();
      rows_.resize(moved + capacity);
      std::copy_n(rows_.begin() + k.rowsAt, k.rowsSize, rows_.begin() + moved);
      deadRows_ += k.rowsCapacity;
      k.rowsAt = static_cast<uint32_t>(moved);
    }
    k.rowsCapacity = capacity;
  }
  uint32_t* slice = rows_.data() + k.rowsAt;
  std::copy_backward(slice + at, slice + k.rowsSize, slice + k.rowsSize + 1);
  slice[at] = row;
  if (++k.rowsSize > kFewRows) count |= kManyRows;
}

void KeyIndex::layOutRows() {
  std::size_t total = 0;
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    Key& k = keys_[i];
    const uint32_t count = tallies_[i].count & ~kManyRows;
    k.rowsAt = static_cast<uint32_t>(total);
    k.rowsSize = 0;
    k.rowsCapacity = count;
    if (count > kFewRows) tallies_[i].count |= kManyRows;
    total += count;
  }
  rows_.assign(total, 0);
  deadRows_ = 0;
  hasRows_ = true;
}

}  // namespace qmv::memory::detail
