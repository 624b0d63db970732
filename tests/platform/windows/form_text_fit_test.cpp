// The add-in's forms at 100 %, 150 % and 200 % display scale: each form is told of the new
// DPI as Windows tells a per-monitor aware window, and every caption and list entry is
// measured with the font its control draws it in against the room the control gives it.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "about/frm_ug.hpp"
#include "addin/addin_module.hpp"
#include "dialog/frm_prg_bar.hpp"
#include "platform/windows/com_support.hpp"
#include "platform/windows/gdi_handles.hpp"
#include "platform/windows/win_forms.hpp"
#include "platform/windows/win_shell.hpp"
#include "wizard/frm_text_remover.hpp"

namespace qmv::windows {
namespace {

std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

// Room for the text inside a control: its client width less what the control draws
// besides the text (the check box or radio circle and its gap, a button's edge, a combo
// box's border and drop-down arrow), scaled to the DPI.
int textRoom(ControlKind kind, int clientWidth, int dpi) {
  switch (kind) {
    case ControlKind::CheckBox:
    case ControlKind::OptionButton:
      return clientWidth - MulDiv(13 + 4, dpi, 96);
    case ControlKind::CommandButton:
      return clientWidth - MulDiv(2 * 3, dpi, 96);
    case ControlKind::ComboBox:
      return clientWidth - MulDiv(GetSystemMetrics(SM_CXVSCROLL) + 2 * 5, dpi, 96);
    default:
      return clientWidth;
  }
}

// A child window's rectangle in its parent's client coordinates.
RECT rectOf(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// The face a control's window draws in, as the test measures it.
std::wstring drawnFace(HWND hwnd) {
  const WindowDc dc(hwnd);
  const SelectionRestorer withFont(dc.get(),
                                   reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
  wchar_t face[LF_FACESIZE] = {};
  GetTextFaceW(dc.get(), LF_FACESIZE, face);
  return face;
}

struct Clip {
  std::string control;
  std::string text;
  int missing;  ///< pixels the text needs beyond its room
};

// Every text of `form` that does not fit its control at the form's DPI.
std::vector<Clip> clippedTexts(Win32FormsToolkit& toolkit, Form& form) {
  std::vector<Clip> clipped;
  const int dpi = toolkit.formDpi(form);
  for (const auto& control : form.controls()) {
    const ControlKind kind = control->kind();
    if (kind != ControlKind::Label && kind != ControlKind::CheckBox &&
        kind != ControlKind::OptionButton && kind != ControlKind::CommandButton &&
        kind != ControlKind::ComboBox) {
      continue;
    }
    HWND hwnd = toolkit.controlWindow(*control);
    if (!hwnd || !control->visible()) continue;
    std::vector<std::u16string> texts;
    RECT client{};
    GetClientRect(hwnd, &client);
    // What the user sees of the control: up to the first sibling that lies over it (labels
    // lie under every other control).
    const RECT own = rectOf(hwnd);
    for (const auto& other : form.controls()) {
      HWND sibling = toolkit.controlWindow(*other);
      if (!sibling || sibling == hwnd || GetParent(sibling) != GetParent(hwnd) ||
          other->kind() == ControlKind::Label || !other->visible()) {
        continue;
      }
      const RECT s = rectOf(sibling);
      if (s.left > own.left && s.left < own.right && s.top < own.bottom && s.bottom > own.top) {
        client.right = std::min(client.right, s.left - own.left);
      }
    }
    int room = textRoom(kind, client.right, dpi);
    if (kind == ControlKind::ComboBox) {
      // The closed box shows the chosen entry; the open list, as wide as
      // CB_GETDROPPEDWIDTH, shows every entry. The edit part is the control's own height.
      client.bottom = MulDiv(static_cast<int>(control->geometry.height), dpi, 72);
      const int index = control->listIndex();
      if (index >= 0 && index < static_cast<int>(control->list().size())) {
        texts.push_back(control->list()[static_cast<std::size_t>(index)]);
      } else if (!control->text().empty()) {
        texts.push_back(control->text());
      }
      const int listRoom = static_cast<int>(SendMessageW(hwnd, CB_GETDROPPEDWIDTH, 0, 0)) -
                           MulDiv(GetSystemMetrics(SM_CXVSCROLL) + 2 * 5, dpi, 96);
      const WindowDc listDc(hwnd);
      const SelectionRestorer listFont(
          listDc.get(), reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
      for (const std::u16string& entry : control->list()) {
        const std::wstring wide = toWide(entry);
        RECT need{0, 0, 0, 0};
        DrawTextW(listDc.get(), wide.c_str(), -1, &need, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        if (need.right > std::max(listRoom, room)) {
          clipped.push_back({control->name() + " list", narrow(entry),
                             static_cast<int>(need.right) - std::max(listRoom, room)});
        }
      }
    } else if (!control->caption().empty()) {
      texts.push_back(control->caption());
    }
    const WindowDc dc(hwnd);
    const auto font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    const SelectionRestorer withFont(dc.get(), font);
    // Measured in the face the control asks for, or in the forms' own where that one is
    // not installed: a substitute chosen by the system (under Wine, DejaVu Sans) says
    // nothing about the text on a user's screen.
    const std::wstring face = drawnFace(hwnd);
    if (face != toWide(control->fontName) && face != kFallbackFace) {
      ADD_FAILURE() << control->name() << " is drawn in " << narrow(fromWide(face));
    }
    const bool wraps = kind == ControlKind::Label &&
                       (control->wordWrap || control->textAlign == TextAlign::Center);
    for (const std::u16string& text : texts) {
      const std::wstring wide = toWide(text);
      RECT need{0, 0, room, 0};
      const UINT flags = DT_CALCRECT | DT_NOPREFIX | (wraps ? DT_WORDBREAK : DT_SINGLELINE);
      DrawTextW(dc.get(), wide.c_str(), -1, &need, flags);
      if (need.right > room || need.bottom > client.bottom) {
        clipped.push_back({control->name(), narrow(text),
                           std::max(static_cast<int>(need.right) - room,
                                    static_cast<int>(need.bottom - client.bottom))});
      }
    }
  }
  return clipped;
}

// A frame draws its caption across its top edge: every control in the frame must start
// below the caption's line, or it covers the caption's lower half.
void expectCaptionsClear(Win32FormsToolkit& toolkit, Form& form) {
  for (const auto& frame : form.controls()) {
    HWND frameWindow = toolkit.controlWindow(*frame);
    if (frame->kind() != ControlKind::Frame || frame->caption().empty() || !frameWindow) continue;
    // The frame's own window keeps no font: any control of the same font shows its height.
    HFONT font = nullptr;
    for (const auto& other : form.controls()) {
      HWND window = toolkit.controlWindow(*other);
      if (window && other->kind() != ControlKind::Frame && other->fontName == frame->fontName &&
          other->fontSize == frame->fontSize) {
        font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
        break;
      }
    }
    ASSERT_NE(font, nullptr) << frame->name();
    const WindowDc dc(frameWindow);
    const SelectionRestorer withFont(dc.get(), font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc.get(), &metrics);
    for (const auto& child : form.controls()) {
      HWND window = toolkit.controlWindow(*child);
      if (!window || GetParent(window) != frameWindow) continue;
      EXPECT_GE(rectOf(window).top, metrics.tmHeight)
          << child->name() << " covers the caption of " << frame->name();
    }
  }
}

template <class F>
void expectNoClippedText(const char* name) {
  for (const int dpi : {96, 144, 192}) {
    SCOPED_TRACE(std::string(name) + " at " + std::to_string(dpi * 100 / 96) + " %");
    Win32FormsToolkit toolkit;
    Win32Shell shell;
    AddinModule module(toolkit, shell);
    auto form = std::make_shared<F>(module);
    ASSERT_TRUE(IsWindow(reinterpret_cast<HWND>(toolkit.windowHandle(*form))));
    toolkit.changeDpi(*form, dpi);
    EXPECT_EQ(toolkit.formDpi(*form), dpi);
    // The form's client area follows the DPI.
    RECT client{};
    GetClientRect(reinterpret_cast<HWND>(toolkit.windowHandle(*form)), &client);
    EXPECT_EQ(client.right, std::lround(form->geometry.width * static_cast<float>(dpi) / 72.0f));
    expectCaptionsClear(toolkit, *form);
    for (const Clip& clip : clippedTexts(toolkit, *form)) {
      ADD_FAILURE() << clip.control << " clips \"" << clip.text << "\" by " << clip.missing
                    << " px";
    }
    toolkit.unload(*form);
  }
}

// A form of one label in `face` at `points`, its window made by `toolkit` at `dpi`.
struct OneLabel {
  OneLabel(Win32FormsToolkit& toolkit, const std::u16string& face, float points, int dpi)
      : form("frmOneLabel"), label(form.add("lblText", ControlKind::Label)) {
    form.geometry = {0, 0, 200, 60};
    label.geometry = {6, 6, 180, 14};
    label.fontName = face;
    label.fontSize = points;
    label.setCaption(u"Start Position (SP)");
    toolkit.windowHandle(form);
    toolkit.changeDpi(form, dpi);
    window = toolkit.controlWindow(label);
  }
  Form form;
  Control& label;
  HWND window = nullptr;
};

TEST(FormTextFitTest, FaceThatIsNotInstalledFallsBackToTahoma) {
  struct Row {
    const char* name;
    std::u16string face;
    std::wstring drawn;
  };
  const Row rows[] = {
      {"installed face", u"Tahoma", L"Tahoma"},
      {"missing face", u"Vandrel No Such Face", kFallbackFace},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Win32FormsToolkit toolkit;
    OneLabel one(toolkit, row.face, 8.25f, 96);
    ASSERT_TRUE(IsWindow(one.window));
    EXPECT_EQ(drawnFace(one.window), row.drawn);
    toolkit.unload(one.form);
  }
}

// The design's 8.25 pt is 11 px at 96 DPI; at 150 % the 16.5 px rounds down, so that
// text does not grow faster than the geometry around it.
TEST(FormTextFitTest, FontHeightFollowsTheScaleRoundingHalfPixelsDown) {
  struct Row {
    int dpi;
    float points;
    LONG height;
  };
  const Row rows[] = {{96, 8.25f, -11}, {144, 8.25f, -16}, {192, 8.25f, -22},
                      {96, 9.75f, -13}, {144, 9.75f, -19}, {120, 8.25f, -14}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.points) + " pt at " + std::to_string(row.dpi) + " DPI");
    Win32FormsToolkit toolkit;
    OneLabel one(toolkit, u"Tahoma", row.points, row.dpi);
    ASSERT_TRUE(IsWindow(one.window));
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(one.window, WM_GETFONT, 0, 0)), sizeof(font),
               &font);
    EXPECT_EQ(font.lfHeight, row.height);
    toolkit.unload(one.form);
  }
}

TEST(FormTextFitTest, ConfirmAndProgressDialog) { expectNoClippedText<frmPrgBar>("frmPrgBar"); }
TEST(FormTextFitTest, Wizard) { expectNoClippedText<frmTextRemover>("frmTextRemover"); }
TEST(FormTextFitTest, About) { expectNoClippedText<frmUG>("frmUG"); }

}  // namespace
}  // namespace qmv::windows
