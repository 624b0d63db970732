// A character run over a long column on the in-memory host, as a user starts it (entry
// point, Yes on the dialog) with undo recording, progress and a yield per cell, against a
// bare loop that applies RemoveChars to the same strings.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "addin/addin_module.hpp"
#include "commands/entry_points.hpp"
#include "engine/transforms.hpp"
#include "engine/undo.hpp"
#include "platform/memory/headless_toolkit.hpp"
#include "platform/memory/memory_application.hpp"
#include "platform/memory/recorded_shell.hpp"

namespace {

using namespace qmv;

constexpr int64_t kRows = 1'000'000;

// Mixed 16-character texts: letters, digits, spaces and punctuation in varying order.
std::vector<std::u16string> mixedTexts(int64_t count) {
  static constexpr char16_t kAlphabet[] = u"ABCxyz0123456789 -./#Qq";
  constexpr std::size_t kAlphabetSize = sizeof(kAlphabet) / sizeof(kAlphabet[0]) - 1;
  std::vector<std::u16string> texts;
  texts.reserve(static_cast<std::size_t>(count));
  uint64_t seed = 0x9E3779B97F4A7C15ull;
  for (int64_t i = 0; i < count; ++i) {
    std::u16string text(16, u' ');
    for (auto& c : text) {
      seed ^= seed << 13;
      seed ^= seed >> 7;
      seed ^= seed << 17;
      c = kAlphabet[seed % kAlphabetSize];
    }
    text[0] = u'K';  // never read as a number or a date
    texts.push_back(std::move(text));
  }
  return texts;
}

const std::vector<std::u16string>& texts() {
  static const std::vector<std::u16string> all = mixedTexts(kRows);
  return all;
}

double bareCellsPerSecond() {
  const auto start = std::chrono::steady_clock::now();
  std::size_t kept = 0;
  for (const auto& text : texts()) {
    std::u16string out = RemoveChars(text, charsets::kDigits);
    kept += out.size();
    benchmark::DoNotOptimize(out);
  }
  benchmark::DoNotOptimize(kept);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return static_cast<double>(texts().size()) / elapsed.count();
}

void BM_BareRemoveChars(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& text : texts()) {
      std::u16string out = RemoveChars(text, charsets::kDigits);
      benchmark::DoNotOptimize(out);
    }
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_RunCharacterRemovalRNUM(benchmark::State& state) {
  std::vector<Value> values;
  values.reserve(texts().size());
  for (const auto& text : texts()) values.emplace_back(text);

  double undoBytes = 0;
  double undoFixedBytes = 0;
  double hostCalls = 0;
  double runSeconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    memory::QueuedUser user;
    memory::HeadlessToolkit toolkit(user);
    memory::RecordedShell shell;
    auto host = std::make_shared<memory::MemoryApplication>();
    AddinModule module(toolkit, shell);
    module.hostApp = host;
    host->addWorkbook();
    registerUndoMacro(module);
    host->setColumn({1, 1}, values);
    host->select(u"A1:A" + [] {
      const std::string n = std::to_string(kRows);
      return std::u16string(n.begin(), n.end());
    }());
    user.press("CommandButton1");
    const uint64_t callsBefore = host->hostCallCount();
    state.ResumeTiming();

    const auto start = std::chrono::steady_clock::now();
    RemoveNumbers(module);
    runSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    state.PauseTiming();
    const auto& snapshot = *module.undoSnapshot;
    const auto visited = static_cast<double>(snapshot.size());
    undoBytes = static_cast<double>(snapshot.entryBytes() + snapshot.textBytes()) / visited;
    undoFixedBytes = static_cast<double>(snapshot.entryBytes()) / visited;
    hostCalls = static_cast<double>(host->hostCallCount() - callsBefore) / visited;
    if (snapshot.size() != static_cast<std::size_t>(kRows)) state.SkipWithError("cells missed");
    module.undoSnapshot.reset();
    host.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  const double bare = bareCellsPerSecond();
  state.counters["cells_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kRows), benchmark::Counter::kIsRate);
  const double runRate = static_cast<double>(state.iterations() * kRows) / runSeconds;
  state.counters["bare_cells_per_s"] = bare;
  state.counters["slowdown_vs_bare"] = bare / runRate;
  state.counters["undo_bytes_per_cell"] = undoBytes;
  state.counters["undo_bytes_per_cell_beyond_text"] = undoFixedBytes;
  state.counters["host_calls_per_cell"] = hostCalls;
}

BENCHMARK(BM_BareRemoveChars)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunCharacterRemovalRNUM)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
