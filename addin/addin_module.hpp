// The add-in's module-level state, kept in one object that the loaded library owns, so
// that tests create a fresh one per test and nothing leaks between them.
#pragma once

#include <memory>
#include <vector>

#include "commands/forms_toolkit.hpp"
#include "commands/run_options.hpp"
#include "host/host.hpp"
#include "host/shell.hpp"

namespace qmv {

struct UndoSnapshot;
class cbEvents;        // NOLINT(readability-identifier-naming): the add-in's own name
class frmPrgBar;       // NOLINT(readability-identifier-naming)
class frmTextRemover;  // NOLINT(readability-identifier-naming)
class frmUG;           // NOLINT(readability-identifier-naming)

/// Module-level state of the loaded add-in.
class AddinModule {
 public:
  /// The platform services outlive the module.
  AddinModule(FormsToolkit& formsToolkit, Shell& platformShell)
      : forms(formsToolkit), shell(platformShell) {}
  AddinModule(const AddinModule&) = delete;
  AddinModule& operator=(const AddinModule&) = delete;

  FormsToolkit& forms;
  Shell& shell;

  /// The host's application; empty while disconnected.
  ApplicationPtr hostApp;
  RunOptions runOptions;
  /// The record of the last character run; null until a run recorded one.
  std::shared_ptr<UndoSnapshot> undoSnapshot;
  /// True once the host can run the undo macro; bindings are made only then.
  bool undoMacroRegistered = false;
  /// True while Control+Z is bound to the undo macro, so that disconnecting gives the key
  /// back to the host instead of leaving it on a macro that no longer does anything.
  bool undoKeyBound = false;

  /// Menu button wrappers (keep their Click subscriptions alive) and the latest one.
  std::vector<std::shared_ptr<cbEvents>> buttonHandlers;
  std::shared_ptr<cbEvents> currentHandler;

  /// Default instances of the forms; replaced when found unloaded.
  std::shared_ptr<frmPrgBar> prgBar;
  std::shared_ptr<frmTextRemover> textRemover;
  std::shared_ptr<frmUG> ug;
};

/// The default instance held in `slot`, created afresh when there is none or it was
/// unloaded. Callers that show it keep the returned pointer until the form returns.
template <class F>
std::shared_ptr<F> defaultInstance(std::shared_ptr<F>& slot, AddinModule& module) {
  if (!slot || !slot->loaded()) slot = std::make_shared<F>(module);
  return slot;
}

}  // namespace qmv
