#include "message_boxes.hpp"

namespace qmv::windows::test {

namespace {

thread_local MessageBoxWatcher* tActive = nullptr;

std::wstring className(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

std::wstring windowText(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

// The message of a box: the longest text among its static controls.
BOOL CALLBACK collectText(HWND child, LPARAM lp) {
  auto* best = reinterpret_cast<std::wstring*>(lp);
  if (CompareStringOrdinal(className(child).c_str(), -1, L"Static", -1, TRUE) == CSTR_EQUAL) {
    std::wstring text = windowText(child);
    if (text.size() > best->size()) *best = std::move(text);
  }
  return TRUE;
}

}  // namespace

MessageBoxWatcher::MessageBoxWatcher() : previous_(tActive) {
  tActive = this;
  hook_ = SetWindowsHookExW(WH_CBT, &MessageBoxWatcher::hook, nullptr, GetCurrentThreadId());
}

MessageBoxWatcher::~MessageBoxWatcher() {
  if (hook_) UnhookWindowsHookEx(hook_);
  tActive = previous_;
}

LRESULT CALLBACK MessageBoxWatcher::hook(int code, WPARAM wp, LPARAM lp) {
  if (code == HCBT_ACTIVATE && tActive) {
    const auto hwnd = reinterpret_cast<HWND>(wp);
    if (className(hwnd) == L"#32770") {
      std::wstring text;
      EnumChildWindows(hwnd, &collectText, reinterpret_cast<LPARAM>(&text));
      tActive->texts.push_back(text);
      tActive->captions.push_back(windowText(hwnd));
      PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

}  // namespace qmv::windows::test
