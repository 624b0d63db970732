#include "engine/host_run_state.hpp"

#include "host/tolerant.hpp"

namespace qmv {

void enterHostRunState(Application& app) {
  app.setEnableCancelKey(xl::kErrorHandler);
  app.setStatusBar(kProcessingText);
  app.setScreenUpdating(false);
  app.setCalculation(xl::kCalculationManual);
}

void enterHostRunStateTolerant(Application& app) noexcept {
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

void bindUndoCommands(RemovalSession& session) noexcept {
  if (!session.hostApp || !session.undoMacroRegistered) return;
  Application& app = *session.hostApp;
  tolerant([&] { app.onUndo(kUndoText, kUndoMacro); });
  if (tolerant([&] { app.onKey(kUndoKey, kUndoMacro); })) session.undoKeyBound = true;
}

void releaseUndoKey(RemovalSession& session) noexcept {
  if (!session.hostApp || !session.undoKeyBound) return;
  if (tolerant([&] { session.hostApp->resetKey(kUndoKey); })) session.undoKeyBound = false;
}

}  // namespace qmv
