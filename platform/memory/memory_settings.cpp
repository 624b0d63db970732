// The add-in's per-user settings in the in-memory host: kept for the life of the host,
// as a user's settings outlive a connection.
#include "platform/memory/memory_application.hpp"
#include "platform/memory/memory_state.hpp"

namespace qmv::memory {

std::optional<std::u16string> MemoryApplication::addinSetting(const std::u16string& name) {
  state_->hostCall();
  const auto found = state_->addinSettings.find(name);
  if (found == state_->addinSettings.end()) return std::nullopt;
  return found->second;
}

void MemoryApplication::setAddinSetting(const std::u16string& name, const std::u16string& value) {
  state_->hostCall();
  state_->addinSettings[name] = value;
}

}  // namespace qmv::memory
