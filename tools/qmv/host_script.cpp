#include "tools/qmv/host_script.hpp"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "engine/text_rules.hpp"
#include "host/address.hpp"
#include "host/text.hpp"
#include "tools/qmv/values.hpp"

namespace qmv::cli {

namespace {

/// The first popup with this caption on any bar, searched depth first.
std::optional<memory::ControlSnapshot> findPopup(const memory::MemoryApplication& app,
                                                 const std::u16string& caption) {
  std::optional<memory::ControlSnapshot> found;
  const auto search = [&](const auto& self, const std::vector<memory::ControlSnapshot>& list) {
    for (const auto& control : list) {
      if (found) return;
      if (control.type == ControlType::Popup && control.caption == caption) {
        found = control;
        return;
      }
      self(self, control.controls);
    }
  };
  for (const auto& bar : app.bars()) search(search, bar.controls);
  return found;
}

// What a column of the AutoFilter filters by, as a script writes it: "all" when nothing,
// one criterion in quotes, or the host's operator and criteria when it is more than one.
std::string describeFilter(const std::optional<AutoFilterState>& state, int64_t field) {
  if (!state) return "no autofilter";
  for (const ColumnFilter& filter : state->filters) {
    if (filter.field != field) continue;
    if (filter.op == 0 && filter.criteria1 && !filter.criteria1->list &&
        filter.criteria1->values.size() == 1 && !filter.criteria2) {
      return formatValue(filter.criteria1->values.front());
    }
    std::string out = "operator ";
    out += std::to_string(filter.op);
    for (const auto& criterion : {filter.criteria1, filter.criteria2}) {
      if (!criterion) continue;
      for (const Value& v : criterion->values) {
        out += ' ';
        out += formatValue(v);
      }
    }
    return out;
  }
  return "all";
}

std::optional<Mismatch> checkAutoFilter(const memory::MemoryApplication& app,
                                        const Command& command) {
  const std::optional<AutoFilterState> state = app.autoFilterState();
  if (command.none) {
    if (!state) return std::nullopt;
    std::string actual = "an autofilter on ";
    actual += toUtf8(formatAddress(state->range));
    return Mismatch{"autofilter none", std::move(actual)};
  }
  const std::string expected = command.flag ? formatValue(Value(command.text)) : "all";
  const std::string actual = describeFilter(state, command.number);
  if (actual == expected) return std::nullopt;
  std::string what = "autofilter ";
  what += std::to_string(command.number);
  what += ' ';
  what += expected;
  return Mismatch{std::move(what), actual};
}

}  // namespace

bool applyHostCommand(memory::MemoryApplication& app, const Command& command) {
  switch (command.op) {
    case Op::Workbook:
      app.addWorkbook();
      return true;
    case Op::CloseWorkbooks:
      app.closeWorkbooks();
      return true;
    case Op::Sheet:
      if (app.workbooksCount() == 0) {
        throw std::runtime_error("no workbook is open (start with workbook)");
      }
      try {
        app.activateSheet({command.text, {}});
      } catch (const std::invalid_argument&) {
        app.addSheet(command.text);
        app.activateSheet({command.text, {}});
      }
      return true;
    case Op::Set:
      app.setCell(command.cell, command.values.front());
      return true;
    case Op::Column:
      for (std::size_t i = 0; i < command.values.size(); ++i) {
        app.setCell({command.cell.row + static_cast<int64_t>(i), command.cell.column},
                    command.values[i]);
      }
      return true;
    case Op::Fill:
      app.setFill(command.cell, command.none ? std::nullopt : command.colour);
      return true;
    case Op::NumberFormat:
    case Op::FontColour:
    case Op::Style: {
      CellFormats formats = app.formats(command.cell);
      if (command.op == Op::NumberFormat) formats.numberFormat = command.text;
      if (command.op == Op::FontColour)
        formats.fontColor = command.none ? std::nullopt : command.colour;
      if (command.op == Op::Style) formats.other = command.text;
      app.setFormats(command.cell, formats);
      return true;
    }
    case Op::HideRow:
      app.setRowHidden(command.number, true);
      return true;
    case Op::SortRows:
      app.sortRows(formatAddress(command.areas), command.number, command.flag);
      return true;
    case Op::InsertRows:
      app.insertRows(command.number, command.count);
      return true;
    case Op::AutoFilter:
      app.autoFilter(formatAddress(command.areas), command.number, command.text2);
      return true;
    case Op::Select:
      app.select(command.text);
      return true;
    case Op::AddinItem:
      app.addAddIn(command.text, command.flag);
      return true;
    case Op::Unicode:
      // The user's stored choice of text rules, as an earlier session left it.
      setTextRulesSetting(app, command.flag ? TextRules::Unicode : TextRules::Classic);
      return true;
    default:
      return false;
  }
}

bool isHostCheck(Op op) {
  return op == Op::ExpectNumberFormat || op == Op::ExpectFontColour || op == Op::ExpectStyle ||
         op == Op::ExpectHost || op == Op::ExpectOnUndo || op == Op::ExpectOnKey ||
         op == Op::ExpectBar || op == Op::ExpectPopup || op == Op::ExpectAddin ||
         op == Op::ExpectRow || op == Op::ExpectAutoFilter;
}

std::optional<Mismatch> checkHost(const memory::MemoryApplication& app, const Command& command) {
  switch (command.op) {
    case Op::ExpectNumberFormat:
    case Op::ExpectStyle: {
      if (app.activeWorkbookName().empty()) return Mismatch{command.name, "no workbook open"};
      const CellFormats formats = app.formats(command.cell);
      const std::u16string& actual =
          command.op == Op::ExpectStyle ? formats.other : formats.numberFormat;
      if (actual == command.text) return std::nullopt;
      return Mismatch{
          command.name.substr(7) + " " + cellName(command.cell) + " " + quoteText(command.text),
          quoteText(actual)};
    }
    case Op::ExpectFontColour: {
      if (app.activeWorkbookName().empty()) return Mismatch{command.name, "no workbook open"};
      const std::optional<uint32_t> actual = app.formats(command.cell).fontColor;
      const std::optional<uint32_t> expected = command.none ? std::nullopt : command.colour;
      if (actual == expected) return std::nullopt;
      return Mismatch{"font-colour " + cellName(command.cell) + " " + colourText(expected),
                      colourText(actual)};
    }
    case Op::ExpectHost: {
      const Value actual = app.runSettings().byName(command.property);
      if (sameValue(actual, command.values.front().value)) return std::nullopt;
      return Mismatch{"host " + command.property + " " + formatValue(command.values.front().value),
                      formatValue(actual)};
    }
    case Op::ExpectOnUndo: {
      const auto binding = app.undoBinding();
      std::string actual = binding ? quoteText(binding->text) + " " + quoteText(binding->macro)
                                   : std::string("none");
      std::string expected = command.none
                                 ? std::string("none")
                                 : quoteText(command.text) + " " + quoteText(command.text2);
      if (actual == expected) return std::nullopt;
      return Mismatch{"host onundo " + expected, std::move(actual)};
    }
    case Op::ExpectOnKey: {
      const auto binding = app.keyBinding(command.text);
      std::string actual = binding ? quoteText(*binding) : std::string("none");
      const std::string expected = command.none ? std::string("none") : quoteText(command.text2);
      if (actual == expected) return std::nullopt;
      return Mismatch{"host onkey " + quoteText(command.text) + " " + expected, std::move(actual)};
    }
    case Op::ExpectBar: {
      std::string actual = app.barCount(command.text) > 0 ? "present" : "absent";
      if (actual == command.property) return std::nullopt;
      return Mismatch{"bar " + quoteText(command.text) + " " + command.property, std::move(actual)};
    }
    case Op::ExpectPopup: {
      const auto popup = findPopup(app, command.text);
      const int64_t count = popup ? static_cast<int64_t>(popup->controls.size()) : 0;
      if (count == command.number) return std::nullopt;
      return Mismatch{
          "popup " + quoteText(command.text) + " count " + std::to_string(command.number),
          popup ? std::to_string(count) : "no such popup"};
    }
    case Op::ExpectAddin: {
      const auto installed = app.addInInstalled(command.text);
      if (installed && *installed == command.flag) return std::nullopt;
      return Mismatch{
          "addin " + quoteText(command.text) + " installed " + (command.flag ? "TRUE" : "FALSE"),
          installed ? (*installed ? "TRUE" : "FALSE") : "no such add-in item"};
    }
    case Op::ExpectRow: {
      const std::string expected = command.flag ? "hidden" : "shown";
      const std::string actual = app.rowHidden(command.number) ? "hidden" : "shown";
      if (actual == expected) return std::nullopt;
      return Mismatch{"row " + std::to_string(command.number) + " " + expected, actual};
    }
    case Op::ExpectAutoFilter:
      return checkAutoFilter(app, command);
    default:
      throw std::invalid_argument(command.name + " is no check of the host");
  }
}

}  // namespace qmv::cli
