// The "skip the failing step and go on" mode: each tolerant step is wrapped on its own,
// so a reader sees exactly which steps may fail without stopping the procedure.
//
// A step may fail the way a host call or a text transform fails: a HostError, or another
// std::runtime_error (a pattern over its match limit, a form's refusal). Those are skipped.
// Everything else goes on to the caller: std::bad_alloc, and the programming errors
// (std::logic_error and its kin, a bad variant or optional access), which skipping would
// only hide; a run's exit guard puts the host back before they leave the add-in.
//
// A handler the host calls (a click, the connection) is a boundary no exception may
// cross; tolerantAtBoundary ends its step on any failure, whatever it is.
//
// Every skipped failure passes through toleratedFailure(), where a test can see it by
// installing a ToleratedFailureWatch.
#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace qmv {

/// Hears each failure that a tolerant step skipped; none by default.
using ToleratedFailureHook = std::function<void(const std::exception& failure)>;

/// What the watch hears for a failure that is no std::exception.
struct UnknownFailure final : std::exception {
  const char* what() const noexcept override { return "a failure that is no std::exception"; }
};

namespace detail {
inline ToleratedFailureHook& toleratedFailureHook() {
  thread_local ToleratedFailureHook hook;
  return hook;
}
}  // namespace detail

/// The one place a skipped failure goes through. Never throws: a hook that fails is
/// ignored, since the step it reports on is already being skipped.
inline void toleratedFailure(const std::exception& failure) noexcept {
  if (const ToleratedFailureHook& hook = detail::toleratedFailureHook()) {
    try {
      hook(failure);
    } catch (...) {  // NOLINT(bugprone-empty-catch): see above
    }
  }
}

/// Installs a hook for its lifetime (on this thread) and puts the previous one back.
class ToleratedFailureWatch {
 public:
  explicit ToleratedFailureWatch(ToleratedFailureHook hook)
      : previous_(std::exchange(detail::toleratedFailureHook(), std::move(hook))) {}
  ~ToleratedFailureWatch() { detail::toleratedFailureHook() = std::move(previous_); }
  ToleratedFailureWatch(const ToleratedFailureWatch&) = delete;
  ToleratedFailureWatch& operator=(const ToleratedFailureWatch&) = delete;

 private:
  ToleratedFailureHook previous_;
};

/// Runs one step; a host or transform failure skips the step. Returns true when the step
/// completed. Any other exception propagates.
template <class Step>
bool tolerant(Step&& step) {
  try {
    std::forward<Step>(step)();
    return true;
  } catch (const std::runtime_error& failure) {
    toleratedFailure(failure);
    return false;
  }
}

/// Runs a step that puts the host back into its normal state: a failure is retried once
/// (a transient refusal must not leave screen updating off), then skipped.
template <class Step>
bool tolerantRetry(Step&& step) {
  return tolerant(step) || tolerant(step);
}

/// Runs one step that yields a value; a host or transform failure gives no value. Any
/// other exception propagates.
template <class Step>
auto tolerantGet(Step&& step) -> std::optional<std::decay_t<decltype(step())>> {
  try {
    return std::forward<Step>(step)();
  } catch (const std::runtime_error& failure) {
    toleratedFailure(failure);
    return std::nullopt;
  }
}

/// Runs a step of a handler the host calls, which nothing may leave: host and transform
/// failures are skipped as by tolerant(), and so is anything else (out of memory, a
/// programming error), which the watch hears of too. Returns true when the step completed.
template <class Step>
bool tolerantAtBoundary(Step&& step) noexcept {
  try {
    return tolerant(std::forward<Step>(step));
  } catch (const std::exception& failure) {
    toleratedFailure(failure);
  } catch (...) {
    toleratedFailure(UnknownFailure{});
  }
  return false;
}

}  // namespace qmv
