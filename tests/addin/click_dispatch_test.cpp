// Clicks on the add-in's menu and toolbar buttons, through the in-memory command bars.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "about/frm_ug.hpp"
#include "addin/cb_events.hpp"
#include "addin/command_table.hpp"
#include "dialog/frm_prg_bar.hpp"
#include "host/host_error.hpp"
#include "tests/addin/surface_fixture.hpp"

namespace qmv::addin_test {
namespace {

using memory::FormState;
using memory::HeadlessToolkit;

class ClickTest : public SurfaceTest {
 protected:
  void SetUp() override {
    app->addWorkbook();
    connectHost();
  }

  memory::ClickOutcome clickMenu(const std::u16string& caption) {
    return app->click(*menuButton(caption));
  }
};

struct RemovalRow {
  const char16_t* caption;
  const char16_t* code;
};

const RemovalRow kRemovals[] = {
    {u"Remove all &Numeric in Selection", u"RNUM"},
    {u"Remove all &Alphabets in Selection", u"RALP"},
    {u"Remove Non-&Printable Characters in Selection", u"RNPC"},
    {u"Remove &User-defined Characters in Selection", u"RUDC"},
    {u"Remove all &Spaces in Selection", u"RALS"},
    {u"Remove all &Leading and Trailing Spaces", u"RLTS"},
    {u"Remove all Leading, Trailing and &Excessive Spaces", u"RLTE"},
    {u"Remove all Text before nth Characters", u"RBSP"},
    {u"Remove all Text after nth Characters", u"RASP"},
    {u"Remove x no. of Chars before nth Characters", u"RNBP"},
    {u"Remove x no. of Chars after nth Characters", u"RNAP"},
    {u"Remove all 'UPPER' Case Characters in Selection", u"RUPC"},
    {u"Remove all 'lower' Case Characters in Selection", u"RLOC"},
    {u"Remove Duplicates in Selection - Keep One", u"RDPV"},
    {u"Remove all Duplicates Values in Selection", u"RADP"},
    {u"Remove all Unique Values in Selection", u"RUDP"},
};

TEST_F(ClickTest, EveryRemovalButtonOpensTheDialogForItsOperation) {
  int shown = 0;
  for (const RemovalRow& row : kRemovals) {
    SCOPED_TRACE(std::string(row.code, row.code + 4));
    module.runOptions.operation.reset();
    user.expectForm("frmPrgBar").press("CommandButton2");  // No!

    const memory::ClickOutcome outcome = clickMenu(row.caption);

    EXPECT_EQ(outcome.handlersCalled, 1);
    EXPECT_TRUE(outcome.cancelDefault);
    EXPECT_FALSE(outcome.onActionRun.has_value());
    EXPECT_EQ(testing::chosenCode(module), row.code);
    EXPECT_EQ(timesShown("frmPrgBar"), ++shown);
    EXPECT_EQ(user.pending(), 0u);
  }
  EXPECT_EQ(timesShown("frmTextRemover"), 0);
  EXPECT_TRUE(shell.opened().empty());
  EXPECT_TRUE(app->onActionsRun().empty());
}

TEST_F(ClickTest, QMV10StartsItsOwnCommandAndNeverQMV1) {
  std::u16string question;
  user.then([&](HeadlessToolkit& tk, Form& shown) {
    question = tk.controlOf(shown, "lblStatus").caption();
    tk.press(tk.controlOf(shown, "CommandButton2"));
  });

  const auto outcome = clickMenu(u"Remove x no. of Chars before nth Characters");

  EXPECT_TRUE(outcome.cancelDefault);
  EXPECT_EQ(testing::chosenCode(module), u"RNBP");
  EXPECT_EQ(question,
            u"Do You want to remove No. of Characters before Start Position in Selection?");
  EXPECT_EQ(timesShown("frmPrgBar"), 1);
}

TEST_F(ClickTest, UnknownTagsRunNothingAndStillCancelTheDefault) {
  const char16_t* const tags[] = {u"QMV14", u"", u"qmv1", u"QMV1 ", u" QMV1", u"QMV01", u"QMV"};
  const auto button = menuButton(u"Remove all &Numeric in Selection");
  for (const char16_t* tag : tags) {
    SCOPED_TRACE(::testing::Message() << "tag of " << std::u16string(tag).size() << " units");
    button->setTag(tag);
    const auto outcome = app->click(*button);
    EXPECT_EQ(outcome.handlersCalled, 1);
    EXPECT_TRUE(outcome.cancelDefault);
    EXPECT_FALSE(outcome.onActionRun.has_value());
  }
  EXPECT_TRUE(toolkit.events().empty());
  EXPECT_TRUE(toolkit.messages().empty());
  EXPECT_FALSE(module.runOptions.operation.has_value());
  EXPECT_TRUE(shell.opened().empty());
}

TEST_F(ClickTest, TheClickedControlsTagDecidesNotTheWrappersButton) {
  // The wrapper of "Remove all &Numeric" receives a click reported for another control.
  const auto& numericWrapper = module.buttonHandlers.at(2);
  ASSERT_EQ(numericWrapper->cbBtn.button()->tag(), u"QMV1");
  user.press("CommandButton2");
  bool cancelDefault = false;
  numericWrapper->cbBtn_Click(*menuButton(u"Remove all &Alphabets in Selection"), cancelDefault);
  EXPECT_TRUE(cancelDefault);
  EXPECT_EQ(testing::chosenCode(module), u"RALP");
}

TEST_F(ClickTest, ToolbarTagIsNoMenuCommand) {
  bool cancelDefault = false;
  module.buttonHandlers.front()->cbBtn_Click(*toolbarButton(), cancelDefault);
  EXPECT_TRUE(cancelDefault);
  EXPECT_TRUE(toolkit.events().empty());
}

TEST_F(ClickTest, ToolbarButtonStartsTheWizardOnceThroughItsOwnHandler) {
  user.expectForm("frmTextRemover");
  queueDismiss();

  const auto outcome = app->click(*toolbarButton());

  EXPECT_EQ(outcome.handlersCalled, 1);
  EXPECT_EQ(timesShown("frmTextRemover"), 1);
  EXPECT_EQ(timesShown("frmPrgBar"), 0);
  EXPECT_FALSE(module.runOptions.operation.has_value());
  // The toolbar handler leaves CancelDefault alone, so the host runs the on-action.
  EXPECT_FALSE(outcome.cancelDefault);
  EXPECT_EQ(outcome.onActionRun, std::optional<std::u16string>(u"!<Orvik.Connect>"));
}

TEST_F(ClickTest, ToolbarHandlerPassesTheWizardsFailureOn) {
  for (bool before : {false, true}) {
    SCOPED_TRACE(before ? "CancelDefault true" : "CancelDefault false");
    bool cancelDefault = before;  // nobody is there to close the wizard: showing it fails
    EXPECT_THROW(connect.CBarCtl_Click(*toolbarButton(), cancelDefault),
                 memory::ScriptEndedWhileShown);
    EXPECT_EQ(cancelDefault, before);
  }
}

TEST_F(ClickTest, WizardMenuButtonStartsTheWizard) {
  user.expectForm("frmTextRemover");
  queueDismiss();
  const auto outcome = clickMenu(u"Dolvani - Wizard");
  EXPECT_TRUE(outcome.cancelDefault);
  EXPECT_EQ(timesShown("frmTextRemover"), 1);
  EXPECT_EQ(user.pending(), 0u);
}

TEST_F(ClickTest, UndoButtonRunsTheUndoCommand) {
  const auto outcome = clickMenu(u"Undo Changes");
  EXPECT_TRUE(outcome.cancelDefault);
  ASSERT_EQ(toolkit.messages().size(), 1u);
  EXPECT_EQ(toolkit.messages().front().text, u"Nothing to Undo!");
}

TEST_F(ClickTest, FailingCommandStillCancelsTheDefault) {
  // No user action is queued: the dialog cannot be answered and the command fails.
  const auto outcome = clickMenu(u"Remove all &Numeric in Selection");
  EXPECT_TRUE(toolkit.scriptEnded());
  EXPECT_TRUE(outcome.cancelDefault);
  EXPECT_FALSE(outcome.onActionRun.has_value());

  // The menu keeps working afterwards.
  user.press("CommandButton2");
  EXPECT_TRUE(clickMenu(u"Remove all &Alphabets in Selection").cancelDefault);
  EXPECT_EQ(testing::chosenCode(module), u"RALP");
}

TEST_F(ClickTest, FailingHostCallInACommandStillCancelsTheDefault) {
  app->addAddIn(u"Vandrel QMV", true);
  const auto button = menuButton(u"Exit Vandrel &QMV");
  // The host calls a click makes, counted on a click that fails nothing; then each of them
  // fails in turn.
  bool ignored = false;
  const uint64_t start = app->hostCallCount();
  module.buttonHandlers.back()->cbBtn_Click(*button, ignored);
  const uint64_t made = app->hostCallCount() - start;
  ASSERT_GT(made, 0u);
  app->addAddIn(u"Vandrel QMV", true);
  for (uint64_t n = 1; n <= made; ++n) {
    SCOPED_TRACE(::testing::Message() << "failing host call " << n);
    app->armFault(n, host_errors::kRefused);
    bool cancelDefault = false;
    const uint64_t calls = app->hostCallCount();
    module.buttonHandlers.back()->cbBtn_Click(*button, cancelDefault);
    // The fault was reached, so the default is cancelled after a failing call.
    EXPECT_GE(app->hostCallCount() - calls, n);
    app->disarmFault();
    EXPECT_TRUE(cancelDefault);
  }
}

TEST_F(ClickTest, ExitClearsTheInstalledFlagAndNothingElse) {
  app->addAddIn(u"Vandrel QMV", true);
  app->addAddIn(u"Another Add-In", true);
  const auto barsBefore = app->bars().size();

  const auto outcome = clickMenu(u"Exit Vandrel &QMV");

  EXPECT_TRUE(outcome.cancelDefault);
  EXPECT_EQ(app->addInInstalled(u"Vandrel QMV"), std::optional<bool>(false));
  EXPECT_EQ(app->addInInstalled(u"Another Add-In"), std::optional<bool>(true));
  EXPECT_EQ(app->bars().size(), barsBefore);
  EXPECT_EQ(app->barCount(kToolbar), 1);
  EXPECT_EQ(popups().size(), 1u);
  EXPECT_EQ(module.hostApp, app);
  EXPECT_EQ(module.buttonHandlers.size(), 21u);
  EXPECT_TRUE(toolkit.events().empty());
}

TEST_F(ClickTest, ExitWithoutTheAddInItemDoesNothing) {
  app->addAddIn(u"Another Add-In", true);
  const auto outcome = clickMenu(u"Exit Vandrel &QMV");
  EXPECT_TRUE(outcome.cancelDefault);
  EXPECT_FALSE(app->addInInstalled(u"Vandrel QMV").has_value());
  EXPECT_EQ(app->addInInstalled(u"Another Add-In"), std::optional<bool>(true));
  EXPECT_TRUE(toolkit.events().empty());
  EXPECT_TRUE(toolkit.messages().empty());
  EXPECT_EQ(app->barCount(kToolbar), 1);
}

TEST_F(ClickTest, UserGuideOpensThePageWithoutShowingAWindow) {
  const auto outcome = clickMenu(u"Online &User Guide");
  EXPECT_TRUE(outcome.cancelDefault);
  ASSERT_EQ(shell.opened().size(), 1u);
  EXPECT_EQ(shell.opened().front(), about::kUserGuideAddress);
  EXPECT_EQ(timesShown("frmUG"), 0);
  EXPECT_TRUE(toolkit.shownForms().empty());
  EXPECT_EQ(toolkit.formState("frmUG"), FormState::Loaded);
}

TEST_F(ClickTest, AboutAfterTheUserGuideShowsTheSameInstanceWithoutReloading) {
  clickMenu(u"Online &User Guide");
  const std::shared_ptr<frmUG> loaded = module.ug;
  ASSERT_TRUE(loaded);
  // A mark that a second load would overwrite.
  loaded->Label2.setCaption(u"mark");

  const Form* shownForm = nullptr;
  std::u16string shownText;
  user.then([&](HeadlessToolkit& tk, Form& shown) {
    shownForm = &shown;
    shownText = tk.controlOf(shown, "Label2").caption();
    tk.close();
  });
  const auto outcome = clickMenu(u"About &Vandrel QMV");

  EXPECT_TRUE(outcome.cancelDefault);
  EXPECT_EQ(timesShown("frmUG"), 1);
  EXPECT_EQ(shownForm, loaded.get());
  EXPECT_EQ(shownText, u"mark");
  // Closing unloads it; the next About loads a fresh one.
  EXPECT_FALSE(loaded->loaded());
  user.then([&](HeadlessToolkit& tk, Form& shown) {
    shownForm = &shown;
    shownText = tk.controlOf(shown, "Label2").caption();
    tk.close();
  });
  clickMenu(u"About &Vandrel QMV");
  EXPECT_NE(shownForm, loaded.get());
  EXPECT_EQ(shownText, aboutText());
}

TEST_F(ClickTest, LogoAndMenuOpenTheSameGuidePage) {
  user.then([](HeadlessToolkit& tk, Form& shown) {
    tk.controlOf(shown, "Image1").click();
    tk.close();
  });
  clickMenu(u"About &Vandrel QMV");
  clickMenu(u"Online &User Guide");
  ASSERT_EQ(shell.opened().size(), 2u);
  EXPECT_EQ(shell.opened()[0], shell.opened()[1]);
  EXPECT_EQ(shell.opened()[0], about::kUserGuideAddress);
}

TEST_F(ClickTest, NoClickReachesTheAddInAfterDisconnection) {
  const auto button = menuButton(u"Remove all &Numeric in Selection");
  connect.AddinInstance_OnDisconnection();
  const auto outcome = app->click(*button);
  EXPECT_EQ(outcome.handlersCalled, 0);
  EXPECT_TRUE(toolkit.events().empty());
}

TEST(CommandTable, DispatchOrderCoversEveryMenuTagOnce) {
  std::vector<std::u16string_view> menuTags;
  for (const CommandRow& row : commandTable()) menuTags.push_back(row.tag);
  std::vector<std::u16string_view> dispatched(dispatchOrder().begin(), dispatchOrder().end());
  std::sort(menuTags.begin(), menuTags.end());
  std::sort(dispatched.begin(), dispatched.end());
  EXPECT_EQ(menuTags, dispatched);
  EXPECT_EQ(std::adjacent_find(dispatched.begin(), dispatched.end()), dispatched.end());
  for (std::u16string_view tag : dispatchOrder()) {
    const CommandRow* row = findCommand(tag);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->tag, tag);
    EXPECT_NE(row->command, nullptr);
  }
  EXPECT_EQ(findCommand(u"Text_Remover"), nullptr);
  EXPECT_EQ(findCommand(u"QMV14"), nullptr);
}

}  // namespace
}  // namespace qmv::addin_test
