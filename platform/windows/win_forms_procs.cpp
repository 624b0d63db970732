// The window procedures: the form's, its frames' and images', and the subclass of the
// controls whose keys, clicks and painting the form handles itself.
#include <optional>
#include <utility>

#include "platform/windows/win_forms_window.hpp"

namespace qmv::windows {

using namespace win_forms_detail;

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
    case WM_PAINT:
      paintContainer(*fw, hwnd);
      return 0;
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
    case WM_DRAWITEM:
      if (drawButton(fw, *reinterpret_cast<const DRAWITEMSTRUCT*>(lp))) return TRUE;
      break;
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
      if (hwnd == fw.hwnd()) {
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
      if (hwnd == fw.hwnd() && form.onMouseDown) {
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
  if (hwnd != fw.hwnd()) return DefWindowProcW(hwnd, msg, wp, lp);
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace qmv::windows
