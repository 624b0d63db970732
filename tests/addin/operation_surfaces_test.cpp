// The Ribbon, the menu and qmv's help are read from the operation table: each row shows
// where its facts say, and nothing else shows an operation.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "addin/command_table.hpp"
#include "addin/entry_points.hpp"
#include "addin/ribbon_table.hpp"
#include "engine/operations.hpp"
#include "host/text.hpp"
#include "tools/qmv/cli.hpp"

namespace qmv {
namespace {

std::string helpOfApply() {
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  cli::runQmv({"qmv", "apply", "--help"}, in, out, err, false);
  return out.str() + err.str();
}

TEST(OperationSurfaces, RibbonMenuAndHelpShowWhatEachRowSays) {
  const std::string help = helpOfApply();
  std::size_t menuRemovals = 0;
  for (const OperationRow& row : operationTable()) {
    SCOPED_TRACE(toUtf8(row.code));
    const bool onMenu = !row.menu.tag.empty();
    // The Ribbon: the row's group, its label, its command.
    const RibbonPlacement place = ribbonPlacement(onMenu ? row.menu.tag : row.code);
    ASSERT_NE(place.control, nullptr);
    const OperationGroup* group = operationRibbonGroup(row.operation);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(place.group->id, group->id);
    EXPECT_EQ(place.group->label, group->label);
    EXPECT_EQ(ribbonLabel(*place.control), operationRibbonLabel(row.operation));
    EXPECT_EQ(ribbonCommand(*place.control), removalCommand(row.operation));
    // The menu: only its rows, with their caption and entry point.
    const CommandRow* command = findCommand(row.menu.tag);
    EXPECT_EQ(command != nullptr, onMenu);
    if (command) {
      ++menuRemovals;
      EXPECT_EQ(command->caption, row.menu.caption);
      EXPECT_EQ(command->faceId, row.menu.faceId);
      EXPECT_EQ(entryPointOperation(command->command), row.operation);
    } else {
      EXPECT_EQ(entryPointOperation(removalCommand(row.operation)), std::nullopt);
    }
    // qmv's help: the code, its name, what it does.
    const std::string line = "  " + toUtf8(row.code) + "  " + std::string(row.name);
    const std::size_t at = help.find(line);
    ASSERT_NE(at, std::string::npos) << help;
    EXPECT_NE(help.substr(at, help.find('\n', at) - at).find(row.meaning), std::string::npos);
  }
  // The menu keeps the entry points' sixteen, with its five own commands.
  EXPECT_EQ(menuRemovals, 16u);
  EXPECT_EQ(commandTable().size(), menuRemovals + 5);
  // Every Ribbon button is a menu command's, a row's, the inspector's or the recipe's.
  for (const RibbonGroup& group : ribbonGroups()) {
    for (const RibbonControl& control : group.controls) {
      if (control.tag.empty()) continue;
      SCOPED_TRACE(toUtf8(control.tag));
      EXPECT_TRUE(findCommand(control.tag) || operationFromCode(control.tag) ||
                  control.tag == kInspectorTag || control.tag == kRecipeTag);
    }
  }
}

}  // namespace
}  // namespace qmv
