// The native side of bench/web_engine_bench.sh: the engine's time per cell over the texts of a
// file (one per line), for each rule on standard input ({"code","inputs","locale"}, one per
// line), in the thread's CPU time, the best of three. Two figures per rule, one line of JSON:
// "rule_ns", the block rule itself over cells already read (a value removal: its keys and
// decision), and "chunk_ns", the same through the chunk binding the page uses (the layout
// filled ahead, the results with what typing stores).
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "engine/block_rule.hpp"
#include "engine/value_run.hpp"
#include "host/text.hpp"
#include "web/engine/chunk.hpp"
#include "web/engine/web_core.hpp"

namespace {

using namespace qmv;
using namespace qmv::web;

constexpr std::size_t kChunk = 20000;

double cpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

template <typename Run>
double bestNsPerCell(std::size_t cells, Run&& run) {
  double best = 1e300;
  for (int round = 0; round < 3; ++round) {
    const double start = cpuSeconds();
    run();
    best = std::min(best, cpuSeconds() - start);
  }
  return best * 1e9 / static_cast<double>(cells);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: qmv_web_native_bench TEXTS < rules\n";
    return 2;
  }
  std::ifstream file(argv[1]);
  std::vector<std::u16string> texts;
  for (std::string line; std::getline(file, line);) texts.push_back(toUtf16(line));
  std::vector<CellContent> contents(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) contents[i].value = texts[i];
  // The chunks as the page lays them out: General cells of text.
  std::vector<CellChunk> chunks;
  for (std::size_t from = 0; from < texts.size(); from += kChunk) {
    CellChunk& chunk = chunks.emplace_back();
    const std::size_t count = std::min(kChunk, texts.size() - from);
    chunk.resize(count);
    chunk.texts.clear();
    chunk.formats.push(u"General");
    for (std::size_t i = 0; i < count; ++i) {
      chunk.kinds[i] = static_cast<uint8_t>(CellKind::Text);
      chunk.texts.push(texts[from + i]);
    }
  }
  CellChunk whole;
  whole.resize(texts.size());
  whole.texts.clear();
  whole.formats.push(u"General");
  for (std::size_t i = 0; i < texts.size(); ++i) {
    whole.kinds[i] = static_cast<uint8_t>(CellKind::Text);
    whole.texts.push(texts[i]);
  }

  for (std::string request; std::getline(std::cin, request);) {
    RuleOrError made = tryPrepareRule(request);
    if (auto* error = std::get_if<std::string>(&made)) {
      std::cerr << *error << '\n';
      return 1;
    }
    ChunkRule& rule = *std::get<std::unique_ptr<ChunkRule>>(made);
    double ruleNs = 0, chunkNs = 0;
    std::size_t changed = 0;
    if (rule.row().kind == OperationKind::ValueLevel) {
      ruleNs = bestNsPerCell(texts.size(), [&] {
        std::vector<Value> values;
        values.reserve(contents.size());
        for (const CellContent& c : contents) values.push_back(c.value);
        const std::vector<bool> clears =
            valueClears(rule.row().valueMode, values, rule.request().locale);
        changed = static_cast<std::size_t>(std::count(clears.begin(), clears.end(), true));
      });
      std::vector<uint8_t> clears;
      chunkNs = bestNsPerCell(texts.size(), [&] { rule.clears(whole, clears); });
    } else {
      BlockRequest block = rule.request();
      block.keepBefore = false;
      BlockResults results;
      ruleNs = bestNsPerCell(texts.size(), [&] {
        changed = 0;
        for (std::size_t from = 0; from < contents.size(); from += kChunk) {
          results.clear();
          const std::size_t count = std::min(kChunk, contents.size() - from);
          ruleOverBlock(std::span(contents).subspan(from, count), block, results);
          changed += results.cells().size();
        }
      });
      ChunkResults out;
      chunkNs = bestNsPerCell(texts.size(), [&] {
        for (const CellChunk& chunk : chunks) rule.over(chunk, false, out);
      });
    }
    std::printf("{\"code\":\"%s\",\"rule_ns\":%.2f,\"chunk_ns\":%.2f,\"changed\":%zu}\n",
                toUtf8(rule.row().code).c_str(), ruleNs, chunkNs, changed);
    std::fflush(stdout);
  }
  return 0;
}
