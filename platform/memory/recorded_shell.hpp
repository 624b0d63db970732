// The in-memory platform's shell: it records the addresses it is asked to open.
#pragma once

#include <string>
#include <vector>

#include "host/shell.hpp"

namespace qmv::memory {

/// Records every address instead of opening a browser.
class RecordedShell : public Shell {
 public:
  void openAddress(std::uintptr_t ownerWindow, const std::u16string& address) override;
  /// Addresses in the order they were opened.
  const std::vector<std::u16string>& opened() const { return opened_; }

 private:
  std::vector<std::u16string> opened_;
};

}  // namespace qmv::memory
