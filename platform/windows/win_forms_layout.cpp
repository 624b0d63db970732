// Layout and DPI: the form's size and its controls' places at the DPI of its monitor, laid
// out again when that changes; a caption that does not fit its control grows it.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "platform/windows/win_forms_window.hpp"

namespace qmv::windows {

namespace {

// Per-monitor DPI (Windows 10 1607 and later; Wine has them too). The functions are looked
// up at run time so that the DLL still loads where they are missing; there the forms use
// the system DPI and the system's frame metrics, as before.
using SetThreadDpiAwarenessContextFn = HANDLE(WINAPI*)(HANDLE);
using GetThreadDpiAwarenessContextFn = HANDLE(WINAPI*)();
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
template <class F>
F user32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                : nullptr;
}
SetThreadDpiAwarenessContextFn setThreadDpiContext() {
  static const auto set =
      user32Function<SetThreadDpiAwarenessContextFn>("SetThreadDpiAwarenessContext");
  return set;
}
// DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, and _PER_MONITOR_AWARE where Windows has no
// V2 (before Windows 10 1703) or Wine: both are told of DPI changes by WM_DPICHANGED, and
// the layout scales the whole form itself.
const HANDLE kPerMonitorAwareV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
const HANDLE kPerMonitorAware = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3));

int CALLBACK noteFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

// What a control draws beside its text, in pixels at `dpi`: the check box or radio circle
// and its gap, a button's edge, a combo box's border and drop-down arrow.
int textChrome(ControlKind kind, int dpi) {
  switch (kind) {
    case ControlKind::CheckBox:
    case ControlKind::OptionButton:
      return MulDiv(13 + 4, dpi, 96);
    case ControlKind::CommandButton:
      return MulDiv(2 * 3, dpi, 96);
    case ControlKind::ComboBox:
      return MulDiv(GetSystemMetrics(SM_CXVSCROLL) + 2 * 5, dpi, 96);
    default:
      return 0;
  }
}

}  // namespace

