#include "addin/connect.hpp"

#include <optional>
#include <string>
#include <vector>

#include "addin/addin_module.hpp"
#include "addin/cb_events.hpp"
#include "addin/command_table.hpp"
#include "addin/entry_points.hpp"
#include "addin/host_object.hpp"
#include "engine/host_run_state.hpp"
#include "engine/undo.hpp"
#include "host/tolerant.hpp"

namespace qmv {

namespace {

std::u16string text(std::u16string_view view) { return std::u16string(view); }

/// More copies of the popup than any sequence of connections leaves behind.
constexpr int kMaxPopupCopies = 16;

/// Deletes every popup of the add-in, one at a time until none is left, so that a copy
/// that an earlier failure left behind does not stay in the menu bar for good.
void removeEveryPopup(Connect& connect) noexcept {
  for (int copies = 0; copies < kMaxPopupCopies && tolerant([&] { connect.remMenuBar(); });
       ++copies) {
  }
}

/// Deletes every control of any bar whose tag is `tag`.
void removeTagged(CommandBars& bars, std::u16string_view tag) noexcept {
  std::vector<CommandBarControlPtr> found;
  tolerant([&] { found = bars.findControls(text(tag)); });
  for (const CommandBarControlPtr& control : found) {
    tolerant([&] { required(control).remove(); });
  }
}

}  // namespace

void Connect::AddinInstance_OnConnection(ApplicationPtr app, AddInInstance* addInInst) noexcept {
  tolerantAtBoundary([&] { module_.hostApp = std::move(app); });
  tolerantAtBoundary([&] { registerUndoMacro(module_); });
  tolerantAtBoundary([&] { removeLeftControls(); });
  tolerantAtBoundary([&] { txtRemoverCB_Add(addInInst); });
  tolerantAtBoundary([&] { txtRemoverMB_Add(); });
}

void Connect::AddinInstance_OnDisconnection() noexcept {
  removeEveryPopup(*this);
  tolerantAtBoundary([&] { remToolBar(); });
  releaseUndoCommands(module_);
  tolerantAtBoundary([&] { module_.hostApp.reset(); });
  tolerantAtBoundary([&] { CBarCtl.reset(); });
  tolerantAtBoundary([&] { module_.buttonHandlers = {}; });
  tolerantAtBoundary([&] { module_.currentHandler.reset(); });
}

void Connect::txtRemoverCB_Add(AddInInstance* AddInInst_1) {
  Application& app = hostApplication(module_);
  app.setScreenUpdating(false);

  tolerant([&] { remToolBar(); });
  CommandBarPtr bar;
  tolerant(
      [&] { bar = required(app.commandBars()).add(text(surface::kToolbarName), xl::kBarTop); });
  tolerant([&] { required(bar).setVisible(true); });

  // A failed add leaves no button rather than the button of an earlier build.
  CBarCtl.reset();
  CommandBarControlPtr button;
  tolerant(
      [&] { button = required(required(bar).controls()).add(ControlType::Button, std::nullopt); });
  tolerant([&] {
    CBarCtl.assign(button, [this](CommandBarControl& clicked, bool& cancelDefault) {
      CBarCtl_Click(clicked, cancelDefault);
    });
  });
  tolerant([&] { required(button).setCaption(text(surface::kToolbarCaption)); });
  tolerant([&] { required(button).setStyle(surface::kIconAndCaption); });
  tolerant([&] { required(button).setFaceId(surface::kToolbarFaceId); });
  tolerant([&] { required(button).setTooltipText(text(surface::kToolbarTooltip)); });
  tolerant([&] { required(button).setTag(text(surface::kToolbarTag)); });
  tolerant([&] {
    if (AddInInst_1 == nullptr) throw HostError(host_errors::kObjectNotSet, "No add-in instance");
    required(button).setOnAction(u"!<" + AddInInst_1->progId() + u">");
  });
  tolerantRetry([&] { app.setScreenUpdating(true); });
}

void Connect::txtRemoverMB_Add() noexcept {
  tolerant([&] { hostApplication(module_).setScreenUpdating(false); });
  removeEveryPopup(*this);
  module_.buttonHandlers = {};

  CommandBarPtr menuBar;
  tolerant([&] {
    menuBar = required(hostApplication(module_).commandBars()).item(text(surface::kMenuBarName));
  });
  tolerant([&] { required(menuBar).setVisible(true); });
  CommandBarControlPtr popup;
  tolerant([&] { popup = required(required(menuBar).controls()).add(ControlType::Popup, false); });
  tolerant([&] { required(popup).setCaption(text(surface::kPopupCaption)); });
  tolerant([&] { required(popup).setVisible(true); });

  for (const CommandRow& row : commandTable()) {
    // A fresh handle per row: a failed add must not rename the previous row's button.
    CommandBarControlPtr button;
    tolerant([&] {
      button = required(required(popup).controls()).add(ControlType::Button, std::nullopt);
    });
    tolerant([&] { required(button).setCaption(text(row.caption)); });
    tolerant([&] { required(button).setFaceId(row.faceId); });
    tolerant([&] { required(button).setTag(text(row.tag)); });
    tolerant([&] { required(button).setOnAction(text(row.onAction)); });
    tolerant([&] { required(button).setStyle(surface::kIconAndCaption); });
    if (!row.parameter.empty()) {
      tolerant([&] { required(button).setParameter(text(row.parameter)); });
    }
    if (row.beginGroup) tolerant([&] { required(button).setBeginGroup(true); });

    auto wrapper = cbEvents::create(module_);
    module_.currentHandler = wrapper;
    tolerant([&] { wrapper->setButton(button); });
    module_.buttonHandlers.push_back(std::move(wrapper));
  }

  tolerantRetry([&] { hostApplication(module_).setScreenUpdating(true); });
}

void Connect::removeLeftControls() {
  const CommandBarsPtr bars = hostApplication(module_).commandBars();
  removeEveryPopup(*this);
  tolerant([&] { remToolBar(); });
  removeTagged(required(bars), surface::kToolbarTag);
  for (const CommandRow& row : commandTable()) removeTagged(required(bars), row.tag);
}

void Connect::remToolBar() {
  required(required(hostApplication(module_).commandBars()).item(text(surface::kToolbarName)))
      .remove();
}

void Connect::remMenuBar() {
  const CommandBarPtr menuBar =
      required(hostApplication(module_).commandBars()).item(text(surface::kMenuBarName));
  required(required(required(menuBar).controls()).item(text(surface::kPopupCaption))).remove();
}

void Connect::CBarCtl_Click(CommandBarControl& /*clicked*/, bool& /*cancelDefault*/) {
  ShowWizard(module_);
}

}  // namespace qmv
