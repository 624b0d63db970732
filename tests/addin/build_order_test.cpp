// The order of the builders' and the disconnection's steps, read from the in-memory host by
// failing one host call at a time: the last call whose failure loses a step is that step's
// own call, so steps that come earlier are lost last at earlier calls.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "addin/addin_module.hpp"
#include "addin/connect.hpp"
#include "host/host_error.hpp"
#include "platform/memory/headless_toolkit.hpp"
#include "platform/memory/memory_application.hpp"
#include "platform/memory/recorded_shell.hpp"

namespace qmv {
namespace {

using memory::ControlSnapshot;
using memory::MemoryApplication;

constexpr char16_t kMenuBar[] = u"Worksheet Menu Bar";
constexpr char16_t kPopup[] = u"&Vandrel QMV";
constexpr char16_t kToolbar[] = u"Dolvanis";

/// A fresh add-in on a fresh host for each failing call.
struct Rig {
  memory::QueuedUser user;
  memory::HeadlessToolkit toolkit{user};
  memory::RecordedShell shell;
  std::shared_ptr<MemoryApplication> app = std::make_shared<MemoryApplication>();
  AddinModule module{toolkit, shell};
  Connect connect{module};
  std::shared_ptr<AddInInstance> instance = app->makeAddInInstance(u"Orvik.Connect");
};

/// For each named property, the last failing call (1-based) that leaves it wrong.
using LastLoss = std::map<std::string, uint64_t>;

/// Runs `act` once per host call it makes, failing that call, and asks `lost` which
/// properties the result lacks.
LastLoss lastLosses(const std::function<void(Rig&)>& prepare, const std::function<void(Rig&)>& act,
                    const std::function<std::vector<std::string>(Rig&)>& lost) {
  uint64_t calls = 0;
  {
    Rig rig;
    prepare(rig);
    const uint64_t before = rig.app->hostCallCount();
    act(rig);
    calls = rig.app->hostCallCount() - before;
    EXPECT_TRUE(lost(rig).empty()) << "nothing may be lost without a failure";
  }
  LastLoss last;
  for (uint64_t n = 1; n <= calls; ++n) {
    Rig rig;
    prepare(rig);
    rig.app->armFault(n, host_errors::kRefused);
    try {
      act(rig);
    } catch (const HostError&) {
      // Only the toolbar builder's first step may propagate.
    }
    rig.app->disarmFault();
    for (const std::string& property : lost(rig)) last[property] = n;
  }
  return last;
}

/// Checks that every name was lost, each at a later call than the one before it.
void expectInOrder(const LastLoss& last, const std::vector<std::string>& order) {
  std::optional<uint64_t> previous;
  for (const std::string& name : order) {
    SCOPED_TRACE(name);
    const auto it = last.find(name);
    ASSERT_NE(it, last.end()) << "no single failure lost it";
    if (previous) {
      EXPECT_GT(it->second, *previous);
    }
    previous = it->second;
  }
}

TEST(BuildOrder, ToolbarButtonPropertiesAreSetInTheirOrder) {
  const LastLoss last =
      lastLosses([](Rig& rig) { rig.module.hostApp = rig.app; },
                 [](Rig& rig) { rig.connect.txtRemoverCB_Add(rig.instance.get()); },
                 [](Rig& rig) {
                   std::vector<std::string> lost;
                   const auto bar = rig.app->bar(kToolbar);
                   if (!bar || bar->controls.size() != 1) return std::vector<std::string>{"button"};
                   if (!bar->visible) lost.push_back("bar visible");
                   const ControlSnapshot& b = bar->controls.front();
                   if (b.subscriptions != 1) lost.push_back("CBarCtl");
                   if (b.caption != u"Dolvani - Wizard") lost.push_back("Caption");
                   if (b.style != 3) lost.push_back("Style");
                   if (b.faceId != 65) lost.push_back("FaceId");
                   if (b.tooltipText != u"Conditionally Removes Text From Cells")
                     lost.push_back("Tooltip");
                   if (b.tag != u"Text_Remover") lost.push_back("Tag");
                   if (b.onAction != u"!<Orvik.Connect>") lost.push_back("OnAction");
                   if (!rig.app->runSettings().screenUpdating) lost.push_back("screen updating on");
                   return lost;
                 });
  expectInOrder(last, {"bar visible", "button", "CBarCtl", "Caption", "Style", "FaceId", "Tooltip",
                       "Tag", "OnAction"});
  EXPECT_EQ(last.count("screen updating on"), 0u)
      << "a single failing call never leaves screen updating off: the last step is retried";
}

TEST(BuildOrder, MenuButtonPropertiesAreSetInTheirOrder) {
  // Row 7, "Remove all &Spaces in Selection", has a parameter and begins a group.
  const LastLoss last = lastLosses(
      [](Rig& rig) {
        rig.module.hostApp = rig.app;
        rig.app->commandBars()->item(kMenuBar)->setVisible(false);
      },
      [](Rig& rig) { rig.connect.txtRemoverMB_Add(); },
      [](Rig& rig) {
        std::vector<std::string> lost;
        const auto bar = rig.app->bar(kMenuBar);
        if (!bar->visible) lost.push_back("menu bar visible");
        const ControlSnapshot* popup = nullptr;
        for (const auto& control : bar->controls) {
          if (control.type == ControlType::Popup && !control.builtIn) popup = &control;
        }
        if (!popup) {
          lost.push_back("popup");
          return lost;
        }
        if (popup->caption != kPopup) lost.push_back("popup caption");
        if (popup->controls.size() != 21) {
          lost.push_back("a button");
          return lost;
        }
        const ControlSnapshot& b = popup->controls[6];
        if (b.caption != u"Remove all &Spaces in Selection") lost.push_back("Caption");
        if (b.faceId != 241) lost.push_back("FaceId");
        if (b.tag != u"QMV5") lost.push_back("Tag");
        if (b.onAction != u"Remove_Alsps") lost.push_back("OnAction");
        if (b.style != 3) lost.push_back("Style");
        if (b.parameter != u"1") lost.push_back("Parameter");
        if (!b.beginGroup) lost.push_back("BeginGroup");
        if (b.subscriptions != 1) lost.push_back("wrapper");
        if (!rig.app->runSettings().screenUpdating) lost.push_back("screen updating on");
        return lost;
      });
  expectInOrder(last, {"menu bar visible", "popup", "popup caption", "Caption", "FaceId", "Tag",
                       "OnAction", "Style", "Parameter", "BeginGroup", "wrapper"});
  EXPECT_EQ(last.count("screen updating on"), 0u)
      << "a single failing call never leaves screen updating off: the last step is retried";
}

TEST(BuildOrder, DisconnectionDeletesTheMenuBeforeTheToolbar) {
  const LastLoss last = lastLosses(
      [](Rig& rig) { rig.connect.AddinInstance_OnConnection(rig.app, rig.instance.get()); },
      [](Rig& rig) { rig.connect.AddinInstance_OnDisconnection(); },
      [](Rig& rig) {
        std::vector<std::string> lost;
        const auto menuBar = rig.app->bar(kMenuBar);
        for (const auto& control : menuBar->controls) {
          if (control.caption == kPopup) lost.push_back("popup deleted");
        }
        if (rig.app->barCount(kToolbar) != 0) lost.push_back("toolbar deleted");
        return lost;
      });
  expectInOrder(last, {"popup deleted", "toolbar deleted"});
}

// The host's own numbers, written out: msoBarTop is 1, msoButtonIconAndCaption is 3.
TEST(BuildOrder, ToolbarDocksAtTheHostsTopPosition) {
  Rig rig;
  rig.connect.AddinInstance_OnConnection(rig.app, rig.instance.get());
  const auto bar = rig.app->bar(kToolbar);
  ASSERT_TRUE(bar);
  EXPECT_EQ(bar->position, 1);
  ASSERT_EQ(bar->controls.size(), 1u);
  EXPECT_EQ(bar->controls.front().style, 3);
}

TEST(BuildOrder, MenuBuildMakesAHiddenMenuBarVisible) {
  Rig rig;
  rig.app->commandBars()->item(kMenuBar)->setVisible(false);
  rig.connect.AddinInstance_OnConnection(rig.app, rig.instance.get());
  EXPECT_TRUE(rig.app->bar(kMenuBar)->visible);
}

}  // namespace
}  // namespace qmv
