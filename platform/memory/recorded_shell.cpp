#include "platform/memory/recorded_shell.hpp"

namespace qmv::memory {

void RecordedShell::openAddress(std::uintptr_t /*ownerWindow*/, const std::u16string& address) {
  opened_.push_back(address);
}

}  // namespace qmv::memory
