// Owners of GDI handles: every font, bitmap, brush and memory DC the add-in creates is
// held by one of these and deleted exactly once, and a SelectObject is undone by scope.
#pragma once

#include <windows.h>

#include "platform/windows/unique_handle.hpp"

namespace qmv::windows {

struct DeleteGdiObject {
  void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};
struct DeleteMemoryDc {
  void operator()(HDC dc) const noexcept { DeleteDC(dc); }
};

/// GDI objects the add-in creates (CreateFontW, CreatePen, CreateSolidBrush, ...).
using UniqueFont = UniqueHandle<HFONT, DeleteGdiObject>;
using UniqueBitmap = UniqueHandle<HBITMAP, DeleteGdiObject>;
using UniqueBrush = UniqueHandle<HBRUSH, DeleteGdiObject>;
using UniquePen = UniqueHandle<HPEN, DeleteGdiObject>;
using UniqueRegion = UniqueHandle<HRGN, DeleteGdiObject>;
/// A memory device context from CreateCompatibleDC.
using UniqueMemoryDc = UniqueHandle<HDC, DeleteMemoryDc>;

/// A window's DC from GetDC, given back with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND window) noexcept : window_(window), dc_(GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

/// Selects an object into a DC and selects the previous one back at the end of the scope,
/// so that the object can be deleted afterwards (a selected object is never deleted).
class SelectionRestorer {
 public:
  SelectionRestorer(HDC dc, HGDIOBJ object) noexcept
      : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
  SelectionRestorer(const SelectionRestorer&) = delete;
  SelectionRestorer& operator=(const SelectionRestorer&) = delete;
  ~SelectionRestorer() {
    if (previous_) SelectObject(dc_, previous_);
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace qmv::windows
