// The session the forms run in: the removal session, the platform's forms toolkit and
// shell, and the run options the forms share (the chosen operation, the stop request).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/operations.hpp"
#include "engine/recipe.hpp"
#include "engine/session.hpp"
#include "host/shell.hpp"
#include "ui/forms_toolkit.hpp"

namespace qmv {

/// Run state shared by the entry points and the forms.
struct RunOptions {
  /// The operation the dialog runs; empty before the first command.
  std::optional<Operation> operation;
  /// When set, the dialog runs this recipe's steps as one run instead of `operation`
  /// (RunRecipe, addin/entry_points.hpp).
  std::shared_ptr<const Recipe> recipe;
  /// Set by a Stop click, cleared when a run starts.
  bool stopRequested = false;
};

/// A removal session whose user is reached through forms.
class FormsSession : public RemovalSession {
 public:
  /// The platform services outlive the session.
  FormsSession(FormsToolkit& formsToolkit, Shell& platformShell)
      : forms(formsToolkit), shell(platformShell) {}

  FormsToolkit& forms;
  Shell& shell;
  RunOptions runOptions;

  /// A message box with an OK button and the default title.
  void tellUser(const std::u16string& text) override { forms.messageBox(text); }
};

}  // namespace qmv
