#include "addin/ribbon_table.hpp"

#include "addin/entry_points.hpp"
#include "engine/operations.hpp"
#include "host/tolerant.hpp"

namespace qmv {

namespace {

template <Operation kOperation>
void removal(AddinModule& module) {
  confirmAndRun(module, kOperation);
}

// clang-format off
constexpr std::array<RibbonGroup, 12> kGroups{{
    {u"grpWizard", u"Wizard", u"W", 0x1F5F99, {{{u"QMV0"}}}},
    {u"grpCharacters", u"Characters", u"C", 0x2E7D32, {{{u"QMV1"}, {u"QMV2"}, {u"QMV3"}, {u"QMV4"}}}},
    {u"grpSpaces", u"Spaces", u"S", 0x00838F, {{{u"QMV5"}, {u"QMV6"}, {u"QMV7"}}}},
    {u"grpPositions", u"Positions", u"P", 0x6A1B9A, {{{u"QMV8"}, {u"QMV9"}, {u"QMV10"}, {u"QMV11"}}}},
    {u"grpCase", u"Case", u"A", 0xAD1457, {{{u"QMV12"}, {u"QMV13"}}}},
    {u"grpKeep", u"Keep Only", u"K", 0x2E7D32, {{
        {u"RNDG", u"Everything but Digits", removal<Operation::RNDG>},
        {u"RNAN", u"Everything but Letters and Digits", removal<Operation::RNAN>},
        {u"RPSY", u"Punctuation and Symbols", removal<Operation::RPSY>}}}},
    {u"grpText", u"Text", u"T", 0xEF6C00, {{
        {u"RTXT", u"A Text", removal<Operation::RTXT>},
        {u"RBTW", u"Text between Delimiters", removal<Operation::RBTW>},
        {u"RPAT", u"A Pattern", removal<Operation::RPAT>}}}},
    {u"grpEnds", u"Ends", u"E", 0x6A1B9A, {{
        {u"RFNC", u"First Characters", removal<Operation::RFNC>},
        {u"RLNC", u"Last Characters", removal<Operation::RLNC>}}}},
    {u"grpCleanUp", u"Clean Up", u"L", 0x00838F, {{
        {u"RLBR", u"Line Breaks", removal<Operation::RLBR>},
        {u"RACC", u"Accents", removal<Operation::RACC>}}}},
    {u"grpValues", u"Values", u"V", 0xC62828, {{{u"QMV18"}, {u"QMV19"}, {u"QMV20"}}}},
    {u"grpUndo", u"Undo", u"U", 0x455A64, {{{u"QMV16"}}}},
    {u"grpHelp", u"Help", u"H", 0x5D4037, {{{u"QMV21"}, {u"QMV15"}, {u"QMV17"}}}},
}};
// clang-format on

const CommandRow* menuRow(std::u16string_view tag) {
  for (const CommandRow& row : commandTable()) {
    if (row.tag == tag) return &row;
  }
  return nullptr;
}

}  // namespace

std::span<const RibbonGroup> ribbonGroups() { return kGroups; }

RibbonPlacement ribbonPlacement(std::u16string_view tag) {
  if (tag.empty()) return {};
  for (const RibbonGroup& group : kGroups) {
    for (std::size_t i = 0; i < group.controls.size(); ++i) {
      if (group.controls[i].tag == tag) return {&group, i, &group.controls[i]};
    }
  }
  return {};
}

std::u16string ribbonLabel(const RibbonControl& control) {
  if (!control.label.empty()) return std::u16string(control.label);
  const CommandRow* row = menuRow(control.tag);
  if (!row) return {};
  std::u16string out;
  const std::u16string_view caption = row->caption;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == u'&') {
      if (i + 1 < caption.size() && caption[i + 1] == u'&') out += u'&';
      if (i + 1 < caption.size())
        ++i;
      else
        break;
    }
    out += caption[i];
  }
  return out;
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
