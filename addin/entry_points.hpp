// The command entry points: one per removal command, the wizard, and the undo command's
// home. Each removal entry point stores its operation code, prepares the confirm-and-
// progress dialog and shows it modally; nothing changes until the user presses Yes.
#pragma once

#include <memory>
#include <optional>

#include "engine/operations.hpp"
#include "engine/recipe.hpp"

namespace qmv {

class AddinModule;

void RemoveNumbers(AddinModule& module);
void RemoveAlphas(AddinModule& module);
void RemoveNonPrintable(AddinModule& module);
void RemoveUserChars(AddinModule& module);
void RemoveAllSpaces(AddinModule& module);
void RemoveLeadTrailSpaces(AddinModule& module);
void RemoveExcessSpaces(AddinModule& module);
void RemoveTextBefore(AddinModule& module);
void RemoveTextAfter(AddinModule& module);
void RemoveCharsBefore(AddinModule& module);
void RemoveCharsAfter(AddinModule& module);
void RemoveUpper(AddinModule& module);
void RemoveLower(AddinModule& module);
void RemoveDuplicatesKeepOne(AddinModule& module);
void RemoveAllDuplicates(AddinModule& module);
void RemoveUniqueValues(AddinModule& module);

/// The operation a removal entry point runs (RemoveNumbers: RNUM); none for any other
/// command.
std::optional<Operation> entryPointOperation(void (*command)(AddinModule& module));

/// Stores the operation, puts its question and input groups on the dialog and shows it;
/// returns when the dialog has been closed (No! or the end of the run).
void confirmAndRun(AddinModule& module, Operation operation);

/// Runs a recipe through the dialog: its question and the preview of the whole recipe,
/// then on Yes its steps as one run (progress, Stop, one undo); returns when the dialog has
/// been closed. A recipe that ends by clearing values is refused with a message, nothing
/// shown or changed. The Ribbon's "Run Recipe..." and the task pane read the file
/// (parseRecipe, engine/recipe.hpp) and call this.
void RunRecipe(AddinModule& module, std::shared_ptr<const Recipe> recipe);

/// Loads the wizard form and shows it modally.
void ShowWizard(AddinModule& module);

/// Shows the About form modally.
void showAbout(AddinModule& module);

/// Opens the online user guide in the default browser, through the About form.
void openUserGuide(AddinModule& module);

}  // namespace qmv
