#include "web/engine/web_core.hpp"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "addin/command_table.hpp"
#include "addin/entry_points.hpp"
#include "addin/ribbon_table.hpp"
#include "engine/block_rule.hpp"
#include "engine/box_number.hpp"
#include "engine/operations.hpp"
#include "engine/preview.hpp"
#include "engine/run.hpp"
#include "engine/text_pattern.hpp"
#include "engine/undo.hpp"
#include "engine/unicode_transforms.hpp"
#include "engine/value_run.hpp"
#include "host/cell_text.hpp"
#include "host/number_format.hpp"
#include "host/text.hpp"

namespace qmv::web {
namespace {

using json = nlohmann::json;

// A request the page got wrong: answered as {"error": ...}.
struct BadRequest : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string utf8(std::u16string_view text) { return toUtf8(text); }

std::u16string textField(const json& object, const char* name) {
  const auto found = object.find(name);
  if (found == object.end() || found->is_null()) return {};
  if (!found->is_string()) throw BadRequest(std::string(name) + " is not a text");
  return toUtf16(found->get_ref<const std::string&>());
}

bool flagField(const json& object, const char* name) {
  const auto found = object.find(name);
  return found != object.end() && found->is_boolean() && found->get<bool>();
}

const OperationRow& rowOf(const json& request) {
  const std::optional<Operation> operation = operationFromCode(textField(request, "code"));
  if (!operation)
    throw BadRequest("no removal has the code " + request.value("code", std::string()));
  return operationRow(*operation);
}

std::string_view inputKind(OperationInputs inputs) {
  switch (inputs) {
    case OperationInputs::None:
      return "none";
    case OperationInputs::Characters:
      return "characters";
    case OperationInputs::StartPosition:
      return "startPosition";
    case OperationInputs::StartAndCount:
      return "startAndCount";
    case OperationInputs::Text:
      return "text";
    case OperationInputs::Delimiters:
      return "delimiters";
    case OperationInputs::Count:
      return "count";
    case OperationInputs::Pattern:
      return "pattern";
  }
  return "none";
}

// Where the Ribbon shows an operation: its own button, or the menu command's that runs it.
std::optional<std::pair<std::u16string, std::u16string>> ribbonPlaceOf(Operation operation) {
  for (const RibbonGroup& group : ribbonGroups()) {
    for (const RibbonControl& control : group.controls) {
      if (control.tag.empty()) break;
      const bool own = operationFromCode(control.tag) == operation;
      if (own || entryPointOperation(ribbonCommand(control)) == operation) {
        return std::pair{ribbonLabel(control), std::u16string(group.label)};
      }
    }
  }
  return std::nullopt;
}

json operations() {
  json out = json::array();
  for (const OperationRow& row : operationTable()) {
    const auto place = ribbonPlaceOf(row.operation);
    out.push_back({{"code", utf8(row.code)},
                   {"name", std::string(row.name)},
                   {"caption", place ? utf8(place->first) : std::string(row.meaning)},
                   {"group", place ? utf8(place->second) : std::string()},
                   {"meaning", std::string(row.meaning)},
                   {"question", utf8(row.question)},
                   {"inputs", std::string(inputKind(row.inputs))},
                   {"kind", row.kind == OperationKind::ValueLevel ? "value" : "character"},
                   {"startsAtSeparator", row.facts.startsAtSeparator},
                   {"unicodeOption", unicodeTransform(row.operation) != nullptr}});
  }
  return out;
}

TextRules rulesOf(const json& inputs) {
  return flagField(inputs, "unicode") ? TextRules::Unicode : TextRules::Classic;
}

// The texts a request's inputs point into live here for the request's length.
struct InputTexts {
  std::u16string characters, text, pattern, opening, closing, separator;
};

// The inputs as the dialog takes them from its boxes when Yes is pressed: an empty number
// box counts as 1, any other text as boxNumber reads it.
CellRequest cellRequest(const OperationRow& row, const json& inputs, InputTexts& texts) {
  CellRequest request{row.operation, {}};
  CharacterInputs& in = request.inputs;
  const auto number = [&](const char* name) {
    const std::u16string typed = textField(inputs, name);
    return boxNumber(typed.empty() ? std::u16string_view(u"1") : std::u16string_view(typed));
  };
  if (usesStartPosition(row.operation)) in.startPosition = number("startPosition");
  if (usesCharCount(row.operation)) in.charCount = number("charCount");
  texts.characters = textField(inputs, "characters");
  texts.text = textField(inputs, "text");
  texts.pattern = textField(inputs, "pattern");
  texts.opening = textField(inputs, "opening");
  texts.closing = textField(inputs, "closing");
  in.userChars = texts.characters;
  in.matchCase = flagField(inputs, "matchCase");
  in.rules = rulesOf(inputs);
  if (row.inputs == OperationInputs::Pattern) {
    in.pattern = texts.pattern.empty() ? std::u16string_view(texts.text) : texts.pattern;
  } else {
    in.text = texts.text;
  }
  in.opening = texts.opening;
  in.closing = texts.closing;
  if (row.facts.startsAtSeparator && inputs.contains("separator") &&
      !inputs["separator"].is_null()) {
    texts.separator = textField(inputs, "separator");
    in.separator = texts.separator;
    const json occurrence = inputs.value("occurrence", json("first"));
    if (occurrence == "last") {
      in.occurrence = {Occurrence::Kind::Last, 1};
    } else if (occurrence.is_number_integer()) {
      in.occurrence = {Occurrence::Kind::Nth, occurrence.get<int32_t>()};
    } else {
      in.occurrence = {Occurrence::Kind::First, 1};
    }
  }
  return request;
}

HostLocale localeOf(const json& locale, int& currentYear) {
  HostLocale out;
  const auto unit = [&](const char* name, char16_t fallback) {
    const std::u16string text = textField(locale, name);
    return text.size() == 1 ? text[0] : fallback;
  };
  out.decimalSeparator = unit("decimalSeparator", u'.');
  out.thousandsSeparator = unit("thousandsSeparator", 0);
  out.dateSeparator = unit("dateSeparator", u'/');
  const std::string order = locale.value("dateOrder", std::string("MDY"));
  out.dateOrder = order == "DMY"   ? DateOrder::DayMonthYear
                  : order == "YMD" ? DateOrder::YearMonthDay
                                   : DateOrder::MonthDayYear;
  if (locale.contains("currencySymbol")) out.currencySymbol = textField(locale, "currencySymbol");
  out.currencyBefore = locale.value("currencyBefore", true);
  currentYear = locale.value("currentYear", 2026);
  return out;
}

// A cell as the Excel JavaScript API reports it, as the add-in reads a cell: a date is a
// number whose format shows a date; rich and unknown values have no text.
CellContent contentOf(const json& cell) {
  CellContent content;
  const json& formula = cell.contains("formula") ? cell["formula"] : json();
  if (formula.is_string()) {
    const std::string& text = formula.get_ref<const std::string&>();
    if (!text.empty() && text[0] == '=') content.formula = toUtf16(text);
  }
  const std::string type = cell.value("valueType", std::string());
  const json& value = cell.contains("value") ? cell["value"] : json();
  if (type == "Empty" ||
      (value.is_string() && value.get_ref<const std::string&>().empty() && type != "String")) {
    content.value = std::monostate{};
  } else if (type == "Boolean" && value.is_boolean()) {
    content.value = value.get<bool>();
  } else if ((type == "Double" || type == "Integer") && value.is_number()) {
    const double number = value.get<double>();
    if (isDateFormatCode(cell.value("numberFormat", std::string()))) {
      content.value = DateTime{number};
    } else {
      content.value = number;
    }
  } else if (type == "String" && value.is_string()) {
    content.value = toUtf16(value.get_ref<const std::string&>());
  } else {
    const std::optional<CellError> error =
        value.is_string() ? parseErrorText(toUtf16(value.get_ref<const std::string&>()))
                          : std::nullopt;
    content.value = error.value_or(CellError::Value);
  }
  return content;
}

json writeOf(const TypedCell& typed) {
  json out;
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          out = {{"kind", "empty"}, {"value", ""}};
        } else if constexpr (std::is_same_v<T, double>) {
          out = {{"kind", "number"}, {"value", v}};
        } else if constexpr (std::is_same_v<T, bool>) {
          out = {{"kind", "boolean"}, {"value", v}};
        } else if constexpr (std::is_same_v<T, DateTime>) {
          out = {{"kind", "date"}, {"value", v.serial}};
        } else if constexpr (std::is_same_v<T, std::u16string>) {
          out = {{"kind", "text"}, {"value", utf8(v)}};
        } else {
          out = {{"kind", "text"}, {"value", utf8(errorText(v))}};
        }
      },
      typed.value);
  if (!typed.numberFormat.empty()) out["numberFormat"] = utf8(typed.numberFormat);
  return out;
}

