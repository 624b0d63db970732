// Connection after a crash or a failed load: whatever controls an earlier session left (a
// popup, a toolbar, a tagged button on another bar), the new session ends with exactly one
// popup, one toolbar and one control per tag, and the host's own controls stay.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "addin/command_table.hpp"
#include "tests/addin/surface_fixture.hpp"

namespace qmv::addin_test {
namespace {

/// Adds a button with `tag` to `controls`, as an earlier session would have.
void leaveButton(CommandBarControls& controls, const std::u16string& tag) {
  const CommandBarControlPtr button = controls.add(ControlType::Button, false);
  button->setCaption(u"left " + tag);
  button->setTag(tag);
}

/// A popup "&Vandrel QMV" on the menu bar with a button for each of the first `buttons`
/// rows of the command table (a build that stopped half way).
void leavePopup(Application& app, std::size_t buttons) {
  const CommandBarControlPtr popup =
      app.commandBars()->item(kMenuBar)->controls()->add(ControlType::Popup, false);
  popup->setCaption(kPopup);
  for (std::size_t i = 0; i < buttons && i < commandTable().size(); ++i) {
    leaveButton(*popup->controls(), std::u16string(commandTable()[i].tag));
  }
}

/// The toolbar "Dolvanis" with its wizard button.
void leaveToolbar(Application& app) {
  const CommandBarPtr bar = app.commandBars()->add(kToolbar, xl::kBarTop);
  leaveButton(*bar->controls(), std::u16string(surface::kToolbarTag));
}

struct Row {
  const char* name;
  std::function<void(Application&)> leave;
};

class LeftoverControls : public SurfaceTest {
 protected:
  std::size_t tagged(const std::u16string& tag) {
    return app->commandBars()->findControls(tag).size();
  }
  void expectOneOfEach() {
    EXPECT_EQ(popups().size(), 1u);
    EXPECT_EQ(popup().controls.size(), commandTable().size());
    EXPECT_TRUE(app->bar(kToolbar));
    EXPECT_EQ(tagged(std::u16string(surface::kToolbarTag)), 1u);
    for (const CommandRow& row : commandTable()) {
      SCOPED_TRACE(std::string(row.tag.begin(), row.tag.end()));
      EXPECT_EQ(tagged(std::u16string(row.tag)), 1u);
    }
  }
};

/// One row on a fresh host.
class LeftoverCase : public LeftoverControls {
 public:
  void TestBody() override {}
  void play(const Row& row) {
    app->addWorkbook();
    row.leave(*app);
    connectHost();
    expectOneOfEach();
    // The host's own controls stay as they were.
    const auto edit = app->bar(kMenuBar)->controls[1];
    EXPECT_EQ(edit.caption, u"&Edit");
    EXPECT_EQ(edit.controls.size(), 2u);
    EXPECT_TRUE(app->bar(u"Standard")->controls.empty());
    EXPECT_EQ(app->bar(kMenuBar)->controls.size(), 10u);
  }
};

TEST(LeftoverControlRows, ANewSessionBuildsOneMenuWhateverWasLeft) {
  const std::vector<Row> rows = {
      {"nothing left", [](Application&) {}},
      {"a whole menu and toolbar",
       [](Application& app) {
         leavePopup(app, commandTable().size());
         leaveToolbar(app);
       }},
      {"two menus",
       [](Application& app) {
         leavePopup(app, commandTable().size());
         leavePopup(app, 3);
       }},
      {"a half-built menu", [](Application& app) { leavePopup(app, 2); }},
      {"a menu button moved to the Standard toolbar",
       [](Application& app) {
         leaveButton(*app.commandBars()->item(u"Standard")->controls(),
                     std::u16string(commandTable()[4].tag));
       }},
      {"the wizard button inside the host's Edit menu",
       [](Application& app) {
         leaveButton(*app.commandBars()->item(kMenuBar)->controls()->item(u"&Edit")->controls(),
                     std::u16string(surface::kToolbarTag));
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    LeftoverCase t;
    t.play(row);
  }
}

TEST_F(LeftoverControls, ConnectingTwiceWithoutDisconnectingLeavesOneOfEach) {
  app->addWorkbook();
  connectHost();
  connectHost();
  expectOneOfEach();
  // Every button is still wired: a click on the first menu button runs its command once.
  user.press("CommandButton2");
  const memory::ClickOutcome outcome =
      app->click(*app->findControlByTag(std::u16string(commandTable()[0].tag)));
  EXPECT_EQ(outcome.handlersCalled, 1);
}

TEST_F(LeftoverControls, FindControlsSearchesEveryBarAndPopup) {
  leavePopup(*app, 1);
  leaveButton(*app->commandBars()->item(u"Standard")->controls(),
              std::u16string(commandTable()[0].tag));
  EXPECT_EQ(tagged(std::u16string(commandTable()[0].tag)), 2u);
  EXPECT_EQ(tagged(u"no such tag"), 0u);
  EXPECT_EQ(tagged(u""), 0u) << "an empty tag matches nothing, not every untagged control";
}

}  // namespace
}  // namespace qmv::addin_test
