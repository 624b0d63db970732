// The add-in's command surface: the menu's command table (its removals are the operation
// table's menu rows), the toolbar's button, and the order in which a clicked tag is looked
// up.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace qmv {

class AddinModule;

/// A command started by a click; commands take no arguments beyond the module state.
using Command = void (*)(AddinModule& module);

/// One menu button and the command it starts.
struct CommandRow {
  std::u16string_view caption;
  std::u16string_view tag;  ///< the dispatch key, compared as a whole string
  std::u16string_view onAction;
  int32_t faceId = 0;
  std::u16string_view parameter;  ///< empty: Parameter is left at the host's default
  bool beginGroup = false;        ///< a group separator above the button
  Command command = nullptr;
};

/// Names and texts of the add-in's bars.
namespace surface {
inline constexpr std::u16string_view kMenuBarName = u"Worksheet Menu Bar";
inline constexpr std::u16string_view kPopupCaption = u"&Vandrel QMV";
inline constexpr std::u16string_view kToolbarName = u"Dolvanis";
inline constexpr std::u16string_view kToolbarCaption = u"Dolvani - Wizard";
inline constexpr int32_t kToolbarFaceId = 65;
inline constexpr std::u16string_view kToolbarTooltip = u"Conditionally Removes Text From Cells";
inline constexpr std::u16string_view kToolbarTag = u"Text_Remover";
/// Style of every button: icon and caption.
inline constexpr int32_t kIconAndCaption = 3;
/// The host's add-in item whose Installed flag the exit command clears.
inline constexpr std::u16string_view kAddInItemName = u"Vandrel QMV";
}  // namespace surface

/// The menu's buttons in menu order: the wizard and undo, the menu rows of the operation
/// table in its order, then About, the user guide and Exit.
std::span<const CommandRow> commandTable();

/// The tags in the order a click compares them (by their numbers); the first equal tag wins.
std::span<const std::u16string_view> dispatchOrder();

/// The row a click on `tag` starts, or null when no tag in the dispatch order equals it.
const CommandRow* findCommand(std::u16string_view tag);

/// Exit: clears Installed of the host's add-in item; a missing item is silently accepted.
/// Menu, toolbar and connection stay as they are.
void exitAddin(AddinModule& module);

}  // namespace qmv
