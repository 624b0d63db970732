// A character run over a long column on the in-memory host, as a user starts it (entry
// point, Yes on the dialog) with undo recording, progress and a yield per cell, against a
// bare loop that applies RemoveChars to the same strings. Both figures come from one run:
// after every run the bare loop goes over the same strings, and both are timed in the
// thread's CPU time (the machine is shared, so wall time is only a counter).
//
// Counters: run_cells_per_s and bare_cells_per_s; run_vs_bare, the run's time over the
// bare loop's (the target is at most 2); preview_ms, the dialog's preview that the command
// makes before the run, timed on its own over the same cells, and run_only_vs_bare and
// run_only_cells_per_s, the command without it; undo_bytes_per_cell_beyond_text, the undo
// record's memory per visited cell besides the old texts (the target is at most 64);
// run_page_faults_per_kcell, the pages the command made the kernel find and clear;
// the *_prepared counters, the same against the bare loop with its character set built
// once (the bare transform builds it on every call, the run once).
//
// One row per operation (the table kBenchRows: its command and its bare transform);
// BM_RunCharacterRemoval/<row>/1 is the real case (mixed texts, most cells rewritten);
// RNUM's /0/0 runs over the same texts without digits, so no cell is written and the
// figure is the engine's own cost per cell (read, undo record, cell text, transform,
// yield, progress) without the host's write.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "addin/addin_module.hpp"
#include "addin/entry_points.hpp"
#include "bench/column_run.hpp"
#include "bench/mixed_texts.hpp"
#include "engine/operations.hpp"
#include "engine/preview.hpp"
#include "engine/transforms.hpp"
#include "engine/undo.hpp"
#include "host/text.hpp"
#include "platform/memory/headless_toolkit.hpp"
#include "platform/memory/memory_application.hpp"
#include "platform/memory/recorded_shell.hpp"

namespace {

using namespace qmv;

constexpr int64_t kRows = 1'000'000;

const std::vector<std::u16string>& texts(bool withDigits) {
  static const std::vector<std::u16string> with = bench::mixedTexts(kRows, true);
  static const std::vector<std::u16string> without = bench::mixedTexts(kRows, false);
  return withDigits ? with : without;
}

/// One operation measured: the command a user starts and the bare transform it applies to
/// each cell. A new character removal adds a row here.
struct BenchRow {
  const char* name;
  void (*command)(AddinModule&);
  std::u16string (*bare)(std::u16string_view text);
  /// The same with what it prepares built once, as a caller over many cells would.
  std::u16string (*prepared)(std::u16string_view text);
};

std::u16string removeDigitsPrepared(std::u16string_view t) {
  static const CharacterSet set(charsets::kDigits);
  return RemoveChars(t, set);
}
std::u16string removeLettersPrepared(std::u16string_view t) {
  static const CharacterSet set(charsets::kLetters);
  return RemoveChars(t, set);
}

const BenchRow kBenchRows[] = {
    {"RNUM", RemoveNumbers, [](std::u16string_view t) { return RemoveChars(t, charsets::kDigits); },
     removeDigitsPrepared},
    {"RALP", RemoveAlphas, [](std::u16string_view t) { return RemoveChars(t, charsets::kLetters); },
     removeLettersPrepared},
    {"RALS", RemoveAllSpaces, [](std::u16string_view t) { return removeSpaces(t); },
     [](std::u16string_view t) { return removeSpaces(t); }},
};

const BenchRow& benchRow(int64_t index) { return kBenchRows[static_cast<std::size_t>(index)]; }

std::size_t bareLoop(const BenchRow& row, const std::vector<std::u16string>& all,
                     bool prepared = false) {
  const auto transform = prepared ? row.prepared : row.bare;
  std::size_t kept = 0;
  for (const auto& text : all) {
    std::u16string out = transform(text);
    kept += out.size();
    benchmark::DoNotOptimize(out);
  }
  return kept;
}

/// Page faults of this thread so far (each one a page the kernel had to find and clear).
double threadFaults() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return static_cast<double>(usage.ru_minflt + usage.ru_majflt);
}

