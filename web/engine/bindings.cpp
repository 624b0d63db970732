// The engine in WebAssembly. Requests made once (the operation table, messages, a rule made
// ready) are JSON through Embind (web_core.hpp); the chunks of cells go through plain
// exports over the module's memory: the page asks where to write a chunk, writes it there
// (kinds, numbers, format indexes and UTF-16 texts, chunk.hpp), runs a rule over it and
// reads the results where the rule says they are. Each layout is an array of 32-bit words
// the page reads at the returned address; addresses hold until the next call.
#include <emscripten/bind.h>
#include <emscripten/emscripten.h>
#include <emscripten/val.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "web/engine/chunk.hpp"
#include "web/engine/web_core.hpp"

namespace {

using namespace qmv::web;

struct Engine {
  CellChunk chunk;
  ChunkResults results;
  std::vector<uint8_t> clears;
  std::map<uint32_t, std::unique_ptr<ChunkRule>> rules;
  uint32_t nextRule = 1;
  uint32_t layout[20] = {};
};

Engine& engine() {
  static Engine* const one = new Engine;  // lives as long as the module
  return *one;
}

template <typename T>
uint32_t address(const std::vector<T>& items) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(items.data()));
}

ChunkRule* ruleOf(uint32_t id) {
  const auto found = engine().rules.find(id);
  return found == engine().rules.end() ? nullptr : found->second.get();
}

std::string answerRequest(const std::string& request) { return answer(request); }

// {"rule": id} or {"error": why}.
std::string prepareRule(const std::string& request) {
  RuleOrError made = tryPrepareRule(request);
  if (auto* rule = std::get_if<std::unique_ptr<ChunkRule>>(&made)) {
    const uint32_t id = engine().nextRule++;
    engine().rules.emplace(id, std::move(*rule));
    return "{\"rule\":" + std::to_string(id) + "}";
  }
  return errorAnswer(std::get<std::string>(made));
}

}  // namespace

extern "C" {

/// Makes room for `cells` cells: [kinds, numbers, format indexes, text ends].
EMSCRIPTEN_KEEPALIVE const uint32_t* qmv_chunk_cells(uint32_t cells) {
  Engine& e = engine();
  e.chunk.resize(cells);
  e.layout[0] = address(e.chunk.kinds);
  e.layout[1] = address(e.chunk.numbers);
  e.layout[2] = address(e.chunk.formatOf);
  e.layout[3] = address(e.chunk.texts.ends);
  return e.layout;
}

/// Makes room for the chunk's texts and formats: [text units, format units, format ends].
EMSCRIPTEN_KEEPALIVE const uint32_t* qmv_chunk_texts(uint32_t units, uint32_t formats,
                                                     uint32_t formatUnits) {
  Engine& e = engine();
  e.chunk.texts.units.resize(units);
  e.chunk.formats.units.resize(formatUnits);
  e.chunk.formats.ends.resize(formats);
  e.layout[0] = address(e.chunk.texts.units);
  e.layout[1] = address(e.chunk.formats.units);
  e.layout[2] = address(e.chunk.formats.ends);
  return e.layout;
}

/// Runs a character removal over the chunk: [count, cells, outcomes, write kinds, write
/// numbers, then for before, after, write texts and write formats each: units, ends]; null
/// for an unknown rule or a failure.
EMSCRIPTEN_KEEPALIVE const uint32_t* qmv_rule_over(uint32_t id, int keepBefore) {
  ChunkRule* rule = ruleOf(id);
  if (rule == nullptr) return nullptr;
  Engine& e = engine();
  try {
    rule->over(e.chunk, keepBefore != 0, e.results);
  } catch (...) {
    return nullptr;
  }
  const ChunkResults& r = e.results;
  uint32_t* out = e.layout;
  *out++ = static_cast<uint32_t>(r.size());
  *out++ = address(r.cells);
  *out++ = address(r.outcomes);
  *out++ = address(r.writeKinds);
  *out++ = address(r.writeNumbers);
  for (const TextList* list : {&r.before, &r.after, &r.writeTexts, &r.writeFormats}) {
    *out++ = address(list->units);
    *out++ = address(list->ends);
  }
  return e.layout;
}

/// Runs a value removal's decision over the chunk (its whole list): one byte per cell, 1 to
/// clear; null for an unknown rule or a failure.
EMSCRIPTEN_KEEPALIVE const uint8_t* qmv_rule_clears(uint32_t id) {
  ChunkRule* rule = ruleOf(id);
  if (rule == nullptr) return nullptr;
  Engine& e = engine();
  try {
    rule->clears(e.chunk, e.clears);
  } catch (...) {
    return nullptr;
  }
  return e.clears.data();
}

EMSCRIPTEN_KEEPALIVE void qmv_rule_dispose(uint32_t id) { engine().rules.erase(id); }

}  // extern "C"

namespace {

// The same room as qmv_chunk_cells, handed back as Embind's typed memory views: kept for
// bench/web_engine_bench.sh, which sets the two ways side by side (the page uses the
// plain export, the faster).
emscripten::val chunkCellsViews(uint32_t cells) {
  Engine& e = engine();
  e.chunk.resize(cells);
  emscripten::val out = emscripten::val::array();
  out.call<void>("push", emscripten::typed_memory_view(cells, e.chunk.kinds.data()));
  out.call<void>("push", emscripten::typed_memory_view(cells, e.chunk.numbers.data()));
  out.call<void>("push", emscripten::typed_memory_view(cells, e.chunk.formatOf.data()));
  out.call<void>("push", emscripten::typed_memory_view(cells, e.chunk.texts.ends.data()));
  return out;
}

}  // namespace

EMSCRIPTEN_BINDINGS(qmv_engine) {
  emscripten::function("answer", &answerRequest);
  emscripten::function("prepareRule", &prepareRule);
  emscripten::function("chunkCellsViews", &chunkCellsViews);
}
