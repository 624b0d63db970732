// A failed host call, carrying the host's error number so callers can classify it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qmv {

/// Error numbers the add-in classifies.
namespace host_errors {
inline constexpr int32_t kInvalidCall = 5;       ///< invalid procedure call or argument
inline constexpr int32_t kTypeMismatch = 13;     ///< a value of the wrong kind
inline constexpr int32_t kObjectNotSet = 91;     ///< object variable not set
inline constexpr int32_t kObjectRequired = 424;  ///< the object is not what the call needs
inline constexpr int32_t kNotSupported = 438;    ///< the object has no such property or method
inline constexpr int32_t kRefused = 1004;        ///< the host refused a method or property
}  // namespace host_errors

/// Thrown by every host call that fails.
class HostError : public std::runtime_error {
 public:
  HostError(int32_t number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  /// The host's error number (91, 1004, ...).
  int32_t number() const noexcept { return number_; }

 private:
  int32_t number_;
};

}  // namespace qmv
