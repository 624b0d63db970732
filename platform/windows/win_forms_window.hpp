// The parts of the forms toolkit (win_forms*.cpp) share these: the window of a form with
// what it owns, and the helpers for names, DPI and fonts. Not for use outside them.
#pragma once

#include <windows.h>
// (after windows.h, which it needs)
#include <commctrl.h>

#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/windows/com_support.hpp"
#include "platform/windows/gdi_handles.hpp"
#include "platform/windows/unique_handle.hpp"
#include "platform/windows/win_forms.hpp"

namespace qmv::windows::win_forms_detail {

inline constexpr wchar_t kFormClass[] = L"VandrelQmvForm";
inline constexpr wchar_t kContainerClass[] = L"VandrelQmvContainer";
inline constexpr int kFirstControlId = 100;
inline constexpr UINT kWmDpiChanged = 0x02E0;

/// The module the toolkit's code is in (the DLL, or a test program linking it).
HINSTANCE moduleInstance();

inline COLORREF colorRef(uint32_t rgb) {
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

std::wstring windowText(HWND hwnd);

struct DestroyWindowClose {
  void operator()(HWND window) const noexcept { DestroyWindow(window); }
};
struct DeleteLocalAtom {
  void operator()(ATOM atom) const noexcept { DeleteAtom(atom); }
};
struct UnregisterModuleClass {
  void operator()(ATOM atom) const noexcept {
    UnregisterClassW(MAKEINTATOM(atom), moduleInstance());
  }
};
/// A window the toolkit made (its children go with it).
using UniqueWindow = UniqueHandle<HWND, DestroyWindowClose>;
/// A local atom (AddAtomW).
using UniqueAtom = UniqueHandle<ATOM, DeleteLocalAtom>;
/// A window class this module registered (RegisterClassExW's atom).
using UniqueWindowClass = UniqueHandle<ATOM, UnregisterModuleClass>;

/// Gives a window its name (see kWindowNameProperty) as a local atom, and reads it back;
/// the atom is the window's to delete once it is gone.
void nameWindow(HWND hwnd, const std::string& name);
ATOM nameAtom(HWND hwnd);

inline bool isContainerKind(ControlKind kind) {
  return kind == ControlKind::Frame || kind == ControlKind::Image;
}

// Shapes and lines have no window: their container draws them on its background, under
// every control, as lightweight controls are drawn.
inline bool isWindowless(ControlKind kind) {
  return kind == ControlKind::Shape || kind == ControlKind::Line;
}

inline bool showsText(ControlKind kind) {
  return kind == ControlKind::Label || kind == ControlKind::CheckBox ||
         kind == ControlKind::OptionButton || kind == ControlKind::CommandButton ||
         kind == ControlKind::ComboBox;
}

/// The rectangle of a child window in its parent's client coordinates.
RECT rectInParent(HWND hwnd);

// ---- DPI (win_forms_layout.cpp) ----------------------------------------------------------

/// While alive, windows the thread creates are per-monitor DPI aware: Windows sends them
/// WM_DPICHANGED instead of stretching their bitmaps, whatever the host process's own
/// awareness (mixed-mode DPI). Where Windows has no per-monitor DPI it does nothing.
class PerMonitorDpiScope {
 public:
  PerMonitorDpiScope();
  PerMonitorDpiScope(const PerMonitorDpiScope&) = delete;
  PerMonitorDpiScope& operator=(const PerMonitorDpiScope&) = delete;
  ~PerMonitorDpiScope();

 private:
  HANDLE previous_ = nullptr;
};

/// The thread's DPI awareness context now; null where Windows has none.
HANDLE threadDpiContext();

/// While alive, the thread runs in `context` (none: unchanged), and goes back to the
/// context it had after.
class ThreadDpiScope {
 public:
  explicit ThreadDpiScope(HANDLE context);
  ThreadDpiScope(const ThreadDpiScope&) = delete;
  ThreadDpiScope& operator=(const ThreadDpiScope&) = delete;
  ~ThreadDpiScope();

 private:
  HANDLE previous_ = nullptr;
};

/// The DPI a window is shown at, or `fallback` where Windows cannot tell.
int dpiOfWindow(HWND hwnd, int fallback);

/// Grows a client rectangle to the window rectangle of `style` for a window shown at `dpi`
/// (GetDpiForWindow's): the frame's metrics of that DPI where Windows has them
/// (AdjustWindowRectExForDpi), else the system's.
void adjustWindowRect(RECT& rect, DWORD style, DWORD exStyle, int dpi);

int pointsToPixels(float points, int dpi);

/// The em height of a font of `points` at `dpi` (LOGFONT's lfHeight is -points * dpi / 72).
int fontPixels(float points, int dpi);

/// Whether a typeface of that name is installed.
bool faceInstalled(const std::wstring& face);

// ---- Painting (win_forms_paint.cpp) ------------------------------------------------------

using FormWindow = Win32FormsToolkit::FormWindow;

/// Draws the shapes and lines whose container is `parent` (empty: the form itself).
void paintDecorations(FormWindow& fw, HDC dc, const std::string& parent);
/// Paints a frame or image window: its face, its caption on an etched edge, or the logo.
void paintContainer(FormWindow& fw, HWND hwnd);
/// Draws an owner-drawn command button (one with a colour of its own).
bool drawButton(FormWindow& fw, const DRAWITEMSTRUCT& item);

}  // namespace qmv::windows::win_forms_detail

namespace qmv::windows {

struct Win32FormsToolkit::FormWindow {
  Win32FormsToolkit* toolkit = nullptr;
  Form* form = nullptr;
  win_forms_detail::UniqueWindow window;
  HWND owner = nullptr;
  /// The thread's DPI awareness context when the window was made: the host's, in which
  /// the form's handlers run.
  HANDLE hostDpiContext = nullptr;
  /// The thread's windows the modal form disabled, to enable again when it ends.
  std::vector<HWND> disabled;
  HWND tooltip = nullptr;
  bool modal = false;
  bool done = false;
  std::exception_ptr failure;
  std::map<const Control*, HWND> controls;
  std::map<HWND, Control*> byWindow;
  std::map<int, Control*> byId;
  /// The DPI the form is laid out for: its monitor's, updated on WM_DPICHANGED.
  int dpi = 96;
  std::map<std::pair<std::u16string, int>, UniqueFont> fonts;
  std::map<uint32_t, UniqueBrush> brushes;

