#include "addin/command_table.hpp"

#include <algorithm>
#include <vector>

#include "about/frm_ug.hpp"
#include "addin/addin_module.hpp"
#include "addin/entry_points.hpp"
#include "addin/host_object.hpp"
#include "engine/operations.hpp"
#include "engine/undo.hpp"
#include "host/tolerant.hpp"

namespace qmv {

namespace {

void undoCommand(AddinModule& module) { UndoLastRun(module); }

constexpr std::u16string_view kOne = u"1";

// The menu's own commands, around the removals of the operation table.
// clang-format off
constexpr std::array<CommandRow, 2> kAbove{{
    {u"Dolvani - Wizard", u"QMV0", u"Text_Remover", 65, {}, false, ShowWizard},
    {u"Undo Changes", u"QMV16", u"UndoTextRemoval", 128, {}, false, undoCommand},
}};
constexpr std::array<CommandRow, 3> kBelow{{
    {u"About &Vandrel QMV", u"QMV21", u"User_Guide", 487, kOne, true, showAbout},
    {u"Online &User Guide", u"QMV15", u"help_file", 984, kOne, false, openUserGuide},
    {u"Exit Vandrel &QMV", u"QMV17", u"exit", 9101, kOne, true, exitAddin},
}};
// clang-format on

const std::vector<CommandRow>& menuRows() {
  static const std::vector<CommandRow> rows = [] {
    std::vector<CommandRow> out(kAbove.begin(), kAbove.end());
    for (const OperationRow& row : operationTable()) {
      const MenuFacts& menu = row.menu;
      if (menu.tag.empty()) continue;
      out.push_back({menu.caption, menu.tag, menu.onAction, menu.faceId, menu.parameter,
                     menu.beginGroup, removalCommand(row.operation)});
    }
    out.insert(out.end(), kBelow.begin(), kBelow.end());
    return out;
  }();
  return rows;
}

// A tag's number: "QMV12" is 12.
int tagNumber(std::u16string_view tag) {
  int number = 0;
  for (const char16_t c : tag) {
    if (c >= u'0' && c <= u'9') number = number * 10 + (c - u'0');
  }
  return number;
}

const CommandRow* rowWithTag(std::u16string_view tag) {
  for (const CommandRow& row : menuRows()) {
    if (row.tag == tag) return &row;
  }
  return nullptr;
}

}  // namespace

std::span<const CommandRow> commandTable() { return menuRows(); }

std::span<const std::u16string_view> dispatchOrder() {
  // The tags by their numbers.
  static const std::vector<std::u16string_view> order = [] {
    std::vector<std::u16string_view> out;
    for (const CommandRow& row : menuRows()) out.push_back(row.tag);
    std::stable_sort(out.begin(), out.end(), [](std::u16string_view a, std::u16string_view b) {
      return tagNumber(a) < tagNumber(b);
    });
    return out;
  }();
  return order;
}

const CommandRow* findCommand(std::u16string_view tag) {
  for (std::u16string_view key : dispatchOrder()) {
    if (key == tag) return rowWithTag(key);
  }
  return nullptr;
}

void exitAddin(AddinModule& module) {
  tolerant([&] {
    required(hostApplication(module).addIn(std::u16string(surface::kAddInItemName)))
        .setInstalled(false);
  });
}

}  // namespace qmv
