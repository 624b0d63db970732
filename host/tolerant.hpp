// The "skip the failing step and go on" mode: each tolerant step is wrapped on its own,
// so a reader sees exactly which steps may fail without stopping the procedure.
#pragma once

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace qmv {

/// Runs one step; a failure (host error or any other exception) skips the step.
/// Returns true when the step completed.
template <class Step>
bool tolerant(Step&& step) noexcept {
  try {
    std::forward<Step>(step)();
    return true;
  } catch (...) {
    return false;
  }
}

/// Runs a step that puts the host back into its normal state: a failure is retried once
/// (a transient refusal must not leave screen updating off), then skipped.
template <class Step>
bool tolerantRetry(Step&& step) noexcept {
  return tolerant(step) || tolerant(step);
}

/// Runs one step that yields a value; a failure gives no value.
template <class Step>
auto tolerantGet(Step&& step) noexcept -> std::optional<std::decay_t<decltype(step())>> {
  try {
    return std::forward<Step>(step)();
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace qmv
