// Events of Office and Excel objects, received through their connection points: the Click
// of command-bar buttons (_CommandBarButtonEvents) and the application's SheetChange
// (AppEvents).
#pragma once

#include <functional>
#include <memory>

#include "host/host.hpp"
#include "platform/windows/com_support.hpp"

namespace qmv::windows {

/// Advises a sink for `button`'s Click events that calls `handler`; the subscription
/// unadvises when destroyed. Throws HostError when the button offers no such events.
std::unique_ptr<EventSubscription> subscribeButtonClick(IDispatch* button, ClickHandler handler);

/// Receives Application.SheetChange: the worksheet and the range of cells that changed.
/// Excel raises it for changes by the user, by external links and by code alike.
using SheetChangeHandler = std::function<void(IDispatch* sheet, IDispatch* target)>;

/// Advises a sink for Excel's application events that calls `handler` on every SheetChange
/// (other application events are ignored); the subscription unadvises when destroyed.
/// Throws HostError when `application` offers no such events.
std::unique_ptr<EventSubscription> subscribeSheetChange(IDispatch* application,
                                                        SheetChangeHandler handler);

}  // namespace qmv::windows
