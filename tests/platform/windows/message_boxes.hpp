// Message boxes shown on the test's thread, as a user sees them: each one's text is
// recorded and the box is answered with OK, so that a test never waits for a person.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qmv::windows::test {

/// While alive, records and closes every message box the calling thread shows.
class MessageBoxWatcher {
 public:
  MessageBoxWatcher();
  ~MessageBoxWatcher();
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

  /// Texts of the boxes shown so far, and their captions.
  std::vector<std::wstring> texts;
  std::vector<std::wstring> captions;

 private:
  static LRESULT CALLBACK hook(int code, WPARAM wp, LPARAM lp);
  HHOOK hook_ = nullptr;
  MessageBoxWatcher* previous_ = nullptr;
};

}  // namespace qmv::windows::test
