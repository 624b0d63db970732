// Recipes: what a stored recipe may hold, and its steps run as one rule over each cell.
#include "engine/recipe.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/text.hpp"

namespace qmv {
namespace {

std::string recipeWith(const std::string& steps) {
  return R"({"version": 1, "name": "n", "steps": [)" + steps + "]}";
}

TEST(Recipe, RefusesABadRecipeWithOneMessageNamingTheStepAndField) {
  struct Row {
    const char* name;
    std::string json;
    int step;
    const char* field;
    const char* message;
  };
  const std::vector<Row> rows = {
      {"unknown operation", recipeWith(R"({"operation": "RNUM"}, {"operation": "ZZZZ"})"), 2,
       "operation", "step 2, operation: \"ZZZZ\" is not an operation code"},
      {"missing input", recipeWith(R"({"operation": "RNAP", "start": 2})"), 1, "count",
       "step 1, count: missing; RNAP needs the number of characters"},
      {"an input the operation does not read", recipeWith(R"({"operation": "RNUM", "count": 2})"),
       1, "count", "step 1, count: RNUM takes no count"},
      {"value removal not last", recipeWith(R"({"operation": "RDPV"}, {"operation": "RLTE"})"), 1,
       "operation", "step 1, operation: RDPV clears whole values and may only be the last step"},
      {"newer version", R"({"version": 2, "steps": [{"operation": "RFUTURE"}]})", 0, "version",
       "recipe, version: version 2 is newer than this program reads (1)"},
      {"no steps", recipeWith(""), 0, "steps", "recipe, steps: give at least one step"},
      {"bad pattern", recipeWith(R"({"operation": "RPAT", "pattern": "("})"), 1, "pattern",
       "step 1, pattern: "},
      {"start and separator", recipeWith(R"({"operation": "RASP", "start": 1, "separator": "-"})"),
       1, "separator", "step 1, separator: start and separator exclude each other"},
      {"not JSON", "{\"version\": 1,", 0, "", "recipe: not JSON"},
      {"unknown field", recipeWith(R"({"operation": "RNUM", "colums": ["B"]})"), 1, "colums",
       "step 1, colums: not a field of a step"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string error;
    EXPECT_FALSE(tryParseRecipe(row.json, error).has_value());
    EXPECT_EQ(error.rfind(row.message, 0), 0u) << error;
    try {
      parseRecipe(row.json);
      ADD_FAILURE() << "read";
    } catch (const RecipeError& e) {
      EXPECT_EQ(e.step(), row.step);
      EXPECT_EQ(e.field(), row.field);
    }
  }
}

// Every example recipe reads, and its JSON reads back to the same JSON.
TEST(Recipe, ExamplesReadBackToTheSameRecipe) {
  for (const char* name : {"contacts.json", "phones.json"}) {
    SCOPED_TRACE(name);
    std::ifstream in(std::string(QMV_SOURCE_DIR) + "/examples/recipes/" + name);
    std::stringstream text;
    text << in.rdbuf();
    const Recipe recipe = parseRecipe(text.str());
    EXPECT_FALSE(recipe.steps.empty());
    const std::string json = recipeJson(recipe);
    EXPECT_EQ(recipeJson(parseRecipe(json)), json);
  }
}

// The steps as one rule give what the steps give one after another, each on the text the
// one before left; a step that gives up leaves the whole cell as it was.
TEST(Recipe, StepsAsOneRuleGiveWhatSuccessiveRulesGive) {
  const Recipe recipe = parseRecipe(recipeWith(
      R"({"operation": "RLTE"}, {"operation": "RTXT", "text": "ext"},
         {"operation": "RNBP", "separator": "-", "occurrence": "last", "count": 2},
         {"operation": "RACC", "unicode": true}, {"operation": "RPAT", "pattern": "(a+)+$"})"));
  const std::vector<CellRequest> steps = recipe.characterSteps();
  const std::u16string runaway = std::u16string(40, u'a').append(u"!");
  for (const std::u16string& text : std::vector<std::u16string>{
           u"  Zoë   ext 12-34 ", u"plain", u"", u"555-0101-22", u"ÉÈ  ext", u"a-b-c", runaway}) {
    SCOPED_TRACE(toUtf8(text));
    std::u16string current = text;
    CellOutcome expected = CellOutcome::Kept;
    for (const CellRequest& step : steps) {
      BlockRequest one;
      one.fixed = step;
      one.rules = step.inputs.rules;
      std::u16string next;
      const CellOutcome outcome = ruleOnText(current, one, next);
      if (outcome == CellOutcome::GaveUp) expected = CellOutcome::GaveUp;
      if (outcome == CellOutcome::Changed) current = next;
    }
    if (expected != CellOutcome::GaveUp && current != text) expected = CellOutcome::Changed;
    BlockRequest chain;
    chain.steps = steps;
    std::u16string out;
    EXPECT_EQ(ruleOnText(text, chain, out), expected);
    if (expected == CellOutcome::Changed) {
      EXPECT_EQ(out, current);
    }
    // Over a block the same.
    BlockResults results;
    ruleOverBlock(std::vector<CellContent>{CellContent{Value{text}, {}}}, chain, results);
    EXPECT_EQ(results.cells().size(), expected == CellOutcome::Kept ? 0u : 1u);
  }
}

}  // namespace
}  // namespace qmv
