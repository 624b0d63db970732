// Run settings, macros and bindings, command bars and clicks, add-ins and fault injection
// of the in-memory host.
#include <string>
#include <vector>

#include "memory_fixture.hpp"

namespace qmv::memory {
namespace {

class MemoryApplicationTest : public MemoryHostTest {};

TEST_F(MemoryApplicationTest, RunSettingsAreRecorded) {
  EXPECT_TRUE(host->runSettings().screenUpdating);
  EXPECT_EQ(host->runSettings().calculation, xl::kCalculationAutomatic);
  host->setEnableCancelKey(xl::kErrorHandler);
  host->setStatusBar(u"Processing...!");
  host->setScreenUpdating(false);
  host->setCalculation(xl::kCalculationManual);
  EXPECT_FALSE(host->runSettings().screenUpdating);
  EXPECT_EQ(host->runSettings().calculation, xl::kCalculationManual);
  EXPECT_EQ(host->runSettings().enableCancelKey, xl::kErrorHandler);
  EXPECT_EQ(host->runSettings().statusBar, u"Processing...!");
  EXPECT_EQ(host->settingsLog(),
            (std::vector<std::u16string>{u"EnableCancelKey=2", u"StatusBar=Processing...!",
                                         u"ScreenUpdating=False", u"Calculation=-4135"}));
  EXPECT_EQ(errorNumberOf([&] { host->setCalculation(12345); }), host_errors::kRefused);
}

TEST_F(MemoryApplicationTest, UndoEntryAndKeyRunTheRegisteredMacro) {
  int runs = 0;
  EXPECT_TRUE(host->registerMacro(u"undo_changes", [&] { ++runs; }));
  EXPECT_FALSE(host->hostUndo());
  EXPECT_FALSE(host->pressKey(u"^z"));
  host->onUndo(u"VandrelQMV_Undo", u"undo_changes");
  host->onKey(u"^z", u"undo_changes");
  ASSERT_TRUE(host->undoBinding().has_value());
  EXPECT_EQ(host->undoBinding()->text, u"VandrelQMV_Undo");
  EXPECT_EQ(host->undoBinding()->macro, u"undo_changes");
  EXPECT_EQ(host->keyBinding(u"^z"), u"undo_changes");
  EXPECT_TRUE(host->pressKey(u"^z"));
  EXPECT_TRUE(host->hostUndo());
  EXPECT_TRUE(host->runMacro(u"UNDO_CHANGES"));
  EXPECT_EQ(runs, 3);
  EXPECT_TRUE(host->hostErrors().empty());
}

TEST_F(MemoryApplicationTest, UnknownOrFailingMacroIsAHostErrorNotACrash) {
  host->onKey(u"^z", u"nowhere");
  EXPECT_FALSE(host->pressKey(u"^z"));
  host->registerMacro(u"broken", [] { throw HostError(1004, "refused"); });
  EXPECT_FALSE(host->runMacro(u"broken"));
  ASSERT_EQ(host->hostErrors().size(), 2U);
  EXPECT_EQ(host->hostErrors()[0], u"Cannot run the macro 'nowhere'.");
  host->onKey(u"^z", u"");
  EXPECT_FALSE(host->pressKey(u"^z"));
  EXPECT_EQ(host->hostErrors().size(), 2U);
}

TEST_F(MemoryApplicationTest, WorksheetMenuBarExistsWithBuiltInPopups) {
  auto menu = host->commandBars()->item(u"Worksheet Menu Bar");
  EXPECT_EQ(menu->name(), u"Worksheet Menu Bar");
  EXPECT_TRUE(menu->visible());
  auto controls = menu->controls();
  EXPECT_GE(controls->count(), 2);
  EXPECT_EQ(controls->item(1)->caption(), u"&File");
  EXPECT_EQ(controls->item(u"&Edit")->type(), ControlType::Popup);
  EXPECT_EQ(errorNumberOf([&] { controls->item(0); }), host_errors::kInvalidCall);
  EXPECT_EQ(errorNumberOf([&] { controls->item(u"&Nothing"); }), host_errors::kInvalidCall);
  EXPECT_EQ(errorNumberOf([&] { host->commandBars()->item(u"Dolvanis"); }),
            host_errors::kInvalidCall);
  EXPECT_EQ(errorNumberOf([&] { menu->remove(); }), host_errors::kInvalidCall);
}

TEST_F(MemoryApplicationTest, BarsAreAddedOnceAndDeleted) {
  auto bar = host->commandBars()->add(u"Dolvanis", xl::kBarTop);
  EXPECT_FALSE(bar->visible());
  bar->setVisible(true);
  EXPECT_EQ(errorNumberOf([&] { host->commandBars()->add(u"Dolvanis", xl::kBarTop); }),
            host_errors::kInvalidCall);
  EXPECT_EQ(host->barCount(u"Dolvanis"), 1);
  ASSERT_TRUE(host->bar(u"Dolvanis").has_value());
  EXPECT_TRUE(host->bar(u"Dolvanis")->visible);
  EXPECT_EQ(host->bar(u"Dolvanis")->position, xl::kBarTop);
  host->commandBars()->item(u"Dolvanis")->remove();
  EXPECT_EQ(host->barCount(u"Dolvanis"), 0);
  EXPECT_NE(errorNumberOf([&] { bar->controls(); }), 0);
}

TEST_F(MemoryApplicationTest, ControlsHoldTheirPropertiesAndArgument) {
  auto menu = host->commandBars()->item(u"Worksheet Menu Bar")->controls();
  auto popup = menu->add(ControlType::Popup, false);
  popup->setCaption(u"&Vandrel QMV");
  auto button = popup->controls()->add(ControlType::Button, std::nullopt);
  button->setCaption(u"Undo Changes");
  button->setTag(u"QMV16");
  button->setOnAction(u"UndoTextRemoval");
  button->setFaceId(128);
  button->setStyle(3);
  button->setParameter(u"1");
  button->setBeginGroup(true);
  button->setTooltipText(u"tip");

  auto snapshot = host->bar(u"Worksheet Menu Bar");
  const ControlSnapshot& p = snapshot->controls.back();
  EXPECT_EQ(p.caption, u"&Vandrel QMV");
  EXPECT_EQ(p.temporaryArgument, std::optional<bool>(false));
  ASSERT_EQ(p.controls.size(), 1U);
  const ControlSnapshot& b = p.controls[0];
  EXPECT_EQ(b.temporaryArgument, std::nullopt);
  EXPECT_EQ(b.tag, u"QMV16");
  EXPECT_EQ(b.onAction, u"UndoTextRemoval");
  EXPECT_EQ(b.faceId, 128);
  EXPECT_EQ(b.style, 3);
  EXPECT_EQ(b.parameter, u"1");
  EXPECT_TRUE(b.beginGroup);
  EXPECT_EQ(b.tooltipText, u"tip");
  EXPECT_EQ(menu->item(u"&Vandrel QMV")->controls()->item(1)->tag(), u"QMV16");

  EXPECT_EQ(errorNumberOf([&] { popup->faceId(); }), 438);
  EXPECT_EQ(errorNumberOf([&] { button->controls(); }), 438);
}

TEST_F(MemoryApplicationTest, DeletingTheFirstOfTwoEqualCaptions) {
  auto menu = host->commandBars()->item(u"Worksheet Menu Bar")->controls();
  const int32_t before = menu->count();
  for (auto tag : {u"first", u"second"}) {
    auto popup = menu->add(ControlType::Popup, false);
    popup->setCaption(u"&Vandrel QMV");
    popup->setTag(tag);
  }
  menu->item(u"&Vandrel QMV")->remove();
  EXPECT_EQ(menu->count(), before + 1);
  EXPECT_EQ(menu->item(u"&Vandrel QMV")->tag(), u"second");
}

TEST_F(MemoryApplicationTest, DeletedControlsFail) {
  auto menu = host->commandBars()->item(u"Worksheet Menu Bar")->controls();
  auto popup = menu->add(ControlType::Popup, false);
  auto child = popup->controls()->add(ControlType::Button, std::nullopt);
  popup->remove();
  EXPECT_NE(errorNumberOf([&] { popup->caption(); }), 0);
  EXPECT_NE(errorNumberOf([&] { child->setCaption(u"x"); }), 0);
}

TEST_F(MemoryApplicationTest, ClickRaisesEverySubscriberAndReadsCancelDefault) {
  auto bar = host->commandBars()->add(u"Dolvanis", xl::kBarTop);
  auto button = bar->controls()->add(ControlType::Button, std::nullopt);
  button->setTag(u"Text_Remover");
  button->setOnAction(u"!<Orvik.Connect>");
  std::vector<std::u16string> calls;
  auto first = button->subscribeClick(
      [&](CommandBarControl& clicked, bool&) { calls.push_back(u"first:" + clicked.tag()); });
  EXPECT_EQ(host->subscriptionCount(), 1);
  ClickOutcome outcome = host->click(*button);
  EXPECT_EQ(outcome.handlersCalled, 1);
  EXPECT_FALSE(outcome.cancelDefault);
  EXPECT_EQ(outcome.onActionRun, std::optional<std::u16string>(u"!<Orvik.Connect>"));

  auto second = button->subscribeClick([&](CommandBarControl&, bool& cancel) {
    calls.push_back(u"second");
    cancel = true;
  });
  outcome = host->click(*host->findControlByTag(u"Text_Remover"));
  EXPECT_EQ(outcome.handlersCalled, 2);
  EXPECT_TRUE(outcome.cancelDefault);
  EXPECT_FALSE(outcome.onActionRun.has_value());
  EXPECT_EQ(calls,
            (std::vector<std::u16string>{u"first:Text_Remover", u"first:Text_Remover", u"second"}));
  EXPECT_EQ(host->onActionsRun(), (std::vector<std::u16string>{u"!<Orvik.Connect>"}));

  first.reset();
  second.reset();
  EXPECT_EQ(host->subscriptionCount(), 0);
  EXPECT_EQ(host->click(*button).handlersCalled, 0);
}

TEST_F(MemoryApplicationTest, ClickReachesSubscribersOfButtonsSharingTheTag) {
  auto controls = host->commandBars()->add(u"Twins", xl::kBarTop)->controls();
  auto one = controls->add(ControlType::Button, std::nullopt);
  auto two = controls->add(ControlType::Button, std::nullopt);
  auto other = controls->add(ControlType::Button, std::nullopt);
  one->setTag(u"QMV1");
  two->setTag(u"QMV1");
  other->setTag(u"QMV10");
  std::vector<std::u16string> seen;
  auto s1 = one->subscribeClick([&](CommandBarControl& c, bool&) { seen.push_back(c.tag()); });
  auto s3 = other->subscribeClick([&](CommandBarControl& c, bool&) { seen.push_back(c.tag()); });
  EXPECT_EQ(host->click(*two).handlersCalled, 1);
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"QMV1"}));
}

