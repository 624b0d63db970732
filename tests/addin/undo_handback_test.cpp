// Control+Z and the host's Undo entry after a run: bound to the add-in's undo until the
// first change of cells the add-in did not make, then the host's own again; the add-in's
// own runs and undo never give them back; disconnection gives both back.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "addin/addin_module.hpp"
#include "addin/connect.hpp"
#include "addin/entry_points.hpp"
#include "engine/host_run_state.hpp"
#include "engine/session.hpp"
#include "engine/undo.hpp"
#include "platform/memory/memory_application.hpp"
#include "tests/addin/surface_fixture.hpp"

namespace qmv::addin_test {
namespace {

/// A connected add-in over a column with digits, A1:A3 selected.
struct World : AddinWorld {
  World() {
    app->addWorkbook();
    app->setColumn({1, 1}, {Value{u"a1"}, Value{u"b2"}, Value{u"a1"}});
    app->select(u"A1:A3");
    connect.AddinInstance_OnConnection(app, instance.get());
  }
  void run(void (*command)(AddinModule&)) {
    user.press("CommandButton1");
    command(module);
  }
  void userTypes() { app->typeInto({5, 2}, u"typed by the user"); }
};

class UndoHandBack : public ::testing::Test, public World {};

struct Row {
  const char* name;
  std::function<void(World&)> steps;
  bool keyBound;    ///< Control+Z reaches the add-in's undo
  bool entryBound;  ///< the host's Undo entry reaches it
};

TEST(UndoHandBackRows, BindingsFollowWhoChangedTheCells) {
  const std::vector<Row> rows = {
      {"a run binds both", [](World&) {}, true, true},
      {"the user's edit gives both back", [](World& t) { t.userTypes(); }, false, false},
      {"undo by Control+Z is the add-in's own change",
       [](World& t) { EXPECT_TRUE(t.app->pressKey(std::u16string(kUndoKey))); }, true,
       // Excel takes back the Undo entry at any change, the undo's own writes included.
       false},
      {"a value run is the add-in's own change and binds both again",
       [](World& t) { t.run(RemoveDuplicatesKeepOne); }, true, true},
      {"the next run binds both again",
       [](World& t) {
         t.userTypes();
         t.run(RemoveAlphas);
       },
       true, true},
      {"a later edit after the key went back changes nothing more",
       [](World& t) {
         t.userTypes();
         t.userTypes();
       },
       false, false},
      {"disconnection gives both back", [](World& t) { t.connect.AddinInstance_OnDisconnection(); },
       false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    World t;
    t.run(RemoveNumbers);
    ASSERT_TRUE(t.app->keyBinding(std::u16string(kUndoKey)));
    row.steps(t);
    EXPECT_EQ(t.app->keyBinding(std::u16string(kUndoKey)).has_value(), row.keyBound);
    EXPECT_EQ(t.app->undoBinding().has_value(), row.entryBound);
    EXPECT_EQ(t.module.undoKeyBound, row.keyBound);
    EXPECT_EQ(t.module.ownChanges, 0);
    EXPECT_TRUE(t.app->hostErrors().empty());
  }
}

TEST_F(UndoHandBack, AfterTheUsersEditControlZIsTheHostsAgain) {
  run(RemoveNumbers);
  EXPECT_EQ(app->cell({1, 1}).value, Value{u"a"});
  userTypes();
  // Control+Z no longer reaches the add-in: the run's cells keep their new text.
  EXPECT_FALSE(app->pressKey(std::u16string(kUndoKey)));
  EXPECT_FALSE(app->hostUndo());
  EXPECT_EQ(app->cell({1, 1}).value, Value{u"a"});
  // The menu's Undo Changes still restores the run's cells.
  UndoLastRun(module);
  EXPECT_EQ(app->cell({1, 1}).value, Value{u"a1"});
}

TEST_F(UndoHandBack, OneWatchOutlivesManyRuns) {
  for (int i = 0; i < 3; ++i) run(RemoveNumbers);
  userTypes();
  EXPECT_FALSE(app->keyBinding(std::u16string(kUndoKey)));
  connect.AddinInstance_OnDisconnection();
  // Nothing of the add-in hears the host's changes any more.
  EXPECT_EQ(module.cellWatch, nullptr);
  userTypes();
  EXPECT_TRUE(app->hostErrors().empty());
}

}  // namespace
}  // namespace qmv::addin_test
