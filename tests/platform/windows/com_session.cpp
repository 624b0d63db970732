#include "com_session.hpp"

// clang-format off
#include <cstring>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include "engine/text_rules.hpp"
#include "fake_excel.hpp"
#include "host/text.hpp"
#include "memory_excel.hpp"
#include "platform/windows/com_support.hpp"
#include "platform/windows/guids.hpp"
#include "platform/windows/interfaces.hpp"
#include "platform/windows/user_settings.hpp"
#include "platform/windows/win_forms.hpp"
#include "tools/qmv/host_script.hpp"
#include "tools/qmv/script.hpp"
#include "tools/qmv/sheet_csv.hpp"
#include "tools/qmv/values.hpp"

namespace qmv::windows::test {

namespace {

using cli::Command;
using cli::Op;

constexpr UINT kRunTask = WM_APP + 1;   // wParam 0, lParam: std::function<void()>* (sent)
constexpr UINT kPostTask = WM_APP + 2;  // lParam: std::function<void()>* (posted, owned)
constexpr UINT kFinish = WM_APP + 3;
constexpr DWORD kTaskTimeoutMs = 60000;
constexpr int kQuietTries = 4000;  // 5 ms apart: 20 s

// The button that stops a run on each form that runs one.
const std::map<std::wstring, std::wstring> kStopControls = {{L"frmPrgBar", L"CommandButton3"},
                                                            {L"frmTextRemover", L"CommandButton1"}};

// The forms that a press off their controls drags, as a press on a caption does; a press
// on any other form does nothing.
const std::set<std::wstring> kDraggedForms = {L"frmPrgBar", L"frmTextRemover"};

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

// Calls `visit(hwnd)` for each window until it returns false. Win32 takes a CALLBACK
// (stdcall on 32-bit Windows) function, which a lambda does not convert to there.
template <class Visit>
BOOL CALLBACK visitWindow(HWND hwnd, LPARAM visit) {
  return (*reinterpret_cast<Visit*>(visit))(hwnd) ? TRUE : FALSE;
}
template <class Visit>
void forEachChild(HWND parent, Visit visit) {
  EnumChildWindows(parent, &visitWindow<Visit>, reinterpret_cast<LPARAM>(&visit));
}
template <class Visit>
void forEachThreadWindow(Visit visit) {
  EnumThreadWindows(GetCurrentThreadId(), &visitWindow<Visit>, reinterpret_cast<LPARAM>(&visit));
}

// The name a form or control window carries.
std::wstring nameOf(HWND hwnd) {
  const auto atom =
      static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(GetPropW(hwnd, kWindowNameProperty)));
  if (atom == 0) return {};
  wchar_t name[128] = {};
  GetAtomNameW(atom, name, 128);
  return name;
}

std::wstring wide(const std::string& utf8) { return toWide(toUtf16(utf8)); }

// A control as its window shows it.
struct ControlState {
  std::wstring windowClass;
  LONG style = 0;
  std::u16string text;
  bool checked = false;
  double position = 0;
  double max = 0;
  std::vector<std::u16string> list;
  int listIndex = -1;
  std::u16string tooltip;
};

// The tip the form's tooltip window holds for `control`; empty when it holds none.
std::u16string tooltipOf(HWND control) {
  const HWND form = GetAncestor(control, GA_ROOT);
  HWND tips = nullptr;
  forEachThreadWindow([&](HWND w) {
    if (className(w) == TOOLTIPS_CLASSW && GetWindow(w, GW_OWNER) == form) tips = w;
    return tips == nullptr;
  });
  if (!tips) return {};
  std::wstring text(1024, L'\0');
  TOOLINFOW info{};
  info.cbSize = sizeof(info);
  info.hwnd = form;
  info.uId = reinterpret_cast<UINT_PTR>(control);
  info.lpszText = text.data();
  SendMessageW(tips, TTM_GETTEXTW, text.size(), reinterpret_cast<LPARAM>(&info));
  text.resize(wcslen(text.c_str()));
  return fromWide(text);
}

ControlState readControl(HWND hwnd) {
  ControlState s;
  s.windowClass = className(hwnd);
  s.style = GetWindowLongW(hwnd, GWL_STYLE);
  s.text = fromWide(windowText(hwnd));
  s.tooltip = tooltipOf(hwnd);
  if (CompareStringOrdinal(s.windowClass.c_str(), -1, L"Button", -1, TRUE) == CSTR_EQUAL) {
    s.checked = SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
  } else if (s.windowClass == PROGRESS_CLASSW) {
    s.position = static_cast<double>(SendMessageW(hwnd, PBM_GETPOS, 0, 0));
    s.max = static_cast<double>(SendMessageW(hwnd, PBM_GETRANGE, FALSE, 0));
  } else if (CompareStringOrdinal(s.windowClass.c_str(), -1, L"ComboBox", -1, TRUE) == CSTR_EQUAL) {
    const auto n = static_cast<int>(SendMessageW(hwnd, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
      std::wstring entry(static_cast<std::size_t>(SendMessageW(hwnd, CB_GETLBTEXTLEN, i, 0)) + 1,
                         L'\0');
      const auto length =
          SendMessageW(hwnd, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry.data()));
      entry.resize(static_cast<std::size_t>(length > 0 ? length : 0));
      s.list.push_back(fromWide(entry));
    }
    s.listIndex = static_cast<int>(SendMessageW(hwnd, CB_GETCURSEL, 0, 0));
  }
  return s;
}

bool isClass(const ControlState& s, const wchar_t* name) {
  return CompareStringOrdinal(s.windowClass.c_str(), -1, name, -1, TRUE) == CSTR_EQUAL;
}

// The value of a property as the player names it, read from the window.
Value propertyOf(const ControlState& s, const Command& command) {
  const std::string& p = command.property;
  if (p == "caption" || p == "text") return s.text;
  if (p == "tooltip") return s.tooltip;
  if (p == "visible") return (s.style & WS_VISIBLE) != 0;
  if (p == "enabled") return (s.style & WS_DISABLED) == 0;
  if (p == "listindex") return static_cast<double>(s.listIndex);
  if (p == "listcount") return static_cast<double>(s.list.size());
  if (p == "max") return s.max;
  if (p == "list") {
    if (command.number < 0 || command.number >= static_cast<int64_t>(s.list.size())) return Value{};
    return s.list[static_cast<std::size_t>(command.number)];
  }
  if (p == "value") {
    if (isClass(s, L"Button")) return s.checked;
    if (s.windowClass == PROGRESS_CLASSW) return s.position;
    return s.text;
  }
  throw std::runtime_error("the property " + p + " cannot be read from a window");
}

struct ScriptFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

constexpr wchar_t kRecordBrowsedArgument[] = L"--record-browsed";
constexpr int kBrowsedTries = 4000;  // 5 ms apart: 20 s for the recording program to start

// The addresses the add-in opens in a browser, as the system's shell opens them: while the
// session lasts, the http and https protocols of the machine's classes (Wine reads only
// those) start this program with kRecordBrowsedArgument, which appends the address to a
// file; the commands they had come back at the end.
class BrowserRecord {
 public:
  BrowserRecord() {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    static std::atomic<int> serial{0};
    file_ = std::wstring(folder) + L"qmv-browsed-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++serial) + L".txt";
    DeleteFileW(file_.c_str());
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const std::wstring command =
        L"\"" + std::wstring(exe) + L"\" " + kRecordBrowsedArgument + L" \"" + file_ + L"\" \"%1\"";
    try {
      for (const wchar_t* scheme : {L"http", L"https"}) setProtocol(scheme, command);
    } catch (...) {
      restore();
      throw;
    }
  }
  ~BrowserRecord() { restore(); }
  BrowserRecord(const BrowserRecord&) = delete;
  BrowserRecord& operator=(const BrowserRecord&) = delete;

