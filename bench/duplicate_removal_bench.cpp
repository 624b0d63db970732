// Duplicate and unique value removal over long columns on the in-memory host, as a user
// starts it (entry point, Yes on the dialog) with progress and a yield per step. The time
// reported is the run's CPU time; its wall time is a counter. Half the
// values occur twice, the other half once, in a scrambled order. Each size runs after
// the smaller one of the same mode, which reports the growth factor between them.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "addin/addin_module.hpp"
#include "commands/entry_points.hpp"
#include "platform/memory/headless_toolkit.hpp"
#include "platform/memory/memory_application.hpp"
#include "platform/memory/recorded_shell.hpp"

namespace {

using namespace qmv;

constexpr int64_t kSmallRows = 100'000;
constexpr int64_t kLargeRows = 1'000'000;

std::u16string decimal(int64_t n) {
  const std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

// Rows / 2 values that occur once and rows / 4 values that occur twice, scrambled.
std::vector<Value> halfRepeated(int64_t rows) {
  std::vector<Value> values;
  values.reserve(static_cast<std::size_t>(rows));
  for (int64_t i = 0; i < rows / 2; ++i) values.emplace_back(u"once-" + decimal(i));
  for (int64_t i = 0; values.size() < static_cast<std::size_t>(rows); ++i) {
    values.emplace_back(u"twice-" + decimal(i / 2));
  }
  uint64_t seed = 0x9E3779B97F4A7C15ull;
  for (std::size_t i = values.size() - 1; i > 0; --i) {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    std::swap(values[i], values[seed % (i + 1)]);
  }
  return values;
}

/// Evicts the caches, as between filling a sheet and running a command on it later.
void evictCaches() {
  static std::vector<uint64_t> buffer(std::size_t{64} << 17);  // 64 MiB
  for (std::size_t i = 0; i < buffer.size(); i += 8) buffer[i] += i;
  benchmark::DoNotOptimize(buffer.data());
}

/// CPU seconds of this thread: the machine may be shared, so wall time is only reported.
double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

/// CPU seconds per run of the smaller size, by name, for the growth factor.
std::map<std::string, double>& smallSeconds() {
  static std::map<std::string, double> seconds;
  return seconds;
}

/// Reports the per-run time and, for the larger size, its multiple of the smaller one.
void reportGrowth(benchmark::State& state, const std::string& name, double totalSeconds) {
  const int64_t rows = state.range(0);
  const double perRun = totalSeconds / static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations() * rows);
  if (rows == kSmallRows) {
    smallSeconds()[name] = perRun;
  } else if (auto it = smallSeconds().find(name); it != smallSeconds().end()) {
    state.counters["x_of_100k"] = perRun / it->second;
  }
}

void runMode(benchmark::State& state, const std::string& mode, void (*command)(AddinModule&)) {
  const int64_t rows = state.range(0);
  const std::vector<Value> values = halfRepeated(rows);
  double total = 0;
  double wall = 0;
  double hostCalls = 0;
  for (auto _ : state) {
    memory::QueuedUser user;
    memory::HeadlessToolkit toolkit(user);
    memory::RecordedShell shell;
    auto host = std::make_shared<memory::MemoryApplication>();
    AddinModule module(toolkit, shell);
    module.hostApp = host;
    host->addWorkbook();
    host->setColumn({1, 1}, values);
    host->select(u"A1:A" + decimal(rows));
    user.press("CommandButton1");
    const uint64_t callsBefore = host->hostCallCount();
    evictCaches();

    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = threadSeconds();
    command(module);
    const double seconds = threadSeconds() - cpuStart;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    total += seconds;
    hostCalls =
        static_cast<double>(host->hostCallCount() - callsBefore) / static_cast<double>(rows);
    if (toolkit.yields() < static_cast<uint64_t>(rows)) state.SkipWithError("rows missed");
  }
  state.counters["host_calls_per_row"] = hostCalls;
  state.counters["wall_ms"] = 1000 * wall / static_cast<double>(state.iterations());
  reportGrowth(state, mode, total);
}

/// The host alone over the same column: `work(host, column, values)` timed.
template <class Work>
void runHostOnly(benchmark::State& state, const std::string& name, Work work) {
  const int64_t rows = state.range(0);
  const std::vector<Value> values = halfRepeated(rows);
  double total = 0;
  for (auto _ : state) {
    memory::MemoryApplication host;
    host.addWorkbook();
    host.setColumn({1, 1}, values);
    const RangePtr column = host.range(u"A1:A" + decimal(rows));
    const double cpuStart = threadSeconds();
    work(host, *column, values);
    const double seconds = threadSeconds() - cpuStart;
    state.SetIterationTime(seconds);
    total += seconds;
  }
  reportGrowth(state, name, total);
}

// One COUNTIF per row: the floor of the counting modes.
void BM_HostCountIfPerRow(benchmark::State& state) {
  runHostOnly(state, "COUNTIF",
              [](memory::MemoryApplication& host, Range& column, const std::vector<Value>& values) {
                double found = 0;
                for (const Value& value : values) {
                  found +=
                      host.worksheetFunction().countIf(column, std::get<std::u16string>(value));
                }
                benchmark::DoNotOptimize(found);
              });
}

// Reading every value once: the floor of keep one.
void BM_HostReadColumn(benchmark::State& state) {
  runHostOnly(state, "read",
              [](memory::MemoryApplication&, Range& column, const std::vector<Value>&) {
                CellBlock block = column.readBlock();
                benchmark::DoNotOptimize(block);
              });
}

void BM_AllDuplicates(benchmark::State& state) { runMode(state, "RADP", RemoveAllDuplicates); }
void BM_UniqueValues(benchmark::State& state) { runMode(state, "RUDP", RemoveUniqueValues); }
void BM_KeepOne(benchmark::State& state) { runMode(state, "RDPV", RemoveDuplicatesKeepOne); }

/// Each size after the smaller one, so that the larger reports the growth factor.
void sizes(benchmark::internal::Benchmark* b) { b->UseManualTime()->Unit(benchmark::kMillisecond); }

BENCHMARK(BM_HostCountIfPerRow)->Apply(sizes)->Arg(kSmallRows)->Iterations(5);
BENCHMARK(BM_HostCountIfPerRow)->Apply(sizes)->Arg(kLargeRows)->Iterations(1);
BENCHMARK(BM_HostReadColumn)->Apply(sizes)->Arg(kSmallRows)->Iterations(5);
BENCHMARK(BM_HostReadColumn)->Apply(sizes)->Arg(kLargeRows)->Iterations(1);
BENCHMARK(BM_AllDuplicates)->Apply(sizes)->Arg(kSmallRows)->Iterations(5);
BENCHMARK(BM_AllDuplicates)->Apply(sizes)->Arg(kLargeRows)->Iterations(1);
BENCHMARK(BM_UniqueValues)->Apply(sizes)->Arg(kSmallRows)->Iterations(5);
BENCHMARK(BM_UniqueValues)->Apply(sizes)->Arg(kLargeRows)->Iterations(1);
BENCHMARK(BM_KeepOne)->Apply(sizes)->Arg(kSmallRows)->Iterations(5);
BENCHMARK(BM_KeepOne)->Apply(sizes)->Arg(kLargeRows)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
