// Counts of texts for the value removals: one entry per distinct text, the texts packed
// one after another in one buffer and found through a compact open-addressing table, so
// that a column of a million values costs a few allocations rather than one per value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qmv::cli {

class ValueCounts {
 public:
  /// Texts longer than this are not kept (a cell holds at most 32,767 characters).
  static constexpr std::size_t kMaxKeyUnits = 0xFFFF;

  /// Counts `key` once more; returns its count before (counts stop at 2^32 - 1).
  /// Precondition: key.size() <= kMaxKeyUnits.
  uint32_t add(std::u16string_view key);
  /// The count of `key`; 0 when it was never counted.
  uint32_t count(std::u16string_view key) const;
  std::size_t size() const { return used_; }

 private:
  struct Slot {
    uint32_t tag = 0;  ///< high bits of the hash, never 0 in a used slot
    uint32_t count = 0;
    uint64_t place = 0;  ///< offset in texts_ << 16 | length
  };

  std::size_t find(std::u16string_view key, uint64_t hash) const;
  void grow();

  std::vector<Slot> slots_;
  std::u16string texts_;
  std::size_t used_ = 0;
};

}  // namespace qmv::cli
