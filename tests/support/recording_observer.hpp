// A run observer that records what a run tells it, for tests of the run API without forms.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/run.hpp"
#include "engine/session.hpp"
#include "ui/session.hpp"

namespace qmv::testing {

/// Records every call, in order, as a short line: "started", "max 5", "yield",
/// "progress 3", "stop?", "message <text>", "finish".
class RecordingObserver : public RunObserver {
 public:
  void started() override { events.push_back("started"); }
  void setMaximum(float maximum) override {
    events.push_back("max " + number(maximum));
    maximums.push_back(maximum);
  }
  void yield() override {
    events.push_back("yield");
    ++yields;
    if (onYield) onYield(yields);
  }
  void progress(float step) override {
    events.push_back("progress " + number(step));
    steps.push_back(step);
  }
  bool stopRequested() override {
    events.push_back("stop?");
    return stopAfterStep && static_cast<int64_t>(steps.size()) >= *stopAfterStep;
  }
  void message(const std::u16string& text) override {
    events.push_back("message " + std::string(text.begin(), text.end()));
    messages.push_back(text);
  }
  void finish() override {
    events.push_back("finish");
    ++finishes;
  }

  /// The number of calls recorded as `event`.
  int64_t count(const std::string& event) const {
    int64_t n = 0;
    for (const std::string& e : events) n += e == event ? 1 : 0;
    return n;
  }

  /// Answer true to stopRequested once this many steps were shown.
  std::optional<int64_t> stopAfterStep;
  /// Called at every yield with the number of yields so far.
  std::function<void(int64_t)> onYield;

  std::vector<std::string> events;
  std::vector<float> maximums;
  std::vector<float> steps;
  std::vector<std::u16string> messages;
  int64_t yields = 0;
  int64_t finishes = 0;

 private:
  static std::string number(float x) {
    const auto whole = static_cast<int64_t>(x);
    return static_cast<float>(whole) == x ? std::to_string(whole) : std::to_string(x);
  }
};

/// A removal session without forms: messages to the user are recorded.
class RecordingSession : public RemovalSession {
 public:
  void tellUser(const std::u16string& text) override { told.push_back(text); }
  std::vector<std::u16string> told;
};

/// The code of the operation a command stored for the dialog; empty when none.
inline std::u16string chosenCode(const FormsSession& session) {
  const std::optional<Operation>& operation = session.runOptions.operation;
  return operation ? std::u16string(operationCode(*operation)) : std::u16string();
}

}  // namespace qmv::testing
