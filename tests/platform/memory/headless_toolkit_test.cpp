#include "platform/memory/headless_toolkit.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "host/host_error.hpp"
#include "host/text.hpp"
#include "host/tolerant.hpp"

namespace qmv::memory {
namespace {

// Lets digits, the point, Backspace and Enter through, as the add-in's number boxes do.
void digitsOnly(int& key) {
  const bool pass =
      (key >= '0' && key <= '9') || key == '.' || key == keys::kBackspace || key == keys::kEnter;
  if (!pass) key = 0;
}

// A dialog in the manner of the add-in's forms: number and word boxes, combo boxes, a
// check box, option buttons in two containers, Yes / No! / Stop and a run loop under Yes.
struct Dialog {
  Form form{"frmTest"};
  Control& outer = form.add("Frame1", ControlKind::Frame);
  Control& inner = form.add("Frame2", ControlKind::Frame, "Frame1");
  Control& number = form.add("txtSP", ControlKind::TextBox, "Frame2");
  Control& words = form.add("txtWords", ControlKind::TextBox);
  Control& combo = form.add("cmbPos", ControlKind::ComboBox);
  Control& list = form.add("cmbAN", ControlKind::ComboBox);
  Control& check = form.add("chkAll", ControlKind::CheckBox);
  Control& optA = form.add("optA", ControlKind::OptionButton, "Frame1");
  Control& optB = form.add("optB", ControlKind::OptionButton, "Frame1");
  Control& optC = form.add("optC", ControlKind::OptionButton);
  Control& label = form.add("lblStatus", ControlKind::Label);
  Control& yes = form.add("CommandButton1", ControlKind::CommandButton);
  Control& no = form.add("CommandButton2", ControlKind::CommandButton);
  Control& stop = form.add("CommandButton3", ControlKind::CommandButton);

  std::vector<std::string> clicks;
  std::vector<int> keysSeen;
  bool stopRequested = false;
  int cellsDone = 0;
  int cells = 10;

  explicit Dialog(HeadlessToolkit& tk) {
    number.setText(u"1");
    number.maxLength = 5;
    number.onKeyPress = [this](int& key) {
      keysSeen.push_back(key);
      digitsOnly(key);
    };
    for (const char16_t* entry : {u"1st", u"2nd", u"Last"}) combo.addItem(entry);
    combo.setText(u"Select Position");
    for (const char16_t* entry : {u"Numbers", u"Letters"}) list.addItem(entry);
    list.comboStyle = ComboStyle::DropDownList;
    list.setListIndex(0);
    optC.setChecked(true);
    stop.setVisible(false);
    form.stopControl = "CommandButton3";
    for (Control* c : {&combo, &list, &check, &optA, &optB, &optC}) {
      c->onClick = [this, c] { clicks.push_back(c->name()); };
    }
    no.onClick = [this, &tk] { tk.unload(form); };
    stop.onClick = [this] { stopRequested = true; };
    // Yes runs over the cells, yielding after each and testing the stop flag.
    yes.onClick = [this, &tk] {
      yes.setVisible(false);
      no.setVisible(false);
      stop.setVisible(true);
      for (int i = 0; i < cells; ++i) {
        ++cellsDone;
        tk.doEvents();
        if (stopRequested) break;
      }
      tk.unload(form);
    };
  }
};

class HeadlessToolkitTest : public ::testing::Test {
 protected:
  QueuedUser user;
  HeadlessToolkit tk{user};
  Dialog dialog{tk};

  std::vector<HeadlessEventKind> kinds() const {
    std::vector<HeadlessEventKind> out;
    for (const auto& e : tk.events()) out.push_back(e.kind);
    return out;
  }

