// A command-bar button held together with its Click subscription: the subscription lasts
// exactly as long as the button is held here.
#pragma once

#include <memory>
#include <utility>

#include "host/host.hpp"

namespace qmv {

/// One button and the subscription to its Click event.
class ButtonWithEvents {
 public:
  ButtonWithEvents() = default;
  ButtonWithEvents(const ButtonWithEvents&) = delete;
  ButtonWithEvents& operator=(const ButtonWithEvents&) = delete;
  ~ButtonWithEvents() { reset(); }

  /// Holds `button` and subscribes `handler` to its Click, replacing what was held before.
  /// An empty handle just releases. A failing subscription propagates; the button is then
  /// held without one.
  void assign(CommandBarControlPtr button, ClickHandler handler) {
    reset();
    button_ = std::move(button);
    if (button_) subscription_ = button_->subscribeClick(std::move(handler));
  }

  /// Ends the subscription, then lets the button go.
  void reset() noexcept {
    subscription_.reset();
    button_.reset();
  }

  const CommandBarControlPtr& button() const noexcept { return button_; }
  bool subscribed() const noexcept { return subscription_ != nullptr; }
  explicit operator bool() const noexcept { return button_ != nullptr; }

 private:
  CommandBarControlPtr button_;
  std::unique_ptr<EventSubscription> subscription_;
};

}  // namespace qmv
