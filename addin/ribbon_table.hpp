// The add-in's Ribbon tab, independent of any platform: its groups and their buttons, each
// with its id, label and what a press runs. The operations' groups and buttons come from the
// operation table (engine/operations.hpp: operationGroups and each row's Ribbon facts),
// between the add-in's own groups (wizard; recipe, inspector, undo and help). A menu removal sits
// there by its menu tag (caption and command from the command table); any other by its code,
// opening the confirm-and-progress dialog.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "addin/command_table.hpp"

namespace qmv {

/// One button of the tab.
struct RibbonControl {
  std::u16string_view tag{};    ///< a menu command's tag, or an operation code
  std::u16string_view label{};  ///< empty: the menu command's caption
  Command command = nullptr;    ///< null: the menu command's
};

/// One group of the tab; its controls end at the first without a tag.
struct RibbonGroup {
  std::u16string_view id;
  std::u16string_view label;
  std::u16string_view keytip;  ///< also the first letter of its buttons' keytips
  uint32_t colour;             ///< background of its buttons' pictures, 0xRRGGBB
  std::array<RibbonControl, 4> controls;
};

/// The prefix of every button's id: "btn" + its tag.
inline constexpr std::u16string_view kRibbonButtonPrefix = u"btn";

/// The tag of the character inspector's button.
inline constexpr std::u16string_view kInspectorTag = u"INSP";

/// The tag of the button that runs a recipe file.
inline constexpr std::u16string_view kRecipeTag = u"RECP";

/// The groups, in the order the tab shows them.
std::span<const RibbonGroup> ribbonGroups();

/// Where a button sits.
struct RibbonPlacement {
  const RibbonGroup* group = nullptr;
  std::size_t index = 0;
  const RibbonControl* control = nullptr;
};

/// The button with `tag`; no group when none has it.
RibbonPlacement ribbonPlacement(std::u16string_view tag);

/// The button's label: its own, or the menu caption without its accelerator mark (a
/// doubled mark stays as one literal '&').
std::u16string ribbonLabel(const RibbonControl& control);

/// What the button runs: its own command, or the menu command with its tag; null for none.
Command ribbonCommand(const RibbonControl& control);

/// Presses the button whose id is `id` ("btnRNDG"): runs its command, tolerating its
/// failure as a click on the menu does. False, running nothing, when no button has the id.
bool pressRibbonButton(AddinModule& module, std::u16string_view id);

}  // namespace qmv
