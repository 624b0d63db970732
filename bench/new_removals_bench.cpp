// The Ribbon's removals run over a column on the in-memory host as a user starts them
// (Yes on the dialog, its boxes as they open: "(" and ")", one character), with undo
// recording and progress, against a bare loop of the same transform over the same texts.
// Both are timed in the thread's CPU time after each run. Counter run_vs_bare: the run's
// time over the bare loop's. BM_PatternRemoval does the same for the pattern removal with a
// few typical patterns pasted into its box (Match case ticked, as the box opens), and gives
// its cost per cell; the run's time includes the preview the paste refreshes, and
// bare_interpreter_ns_per_cell is the bare loop with PCRE2's interpreter instead of its JIT.
#include <benchmark/benchmark.h>

#include <ctime>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "addin/entry_points.hpp"
#include "bench/column_run.hpp"
#include "bench/mixed_texts.hpp"
#include "engine/operations.hpp"
#include "engine/text_pattern.hpp"
#include "engine/text_rules.hpp"
#include "engine/undo.hpp"

namespace {

using namespace qmv;

constexpr int64_t kRows = 200'000;

double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_RibbonRemoval(benchmark::State& state) {
  const auto operation = static_cast<Operation>(state.range(0));
  state.SetLabel(std::string(operationRow(operation).name));
  const std::vector<std::u16string> all = bench::mixedTexts(kRows, true);
  const std::vector<Value> values(all.begin(), all.end());
  CharacterInputs inputs;
  inputs.opening = u"(";
  inputs.closing = u")";
  inputs.charCount = 1;
  double runSeconds = 0;
  double bareSeconds = 0;
  for (auto _ : state) {
    auto run = std::make_unique<bench::ColumnRun>(values);
    registerUndoMacro(run->module);
    const double start = threadSeconds();
    confirmAndRun(run->module, operation);
    const double seconds = threadSeconds() - start;
    state.SetIterationTime(seconds);
    runSeconds += seconds;
    run.reset();

    const double bareStart = threadSeconds();
    for (const auto& text : all) benchmark::DoNotOptimize(transformText(operation, text, inputs));
    bareSeconds += threadSeconds() - bareStart;
  }
  const double cells = static_cast<double>(state.iterations() * kRows);
  state.counters["run_cells_per_s"] = cells / runSeconds;
  state.counters["bare_cells_per_s"] = cells / bareSeconds;
  state.counters["run_vs_bare"] = runSeconds / bareSeconds;
}

BENCHMARK(BM_RibbonRemoval)
    ->DenseRange(static_cast<int>(Operation::RNDG), static_cast<int>(Operation::RACC))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseManualTime();

// The patterns: digits, tags, a code's last part, a word in any case, and letters of any
// script under the Unicode rules.
struct PatternCase {
  const char* label;
  std::u16string_view pattern;
  TextRules rules;
};
constexpr PatternCase kPatterns[] = {
    {"\\d+", u"\\d+", TextRules::Classic},
    {"<[^>]*>", u"<[^>]*>", TextRules::Classic},
    {"-[A-Z]+$", u"-[A-Z]+$", TextRules::Classic},
    {"(?i)tel\\.? *", u"(?i)tel\\.? *", TextRules::Classic},
    {"\\w+ (Unicode)", u"\\w+", TextRules::Unicode},
};

void BM_PatternRemoval(benchmark::State& state) {
  const PatternCase& pattern = kPatterns[state.range(0)];
  state.SetLabel(pattern.label);
  const std::vector<std::u16string> all = bench::mixedTexts(kRows, true);
  const std::vector<Value> values(all.begin(), all.end());
  CharacterInputs inputs;
  inputs.pattern = pattern.pattern;
  inputs.matchCase = true;
  inputs.rules = pattern.rules;
  double runSeconds = 0;
  double bareSeconds = 0;
  double interpreterSeconds = 0;
  for (auto _ : state) {
    auto run = std::make_unique<bench::ColumnRun>(
        values, std::vector<std::pair<std::string, std::u16string>>{
                    {"txtText", std::u16string(pattern.pattern)}});
    setTextRulesSetting(*run->host, pattern.rules);
    registerUndoMacro(run->module);
    const double start = threadSeconds();
    confirmAndRun(run->module, Operation::RPAT);
    const double seconds = threadSeconds() - start;
    state.SetIterationTime(seconds);
    runSeconds += seconds;
    run.reset();

    const double bareStart = threadSeconds();
    for (const auto& text : all) {
      benchmark::DoNotOptimize(transformText(Operation::RPAT, text, inputs));
    }
    bareSeconds += threadSeconds() - bareStart;

    const double interpreterStart = threadSeconds();
    for (const auto& text : all) {
      benchmark::DoNotOptimize(tryRemovePattern(text, pattern.pattern, true, pattern.rules,
                                                PatternMatching::Interpreter));
    }
    interpreterSeconds += threadSeconds() - interpreterStart;
  }
  const double cells = static_cast<double>(state.iterations() * kRows);
  state.counters["run_ns_per_cell"] = runSeconds / cells * 1e9;
  state.counters["bare_ns_per_cell"] = bareSeconds / cells * 1e9;
  state.counters["bare_interpreter_ns_per_cell"] = interpreterSeconds / cells * 1e9;
  state.counters["run_vs_bare"] = runSeconds / bareSeconds;
}

BENCHMARK(BM_PatternRemoval)
    ->DenseRange(0, static_cast<int>(std::size(kPatterns)) - 1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
