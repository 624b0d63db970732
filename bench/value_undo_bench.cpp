// The undo record of a value removal: RADP over a column in which every value occurs
// twice and every cell has its own fill colour, so that each cleared cell records its
// formats. Reported: the record's bytes per cleared cell beyond the old texts (the target
// is at most 64) and with them, and the run's time per cleared cell.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "addin/addin_module.hpp"
#include "addin/entry_points.hpp"
#include "bench/column_run.hpp"
#include "engine/undo.hpp"
#include "platform/memory/headless_toolkit.hpp"
#include "platform/memory/memory_application.hpp"
#include "platform/memory/recorded_shell.hpp"

namespace {

using namespace qmv;

void BM_ValueRemovalUndoRecord(benchmark::State& state) {
  const int64_t rows = state.range(0);
  std::vector<Value> values;
  for (int64_t r = 0; r < rows; ++r) {
    const std::string digits = "customer-" + std::to_string(r / 2);
    values.emplace_back(std::u16string(digits.begin(), digits.end()));
  }
  double beyondText = 0;
  double withText = 0;
  double seconds = 0;
  for (auto _ : state) {
    bench::ColumnRun run(values);
    auto& [user, toolkit, shell, host, module] = run;
    for (int64_t r = 1; r <= rows; ++r) {
      host->setFormats({r, 1}, CellFormats{r % 2 != 0 ? u"General" : u"@",
                                           static_cast<uint32_t>(r & 0xFFFFFF), std::nullopt});
    }
    const auto start = std::chrono::steady_clock::now();
    RemoveAllDuplicates(module);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const UndoSnapshot& snapshot = *module.undoSnapshot;
    const auto cleared = static_cast<double>(snapshot.size());
    if (snapshot.size() != static_cast<std::size_t>(rows)) state.SkipWithError("cells missed");
    // Beyond the text: the fixed part of each entry with its formats (the texts' storage,
    // with the number formats kept once each, is the other part).
    withText = static_cast<double>(snapshot.entryBytes() + snapshot.textBytes()) / cleared;
    beyondText = static_cast<double>(snapshot.entryBytes()) / cleared;
  }
  state.counters["undo_bytes_per_cleared_cell_beyond_text"] = beyondText;
  state.counters["undo_bytes_per_cleared_cell"] = withText;
  state.counters["run_us_per_cleared_cell"] =
      1e6 * seconds / static_cast<double>(state.iterations() * rows);
}

BENCHMARK(BM_ValueRemovalUndoRecord)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
