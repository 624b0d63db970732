// The add-in's module-level state, kept in one object that the loaded library owns, so
// that tests create a fresh one per test and nothing leaks between them.
#pragma once

#include <memory>
#include <vector>

#include "ui/session.hpp"

namespace qmv {

class cbEvents;        // NOLINT(readability-identifier-naming): the add-in's own name
class frmPrgBar;       // NOLINT(readability-identifier-naming)
class frmTextRemover;  // NOLINT(readability-identifier-naming)
class frmUG;           // NOLINT(readability-identifier-naming)

/// Module-level state of the loaded add-in: the forms session (host, undo record, toolkit,
/// shell, run options) and what only the add-in holds.
class AddinModule : public FormsSession {
 public:
  /// The platform services outlive the module.
  AddinModule(FormsToolkit& formsToolkit, Shell& platformShell)
      : FormsSession(formsToolkit, platformShell) {}

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
