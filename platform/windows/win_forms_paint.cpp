// Painting: the shapes and lines drawn on their container, frames and their captions, the
// logo, and command buttons of a colour of their own.
#include <algorithm>
#include <cmath>
#include <optional>

#include "platform/windows/win_forms_window.hpp"

namespace qmv::windows::win_forms_detail {

namespace {

// The add-in's logo, drawn to fill `rc`: a navy tile with a gold stroke cutting through
// its lower corner, the letters "QMV" and the maker's name.
void paintLogo(FormWindow& fw, HDC dc, RECT rc) {
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

}  // namespace

// Draws the shapes and lines whose container is `parent` (empty: the form itself).
void paintDecorations(FormWindow& fw, HDC dc, const std::string& parent) {
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

void paintContainer(FormWindow& fw, HWND hwnd) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT rc;
  GetClientRect(hwnd, &rc);
  Control* control = fw.controlOf(hwnd);
  const std::optional<uint32_t> color = fw.faceOf(control);
  FillRect(dc, &rc, color ? fw.brush(*color) : GetSysColorBrush(COLOR_BTNFACE));
  if (control && control->kind() == ControlKind::Image) {
    paintLogo(fw, dc, rc);
  } else if (control && !control->caption().empty()) {
    RECT box = rc;
    box.top += fw.pixels(4.5f);
    DrawEdge(dc, &box, EDGE_ETCHED, BF_RECT);
    const SelectionRestorer withFont(dc, fw.font(control->fontName, control->fontSize));
    SetBkColor(dc, color ? colorRef(*color) : GetSysColor(COLOR_BTNFACE));
    std::wstring caption = L" " + toWide(control->caption()) + L" ";
    RECT text{rc.left + fw.pixels(4.5f), rc.top, rc.right, rc.bottom};
    DrawTextW(dc, caption.c_str(), -1, &text, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
  }
  if (control) paintDecorations(fw, dc, control->name());
  EndPaint(hwnd, &ps);
}

bool drawButton(FormWindow& fw, const DRAWITEMSTRUCT& item) {
  Control* control = fw.controlOf(item.hwndItem);
  if (!control) return false;
  RECT rc = item.rcItem;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  FillRect(item.hDC, &rc,
           control->backColor ? fw.brush(*control->backColor) : GetSysColorBrush(COLOR_BTNFACE));
  DrawEdge(item.hDC, &rc, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC,
               GetSysColor((item.itemState & ODS_DISABLED) ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  if (pressed) OffsetRect(&rc, 1, 1);
  DrawTextW(item.hDC, toWide(control->caption()).c_str(), -1, &rc,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (item.itemState & ODS_FOCUS) {
    RECT focus = item.rcItem;
    InflateRect(&focus, -3, -3);
    DrawFocusRect(item.hDC, &focus);
  }
  return true;
}

}  // namespace qmv::windows::win_forms_detail
