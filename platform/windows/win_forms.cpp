#include "platform/windows/win_forms.hpp"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/windows/com_support.hpp"
#include "platform/windows/gdi_handles.hpp"

namespace qmv::windows {

namespace {

constexpr wchar_t kFormClass[] = L"VandrelQmvForm";
constexpr wchar_t kContainerClass[] = L"VandrelQmvContainer";
constexpr int kFirstControlId = 100;
int gClassUsers = 0;

HINSTANCE moduleInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&moduleInstance), &module);
  return module;
}

COLORREF colorRef(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

std::wstring windowText(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

// Gives a window its name (see kWindowNameProperty).
void nameWindow(HWND hwnd, const std::string& name) {
  const ATOM atom = AddAtomW(toWide(std::u16string(name.begin(), name.end())).c_str());
  if (atom)
    SetPropW(hwnd, kWindowNameProperty, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(atom)));
}

// Takes the name away again once the window is gone.
void releaseName(ATOM atom) {
  if (atom) DeleteAtom(atom);
}

ATOM nameAtom(HWND hwnd) {
  return static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(GetPropW(hwnd, kWindowNameProperty)));
}

bool isContainerKind(ControlKind kind) {
  return kind == ControlKind::Frame || kind == ControlKind::Image;
}

/// Whether `upper` comes before `lower` among their siblings, that is lies over it.
bool liesOver(HWND upper, HWND lower) {
  for (HWND w = GetWindow(upper, GW_HWNDNEXT); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
    if (w == lower) return true;
  }
  return false;
}

