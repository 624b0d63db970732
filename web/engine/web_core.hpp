// The engine as the web add-in's page calls it: one request in, one answer out, both JSON
// (UTF-8), so that the same code answers natively (the differential test's reference) and
// compiled to WebAssembly (bindings.cpp). The page's side of it is web/src/engine.ts.
// The page's chunks of cells do not go through JSON: the page makes a rule ready once
// (tryPrepareRule) and hands it each chunk laid out in memory (chunk.hpp); the JSON
// "ruleOverBlock" and "valueClears" calls lay their cells out the same way and run the
// same rule, for the native probe.
//
// A request is an object with "call" naming what it asks:
//   {"call":"operations"}                                   -> [operation, ...]
//   {"call":"checkInputs","code","inputs"}                   -> {"message": text or null}
//   {"call":"ruleOverBlock","code","inputs","locale","cells"} -> [result, ...]
//   {"call":"valueClears","code","locale","cells"}           -> [true/false per cell]
//   {"call":"previewLine","code","figures"[,"inputs"]}       -> text
//   {"call":"countMessage","id","count"}, {"call":"message","id"} -> text
//   {"call":"restore","entries":[{"before","after","now"}]}  -> [restore write or null]
//   {"call":"inspect","text"}                                -> [line, ...] (the inspector's)
//   {"call":"recipe","recipe": document or file text}        -> a recipe checked (below)
//   {"call":"makeRecipe","name","description","steps":[{"code","inputs"}]} -> the same
// A recipe checked: {"message"} naming the step and the field of a bad one; else its
// document as "recipe", its file text "json", its "question", its "steps" one line each,
// "message" null, the "code" of its first character step (of its value step when that is
// all it has) and "then", the value step that ends it after character steps, or null: the
// page runs that one as a removal of its own after them, in the same run. Inputs
// {"recipe": document} in place of a removal's make "checkInputs", "ruleOverBlock" and
// tryPrepareRule run the recipe's character steps as one rule over each cell
// (BlockRequest::steps), whatever the code; "previewLine" takes its first step's code and
// names the value step that follows.
// The shapes are those of web/src/engine-types.ts. A request that cannot be answered (bad
// JSON, an unknown call or code, a field of the wrong type) gets {"error": "why"}; the
// engine's own rules never throw past here.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "web/engine/chunk.hpp"

namespace qmv::web {

/// The answer to one request.
std::string answer(std::string_view request);

/// {"error": why}, as answer gives it.
std::string errorAnswer(std::string_view why);

/// A rule made ready, or why the request cannot make one.
using RuleOrError = std::variant<std::unique_ptr<ChunkRule>, std::string>;

/// The rule of {"code","inputs","locale"} (the shapes of "ruleOverBlock" without its
/// cells; a value removal needs no inputs; inputs {"recipe"} for a recipe's steps), made
/// ready for any number of chunks. The recipes rules are made of are kept for the
/// module's life, each distinct one once (a rule views its recipe's texts).
RuleOrError tryPrepareRule(std::string_view request);

}  // namespace qmv::web
