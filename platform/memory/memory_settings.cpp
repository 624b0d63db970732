// The add-in's per-user settings in the in-memory host: kept for the life of the host,
// as a user's settings outlive a connection; and the questions for a file the user answers.
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

// Excel's Open dialog opens nothing: it only gives the name chosen, or False on Cancel
// (https://learn.microsoft.com/office/vba/api/excel.application.getopenfilename).
std::optional<std::u16string> MemoryApplication::askOpenFileName(const std::u16string& filter,
                                                                 const std::u16string& title) {
  state_->hostCall();
  state_->fileQuestions.push_back({filter, title});
  if (state_->fileAnswers.empty()) return std::nullopt;
  std::optional<std::u16string> answer = std::move(state_->fileAnswers.front());
  state_->fileAnswers.pop_front();
  return answer;
}

void MemoryApplication::queueFileAnswer(std::optional<std::u16string> path) {
  state_->fileAnswers.push_back(std::move(path));
}

const std::vector<FileQuestion>& MemoryApplication::fileQuestions() const {
  return state_->fileQuestions;
}

}  // namespace qmv::memory
