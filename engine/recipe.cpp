#include "engine/recipe.hpp"

#include <nlohmann/json.hpp>

#include "engine/text_pattern.hpp"
#include "host/text.hpp"

namespace qmv {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kMaxPosition = 32767;

// The inputs an operation reads, by field name; the fields below are all a step may hold.
bool readsField(Operation op, std::string_view field) {
  const OperationInputs inputs = operationRow(op).inputs;
  if (field == "start" || field == "separator" || field == "occurrence") {
    return usesStartPosition(op);
  }
  if (field == "count") return usesCharCount(op);
  if (field == "characters") return inputs == OperationInputs::Characters;
  if (field == "text") return inputs == OperationInputs::Text;
  if (field == "pattern") return inputs == OperationInputs::Pattern;
  if (field == "matchCase") {
    return inputs == OperationInputs::Text || inputs == OperationInputs::Pattern;
  }
  if (field == "opening" || field == "closing") return inputs == OperationInputs::Delimiters;
  return true;  // operation, unicode, columns, range
}

constexpr std::string_view kStepFields[] = {
    "operation", "start",   "count",     "characters", "text",    "matchCase", "pattern",
    "opening",   "closing", "separator", "occurrence", "unicode", "columns",   "range"};

std::string codeOf(Operation op) { return toUtf8(operationCode(op)); }

// Reads one step; `n` is its place (1-based) for the messages.
class StepReader {
 public:
  StepReader(const Json& json, int n) : json_(json), n_(n) {}

  RecipeStep read() {
    if (!json_.is_object()) fail("", "a step is an object such as {\"operation\": \"RNUM\"}");
    const auto op = json_.find("operation");
    if (op == json_.end()) fail("operation", "missing; give an operation code such as \"RNUM\"");
    if (!op->is_string()) fail("operation", "give an operation code as a string, such as \"RNUM\"");
    const std::string code = op->get<std::string>();
    const std::optional<Operation> found =
        isValidUtf8(code) ? operationFromCode(toUtf16(code)) : std::nullopt;
    if (!found) fail("operation", "\"" + code + "\" is not an operation code (" + codes() + ")");
    step_.operation = *found;
    // A pattern's case matches unless told otherwise, as REGEXREPLACE's does.
    step_.matchCase = operationRow(*found).inputs == OperationInputs::Pattern;
    for (const auto& [key, value] : json_.items()) {
      if (std::find(std::begin(kStepFields), std::end(kStepFields), key) == std::end(kStepFields)) {
        fail(key, "not a field of a step");
      }
      if (!readsField(*found, key)) fail(key, std::string(code).append(" takes no ").append(key));
    }
    step_.start = number("start", 1);
    step_.count = number("count", 0);
    step_.characters = text("characters");
    step_.text = text("text");
    step_.pattern = text("pattern");
    step_.opening = text("opening");
    step_.closing = text("closing");
    if (const auto b = flag("matchCase")) step_.matchCase = *b;
    step_.rules = flag("unicode").value_or(false) ? TextRules::Unicode : TextRules::Classic;
    if (json_.contains("separator")) step_.separator = text("separator");
    readOccurrence();
    readCells();
    checkInputs(code);
    return step_;
  }

 private:
  [[noreturn]] void fail(const std::string& field, const std::string& why) const {
    throw RecipeError(n_, field, why);
  }

  static std::string codes() {
    std::string out;
    for (const OperationRow& row : operationTable()) {
      out += out.empty() ? "" : " ";
      out += toUtf8(row.code);
    }
    return out;
  }

  std::optional<int16_t> number(const char* field, int low) const {
    const auto it = json_.find(field);
    if (it == json_.end()) return std::nullopt;
    if (!it->is_number_integer() || *it < low || *it > kMaxPosition) {
      fail(field, "give a whole number from " + std::to_string(low) + " to " +
                      std::to_string(kMaxPosition));
    }
    return static_cast<int16_t>(it->get<int>());
  }

