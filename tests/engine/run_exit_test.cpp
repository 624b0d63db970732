// A run that leaves by an exception: every call a run makes to its observer is made to
// throw in turn (std::bad_alloc, as a huge undo record would), and whatever the call, the
// exception reaches the caller, the host is back from its run state if the run had put it
// there and untouched otherwise, the observer hears finish() once, and the run's changes
// no longer count as the add-in's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "engine/run.hpp"
#include "host/host_error.hpp"
#include "host/tolerant.hpp"
#include "platform/memory/memory_application.hpp"
#include "support/recording_observer.hpp"

namespace qmv {
namespace {

using testing::RecordingObserver;
using testing::RecordingSession;

/// Records like RecordingObserver and throws std::bad_alloc at its `throwAt`th call
/// (1-based; 0 never).
class FailingObserver final : public RecordingObserver {
 public:
  void started() override {
    hit();
    RecordingObserver::started();
  }
  void setMaximum(float maximum) override {
    hit();
    RecordingObserver::setMaximum(maximum);
  }
  void yield() override {
    hit();
    RecordingObserver::yield();
  }
  void progress(float step) override {
    hit();
    RecordingObserver::progress(step);
  }
  bool stopRequested() override {
    hit();
    return RecordingObserver::stopRequested();
  }
  void message(const std::u16string& text) override {
    hit();
    RecordingObserver::message(text);
  }
  void finish() override {
    ++finishCalls;
    hit();
    RecordingObserver::finish();
  }

  int throwAt = 0;
  int calls = 0;
  int finishCalls = 0;

