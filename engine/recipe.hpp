// A recipe: the same cleaning again, as an ordered list of steps, each an operation of the
// table with its own inputs and text rules (and, for a file tool, the cells it works on).
// It is stored as a small JSON document (docs/recipe.schema.json describes it):
//
//   {"version": 1, "name": "Monthly contacts", "description": "...",
//    "steps": [{"operation": "RLTE"},
//              {"operation": "RNDG", "columns": ["Phone"]},
//              {"operation": "RACC", "unicode": true},
//              {"operation": "RDPV", "columns": ["Name"]}]}
//
// A step names its operation by its four-letter code; its inputs are `start`, `count`,
// `characters`, `text`, `matchCase`, `pattern`, `opening`, `closing`, `separator` and
// `occurrence` ("first", "last" or a number n: the nth, letters compared without regard to
// case); `unicode` picks the Unicode text rules; `columns` (header names, letters, numbers,
// ranges such as "B:D", exclusions "!Name") and `range` ("B2:B9") are read by file tools
// only. A value removal may only be the last step.
//
// Reading is all or nothing: a recipe that breaks a rule is refused with one message naming
// the step and the field, and nothing of it is used.
//
// Edge cases: an empty list of steps is refused (it would be a run that does nothing);
// a version above kRecipeVersion is refused as newer, so an older program never half-reads
// a newer recipe; a field this version does not know is refused rather than ignored.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/block_rule.hpp"
#include "engine/find_nth_occurrence.hpp"
#include "engine/operations.hpp"
#include "engine/preview.hpp"
#include "engine/run.hpp"
#include "engine/text_rules.hpp"

namespace qmv {

/// The newest recipe version this program reads and the one it writes.
inline constexpr int kRecipeVersion = 1;

/// One step: an operation and the inputs it reads (the others stay empty).
struct RecipeStep {
  Operation operation = Operation::RNUM;
  std::optional<int16_t> start;  ///< the start position
  std::optional<int16_t> count;  ///< the number of characters
  std::u16string characters;     ///< the characters to remove
  std::u16string text;           ///< the text to remove
  bool matchCase = false;        ///< the text's or the pattern's case must match
  std::u16string pattern;        ///< the regular expression
  std::u16string opening;        ///< the delimiters
  std::u16string closing;
  /// The start position taken from this separator in each text (then `start` is absent).
  std::optional<std::u16string> separator;
  Occurrence occurrence{};
  TextRules rules = TextRules::Classic;
  /// File tools only: the columns and the range the step works on, as written.
  std::vector<std::string> columns;
  std::optional<std::string> range;

  /// The step as the block rule takes it. The request views this step's texts: the step
  /// must outlive it.
  CellRequest cellRequest() const;
};

struct Recipe {
  int version = kRecipeVersion;
  std::string name;
  std::string description;
  std::vector<RecipeStep> steps;

  /// The value removal that ends the recipe, when its last step is one.
  std::optional<Operation> valueStep() const;
  /// The character steps, in order, as the block rule takes them (viewing this recipe).
  std::vector<CellRequest> characterSteps() const;
};

/// The run of a recipe as one request for runRemoval and previewRemoval (engine/run.hpp,
/// engine/preview.hpp): its character steps as one chain, and its value step, when it ends
/// with one, after them in the same run (RunRequest::afterCells): one preview, one
/// progress, one Stop, one undo. A recipe of a value step alone is that removal. The
/// request views the recipe, which must outlive it.
RunRequest recipeRunRequest(const Recipe& recipe);

/// The preview's line of a recipe run: the chain's before -> after, and, where a value step
/// follows character steps, its name ("...; then RDPV clears values among the results"). The
/// value step decides on the cells as the steps leave them, which only the run writes: its
/// choice is named, never guessed. A preview that is not Ready (a refusal) is its own text.
std::u16string recipePreviewText(const Preview& preview, const Recipe& recipe);

/// The question asked before a recipe runs over the selection:
///   Run the recipe "Monthly contacts" (3 steps: RLTE, RACC, RNDG)?
std::u16string recipeQuestion(const Recipe& recipe);

/// A recipe that cannot be read: the step (1-based; 0 for the document itself) and the
/// field it names, and the whole message ("step 2, count: RNUM takes no number of
/// characters").
class RecipeError : public std::runtime_error {
 public:
  RecipeError(int step, std::string field, const std::string& why);
  int step() const { return step_; }
  const std::string& field() const { return field_; }

 private:
  int step_;
  std::string field_;
};

/// Reads a recipe from its JSON text (UTF-8). Throws RecipeError.
Recipe parseRecipe(std::string_view json);

/// The same without throwing: no value, and the message in `error`, for a bad recipe.
std::optional<Recipe> tryParseRecipe(std::string_view json, std::string& error);

/// Checks a recipe built in memory as parseRecipe checks a read one. Throws RecipeError.
void checkRecipe(const Recipe& recipe);

/// The JSON text of a recipe (two-space indented, a line break at the end); parseRecipe
/// reads it back to the same recipe.
std::string recipeJson(const Recipe& recipe);

/// One line per step for people: "1. RLTE  leading, trailing and excessive spaces".
std::string recipeSteps(const Recipe& recipe);

}  // namespace qmv
