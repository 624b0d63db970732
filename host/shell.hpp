// Opening an address (a web page, a mail link) in the user's browser.
#pragma once

#include <cstdint>
#include <string>

namespace qmv {

/// The platform's shell. The outcome is not reported: opening is best effort.
class Shell {
 public:
  virtual ~Shell() = default;
  /// Opens `address`; `ownerWindow` is the native window handle of the asking form (may be 0).
  virtual void openAddress(std::uintptr_t ownerWindow, const std::u16string& address) = 0;
};

}  // namespace qmv