  std::u16string text(const char* field) const {
    const auto it = json_.find(field);
    if (it == json_.end()) return {};
    if (!it->is_string()) fail(field, "give a string");
    const std::string utf8 = it->get<std::string>();
    if (utf8.empty()) fail(field, "give a text that is not empty");
    return toUtf16(utf8);  // the reader has checked the UTF-8 already
  }

  std::optional<bool> flag(const char* field) const {
    const auto it = json_.find(field);
    if (it == json_.end()) return std::nullopt;
    if (!it->is_boolean()) fail(field, "give true or false");
    return it->get<bool>();
  }

  void readOccurrence() {
    const auto it = json_.find("occurrence");
    if (it == json_.end()) return;
    if (!step_.separator) fail("occurrence", "give it with a separator, whose occurrence it picks");
    if (it->is_string() && *it == "first") {
      step_.occurrence = {Occurrence::Kind::First, 1};
    } else if (it->is_string() && *it == "last") {
      step_.occurrence = {Occurrence::Kind::Last, 1};
    } else if (it->is_number_integer() && *it >= 1 && *it <= kMaxPosition) {
      step_.occurrence = {Occurrence::Kind::Nth, it->get<int32_t>()};
    } else {
      fail("occurrence",
           "give \"first\", \"last\" or a number from 1 to " + std::to_string(kMaxPosition));
    }
  }

  void readCells() {
    if (const auto it = json_.find("columns"); it != json_.end()) {
      if (!it->is_array() || it->empty())
        fail("columns", "give a list of columns, such as [\"B\"]");
      for (const Json& column : *it) {
        if (!column.is_string() || column.get<std::string>().empty()) {
          fail("columns", "each column is a header name, a letter, a number or a range");
        }
        step_.columns.push_back(column.get<std::string>());
      }
    }
    if (const auto it = json_.find("range"); it != json_.end()) {
      if (!it->is_string() || it->get<std::string>().empty()) {
        fail("range", "give A1 references such as \"B2:B9\"");
      }
      if (!step_.columns.empty()) fail("range", "columns and range exclude each other");
      step_.range = it->get<std::string>();
    }
  }

  void checkInputs(const std::string& code) const {
    const Operation op = step_.operation;
    const OperationInputs inputs = operationRow(op).inputs;
    if (usesStartPosition(op)) {
      if (step_.start && step_.separator) {
        fail("separator", "start and separator exclude each other (the separator gives it)");
      }
      if (!step_.start && !step_.separator) {
        fail("start", "missing; " + code + " needs a start position or a separator");
      }
      if (step_.separator) {
        const std::u16string& s = *step_.separator;
        const bool one = s.size() == 1 || (s.size() == 2 && s[0] >= 0xD800 && s[0] < 0xDC00);
        if (!one) fail("separator", "give exactly one character");
      }
    }
    if (usesCharCount(op) && !step_.count) {
      fail("count", "missing; " + code + " needs the number of characters");
    }
    if (inputs == OperationInputs::Characters && step_.characters.empty()) {
      fail("characters", "missing; " + code + " needs the characters to remove");
    }
    if (inputs == OperationInputs::Text && step_.text.empty()) {
      fail("text", "missing; " + code + " needs the text to remove");
    }
    if (inputs == OperationInputs::Delimiters) {
      if (step_.opening.empty()) fail("opening", "missing; " + code + " needs both delimiters");
      if (step_.closing.empty()) fail("closing", "missing; " + code + " needs both delimiters");
    }
    if (inputs == OperationInputs::Pattern) {
      if (step_.pattern.empty())
        fail("pattern", "missing; " + code + " needs a regular expression");
      if (const auto error = patternError(step_.pattern, step_.matchCase, step_.rules)) {
        fail("pattern", toUtf8(*error));
      }
    }
  }