  /// The addresses opened so far, in the order they were recorded (whole lines only).
  std::vector<std::u16string> addresses() const {
    std::ifstream in(std::filesystem::path(file_), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::u16string> lines;
    std::size_t from = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         from = end + 1, end = text.find('\n', from)) {
      lines.push_back(toUtf16(text.substr(from, end - from)));
    }
    return lines;
  }

 private:
  struct Protocol {
    std::wstring scheme;
    std::wstring command;
    DWORD type;
    bool hadCommand;
    bool existed;
  };

  void setProtocol(const wchar_t* scheme, const std::wstring& command) {
    Protocol saved{scheme, {}, REG_SZ, false, false};
    const std::wstring schemeKey = std::wstring(L"Software\\Classes\\") + scheme;
    HKEY key = nullptr;
    saved.existed =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, schemeKey.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
    key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (schemeKey + L"\\shell\\open\\command").c_str(), 0,
                        nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
      throw std::runtime_error("the browser's protocols cannot be set");
    }
    wchar_t old[1024] = {};
    DWORD bytes = sizeof(old) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(old), &bytes) ==
            ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
      saved.command = old;
      saved.type = type;
      saved.hadCommand = true;
    }
    protocols_.push_back(saved);
    const auto size = static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t));
    const LSTATUS set = RegSetValueExW(key, nullptr, 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(command.c_str()), size);
    RegCloseKey(key);
    if (set != ERROR_SUCCESS) throw std::runtime_error("the browser's protocols cannot be set");
  }

  void restore() {
    for (const Protocol& p : protocols_) {
      const std::wstring schemeKey = std::wstring(L"Software\\Classes\\") + p.scheme;
      if (!p.existed) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, schemeKey.c_str());
        continue;
      }
      const std::wstring commandKey = schemeKey + L"\\shell\\open\\command";
      if (!p.hadCommand) {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, commandKey.c_str(), nullptr);
        continue;
      }
      RegSetKeyValueW(HKEY_LOCAL_MACHINE, commandKey.c_str(), nullptr, p.type, p.command.c_str(),
                      static_cast<DWORD>((p.command.size() + 1) * sizeof(wchar_t)));
    }
    protocols_.clear();
    DeleteFileW(file_.c_str());
  }

  std::wstring file_;
  std::vector<Protocol> protocols_;
};

class ComSession;
thread_local ComSession* tSession = nullptr;

class ComSession {
 public:
  explicit ComSession(const ComSessionOptions& options) : options_(options) {}

