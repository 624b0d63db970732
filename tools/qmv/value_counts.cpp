#include "tools/qmv/value_counts.hpp"

#include <functional>
#include <limits>

namespace qmv::cli {
namespace {

constexpr std::size_t kFirstSlots = 1024;

uint64_t hashOf(std::u16string_view key) { return std::hash<std::u16string_view>{}(key); }
uint32_t tagOf(uint64_t hash) { return static_cast<uint32_t>(hash >> 32) | 1u; }

}  // namespace

std::size_t ValueCounts::find(std::u16string_view key, uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  const uint32_t tag = tagOf(hash);
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.tag == 0) return i;
    if (slot.tag == tag && (slot.place & 0xFFFF) == key.size() &&
        std::u16string_view(texts_).substr(slot.place >> 16, key.size()) == key) {
      return i;
    }
  }
}

void ValueCounts::grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? kFirstSlots : old.size() * 2, Slot{});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.tag == 0) continue;
    const std::u16string_view key =
        std::u16string_view(texts_).substr(slot.place >> 16, slot.place & 0xFFFF);
    std::size_t i = hashOf(key) & mask;
    while (slots_[i].tag != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

uint32_t ValueCounts::add(std::u16string_view key) {
  // At most seven slots in ten are taken, so probe runs stay short.
  if ((used_ + 1) * 10 > slots_.size() * 7) grow();
  const uint64_t hash = hashOf(key);
  Slot& slot = slots_[find(key, hash)];
  if (slot.tag == 0) {
    slot.tag = tagOf(hash);
    slot.place = (static_cast<uint64_t>(texts_.size()) << 16) | key.size();
    texts_.append(key);
    ++used_;
  }
  const uint32_t before = slot.count;
  if (slot.count < std::numeric_limits<uint32_t>::max()) ++slot.count;
  return before;
}

uint32_t ValueCounts::count(std::u16string_view key) const {
  if (slots_.empty()) return 0;
  return slots_[find(key, hashOf(key))].count;
}

}  // namespace qmv::cli