 private:
  void hit() {
    if (++calls == throwAt) throw std::bad_alloc();
  }
};

struct Scenario {
  const char* name;
  std::function<void(memory::MemoryApplication&)> sheet;
  std::function<RunRequest()> request;
};

void column(memory::MemoryApplication& host) {
  host.setColumn({1, 1}, {Value{u"a1"}, Value{u"b2"}, Value{u"a1"}, Value{u"c3"}});
  host.select(u"A1:A4");
}

RunRequest plain(Operation operation) {
  RunRequest r;
  r.operation = operation;
  return r;
}

std::vector<Scenario> scenarios() {
  return {
      {"character run", column, [] { return plain(Operation::RNUM); }},
      {"character run with inputs", column,
       [] {
         RunRequest r = plain(Operation::RNAP);
         r.inputs = [](std::u16string_view) -> std::optional<CellRequest> {
           return CellRequest{Operation::RNAP, {1, 1, {}}};
         };
         return r;
       }},
      {"value run", column, [] { return plain(Operation::RDPV); }},
      {"character run handed to a value run", column,
       [] {
         RunRequest r = plain(Operation::RNUM);
         r.beforeCells = [] { return std::optional<ValueMode>(ValueMode::AllRepeated); };
         return r;
       }},
      {"empty selection", [](memory::MemoryApplication& host) { host.select(u"C1:C3"); },
       [] { return plain(Operation::RNUM); }},
      {"no workbook", [](memory::MemoryApplication& host) { host.closeWorkbooks(); },
       [] { return plain(Operation::RNUM); }},
      {"value run over two columns", [](memory::MemoryApplication& host) { host.select(u"A1:B2"); },
       [] { return plain(Operation::RADP); }},
  };
}

struct Attempt {
  std::shared_ptr<memory::MemoryApplication> host = std::make_shared<memory::MemoryApplication>();
  RecordingSession session;
  FailingObserver observer;
};

/// A fresh host with the scenario's sheet, calculation manual beforehand (the user's).
std::unique_ptr<Attempt> prepare(const Scenario& scenario) {
  auto attempt = std::make_unique<Attempt>();
  attempt->session.hostApp = attempt->host;
  attempt->host->addWorkbook();
  attempt->host->setCalculation(xl::kCalculationManual);
  scenario.sheet(*attempt->host);
  return attempt;
}

TEST(RunExit, EveryObserverCallThatThrowsStillEndsTheRun) {
  for (const Scenario& scenario : scenarios()) {
    SCOPED_TRACE(scenario.name);
    const auto clean = prepare(scenario);
    runRemoval(clean->session, scenario.request(), clean->observer);
    ASSERT_GT(clean->observer.calls, 0);
    ASSERT_GE(clean->observer.finishCalls, 1);

    int escaped = 0;
    for (int n = 1; n <= clean->observer.calls; ++n) {
      SCOPED_TRACE("observer call " + std::to_string(n) + " throws");
      const auto attempt = prepare(scenario);
      attempt->observer.throwAt = n;
      // Progress and yields are tolerant steps of the run; the other calls let it escape.
      try {
        runRemoval(attempt->session, scenario.request(), attempt->observer);
      } catch (const std::bad_alloc&) {
        ++escaped;
      }

      const memory::RunSettings& settings = attempt->host->runSettings();
      EXPECT_TRUE(settings.screenUpdating);
      EXPECT_EQ(settings.statusBar, u"");
      // Whether or not the run got into its run state, the user's calculation mode is back.
      EXPECT_EQ(settings.calculation, xl::kCalculationManual);
      // The form closes: finish() is heard, and never more often than in a clean run (a
      // wizard run handed to a value run hears it twice).
      EXPECT_GE(attempt->observer.finishCalls, 1);
      EXPECT_LE(attempt->observer.finishCalls, clean->observer.finishCalls);
      EXPECT_EQ(attempt->session.ownChanges, 0);
    }
    EXPECT_GT(escaped, 0) << "no observer call let an exception leave the run";
  }
}

TEST(RunExit, ANormalRunRestoresTheHostOnce) {
  // The guard adds nothing to a run that ends normally.
  const auto attempt = prepare(scenarios()[0]);
  const std::size_t before = attempt->host->settingsLog().size();
  runRemoval(attempt->session, plain(Operation::RNUM), attempt->observer);
  // Manual before the run: set once by the run, and once more as the user's mode back.
  const std::vector<std::u16string>& log = attempt->host->settingsLog();
  EXPECT_EQ(std::count(log.begin() + static_cast<std::ptrdiff_t>(before), log.end(),
                       u"Calculation=-4135"),
            2);
  EXPECT_EQ(attempt->observer.finishCalls, 1);
}

TEST(Tolerant, SkipsHostAndTransformFailuresOnlyAndShowsEachToTheWatch) {
  struct Row {
    const char* name;
    std::function<void()> step;
    bool skipped;
  };
  const Row rows[] = {
      {"host error", [] { throw HostError(host_errors::kRefused, "refused"); }, true},
      {"transform's runtime error", [] { throw std::runtime_error("match limit"); }, true},
      {"out of memory", [] { throw std::bad_alloc(); }, false},
      {"programming error", [] { throw std::out_of_range("index"); }, false},
      {"bad variant access", [] { (void)std::get<double>(Value{u"x"}); }, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> seen;
    const ToleratedFailureWatch watch(
        [&](const std::exception& failure) { seen.emplace_back(failure.what()); });
    bool completed = true;
    bool escaped = false;
    try {
      completed = tolerant(row.step);
    } catch (...) {
      escaped = true;
    }
    EXPECT_EQ(escaped, !row.skipped);
    EXPECT_EQ(seen.size(), row.skipped ? 1u : 0u);
    if (row.skipped) {
      EXPECT_FALSE(completed);
    }
    escaped = false;
    try {
      EXPECT_FALSE(tolerantGet([&] {
        row.step();
        return 1;
      }));
    } catch (...) {
      escaped = true;
    }
    EXPECT_EQ(escaped, !row.skipped);
    // At a boundary nothing gets through, and the watch hears of every failure.
    seen.clear();
    EXPECT_FALSE(tolerantAtBoundary(row.step));
    EXPECT_EQ(seen.size(), 1u);
  }
}

TEST(Tolerant, AProgrammingErrorInACellsInputsReachesTheCallerWithTheHostRestored) {
  const auto attempt = prepare(scenarios()[0]);
  RunRequest r = plain(Operation::RNUM);
  r.inputs = [](std::u16string_view) -> std::optional<CellRequest> {
    throw std::logic_error("inputs read past their box");
  };
  EXPECT_THROW(runRemoval(attempt->session, r, attempt->observer), std::logic_error);
  EXPECT_TRUE(attempt->host->runSettings().screenUpdating);
  // The user had calculation manual before the run.
  EXPECT_EQ(attempt->host->runSettings().calculation, xl::kCalculationManual);
  EXPECT_EQ(attempt->observer.finishCalls, 1);
}

}  // namespace
}  // namespace qmv