/// Places `upper` just over `lower`, moving nothing else.
void placeJustOver(HWND upper, HWND lower) {
  const HWND above = GetWindow(lower, GW_HWNDPREV);
  SetWindowPos(upper, above != nullptr ? above : HWND_TOP, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// Shapes and lines have no window: their container draws them on its background, under
// every control, as lightweight controls are drawn.
bool isWindowless(ControlKind kind) {
  return kind == ControlKind::Shape || kind == ControlKind::Line;
}

// Per-monitor DPI (Windows 10 1607 and later; Wine has them too). The functions are looked
// up at run time so that the DLL still loads where they are missing; there the forms use
// the system DPI, as before.
using SetThreadDpiAwarenessContextFn = HANDLE(WINAPI*)(HANDLE);
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
template <class F>
F user32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                : nullptr;
}
// DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2.
const HANDLE kPerMonitorAwareV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
constexpr UINT kWmDpiChanged = 0x02E0;

// While alive, windows the thread creates are per-monitor DPI aware: Windows sends them
// WM_DPICHANGED instead of stretching their bitmaps, whatever the host process's own
// awareness (mixed-mode DPI).
class PerMonitorDpiScope {
 public:
  PerMonitorDpiScope() {
    if (set_) previous_ = set_(kPerMonitorAwareV2);
  }
  PerMonitorDpiScope(const PerMonitorDpiScope&) = delete;
  PerMonitorDpiScope& operator=(const PerMonitorDpiScope&) = delete;
  ~PerMonitorDpiScope() {
    if (set_ && previous_) set_(previous_);
  }

 private:
  SetThreadDpiAwarenessContextFn set_ =
      user32Function<SetThreadDpiAwarenessContextFn>("SetThreadDpiAwarenessContext");
  HANDLE previous_ = nullptr;
};

// The DPI a window is shown at, or `fallback` where Windows cannot tell.
int dpiOfWindow(HWND hwnd, int fallback) {
  static const auto get = user32Function<GetDpiForWindowFn>("GetDpiForWindow");
  const UINT dpi = get && hwnd ? get(hwnd) : 0;
  return dpi ? static_cast<int>(dpi) : fallback;
}

int pointsToPixels(float points, int dpi) {
  return static_cast<int>(std::lround(points * static_cast<float>(dpi) / 72.0f));
}

// The em height of a font of `points` at `dpi` (LOGFONT's lfHeight is -points * dpi / 72).
// A half pixel rounds down: the forms' 8.25 pt is 16.5 px at 150 %, and a 17 px font would
// grow its text faster than the geometry around it.
int fontPixels(float points, int dpi) {
  return static_cast<int>(std::ceil(points * static_cast<float>(dpi) / 72.0f - 0.5f));
}

int CALLBACK noteFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
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

bool showsText(ControlKind kind) {
  return kind == ControlKind::Label || kind == ControlKind::CheckBox ||
         kind == ControlKind::OptionButton || kind == ControlKind::CommandButton ||
         kind == ControlKind::ComboBox;
}

// The rectangle of a child window in its parent's client coordinates.
RECT rectInParent(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

}  // namespace

struct Win32FormsToolkit::FormWindow {
  Win32FormsToolkit* toolkit = nullptr;
  Form* form = nullptr;
  HWND hwnd = nullptr;
  HWND owner = nullptr;
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

  int pixels(float points) const { return pointsToPixels(points, dpi); }
  HBRUSH brush(uint32_t rgb) {
    auto& b = brushes[rgb];
    if (!b) b.reset(CreateSolidBrush(colorRef(rgb)));
    return b.get();
  }
  /// The font of `points` at the form's DPI, made once and kept while the form lives.
  HFONT font(const std::u16string& name, float points) {
    const int height = -fontPixels(points, dpi);
    auto& f = fonts[{name, height}];
    if (!f) {
      std::wstring face = toWide(name);
      if (!faceInstalled(face)) face = kFallbackFace;
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
  template <class Handler>
  void run(Handler&& handler) {
    try {
      handler();
    } catch (...) {
      if (!failure) failure = std::current_exception();
      if (form && form->loaded()) toolkit->unload(*form);
    }
  }
};

Win32FormsToolkit::Win32FormsToolkit() {
  INITCOMMONCONTROLSEX init{sizeof(init),
                            ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&init);
  if (gClassUsers++ == 0) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.hInstance = moduleInstance();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpfnWndProc = &Win32FormsToolkit::formProc;
    wc.lpszClassName = kFormClass;
    wc.style = CS_DBLCLKS;
    RegisterClassExW(&wc);
    wc.lpfnWndProc = &Win32FormsToolkit::containerProc;
    wc.lpszClassName = kContainerClass;
    RegisterClassExW(&wc);
  }
  const WindowDc screen(nullptr);
  if (screen) dpi_ = GetDeviceCaps(screen.get(), LOGPIXELSY);
}

Win32FormsToolkit::~Win32FormsToolkit() {
  while (!windows_.empty()) destroyWindow(*windows_.begin()->first);
  if (--gClassUsers == 0) {
    UnregisterClassW(kFormClass, moduleInstance());
    UnregisterClassW(kContainerClass, moduleInstance());
  }
}

int Win32FormsToolkit::pixels(float points) const { return pointsToPixels(points, dpi_); }

int Win32FormsToolkit::formDpi(const Form& form) const {
  auto it = windows_.find(const_cast<Form*>(&form));
  return it == windows_.end() ? dpi_ : it->second->dpi;
}

void Win32FormsToolkit::changeDpi(Form& form, int dpi) {
  auto it = windows_.find(&form);
  if (it == windows_.end() || !it->second->hwnd) return;
  FormWindow& fw = *it->second;
  RECT rc{};
  GetWindowRect(fw.hwnd, &rc);
  rc.right = rc.left + MulDiv(rc.right - rc.left, dpi, fw.dpi);
  rc.bottom = rc.top + MulDiv(rc.bottom - rc.top, dpi, fw.dpi);
  SendMessageW(fw.hwnd, kWmDpiChanged, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&rc));
}

// Sizes the form and places and sizes every control for the form's DPI, with fonts of
// that DPI: on creation and whenever the form moves to a monitor of another DPI.
void Win32FormsToolkit::layout(FormWindow& fw) {
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(fw.hwnd, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(fw.hwnd, GWL_EXSTYLE));
  RECT frame{0, 0, fw.pixels(fw.form->geometry.width), fw.pixels(fw.form->geometry.height)};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  SetWindowPos(fw.hwnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
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
  InvalidateRect(fw.hwnd, nullptr, TRUE);
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
  if (container == fw.hwnd) return;
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

HWND Win32FormsToolkit::controlWindow(const Control& control) const {
  auto it = windows_.find(&control.form());
  if (it == windows_.end()) return nullptr;
  auto c = it->second->controls.find(&control);
  return c == it->second->controls.end() ? nullptr : c->second;
}

Win32FormsToolkit::FormWindow& Win32FormsToolkit::ensureWindow(Form& form) {
  auto it = windows_.find(&form);
  if (it != windows_.end() && it->second->hwnd) return *it->second;
  auto fw = std::make_unique<FormWindow>();
  fw->toolkit = this;
  fw->form = &form;
  FormWindow& ref = *fw;
  windows_[&form] = std::move(fw);

  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  ref.dpi = dpi_;
  RECT rect{0, 0, ref.pixels(form.geometry.width), ref.pixels(form.geometry.height)};
  AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  const PerMonitorDpiScope perMonitor;
  ref.hwnd = CreateWindowExW(exStyle, kFormClass, toWide(form.caption()).c_str(), style,
                             CW_USEDEFAULT, CW_USEDEFAULT, rect.right - rect.left,
                             rect.bottom - rect.top, nullptr, nullptr, moduleInstance(), &ref);
  if (!ref.hwnd) {
    windows_.erase(&form);
    throw std::runtime_error("The form's window could not be created");
  }
  nameWindow(ref.hwnd, form.name());
  ref.tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                ref.hwnd, nullptr, moduleInstance(), nullptr);
  // Containers first, so that their children find them.
  for (const auto& control : form.controls()) {
    if (isContainerKind(control->kind())) createControl(ref, *control);
  }
  stackContainers(ref);
  for (const auto& control : form.controls()) {
    if (!isContainerKind(control->kind()) && !isWindowless(control->kind())) {
      createControl(ref, *control);
    }
  }
  // Labels are backdrops and captions: under the controls they overlap.
  for (const auto& control : form.controls()) {
    if (control->kind() != ControlKind::Label) continue;
    auto label = ref.controls.find(control.get());
    if (label != ref.controls.end()) {
      SetWindowPos(label->second, HWND_BOTTOM, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  }
  // Laid out for the DPI of the monitor it is on, which may differ from the system's.
  ref.dpi = dpiOfWindow(ref.hwnd, dpi_);
  layout(ref);
  form.setObserver(this);
  return ref;
}

void Win32FormsToolkit::stackContainers(FormWindow& fw) {
  // A form draws a container declared later over an earlier one it overlaps (a group of
  // inputs over the strip behind it), whereas Windows puts the first-created sibling on
  // top. Only overlapping pairs move, so the tab order stays the order of declaration.
  std::vector<HWND> earlier;
  for (const auto& control : fw.form->controls()) {
    if (!isContainerKind(control->kind())) continue;
    const auto it = fw.controls.find(control.get());
    if (it == fw.controls.end()) continue;
    const HWND upper = it->second;
    RECT upperRect{};
    GetWindowRect(upper, &upperRect);
    for (const HWND lower : earlier) {
      RECT lowerRect{};
      RECT overlap{};
      GetWindowRect(lower, &lowerRect);
      if (GetParent(lower) == GetParent(upper) && IntersectRect(&overlap, &upperRect, &lowerRect) &&
          !liesOver(upper, lower)) {
        placeJustOver(upper, lower);
      }
    }
    earlier.push_back(upper);
  }
}

void Win32FormsToolkit::createControl(FormWindow& fw, Control& control) {
  HWND parent = fw.hwnd;
  if (!control.parent().empty()) {
    if (Control* container = fw.form->find(control.parent())) {
      auto it = fw.controls.find(container);
      if (it != fw.controls.end()) parent = it->second;
    }
  }
  const int id = kFirstControlId + static_cast<int>(fw.byId.size());
  const wchar_t* windowClass = L"STATIC";
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD exStyle = 0;
  std::wstring text;
  switch (control.kind()) {
    case ControlKind::Label:
      style |= (control.textAlign == TextAlign::Center ? SS_CENTER
                : control.wordWrap                     ? SS_LEFT
                                                       : SS_LEFTNOWORDWRAP) |
               SS_NOPREFIX;
      if (control.onClick) style |= SS_NOTIFY;  // a clickable label reports its clicks
      text = toWide(control.caption());
      break;
    case ControlKind::TextBox:
      windowClass = L"EDIT";
      style |= WS_TABSTOP | ES_AUTOHSCROLL | WS_BORDER;
      text = toWide(control.text());
      break;
    case ControlKind::ComboBox:
      windowClass = L"COMBOBOX";
      style |= WS_TABSTOP | WS_VSCROLL |
               (control.comboStyle == ComboStyle::DropDownList ? CBS_DROPDOWNLIST : CBS_DROPDOWN) |
               CBS_AUTOHSCROLL;
      break;
    case ControlKind::CheckBox:
      windowClass = L"BUTTON";
      style |= WS_TABSTOP | BS_CHECKBOX;
      text = toWide(control.caption());
      break;
    case ControlKind::OptionButton:
      windowClass = L"BUTTON";
      style |= WS_TABSTOP | BS_RADIOBUTTON;
      text = toWide(control.caption());
      break;
    case ControlKind::CommandButton:
      windowClass = L"BUTTON";
      style |= WS_TABSTOP | (control.backColor ? BS_OWNERDRAW : BS_PUSHBUTTON);
      text = toWide(control.caption());
      break;
    case ControlKind::ProgressBar:
      windowClass = PROGRESS_CLASSW;
      break;
    case ControlKind::Frame:
    case ControlKind::Image:
      windowClass = kContainerClass;
      style |= WS_CLIPCHILDREN;
      exStyle |= WS_EX_CONTROLPARENT;
      text = toWide(control.caption());
      break;
    case ControlKind::Shape:
    case ControlKind::Line:
      return;
  }
  const Geometry& g = control.geometry;
  int height = fw.pixels(g.height);
  if (control.kind() == ControlKind::ComboBox) height += fw.pixels(120);  // room for the list
  HWND hwnd =
      CreateWindowExW(exStyle, windowClass, text.c_str(), style, fw.pixels(g.left),
                      fw.pixels(g.top), std::max(fw.pixels(g.width), 1), std::max(height, 1),
                      parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), moduleInstance(),
                      isContainerKind(control.kind()) ? &fw : nullptr);
  if (!hwnd) return;
  nameWindow(hwnd, control.name());
  fw.controls[&control] = hwnd;
  fw.byWindow[hwnd] = &control;
  fw.byId[id] = &control;
  SendMessageW(hwnd, WM_SETFONT,
               reinterpret_cast<WPARAM>(fw.font(control.fontName, control.fontSize)), FALSE);

  switch (control.kind()) {
    case ControlKind::Label:
      if (control.etched) {
        SetWindowSubclass(hwnd, &Win32FormsToolkit::controlSubclassProc, 1,
                          reinterpret_cast<DWORD_PTR>(&fw));
      }
      break;
    case ControlKind::TextBox:
      if (control.maxLength > 0)
        SendMessageW(hwnd, EM_LIMITTEXT, static_cast<WPARAM>(control.maxLength), 0);
      SetWindowSubclass(hwnd, &Win32FormsToolkit::controlSubclassProc, 1,
                        reinterpret_cast<DWORD_PTR>(&fw));
      break;
    case ControlKind::ComboBox: {
      for (const auto& entry : control.list()) {
        SendMessageW(hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(toWide(entry).c_str()));
      }
      if (control.maxLength > 0)
        SendMessageW(hwnd, CB_LIMITTEXT, static_cast<WPARAM>(control.maxLength), 0);
      SendMessageW(hwnd, CB_SETCURSEL, static_cast<WPARAM>(control.listIndex()), 0);
      if (control.comboStyle == ComboStyle::DropDownCombo) {
        SetWindowTextW(hwnd, toWide(control.text()).c_str());
        COMBOBOXINFO info{};
        info.cbSize = sizeof(info);
        if (GetComboBoxInfo(hwnd, &info) && info.hwndItem) {
          fw.byWindow[info.hwndItem] = &control;
          SetWindowSubclass(info.hwndItem, &Win32FormsToolkit::controlSubclassProc, 1,
                            reinterpret_cast<DWORD_PTR>(&fw));
        }
      }
      break;
    }
    case ControlKind::CheckBox:
    case ControlKind::OptionButton:
      SendMessageW(hwnd, BM_SETCHECK, control.checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case ControlKind::ProgressBar:
      syncControl(fw, control, ControlProperty::Max);
      syncControl(fw, control, ControlProperty::ProgressValue);
      break;
    default:
      break;
  }
  if (!control.tooltip().empty()) syncControl(fw, control, ControlProperty::Tooltip);
  EnableWindow(hwnd, control.enabled());
  ShowWindow(hwnd, control.visible() ? SW_SHOWNA : SW_HIDE);
}

void Win32FormsToolkit::syncControl(FormWindow& fw, Control& control, ControlProperty property) {
  auto it = fw.controls.find(&control);
  if (it == fw.controls.end()) return;
  HWND hwnd = it->second;
  const bool wasSyncing = std::exchange(syncing_, true);
  switch (property) {
    case ControlProperty::Caption:
      SetWindowTextW(hwnd, toWide(control.caption()).c_str());
      if (isContainerKind(control.kind())) InvalidateRect(hwnd, nullptr, TRUE);
      break;
    case ControlProperty::Text:
      if (control.kind() == ControlKind::TextBox ||
          (control.kind() == ControlKind::ComboBox &&
           control.comboStyle == ComboStyle::DropDownCombo)) {
        if (fromWide(windowText(hwnd)) != control.text()) {
          SetWindowTextW(hwnd, toWide(control.text()).c_str());
        }
      }
      break;
    case ControlProperty::Visible:
      ShowWindow(hwnd, control.visible() ? SW_SHOWNA : SW_HIDE);
      break;
    case ControlProperty::Enabled:
      EnableWindow(hwnd, control.enabled());
      break;
    case ControlProperty::Tooltip: {
      if (!fw.tooltip) break;
      std::wstring tip = toWide(control.tooltip());
      TOOLINFOW info{};
      info.cbSize = sizeof(info);
      info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
      info.hwnd = fw.hwnd;
      info.uId = reinterpret_cast<UINT_PTR>(hwnd);
      info.lpszText = tip.data();
      if (!SendMessageW(fw.tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info)) ||
          !SendMessageW(fw.tooltip, TTM_GETTOOLCOUNT, 0, 0)) {
        SendMessageW(fw.tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
      }
      SendMessageW(fw.tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
      break;
    }
    case ControlProperty::Checked:
      SendMessageW(hwnd, BM_SETCHECK, control.checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case ControlProperty::List:
      SendMessageW(hwnd, CB_RESETCONTENT, 0, 0);
      for (const auto& entry : control.list()) {
        SendMessageW(hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(toWide(entry).c_str()));
      }
      SendMessageW(hwnd, CB_SETCURSEL, static_cast<WPARAM>(control.listIndex()), 0);
      break;
    case ControlProperty::ListIndex:
      if (SendMessageW(hwnd, CB_GETCURSEL, 0, 0) != control.listIndex()) {
        SendMessageW(hwnd, CB_SETCURSEL, static_cast<WPARAM>(control.listIndex()), 0);
      }
      break;
    case ControlProperty::Max: {
      const float max = control.max();
      const auto upper = static_cast<LPARAM>(max > 1 ? std::lround(max) : 1);
      SendMessageW(hwnd, PBM_SETRANGE32, 0, upper);
      break;
    }
    case ControlProperty::ProgressValue:
      SendMessageW(hwnd, PBM_SETPOS,
                   static_cast<WPARAM>(std::lround(std::max(control.value(), 0.0f))), 0);
      break;
  }
  syncing_ = wasSyncing;
}

void Win32FormsToolkit::controlChanged(Control& control, ControlProperty property) {
  auto it = windows_.find(&control.form());
  if (it == windows_.end()) return;
  FormWindow& fw = *it->second;
  if (isWindowless(control.kind())) {
    // Redraw the background it is drawn on.
    HWND parent = fw.hwnd;
    if (Control* container = control.parent().empty() ? nullptr : fw.form->find(control.parent())) {
      auto c = fw.controls.find(container);
      if (c != fw.controls.end()) parent = c->second;
    }
    if (parent) InvalidateRect(parent, nullptr, TRUE);
    return;
  }
  syncControl(fw, control, property);
}

void Win32FormsToolkit::formChanged(Form& form) {
  auto it = windows_.find(&form);
  if (it != windows_.end() && it->second->hwnd) {
    SetWindowTextW(it->second->hwnd, toWide(form.caption()).c_str());
  }
}

void Win32FormsToolkit::destroyWindow(Form& form) {
  auto it = windows_.find(&form);
  if (it == windows_.end()) return;
  std::unique_ptr<FormWindow> fw = std::move(it->second);
  windows_.erase(it);
  if (form.observer() == this) form.setObserver(nullptr);
  if (fw->hwnd && IsWindow(fw->hwnd)) {
    SetWindowLongPtrW(fw->hwnd, GWLP_USERDATA, 0);
    for (auto& [control, hwnd] : fw->controls) {
      if (isContainerKind(control->kind())) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      RemoveWindowSubclass(hwnd, &Win32FormsToolkit::controlSubclassProc, 1);
    }
    for (auto& [hwnd, control] : fw->byWindow) {
      RemoveWindowSubclass(hwnd, &Win32FormsToolkit::controlSubclassProc, 1);
    }
    std::vector<ATOM> names{nameAtom(fw->hwnd)};
    for (auto& [control, hwnd] : fw->controls) names.push_back(nameAtom(hwnd));
    DestroyWindow(fw->hwnd);
    for (ATOM name : names) releaseName(name);
  }
}

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
  return reinterpret_cast<std::uintptr_t>(ensureWindow(form).hwnd);
}

void Win32FormsToolkit::beginWindowMove(Form& form) {
  auto it = windows_.find(&form);
  if (it == windows_.end() || !it->second->hwnd) return;
  ReleaseCapture();
  SendMessageA(it->second->hwnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void Win32FormsToolkit::showModal(Form& form) {
  if (!form.loaded()) return;
  FormWindow& fw = ensureWindow(form);
  fw.modal = true;
  fw.done = false;
  HWND owner = GetActiveWindow();
  if (owner == fw.hwnd) owner = nullptr;
  fw.owner = owner;
  SetWindowLongPtrW(fw.hwnd, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));

  // Centre over the owner, or on the screen.
  RECT windowRect{};
  GetWindowRect(fw.hwnd, &windowRect);
  RECT area{};
  if (!owner || !GetWindowRect(owner, &area)) SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  const int width = windowRect.right - windowRect.left;
  const int height = windowRect.bottom - windowRect.top;
  SetWindowPos(fw.hwnd, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  fw.disabled = disableThreadWindows(fw.hwnd);
  ShowWindow(fw.hwnd, SW_SHOW);
  SetForegroundWindow(fw.hwnd);
  HWND hwnd = fw.hwnd;
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
    ShowWindow(fw.hwnd, SW_HIDE);
    // A handler reached through a sent message (an accessibility tool pressing a button)
    // runs inside GetMessage, which returns only for a posted message: wake the loop.
    PostMessageW(fw.hwnd, WM_NULL, 0, 0);
    return;
  }
  destroyWindow(form);
}

bool Win32FormsToolkit::dispatchDialogMessage(MSG& msg) {
  for (auto& [form, fw] : windows_) {
    if (fw->modal && fw->hwnd && (msg.hwnd == fw->hwnd || IsChild(fw->hwnd, msg.hwnd))) {
      // Keys typed into a text box go to its KeyPress filter, not to dialog navigation.
      if (msg.message == WM_CHAR && msg.wParam != VK_TAB) return false;
      return IsDialogMessageW(fw->hwnd, &msg) != FALSE;
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

// Draws the shapes and lines whose container is `parent` (empty: the form itself).
void Win32FormsToolkit::paintDecorations(FormWindow& fw, HDC dc, const std::string& parent) {
  const UniquePen pen(CreatePen(PS_SOLID, 1, RGB(0x40, 0x40, 0x40)));
  const SelectionRestorer withPen(dc, pen.get());
  const SelectionRestorer hollow(dc, GetStockObject(NULL_BRUSH));
  for (const auto& control : fw.form->controls()) {
    if (!isWindowless(control->kind()) || control->parent() != parent || !control->visible()) {
      continue;
    }
    const Geometry& g = control->geometry;
    const int left = fw.pixels(g.left);
    const int top = fw.pixels(g.top);
    const int right = fw.pixels(g.left + g.width);
    const int bottom = fw.pixels(g.top + g.height);
    if (control->kind() == ControlKind::Line) {
      MoveToEx(dc, left, top, nullptr);
      LineTo(dc, right, bottom);
    } else {
      Rectangle(dc, left, top, std::max(right, left + 1), std::max(bottom, top + 1));
    }
  }
}

// The add-in's logo, drawn to fill `rc`: a navy tile with a gold stroke cutting through
// its lower corner, the letters "QMV" and the maker's name.
void Win32FormsToolkit::paintLogo(FormWindow& fw, HDC dc, RECT rc) {
  const int w = rc.right - rc.left;
  const int h = rc.bottom - rc.top;
  const int radius = std::max(4, std::min(w, h) / 5);
  {
    const UniquePen edge(CreatePen(PS_SOLID, 1, RGB(0x10, 0x20, 0x40)));
    const SelectionRestorer withEdge(dc, edge.get());
    const SelectionRestorer withNavy(dc, fw.brush(0x1F3A68));
    RoundRect(dc, rc.left, rc.top, rc.right, rc.bottom, radius, radius);
  }
  {
    // The gold stroke: text being cut away.
    const UniqueRegion clip(
        CreateRoundRectRgn(rc.left, rc.top, rc.right + 1, rc.bottom + 1, radius, radius));
    SelectClipRgn(dc, clip.get());
    POINT stroke[4] = {{rc.left, rc.top + h * 3 / 4},
                       {rc.left + w * 3 / 4, rc.bottom},
                       {rc.left + w * 3 / 4 + w / 8, rc.bottom},
                       {rc.left, rc.top + h * 3 / 4 - h / 8}};
    const SelectionRestorer withGold(dc, fw.brush(0xF2B705));
    const SelectionRestorer noEdge(dc, GetStockObject(NULL_PEN));
    Polygon(dc, stroke, 4);
    SelectClipRgn(dc, nullptr);
  }

  SetBkMode(dc, TRANSPARENT);
  const float smallPoints =
      std::max(static_cast<float>(h) * 0.15f * 72.0f / static_cast<float>(fw.dpi), 6.0f);
  const UniqueFont big(CreateFontW(-static_cast<int>(std::lround(static_cast<float>(h) * 0.36f)), 0,
                                   0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                   DEFAULT_PITCH | FF_SWISS, L"Tahoma"));
  {
    const SelectionRestorer withBig(dc, big.get());
    SetTextColor(dc, RGB(0xFF, 0xFF, 0xFF));
    RECT top{rc.left, rc.top + h / 8, rc.right, rc.top + h * 5 / 8};
    DrawTextW(dc, L"QMV", -1, &top, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  const SelectionRestorer withSmall(dc, fw.font(u"Tahoma", smallPoints));
  SetTextColor(dc, RGB(0xF2, 0xB7, 0x05));
  RECT bottom{rc.left, rc.top + h * 9 / 16, rc.right, rc.top + h * 13 / 16};
  DrawTextW(dc, L"Vandrel", -1, &bottom, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

LRESULT CALLBACK Win32FormsToolkit::formProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* fw = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!fw || !fw->toolkit) return DefWindowProcW(hwnd, msg, wp, lp);
  return fw->toolkit->handleFormMessage(*fw, hwnd, msg, wp, lp);
}

LRESULT CALLBACK Win32FormsToolkit::containerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* fw = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!fw || !fw->toolkit) return DefWindowProcW(hwnd, msg, wp, lp);
  switch (msg) {
    case WM_COMMAND:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
    case WM_NOTIFY:
      return fw->toolkit->handleFormMessage(*fw, hwnd, msg, wp, lp);
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT rc;
      GetClientRect(hwnd, &rc);
      Control* control = fw->controlOf(hwnd);
      const std::optional<uint32_t> color = fw->faceOf(control);
      FillRect(dc, &rc, color ? fw->brush(*color) : GetSysColorBrush(COLOR_BTNFACE));
      if (control && control->kind() == ControlKind::Image) {
        paintLogo(*fw, dc, rc);
      } else if (control && !control->caption().empty()) {
        RECT box = rc;
        box.top += fw->pixels(4.5f);
        DrawEdge(dc, &box, EDGE_ETCHED, BF_RECT);
        const SelectionRestorer withFont(dc, fw->font(control->fontName, control->fontSize));
        SetBkColor(dc, color ? colorRef(*color) : GetSysColor(COLOR_BTNFACE));
        std::wstring caption = L" " + toWide(control->caption()) + L" ";
        RECT text{rc.left + fw->pixels(4.5f), rc.top, rc.right, rc.bottom};
        DrawTextW(dc, caption.c_str(), -1, &text, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
      }
      if (control) paintDecorations(*fw, dc, control->name());
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_LBUTTONDOWN:
      // A frame that handles keys takes the focus when clicked, as a frame of a form does.
      if (Control* control = fw->controlOf(hwnd); control && control->onKeyDown) SetFocus(hwnd);
      return 0;
    case WM_LBUTTONUP:
      if (Control* control = fw->controlOf(hwnd); control && control->onClick) {
        fw->run([&] { control->click(); });
      }
      return 0;
    case WM_GETDLGCODE:
      if (Control* control = fw->controlOf(hwnd); control && control->onKeyDown) {
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
      }
      return DefWindowProcW(hwnd, msg, wp, lp);
    case WM_KEYDOWN:
      if (Control* control = fw->controlOf(hwnd); control && control->onKeyDown) {
        int keyCode = static_cast<int>(wp);
        fw->run([&] { control->onKeyDown(keyCode); });
        if (keyCode == 0) return 0;
      }
      return DefWindowProcW(hwnd, msg, wp, lp);
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

LRESULT CALLBACK Win32FormsToolkit::controlSubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp,
                                                        UINT_PTR, DWORD_PTR data) {
  auto* fw = reinterpret_cast<FormWindow*>(data);
  Control* control = fw ? fw->controlOf(hwnd) : nullptr;
  if (!control) return DefSubclassProc(hwnd, msg, wp, lp);
  switch (msg) {
    case WM_PAINT:
      if (control->kind() == ControlKind::Label && control->etched) {
        // The static control draws its caption; the etched edge goes over its border.
        const LRESULT painted = DefSubclassProc(hwnd, msg, wp, lp);
        if (const WindowDc dc(hwnd); dc) {
          RECT rc;
          GetClientRect(hwnd, &rc);
          DrawEdge(dc.get(), &rc, EDGE_ETCHED, BF_RECT);
        }
        return painted;
      }
      break;
    case WM_CHAR: {
      if (!control->onKeyPress) break;
      int key = static_cast<int>(wp);
      fw->run([&] { control->onKeyPress(key); });
      if (key == 0) return 0;
      return DefSubclassProc(hwnd, msg, static_cast<WPARAM>(key), lp);
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      if (control->onMouseDown) {
        const int button = msg == WM_LBUTTONDOWN ? 1 : msg == WM_RBUTTONDOWN ? 2 : 4;
        fw->run([&] { control->onMouseDown(button); });
      }
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT Win32FormsToolkit::handleFormMessage(FormWindow& fw, HWND hwnd, UINT msg, WPARAM wp,
                                             LPARAM lp) {
  Form& form = *fw.form;
  switch (msg) {
    case kWmDpiChanged: {
      // Moved to a monitor of another DPI (or its scale changed): take Windows' suggested
      // position and lay the form out again at the new DPI.
      fw.dpi = LOWORD(wp) ? LOWORD(wp) : fw.dpi;
      if (const auto* suggested = reinterpret_cast<const RECT*>(lp)) {
        SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      layout(fw);
      return 0;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wp);
      const int code = HIWORD(wp);
      auto it = fw.byId.find(id);
      if (it == fw.byId.end() || syncing_) break;
      Control& control = *it->second;
      HWND child = reinterpret_cast<HWND>(lp);
      switch (control.kind()) {
        case ControlKind::CommandButton:
          if (code == BN_CLICKED) fw.run([&] { control.click(); });
          break;
        case ControlKind::Label:
          if (code == STN_CLICKED) fw.run([&] { control.click(); });
          break;
        case ControlKind::CheckBox:
          if (code == BN_CLICKED) {
            fw.run([&] {
              control.setChecked(!control.checked());
              control.click();
            });
          }
          break;
        case ControlKind::OptionButton:
          if (code == BN_CLICKED) {
            fw.run([&] {
              control.setChecked(true);
              control.click();
            });
          }
          break;
        case ControlKind::TextBox:
          if (code == EN_CHANGE) {
            std::u16string text = fromWide(windowText(child));
            if (text != control.text()) fw.run([&] { control.setText(std::move(text)); });
          }
          break;
        case ControlKind::ComboBox:
          if (code == CBN_SELCHANGE) {
            const auto index = static_cast<int>(SendMessageW(child, CB_GETCURSEL, 0, 0));
            if (index != control.listIndex() && index >= -1 && index < control.listCount()) {
              fw.run([&] { control.setListIndex(index); });
            }
          } else if (code == CBN_EDITCHANGE) {
            std::u16string text = fromWide(windowText(child));
            if (text != control.text()) fw.run([&] { control.setText(std::move(text)); });
          }
          break;
        default:
          break;
      }
      return 0;
    }
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
      Control* control = fw.controlOf(item->hwndItem);
      if (!control) break;
      RECT rc = item->rcItem;
      const bool pressed = (item->itemState & ODS_SELECTED) != 0;
      FillRect(
          item->hDC, &rc,
          control->backColor ? fw.brush(*control->backColor) : GetSysColorBrush(COLOR_BTNFACE));
      DrawEdge(item->hDC, &rc, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
      SetBkMode(item->hDC, TRANSPARENT);
      SetTextColor(item->hDC,
                   GetSysColor((item->itemState & ODS_DISABLED) ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
      if (pressed) OffsetRect(&rc, 1, 1);
      DrawTextW(item->hDC, toWide(control->caption()).c_str(), -1, &rc,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      if (item->itemState & ODS_FOCUS) {
        RECT focus = item->rcItem;
        InflateRect(&focus, -3, -3);
        DrawFocusRect(item->hDC, &focus);
      }
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wp);
      Control* control = fw.controlOf(reinterpret_cast<HWND>(lp));
      std::optional<uint32_t> color = control ? control->backColor : std::nullopt;
      if (!color && control && msg != WM_CTLCOLOREDIT) {
        // Labels and boxes show their container's colour.
        Control* container = control->parent().empty() ? nullptr : form.find(control->parent());
        color = container && container->backColor ? container->backColor : form.backColor;
      }
      if (!color) break;
      SetBkColor(dc, colorRef(*color));
      return reinterpret_cast<LRESULT>(fw.brush(*color));
    }
    case WM_PAINT:
      if (hwnd == fw.hwnd) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        paintDecorations(fw, dc, {});
        EndPaint(hwnd, &ps);
        return 0;
      }
      break;
    case WM_ERASEBKGND:
      if (form.backColor) {
        RECT rc;
        GetClientRect(hwnd, &rc);
        FillRect(reinterpret_cast<HDC>(wp), &rc, fw.brush(*form.backColor));
        return 1;
      }
      break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      if (hwnd == fw.hwnd && form.onMouseDown) {
        const int button = msg == WM_LBUTTONDOWN ? 1 : msg == WM_RBUTTONDOWN ? 2 : 4;
        fw.run([&] { form.onMouseDown(button); });
        return 0;
      }
      break;
    case WM_CLOSE: {
      bool keepOpen = false;
      fw.run([&] { keepOpen = form.onQueryClose && form.onQueryClose(); });
      if (!keepOpen && form.loaded()) unload(form);
      return 0;
    }
    default:
      break;
  }
  if (hwnd != fw.hwnd) return DefWindowProcW(hwnd, msg, wp, lp);
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace qmv::windows
