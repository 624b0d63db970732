// The engine as the web add-in's page calls it: one request in, one answer out, both JSON
// (UTF-8), so that the same code answers natively (the differential test's reference) and
// compiled to WebAssembly (bindings.cpp). The page's side of it is web/src/engine.ts.
//
// A request is an object with "call" naming what it asks:
//   {"call":"operations"}                                   -> [operation, ...]
//   {"call":"checkInputs","code","inputs"}                   -> {"message": text or null}
//   {"call":"ruleOverBlock","code","inputs","locale","cells"} -> [result, ...]
//   {"call":"valueClears","code","locale","cells"}           -> [true/false per cell]
//   {"call":"previewLine","code","figures"}                  -> text
//   {"call":"countMessage","id","count"}, {"call":"message","id"} -> text
//   {"call":"restore","entries":[{"before","after","now"}]}  -> [restore write or null]
// The shapes are those of web/src/engine-types.ts. A request that cannot be answered (bad
// JSON, an unknown call or code, a field of the wrong type) gets {"error": "why"}; the
// engine's own rules never throw past here.
#pragma once

#include <string>
#include <string_view>

namespace qmv::web {

/// The answer to one request.
std::string answer(std::string_view request);

}  // namespace qmv::web
