// The add-in's connection object: the host connects and disconnects it, and it builds
// and removes the add-in's toolbar and menu.
#pragma once

#include "addin/button_events.hpp"
#include "host/host.hpp"

namespace qmv {

class AddinModule;

/// The host's add-in object; one per loaded library.
class Connect {
 public:
  explicit Connect(AddinModule& module) : module_(module) {}
  Connect(const Connect&) = delete;
  Connect& operator=(const Connect&) = delete;

  /// Stores the host application (null when the host object is not a spreadsheet
  /// application), makes the undo macro runnable, removes what an earlier session left
  /// (removeLeftControls), builds the toolbar and then the menu. Every step is skipped on
  /// failure; nothing is raised.
  void AddinInstance_OnConnection(ApplicationPtr app, AddInInstance* addInInst) noexcept;

  /// Deletes the menu and the toolbar, then releases the host application, the toolbar
  /// button and every menu wrapper. Every step is skipped on failure; nothing is raised.
  void AddinInstance_OnDisconnection() noexcept;

  /// Builds the toolbar "Dolvanis" with the wizard button; the button's on-action names
  /// the ProgID of `AddInInst_1`. A failure to switch screen updating off propagates
  /// (nothing is built); every later failing step is skipped.
  void txtRemoverCB_Add(AddInInstance* AddInInst_1);  // NOLINT: the add-in's own names

  /// Builds the popup "&Vandrel QMV" with its 21 buttons and their wrappers; every failing
  /// step is skipped.
  void txtRemoverMB_Add() noexcept;

  /// Deletes every control an earlier session may have left: the popups "&Vandrel QMV" of
  /// the worksheet menu bar, the toolbar "Dolvanis", and every control of any bar that
  /// carries the toolbar button's tag or a menu button's tag (a copy the user moved, a
  /// button of a popup whose build failed half way). Permanent controls outlive a crash of
  /// the host, so without this a new session would build a second menu. Each deletion is
  /// tolerant; a host without command bars propagates.
  void removeLeftControls();

  /// Deletes the toolbar "Dolvanis"; the first failure propagates (no toolbar, no host).
  void remToolBar();

  /// Deletes the first popup "&Vandrel QMV" of the worksheet menu bar; the first failure
  /// propagates.
  void remMenuBar();

  /// The toolbar button starts the wizard; a failure of the wizard propagates to the host.
  void CBarCtl_Click(CommandBarControl& clicked, bool& cancelDefault);

  /// The toolbar button and its Click subscription.
  ButtonWithEvents CBarCtl;

 private:
  AddinModule& module_;
};

}  // namespace qmv
