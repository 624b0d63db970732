#include "addin/entry_points.hpp"

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "about/frm_ug.hpp"
#include "addin/addin_module.hpp"
#include "addin/host_object.hpp"
#include "dialog/frm_prg_bar.hpp"
#include "engine/character_inspector.hpp"
#include "engine/operations.hpp"
#include "host/cell_text.hpp"
#include "host/host_error.hpp"
#include "host/text.hpp"
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
  module.runOptions.recipe = std::move(recipe);
  const std::shared_ptr<frmPrgBar> dialog = defaultInstance(module.prgBar, module);
  dialog->askForRecipe();
  module.forms.showModal(*dialog);
  module.runOptions.recipe.reset();
}

namespace {

// A recipe is a few steps: a file past this is not one, and is not read into memory.
constexpr std::uintmax_t kMaxRecipeBytes = 1 << 20;

// The file's bytes; no value when it cannot be read whole or is too large to be a recipe.
std::optional<std::string> tryReadRecipeFile(const std::u16string& path) {
  const std::filesystem::path file(path);
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error || size > kMaxRecipeBytes) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}

}  // namespace

void runRecipeFile(AddinModule& module) {
  const std::optional<std::u16string> path = hostApplication(module).askOpenFileName(
      std::u16string(kRecipeFileFilter), std::u16string(kRecipeFileTitle));
  if (!path || path->empty()) return;
  const std::optional<std::string> text = tryReadRecipeFile(*path);
  // The file's own name: the user has just picked it, and its folder can be long.
  const std::u16string name = std::filesystem::path(*path).filename().u16string();
  if (!text) {
    module.forms.messageBox(name + u" cannot be read as a recipe.", MessageIcon::Critical);
    return;
  }
  std::string error;
  std::optional<Recipe> recipe = tryParseRecipe(*text, error);
  if (!recipe) {
    module.forms.messageBox(name + u" cannot be run: " + toUtf16(error), MessageIcon::Critical);
    return;
  }
  RunRecipe(module, std::make_shared<const Recipe>(std::move(*recipe)));
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