TEST_F(MemoryApplicationTest, AddInsByName) {
  EXPECT_EQ(errorNumberOf([&] { host->addIn(u"Vandrel QMV"); }), host_errors::kRefused);
  host->addAddIn(u"Vandrel QMV", true);
  auto item = host->addIn(u"Vandrel QMV");
  EXPECT_TRUE(item->installed());
  item->setInstalled(false);
  EXPECT_EQ(host->addInInstalled(u"Vandrel QMV"), std::optional<bool>(false));
  EXPECT_EQ(MemoryAddInInstance(u"Orvik.Connect").progId(), u"Orvik.Connect");
  EXPECT_EQ(host->makeAddInInstance(u"Orvik.Connect")->progId(), u"Orvik.Connect");
}

TEST_F(MemoryApplicationTest, LocaleIsReported) {
  EXPECT_EQ(host->locale().decimalSeparator, u'.');
  HostLocale german;
  german.decimalSeparator = u',';
  host->setLocale(german);
  EXPECT_EQ(host->locale().decimalSeparator, u',');
  range(u"A1")->setValue(Value{u"1,5"});
  EXPECT_EQ(at(u"A1"), Value{1.5});
}

TEST_F(MemoryApplicationTest, EveryHostCallCountsAndTheArmedOneFails) {
  const uint64_t start = host->hostCallCount();
  auto cell = range(u"A1");
  cell->setValue(Value{u"x"});
  host->worksheetFunction().countA(*cell);
  EXPECT_EQ(host->hostCallCount() - start, 4U);

  host->setCell({2, 1}, constantOf(Value{u"driver"}));
  host->cell({2, 1});
  host->select(u"A1");
  EXPECT_EQ(host->hostCallCount() - start, 4U);

  host->armFault(2, 1004);
  EXPECT_NO_THROW(cell->value());
  EXPECT_EQ(errorNumberOf([&] { cell->setValue(Value{u"y"}); }), 1004);
  EXPECT_EQ(at(u"A1"), Value{u"x"});
  EXPECT_NO_THROW(cell->setValue(Value{u"y"}));
  EXPECT_EQ(at(u"A1"), Value{u"y"});
}

TEST_F(MemoryApplicationTest, FaultsReachCommandBarsAndAddIns) {
  host->addAddIn(u"Vandrel QMV", true);
  auto item = host->addIn(u"Vandrel QMV");
  host->armFault(1, 91);
  EXPECT_EQ(errorNumberOf([&] { item->setInstalled(false); }), 91);
  EXPECT_EQ(host->addInInstalled(u"Vandrel QMV"), std::optional<bool>(true));
  auto bars = host->commandBars();
  host->armFault(1, 5);
  EXPECT_EQ(errorNumberOf([&] { bars->item(u"Worksheet Menu Bar"); }), 5);
  host->armFault(3, 7);
  host->disarmFault();
  EXPECT_NO_THROW(bars->item(u"Worksheet Menu Bar")->controls()->count());
}

}  // namespace
}  // namespace qmv::memory