  std::vector<std::string> transcript() const {
    std::vector<std::string> out;
    for (const auto& e : tk.events()) out.push_back(describe(e));
    return out;
  }
};

using Kind = HeadlessEventKind;

TEST_F(HeadlessToolkitTest, ShowModalReturnsOnceAHandlerUnloadsTheForm) {
  user.expectForm("frmTest").press("CommandButton2");
  tk.showModal(dialog.form);
  EXPECT_FALSE(dialog.form.loaded());
  EXPECT_EQ(user.pending(), 0u);
  EXPECT_EQ(tk.topForm(), nullptr);
  EXPECT_EQ(tk.formState("frmTest"), FormState::Unloaded);
  EXPECT_EQ(transcript(),
            (std::vector<std::string>{"form shown: frmTest", "form unloaded: frmTest"}));
}

TEST_F(HeadlessToolkitTest, FormIsShownWhileTheUserActs) {
  user.then([&](HeadlessToolkit& t, Form& shown) {
    EXPECT_EQ(&shown, &dialog.form);
    EXPECT_TRUE(t.isShown(dialog.form));
    EXPECT_EQ(t.shownForm("frmTest"), &dialog.form);
    EXPECT_EQ(t.formState("frmTest"), FormState::Shown);
  });
  user.close();
  tk.showModal(dialog.form);
  EXPECT_EQ(user.pending(), 0u);
}

struct TypingRow {
  const char* name;
  std::u16string initial;
  std::u16string keys;
  int maxLength;
  std::u16string expected;
};

TEST_F(HeadlessToolkitTest, TypingGoesKeyByKeyThroughFilterAndMaximumLength) {
  const std::vector<TypingRow> rows = {
      {"a letter is discarded", u"1", u"12a", 5, u"12"},
      {"the point and Backspace pass", u"1", u"3.\b", 5, u"3"},
      {"Enter inserts nothing", u"", u"4\r5", 5, u"45"},
      {"a discarded first key keeps the old text", u"77", u"x", 5, u"77"},
      {"the first key replaces the whole text", u"12345", u"9", 5, u"9"},
      {"keys beyond the maximum are dropped", u"", u"1234567", 5, u"12345"},
      {"Backspace first empties the whole text", u"123", u"\b", 5, u""},
      {"Backspace on an empty box", u"", u"\b\b1", 5, u"1"},
      {"no maximum", u"", u"123456789", 0, u"123456789"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    QueuedUser rowUser;
    HeadlessToolkit rowTk(rowUser);
    Dialog d(rowTk);
    d.number.setText(row.initial);
    d.number.maxLength = row.maxLength;
    rowUser.type("txtSP", row.keys).close();
    rowTk.showModal(d.form);
    EXPECT_EQ(toUtf8(d.number.text()), toUtf8(row.expected));
  }
}

TEST_F(HeadlessToolkitTest, KeyPressHearsEveryKeyAndMayChangeIt) {
  dialog.words.onKeyPress = [](int& key) {
    if (key >= 'a' && key <= 'z') key -= 'a' - 'A';
  };
  user.type("txtSP", u"1a\b\r\U0001F600").type("txtWords", u"ab\tc\U0001F600").close();
  tk.showModal(dialog.form);
  EXPECT_EQ(dialog.keysSeen, (std::vector<int>{'1', 'a', 8, 13, 0x1F600}));
  EXPECT_EQ(dialog.number.text(), u"");
  EXPECT_EQ(dialog.words.text(), u"ABC\U0001F600");
}

TEST_F(HeadlessToolkitTest, SurrogatePairsStayWholeWhenTypedDeletedOrCut) {
  dialog.words.maxLength = 3;
  user.type("txtWords", u"ab\U0001F600")  // two units left after "ab": one is too few
      .type("txtSP", u"1")
      .type("txtWords", u"\U0001F600")  // re-entering selects "ab" and replaces it
      .type("txtWords", u"\b")
      .close();
  tk.showModal(dialog.form);
  EXPECT_EQ(dialog.words.text(), u"");
}

TEST_F(HeadlessToolkitTest, TypingAgainAppendsUntilAnotherControlTakesTheFocus) {
  user.type("txtSP", u"1")
      .type("txtSP", u"2")
      .type("txtWords", u"x")
      .type("txtSP", u"5")
      .mouseDown("txtWords")
      .type("txtWords", u"y")
      .close();
  tk.showModal(dialog.form);
  EXPECT_EQ(dialog.number.text(), u"5");
  EXPECT_EQ(dialog.words.text(), u"xy");
}

TEST_F(HeadlessToolkitTest, MouseDownInABoxPutsTheCaretAtTheEnd) {
  dialog.words.setText(u"ab");
  std::vector<int> buttons;
  dialog.words.onMouseDown = [&](int button) { buttons.push_back(button); };
  user.mouseDown("txtWords", 2).type("txtWords", u"c").close();
  tk.showModal(dialog.form);
  EXPECT_EQ(dialog.words.text(), u"abc");
  EXPECT_EQ(buttons, std::vector<int>{2});
}

TEST_F(HeadlessToolkitTest, PasteSkipsTheKeyFilterAndIsCutAtTheMaximum) {
  struct Row {
    const char* name;
    std::u16string initial;
    std::u16string text;
    std::u16string expected;
  };
  const std::vector<Row> rows = {
      {"not filtered", u"1", u"a-1", u"a-1"},
      {"cut at five", u"1", u"123456789", u"12345"},
      {"a pair that does not fit is left out", u"1", u"1234\U0001F600", u"1234"},
      {"empty paste changes nothing", u"42", u"", u"42"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    QueuedUser rowUser;
    HeadlessToolkit rowTk(rowUser);
    Dialog d(rowTk);
    d.number.setText(row.initial);
    rowUser.paste("txtSP", row.text).close();
    rowTk.showModal(d.form);
    EXPECT_EQ(toUtf8(d.number.text()), toUtf8(row.expected));
    EXPECT_TRUE(d.keysSeen.empty());
  }
}

TEST_F(HeadlessToolkitTest, PasteAfterTypingAppendsWithinTheMaximum) {
  user.type("txtSP", u"12").paste("txtSP", u"3456").close();
  tk.showModal(dialog.form);
  EXPECT_EQ(dialog.number.text(), u"12345");
}

TEST_F(HeadlessToolkitTest, ClearEmptiesWithoutKeysAndTypingThenAppends) {
  dialog.number.setText(u"123");
  user.clear("txtSP").type("txtSP", u"4").type("txtSP", u"5").close();
  tk.showModal(dialog.form);
  EXPECT_EQ(dialog.number.text(), u"45");
  EXPECT_EQ(dialog.keysSeen, (std::vector<int>{'4', '5'}));
}

TEST_F(HeadlessToolkitTest, TypingAnEntryIntoAnEditableComboSelectsIt) {
  user.type("cmbPos", u"2nd").close();
  tk.showModal(dialog.form);
  EXPECT_EQ(dialog.combo.text(), u"2nd");
  EXPECT_EQ(dialog.combo.listIndex(), 1);
  EXPECT_EQ(dialog.clicks, std::vector<std::string>{"cmbPos"});
}

TEST_F(HeadlessToolkitTest, ComboMaximumLengthLimitsTypingButNotChoosing) {
  dialog.combo.maxLength = 1;
  user.type("cmbPos", u"xy").close();
  tk.showModal(dialog.form);
  EXPECT_EQ(dialog.combo.text(), u"x");

  QueuedUser again;
  HeadlessToolkit tk2(again);
  Dialog d(tk2);
  d.combo.maxLength = 1;
  again.choose("cmbPos", 2).close();
  tk2.showModal(d.form);
  EXPECT_EQ(d.combo.text(), u"Last");
}

TEST_F(HeadlessToolkitTest, PressTogglePickRaiseClickAfterTheChange) {
  std::vector<bool> seen;
  dialog.check.onClick = [&] { seen.push_back(dialog.check.checked()); };
  user.toggle("chkAll").toggle("chkAll").pick("optA").pick("optB").press("CommandButton2");
  tk.showModal(dialog.form);
  EXPECT_EQ(seen, (std::vector<bool>{true, false}));
  EXPECT_FALSE(dialog.optA.checked());
  EXPECT_TRUE(dialog.optB.checked());
  EXPECT_TRUE(dialog.optC.checked()) << "an option button of another container stays set";
  EXPECT_EQ(dialog.clicks, (std::vector<std::string>{"optA", "optB"}));
  EXPECT_FALSE(dialog.form.loaded());
}

TEST_F(HeadlessToolkitTest, PressClicksALabelOnlyWhenItHasAClickHandler) {
  int clicked = 0;
  user.press("lblStatus");
  EXPECT_THROW(tk.showModal(dialog.form), UserActionRefused) << "a plain label is not clickable";
  Dialog again(tk);
  again.label.onClick = [&] { ++clicked; };
  user.press("lblStatus").press("CommandButton2");
  tk.showModal(again.form);
  EXPECT_EQ(clicked, 1);
}

TEST_F(HeadlessToolkitTest, ChooseByIndexOrTextClicksOnlyOnAChange) {
  user.choose("cmbAN", 1)
      .choose("cmbAN", 1)
      .choose("cmbAN", u"Numbers")
      .choose("cmbPos", u"Last")
      .close();
  tk.showModal(dialog.form);
  EXPECT_EQ(dialog.list.listIndex(), 0);
  EXPECT_EQ(dialog.list.text(), u"Numbers");
  EXPECT_EQ(dialog.combo.listIndex(), 2);
  EXPECT_EQ(dialog.clicks, (std::vector<std::string>{"cmbAN", "cmbAN", "cmbPos"}));
}

struct RefusalRow {
  const char* name;
  std::function<void(Dialog&)> setup;
  std::function<void(HeadlessToolkit&, Dialog&)> action;
  const char* reason;
};

TEST_F(HeadlessToolkitTest, ActionsTheFormWouldNotTakeAreRefused) {
  const std::vector<RefusalRow> rows = {
      {"hidden box", [](Dialog& d) { d.words.setVisible(false); },
       [](HeadlessToolkit& t, Dialog& d) { t.type(d.words, u"a"); }, "txtWords is hidden"},
      {"disabled box", [](Dialog& d) { d.words.setEnabled(false); },
       [](HeadlessToolkit& t, Dialog& d) { t.paste(d.words, u"a"); }, "txtWords is disabled"},
      {"box in a disabled outer frame", [](Dialog& d) { d.outer.setEnabled(false); },
       [](HeadlessToolkit& t, Dialog& d) { t.type(d.number, u"2"); },
       "txtSP is disabled (inside the frame Frame1)"},
      {"box in a hidden inner frame", [](Dialog& d) { d.inner.setVisible(false); },
       [](HeadlessToolkit& t, Dialog& d) { t.clear(d.number); },
       "txtSP is hidden (inside the frame Frame2)"},
      {"option in a disabled frame", [](Dialog& d) { d.outer.setEnabled(false); },
       [](HeadlessToolkit& t, Dialog& d) { t.pick(d.optA); }, "optA is disabled"},
      {"hidden button", [](Dialog&) {}, [](HeadlessToolkit& t, Dialog& d) { t.press(d.stop); },
       "CommandButton3 is hidden"},
      {"disabled combo", [](Dialog& d) { d.list.setEnabled(false); },
       [](HeadlessToolkit& t, Dialog& d) { t.choose(d.list, 1); }, "cmbAN is disabled"},
      {"typing into a drop-down list", [](Dialog&) {},
       [](HeadlessToolkit& t, Dialog& d) { t.type(d.list, u"L"); }, "takes no typing"},
      {"pasting into a drop-down list", [](Dialog&) {},
       [](HeadlessToolkit& t, Dialog& d) { t.paste(d.list, u"Letters"); }, "takes no typing"},
      {"typing into a check box", [](Dialog&) {},
       [](HeadlessToolkit& t, Dialog& d) { t.type(d.check, u"x"); }, "not a text box"},
      {"pressing a check box", [](Dialog&) {},
       [](HeadlessToolkit& t, Dialog& d) { t.press(d.check); }, "not a command button"},
      {"toggling an option", [](Dialog&) {},
       [](HeadlessToolkit& t, Dialog& d) { t.toggle(d.optA); }, "not a check box"},
      {"picking a check box", [](Dialog&) {},
       [](HeadlessToolkit& t, Dialog& d) { t.pick(d.check); }, "not an option button"},
      {"an entry past the end", [](Dialog&) {},
       [](HeadlessToolkit& t, Dialog& d) { t.choose(d.combo, 3); }, "has no entry 3"},
      {"a negative entry", [](Dialog&) {},
       [](HeadlessToolkit& t, Dialog& d) { t.choose(d.combo, -1); }, "has no entry -1"},
      {"an unknown entry", [](Dialog&) {},
       [](HeadlessToolkit& t, Dialog& d) { t.choose(d.combo, u"5th"); }, "has no entry \"5th\""},
      {"an unknown control", [](Dialog&) {},
       [](HeadlessToolkit& t, Dialog&) { t.press(t.shownControl("cmdMissing")); },
       "has no control cmdMissing"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    QueuedUser rowUser;
    HeadlessToolkit rowTk(rowUser);
    Dialog d(rowTk);
    row.setup(d);
    const std::u16string numberBefore = d.number.text();
    const std::u16string wordsBefore = d.words.text();
    std::string what;
    rowUser
        .then([&](HeadlessToolkit& t, Form&) {
          try {
            row.action(t, d);
          } catch (const UserActionRefused& e) {
            what = e.what();
          }
        })
        .close();
    rowTk.showModal(d.form);
    EXPECT_NE(what.find(row.reason), std::string::npos) << what;
    EXPECT_EQ(d.number.text(), numberBefore);
    EXPECT_EQ(d.words.text(), wordsBefore);
    EXPECT_EQ(d.list.listIndex(), 0);
    EXPECT_EQ(d.combo.listIndex(), -1);
    EXPECT_TRUE(d.clicks.empty());
    EXPECT_FALSE(d.stopRequested);
  }
}

TEST_F(HeadlessToolkitTest, RefusalIsRecordedAndEndsTheModalDisplay) {
  dialog.words.setEnabled(false);
  user.type("txtWords", u"a");
  EXPECT_THROW(tk.showModal(dialog.form), UserActionRefused);
  EXPECT_FALSE(dialog.form.loaded());
  EXPECT_TRUE(tk.shownForms().empty());
  EXPECT_EQ(kinds(), (std::vector<Kind>{Kind::FormShown, Kind::ActionRefused, Kind::FormUnloaded}));
  EXPECT_EQ(transcript()[1], "refused: frmTest.txtWords is disabled");
}

TEST_F(HeadlessToolkitTest, AKeyFilterThatDisablesTheBoxStopsFurtherKeys) {
  dialog.words.onKeyPress = [&](int&) { dialog.words.setEnabled(false); };
  std::string what;
  user.then([&](HeadlessToolkit& t, Form& f) {
        try {
          t.type(f.control("txtWords"), u"ab");
        } catch (const UserActionRefused& e) {
          what = e.what();
        }
      })
      .close();
  tk.showModal(dialog.form);
  EXPECT_EQ(dialog.words.text(), u"a");
  EXPECT_NE(what.find("disabled"), std::string::npos);
}

TEST_F(HeadlessToolkitTest, NestedModalFormsAndMessageBoxesFromAHandler) {
  Form second("frmSecond");
  Control& ok = second.add("cmdOK", ControlKind::CommandButton);
  ok.onClick = [&] { tk.unload(second); };
  dialog.yes.onClick = [&] {
    tk.messageBox(u"Opening");
    tk.showModal(second);
    dialog.label.setCaption(u"back");
  };
  std::vector<Form*> stackInside;
  std::string refusal;
  user.press("CommandButton1")
      .expectForm("frmSecond")
      .then([&](HeadlessToolkit& t, Form&) {
        stackInside = t.shownForms();
        try {
          t.press(dialog.no);
        } catch (const UserActionRefused& e) {
          refusal = e.what();
        }
      })
      .press("cmdOK")
      .expectForm("frmTest")
      .press("CommandButton2");
  tk.showModal(dialog.form);
  EXPECT_EQ(stackInside, (std::vector<Form*>{&dialog.form, &second}));
  EXPECT_NE(refusal.find("frmSecond is shown over it"), std::string::npos) << refusal;
  EXPECT_EQ(dialog.label.caption(), u"back");
  EXPECT_FALSE(second.loaded());
  EXPECT_FALSE(dialog.form.loaded());
  EXPECT_EQ(transcript(), (std::vector<std::string>{
                              "form shown: frmTest",
                              "message: Opening",
                              "form shown: frmSecond",
                              // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one long line
                              "refused: the form frmTest is not the active form (frmSecond is "
                              "shown over it): frmTest.CommandButton2",
                              "form unloaded: frmSecond",
                              "form unloaded: frmTest",
                          }));
}

TEST_F(HeadlessToolkitTest, MessageAndInputBoxesAreRecordedInOrder) {
  tk.queueAnswer(u"#%");
  tk.queueCancel();
  EXPECT_EQ(tk.queuedAnswers(), 2u);
  tk.messageBox(u"Empty String!", MessageIcon::Critical);
  const auto first = tk.inputBox(u"Enter Character(s): ", u"Input");
  const auto second = tk.inputBox(u"Enter Character(s): ", u"Input");
  const auto third = tk.inputBox(u"Start", u"Input");
  tk.messageBox(u"Done");
  EXPECT_EQ(first, u"#%");
  EXPECT_EQ(second, u"");
  EXPECT_EQ(third, u"");
  ASSERT_EQ(tk.messages().size(), 2u);
  EXPECT_EQ(tk.messages()[0].text, u"Empty String!");
  EXPECT_EQ(tk.messages()[0].icon, MessageIcon::Critical);
  EXPECT_EQ(tk.messages()[1].icon, MessageIcon::None);
  ASSERT_EQ(tk.inputBoxes().size(), 3u);
  EXPECT_EQ(tk.inputBoxes()[0].answer, u"#%");
  EXPECT_FALSE(tk.inputBoxes()[0].cancelled);
  EXPECT_TRUE(tk.inputBoxes()[1].cancelled);
  EXPECT_FALSE(tk.inputBoxes()[1].unanswered);
  EXPECT_TRUE(tk.inputBoxes()[2].cancelled);
  EXPECT_TRUE(tk.inputBoxes()[2].unanswered);
  EXPECT_EQ(tk.inputBoxes()[2].prompt, u"Start");
  EXPECT_EQ(tk.inputBoxes()[2].title, u"Input");
  EXPECT_EQ(transcript(), (std::vector<std::string>{
                              "message: Empty String!",
                              "input: Enter Character(s):  [Input] -> \"#%\"",
                              "input: Enter Character(s):  [Input] -> cancel",
                              "input: Start [Input] -> cancel (no answer queued)",
                              "message: Done",
                          }));
}

TEST_F(HeadlessToolkitTest, TranscriptEscapesControlCharacters) {
  tk.messageBox(u"Removing....!\r\nPress\tStop\x01");
  EXPECT_EQ(describe(tk.events().back()), "message: Removing....!\\r\\nPress\\tStop\\u0001");
}

TEST_F(HeadlessToolkitTest, ScheduledStopPressesTheStopControlDuringThatYield) {
  struct Row {
    uint64_t stopAt;
    int cellsDone;
    bool pressed;  // false: the run of 10 cells ended first and dropped the stop
  };
  for (const Row row : {Row{1, 1, true}, Row{3, 3, true}, Row{10, 10, true}, Row{11, 10, false}}) {
    SCOPED_TRACE("stop at " + std::to_string(row.stopAt));
    QueuedUser rowUser;
    HeadlessToolkit rowTk(rowUser);
    Dialog d(rowTk);
    rowTk.scheduleStop(row.stopAt);
    rowUser.press("CommandButton1");
    rowTk.showModal(d.form);
    EXPECT_EQ(d.cellsDone, row.cellsDone);
    EXPECT_EQ(rowTk.yields(), static_cast<uint64_t>(row.cellsDone));
    EXPECT_EQ(rowTk.scheduled(), 0u) << "a stop never outlives the run it was meant for";
    const auto& events = rowTk.events();
    const auto pressed = std::count_if(events.begin(), events.end(), [](const HeadlessEvent& e) {
      return e.kind == HeadlessEventKind::StopPressed;
    });
    EXPECT_EQ(pressed, row.pressed ? 1 : 0);
    if (row.pressed) {
      ASSERT_GE(events.size(), 2u);
      EXPECT_EQ(describe(events[events.size() - 2]),
                "stop: frmTest.CommandButton3 pressed during yield " + std::to_string(row.stopAt));
    }
  }
}

TEST_F(HeadlessToolkitTest, StopIsCountedFromTheTimeItIsScheduled) {
  tk.doEvents();
  tk.doEvents();
  tk.scheduleStop(2);
  user.press("CommandButton1");
  tk.showModal(dialog.form);
  EXPECT_EQ(dialog.cellsDone, 2);
  EXPECT_EQ(tk.yields(), 4u);
}

TEST_F(HeadlessToolkitTest, StopThatFindsNothingToPressIsRecordedAsMissed) {
  tk.scheduleStop(1);
  tk.doEvents();
  ASSERT_EQ(tk.events().size(), 1u);
  EXPECT_EQ(describe(tk.events()[0]), "stop missed during yield 1: no form is shown");

  // The stop control stays hidden during this run: a user could not click it.
  dialog.yes.onClick = [&] {
    for (int i = 0; i < 5 && !dialog.stopRequested; ++i) {
      ++dialog.cellsDone;
      tk.doEvents();
    }
    tk.unload(dialog.form);
  };
  tk.scheduleStop(2);
  user.press("CommandButton1");
  tk.showModal(dialog.form);
  EXPECT_EQ(dialog.cellsDone, 5);
  EXPECT_FALSE(dialog.stopRequested);
  EXPECT_NE(transcript()[2].find("stop missed during yield 3: frmTest.CommandButton3 is hidden"),
            std::string::npos)
      << transcript()[2];
  EXPECT_THROW(tk.scheduleStop(0), HeadlessError);
}

TEST_F(HeadlessToolkitTest, ActionsCanBeScheduledDuringARunsYields) {
  std::vector<bool> checkedAtCell;
  dialog.yes.onClick = [&] {
    for (int i = 0; i < 4; ++i) {
      checkedAtCell.push_back(dialog.check.checked());
      tk.doEvents();
    }
    tk.unload(dialog.form);
  };
  tk.scheduleDuringYield(2, [](HeadlessToolkit& t) { t.toggle(t.shownControl("chkAll")); });
  user.press("CommandButton1");
  tk.showModal(dialog.form);
  EXPECT_EQ(checkedAtCell, (std::vector<bool>{false, false, true, true}));
  EXPECT_EQ(dialog.clicks, std::vector<std::string>{"chkAll"});
}

TEST_F(HeadlessToolkitTest, ScriptEndingWhileAFormIsShownUnloadsAndNamesIt) {
  user.type("txtSP", u"3");
  try {
    tk.showModal(dialog.form);
    FAIL() << "expected ScriptEndedWhileShown";
  } catch (const ScriptEndedWhileShown& e) {
    EXPECT_EQ(e.formName(), "frmTest");
    EXPECT_NE(std::string(e.what()).find("frmTest"), std::string::npos);
  }
  EXPECT_EQ(dialog.number.text(), u"3");
  EXPECT_FALSE(dialog.form.loaded());
  EXPECT_TRUE(tk.shownForms().empty());
  EXPECT_TRUE(tk.scriptEnded());
  EXPECT_EQ(kinds(), (std::vector<Kind>{Kind::FormShown, Kind::ScriptEnded, Kind::FormUnloaded}));
}

TEST_F(HeadlessToolkitTest, ScriptEndingInANestedFormUnloadsEveryShownForm) {
  Form second("frmSecond");
  second.add("cmdOK", ControlKind::CommandButton);
  dialog.yes.onClick = [&] { tk.showModal(second); };
  user.press("CommandButton1");
  try {
    tk.showModal(dialog.form);
    FAIL() << "expected ScriptEndedWhileShown";
  } catch (const ScriptEndedWhileShown& e) {
    EXPECT_EQ(e.formName(), "frmSecond");
  }
  EXPECT_FALSE(second.loaded());
  EXPECT_FALSE(dialog.form.loaded());
  EXPECT_TRUE(tk.shownForms().empty());
  EXPECT_EQ(transcript(), (std::vector<std::string>{
                              "form shown: frmTest",
                              "form shown: frmSecond",
                              "script ended while frmSecond was shown",
                              "form unloaded: frmSecond",
                              "form unloaded: frmTest",
                          }));
}

TEST_F(HeadlessToolkitTest, ScriptEndIsKnownEvenWhenTheCallerSwallowsIt) {
  EXPECT_FALSE(tolerant([&] { tk.showModal(dialog.form); }));
  EXPECT_TRUE(tk.scriptEnded());
  EXPECT_FALSE(dialog.form.loaded());

  HeadlessToolkit noUser;
  Form lone("frmLone");
  EXPECT_THROW(noUser.showModal(lone), ScriptEndedWhileShown);
  EXPECT_TRUE(noUser.scriptEnded());
}

TEST_F(HeadlessToolkitTest, HandlerFailureLeavesNoFormShown) {
  dialog.yes.onClick = [] { throw HostError(host_errors::kRefused, "refused"); };
  user.press("CommandButton1");
  EXPECT_THROW(tk.showModal(dialog.form), HostError);
  EXPECT_FALSE(dialog.form.loaded());
  EXPECT_TRUE(tk.shownForms().empty());
  EXPECT_FALSE(tk.scriptEnded());
}

TEST_F(HeadlessToolkitTest, UnloadedOrAlreadyShownFormsCannotBeShown) {
  user.then(
          [&](HeadlessToolkit& t, Form& shown) { EXPECT_THROW(t.showModal(shown), HeadlessError); })
      .close();
  tk.showModal(dialog.form);
  EXPECT_EQ(user.pending(), 0u);
  EXPECT_THROW(tk.showModal(dialog.form), HeadlessError);
  tk.unload(dialog.form);  // a second unload changes nothing
  EXPECT_EQ(kinds(), (std::vector<Kind>{Kind::FormShown, Kind::FormUnloaded}));
}

TEST_F(HeadlessToolkitTest, CloseBoxAsksQueryCloseFirst) {
  int asked = 0;
  bool keepOpen = true;
  dialog.form.onQueryClose = [&] {
    ++asked;
    return keepOpen;
  };
  user.close()
      .then([&](HeadlessToolkit&, Form& shown) {
        EXPECT_TRUE(shown.loaded());
        keepOpen = false;
      })
      .close();
  tk.showModal(dialog.form);
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(dialog.form.loaded());
  EXPECT_EQ(user.pending(), 0u);
  EXPECT_THROW(tk.close(), UserActionRefused);
}

TEST_F(HeadlessToolkitTest, WindowHandlesAreStableAndLoadingIsRecorded) {
  Form other("frmOther");
  const auto handle = tk.windowHandle(dialog.form);
  EXPECT_NE(handle, 0u);
  EXPECT_EQ(tk.windowHandle(dialog.form), handle);
  EXPECT_NE(tk.windowHandle(other), handle);
  EXPECT_EQ(tk.formState("frmTest"), FormState::Loaded);
  EXPECT_EQ(tk.formState("frmNever"), FormState::Unknown);
  user.then([&](HeadlessToolkit& t, Form& shown) { EXPECT_EQ(t.windowHandle(shown), handle); })
      .close();
  tk.showModal(dialog.form);
  EXPECT_EQ(transcript(),
            (std::vector<std::string>{"form loaded: frmTest", "form loaded: frmOther",
                                      "form shown: frmTest", "form unloaded: frmTest"}));
}

TEST_F(HeadlessToolkitTest, BackgroundMouseDownAndFrameKeyDownReachTheirHandlers) {
  std::vector<int> buttons;
  dialog.form.onMouseDown = [&](int button) {
    buttons.push_back(button);
    tk.beginWindowMove(dialog.form);
  };
  std::vector<int> keyCodes;
  dialog.outer.onKeyDown = [&](int& code) { keyCodes.push_back(code); };
  Form other("frmOther");
  user.mouseDownBackground(1)
      .mouseDownBackground(2)
      .keyDown("Frame1", 40)
      .then([&](HeadlessToolkit& t, Form&) { EXPECT_THROW(t.mouseDown(other), UserActionRefused); })
      .close();
  tk.showModal(dialog.form);
  EXPECT_EQ(buttons, (std::vector<int>{1, 2}));
  EXPECT_EQ(keyCodes, std::vector<int>{40});
  EXPECT_EQ(tk.windowMoves(), (std::vector<std::string>{"frmTest", "frmTest"}));
  EXPECT_EQ(transcript()[1], "window move: frmTest");
}

TEST_F(HeadlessToolkitTest, ListenerHearsEachEventAsItHappens) {
  std::vector<std::string> heard;
  tk.setListener([&](const HeadlessEvent& e) {
    heard.push_back(describe(e));
    if (e.kind == Kind::FormShown) {
      EXPECT_TRUE(tk.isShown(dialog.form));
    }
  });
  dialog.no.onClick = [&] {
    tk.messageBox(u"Bye");
    tk.unload(dialog.form);
  };
  user.press("CommandButton2");
  tk.showModal(dialog.form);
  EXPECT_EQ(heard, (std::vector<std::string>{"form shown: frmTest", "message: Bye",
                                             "form unloaded: frmTest"}));
}

}  // namespace
}  // namespace qmv::memory
