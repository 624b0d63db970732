// The modal loop: a shown form disables the thread's other windows and runs its messages
// until it is unloaded; message boxes, the input box and DoEvents.
#include <utility>
#include <vector>

#include "platform/windows/win_forms_window.hpp"

namespace qmv::windows {

using namespace win_forms_detail;

namespace {

struct ThreadWindowsWalk {
  HWND dialog;
  std::vector<HWND> disabled;
};

BOOL CALLBACK disableThreadWindow(HWND hwnd, LPARAM data) {
  auto* walk = reinterpret_cast<ThreadWindowsWalk*>(data);
  if (hwnd != walk->dialog && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
    EnableWindow(hwnd, FALSE);
    walk->disabled.push_back(hwnd);
  }
  return TRUE;
}

// Disables every enabled, visible top-level window of this thread but `dialog`, as a
// modal dialog must: Excel 2013 and later show each workbook in a window of its own, all
// on one thread, and none may be edited or closed while the form runs.
std::vector<HWND> disableThreadWindows(HWND dialog) {
  ThreadWindowsWalk walk{dialog, {}};
  EnumThreadWindows(GetCurrentThreadId(), &disableThreadWindow, reinterpret_cast<LPARAM>(&walk));
  return walk.disabled;
}

void enableWindows(std::vector<HWND>& windows) {
  for (HWND hwnd : windows) {
    if (IsWindow(hwnd)) EnableWindow(hwnd, TRUE);
  }
  windows.clear();
}

}  // namespace

std::uintptr_t Win32FormsToolkit::windowHandle(Form& form) {
  return reinterpret_cast<std::uintptr_t>(ensureWindow(form).hwnd());
}

void Win32FormsToolkit::beginWindowMove(Form& form) {
  auto it = windows_.find(&form);
  if (it == windows_.end() || !it->second->hwnd()) return;
  ReleaseCapture();
  SendMessageA(it->second->hwnd(), WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void Win32FormsToolkit::showModal(Form& form) {
  if (!form.loaded()) return;
  FormWindow& fw = ensureWindow(form);
  fw.modal = true;
  fw.done = false;
  HWND owner = GetActiveWindow();
  if (owner == fw.hwnd()) owner = nullptr;
  fw.owner = owner;
  SetWindowLongPtrW(fw.hwnd(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));

  // Centre over the owner, or on the screen.
  RECT windowRect{};
  GetWindowRect(fw.hwnd(), &windowRect);
  RECT area{};
  if (!owner || !GetWindowRect(owner, &area)) SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  const int width = windowRect.right - windowRect.left;
  const int height = windowRect.bottom - windowRect.top;
  SetWindowPos(fw.hwnd(), nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  fw.disabled = disableThreadWindows(fw.hwnd());
  ShowWindow(fw.hwnd(), SW_SHOW);
  SetForegroundWindow(fw.hwnd());
  HWND hwnd = fw.hwnd();
  MSG msg;
  while (form.loaded() && IsWindow(hwnd)) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (!dispatchDialogMessage(msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  std::exception_ptr failure;
  auto it = windows_.find(&form);
  if (it != windows_.end()) {
    failure = std::exchange(it->second->failure, nullptr);
    enableWindows(it->second->disabled);
  }
  if (owner) SetActiveWindow(owner);
  destroyWindow(form);
  if (form.loaded()) form.markUnloaded();
  if (failure) std::rethrow_exception(failure);
}

void Win32FormsToolkit::unload(Form& form) {
  form.markUnloaded();
  auto it = windows_.find(&form);
  if (it == windows_.end()) return;
  FormWindow& fw = *it->second;
  fw.done = true;
  if (fw.modal) {
    // The modal loop ends and destroys the window; give the other windows back their input
    // now.
    enableWindows(fw.disabled);
    ShowWindow(fw.hwnd(), SW_HIDE);
    // A handler reached through a sent message (an accessibility tool pressing a button)
    // runs inside GetMessage, which returns only for a posted message: wake the loop.
    PostMessageW(fw.hwnd(), WM_NULL, 0, 0);
    return;
  }
  destroyWindow(form);
}

bool Win32FormsToolkit::dispatchDialogMessage(MSG& msg) {
  for (auto& [form, fw] : windows_) {
    if (fw->modal && fw->hwnd() && (msg.hwnd == fw->hwnd() || IsChild(fw->hwnd(), msg.hwnd))) {
      // Keys typed into a text box go to its KeyPress filter, not to dialog navigation.
      if (msg.message == WM_CHAR && msg.wParam != VK_TAB) return false;
      return IsDialogMessageW(fw->hwnd(), &msg) != FALSE;
    }
  }
  return false;
}

void Win32FormsToolkit::doEvents() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (!dispatchDialogMessage(msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

void Win32FormsToolkit::messageBox(const std::u16string& text, MessageIcon icon) {
  const UINT type = MB_OK | (icon == MessageIcon::Critical ? MB_ICONERROR : 0);
  MessageBoxW(GetActiveWindow(), toWide(text).c_str(), kDefaultTitle, type);
}

std::u16string Win32FormsToolkit::inputBox(const std::u16string& prompt,
                                           const std::u16string& title) {
  Form box("InputBox");
  box.setCaption(title.empty() ? fromWide(kDefaultTitle) : title);
  box.geometry = {0, 0, 270, 110};
  Control& label = box.add("lblPrompt", ControlKind::Label);
  label.geometry = {8, 8, 190, 60};
  label.wordWrap = true;
  label.setCaption(prompt);
  Control& ok = box.add("cmdOK", ControlKind::CommandButton);
  ok.geometry = {206, 8, 56, 20};
  ok.setCaption(u"OK");
  Control& cancel = box.add("cmdCancel", ControlKind::CommandButton);
  cancel.geometry = {206, 32, 56, 20};
  cancel.setCaption(u"Cancel");
  Control& text = box.add("txtAnswer", ControlKind::TextBox);
  text.geometry = {8, 80, 254, 18};

  std::u16string answer;
  auto accept = [&] {
    answer = text.text();
    unload(box);
  };
  ok.onClick = accept;
  cancel.onClick = [&] { unload(box); };
  text.onKeyPress = [&](int& key) {
    if (key == keys::kEnter) {
      key = 0;
      accept();
    } else if (key == VK_ESCAPE) {
      key = 0;
      unload(box);
    }
  };
  showModal(box);
  return answer;
}

}  // namespace qmv::windows