/// CPU seconds of this thread.
double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_BareRemoveChars(benchmark::State& state) {
  const auto& all = texts(true);
  const BenchRow& row = benchRow(state.range(0));
  state.SetLabel(row.name);
  for (auto _ : state) benchmark::DoNotOptimize(bareLoop(row, all));
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_RunCharacterRemoval(benchmark::State& state) {
  const BenchRow& row = benchRow(state.range(0));
  state.SetLabel(row.name);
  const auto& all = texts(state.range(1) != 0);
  std::vector<Value> values(all.begin(), all.end());

  double undoBytes = 0;
  double undoFixedBytes = 0;
  double hostCalls = 0;
  double runSeconds = 0;
  double runWall = 0;
  double bareSeconds = 0;
  double preparedSeconds = 0;
  double previewSeconds = 0;
  double runFaults = 0;
  for (auto _ : state) {
    auto run = std::make_unique<bench::ColumnRun>(values);
    auto& [user, toolkit, shell, host, module] = *run;
    registerUndoMacro(module);
    // The dialog's preview, which the command makes before the run, on its own.
    const double previewStart = threadSeconds();
    benchmark::DoNotOptimize(previewRemoval(*host, operationFromCode(toUtf16(row.name)).value(), {},
                                            TextRules::Classic));
    previewSeconds += threadSeconds() - previewStart;
    const uint64_t callsBefore = host->hostCallCount();

    const auto start = std::chrono::steady_clock::now();
    const double faultsStart = threadFaults();
    const double cpuStart = threadSeconds();
    row.command(module);
    const double seconds = threadSeconds() - cpuStart;
    runFaults += threadFaults() - faultsStart;
    runWall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    runSeconds += seconds;

    const auto& snapshot = *module.undoSnapshot;
    const auto visited = static_cast<double>(snapshot.size());
    undoBytes = static_cast<double>(snapshot.entryBytes() + snapshot.textBytes()) / visited;
    undoFixedBytes = static_cast<double>(snapshot.entryBytes()) / visited;
    hostCalls = static_cast<double>(host->hostCallCount() - callsBefore) / visited;
    if (snapshot.size() != static_cast<std::size_t>(kRows)) state.SkipWithError("cells missed");
    run.reset();

    const double bareStart = threadSeconds();
    benchmark::DoNotOptimize(bareLoop(row, all));
    bareSeconds += threadSeconds() - bareStart;
    const double preparedStart = threadSeconds();
    benchmark::DoNotOptimize(bareLoop(row, all, true));
    preparedSeconds += threadSeconds() - preparedStart;
  }
  const double cells = static_cast<double>(state.iterations() * kRows);
  state.SetItemsProcessed(state.iterations() * kRows);
  state.counters["run_cells_per_s"] = cells / runSeconds;
  state.counters["bare_cells_per_s"] = cells / bareSeconds;
  state.counters["run_vs_bare"] = runSeconds / bareSeconds;
  // Against the bare loop with its character set built once, as the run builds it.
  state.counters["bare_prepared_cells_per_s"] = cells / preparedSeconds;
  state.counters["run_vs_bare_prepared"] = runSeconds / preparedSeconds;
  state.counters["run_only_vs_bare_prepared"] = (runSeconds - previewSeconds) / preparedSeconds;
  // The command without its preview: the run itself, undo recording included.
  state.counters["preview_ms"] = 1000 * previewSeconds / static_cast<double>(state.iterations());
  state.counters["run_only_vs_bare"] = (runSeconds - previewSeconds) / bareSeconds;
  state.counters["run_only_cells_per_s"] = cells / (runSeconds - previewSeconds);
  state.counters["run_wall_ms"] = 1000 * runWall / static_cast<double>(state.iterations());
  state.counters["undo_bytes_per_cell"] = undoBytes;
  state.counters["undo_bytes_per_cell_beyond_text"] = undoFixedBytes;
  state.counters["host_calls_per_cell"] = hostCalls;
  state.counters["run_page_faults_per_kcell"] = 1000 * runFaults / cells;
}

void allRows(benchmark::internal::Benchmark* b, bool withSamples) {
  for (std::size_t i = 0; i < std::size(kBenchRows); ++i) {
    if (withSamples) {
      b->Args({static_cast<int64_t>(i), 1});
      if (i == 0) b->Args({0, 0});  // RNUM over texts without digits: nothing written
    } else {
      b->Arg(static_cast<int64_t>(i));
    }
  }
}

BENCHMARK(BM_BareRemoveChars)
    ->Apply([](benchmark::internal::Benchmark* b) { allRows(b, false); })
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunCharacterRemoval)
    ->Apply([](benchmark::internal::Benchmark* b) { allRows(b, true); })
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
