// The character removals' text transforms under the Classic and the Unicode text rules,
// over the same 100,000 mixed texts (Latin with accents, Greek, no-break spaces, emoji).
// The Unicode rules walk code points and look characters up in the generated classes; the
// figure to watch is the ratio of the two, per operation (items are texts).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/operations.hpp"

namespace {

using namespace qmv;

constexpr int kTexts = 100'000;

const std::vector<std::u16string>& mixedTexts() {
  static const std::vector<std::u16string> texts = [] {
    static const std::u16string kPieces[] = {
        u"a",      u"Z", u" ", u"\u00A0", u"\u00E9",     u"\u00C9", u"\u03A9",
        u"\u03C9", u"7", u"-", u"\t",     u"\U0001F600", u"\u200B", u"\u4E2D"};
    constexpr std::size_t kCount = sizeof(kPieces) / sizeof(kPieces[0]);
    std::vector<std::u16string> out;
    out.reserve(kTexts);
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < kTexts; ++i) {
      std::u16string text;
      for (int k = 0; k < 16; ++k) {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        text += kPieces[seed % kCount];
      }
      out.push_back(std::move(text));
    }
    return out;
  }();
  return texts;
}

void BM_Transform(benchmark::State& state) {
  const auto operation = static_cast<Operation>(state.range(0));
  CharacterInputs inputs;
  inputs.rules = state.range(1) != 0 ? TextRules::Unicode : TextRules::Classic;
  inputs.startPosition = 5;
  inputs.charCount = 3;
  const auto& texts = mixedTexts();
  for (auto _ : state) {
    for (const auto& text : texts) benchmark::DoNotOptimize(transformText(operation, text, inputs));
  }
  state.SetItemsProcessed(state.iterations() * kTexts);
  state.SetLabel(
      std::string(operationRow(operation).code.begin(), operationRow(operation).code.end()) +
      (inputs.rules == TextRules::Unicode ? " unicode" : " classic"));
}

void operations(benchmark::internal::Benchmark* b) {
  for (Operation op : {Operation::RALP, Operation::RNPC, Operation::RALS, Operation::RLTE,
                       Operation::RNBP, Operation::RUPC}) {
    for (int unicode : {0, 1}) b->Args({static_cast<int64_t>(op), unicode});
  }
}

}  // namespace

BENCHMARK(BM_Transform)->Apply(operations)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
