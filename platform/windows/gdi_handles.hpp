// Owners of GDI handles: every font, bitmap, brush and memory DC the add-in creates is
// held by one of these and deleted exactly once, and a SelectObject is undone by scope.
#pragma once

#include <windows.h>

#include <utility>

namespace qmv::windows {

/// One GDI object (HFONT, HBITMAP, HBRUSH, HPEN): deleted when the owner goes, unless
/// released to a new owner. Null is "no object".
template <class Handle>
class UniqueGdiObject {
 public:
  UniqueGdiObject() noexcept = default;
  explicit UniqueGdiObject(Handle handle) noexcept : handle_(handle) {}
  UniqueGdiObject(UniqueGdiObject&& other) noexcept : handle_(other.release()) {}
  UniqueGdiObject& operator=(UniqueGdiObject&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueGdiObject(const UniqueGdiObject&) = delete;
  UniqueGdiObject& operator=(const UniqueGdiObject&) = delete;
  ~UniqueGdiObject() { reset(); }

  Handle get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }
  /// Gives up ownership without deleting.
  Handle release() noexcept { return std::exchange(handle_, nullptr); }
  /// Deletes the held object and holds `handle` instead.
  void reset(Handle handle = nullptr) noexcept {
    if (handle_) DeleteObject(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

using UniqueFont = UniqueGdiObject<HFONT>;
using UniqueBitmap = UniqueGdiObject<HBITMAP>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;
using UniquePen = UniqueGdiObject<HPEN>;
using UniqueRegion = UniqueGdiObject<HRGN>;

/// A memory device context from CreateCompatibleDC, deleted with DeleteDC.
class UniqueMemoryDc {
 public:
  explicit UniqueMemoryDc(HDC compatibleWith) noexcept : dc_(CreateCompatibleDC(compatibleWith)) {}
  UniqueMemoryDc(const UniqueMemoryDc&) = delete;
  UniqueMemoryDc& operator=(const UniqueMemoryDc&) = delete;
  ~UniqueMemoryDc() {
    if (dc_) DeleteDC(dc_);
  }
  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HDC dc_;
};

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
