// Connection, disconnection and the menu and toolbar they build and remove.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "addin/cb_events.hpp"
#include "engine/host_run_state.hpp"
#include "engine/undo.hpp"
#include "host/host_error.hpp"
#include "tests/addin/surface_fixture.hpp"

namespace qmv::addin_test {
namespace {

using memory::ControlSnapshot;

struct ExpectedButton {
  const char16_t* caption;
  const char16_t* tag;
  const char16_t* onAction;
  int32_t faceId;
  const char16_t* parameter;
  bool beginGroup;
};

// The menu as the user must see it, written out independently of the add-in's table.
const ExpectedButton kExpectedMenu[] = {
    {u"Dolvani - Wizard", u"QMV0", u"Text_Remover", 65, u"", false},
    {u"Undo Changes", u"QMV16", u"UndoTextRemoval", 128, u"", false},
    {u"Remove all &Numeric in Selection", u"QMV1", u"Remove_Numbers", 11, u"", true},
    {u"Remove all &Alphabets in Selection", u"QMV2", u"Remove_Alphas", 219, u"", false},
    {u"Remove Non-&Printable Characters in Selection", u"QMV3", u"Remove_Nonpc", 1500, u"", false},
    {u"Remove &User-defined Characters in Selection", u"QMV4", u"Remove_Ausdc", 304, u"", false},
    {u"Remove all &Spaces in Selection", u"QMV5", u"Remove_Alsps", 241, u"1", true},
    {u"Remove all &Leading and Trailing Spaces", u"QMV6", u"Remove_Alts", 6, u"1", false},
    {u"Remove all Leading, Trailing and &Excessive Spaces", u"QMV7", u"Remove_Altes", 175, u"1",
     false},
    {u"Remove all Text before nth Characters", u"QMV8", u"Remove_Altbsp", 315, u"1", true},
    {u"Remove all Text after nth Characters", u"QMV9", u"Remove_Altasp", 314, u"1", false},
    {u"Remove x no. of Chars before nth Characters", u"QMV10", u"Remove_Noftbsp", 295, u"1", false},
    {u"Remove x no. of Chars after nth Characters", u"QMV11", u"Remove_Noftasp", 292, u"1", false},
    {u"Remove all 'UPPER' Case Characters in Selection", u"QMV12", u"Remove_Aupcs", 291, u"1",
     true},
    {u"Remove all 'lower' Case Characters in Selection", u"QMV13", u"Remove_Alocs", 290, u"1",
     false},
    {u"Remove Duplicates in Selection - Keep One", u"QMV18", u"Remove_Aldpv", 450, u"1", true},
    {u"Remove all Duplicates Values in Selection", u"QMV19", u"Remove_Aldpvl", 486, u"1", false},
    {u"Remove all Unique Values in Selection", u"QMV20", u"Remove_Aluvl", 452, u"1", false},
    {u"About &Vandrel QMV", u"QMV21", u"User_Guide", 487, u"1", true},
    {u"Online &User Guide", u"QMV15", u"help_file", 984, u"1", false},
    {u"Exit Vandrel &QMV", u"QMV17", u"exit", 9101, u"1", true},
};

bool sameAsRow(const ControlSnapshot& button, const ExpectedButton& row) {
  return button.type == ControlType::Button && button.caption == row.caption &&
         button.tag == row.tag && button.onAction == row.onAction && button.faceId == row.faceId &&
         button.parameter == row.parameter && button.beginGroup == row.beginGroup &&
         button.style == 3 && !button.temporaryArgument.has_value() && button.subscriptions == 1;
}

TEST_F(SurfaceTest, MenuHoldsTheTwentyOneButtonsInTableOrder) {
  connectHost();

  const ControlSnapshot menu = popup();
  EXPECT_EQ(menu.type, ControlType::Popup);
  EXPECT_TRUE(menu.visible);
  EXPECT_EQ(menu.temporaryArgument, std::optional<bool>(false));
  EXPECT_TRUE(app->bar(kMenuBar)->visible);
  ASSERT_EQ(menu.controls.size(), std::size(kExpectedMenu));
  for (std::size_t i = 0; i < std::size(kExpectedMenu); ++i) {
    const ExpectedButton& row = kExpectedMenu[i];
    const ControlSnapshot& button = menu.controls[i];
    SCOPED_TRACE(::testing::Message() << "row " << i + 1);
    EXPECT_EQ(button.type, ControlType::Button);
    EXPECT_EQ(button.caption, row.caption);
    EXPECT_EQ(button.tag, row.tag);
    EXPECT_EQ(button.onAction, row.onAction);
    EXPECT_EQ(button.faceId, row.faceId);
    EXPECT_EQ(button.parameter, row.parameter);
    EXPECT_EQ(button.beginGroup, row.beginGroup);
    EXPECT_EQ(button.style, 3);
    EXPECT_FALSE(button.temporaryArgument.has_value());
    EXPECT_EQ(button.subscriptions, 1);
  }
}

TEST_F(SurfaceTest, GroupSeparatorsStandAboveTheirRows) {
  connectHost();
  std::set<std::size_t> separated;
  const ControlSnapshot menu = popup();
  for (std::size_t i = 0; i < menu.controls.size(); ++i) {
    if (menu.controls[i].beginGroup) separated.insert(i + 1);
  }
  EXPECT_EQ(separated, (std::set<std::size_t>{3, 7, 10, 14, 16, 19, 21}));
}

TEST_F(SurfaceTest, EveryMenuButtonHasItsWrapperInMenuOrder) {
  connectHost();
  ASSERT_EQ(module.buttonHandlers.size(), std::size(kExpectedMenu));
  std::set<const CommandBarControl*> distinct;
  for (std::size_t i = 0; i < module.buttonHandlers.size(); ++i) {
    SCOPED_TRACE(::testing::Message() << "wrapper " << i + 1);
    const auto& wrapper = module.buttonHandlers[i];
    ASSERT_TRUE(wrapper);
    ASSERT_TRUE(wrapper->cbBtn);
    EXPECT_TRUE(wrapper->cbBtn.subscribed());
    EXPECT_EQ(wrapper->cbBtn.button()->tag(), kExpectedMenu[i].tag);
    distinct.insert(wrapper->cbBtn.button().get());
  }
  EXPECT_EQ(distinct.size(), module.buttonHandlers.size());
  EXPECT_EQ(module.currentHandler, module.buttonHandlers.back());
  EXPECT_EQ(module.currentHandler->cbBtn.button()->caption(), u"Exit Vandrel &QMV");
}

TEST_F(SurfaceTest, ToolbarHoldsTheWizardButton) {
  connectHost();
  const auto bar = app->bar(kToolbar);
  ASSERT_TRUE(bar);
  EXPECT_TRUE(bar->visible);
  EXPECT_EQ(bar->position, xl::kBarTop);
  ASSERT_EQ(bar->controls.size(), 1u);
  const ControlSnapshot& button = bar->controls.front();
  EXPECT_EQ(button.type, ControlType::Button);
  EXPECT_EQ(button.caption, u"Dolvani - Wizard");
  EXPECT_EQ(button.style, 3);
  EXPECT_EQ(button.faceId, 65);
  EXPECT_EQ(button.tooltipText, u"Conditionally Removes Text From Cells");
  EXPECT_EQ(button.tag, u"Text_Remover");
  EXPECT_EQ(button.onAction, u"!<Orvik.Connect>");
  EXPECT_FALSE(button.temporaryArgument.has_value());
  EXPECT_EQ(button.subscriptions, 1);
  ASSERT_TRUE(connect.CBarCtl);
  EXPECT_EQ(connect.CBarCtl.button()->tag(), u"Text_Remover");
}

TEST_F(SurfaceTest, ToolbarOnActionNamesTheInstancesProgId) {
  const auto other = app->makeAddInInstance(u"Other.Progid");
  connect.AddinInstance_OnConnection(app, other.get());
  EXPECT_EQ(app->bar(kToolbar)->controls.at(0).onAction, u"!<Other.Progid>");
}

TEST_F(SurfaceTest, ConnectionLeavesScreenUpdatingOn) {
  connectHost();
  EXPECT_TRUE(app->runSettings().screenUpdating);
  int offs = 0;
  for (const auto& entry : app->settingsLog()) offs += entry == u"ScreenUpdating=False" ? 1 : 0;
  EXPECT_EQ(offs, 2);  // once per builder
}

TEST_F(SurfaceTest, ConnectionMakesTheUndoMacroRunnable) {
  connectHost();
  EXPECT_TRUE(module.undoMacroRegistered);
  EXPECT_TRUE(app->runMacro(u"undo_changes"));
  ASSERT_EQ(toolkit.messages().size(), 1u);
  EXPECT_EQ(toolkit.messages().front().text, u"Nothing to Undo!");
}

TEST_F(SurfaceTest, DisconnectionRemovesBarsAndReleasesEverything) {
  const std::size_t builtIn = app->bar(kMenuBar)->controls.size();
  connectHost();
  connect.AddinInstance_OnDisconnection();

  EXPECT_EQ(app->barCount(kToolbar), 0);
  EXPECT_TRUE(popups().empty());
  EXPECT_EQ(app->bar(kMenuBar)->controls.size(), builtIn);
  EXPECT_FALSE(module.hostApp);
  EXPECT_FALSE(connect.CBarCtl);
  EXPECT_TRUE(module.buttonHandlers.empty());
  EXPECT_FALSE(module.currentHandler);
  EXPECT_EQ(app->subscriptionCount(), 0);
}

TEST_F(SurfaceTest, DisconnectionGivesControlZBackOnlyIfTheAddinTookIt) {
  struct Row {
    const char* name;
    bool boundBefore;  // another macro held Control+Z before the connection
    bool run;          // a run bound Control+Z to the undo macro
    std::optional<std::u16string> afterwards;
  };
  const Row rows[] = {
      {"a run binds nothing to it", false, true, std::nullopt},
      {"a run leaves another binding alone", true, true, u"their_macro"},
      {"another binding and no run", true, false, u"their_macro"},
      {"nothing bound", false, false, std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    app = std::make_shared<memory::MemoryApplication>();
    if (row.boundBefore) app->onKey(u"^z", u"their_macro");
    connectHost();
    if (row.run) bindUndoCommands(module);
    connect.AddinInstance_OnDisconnection();
    EXPECT_EQ(app->keyBinding(u"^z"), row.afterwards);
    EXPECT_FALSE(module.undoKeyBound);
  }
}

TEST_F(SurfaceTest, NoRunTakesControlZFromTheHost) {
  // Control+Z stays the host's key whatever fails: the runs bind only the Undo entry, which
  // the host's Control+Z chooses while it is the last action.
  connectHost();
  for (uint64_t n = 1; n <= 20; ++n) {
    SCOPED_TRACE(n);
    app->armFault(n, host_errors::kRefused);
    bindUndoCommands(module);
    app->disarmFault();
    EXPECT_EQ(app->keyBinding(u"^z"), std::nullopt);
    EXPECT_FALSE(module.undoKeyBound);
  }
  bindUndoCommands(module);
  ASSERT_TRUE(app->undoBinding());
  EXPECT_EQ(app->undoBinding()->macro, u"undo_changes");
  connect.AddinInstance_OnDisconnection();
  EXPECT_EQ(app->keyBinding(u"^z"), std::nullopt);
}

TEST_F(SurfaceTest, DisconnectionCopesWithBarsDeletedByHand) {
  struct Row {
    const char* name;
    bool deletePopup;
    bool deleteToolbar;
  };
  const Row rows[] = {{"popup deleted", true, false},
                      {"toolbar deleted", false, true},
                      {"both deleted", true, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    connectHost();
    if (row.deletePopup) app->commandBars()->item(kMenuBar)->controls()->item(kPopup)->remove();
    if (row.deleteToolbar) app->commandBars()->item(kToolbar)->remove();
    connect.AddinInstance_OnDisconnection();
    EXPECT_EQ(app->barCount(kToolbar), 0);
    EXPECT_TRUE(popups().empty());
    EXPECT_FALSE(module.hostApp);
    EXPECT_FALSE(connect.CBarCtl);
    EXPECT_TRUE(module.buttonHandlers.empty());
    EXPECT_FALSE(module.currentHandler);
    EXPECT_EQ(app->subscriptionCount(), 0);
  }
}

TEST_F(SurfaceTest, LeftoversOfAnEarlierConnectionAreReplaced) {
  app->commandBars()->add(kToolbar, xl::kBarTop);
  const auto old = app->commandBars()->item(kMenuBar)->controls()->add(ControlType::Popup, false);
  old->setCaption(kPopup);
  old->setTag(u"left over");

  connectHost();

  EXPECT_EQ(app->barCount(kToolbar), 1);
  EXPECT_EQ(app->bar(kToolbar)->controls.size(), 1u);
  ASSERT_EQ(popups().size(), 1u);
  EXPECT_NE(popup().tag, u"left over");
  EXPECT_EQ(popup().controls.size(), std::size(kExpectedMenu));
}

TEST_F(SurfaceTest, SecondConnectionReplacesEverything) {
  connectHost();
  const auto firstWrapper = module.buttonHandlers.front();
  connectHost();

  EXPECT_EQ(app->barCount(kToolbar), 1);
  ASSERT_EQ(popups().size(), 1u);
  EXPECT_EQ(popup().controls.size(), std::size(kExpectedMenu));
  EXPECT_EQ(module.buttonHandlers.size(), std::size(kExpectedMenu));
  EXPECT_NE(module.buttonHandlers.front(), firstWrapper);
  // 21 menu buttons and the toolbar button; the first build's subscriptions are gone.
  EXPECT_EQ(app->subscriptionCount(), 22);
}

TEST_F(SurfaceTest, RemoveMenuDeletesOnlyTheFirstOfTwoPopups) {
  module.hostApp = app;
  auto controls = app->commandBars()->item(kMenuBar)->controls();
  const auto first = controls->add(ControlType::Popup, false);
  first->setCaption(kPopup);
  first->setTag(u"first");
  const auto second = controls->add(ControlType::Popup, false);
  second->setCaption(kPopup);
  second->setTag(u"second");

  connect.remMenuBar();

  ASSERT_EQ(popups().size(), 1u);
  EXPECT_EQ(popups().front().tag, u"second");
}

TEST_F(SurfaceTest, RemoversPropagateTheirFirstFailure) {
  // Disconnected: no host at all.
  EXPECT_THROW(connect.remMenuBar(), HostError);
  EXPECT_THROW(connect.remToolBar(), HostError);
  // Connected host, but nothing to delete.
  module.hostApp = app;
  EXPECT_THROW(connect.remMenuBar(), HostError);
  EXPECT_THROW(connect.remToolBar(), HostError);
}

TEST_F(SurfaceTest, ToolbarBuildStopsWhenScreenUpdatingCannotBeSwitchedOff) {
  module.hostApp = app;
  app->armFault(1, host_errors::kRefused);
  EXPECT_THROW(connect.txtRemoverCB_Add(instance.get()), HostError);
  EXPECT_EQ(app->barCount(kToolbar), 0);
  EXPECT_FALSE(connect.CBarCtl);
}

TEST_F(SurfaceTest, ConnectionGoesOnWithTheMenuWhenTheToolbarCannotStart) {
  // The host calls that precede the toolbar build, counted on a separate host.
  auto probeApp = std::make_shared<memory::MemoryApplication>();
  AddinModule probe{toolkit, shell};
  probe.hostApp = probeApp;
  Connect probeConnect{probe};
  const uint64_t before = probeApp->hostCallCount();
  registerUndoMacro(probe);
  probeConnect.removeLeftControls();
  const uint64_t preceding = probeApp->hostCallCount() - before;

  app->armFault(preceding + 1, host_errors::kRefused);
  const uint64_t calls = app->hostCallCount();
  connectHost();
  // The armed fault was reached: the toolbar really could not start.
  EXPECT_GE(app->hostCallCount() - calls, preceding + 1);

  EXPECT_EQ(app->barCount(kToolbar), 0);
  EXPECT_EQ(popup().controls.size(), std::size(kExpectedMenu));
  EXPECT_EQ(module.buttonHandlers.size(), std::size(kExpectedMenu));
}

TEST_F(SurfaceTest, ApplicationThatIsNoSpreadsheetRaisesNothing) {
  connect.AddinInstance_OnConnection(nullptr, instance.get());
  EXPECT_FALSE(module.hostApp);
  EXPECT_FALSE(connect.CBarCtl);
  for (const auto& wrapper : module.buttonHandlers) EXPECT_FALSE(wrapper->cbBtn);
  EXPECT_EQ(app->barCount(kToolbar), 0);
  EXPECT_TRUE(popups().empty());
  connect.AddinInstance_OnDisconnection();
  EXPECT_TRUE(module.buttonHandlers.empty());
}

TEST_F(SurfaceTest, MissingAddInInstanceLeavesOnlyTheOnActionUnset) {
  connect.AddinInstance_OnConnection(app, nullptr);
  const auto bar = app->bar(kToolbar);
  ASSERT_TRUE(bar);
  ASSERT_EQ(bar->controls.size(), 1u);
  EXPECT_EQ(bar->controls.front().onAction, u"");
  EXPECT_EQ(bar->controls.front().tag, u"Text_Remover");
  EXPECT_EQ(popup().controls.size(), std::size(kExpectedMenu));
}

// Any one failing host call during a menu build skips only its own step: no button gets
// another row's properties and no button is subscribed twice.
TEST(MenuBuildFaults, AnySingleFailureAffectsAtMostOneButton) {
  memory::QueuedUser user;
  memory::HeadlessToolkit toolkit{user};
  memory::RecordedShell shell;

  uint64_t calls = 0;
  {
    auto app = std::make_shared<memory::MemoryApplication>();
    AddinModule module{toolkit, shell};
    Connect connect{module};
    module.hostApp = app;
    const uint64_t before = app->hostCallCount();
    connect.txtRemoverMB_Add();
    calls = app->hostCallCount() - before;
  }
  ASSERT_GT(calls, 21u * 5);

  for (uint64_t n = 1; n <= calls; ++n) {
    SCOPED_TRACE(::testing::Message() << "failing host call " << n);
    auto app = std::make_shared<memory::MemoryApplication>();
    AddinModule module{toolkit, shell};
    Connect connect{module};
    module.hostApp = app;
    app->armFault(n, host_errors::kRefused);
    connect.txtRemoverMB_Add();
    app->disarmFault();

    ASSERT_EQ(module.buttonHandlers.size(), std::size(kExpectedMenu));
    std::optional<ControlSnapshot> menu;
    const auto menuBar = app->bar(kMenuBar);
    ASSERT_TRUE(menuBar);
    for (const auto& control : menuBar->controls) {
      if (control.type == ControlType::Popup && !control.builtIn) menu = control;
    }
    if (!menu || menu->controls.empty()) continue;  // the failure hit the popup itself
    int affected = 0;
    for (const ExpectedButton& row : kExpectedMenu) {
      bool found = false;
      for (const auto& button : menu->controls) found = found || sameAsRow(button, row);
      affected += found ? 0 : 1;
    }
    EXPECT_LE(affected, 1);
    for (const auto& button : menu->controls) EXPECT_LE(button.subscriptions, 1);
    EXPECT_GE(menu->controls.size(), std::size(kExpectedMenu) - 1);
  }
}

// Whatever single host call fails during a disconnection, every reference is released.
TEST(DisconnectionFaults, ReferencesAreAlwaysReleased) {
  memory::QueuedUser user;
  memory::HeadlessToolkit toolkit{user};
  memory::RecordedShell shell;
  for (uint64_t n = 1; n <= 12; ++n) {
    SCOPED_TRACE(::testing::Message() << "failing host call " << n);
    auto app = std::make_shared<memory::MemoryApplication>();
    AddinModule module{toolkit, shell};
    Connect connect{module};
    const auto instance = app->makeAddInInstance(u"Orvik.Connect");
    connect.AddinInstance_OnConnection(app, instance.get());
    app->armFault(n, host_errors::kRefused);
    const uint64_t calls = app->hostCallCount();
    connect.AddinInstance_OnDisconnection();
    // The fault was reached, so the release below follows a failing call.
    EXPECT_GE(app->hostCallCount() - calls, n);
    app->disarmFault();
    EXPECT_FALSE(module.hostApp);
    EXPECT_FALSE(connect.CBarCtl);
    EXPECT_TRUE(module.buttonHandlers.empty());
    EXPECT_FALSE(module.currentHandler);
    EXPECT_EQ(app->subscriptionCount(), 0);
  }
}

}  // namespace
}  // namespace qmv::addin_test
