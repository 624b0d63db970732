// The one owner of a Windows handle: closed exactly once, when the owner goes or is reset,
// unless released to a new owner. Each kind of handle is a one-line alias naming how it
// is closed (the aliases are in gdi_handles.hpp, registry_key.hpp and with their users).
#pragma once

#include <utility>

namespace qmv::windows {

/// Owns one handle of type T, closed by `Close{}(handle)`. T{} (null, 0) is "no handle"
/// and is never closed. Moving hands the handle on; copying is not allowed.
template <class T, class Close>
class UniqueHandle {
 public:
  UniqueHandle() noexcept = default;
  explicit UniqueHandle(T handle) noexcept : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  T get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != T{}; }
  /// Gives up ownership without closing.
  T release() noexcept { return std::exchange(handle_, T{}); }
  /// Closes the held handle and holds `handle` instead.
  void reset(T handle = T{}) noexcept {
    const T old = std::exchange(handle_, handle);
    if (old != T{}) Close{}(old);
  }
  /// For a creating call to fill in: closes what was held first.
  T* put() noexcept {
    reset();
    return &handle_;
  }

 private:
  T handle_{};
};

}  // namespace qmv::windows
