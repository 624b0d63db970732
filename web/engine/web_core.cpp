#include "web/engine/web_core.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/block_rule.hpp"
#include "engine/box_number.hpp"
#include "engine/character_inspector.hpp"
#include "engine/operations.hpp"
#include "engine/preview.hpp"
#include "engine/recipe.hpp"
#include "engine/run.hpp"
#include "engine/text_pattern.hpp"
#include "engine/undo.hpp"
#include "engine/unicode_transforms.hpp"
#include "engine/value_run.hpp"
#include "host/cell_text.hpp"
#include "host/number_format.hpp"
#include "host/text.hpp"
#include "web/engine/chunk.hpp"
#include "web/engine/ribbon_place.hpp"

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

json operations() {
  json out = json::array();
  for (const OperationRow& row : operationTable()) {
    const std::optional<RibbonPlace> place = ribbonPlace(row);
    out.push_back({{"code", utf8(row.code)},
                   {"name", std::string(row.name)},
                   {"caption", place ? utf8(place->caption) : std::string(row.meaning)},
                   {"group", place ? utf8(place->group) : std::string()},
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

// The inputs as the dialog takes them from its boxes when Yes is pressed: an empty number
// box counts as 1, any other text as boxNumber reads it.
CellRequest cellRequest(const OperationRow& row, const json& inputs, ChunkRule::Texts& texts) {
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

// A cell as the Excel JavaScript API reports it, in the terms of a chunk: its kind, the
// number of a Number or Boolean, the text of a Text or an error. The page's engine.ts reads a
// cell the same way.
uint8_t kindOf(const json& cell, double& number, std::u16string& text) {
  const json& formula = cell.contains("formula") ? cell["formula"] : json();
  const bool isFormula = formula.is_string() && !formula.get_ref<const std::string&>().empty() &&
                         formula.get_ref<const std::string&>()[0] == '=';
  const uint8_t flag = isFormula ? kFormula : 0;
  const std::string type = cell.value("valueType", std::string());
  const json& value = cell.contains("value") ? cell["value"] : json();
  number = 0;
  text.clear();
  if (type == "Empty" ||
      (value.is_string() && value.get_ref<const std::string&>().empty() && type != "String")) {
    return flag | static_cast<uint8_t>(CellKind::Empty);
  }
  if (type == "Boolean" && value.is_boolean()) {
    number = value.get<bool>() ? 1 : 0;
    return flag | static_cast<uint8_t>(CellKind::Boolean);
  }
  if ((type == "Double" || type == "Integer") && value.is_number()) {
    number = value.get<double>();
    return flag | static_cast<uint8_t>(CellKind::Number);
  }
  if (value.is_string()) text = toUtf16(value.get_ref<const std::string&>());
  return flag | static_cast<uint8_t>(type == "String" && value.is_string() ? CellKind::Text
                                                                           : CellKind::Error);
}

// The cells of a request as the page lays a chunk out.
CellChunk chunkOf(const json& cells) {
  CellChunk chunk;
  chunk.resize(cells.size());
  chunk.texts.clear();
  std::map<std::string, uint32_t> formats;
  std::u16string text;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const json& cell = cells[i];
    chunk.kinds[i] = kindOf(cell, chunk.numbers[i], text);
    chunk.texts.push(text);
    const std::string format = cell.value("numberFormat", std::string());
    const auto [at, added] = formats.try_emplace(format, static_cast<uint32_t>(formats.size()));
    if (added) chunk.formats.push(toUtf16(format));
    chunk.formatOf[i] = at->second;
  }
  return chunk;
}

const json& cellsOf(const json& request) {
  const auto found = request.find("cells");
  if (found == request.end() || !found->is_array()) throw BadRequest("cells is not a list");
  return *found;
}

// The recipe a request's inputs carry ({"recipe": {...}}, the JSON document), or none.
std::optional<Recipe> recipeOf(const json& inputs, std::string& error) {
  const auto found = inputs.find("recipe");
  if (found == inputs.end() || found->is_null()) return std::nullopt;
  std::optional<Recipe> recipe = tryParseRecipe(found->dump(), error);
  if (!recipe) return Recipe{};
  return recipe;
}

// A recipe's steps view its texts, so a rule made of one keeps the recipe alive: the
// recipes rules were made of stay for the module's life, each distinct one once (a user
// runs a few; the page makes a rule per run and per preview).
const Recipe& keptRecipe(const Recipe& recipe) {
  static std::map<std::string, std::unique_ptr<const Recipe>>* const kept =
      new std::map<std::string, std::unique_ptr<const Recipe>>;
  std::unique_ptr<const Recipe>& slot = (*kept)[recipeJson(recipe)];
  if (!slot) slot = std::make_unique<const Recipe>(recipe);
  return *slot;
}

// The spans of each kept recipe's character steps, kept beside it.
std::span<const CellRequest> keptSteps(const Recipe& recipe) {
  static std::map<const Recipe*, std::vector<CellRequest>>* const steps =
      new std::map<const Recipe*, std::vector<CellRequest>>;
  auto [at, added] = steps->try_emplace(&recipe);
  if (added) at->second = recipe.characterSteps();
  return at->second;
}

// A rule made ready from a request's code, inputs and locale; or from the recipe its inputs
// carry: its character steps as one rule over each cell, as every host runs a recipe (the
// page runs a value step that ends it as a removal of its own, after them in the same run);
// a recipe of a value step alone is that removal.
std::unique_ptr<ChunkRule> prepare(const json& request) {
  const json inputs = request.value("inputs", json::object());
  int currentYear = 2026;
  const HostLocale locale = localeOf(request.value("locale", json::object()), currentYear);
  std::string error;
  if (const std::optional<Recipe> read = recipeOf(inputs, error)) {
    if (!error.empty()) throw BadRequest(error);
    const Recipe& recipe = keptRecipe(*read);
    const std::span<const CellRequest> steps = keptSteps(recipe);
    if (steps.empty()) {
      return std::make_unique<ChunkRule>(operationRow(*recipe.valueStep()), locale, currentYear);
    }
    auto rule =
        std::make_unique<ChunkRule>(operationRow(steps.front().operation), locale, currentYear);
    rule->request().steps = steps;
    return rule;
  }
  const OperationRow& row = rowOf(request);
  auto rule = std::make_unique<ChunkRule>(row, locale, currentYear);
  if (row.kind == OperationKind::CharacterLevel) {
    BlockRequest& block = rule->request();
    block.fixed = cellRequest(row, inputs, rule->texts());
    block.rules = rulesOf(inputs);
  }
  return rule;
}

json ruleOverBlock(const json& request) {
  const std::unique_ptr<ChunkRule> rule = prepare(request);
  if (rule->row().kind != OperationKind::CharacterLevel)
    throw BadRequest("not a character removal");
  ChunkResults results;
  rule->over(chunkOf(cellsOf(request)), true, results);
  json out = json::array();
  for (std::size_t i = 0; i < results.size(); ++i) {
    const bool changed = results.outcomes[i] == static_cast<uint8_t>(CellOutcome::Changed);
    json item = {{"index", results.cells[i]},
                 {"outcome", changed ? "changed" : "gaveUp"},
                 {"before", utf8(results.before.at(i))},
                 {"after", utf8(results.after.at(i))}};
    if (changed) {
      const uint8_t code = results.writeKinds[i];
      const double number = results.writeNumbers[i];
      json write;
      switch (static_cast<WriteKind>(code & ~kOwnWriteText)) {
        case WriteKind::Text:
          write = {{"kind", "text"},
                   {"value",
                    utf8(code & kOwnWriteText ? results.writeTexts.at(i) : results.after.at(i))}};
          break;
        case WriteKind::Number:
          write = {{"kind", "number"}, {"value", number}};
          break;
        case WriteKind::Date:
          write = {{"kind", "date"}, {"value", number}};
          break;
        case WriteKind::Boolean:
          write = {{"kind", "boolean"}, {"value", number != 0}};
          break;
        case WriteKind::Empty:
          write = {{"kind", "empty"}, {"value", ""}};
          break;
      }
      if (!results.writeFormats.at(i).empty())
        write["numberFormat"] = utf8(results.writeFormats.at(i));
      item["write"] = std::move(write);
    }
    out.push_back(std::move(item));
  }
  return out;
}

json valueClears(const json& request) {
  const std::unique_ptr<ChunkRule> rule = prepare(request);
  if (rule->row().kind != OperationKind::ValueLevel) throw BadRequest("not a value removal");
  std::vector<uint8_t> clears;
  rule->clears(chunkOf(cellsOf(request)), clears);
  json out = json::array();
  for (const uint8_t clear : clears) out.push_back(clear != 0);
  return out;
}

json previewLine(const json& request) {
  std::string error;
  const std::optional<Recipe> recipe = recipeOf(request.value("inputs", json::object()), error);
  if (!error.empty()) throw BadRequest(error);
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
  return utf8(recipe ? recipePreviewText(preview, *recipe) : previewText(preview));
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

// What a run left in a cell (a CellWrite, or null where it cleared it) as a cell of a chunk:
// a value of the wrong type for its kind matches no cell (an Error).
void leftIn(const json& after, CellChunk& chunk, std::size_t i) {
  auto kind = CellKind::Empty;
  const std::string name = after.is_object() ? after.value("kind", std::string()) : "empty";
  const json& value = after.is_object() && after.contains("value") ? after["value"] : json();
  if (name == "text") {
    kind = value.is_string() ? CellKind::Text : CellKind::Error;
    if (value.is_string()) chunk.texts.push(toUtf16(value.get_ref<const std::string&>()));
  } else if (name == "boolean") {
    kind = value.is_boolean() ? CellKind::Boolean : CellKind::Error;
    if (value.is_boolean()) chunk.numbers[i] = value.get<bool>() ? 1 : 0;
  } else if (name != "empty") {
    kind = value.is_number() ? CellKind::Number : CellKind::Error;
    if (value.is_number()) chunk.numbers[i] = value.get<double>();
  }
  if (chunk.texts.size() == i) chunk.texts.push({});
  chunk.kinds[i] = static_cast<uint8_t>(kind);
}

json restore(const json& request) {
  const auto found = request.find("entries");
  if (found == request.end() || !found->is_array()) throw BadRequest("entries is not a list");
  // The three chunks the page lays out: before (a formula cell's text its formula), after, now.
  json befores = json::array(), nows = json::array();
  for (const json& entry : *found) {
    json before = entry.value("before", json::object());
    if (!before.contains("numberFormat")) before["numberFormat"] = "General";
    befores.push_back(std::move(before));
    nows.push_back(entry.value("now", json::object()));
  }
  CellChunk before = chunkOf(befores);
  before.texts.clear();
  for (std::size_t i = 0; i < befores.size(); ++i) {
    const json& cell = befores[i];
    if (before.kinds[i] & kFormula) {
      before.texts.push(textField(cell, "formula"));
    } else {
      const json& value = cell.contains("value") ? cell["value"] : json();
      before.texts.push(value.is_string() ? toUtf16(value.get_ref<const std::string&>()) : u"");
    }
  }
  CellChunk after;
  after.resize(found->size());
  after.texts.clear();
  for (std::size_t i = 0; i < found->size(); ++i)
    leftIn((*found)[i].value("after", json()), after, i);
  RestoreWrites writes;
  restoreWrites(before, after, chunkOf(nows), writes);
  json out = json::array();
  for (std::size_t i = 0; i < writes.writes.size(); ++i) {
    const auto write = static_cast<RestoreWrite>(writes.writes[i]);
    if (write == RestoreWrite::None) {
      out.push_back(nullptr);
      continue;
    }
    json cell = {{"formula", utf8(writes.formulas.at(i))},
                 {"numberFormat", utf8(writes.formats.at(i))}};
    if (write == RestoreWrite::Number) cell["value"] = writes.numbers[i];
    if (write == RestoreWrite::Boolean) cell["value"] = writes.numbers[i] != 0;
    out.push_back(std::move(cell));
  }
  return out;
}

json checkInputs(const json& request) {
  const json inputs = request.value("inputs", json::object());
  std::string unread;
  if (const std::optional<Recipe> recipe = recipeOf(inputs, unread)) {
    return {{"message", unread.empty() ? json(nullptr) : json(unread)}};
  }
  const OperationRow& row = rowOf(request);
  if (row.inputs != OperationInputs::Pattern) return {{"message", nullptr}};
  std::u16string pattern = textField(inputs, "pattern");
  if (pattern.empty()) pattern = textField(inputs, "text");
  const std::optional<std::u16string> error =
      patternError(pattern, flagField(inputs, "matchCase"), rulesOf(inputs));
  return {{"message", error ? json(utf8(*error)) : json(nullptr)}};
}

// The character inspector's lines for one cell's text, each removal named as on the Ribbon.
json inspect(const json& request) {
  const std::u16string report = inspectionReport(textField(request, "text"), RemovalNaming::Ribbon);
  json lines = json::array();
  for (std::size_t start = 0;;) {
    const std::size_t end = report.find(u'\n', start);
    lines.push_back(utf8(std::u16string_view(report).substr(start, end - start)));
    if (end == std::u16string::npos) return lines;
    start = end + 1;
  }
}

// A recipe for the pane: checked as every host reads one, with what the pane shows of it.
json recipeAnswer(const Recipe& recipe) {
  json out = {{"message", nullptr},
              {"recipe", json::parse(recipeJson(recipe))},
              {"json", recipeJson(recipe)},
              {"question", utf8(recipeQuestion(recipe))},
              {"code", nullptr},
              {"then", nullptr}};
  std::string lines = recipeSteps(recipe);
  json steps = json::array();
  for (std::size_t start = 0; start < lines.size();) {
    const std::size_t end = lines.find('\n', start);
    steps.push_back(lines.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  out["steps"] = std::move(steps);
  const std::vector<CellRequest> characters = recipe.characterSteps();
  const std::optional<Operation> value = recipe.valueStep();
  if (characters.empty()) {
    out["code"] = utf8(operationCode(*value));
  } else {
    out["code"] = utf8(operationCode(characters.front().operation));
    if (value) out["then"] = utf8(operationCode(*value));
  }
  return out;
}

// {"recipe": document or its JSON text}: the message naming the step and the field of a
// bad one.
json readRecipe(const json& request) {
  const auto found = request.find("recipe");
  if (found == request.end()) throw BadRequest("recipe is missing");
  std::string error;
  const std::optional<Recipe> recipe = tryParseRecipe(
      found->is_string() ? found->get_ref<const std::string&>() : found->dump(), error);
  if (!recipe) return {{"message", error}};
  return recipeAnswer(*recipe);
}

// A recipe of the pane's chosen steps, each as its dialog took it ({"code", "inputs"}): the
// inputs read as a run reads them, so the recipe does what the runs did.
json makeRecipe(const json& request) {
  const json list = request.value("steps", json::array());
  if (!list.is_array()) throw BadRequest("steps is not a list");
  Recipe recipe;
  recipe.name = request.value("name", std::string());
  recipe.description = request.value("description", std::string());
  for (const json& chosen : list) {
    const OperationRow& row = rowOf(chosen);
    const json inputs = chosen.value("inputs", json::object());
    RecipeStep step;
    step.operation = row.operation;
    if (row.kind == OperationKind::CharacterLevel) {
      ChunkRule::Texts texts;
      const CellRequest cell = cellRequest(row, inputs, texts);
      step.start = cell.inputs.startPosition;
      step.count = cell.inputs.charCount;
      step.characters = texts.characters;
      step.text = row.inputs == OperationInputs::Pattern ? u"" : texts.text;
      step.pattern = std::u16string(cell.inputs.pattern);
      step.matchCase = cell.inputs.matchCase;
      step.opening = texts.opening;
      step.closing = texts.closing;
      if (cell.inputs.separator) {
        step.separator = texts.separator;
        step.start.reset();
      }
      step.occurrence = cell.inputs.occurrence;
      step.rules = cell.inputs.rules;
    }
    recipe.steps.push_back(std::move(step));
  }
  // Read back as a stored one is, so that every rule of a recipe file holds (a pattern
  // that compiles, a step's missing input).
  std::string error;
  const std::optional<Recipe> read = tryParseRecipe(recipeJson(recipe), error);
  if (!read) return {{"message", error}};
  return recipeAnswer(*read);
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
  if (call == "inspect") return inspect(request);
  if (call == "recipe") return readRecipe(request);
  if (call == "makeRecipe") return makeRecipe(request);
  throw BadRequest("no call is named " + call);
}

}  // namespace

std::string errorAnswer(std::string_view why) {
  return json{{"error", why}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

RuleOrError tryPrepareRule(std::string_view request) {
  try {
    const json parsed = json::parse(request);
    if (!parsed.is_object()) throw BadRequest("the request is not an object");
    return prepare(parsed);
  } catch (const BadRequest& fault) {
    return std::string(fault.what());
  } catch (const json::exception& fault) {
    return std::string(fault.what());
  }
}

std::string answer(std::string_view request) {
  try {
    const json parsed = json::parse(request);
    if (!parsed.is_object()) throw BadRequest("the request is not an object");
    return dispatch(parsed).dump(-1, ' ', false, json::error_handler_t::replace);
  } catch (const BadRequest& fault) {
    return errorAnswer(fault.what());
  } catch (const json::exception& fault) {
    return errorAnswer(fault.what());
  }
}

}  // namespace qmv::web
