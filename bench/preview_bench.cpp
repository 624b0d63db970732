// The preview against a real run over the same 1,000,000 cells on the in-memory host.
// Both go through the engine with the same request (RNUM over a column of mixed texts,
// most of which change); the run writes, records undo and yields per cell, the preview
// reads in bulk and writes nothing. Timed in the thread's CPU time (the machine is
// shared, so wall time is only a counter).
//
// Counters: preview_vs_run, the preview's time over the run's (the target is below 0.5),
// for the preview that counts every change (cap above the cell count) and, in
// BM_PreviewCapped, for the preview the dialog shows (stops past 200,000 changes); and in
// BM_PreviewUnicodeLetters for RALP under the Unicode text rules, where both classify
// every character by its Unicode class.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "bench/mixed_texts.hpp"
#include "engine/preview.hpp"
#include "engine/run.hpp"
#include "engine/session.hpp"
#include "platform/memory/memory_application.hpp"

namespace {

using namespace qmv;

constexpr int64_t kRows = 1'000'000;

std::vector<Value> mixedColumn() {
  const std::vector<std::u16string> texts = bench::mixedTexts(kRows, true);
  return {texts.begin(), texts.end()};
}

double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

class QuietSession : public RemovalSession {
 public:
  void tellUser(const std::u16string&) override {}
};

class QuietObserver : public RunObserver {
 public:
  void started() override {}
  void setMaximum(float) override {}
  void yield() override {}
  void progress(float) override {}
  bool stopRequested() override { return false; }
  void message(const std::u16string&) override {}
  void finish() override {}
};

std::shared_ptr<memory::MemoryApplication> filledHost(const std::vector<Value>& values) {
  auto host = std::make_shared<memory::MemoryApplication>();
  host->addWorkbook();
  host->setColumn({1, 1}, values);
  const std::string rows = "A1:A" + std::to_string(kRows);
  host->select(std::u16string(rows.begin(), rows.end()));
  return host;
}

void previewAgainstRun(benchmark::State& state, int64_t cap, Operation operation, TextRules rules) {
  static const std::vector<Value> values = mixedColumn();
  double previewSeconds = 0;
  double runSeconds = 0;
  int64_t changes = 0;
  for (auto _ : state) {
    auto host = filledHost(values);
    const double previewStart = threadSeconds();
    const Preview preview = previewRemoval(*host, operation, {}, rules, cap);
    const double seconds = threadSeconds() - previewStart;
    state.SetIterationTime(seconds);
    previewSeconds += seconds;
    changes = preview.tally.changes();

    QuietSession session;
    session.hostApp = host;
    QuietObserver observer;
    RunRequest request;
    request.operation = operation;
    request.rules = rules;
    const double runStart = threadSeconds();
    runRemoval(session, request, observer);
    runSeconds += threadSeconds() - runStart;
    if (host->cell({1, 1}).value == values.front()) state.SkipWithError("the run changed nothing");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  state.counters["changes_counted"] = static_cast<double>(changes);
  state.counters["preview_ms"] = 1000 * previewSeconds / static_cast<double>(state.iterations());
  state.counters["run_ms"] = 1000 * runSeconds / static_cast<double>(state.iterations());
  state.counters["preview_vs_run"] = previewSeconds / runSeconds;
}

void BM_PreviewEveryChange(benchmark::State& state) {
  previewAgainstRun(state, kRows + 1, Operation::RNUM, TextRules::Classic);
}
void BM_PreviewCapped(benchmark::State& state) {
  previewAgainstRun(state, kPreviewCap, Operation::RNUM, TextRules::Classic);
}
void BM_PreviewUnicodeLetters(benchmark::State& state) {
  previewAgainstRun(state, kRows + 1, Operation::RALP, TextRules::Unicode);
}

BENCHMARK(BM_PreviewEveryChange)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK(BM_PreviewCapped)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK(BM_PreviewUnicodeLetters)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
