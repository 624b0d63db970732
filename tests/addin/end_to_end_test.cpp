// One request end to end: a click on a menu button in the in-memory command bars reaches
// the dialog, and after Yes the cells.
#include <gtest/gtest.h>

#include <string>

#include "tests/addin/surface_fixture.hpp"

namespace qmv::addin_test {
namespace {

using memory::HeadlessToolkit;

CellContent text(const char16_t* value) { return CellContent{std::u16string(value), {}}; }

TEST_F(SurfaceTest, NumericButtonRemovesDigitsFromTheSelectedCells) {
  app->addWorkbook();
  app->setCell({1, 1}, text(u"ab12cd"));
  app->setCell({2, 1}, text(u"x9y8z"));
  app->setCell({3, 1}, text(u"no digits"));
  app->setCell({4, 1}, CellContent{3.0, u"=1+2"});
  app->setCell({5, 1}, text(u"A1B2"));  // outside the selection
  app->select(u"A1:A4");
  connectHost();

  std::u16string question;
  user.then([&](HeadlessToolkit& tk, Form& shown) {
        ASSERT_EQ(shown.name(), "frmPrgBar");
        question = tk.controlOf(shown, "lblStatus").caption();
      })
      .press("CommandButton1");  // Yes

  const auto outcome = app->click(*menuButton(u"Remove all &Numeric in Selection"));

  EXPECT_EQ(outcome.handlersCalled, 1);
  EXPECT_TRUE(outcome.cancelDefault);
  EXPECT_FALSE(outcome.onActionRun.has_value());
  EXPECT_EQ(question, u"Do You want to remove all Numeric (Numbers) in Selection?");
  EXPECT_EQ(testing::chosenCode(module), u"RNUM");
  EXPECT_EQ(user.pending(), 0u);
  EXPECT_TRUE(toolkit.shownForms().empty());

  EXPECT_EQ(app->cell({1, 1}), text(u"abcd"));
  EXPECT_EQ(app->cell({2, 1}), text(u"xyz"));
  EXPECT_EQ(app->cell({3, 1}), text(u"no digits"));
  EXPECT_EQ(app->cell({4, 1}).formula, u"=1+2");
  EXPECT_EQ(app->cell({5, 1}), text(u"A1B2"));

  // The host is back to normal and its Undo entry reaches the add-in's undo.
  EXPECT_TRUE(app->runSettings().screenUpdating);
  EXPECT_EQ(app->runSettings().calculation, xl::kCalculationAutomatic);
  ASSERT_TRUE(app->undoBinding().has_value());
  EXPECT_EQ(app->undoBinding()->macro, u"undo_changes");
  EXPECT_TRUE(app->hostUndo());
  EXPECT_EQ(app->cell({1, 1}), text(u"ab12cd"));
  EXPECT_EQ(app->cell({2, 1}), text(u"x9y8z"));
}

TEST_F(SurfaceTest, NoLeavesTheCellsAsTheyAre) {
  app->addWorkbook();
  app->setCell({1, 1}, text(u"ab12cd"));
  app->select(u"A1");
  connectHost();
  user.press("CommandButton2");  // No!

  const auto outcome = app->click(*menuButton(u"Remove all &Numeric in Selection"));

  EXPECT_TRUE(outcome.cancelDefault);
  EXPECT_EQ(app->cell({1, 1}), text(u"ab12cd"));
  EXPECT_FALSE(app->undoBinding().has_value());
}

}  // namespace
}  // namespace qmv::addin_test