  ComSessionResult play(std::vector<Command> commands) {
    commands_ = std::move(commands);
    tSession = this;
    WNDCLASSW wc{};
    wc.lpfnWndProc = &ComSession::taskProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QmvComSessionTasks";
    RegisterClassW(&wc);
    tasks_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             wc.hInstance, nullptr);
    hook_ = SetWindowsHookExW(WH_CBT, &ComSession::cbtHook, nullptr, GetCurrentThreadId());
    callHook_ =
        SetWindowsHookExW(WH_CALLWNDPROC, &ComSession::callHook, nullptr, GetCurrentThreadId());
    // The user's stored settings start unset, as in a fresh in-memory host.
    if (!forgetUserSettings()) result_.error = "the stored settings cannot be removed";
    const bool browses = std::any_of(commands_.begin(), commands_.end(),
                                     [](const Command& c) { return c.op == Op::ExpectBrowsed; });
    bool ready = true;
    try {
      if (browses) browsers_.emplace();
    } catch (const std::exception& e) {
      result_.error = e.what();
      ready = false;
    }
    host_ = std::make_shared<memory::MemoryApplication>();
    host_->addAddIn(u"Vandrel QMV", true);
    excel_ = std::make_unique<fake::MemoryExcel>(host_);
    excel_->xll.acceptRegistrations = options_.xllRegistrations;

    std::thread user([this, ready] {
      if (ready) {
        userThread();
      } else {
        PostMessageW(tasks_, kFinish, 0, 0);
      }
    });
    MSG msg;
    while (!finished_ && GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    user.join();
    if (options_.unloadXllAtEnd) {
      excel_->xll.closeAll();
      result_.controlZAfterUnload = toUtf8(host_->keyBinding(u"^z").value_or(u""));
    }

    // The add-in goes as Excel lets it go; then no object of the DLL may stay alive.
    disconnect();
    HMODULE dll = GetModuleHandleW(L"VandrelQMV.dll");
    auto canUnload = dll ? reinterpret_cast<HRESULT(WINAPI*)()>(
                               reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")))
                         : nullptr;
    result_.unloadable = canUnload && canUnload() == S_OK;
    excel_.reset();
    host_.reset();
    UnhookWindowsHookEx(hook_);
    UnhookWindowsHookEx(callHook_);
    DestroyWindow(tasks_);
    browsers_.reset();
    tSession = nullptr;
    if (!forgetUserSettings() && result_.error.empty()) {
      result_.error = "the stored settings cannot be removed";
    }
    return result_;
  }

  static bool forgetUserSettings() { return removeUserSetting(toWide(kTextRulesSetting)); }

 private:
  // ---- The user-interface thread ------------------------------------------------------

  static LRESULT CALLBACK taskProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    ComSession* self = tSession;
    if (self && msg == kRunTask) {
      (*reinterpret_cast<std::function<void()>*>(lp))();
      return 0;
    }
    if (self && msg == kPostTask) {
      std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(lp));
      try {
        (*task)();
      } catch (const std::exception& e) {
        self->taskError_ = e.what();
      }
      self->pending_ = false;
      self->stopAt_ = 0;  // a scheduled stop ends with the run it was meant for
      return 0;
    }
    if (self && msg == kFinish) {
      self->finished_ = true;
      return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
  }

  static LRESULT CALLBACK cbtHook(int code, WPARAM wp, LPARAM lp) {
    ComSession* self = tSession;
    if (self && code == HCBT_ACTIVATE) self->activated(reinterpret_cast<HWND>(wp));
    if (self && code == HCBT_DESTROYWND) self->destroying(reinterpret_cast<HWND>(wp));
    return CallNextHookEx(nullptr, code, wp, lp);
  }

  static LRESULT CALLBACK callHook(int code, WPARAM wp, LPARAM lp) {
    ComSession* self = tSession;
    if (self && code == HC_ACTION) {
      const auto* call = reinterpret_cast<const CWPSTRUCT*>(lp);
      if (call->message == PBM_SETPOS) self->progressed(static_cast<int64_t>(call->wParam));
      if (call->message == PBM_SETRANGE32) self->runStarting();
      if (call->message == WM_ENTERSIZEMOVE || call->message == WM_EXITSIZEMOVE) {
        self->moveLoop(call->hwnd, call->message == WM_ENTERSIZEMOVE);
      }
    }
    return CallNextHookEx(nullptr, code, wp, lp);
  }

  // A run shows step n on its bar after the n-th yield: a Stop click posted then is taken
  // by the next yield, so that the user presses Stop during yield n + 1, as stop-at says.
  void progressed(int64_t step) {
    const int64_t at = stopAt_;
    if (at < 2 || step != at - 1) return;
    pressStop();
  }

  // A run sets its bar's maximum once it has started, before its first step: a Stop click
  // posted then is taken by the first yield. Only a press of the user's starts a run (the
  // bar gets its maximum when the form is made, too).
  void runStarting() {
    if (stopAt_ != 1 || !pressing_) return;
    pressStop();
  }

  void pressStop() {
    stopAt_ = 0;
    const HWND form = findForm(L"", true);
    if (!form) return;
    const auto stop = kStopControls.find(nameOf(form));
    if (stop == kStopControls.end()) return;
    if (HWND button = findControl(form, stop->second)) PostMessageW(button, BM_CLICK, 0, 0);
  }

