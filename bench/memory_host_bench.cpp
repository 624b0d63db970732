// The in-memory host under the call pattern of the value-level removals: per row one
// value read, one COUNTIF over the whole column and possibly one clear, bottom up; then
// one Find per removed value; and the unique filter over the column.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "host/cell_text.hpp"
#include "host/text.hpp"
#include "platform/memory/memory_application.hpp"

namespace {

using namespace qmv;

/// A host whose column A holds `rows` texts, about half of them repeated.
std::shared_ptr<memory::MemoryApplication> filledHost(int64_t rows) {
  auto host = std::make_shared<memory::MemoryApplication>();
  host->addWorkbook();
  uint64_t seed = 0x9E3779B97F4A7C15ull;
  for (int64_t r = 1; r <= rows; ++r) {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    const auto key = static_cast<int64_t>(seed % static_cast<uint64_t>(rows / 2 + 1));
    std::u16string text = u"v";
    text += toUtf16(std::to_string(key));
    host->setCell({r, 1}, CellContent{Value{std::move(text)}, {}});
  }
  return host;
}

/// The all-duplicates first pass: bottom up, count each cell's text, clear repeats.
void BM_CountingPass(benchmark::State& state) {
  const int64_t rows = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto host = filledHost(rows);
    state.ResumeTiming();
    auto working = host->intersect(*host->range(u"A:A"), *host->activeSheet()->usedRange());
    auto column = working->column(1);
    auto& functions = host->worksheetFunction();
    const HostLocale locale = host->locale();
    int64_t cleared = 0;
    for (int64_t r = working->rowsCount(); r >= 1; --r) {
      auto cell = working->cell(r, 1);
      const auto text = cellText(cell->value(), locale);
      if (!text || text->empty()) continue;
      if (functions.countIf(*column, text->substr(0, 255)) > 1) {
        cell->clear();
        ++cleared;
      }
    }
    benchmark::DoNotOptimize(cleared);
  }
  state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_CountingPass)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

/// Find of one value after each row of the column, as the second pass does.
void BM_FindPass(benchmark::State& state) {
  const int64_t rows = state.range(0);
  auto host = filledHost(rows);
  auto column = host->range(u"A:A");
  for (auto _ : state) {
    int64_t found = 0;
    for (int64_t r = 1; r <= rows; r += 10) {
      auto after = column->cell(r, 1);
      const auto text = cellText(after->value(), HostLocale{});
      if (column->find(*text, *after)) ++found;
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * rows / 10);
}
BENCHMARK(BM_FindPass)->Arg(100'000)->Unit(benchmark::kMillisecond);

/// The unique filter over the column and ShowAllData.
void BM_UniqueFilter(benchmark::State& state) {
  const int64_t rows = state.range(0);
  auto host = filledHost(rows);
  auto working = host->intersect(*host->range(u"A:A"), *host->activeSheet()->usedRange());
  for (auto _ : state) {
    working->advancedFilterUniqueInPlace();
    host->activeSheet()->showAllData();
  }
  state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_UniqueFilter)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