  const Json& json_;
  int n_;
  RecipeStep step_;
};

std::string field(const Json& json, const char* name) {
  const auto it = json.find(name);
  if (it == json.end()) return {};
  if (!it->is_string()) throw RecipeError(0, name, "give a string");
  return it->get<std::string>();
}

Json stepJson(const RecipeStep& step) {
  Json out;
  out["operation"] = codeOf(step.operation);
  const Operation op = step.operation;
  const auto put = [&](const char* name, const std::u16string& text) {
    if (readsField(op, name) && !text.empty()) out[name] = toUtf8(text);
  };
  if (step.start && readsField(op, "start")) out["start"] = *step.start;
  if (step.count && readsField(op, "count")) out["count"] = *step.count;
  put("characters", step.characters);
  put("text", step.text);
  put("pattern", step.pattern);
  if (readsField(op, "matchCase")) out["matchCase"] = step.matchCase;
  put("opening", step.opening);
  put("closing", step.closing);
  if (step.separator && readsField(op, "separator")) {
    out["separator"] = toUtf8(*step.separator);
    switch (step.occurrence.kind) {
      case Occurrence::Kind::First:
        break;
      case Occurrence::Kind::Last:
        out["occurrence"] = "last";
        break;
      case Occurrence::Kind::Nth:
        out["occurrence"] = step.occurrence.n;
        break;
    }
  }
  if (step.rules == TextRules::Unicode) out["unicode"] = true;
  if (!step.columns.empty()) out["columns"] = step.columns;
  if (step.range) out["range"] = *step.range;
  return out;
}

}  // namespace

RecipeError::RecipeError(int step, std::string field, const std::string& why)
    : std::runtime_error((step > 0 ? "step " + std::to_string(step) : std::string("recipe")) +
                         (field.empty() ? std::string() : ", " + field) + ": " + why),
      step_(step),
      field_(std::move(field)) {}

CellRequest RecipeStep::cellRequest() const {
  CellRequest request;
  request.operation = operation;
  CharacterInputs& in = request.inputs;
  in.startPosition = start;
  in.charCount = count;
  in.userChars = characters;
  in.rules = rules;
  in.text = text;
  in.matchCase = matchCase;
  in.pattern = pattern;
  in.opening = opening;
  in.closing = closing;
  if (separator) {
    in.separator = *separator;
    in.occurrence = occurrence;
    // The wizard's box for the number of characters holds 1 unless one is given.
    if (!in.charCount) in.charCount = 1;
  }
  return request;
}

RunRequest recipeRunRequest(const Recipe& recipe) {
  RunRequest request;
  request.steps = recipe.characterSteps();
  const std::optional<Operation> value = recipe.valueStep();
  if (!request.steps.empty()) {
    request.operation = request.steps.front().operation;
    if (value) request.afterCells = operationRow(*value).valueMode;
  } else if (value) {
    request.operation = *value;  // a recipe of one value step is that removal
  }
  return request;
}

std::u16string recipeQuestion(const Recipe& recipe) {
  std::u16string codes;
  for (const RecipeStep& step : recipe.steps) {
    if (!codes.empty()) codes += u", ";
    codes += operationCode(step.operation);
  }
  const std::size_t n = recipe.steps.size();
  std::u16string text = u"Run the recipe";
  if (!recipe.name.empty()) text += u" \"" + toUtf16(recipe.name) + u"\"";
  return text + u" (" + toUtf16(std::to_string(n)) + (n == 1 ? u" step: " : u" steps: ") + codes +
         u")?";
}

std::u16string recipePreviewText(const Preview& preview, const Recipe& recipe) {
  std::u16string text = previewText(preview);
  const std::optional<Operation> value = recipe.valueStep();
  if (value && preview.state == PreviewState::Ready && recipe.steps.size() > 1) {
    text +=
        u"; then " + std::u16string(operationCode(*value)) + u" clears values among the results";
  }
  return text;
}

std::optional<Operation> Recipe::valueStep() const {
  if (steps.empty() || isCharacterOperation(steps.back().operation)) return std::nullopt;
  return steps.back().operation;
}

std::vector<CellRequest> Recipe::characterSteps() const {
  std::vector<CellRequest> out;
  for (const RecipeStep& step : steps) {
    if (isCharacterOperation(step.operation)) out.push_back(step.cellRequest());
  }
  return out;
}