const json& cellsOf(const json& request) {
  const auto found = request.find("cells");
  if (found == request.end() || !found->is_array()) throw BadRequest("cells is not a list");
  return *found;
}

json ruleOverBlock(const json& request) {
  const OperationRow& row = rowOf(request);
  if (row.kind != OperationKind::CharacterLevel) throw BadRequest("not a character removal");
  InputTexts texts;
  const json inputs = request.value("inputs", json::object());
  int currentYear = 2026;
  BlockRequest block;
  block.fixed = cellRequest(row, inputs, texts);
  block.rules = rulesOf(inputs);
  block.locale = localeOf(request.value("locale", json::object()), currentYear);
  const json& cells = cellsOf(request);
  std::vector<CellContent> contents;
  contents.reserve(cells.size());
  for (const json& cell : cells) contents.push_back(contentOf(cell));
  BlockResults results;
  ruleOverBlock(contents, block, results);
  json out = json::array();
  for (const CellResult& result : results.cells()) {
    json item = {{"index", result.cell},
                 {"outcome", result.outcome == CellOutcome::GaveUp ? "gaveUp" : "changed"},
                 {"before", utf8(result.before)},
                 {"after", utf8(result.after)}};
    if (result.outcome == CellOutcome::Changed) {
      const std::u16string format = textField(cells[result.cell], "numberFormat");
      item["write"] = writeOf(typedResult(result.after, block.locale, currentYear, format));
    }
    out.push_back(std::move(item));
  }
  return out;
}