  // The system's move loop of a form the user pressed: it waits for the mouse, so the
  // button comes up (posted, taken by the loop) as soon as the loop has begun.
  void moveLoop(HWND hwnd, bool entering) {
    if (hwnd != dragged_) return;
    if (!entering) {
      ++movesEnded_;
      return;
    }
    ++movesBegun_;
    PostMessageW(hwnd, WM_LBUTTONUP, 0, 0);
  }

  // A message box is read and answered; an input box gets the next queued answer.
  void activated(HWND hwnd) {
    const std::wstring windowClass = className(hwnd);
    if (windowClass == L"#32770") {
      std::wstring text;
      forEachChild(hwnd, [&](HWND child) {
        if (CompareStringOrdinal(className(child).c_str(), -1, L"Static", -1, TRUE) == CSTR_EQUAL) {
          std::wstring t = windowText(child);
          if (t.size() > text.size()) text = std::move(t);
        }
        return true;
      });
      messages_.push_back(fromWide(text));
      PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      return;
    }
    if (windowClass == L"VandrelQmvForm" && nameOf(hwnd) == L"InputBox") {
      std::optional<std::u16string> answer;
      {
        std::lock_guard lock(answersLock_);
        if (!answers_.empty()) {
          answer = answers_.front();
          answers_.pop_front();
        }
      }
      HWND box = findControl(hwnd, L"txtAnswer");
      if (answer && box) {
        SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(toWide(*answer).c_str()));
      }
      HWND button = findControl(hwnd, answer ? L"cmdOK" : L"cmdCancel");
      if (button) PostMessageW(button, BM_CLICK, 0, 0);
    }
  }

  // A form that goes keeps what its controls showed last, for checks after it closed.
  void destroying(HWND hwnd) {
    if (className(hwnd) != L"VandrelQmvForm") return;
    const std::wstring form = nameOf(hwnd);
    if (form.empty() || form == L"InputBox") return;
    auto& kept = lastSeen_[form];
    kept.clear();
    forEachChild(hwnd, [&](HWND child) {
      const std::wstring name = nameOf(child);
      if (!name.empty()) kept[name] = readControl(child);
      return true;
    });
  }

  // The edit window of a text box or of a combo box that takes typing; null otherwise.
  static HWND editOf(HWND control) {
    if (className(control) == L"Edit") return control;
    COMBOBOXINFO info{};
    info.cbSize = sizeof(info);
    if (className(control) == L"ComboBox" && GetComboBoxInfo(control, &info)) return info.hwndItem;
    return nullptr;
  }

  static HWND findControl(HWND form, const std::wstring& name) {
    HWND found = nullptr;
    forEachChild(form, [&](HWND child) {
      if (nameOf(child) == name) found = child;
      return found == nullptr;
    });
    return found;
  }

  // A form window of this thread by name (any, or only a shown one); the topmost shown
  // form when `name` is empty: the one that is visible and enabled.
  static HWND findForm(const std::wstring& name, bool shownOnly) {
    HWND found = nullptr;
    forEachThreadWindow([&](HWND hwnd) {
      if (className(hwnd) != L"VandrelQmvForm") return true;
      const bool shown = IsWindowVisible(hwnd) != FALSE;
      if (name.empty()) {
        if (shown && IsWindowEnabled(hwnd)) found = hwnd;
      } else if (nameOf(hwnd) == name && (shown || !shownOnly)) {
        found = hwnd;
      }
      return found == nullptr;
    });
    return found;
  }

  // ---- The user's thread --------------------------------------------------------------

  // Runs `task` on the user-interface thread and waits for it.
  template <class F>
  auto onUi(F&& task) -> decltype(task()) {
    using R = decltype(task());
    std::exception_ptr failure;
    std::optional<std::conditional_t<std::is_void_v<R>, int, R>> value;
    std::function<void()> wrapped = [&] {
      try {
        if constexpr (std::is_void_v<R>) {
          task();
          value = 0;
        } else {
          value = task();
        }
      } catch (...) {
        failure = std::current_exception();
      }
    };
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(tasks_, kRunTask, 0, reinterpret_cast<LPARAM>(&wrapped), SMTO_NORMAL,
                             kTaskTimeoutMs, &ignored)) {
      throw std::runtime_error("the user-interface thread did not answer");
    }
    if (failure) std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<R>) return std::move(*value);
  }

  // Starts `task` on the user-interface thread (a click: it may show a form) and waits
  // until it has ended or a form waits for the user.
  void start(std::function<void()> task) {
    pending_ = true;
    PostMessageW(tasks_, kPostTask, 0,
                 reinterpret_cast<LPARAM>(new std::function<void()>(std::move(task))));
    waitQuiet();
  }

  void waitQuiet() {
    for (int i = 0; i < kQuietTries; ++i) {
      const HWND shown = onUi([] { return findForm(L"", true); });
      if (!pending_) break;
      if (shown) {
        picture(shown);
        return;
      }
      Sleep(5);
    }
    if (pending_) {
      // What the windows of the stuck thread show, for the one reading the failure.
      onUi([] {
        forEachThreadWindow([](HWND h) {
          std::fwprintf(stderr, L"window %ls \"%ls\" name=%ls visible=%d enabled=%d\n",
                        className(h).c_str(), windowText(h).c_str(), nameOf(h).c_str(),
                        IsWindowVisible(h) ? 1 : 0, IsWindowEnabled(h) ? 1 : 0);
          return true;
        });
      });
      throw std::runtime_error("the add-in did not come back");
    }
    if (!taskError_.empty()) throw std::runtime_error(std::exchange(taskError_, {}));
  }

  void picture(HWND form) {
    if (options_.screenshotFolder.empty()) return;
    const std::wstring name = onUi([form] { return nameOf(form); });
    if (name.empty() || pictured_.count(name)) return;
    pictured_.insert({name, true});
    // The first session that shows a form pictures it.
    const std::wstring path = options_.screenshotFolder + L"\\" + name + L".bmp";
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      result_.screenshots.push_back(toUtf8(fromWide(name)));
      return;
    }
    onUi([form] {
      RedrawWindow(form, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
      GdiFlush();
    });
    Sleep(500);  // the form's thread handles the display's events meanwhile
    const bool saved = onUi([&] { return saveWindowPicture(form, path); });
    if (saved) result_.screenshots.push_back(toUtf8(fromWide(name)));
  }

  void userThread() {
    try {
      for (const Command& command : commands_) run(command);
      if (pending_) throw ScriptFailure("the script ended while a form was shown");
    } catch (const std::exception& e) {
      result_.error = e.what();
      // A form may still be shown: close every form so that the thread comes back.
      for (int i = 0; i < 20 && pending_; ++i) {
        onUi([] {
          if (HWND form = findForm(L"", true)) PostMessageW(form, WM_CLOSE, 0, 0);
        });
        Sleep(50);
      }
    }
    PostMessageW(tasks_, kFinish, 0, 0);
  }

  // Text on the clipboard as a user's copy leaves it (CF_UNICODETEXT, owned by `owner`).
  static void putOnClipboard(HWND owner, const std::u16string& text) {
    const SIZE_T bytes = (text.size() + 1) * sizeof(char16_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory) throw ScriptFailure("paste: no memory for the clipboard");
    if (void* to = GlobalLock(memory)) {
      std::memcpy(to, text.c_str(), bytes);
      GlobalUnlock(memory);
    }
    bool opened = false;
    for (int attempt = 0; attempt < 20 && !(opened = OpenClipboard(owner)); ++attempt) Sleep(50);
    if (!opened) {
      GlobalFree(memory);
      throw ScriptFailure("paste: the clipboard cannot be opened");
    }
    EmptyClipboard();
    // The clipboard owns the memory once it takes it.
    if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
    CloseClipboard();
  }

  [[noreturn]] static void unsupported(const Command& command) {
    throw ScriptFailure("line " + std::to_string(command.line) + ": " + command.name +
                        " is not played through COM");
  }

  // The next address the add-in opened: the program the shell starts for it may take a
  // while to write it down.
  void expectBrowsed(const Command& command) {
    if (!browsers_) unsupported(command);
    std::vector<std::u16string> opened = browsers_->addresses();
    for (int i = 0; i < kBrowsedTries && opened.size() <= browsedChecked_; ++i) {
      Sleep(5);
      opened = browsers_->addresses();
    }
    const std::string expected = "browsed " + cli::quoteText(command.text);
    if (browsedChecked_ >= opened.size()) {
      failed(command, expected, "nothing browsed");
      return;
    }
    const std::u16string& address = opened[browsedChecked_++];
    if (address != command.text) failed(command, expected, "browsed " + cli::quoteText(address));
  }

  void failed(const Command& command, const std::string& expected, const std::string& actual) {
    result_.failures.push_back("line " + std::to_string(command.line) + ": expected " + expected +
                               " but was " + actual);
  }

  void run(const Command& command) {
    if (cli::isFormAction(command.op)) {
      formAction(command);
      return;
    }
    if (command.op == Op::ExpectBrowsed) {
      ++result_.checks;
      expectBrowsed(command);
      return;
    }
    if (command.op >= Op::ExpectCell && command.op <= Op::ExpectBrowsed) {
      ++result_.checks;
      onUi([&] { check(command); });
      return;
    }
    switch (command.op) {
      case Op::Answer:
      case Op::AnswerCancel: {
        std::lock_guard lock(answersLock_);
        answers_.push_back(command.op == Op::Answer ? std::optional(command.text) : std::nullopt);
        return;
      }
      case Op::AnswerFile: {
        const std::u16string path = fromWide(sessionPath(command.text));
        onUi([&] { host_->queueFileAnswer(path); });
        return;
      }
      case Op::Print:
        return;
      case Op::StopAt:
        stopAt_ = command.number;
        return;
      default:
        break;
    }
    if (pending_) {
      throw ScriptFailure("line " + std::to_string(command.line) + ": " + command.name +
                          ": a form is still shown");
    }
    if (command.op == Op::Unicode) {
      // The add-in keeps the user's settings in the registry, not in the workbook's host.
      writeUserSetting(toWide(kTextRulesSetting), command.flag ? kTextRulesOn : kTextRulesOff);
      return;
    }
    if (command.op == Op::Set || command.op == Op::Column) {
      onUi([&] { learnFormulaResults(command); });
    }
    if (onUi([&] { return cli::applyHostCommand(*host_, command); })) return;
    switch (command.op) {
      case Op::Connect:
        onUi([&] { connect(); });
        break;
      case Op::Disconnect:
        onUi([&] { disconnect(); });
        break;
      case Op::Click: {
        const std::u16string tag = command.text;
        start([this, tag] {
          CommandBarControlPtr control = host_->findControlByTag(tag);
          if (!control) throw std::runtime_error("no button has the tag " + toUtf8(tag));
          host_->click(*control);
        });
        break;
      }
      case Op::Ribbon: {
        const std::wstring id = toWide(command.text);
        start([this, id] { pressRibbon(id); });
        break;
      }
      case Op::Key: {
        const std::u16string key = command.text;
        start([this, key] { host_->pressKey(key); });
        break;
      }
      case Op::HostUndo:
        start([this] { host_->hostUndo(); });
        break;
      case Op::Load:
      case Op::Save:
        onUi([&] { loadOrSave(command); });
        break;
      default:
        unsupported(command);
    }
  }

  // A CSV file into the active sheet or out of it, as `qmv play` reads and writes it. A
  // workbook file is refused: reading and rewriting one takes the zip, XML and checksum
  // libraries of tools/xlsx, which Debian does not ship for MinGW.
  // A file the script names, from the script's folder unless the name is absolute.
  std::wstring sessionPath(const std::u16string& file) const {
    std::wstring path = toWide(file);
    if (!options_.baseFolder.empty() && path.find(L':') == std::wstring::npos &&
        path.front() != L'\\' && path.front() != L'/') {
      path = options_.baseFolder + L"\\" + path;
    }
    return path;
  }

  void loadOrSave(const Command& command) {
    const std::wstring path = sessionPath(command.text);
    const auto failure = [&](const std::string& why) {
      return ScriptFailure("line " + std::to_string(command.line) + ": " + command.name + ": " +
                           why);
    };
    const std::u16string name = command.text;
    const bool csv = name.size() > 4 && (name.ends_with(u".csv") || name.ends_with(u".CSV"));
    if (!csv) {
      throw failure(
          "only CSV files are loaded and saved through COM (a workbook file needs the zip and "
          "XML libraries of qmv play, which the Windows test build does not have)");
    }
    if (command.op == Op::Save) {
      std::ofstream out(std::filesystem::path(path), std::ios::binary);
      out << cli::sheetCsv(*host_, nullptr, cli::CsvWriteOptions{});
      if (!out.flush()) throw failure("cannot write " + toUtf8(command.text));
      return;
    }
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    if (!in) throw failure("cannot read " + toUtf8(command.text));
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (host_->workbooksCount() == 0) host_->addWorkbook();
    host_->activeSheet()->usedRange()->clear();
    try {
      cli::loadCsv(*host_, text);
    } catch (const cli::CsvLoadError& e) {
      throw failure(e.what());
    }
  }

  void formAction(const Command& command) {
    if (!pending_) {
      throw ScriptFailure("line " + std::to_string(command.line) + ": " + command.name +
                          ": no form is shown");
    }
    const std::wstring controlName = wide(command.control);
    onUi([&] {
      HWND form = findForm(L"", true);
      if (!form) throw ScriptFailure(command.name + ": no form is shown");
      if (command.op == Op::Close) {
        SendMessageW(form, WM_CLOSE, 0, 0);
        return;
      }
      if (command.op == Op::MouseDown && command.control.empty()) {
        pressForm(command, form);
        return;
      }
      HWND control = findControl(form, controlName);
      if (!control) {
        throw ScriptFailure("line " + std::to_string(command.line) + ": the form " +
                            toUtf8(fromWide(nameOf(form))) + " has no control " + command.control);
      }
      switch (command.op) {
        case Op::Press:
        case Op::Toggle:
        case Op::Pick:
          pressing_ = true;
          if (CompareStringOrdinal(className(control).c_str(), -1, L"Button", -1, TRUE) ==
              CSTR_EQUAL) {
            SendMessageW(control, BM_CLICK, 0, 0);
          } else {
            // A label or a picture takes a click of the mouse (BM_CLICK is a button's).
            SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
            SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(1, 1));
          }
          pressing_ = false;
          break;
        case Op::MouseDown:
          SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
          SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(1, 1));
          break;
        case Op::Type:
        case Op::Paste:
        case Op::Clear: {
          HWND edit = editOf(control);
          if (!edit) {
            throw ScriptFailure("line " + std::to_string(command.line) + ": " + command.control +
                                " takes no typing");
          }
          // A box entered from elsewhere has its whole text selected, as after Tab.
          if (GetFocus() != edit) {
            SetFocus(edit);
            SendMessageW(edit, EM_SETSEL, 0, -1);
          }
          if (command.op == Op::Clear) {
            SendMessageW(edit, EM_SETSEL, 0, -1);
            SendMessageW(edit, WM_CLEAR, 0, 0);
            break;
          }
          if (command.op == Op::Paste) {
            // Control+V: the text from the clipboard, past the box's key filter.
            putOnClipboard(form, command.text);
            SendMessageW(edit, WM_PASTE, 0, 0);
            break;
          }
          // The keys one by one, through the box's key filter as the keyboard sends them.
          for (const char16_t unit : command.text) SendMessageW(edit, WM_CHAR, unit, 0);
          break;
        }
        case Op::ChooseIndex:
        case Op::ChooseEntry: {
          const LRESULT index =
              command.op == Op::ChooseIndex
                  ? static_cast<LRESULT>(command.number)
                  : SendMessageW(control, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(toWide(command.text).c_str()));
          if (index < 0 || SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0) < 0) {
            throw ScriptFailure("line " + std::to_string(command.line) + ": no such entry");
          }
          // What the combo box tells its parent when the user picks an entry.
          SendMessageW(GetParent(control), WM_COMMAND,
                       MAKEWPARAM(GetDlgCtrlID(control), CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(control));
          break;
        }
        default:
          unsupported(command);
      }
    });
    waitQuiet();
  }

  // A press on the form itself, off its controls: the handler of a form that moves starts
  // the system's move loop, as a drag by the caption does. The press fails unless that loop
  // ran and ended, or, on a form that does not move, if it ran at all.
  void pressForm(const Command& command, HWND form) {
    RECT client{};
    GetClientRect(form, &client);
    POINT at{client.right - 2, client.bottom - 2};  // a corner no control covers
    const int begun = movesBegun_;
    const int ended = movesEnded_;
    dragged_ = form;
    SendMessageW(form, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
    dragged_ = nullptr;
    const std::wstring name = nameOf(form);
    const char* wrong = nullptr;
    if (kDraggedForms.count(name) == 0) {
      if (movesBegun_ != begun) wrong = " moved, which it does not when pressed";
    } else if (movesBegun_ == begun) {
      wrong = " did not begin to move";
    } else if (movesEnded_ == ended) {
      wrong = " did not come out of its move";
    }
    if (wrong) {
      throw ScriptFailure("line " + std::to_string(command.line) + ": " + command.name +
                          ": the form " + toUtf8(fromWide(name)) + wrong);
    }
  }

  // ---- Connection, on the user-interface thread ---------------------------------------

  void connect() {
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(L"Orvik.Connect", &clsid))) {
      throw std::runtime_error("Orvik.Connect is not registered");
    }
    addin_.reset();
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidDTExtensibility2,
                                addin_.putVoid()))) {
      throw std::runtime_error("Orvik.Connect could not be created");
    }
    SAFEARRAY* custom = nullptr;
    addin_->OnConnection(excel_->application.get(), ext_cm_Startup, excel_->comAddIn.get(),
                         &custom);
  }

  // A click on a Ribbon button as Office makes it: onAction, by the name the XML gives, with
  // an IRibbonControl whose Id is the button's
  // (https://learn.microsoft.com/office/vba/api/office.iribboncontrol).
  void pressRibbon(const std::wstring& id) {
    if (!addin_) throw std::runtime_error("ribbon: the add-in is not connected");
    ComPtr<IDispatch> dispatch = addin_.as<IDispatch>(IID_IDispatch);
    if (!dispatch) throw std::runtime_error("ribbon: the add-in has no IDispatch");
    wchar_t name[] = L"OnRibbonAction";
    LPOLESTR names[] = {name};
    DISPID dispid = DISPID_UNKNOWN;
    if (FAILED(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid))) {
      throw std::runtime_error("ribbon: OnRibbonAction is unknown");
    }
    ComPtr<fake::Object> control = fake::Object::create(L"IRibbonControl");
    control->props[L"Id"] = Variant::fromText(fromWide(id));
    control->props[L"Tag"] = Variant::fromText(fromWide(id));
    Variant argument = Variant::fromDispatch(control.get());
    VARIANT raw = argument.get();
    DISPPARAMS params{&raw, nullptr, 1, 0};
    EXCEPINFO info{};
    UINT argError = 0;
    if (FAILED(dispatch->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                nullptr, &info, &argError))) {
      throw std::runtime_error("ribbon: no Ribbon button has the id " + toUtf8(fromWide(id)));
    }
  }

  void disconnect() {
    if (!addin_) return;
    SAFEARRAY* custom = nullptr;
    addin_->OnDisconnection(ext_dm_HostShutdown, &custom);
    addin_.reset();
  }

  // ---- Checks, on the user-interface thread -------------------------------------------

  void check(const Command& command) {
    if (cli::isHostCheck(command.op)) {
      if (const auto mismatch = cli::checkHost(*host_, command)) {
        failed(command, mismatch->expected, mismatch->actual);
      }
      return;
    }
    switch (command.op) {
      case Op::ExpectCell:
      case Op::ExpectColumn:
        for (std::size_t i = 0; i < command.values.size(); ++i) {
          const CellRef at{command.cell.row + static_cast<int64_t>(i), command.cell.column};
          const CellContent actual = host_->cell(at);
          if (!cli::sameContent(actual, command.values[i])) {
            failed(command, toUtf8(formatAddress(at)) + " " + cli::formatContent(command.values[i]),
                   cli::formatContent(actual));
          }
        }
        return;
      case Op::ExpectFill: {
        const auto actual = host_->fill(command.cell);
        const auto expected = command.none ? std::nullopt : command.colour;
        if (actual != expected) failed(command, "fill", actual ? "a fill" : "none");
        return;
      }
      case Op::ExpectMessage:
        if (messagesChecked_ >= messages_.size()) {
          failed(command, "message " + cli::quoteText(command.text), "no message");
        } else if (messages_[messagesChecked_++] != command.text) {
          failed(command, "message " + cli::quoteText(command.text),
                 "message " + cli::quoteText(messages_[messagesChecked_ - 1]));
        }
        return;
      case Op::ExpectNoMessage:
        if (messagesChecked_ < messages_.size()) {
          failed(command, "no message", "message " + cli::quoteText(messages_[messagesChecked_]));
          messagesChecked_ = messages_.size();
        }
        return;
      case Op::ExpectControl: {
        const std::wstring form = wide(command.form);
        const std::wstring control = wide(command.control);
        std::optional<ControlState> state;
        if (HWND window = findForm(form, false)) {
          if (HWND child = findControl(window, control)) state = readControl(child);
        } else if (auto kept = lastSeen_.find(form); kept != lastSeen_.end()) {
          if (auto c = kept->second.find(control); c != kept->second.end()) state = c->second;
        }
        const std::string what = command.form + "." + command.control + " " + command.property;
        if (!state) {
          failed(command, what, "no such window");
          return;
        }
        const Value actual = propertyOf(*state, command);
        if (!cli::sameValue(actual, command.values.front().value)) {
          failed(command, what + " " + cli::formatValue(command.values.front().value),
                 cli::formatValue(actual));
        }
        return;
      }
      case Op::ExpectPreview: {
        std::optional<ControlState> state;
        if (HWND window = findForm(L"", true)) {
          if (HWND label = findControl(window, L"lblPreview")) state = readControl(label);
        }
        if (!state) {
          failed(command, "preview " + cli::quoteText(command.text), "no form with a preview");
          return;
        }
        if (state->text != command.text) {
          failed(command, "preview " + cli::quoteText(command.text),
                 "preview " + cli::quoteText(state->text));
        }
        return;
      }
      case Op::ExpectForm: {
        const std::wstring form = wide(command.form);
        std::string state = "unloaded";
        if (findForm(form, true)) {
          state = "shown";
        } else if (findForm(form, false)) {
          state = "loaded";
        }
        const bool holds =
            command.property == state || (command.property == "loaded" && state == "shown");
        if (!holds) failed(command, "form " + command.form + " " + command.property, state);
        return;
      }
      default:
        unsupported(command);
    }
  }

  ComSessionOptions options_;
  std::vector<Command> commands_;
  ComSessionResult result_;

  HWND tasks_ = nullptr;
  HHOOK hook_ = nullptr;
  bool finished_ = false;
  std::atomic<bool> pending_{false};
  std::atomic<int64_t> stopAt_{0};  ///< the yield a scheduled stop falls in; 0 for none
  bool pressing_ = false;           ///< a press of the user's is being handled
  HWND dragged_ = nullptr;          ///< the form the user presses on, while it is pressed
  int movesBegun_ = 0;
  int movesEnded_ = 0;
  HHOOK callHook_ = nullptr;
  std::string taskError_;

  std::shared_ptr<memory::MemoryApplication> host_;
  std::unique_ptr<fake::MemoryExcel> excel_;

  // A formula the script writes shows the value written with it in the in-memory host,
  // which calculates nothing; the test Excel calculates that formula to the same value
  // when it is written again (by undo) or calculated, as Excel would.
  void learnFormulaResults(const Command& command) {
    for (const CellContent& content : command.values) {
      if (content.isFormula()) excel_->formulaResults[content.formula] = content.value;
    }
  }
  ComPtr<IDTExtensibility2> addin_;

  std::vector<std::u16string> messages_;
  std::size_t messagesChecked_ = 0;
  std::mutex answersLock_;
  std::deque<std::optional<std::u16string>> answers_;
  std::map<std::wstring, std::map<std::wstring, ControlState>> lastSeen_;
  std::map<std::wstring, bool> pictured_;
  std::optional<BrowserRecord> browsers_;
  std::size_t browsedChecked_ = 0;
};

}  // namespace

