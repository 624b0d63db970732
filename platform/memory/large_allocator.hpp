// The allocator of the host's large arrays (a column's cells and its index). On Linux an
// array of 2 MiB or more is aligned to 2 MiB and offered to the kernel for huge pages:
// a column of a million rows is then reached through a few hundred pages instead of tens
// of thousands, which spares page faults and TLB misses on every random access. Smaller
// arrays, and other systems, use std::allocator.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace qmv::memory::detail {

template <class T>
class LargeAllocator {
 public:
  using value_type = T;

  LargeAllocator() = default;
  template <class U>
  LargeAllocator(const LargeAllocator<U>& /*other*/) noexcept {}

  T* allocate(std::size_t n) {
#if defined(__linux__)
    if (n > 0 && n * sizeof(T) >= kHugePage && n <= kLargest) {
      const std::size_t bytes = rounded(n);
      void* p = std::aligned_alloc(kHugePage, bytes);
      if (p == nullptr) throw std::bad_alloc();
      // Only advice: the kernel may decline, and the memory works either way.
      madvise(p, bytes, MADV_HUGEPAGE);
      return static_cast<T*>(p);
    }
#endif
    return std::allocator<T>{}.allocate(n);
  }

  void deallocate(T* p, std::size_t n) noexcept {
#if defined(__linux__)
    if (n > 0 && n * sizeof(T) >= kHugePage && n <= kLargest) {
      std::free(p);
      return;
    }
#endif
    std::allocator<T>{}.deallocate(p, n);
  }

  template <class U>
  bool operator==(const LargeAllocator<U>& /*other*/) const noexcept {
    return true;
  }

 private:
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;
  /// Beyond this many elements the rounded size could overflow: std::allocator decides.
  static constexpr std::size_t kLargest = (~std::size_t{0} - kHugePage) / sizeof(T);

  static std::size_t rounded(std::size_t n) {
    return (n * sizeof(T) + kHugePage - 1) / kHugePage * kHugePage;
  }
};

/// A vector of the host's large arrays.
template <class T>
using LargeVector = std::vector<T, LargeAllocator<T>>;

}  // namespace qmv::memory::detail