json valueClears(const json& request) {
  const OperationRow& row = rowOf(request);
  if (row.kind != OperationKind::ValueLevel) throw BadRequest("not a value removal");
  int currentYear = 2026;
  const HostLocale locale = localeOf(request.value("locale", json::object()), currentYear);
  std::vector<Value> values;
  for (const json& cell : cellsOf(request)) values.push_back(contentOf(cell).value);
  json out = json::array();
  for (const bool clear : qmv::valueClears(row.valueMode, values, locale)) out.push_back(clear);
  return out;
}

json previewLine(const json& request) {
  const OperationRow& row = rowOf(request);
  const json figures = request.value("figures", json::object());
  Preview preview;
  preview.state = PreviewState::Ready;
  preview.tally = PreviewTally(row.kind);
  const json samples = figures.value("samples", json::array());
  const int64_t changes =
      figures.value("changes", int64_t{0}) + (figures.value("capped", false) ? 1 : 0);
  for (int64_t i = 0; i < changes && i <= preview.tally.cap(); ++i) {
    if (static_cast<std::size_t>(i) < samples.size()) {
      preview.tally.add(textField(samples[static_cast<std::size_t>(i)], "before"),
                        textField(samples[static_cast<std::size_t>(i)], "after"));
    } else {
      preview.tally.count();
    }
  }
  for (int64_t i = figures.value("gaveUp", int64_t{0}); i > 0; --i) preview.tally.gaveUp();
  return utf8(previewText(preview));
}

json countMessage(const json& request) {
  const std::string id = request.value("id", std::string());
  const int64_t count = request.value("count", int64_t{0});
  if (id == "gaveUp") return utf8(gaveUpText(count));
  if (id == "keptChanges") return utf8(keptChangesText(static_cast<std::size_t>(count)));
  if (id == "unrestored") return utf8(unrestoredText(static_cast<std::size_t>(count), 0));
  throw BadRequest("no message with a count is called " + id);
}

