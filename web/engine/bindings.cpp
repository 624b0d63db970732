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
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "host/text.hpp"
#include "web/engine/chunk.hpp"
#include "web/engine/web_core.hpp"

namespace {

using namespace qmv::web;

struct Engine {
  // The rule's chunk, and undo's two others (restoreWrites: before, after, now).
  CellChunk chunks[3];
  CellChunk& chunk = chunks[0];
  ChunkResults results;
  RestoreWrites restores;
  std::vector<uint8_t> clears;
  std::map<uint32_t, std::unique_ptr<ChunkRule>> rules;
  uint32_t nextRule = 1;
  uint32_t layout[24] = {};
  /// The results' text lists as UTF-8 (before, after, write texts, write formats).
  std::string utf8[4];
};

Engine& engine() {
  static Engine* const one = new Engine;  // lives as long as the module
  return *one;
}

template <typename Items>  // a vector or a string
uint32_t address(const Items& items) {
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

/// Makes room for `cells` cells in chunk `slot` (0: the rule's; 1 and 2: undo's):
/// [kinds, numbers, format indexes, text ends]; null for no such chunk.
EMSCRIPTEN_KEEPALIVE const uint32_t* qmv_slot_cells(uint32_t slot, uint32_t cells) {
  Engine& e = engine();
  if (slot >= std::size(e.chunks)) return nullptr;
  CellChunk& chunk = e.chunks[slot];
  chunk.resize(cells);
  e.layout[0] = address(chunk.kinds);
  e.layout[1] = address(chunk.numbers);
  e.layout[2] = address(chunk.formatOf);
  e.layout[3] = address(chunk.texts.ends);
  return e.layout;
}

/// Makes room for chunk `slot`'s texts and formats: [text units, format units, format ends].
EMSCRIPTEN_KEEPALIVE const uint32_t* qmv_slot_texts(uint32_t slot, uint32_t units, uint32_t formats,
                                                    uint32_t formatUnits) {
  Engine& e = engine();
  if (slot >= std::size(e.chunks)) return nullptr;
  CellChunk& chunk = e.chunks[slot];
  chunk.texts.units.resize(units);
  chunk.formats.units.resize(formatUnits);
  chunk.formats.ends.resize(formats);
  e.layout[0] = address(chunk.texts.units);
  e.layout[1] = address(chunk.formats.units);
  e.layout[2] = address(chunk.formats.ends);
  return e.layout;
}

/// qmv_slot_cells and qmv_slot_texts of the rule's chunk.
EMSCRIPTEN_KEEPALIVE const uint32_t* qmv_chunk_cells(uint32_t cells) {
  return qmv_slot_cells(0, cells);
}
EMSCRIPTEN_KEEPALIVE const uint32_t* qmv_chunk_texts(uint32_t units, uint32_t formats,
                                                     uint32_t formatUnits) {
  return qmv_slot_texts(0, units, formats, formatUnits);
}

/// Undo's writes over chunks 0 (before: a formula cell's text its formula), 1 (what the run
/// left) and 2 (now): [count, writes, numbers, formula units, formula ends, format units,
/// format ends]; null for a failure.
EMSCRIPTEN_KEEPALIVE const uint32_t* qmv_restore() {
  Engine& e = engine();
  try {
    restoreWrites(e.chunks[0], e.chunks[1], e.chunks[2], e.restores);
  } catch (...) {
    return nullptr;
  }
  const RestoreWrites& r = e.restores;
  uint32_t* out = e.layout;
  *out++ = static_cast<uint32_t>(r.writes.size());
  *out++ = address(r.writes);
  *out++ = address(r.numbers);
  for (const TextList* list : {&r.formulas, &r.formats}) {
    *out++ = address(list->units);
    *out++ = address(list->ends);
  }
  return e.layout;
}

/// Runs a character removal over the chunk: [count, cells, outcomes, write kinds, write
/// numbers, then for before, after, write texts and write formats each: units, ends, the
/// same texts as UTF-8 (0 for a list with a lone surrogate, or none) and its bytes]; null
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
  const TextList* lists[] = {&r.before, &r.after, &r.writeTexts, &r.writeFormats};
  for (std::size_t k = 0; k < std::size(lists); ++k) {
    const TextList& list = *lists[k];
    *out++ = address(list.units);
    *out++ = address(list.ends);
    std::string& utf8 = e.utf8[k];
    const bool asUtf8 =
        !list.units.empty() && qmv::toUtf8Exactly({list.units.data(), list.units.size()}, utf8);
    *out++ = asUtf8 ? address(utf8) : 0;
    *out++ = asUtf8 ? static_cast<uint32_t>(utf8.size()) : 0;
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
