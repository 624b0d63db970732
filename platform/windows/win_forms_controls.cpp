// The controls of a form as child windows: made when the form's window is, and kept in
// step with the form's state as it changes.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/windows/win_forms_window.hpp"

namespace qmv::windows {

namespace {

using namespace win_forms_detail;

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

}  // namespace

HWND Win32FormsToolkit::controlWindow(const Control& control) const {
  auto it = windows_.find(&control.form());
  if (it == windows_.end()) return nullptr;
  auto c = it->second->controls.find(&control);
  return c == it->second->controls.end() ? nullptr : c->second;
}

Win32FormsToolkit::FormWindow& Win32FormsToolkit::ensureWindow(Form& form) {
  auto it = windows_.find(&form);
  if (it != windows_.end() && it->second->hwnd()) return *it->second;
  auto fw = std::make_unique<FormWindow>();
  fw->toolkit = this;
  fw->form = &form;
  FormWindow& ref = *fw;
  windows_[&form] = std::move(fw);

  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  ref.dpi = dpi_;
  RECT rect{0, 0, ref.pixels(form.geometry.width), ref.pixels(form.geometry.height)};
  adjustWindowRect(rect, style, exStyle, ref.dpi);
  ref.hostDpiContext = threadDpiContext();
  const PerMonitorDpiScope perMonitor;
  ref.window.reset(CreateWindowExW(
      exStyle, kFormClass, toWide(form.caption()).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
      rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr, moduleInstance(), &ref));
  if (!ref.hwnd()) {
    windows_.erase(&form);
    throw std::runtime_error("The form's window could not be created");
  }
  nameWindow(ref.hwnd(), form.name());
  ref.tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                ref.hwnd(), nullptr, moduleInstance(), nullptr);
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
  ref.dpi = dpiOfWindow(ref.hwnd(), dpi_);
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
  HWND parent = fw.hwnd();
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
      info.hwnd = fw.hwnd();
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
    HWND parent = fw.hwnd();
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
  if (it != windows_.end() && it->second->hwnd()) {
    SetWindowTextW(it->second->hwnd(), toWide(form.caption()).c_str());
  }
}

void Win32FormsToolkit::destroyWindow(Form& form) {
  auto it = windows_.find(&form);
  if (it == windows_.end()) return;
  std::unique_ptr<FormWindow> fw = std::move(it->second);
  windows_.erase(it);
  if (form.observer() == this) form.setObserver(nullptr);
  if (fw->hwnd() && IsWindow(fw->hwnd())) {
    SetWindowLongPtrW(fw->hwnd(), GWLP_USERDATA, 0);
    for (auto& [control, hwnd] : fw->controls) {
      if (isContainerKind(control->kind())) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      RemoveWindowSubclass(hwnd, &Win32FormsToolkit::controlSubclassProc, 1);
    }
    for (auto& [hwnd, control] : fw->byWindow) {
      RemoveWindowSubclass(hwnd, &Win32FormsToolkit::controlSubclassProc, 1);
    }
    // The names go once their windows have.
    std::vector<UniqueAtom> names;
    names.emplace_back(nameAtom(fw->hwnd()));
    for (auto& [control, hwnd] : fw->controls) names.emplace_back(nameAtom(hwnd));
    fw->window.reset();
  } else {
    fw->window.release();  // destroyed already, with its owner
  }
}

}  // namespace qmv::windows
