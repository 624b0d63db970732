// Click events of Office command-bar buttons, received through the button's connection
// point for _CommandBarButtonEvents.
#pragma once

#include <memory>

#include "host/host.hpp"
#include "platform/windows/com_support.hpp"

namespace qmv::windows {

/// Advises a sink for `button`'s Click events that calls `handler`; the subscription
/// unadvises when destroyed. Throws HostError when the button offers no such events.
std::unique_ptr<EventSubscription> subscribeButtonClick(IDispatch* button, ClickHandler handler);

}  // namespace qmv::windows
