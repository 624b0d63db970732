#include "engine/host_run_state.hpp"

#include "host/tolerant.hpp"

namespace qmv {

namespace {

// The user's modes, read before the run changes them: a run entered again while the host
// is in its run state keeps what the first read.
void readUserModes(Application& app, HostUserModes& user) noexcept {
  user.calculation = tolerantGet([&] { return app.calculation(); });
  user.events = tolerantGet([&] { return app.enableEvents(); });
}

}  // namespace

void enterHostRunState(Application& app, HostUserModes& user) {
  readUserModes(app, user);
  app.setEnableCancelKey(xl::kErrorHandler);
  app.setStatusBar(kProcessingText);
  app.setScreenUpdating(false);
  app.setCalculation(xl::kCalculationManual);
  if (user.events) tolerant([&] { app.setEnableEvents(false); });
}

void enterHostRunStateTolerant(Application& app, HostUserModes& user) noexcept {
  readUserModes(app, user);
  tolerant([&] { app.setEnableCancelKey(xl::kErrorHandler); });
  tolerant([&] { app.setStatusBar(kProcessingText); });
  tolerant([&] { app.setScreenUpdating(false); });
  tolerant([&] { app.setCalculation(xl::kCalculationManual); });
  // The user's macros would run once per changed cell (Worksheet_Change).
  if (user.events) tolerant([&] { app.setEnableEvents(false); });
}

void leaveHostRunState(Application& app, const HostUserModes& user) noexcept {
  const int32_t calculation = user.calculation.value_or(xl::kCalculationAutomatic);
  tolerantRetry([&] { app.setCalculation(calculation); });
  if (user.events) tolerantRetry([&] { app.setEnableEvents(*user.events); });
  tolerantRetry([&] { app.setStatusBar(u""); });
  tolerantRetry([&] { app.setScreenUpdating(true); });
}

namespace {

// Control+Z back to the host's own action, when a run bound it.
void resetUndoKey(RemovalSession& session) noexcept {
  if (!session.hostApp || !session.undoKeyBound) return;
  if (tolerant([&] { session.hostApp->resetKey(kUndoKey); })) session.undoKeyBound = false;
}

// Watches the host's cell changes: the first change the add-in did not make gives
// Control+Z back to the host.
void watchCells(RemovalSession& session) noexcept {
  Application& app = *session.hostApp;
  tolerant([&] {
    // The watch ends before the session does, so `session` outlives every notice. It is
    // kept after the key went back: ending it inside its own notice would free the
    // handler that is running.
    session.cellWatch = app.subscribeSheetChange([&session] {
      if (session.ownChanges == 0) resetUndoKey(session);
    });
  });
}

}  // namespace

void bindUndoCommands(RemovalSession& session) noexcept {
  if (!session.hostApp || !session.undoMacroRegistered) return;
  Application& app = *session.hostApp;
  // OnUndo goes last: a later call may give Excel's undo list its own entry again
  // (https://learn.microsoft.com/office/vba/api/excel.application.onundo).
  if (tolerant([&] { app.onKey(kUndoKey, kUndoMacro); })) session.undoKeyBound = true;
  if (session.undoKeyBound && !session.cellWatch) watchCells(session);
  tolerant([&] { app.onUndo(kUndoText, kUndoMacro); });
}

void releaseUndoCommands(RemovalSession& session) noexcept {
  tolerant([&] { session.cellWatch.reset(); });
  resetUndoKey(session);
  if (session.hostApp && session.undoMacroRegistered) {
    tolerant([&] { session.hostApp->clearOnUndo(); });
  }
}

}  // namespace qmv
