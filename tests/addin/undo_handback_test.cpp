// Control+Z and the host's Undo entry after a run: Control+Z stays the host's own key, the
// host's Undo command, which reaches the add-in's undo through the Undo entry only while the
// run is the host's last action: the user's edit, formatting or typing in another workbook
// takes the entry's place, and Control+Z then leaves the run alone.
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
  bool entryBound;    ///< the host's Undo entry reaches the add-in's undo
  bool controlZRuns;  ///< Control+Z, the host's Undo command, runs the add-in's undo
  Value a1After;      ///< A1 of the run's sheet after Control+Z
};

TEST(UndoHandBackRows, ControlZUndoesTheRunOnlyWhileItIsTheHostsLastAction) {
  const std::vector<Row> rows = {
      {"right after the run", [](World&) {}, true, true, Value{u"a1"}},
      {"the user's edit takes the entry", [](World& t) { t.userTypes(); }, false, false,
       Value{u"a"}},
      {"the user's formatting takes it, with no change event",
       [](World& t) {
         t.app->setFormats({5, 2}, CellFormats(u"0.00"));
       },
       false, false, Value{u"a"}},
      {"a fill is formatting too",
       [](World& t) {
         t.app->setFill({1, 1}, 0xFFFF00);
       },
       false, false, Value{u"a"}},
      {"typing in another workbook takes it",
       [](World& t) {
         t.app->addWorkbook(u"Other");
         t.userTypes();
       },
       false, false, Value{u"a"}},
      {"a value run is the add-in's own action and binds the entry for itself",
       [](World& t) { t.run(RemoveDuplicatesKeepOne); }, true, true, Value{u"a"}},
      {"the next run binds the entry again",
       [](World& t) {
         t.userTypes();
         t.app->setColumn({1, 1}, {Value{u"a1"}, Value{u"b2"}, Value{u"a1"}});
         t.run(RemoveNumbers);
       },
       true, true, Value{u"a1"}},
      {"disconnection takes the entry back",
       [](World& t) { t.connect.AddinInstance_OnDisconnection(); }, false, false, Value{u"a"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    World t;
    t.run(RemoveNumbers);
    ASSERT_EQ(t.app->cell({1, 1}).value, Value{u"a"});
    row.steps(t);
    EXPECT_EQ(t.app->keyBinding(std::u16string(kUndoKey)), std::nullopt)
        << "Control+Z stays the host's own key";
    EXPECT_EQ(t.app->undoBinding().has_value(), row.entryBound);
    EXPECT_FALSE(t.module.undoKeyBound);
    EXPECT_EQ(t.app->pressKey(std::u16string(kUndoKey)), row.controlZRuns);
    EXPECT_EQ(t.app->cell(memory::SheetName{u"Sheet1", u"Book1"}, {1, 1}).value, row.a1After);
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
