// The platform's forms toolkit: shows forms modally, unloads them, shows message and
// input boxes and yields to the message loop.
//
// Order of calls for a form: the add-in builds the Form (its load handler has run), sets
// its controls, then calls showModal, which returns only after unload(form) was called
// (by a handler of the form or by code running inside one). windowHandle creates the
// form's window without showing it. doEvents runs pending user actions once.
#pragma once

#include <cstdint>
#include <string>

#include "ui/form.hpp"

namespace qmv {

/// Icon of a message box.
enum class MessageIcon { None, Critical };

/// The platform's forms toolkit.
class FormsToolkit {
 public:
  virtual ~FormsToolkit() = default;
  /// Shows the form modally with no owner; returns when the form has been unloaded.
  /// Precondition: form.loaded().
  virtual void showModal(Form& form) = 0;
  /// Unloads the form: ends its modal display and marks it unloaded.
  virtual void unload(Form& form) = 0;
  /// The native window handle, creating the window hidden when it does not exist yet.
  virtual std::uintptr_t windowHandle(Form& form) = 0;
  /// Lets the user drag the form by its background (called from a mouse-down handler).
  virtual void beginWindowMove(Form& form) = 0;
  /// A message box with an OK button and the add-in's default title.
  virtual void messageBox(const std::u16string& text, MessageIcon icon = MessageIcon::None) = 0;
  /// An input box; the typed text, or the empty text on Cancel.
  virtual std::u16string inputBox(const std::u16string& prompt, const std::u16string& title) = 0;
  /// Handles pending window messages once (a Stop click lands here).
  virtual void doEvents() = 0;
};

}  // namespace qmv
