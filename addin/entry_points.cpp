#include "addin/entry_points.hpp"

#include <string>

#include "about/frm_ug.hpp"
#include "addin/addin_module.hpp"
#include "dialog/frm_prg_bar.hpp"
#include "engine/operations.hpp"
#include "wizard/frm_text_remover.hpp"

namespace qmv {

void confirmAndRun(AddinModule& module, Operation operation) {
  module.runOptions.operation = operation;
  module.runOptions.recipe.reset();
  const std::shared_ptr<frmPrgBar> dialog = defaultInstance(module.prgBar, module);
  dialog->askFor(operation);
  module.forms.showModal(*dialog);
}

void RunRecipe(AddinModule& module, std::shared_ptr<const Recipe> recipe) {
  if (const std::optional<Operation> value = recipe->valueStep()) {
    // Its undo record would replace the record of the steps before it: the run would not
    // be one undo.
    module.tellUser(u"This recipe ends by clearing values (" +
                    std::u16string(operationCode(*value)) +
                    u"), which the add-in runs on its own: run that step after the others.");
    return;
  }
  module.runOptions.recipe = std::move(recipe);
  const std::shared_ptr<frmPrgBar> dialog = defaultInstance(module.prgBar, module);
  dialog->askForRecipe();
  module.forms.showModal(*dialog);
  module.runOptions.recipe.reset();
}

void RemoveNumbers(AddinModule& module) { confirmAndRun(module, Operation::RNUM); }
void RemoveAlphas(AddinModule& module) { confirmAndRun(module, Operation::RALP); }
void RemoveNonPrintable(AddinModule& module) { confirmAndRun(module, Operation::RNPC); }
void RemoveUserChars(AddinModule& module) { confirmAndRun(module, Operation::RUDC); }
void RemoveAllSpaces(AddinModule& module) { confirmAndRun(module, Operation::RALS); }
void RemoveLeadTrailSpaces(AddinModule& module) { confirmAndRun(module, Operation::RLTS); }
void RemoveExcessSpaces(AddinModule& module) { confirmAndRun(module, Operation::RLTE); }
void RemoveTextBefore(AddinModule& module) { confirmAndRun(module, Operation::RBSP); }
void RemoveTextAfter(AddinModule& module) { confirmAndRun(module, Operation::RASP); }
void RemoveCharsBefore(AddinModule& module) { confirmAndRun(module, Operation::RNBP); }
void RemoveCharsAfter(AddinModule& module) { confirmAndRun(module, Operation::RNAP); }
void RemoveUpper(AddinModule& module) { confirmAndRun(module, Operation::RUPC); }
void RemoveLower(AddinModule& module) { confirmAndRun(module, Operation::RLOC); }
void RemoveDuplicatesKeepOne(AddinModule& module) { confirmAndRun(module, Operation::RDPV); }
void RemoveAllDuplicates(AddinModule& module) { confirmAndRun(module, Operation::RADP); }
void RemoveUniqueValues(AddinModule& module) { confirmAndRun(module, Operation::RUDP); }

std::optional<Operation> entryPointOperation(void (*command)(AddinModule& module)) {
  struct Entry {
    void (*command)(AddinModule& module);
    Operation operation;
  };
  static constexpr Entry kEntries[] = {
      {RemoveNumbers, Operation::RNUM},       {RemoveAlphas, Operation::RALP},
      {RemoveNonPrintable, Operation::RNPC},  {RemoveUserChars, Operation::RUDC},
      {RemoveAllSpaces, Operation::RALS},     {RemoveLeadTrailSpaces, Operation::RLTS},
      {RemoveExcessSpaces, Operation::RLTE},  {RemoveTextBefore, Operation::RBSP},
      {RemoveTextAfter, Operation::RASP},     {RemoveCharsBefore, Operation::RNBP},
      {RemoveCharsAfter, Operation::RNAP},    {RemoveUpper, Operation::RUPC},
      {RemoveLower, Operation::RLOC},         {RemoveDuplicatesKeepOne, Operation::RDPV},
      {RemoveAllDuplicates, Operation::RADP}, {RemoveUniqueValues, Operation::RUDP}};
  for (const Entry& entry : kEntries) {
    if (entry.command == command) return entry.operation;
  }
  return std::nullopt;
}

void ShowWizard(AddinModule& module) {
  // Held here so the form outlives its modal display even if the slot is replaced.
  const std::shared_ptr<frmTextRemover> form = defaultInstance(module.textRemover, module);
  module.forms.showModal(*form);
}

void showAbout(AddinModule& module) {
  // Kept alive here until the modal display returns.
  const auto form = defaultInstance(module.ug, module);
  module.forms.showModal(*form);
}

void openUserGuide(AddinModule& module) {
  defaultInstance(module.ug, module)->BrowseTo(std::u16string(about::kUserGuideAddress));
}

}  // namespace qmv
