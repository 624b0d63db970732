#include "engine/host_run_state.hpp"

#include "engine/undo.hpp"
#include "host/tolerant.hpp"

namespace qmv {

namespace {

// The user's modes, read before the run changes them: a run entered again while the host
// is in its run state keeps what the first read.
void readUserModes(Application& app, HostUserModes& user) {
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

void enterHostRunStateTolerant(Application& app, HostUserModes& user) {
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

}  // namespace

void bindUndoCommands(RemovalSession& session) {
  if (!session.hostApp) return;
  Application& app = *session.hostApp;
  if (!session.cellWatch) {
    tolerant([&] {
      // The watch ends before the session does, so `session` outlives every notice. It
      // is kept after the key went back: ending it inside its own notice would free the
      // handler that is running. The record hears of every change of the user's, so that
      // undo never writes into a cell changed or moved since the run.
      session.cellWatch = app.subscribeCellsChanged([&session](const CellsChange& change) {
        if (session.ownChanges != 0) return;
        if (session.undoSnapshot) session.undoSnapshot->noteLaterChange(change);
        resetUndoKey(session);
      });
    });
  }
  if (!session.undoMacroRegistered) return;
  // Control+Z stays the host's own key: it chooses the host's Undo command ("Keyboard
  // shortcuts in Excel", support.microsoft.com: Ctrl+Z, "Undo"), which runs the entry set
  // below only while the run is the last action on the host's undo list. Bound to the
  // undo macro itself (OnKey), it would undo the run after actions the host raises no event
  // for (formatting, work in another workbook) instead of undoing them.
  resetUndoKey(session);
  // OnUndo goes last: a later call may give Excel's undo list its own entry again
  // (https://learn.microsoft.com/office/vba/api/excel.application.onundo).
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
