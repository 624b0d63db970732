// The forms toolkit as real windows: every Form becomes a modal dialog window owned by the
// host's active window, every Control a child window, and window messages become the
// form's handler calls (Click, KeyPress, MouseDown, QueryClose).
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "ui/forms_toolkit.hpp"

namespace qmv::windows {

/// Title of message boxes that have none of their own.
inline constexpr wchar_t kDefaultTitle[] = L"Orvik";

/// The face a control's text is drawn in when its own font is not installed (the forms
/// are designed for Tahoma).
inline constexpr wchar_t kFallbackFace[] = L"Tahoma";

/// Window property that carries the name of a form's or control's window as a local atom
/// (GetAtomNameW), so that accessibility tools and tests can find controls by name.
inline constexpr wchar_t kWindowNameProperty[] = L"VandrelQmv.Name";

/// Forms as Win32 windows.
class Win32FormsToolkit final : public FormsToolkit, private FormObserver {
 public:
  Win32FormsToolkit();
  ~Win32FormsToolkit() override;
  Win32FormsToolkit(const Win32FormsToolkit&) = delete;
  Win32FormsToolkit& operator=(const Win32FormsToolkit&) = delete;

  void showModal(Form& form) override;
  void unload(Form& form) override;
  std::uintptr_t windowHandle(Form& form) override;
  void beginWindowMove(Form& form) override;
  void messageBox(const std::u16string& text, MessageIcon icon) override;
  std::u16string inputBox(const std::u16string& prompt, const std::u16string& title) override;
  void doEvents() override;

  /// The native window of a control of a shown or created form; null when there is none.
  HWND controlWindow(const Control& control) const;

  /// Converts points to pixels at the screen's DPI.
  int pixels(float points) const;

  /// The DPI a form's window is laid out for (its monitor's); the screen's when the form
  /// has no window.
  int formDpi(const Form& form) const;

  /// Tells a form's window that its DPI is now `dpi`, as Windows does with WM_DPICHANGED
  /// when the window moves to a monitor of another scale; the form is laid out again.
  void changeDpi(Form& form, int dpi);

  struct FormWindow;

 private:
  void controlChanged(Control& control, ControlProperty property) override;
  void formChanged(Form& form) override;
  void formDestroyed(Form& form) override { destroyWindow(form); }

  FormWindow& ensureWindow(Form& form);
  void destroyWindow(Form& form);
  void createControl(FormWindow& fw, Control& control);
  void layout(FormWindow& fw);
  void fitText(FormWindow& fw, const Control& control, HWND hwnd);
  /// Moves the controls of a captioned frame below its caption, growing the frame.
  void clearCaption(FormWindow& fw, const Control& frame, HWND hwnd);
  /// Grows a container's window `dy` pixels at its bottom: what lies below it in its parent
  /// moves down with it, and the parent grows in turn, up to the form's window.
  void growDown(FormWindow& fw, HWND container, int dy);
  /// Stacks overlapping containers so that one declared later lies over an earlier one.
  void stackContainers(FormWindow& fw);
  void syncControl(FormWindow& fw, Control& control, ControlProperty property);

  static LRESULT CALLBACK formProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK containerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK controlSubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp,
                                              UINT_PTR id, DWORD_PTR data);
  LRESULT handleFormMessage(FormWindow& fw, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  bool dispatchDialogMessage(MSG& msg);

  std::map<Form*, std::unique_ptr<FormWindow>> windows_;
  int dpi_ = 96;
  bool syncing_ = false;
};

}  // namespace qmv::windows
