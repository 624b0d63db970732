// The event wrapper of one menu button: receives its Click and starts the command that
// the clicked button's tag names.
#pragma once

#include <memory>

#include "addin/button_events.hpp"
#include "host/host.hpp"

namespace qmv {

class AddinModule;

/// Receives the Click events of the menu button held in `cbBtn`.
class cbEvents : public std::enable_shared_from_this<cbEvents> {  // NOLINT: the add-in's name
 public:
  /// Wrappers are shared: the module's collection keeps them (and their subscriptions) alive.
  static std::shared_ptr<cbEvents> create(AddinModule& module);

  /// The menu button; holding it keeps the Click subscription.
  ButtonWithEvents cbBtn;

  /// Holds `button` in `cbBtn` with its Click routed to `cbBtn_Click`.
  void setButton(CommandBarControlPtr button);

  /// Runs the command of the clicked control's tag (a failing command is skipped) and
  /// always sets `cancelDefault`, so the host never runs the button's on-action.
  void cbBtn_Click(CommandBarControl& clicked, bool& cancelDefault) noexcept;

 private:
  explicit cbEvents(AddinModule& module) : module_(module) {}
  AddinModule& module_;
};

}  // namespace qmv