  HWND hwnd() const { return window.get(); }
  int pixels(float points) const { return win_forms_detail::pointsToPixels(points, dpi); }
  HBRUSH brush(uint32_t rgb) {
    auto& b = brushes[rgb];
    if (!b) b.reset(CreateSolidBrush(win_forms_detail::colorRef(rgb)));
    return b.get();
  }
  /// The font of `points` at the form's DPI, made once and kept while the form lives.
  HFONT font(const std::u16string& name, float points) {
    const int height = -win_forms_detail::fontPixels(points, dpi);
    auto& f = fonts[{name, height}];
    if (!f) {
      std::wstring face = toWide(name);
      if (!win_forms_detail::faceInstalled(face)) face = kFallbackFace;
      f.reset(CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, face.c_str()));
    }
    return f.get();
  }
  // The background of a container window: its own colour, else the form's; none for the
  // system's dialog colour.
  std::optional<uint32_t> faceOf(const Control* control) const {
    if (control && control->backColor) return control->backColor;
    return form->backColor;
  }
  Control* controlOf(HWND child) {
    auto it = byWindow.find(child);
    return it == byWindow.end() ? nullptr : it->second;
  }
  // Runs an event handler of the form; a failure ends the form and is rethrown by showModal.
  // The handler runs in the host's DPI context, not the window's that Windows gives the
  // thread while it dispatches to the window: it calls Excel, which expects its own.
  template <class Handler>
  void run(Handler&& handler) {
    const win_forms_detail::ThreadDpiScope host(hostDpiContext);
    try {
      handler();
    } catch (...) {
      if (!failure) failure = std::current_exception();
      if (form && form->loaded()) toolkit->unload(*form);
    }
  }
};

}  // namespace qmv::windows
