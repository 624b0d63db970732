// The one owner of a handle of any kind (a file descriptor, a converter, an OS object):
// closed exactly once, when the owner goes or is reset, unless released to a new owner.
// Each kind of handle is a one-line alias naming how it is closed and, where the empty
// value is not T{} (a descriptor's -1), what "no handle" is.
#pragma once

#include <utility>

namespace qmv {

/// "No handle" for handles whose empty value is T{} (null, 0).
template <class T>
struct ValueInitialized {
  T operator()() const noexcept { return T{}; }
};

/// Owns one handle of type T, closed by `Close{}(handle)`. `None{}()` is "no handle" and is
/// never closed. Moving hands the handle on; copying is not allowed.
template <class T, class Close, class None = ValueInitialized<T>>
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
  explicit operator bool() const noexcept { return handle_ != None{}(); }
  /// Gives up ownership without closing.
  T release() noexcept { return std::exchange(handle_, None{}()); }
  /// Closes the held handle and holds `handle` instead.
  void reset(T handle = None{}()) noexcept {
    const T old = std::exchange(handle_, handle);
    if (old != None{}()) Close{}(old);
  }
  /// For a creating call to fill in: closes what was held first.
  T* put() noexcept {
    reset();
    return &handle_;
  }

 private:
  T handle_ = None{}();
};

}  // namespace qmv