namespace win_forms_detail {

PerMonitorDpiScope::PerMonitorDpiScope() {
  if (const auto set = setThreadDpiContext()) {
    previous_ = set(kPerMonitorAwareV2);
    if (!previous_) previous_ = set(kPerMonitorAware);
  }
}

PerMonitorDpiScope::~PerMonitorDpiScope() {
  if (const auto set = setThreadDpiContext(); set && previous_) set(previous_);
}

HANDLE threadDpiContext() {
  static const auto get =
      user32Function<GetThreadDpiAwarenessContextFn>("GetThreadDpiAwarenessContext");
  return get ? get() : nullptr;
}

ThreadDpiScope::ThreadDpiScope(HANDLE context) {
  if (const auto set = setThreadDpiContext(); set && context) previous_ = set(context);
}

ThreadDpiScope::~ThreadDpiScope() {
  if (const auto set = setThreadDpiContext(); set && previous_) set(previous_);
}

int dpiOfWindow(HWND hwnd, int fallback) {
  static const auto get = user32Function<GetDpiForWindowFn>("GetDpiForWindow");
  const UINT dpi = get && hwnd ? get(hwnd) : 0;
  return dpi ? static_cast<int>(dpi) : fallback;
}

// A per-monitor aware window's frame is thicker at a higher DPI: its client area is the
// form's size only with the frame's metrics of the window's own DPI (GetDpiForWindow),
// which AdjustWindowRectEx (the system DPI's) does not give.
void adjustWindowRect(RECT& rect, DWORD style, DWORD exStyle, int dpi) {
  static const auto forDpi = user32Function<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
  if (forDpi && forDpi(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi))) return;
  AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

int pointsToPixels(float points, int dpi) {
  return static_cast<int>(std::lround(points * static_cast<float>(dpi) / 72.0f));
}

// A half pixel rounds down: the forms' 8.25 pt is 16.5 px at 150 %, and a 17 px font would
// grow its text faster than the geometry around it.
int fontPixels(float points, int dpi) {
  return static_cast<int>(std::ceil(points * static_cast<float>(dpi) / 72.0f - 0.5f));
}

// Whether a typeface of that name is installed. Where it is not, Windows (and Wine) map
// the name to some other face, often a far wider one, and the design's captions no longer
// fit; the forms then use their own Tahoma instead.
bool faceInstalled(const std::wstring& face) {
  LOGFONTW query{};
  query.lfCharSet = DEFAULT_CHARSET;
  face.copy(query.lfFaceName, LF_FACESIZE - 1);
  bool found = false;
  const WindowDc screen(nullptr);
  if (!screen) return true;
  EnumFontFamiliesExW(screen.get(), &query, &noteFace, reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

}  // namespace win_forms_detail

using namespace win_forms_detail;

int Win32FormsToolkit::pixels(float points) const { return pointsToPixels(points, dpi_); }

int Win32FormsToolkit::formDpi(const Form& form) const {
  auto it = windows_.find(const_cast<Form*>(&form));
  return it == windows_.end() ? dpi_ : it->second->dpi;
}

void Win32FormsToolkit::changeDpi(Form& form, int dpi) {
  auto it = windows_.find(&form);
  if (it == windows_.end() || !it->second->hwnd()) return;
  FormWindow& fw = *it->second;
  RECT rc{};
  GetWindowRect(fw.hwnd(), &rc);
  rc.right = rc.left + MulDiv(rc.right - rc.left, dpi, fw.dpi);
  rc.bottom = rc.top + MulDiv(rc.bottom - rc.top, dpi, fw.dpi);
  SendMessageW(fw.hwnd(), kWmDpiChanged, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&rc));
}

// Sizes the form and places and sizes every control for the form's DPI, with fonts of
// that DPI: on creation and whenever the form moves to a monitor of another DPI.
void Win32FormsToolkit::layout(FormWindow& fw) {
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(fw.hwnd(), GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(fw.hwnd(), GWL_EXSTYLE));
  RECT frame{0, 0, fw.pixels(fw.form->geometry.width), fw.pixels(fw.form->geometry.height)};
  adjustWindowRect(frame, style, exStyle, dpiOfWindow(fw.hwnd(), fw.dpi));
  SetWindowPos(fw.hwnd(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  for (const auto& [control, hwnd] : fw.controls) {
    const Geometry& g = control->geometry;
    int height = fw.pixels(g.height);
    if (control->kind() == ControlKind::ComboBox) height += fw.pixels(120);  // room for the list
    SetWindowPos(hwnd, nullptr, fw.pixels(g.left), fw.pixels(g.top),
                 std::max(fw.pixels(g.width), 1), std::max(height, 1),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(hwnd, WM_SETFONT,
                 reinterpret_cast<WPARAM>(fw.font(control->fontName, control->fontSize)), TRUE);
  }
  for (const auto& control : fw.form->controls()) {
    const auto it = fw.controls.find(control.get());
    if (it != fw.controls.end() && control->kind() == ControlKind::Frame) {
      clearCaption(fw, *control, it->second);
    }
  }
  for (const auto& [control, hwnd] : fw.controls) fitText(fw, *control, hwnd);
  InvalidateRect(fw.hwnd(), nullptr, TRUE);
}

// A frame draws its caption across its top edge; a control placed near that edge would
// cover the caption's lower half (at 150 % a Tahoma line is 20 px, the frame's first row
// of controls 11 px down). Its controls move down below the caption and the frame grows
// by as much.
void Win32FormsToolkit::clearCaption(FormWindow& fw, const Control& frame, HWND hwnd) {
  if (frame.caption().empty()) return;
  std::vector<HWND> children;
  int top = std::numeric_limits<int>::max();
  for (const auto& [control, child] : fw.controls) {
    if (GetParent(child) != hwnd) continue;
    children.push_back(child);
    top = std::min(top, static_cast<int>(rectInParent(child).top));
  }
  int captionHeight = 0;
  if (const WindowDc dc(hwnd); dc) {
    const SelectionRestorer withFont(dc.get(), fw.font(frame.fontName, frame.fontSize));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc.get(), &metrics);
    captionHeight = static_cast<int>(metrics.tmHeight);
  }
  const int dy = captionHeight - top;
  if (children.empty() || dy <= 0) return;
  for (const HWND child : children) {
    const RECT r = rectInParent(child);
    SetWindowPos(child, nullptr, r.left, r.top + dy, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  growDown(fw, hwnd, dy);
}

void Win32FormsToolkit::growDown(FormWindow& fw, HWND container, int dy) {
  RECT r{};
  GetWindowRect(container, &r);
  SetWindowPos(container, nullptr, 0, 0, r.right - r.left, r.bottom - r.top + dy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  if (container == fw.hwnd()) return;
  const HWND parent = GetParent(container);
  const int bottom = static_cast<int>(rectInParent(container).bottom) - dy;
  for (const auto& [control, sibling] : fw.controls) {
    if (sibling == container || GetParent(sibling) != parent) continue;
    const RECT s = rectInParent(sibling);
    if (s.top >= bottom) {
      SetWindowPos(sibling, nullptr, s.left, s.top + dy, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  growDown(fw, parent, dy);
}

// Font metrics differ between systems and do not scale exactly with the DPI, so a caption
// measured for one may not fit its control on another. Such a control grows to the right
// into the free room of its container (never over a control beside it), as AutoSize
// would; a combo box's list is made wide enough for its longest entry.
void Win32FormsToolkit::fitText(FormWindow& fw, const Control& control, HWND hwnd) {
  // A hidden control may share its place with another that is shown instead of it.
  if (!showsText(control.kind()) || !control.visible()) return;
  std::vector<std::u16string> texts;
  if (control.kind() == ControlKind::ComboBox) {
    texts = control.list();
  } else if (!control.caption().empty()) {
    texts.push_back(control.caption());
  }
  if (texts.empty()) return;
  int need = 0;
  {
    const WindowDc dc(hwnd);
    if (!dc) return;
    const SelectionRestorer withFont(dc.get(), fw.font(control.fontName, control.fontSize));
    for (const std::u16string& text : texts) {
      const std::wstring wide = toWide(text);
      RECT extent{0, 0, 0, 0};
      DrawTextW(dc.get(), wide.c_str(), -1, &extent, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
      need = std::max(need, static_cast<int>(extent.right));
    }
  }
  need += textChrome(control.kind(), fw.dpi);
  if (control.kind() == ControlKind::ComboBox) {
    SendMessageW(hwnd, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(need), 0);
  }
  RECT r = rectInParent(hwnd);
  const HWND parent = GetParent(hwnd);
  RECT room{};
  GetClientRect(parent, &room);
  const int margin = fw.pixels(1.5f);
  // The siblings that stand on `row` and start right of its left edge: labels lie under
  // the controls they overlap, so any such sibling that is not a label hides what lies
  // under it, and is a wall to the text.
  const auto wallsOf = [&](HWND self, const RECT& row) {
    std::vector<HWND> walls;
    for (const auto& [other, sibling] : fw.controls) {
      if (sibling == self || GetParent(sibling) != parent || other->kind() == ControlKind::Label ||
          !other->visible()) {
        continue;
      }
      const RECT w = rectInParent(sibling);
      if (w.left > row.left && w.top < row.bottom && w.bottom > row.top) walls.push_back(sibling);
    }
    return walls;
  };
  // How far right the text may reach: the container's edge or the nearest wall.
  const auto reach = [&](HWND self, const RECT& row) {
    int limit = static_cast<int>(room.right) - margin;
    for (const HWND wall : wallsOf(self, row)) {
      limit = std::min(limit, static_cast<int>(rectInParent(wall).left) - margin);
    }
    return limit;
  };
  // A centred caption grows on both sides, into free room.
  if (control.textAlign == TextAlign::Center && control.kind() == ControlKind::Label &&
      need > r.right - r.left) {
    const int grow = std::min(need - static_cast<int>(r.right - r.left),
                              2 * std::min(static_cast<int>(r.left) - margin,
                                           static_cast<int>(room.right - r.right) - margin));
    if (grow > 0) {
      r.left -= grow / 2;
      r.right += grow - grow / 2;
    }
  }
  if (need <= std::min(static_cast<int>(r.right), reach(hwnd, r)) - static_cast<int>(r.left)) {
    return;
  }
  // A wall with free room on its own right moves over, as far as the text needs.
  const int wanted = static_cast<int>(r.left) + need + margin;
  for (const HWND wall : wallsOf(hwnd, r)) {
    const RECT w = rectInParent(wall);
    const int shift =
        std::min(wanted - static_cast<int>(w.left), reach(wall, w) - static_cast<int>(w.right));
    if (shift > 0) {
      SetWindowPos(wall, nullptr, w.left + shift, w.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  const int width = std::max(static_cast<int>(r.right - r.left),
                             std::min(need, reach(hwnd, r) - static_cast<int>(r.left)));
  SetWindowPos(hwnd, nullptr, r.left, r.top, width, r.bottom - r.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace qmv::windows
