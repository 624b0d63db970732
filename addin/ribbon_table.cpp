#include "addin/ribbon_table.hpp"

#include <stdexcept>
#include <vector>

#include "addin/entry_points.hpp"
#include "engine/operations.hpp"
#include "host/tolerant.hpp"

namespace qmv {

namespace {

// The add-in's own groups, before and after the operation table's.
constexpr RibbonGroup kWizardGroup{u"grpWizard", u"Wizard", u"W", 0x1F5F99, {{{u"QMV0"}}}};
constexpr std::array<RibbonGroup, 4> kGroupsAfter{{
    {u"grpRecipe", u"Recipe", u"B", 0x1F5F99, {{{kRecipeTag, u"Run Recipe\u2026", runRecipeFile}}}},
    {u"grpInspect",
     u"Inspect",
     u"I",
     0x37474F,
     {{{kInspectorTag, u"Inspect Characters", showCharacterInspector}}}},
    {u"grpUndo", u"Undo", u"U", 0x455A64, {{{u"QMV16"}}}},
    {u"grpHelp", u"Help", u"H", 0x5D4037, {{{u"QMV21"}, {u"QMV15"}, {u"QMV17"}}}},
}};

// The buttons of one operation group: its rows in table order, a menu removal by its menu
// tag (and the menu's caption and command), any other by its code.
RibbonGroup operationGroup(const OperationGroup& facts) {
  RibbonGroup group{facts.id, facts.label, facts.keytip, facts.colour, {}};
  std::size_t at = 0;
  for (const OperationRow& row : operationTable()) {
    if (row.ribbon.group != facts.group) continue;
    if (at == group.controls.size()) {
      throw std::logic_error("a Ribbon group holds at most four buttons");
    }
    const bool onMenu = !row.menu.tag.empty();
    group.controls[at++] = {onMenu ? row.menu.tag : row.code, row.ribbon.label,
                            onMenu ? nullptr : removalCommand(row.operation)};
  }
  return group;
}

const std::vector<RibbonGroup>& groups() {
  static const std::vector<RibbonGroup> all = [] {
    std::vector<RibbonGroup> out{kWizardGroup};
    for (const OperationGroup& facts : operationGroups()) out.push_back(operationGroup(facts));
    out.insert(out.end(), kGroupsAfter.begin(), kGroupsAfter.end());
    return out;
  }();
  return all;
}

const CommandRow* menuRow(std::u16string_view tag) {
  for (const CommandRow& row : commandTable()) {
    if (row.tag == tag) return &row;
  }
  return nullptr;
}

}  // namespace

std::span<const RibbonGroup> ribbonGroups() { return groups(); }

RibbonPlacement ribbonPlacement(std::u16string_view tag) {
  if (tag.empty()) return {};
  for (const RibbonGroup& group : groups()) {
    for (std::size_t i = 0; i < group.controls.size(); ++i) {
      if (group.controls[i].tag == tag) return {&group, i, &group.controls[i]};
    }
  }
  return {};
}

std::u16string ribbonLabel(const RibbonControl& control) {
  if (!control.label.empty()) return std::u16string(control.label);
  const CommandRow* row = menuRow(control.tag);
  return row ? withoutAcceleratorMark(row->caption) : std::u16string();
}

Command ribbonCommand(const RibbonControl& control) {
  if (control.command) return control.command;
  // The menu's dispatch, so a tag it does not reach runs nothing here either.
  const CommandRow* row = findCommand(control.tag);
  return row ? row->command : nullptr;
}

bool pressRibbonButton(AddinModule& module, std::u16string_view id) {
  if (!id.starts_with(kRibbonButtonPrefix)) return false;
  const RibbonPlacement place = ribbonPlacement(id.substr(kRibbonButtonPrefix.size()));
  if (!place.control) return false;
  const Command command = ribbonCommand(*place.control);
  if (!command) return false;
  // Called by the host, which must never meet an exception: the boundary form.
  tolerantAtBoundary([&] { command(module); });
  return true;
}

}  // namespace qmv