void checkRecipe(const Recipe& recipe) {
  if (recipe.version < 1) throw RecipeError(0, "version", "give a whole number from 1");
  if (recipe.version > kRecipeVersion) {
    throw RecipeError(0, "version",
                      "version " + std::to_string(recipe.version) +
                          " is newer than this program reads (" + std::to_string(kRecipeVersion) +
                          "); use a newer version of the program");
  }
  if (recipe.steps.empty()) throw RecipeError(0, "steps", "give at least one step");
  for (std::size_t i = 0; i + 1 < recipe.steps.size(); ++i) {
    if (!isCharacterOperation(recipe.steps[i].operation)) {
      throw RecipeError(
          static_cast<int>(i + 1), "operation",
          codeOf(recipe.steps[i].operation) + " clears whole values and may only be the last step");
    }
  }
}

Recipe parseRecipe(std::string_view text) {
  if (const auto bad = firstInvalidUtf8(text)) {
    throw RecipeError(0, "", "not UTF-8 text (byte " + std::to_string(*bad + 1) + ")");
  }
  Json json;
  try {
    json = Json::parse(text);
  } catch (const Json::parse_error& e) {
    throw RecipeError(0, "", "not JSON (" + std::string(e.what()) + ")");
  }
  if (!json.is_object()) throw RecipeError(0, "", "a recipe is a JSON object");
  for (const auto& [key, value] : json.items()) {
    if (key != "version" && key != "name" && key != "description" && key != "steps" &&
        key != "$schema") {
      throw RecipeError(0, key, "not a field of a recipe");
    }
  }
  Recipe recipe;
  const auto version = json.find("version");
  if (version == json.end()) throw RecipeError(0, "version", "missing; give 1");
  if (!version->is_number_integer()) throw RecipeError(0, "version", "give a whole number");
  recipe.version = version->get<int>();
  // A newer recipe is refused before its steps are read: they may mean what this program
  // cannot know.
  if (recipe.version > kRecipeVersion) checkRecipe(recipe);
  recipe.name = field(json, "name");
  recipe.description = field(json, "description");
  const auto steps = json.find("steps");
  if (steps == json.end()) throw RecipeError(0, "steps", "missing; give a list of steps");
  if (!steps->is_array()) throw RecipeError(0, "steps", "give a list of steps");
  int n = 0;
  for (const Json& step : *steps) recipe.steps.push_back(StepReader(step, ++n).read());
  checkRecipe(recipe);
  return recipe;
}

std::optional<Recipe> tryParseRecipe(std::string_view json, std::string& error) {
  try {
    return parseRecipe(json);
  } catch (const RecipeError& e) {
    error = e.what();
    return std::nullopt;
  }
}

std::string recipeJson(const Recipe& recipe) {
  Json out;
  out["version"] = recipe.version;
  if (!recipe.name.empty()) out["name"] = recipe.name;
  if (!recipe.description.empty()) out["description"] = recipe.description;
  // One line per step, so that a recipe reads as its list of steps.
  std::string text = "{\n";
  for (const auto& [key, value] : out.items())
    text += "  " + Json(key).dump() + ": " + value.dump() + ",\n";
  text += "  \"steps\": [\n";
  for (std::size_t i = 0; i < recipe.steps.size(); ++i) {
    text +=
        "    " + stepJson(recipe.steps[i]).dump() + (i + 1 < recipe.steps.size() ? ",\n" : "\n");
  }
  return text + "  ]\n}\n";
}

std::string recipeSteps(const Recipe& recipe) {
  std::string out;
  int n = 0;
  for (const RecipeStep& step : recipe.steps) {
    std::string line = std::to_string(++n) + ". " + codeOf(step.operation);
    const Json json = stepJson(step);
    std::string inputs;
    for (const auto& [key, value] : json.items()) {
      if (key == "operation") continue;
      inputs += (inputs.empty() ? "" : ", ") + key + " " + value.dump();
    }
    line += "  " + std::string(operationRow(step.operation).meaning);
    if (!inputs.empty()) line += " (" + inputs + ")";
    out += line + "\n";
  }
  return out;
}

}  // namespace qmv
