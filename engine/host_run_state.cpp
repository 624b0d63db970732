#include "engine/host_run_state.hpp"

#include "engine/undo.hpp"
#include "host/tolerant.hpp"

namespace qmv {

void enterHostRunState(Application& app) {
  app.setEnableCancelKey(xl::kErrorHandler);
  app.setStatusBar(kProcessingText);
  app.setScreenUpdating(false);
  app.setCalculation(xl::kCalculationManual);
}

void enterHostRunStateTolerant(Application& app) {
  tolerant([&] { app.setEnableCancelKey(xl::kErrorHandler); });
  tolerant([&] { app.setStatusBar(kProcessingText); });
  tolerant([&] { app.setScreenUpdating(false); });
  tolerant([&] { app.setCalculation(xl::kCalculationManual); });
}

void leaveHostRunState(Application& app) noexcept {
  tolerantRetry([&] { app.setCalculation(xl::kCalculationAutomatic); });
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
  tolerant([&] { app.onUndo(kUndoText, kUndoMacro); });
  if (tolerant([&] { app.onKey(kUndoKey, kUndoMacro); })) session.undoKeyBound = true;
}

void releaseUndoCommands(RemovalSession& session) noexcept {
  tolerant([&] { session.cellWatch.reset(); });
  resetUndoKey(session);
  if (session.hostApp && session.undoMacroRegistered) {
    tolerant([&] { session.hostApp->clearOnUndo(); });
  }
}

}  // namespace qmv
