// The command entry points: one per removal command, the wizard, and the undo command's
// home. Each removal entry point stores its operation code, prepares the confirm-and-
// progress dialog and shows it modally; nothing changes until the user presses Yes. Every
// operation of the table has such a command (removalCommand); the sixteen of the menu carry
// their names.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "engine/operations.hpp"
#include "engine/recipe.hpp"

namespace qmv {

class AddinModule;

/// Stores the operation, puts its question and input groups on the dialog and shows it;
/// returns when the dialog has been closed (No! or the end of the run).
void confirmAndRun(AddinModule& module, Operation operation);

/// The command that confirms and runs one operation: what its menu and Ribbon buttons start.
template <Operation kOperation>
void removalEntryPoint(AddinModule& module) {
  confirmAndRun(module, kOperation);
}

/// The command of an operation's buttons (removalEntryPoint of it).
void (*removalCommand(Operation operation))(AddinModule& module);

/// The removal entry points: the commands of the menu's removals, one per menu row of the
/// operation table.
inline constexpr auto& RemoveNumbers = removalEntryPoint<Operation::RNUM>;
inline constexpr auto& RemoveAlphas = removalEntryPoint<Operation::RALP>;
inline constexpr auto& RemoveNonPrintable = removalEntryPoint<Operation::RNPC>;
inline constexpr auto& RemoveUserChars = removalEntryPoint<Operation::RUDC>;
inline constexpr auto& RemoveAllSpaces = removalEntryPoint<Operation::RALS>;
inline constexpr auto& RemoveLeadTrailSpaces = removalEntryPoint<Operation::RLTS>;
inline constexpr auto& RemoveExcessSpaces = removalEntryPoint<Operation::RLTE>;
inline constexpr auto& RemoveTextBefore = removalEntryPoint<Operation::RBSP>;
inline constexpr auto& RemoveTextAfter = removalEntryPoint<Operation::RASP>;
inline constexpr auto& RemoveCharsBefore = removalEntryPoint<Operation::RNBP>;
inline constexpr auto& RemoveCharsAfter = removalEntryPoint<Operation::RNAP>;
inline constexpr auto& RemoveUpper = removalEntryPoint<Operation::RUPC>;
inline constexpr auto& RemoveLower = removalEntryPoint<Operation::RLOC>;
inline constexpr auto& RemoveDuplicatesKeepOne = removalEntryPoint<Operation::RDPV>;
inline constexpr auto& RemoveAllDuplicates = removalEntryPoint<Operation::RADP>;
inline constexpr auto& RemoveUniqueValues = removalEntryPoint<Operation::RUDP>;

/// The operation a removal entry point runs (RemoveNumbers: RNUM), read from the commands
/// of the table's menu rows; none for any other command.
std::optional<Operation> entryPointOperation(void (*command)(AddinModule& module));

/// Shows the character inspector's list for the selection's first cell (the active cell
/// when one cell is selected) in a message box: every invisible and non-ASCII character,
/// its Unicode name and the Ribbon button that would take it out.
void showCharacterInspector(AddinModule& module);
/// Runs a recipe through the dialog: its question and the preview of the whole recipe,
/// then on Yes its steps as one run (progress, Stop, one undo); returns when the dialog has
/// been closed. A recipe that ends by clearing values is refused with a message, nothing
/// shown or changed. The Ribbon's "Run Recipe..." and the task pane read the file
/// (parseRecipe, engine/recipe.hpp) and call this.
void RunRecipe(AddinModule& module, std::shared_ptr<const Recipe> recipe);

/// The file question of "Run Recipe...": its filter and title.
inline constexpr std::u16string_view kRecipeFileFilter = u"Recipes (*.json),*.json";
inline constexpr std::u16string_view kRecipeFileTitle = u"Run Recipe";

/// The Ribbon's "Run Recipe...": asks the host for a recipe file, reads and checks it, and
/// runs it (RunRecipe). Cancel does nothing; a file that cannot be read (or is larger than
/// any recipe, 1 MiB) or a bad recipe is told in one message box, naming the file or the
/// step and field, and nothing changes.
void runRecipeFile(AddinModule& module);

/// Loads the wizard form and shows it modally.
void ShowWizard(AddinModule& module);

/// Shows the About form modally.
void showAbout(AddinModule& module);

/// Opens the online user guide in the default browser, through the About form.
void openUserGuide(AddinModule& module);

}  // namespace qmv
