// The owner of an open registry key: every key the add-in opens or creates is held by one
// and closed exactly once.
#pragma once

#include <windows.h>

#include <utility>

namespace qmv::windows {

/// An open registry key, closed when the owner goes. Null is "no key".
class UniqueRegKey {
 public:
  UniqueRegKey() noexcept = default;
  explicit UniqueRegKey(HKEY key) noexcept : key_(key) {}
  UniqueRegKey(UniqueRegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  UniqueRegKey& operator=(UniqueRegKey&& other) noexcept {
    if (this != &other) reset(std::exchange(other.key_, nullptr));
    return *this;
  }
  UniqueRegKey(const UniqueRegKey&) = delete;
  UniqueRegKey& operator=(const UniqueRegKey&) = delete;
  ~UniqueRegKey() { reset(); }

  HKEY get() const noexcept { return key_; }
  /// For the creating call to fill in; closes what was held.
  HKEY* put() noexcept {
    reset();
    return &key_;
  }
  explicit operator bool() const noexcept { return key_ != nullptr; }
  void reset(HKEY key = nullptr) noexcept {
    if (key_) RegCloseKey(key_);
    key_ = key;
  }

 private:
  HKEY key_ = nullptr;
};

}  // namespace qmv::windows
