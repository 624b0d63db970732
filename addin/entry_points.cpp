#include "addin/entry_points.hpp"

#include <array>
#include <string>
#include <utility>

#include "about/frm_ug.hpp"
#include "addin/addin_module.hpp"
#include "addin/host_object.hpp"
#include "dialog/frm_prg_bar.hpp"
#include "engine/character_inspector.hpp"
#include "engine/operations.hpp"
#include "host/cell_text.hpp"
#include "wizard/frm_text_remover.hpp"

namespace qmv {

void confirmAndRun(AddinModule& module, Operation operation) {
  module.runOptions.operation = operation;
  module.runOptions.recipe.reset();
  const std::shared_ptr<frmPrgBar> dialog = defaultInstance(module.prgBar, module);
  dialog->askFor(operation);
  module.forms.showModal(*dialog);
}

namespace {

using Command = void (*)(AddinModule& module);

template <std::size_t... kIndex>
constexpr std::array<Command, sizeof...(kIndex)> commandsOf(std::index_sequence<kIndex...>) {
  return {removalEntryPoint<static_cast<Operation>(kIndex)>...};
}

// One command per row, in the order of Operation.
constexpr std::array<Command, kOperationCount> kRemovalCommands =
    commandsOf(std::make_index_sequence<kOperationCount>{});

}  // namespace

void (*removalCommand(Operation operation))(AddinModule& module) {
  return kRemovalCommands[static_cast<std::size_t>(operation)];
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

std::optional<Operation> entryPointOperation(void (*command)(AddinModule& module)) {
  for (const OperationRow& row : operationTable()) {
    if (!row.menu.tag.empty() && removalCommand(row.operation) == command) return row.operation;
  }
  return std::nullopt;
}

void showCharacterInspector(AddinModule& module) {
  const RangePtr cell = required(hostApplication(module).selection()).cell(1, 1);
  const std::optional<std::u16string> text =
      cellText(cell->value(), hostApplication(module).locale());
  module.forms.messageBox(cell->address() + u"\n" +
                          inspectionReport(text.value_or(u""), RemovalNaming::Ribbon));
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