bool saveWindowPicture(void* window, const std::wstring& path) {
  RECT rect{};
  if (!GetWindowRect(static_cast<HWND>(window), &rect)) return false;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER info{};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = height;  // bottom-up rows, as BMP files keep them
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD stride = static_cast<DWORD>((width * 3 + 3) & ~3);
  std::vector<BYTE> pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
            reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(out, &file, sizeof(file), &written, nullptr) &&
            WriteFile(out, &info, sizeof(info), &written, nullptr) &&
            WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
  CloseHandle(out);
  return ok;
}

bool recordBrowsedAddress() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return false;
  const bool recording = argc == 4 && std::wstring_view(argv[1]) == kRecordBrowsedArgument;
  if (recording) {
    const std::string line = toUtf8(fromWide(argv[3])) + "\n";
    // Another recording program may hold the file for a moment.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
      file = CreateFileW(argv[2], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) Sleep(20);
    }
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(file);
    }
  }
  LocalFree(argv);
  return recording;
}

ComSessionResult playThroughCom(std::string_view script, const ComSessionOptions& options) {
  std::vector<Command> commands;
  try {
    commands = cli::parseScript(script);
  } catch (const cli::ScriptError& e) {
    ComSessionResult result;
    result.error = e.what();
    return result;
  }
  ComSession session(options);
  return session.play(std::move(commands));
}

}  // namespace qmv::windows::test