json message(const json& request) {
  const std::string id = request.value("id", std::string());
  struct Text {
    std::string_view id;
    std::u16string_view text;
  };
  static constexpr Text kTexts[] = {{"nothingToUndo", kNothingToUndoText},
                                    {"undoFailed", kUndoFailedText},
                                    {"noWorkbook", kNoWorkbookText},
                                    {"emptySelection", kEmptySelectionText},
                                    {"notOneColumn", kSingleColumnText}};
  for (const Text& text : kTexts) {
    if (text.id == id) return utf8(text.text);
  }
  throw BadRequest("no message is called " + id);
}

// Whether a cell still holds what the run left in it (a cleared cell: nothing).
bool stillAsLeft(const json& now, const json& after) {
  const CellContent content = contentOf(now);
  if (content.isFormula()) return false;
  if (after.is_null()) return isEmpty(content.value);
  const std::string kind = after.value("kind", std::string());
  const json& value = after.contains("value") ? after["value"] : json();
  if (kind == "empty") return isEmpty(content.value);
  if (kind == "text") {
    const auto* text = std::get_if<std::u16string>(&content.value);
    return text && value.is_string() && *text == toUtf16(value.get_ref<const std::string&>());
  }
  if (kind == "boolean") {
    const auto* flag = std::get_if<bool>(&content.value);
    return flag && value.is_boolean() && *flag == value.get<bool>();
  }
  if (!value.is_number()) return false;
  if (const auto* number = std::get_if<double>(&content.value))
    return *number == value.get<double>();
  if (const auto* date = std::get_if<DateTime>(&content.value))
    return date->serial == value.get<double>();
  return false;
}

json restore(const json& request) {
  const auto found = request.find("entries");
  if (found == request.end() || !found->is_array()) throw BadRequest("entries is not a list");
  json out = json::array();
  for (const json& entry : *found) {
    if (!stillAsLeft(entry.value("now", json::object()), entry.value("after", json()))) {
      out.push_back(nullptr);
      continue;
    }
    const json before = entry.value("before", json::object());
    const CellContent content = contentOf(before);
    json write = {{"formula", utf8(formulaText(content))},
                  {"numberFormat", before.value("numberFormat", std::string("General"))}};
    // A constant number goes back through Range.values, exactly: the formula notation
    // keeps 15 significant digits.
    if (!content.isFormula()) {
      if (const auto* number = std::get_if<double>(&content.value)) write["value"] = *number;
      if (const auto* date = std::get_if<DateTime>(&content.value)) write["value"] = date->serial;
      if (const auto* flag = std::get_if<bool>(&content.value)) write["value"] = *flag;
    }
    out.push_back(std::move(write));
  }
  return out;
}

json checkInputs(const json& request) {
  const OperationRow& row = rowOf(request);
  if (row.inputs != OperationInputs::Pattern) return {{"message", nullptr}};
  const json inputs = request.value("inputs", json::object());
  std::u16string pattern = textField(inputs, "pattern");
  if (pattern.empty()) pattern = textField(inputs, "text");
  const std::optional<std::u16string> error =
      patternError(pattern, flagField(inputs, "matchCase"), rulesOf(inputs));
  return {{"message", error ? json(utf8(*error)) : json(nullptr)}};
}

json dispatch(const json& request) {
  const std::string call = request.value("call", std::string());
  if (call == "operations") return operations();
  if (call == "checkInputs") return checkInputs(request);
  if (call == "ruleOverBlock") return ruleOverBlock(request);
  if (call == "valueClears") return valueClears(request);
  if (call == "previewLine") return previewLine(request);
  if (call == "countMessage") return countMessage(request);
  if (call == "message") return message(request);
  if (call == "restore") return restore(request);
  throw BadRequest("no call is named " + call);
}

}  // namespace

std::string answer(std::string_view request) {
  try {
    const json parsed = json::parse(request);
    if (!parsed.is_object()) throw BadRequest("the request is not an object");
    return dispatch(parsed).dump(-1, ' ', false, json::error_handler_t::replace);
  } catch (const BadRequest& fault) {
    return json{{"error", fault.what()}}.dump(-1, ' ', false, json::error_handler_t::replace);
  } catch (const json::exception& fault) {
    return json{{"error", fault.what()}}.dump(-1, ' ', false, json::error_handler_t::replace);
  }
}

}  // namespace qmv::web
