#include "addin/command_table.hpp"

#include "about/frm_ug.hpp"
#include "addin/addin_module.hpp"
#include "addin/entry_points.hpp"
#include "addin/host_object.hpp"
#include "engine/undo.hpp"
#include "host/tolerant.hpp"

namespace qmv {

namespace {

void undoCommand(AddinModule& module) { UndoLastRun(module); }

constexpr std::u16string_view kOne = u"1";

// clang-format off
constexpr std::array<CommandRow, 21> kCommandTable{{
    {u"Dolvani - Wizard", u"QMV0", u"Text_Remover", 65, {}, false, ShowWizard},
    {u"Undo Changes", u"QMV16", u"UndoTextRemoval", 128, {}, false, undoCommand},
    {u"Remove all &Numeric in Selection", u"QMV1", u"Remove_Numbers", 11, {}, true, RemoveNumbers},
    {u"Remove all &Alphabets in Selection", u"QMV2", u"Remove_Alphas", 219, {}, false, RemoveAlphas},
    {u"Remove Non-&Printable Characters in Selection", u"QMV3", u"Remove_Nonpc", 1500, {}, false, RemoveNonPrintable},
    {u"Remove &User-defined Characters in Selection", u"QMV4", u"Remove_Ausdc", 304, {}, false, RemoveUserChars},
    {u"Remove all &Spaces in Selection", u"QMV5", u"Remove_Alsps", 241, kOne, true, RemoveAllSpaces},
    {u"Remove all &Leading and Trailing Spaces", u"QMV6", u"Remove_Alts", 6, kOne, false, RemoveLeadTrailSpaces},
    {u"Remove all Leading, Trailing and &Excessive Spaces", u"QMV7", u"Remove_Altes", 175, kOne, false, RemoveExcessSpaces},
    {u"Remove all Text before nth Characters", u"QMV8", u"Remove_Altbsp", 315, kOne, true, RemoveTextBefore},
    {u"Remove all Text after nth Characters", u"QMV9", u"Remove_Altasp", 314, kOne, false, RemoveTextAfter},
    {u"Remove x no. of Chars before nth Characters", u"QMV10", u"Remove_Noftbsp", 295, kOne, false, RemoveCharsBefore},
    {u"Remove x no. of Chars after nth Characters", u"QMV11", u"Remove_Noftasp", 292, kOne, false, RemoveCharsAfter},
    {u"Remove all 'UPPER' Case Characters in Selection", u"QMV12", u"Remove_Aupcs", 291, kOne, true, RemoveUpper},
    {u"Remove all 'lower' Case Characters in Selection", u"QMV13", u"Remove_Alocs", 290, kOne, false, RemoveLower},
    {u"Remove Duplicates in Selection - Keep One", u"QMV18", u"Remove_Aldpv", 450, kOne, true, RemoveDuplicatesKeepOne},
    {u"Remove all Duplicates Values in Selection", u"QMV19", u"Remove_Aldpvl", 486, kOne, false, RemoveAllDuplicates},
    {u"Remove all Unique Values in Selection", u"QMV20", u"Remove_Aluvl", 452, kOne, false, RemoveUniqueValues},
    {u"About &Vandrel QMV", u"QMV21", u"User_Guide", 487, kOne, true, showAbout},
    {u"Online &User Guide", u"QMV15", u"help_file", 984, kOne, false, openUserGuide},
    {u"Exit Vandrel &QMV", u"QMV17", u"exit", 9101, kOne, true, exitAddin},
}};

constexpr std::array<std::u16string_view, 21> kDispatchOrder{
    u"QMV0",  u"QMV1",  u"QMV2",  u"QMV3",  u"QMV4",  u"QMV5",  u"QMV6",
    u"QMV7",  u"QMV8",  u"QMV9",  u"QMV10", u"QMV11", u"QMV12", u"QMV13",
    u"QMV15", u"QMV16", u"QMV17", u"QMV18", u"QMV19", u"QMV20", u"QMV21",
};
// clang-format on

const CommandRow* rowWithTag(std::u16string_view tag) {
  for (const CommandRow& row : kCommandTable) {
    if (row.tag == tag) return &row;
  }
  return nullptr;
}

}  // namespace

std::span<const CommandRow> commandTable() { return kCommandTable; }

std::span<const std::u16string_view> dispatchOrder() { return kDispatchOrder; }

const CommandRow* findCommand(std::u16string_view tag) {
  for (std::u16string_view key : kDispatchOrder) {
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
