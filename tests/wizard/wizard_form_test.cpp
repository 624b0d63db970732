#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wizard/wizard_fixture.hpp"

namespace qmv::testing {
namespace {

using memory::HeadlessToolkit;
using memory::UserActionRefused;

class WizardForm : public WizardFixture {};

struct ControlRow {
  const char* name;
  ControlKind kind;
  const char* parent;
  std::u16string caption;
  std::u16string tooltip;
};

TEST_F(WizardForm, HoldsEveryControlInItsContainerWithItsCaptionAndTooltip) {
  const ControlRow rows[] = {
      {"Frame1", ControlKind::Frame, "", u"", u""},
      {"lblPer", ControlKind::Label, "", u"0%", u""},
      {"ProgressBar1", ControlKind::ProgressBar, "", u"", u""},
      {"Label4", ControlKind::Label, "", u"", u""},
      {"Frame2", ControlKind::Frame, "Frame1", u"", u""},
      {"Frame3", ControlKind::Frame, "Frame1", u"Remove Characters", u""},
      {"CommandButton1", ControlKind::CommandButton, "Frame1", u"Remove", u""},
      {"chkUnicode", ControlKind::CheckBox, "Frame1", u"Unicode",
       u"Count every kind of space, invisible character and letter; an emoji is one character"},
      {"Frame4", ControlKind::Frame, "Frame1", u"Conditional Start Position", u""},
      {"Frame5", ControlKind::Frame, "Frame1", u"", u""},
      {"CommandButton2", ControlKind::CommandButton, "Frame1", u"Close", u""},
      {"lblPreview", ControlKind::Label, "Frame1", u"The selection is empty: nothing would change.",
       u""},
      {"optRight", ControlKind::OptionButton, "Frame2", u"Before (SP)", u""},
      {"optLeft", ControlKind::OptionButton, "Frame2", u"After (SP)", u""},
      {"chkAllChars", ControlKind::CheckBox, "Frame3", u"All Characters",
       u"Check it for all chars or type no. of chars in box"},
      {"Label1", ControlKind::Label, "Frame3", u"Start Position (SP)", u""},
      {"txtStartPos", ControlKind::TextBox, "Frame3", u"", u""},
      {"txtNoOfChars", ControlKind::TextBox, "Frame3", u"", u"Type No. of Characters"},
      {"cmbSpChar", ControlKind::ComboBox, "Frame4", u"", u""},
      {"cmbPos", ControlKind::ComboBox, "Frame4", u"", u""},
      {"chkConSP", ControlKind::CheckBox, "Frame4", u"", u""},
      {"cmbAN", ControlKind::ComboBox, "Frame5", u"", u""},
      {"CheckBox1", ControlKind::CheckBox, "Frame5", u"Remove", u""},
  };
  frmTextRemover form(module);
  EXPECT_EQ(form.caption(), u"Quintara - Wizard");
  EXPECT_EQ(form.stopControl, "CommandButton1");
  ASSERT_EQ(form.controls().size(), std::size(rows));
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const ControlRow& row = rows[i];
    SCOPED_TRACE(row.name);
    const Control& c = *form.controls()[i];
    EXPECT_EQ(c.name(), row.name);
    EXPECT_EQ(c.kind(), row.kind);
    EXPECT_EQ(c.parent(), row.parent);
    EXPECT_EQ(c.caption(), row.caption);
    EXPECT_EQ(c.tooltip(), row.tooltip);
    EXPECT_EQ(c.fontName, u"Tahoma");
    EXPECT_FLOAT_EQ(c.fontSize, 8.25f);
  }
}

TEST_F(WizardForm, OpensInItsDesignState) {
  frmTextRemover form(module);
  const Control& cmbAN = form.control("cmbAN");
  EXPECT_EQ(cmbAN.text(), u"All Numeric Characters");
  EXPECT_EQ(cmbAN.listIndex(), 0);
  EXPECT_FALSE(cmbAN.enabled());
  EXPECT_EQ(cmbAN.comboStyle, ComboStyle::DropDownList);
  EXPECT_TRUE(form.control("optLeft").checked());
  EXPECT_FALSE(form.control("optRight").checked());
  EXPECT_EQ(form.control("txtStartPos").text(), u"1");
  EXPECT_EQ(form.control("txtNoOfChars").text(), u"1");
  EXPECT_EQ(form.control("txtStartPos").maxLength, 5);
  EXPECT_EQ(form.control("txtNoOfChars").maxLength, 5);
  EXPECT_TRUE(form.control("txtNoOfChars").visible());

  const Control& cmbSpChar = form.control("cmbSpChar");
  EXPECT_EQ(cmbSpChar.text(), u"Select Character");
  EXPECT_EQ(cmbSpChar.listIndex(), -1);
  EXPECT_FALSE(cmbSpChar.enabled());
  EXPECT_EQ(cmbSpChar.maxLength, 2);
  EXPECT_EQ(cmbSpChar.comboStyle, ComboStyle::DropDownCombo);
  const Control& cmbPos = form.control("cmbPos");
  EXPECT_EQ(cmbPos.text(), u"Select Position");
  EXPECT_EQ(cmbPos.listIndex(), -1);
  EXPECT_FALSE(cmbPos.enabled());
  EXPECT_EQ(cmbPos.comboStyle, ComboStyle::DropDownCombo);

  for (const char* name : {"CheckBox1", "chkAllChars", "chkConSP"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(form.control(name).checked());
  }
  for (const char* name : {"Frame1", "Frame2", "Frame3", "Frame4", "Frame5", "txtStartPos",
                           "Label1", "CommandButton1", "CommandButton2"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(form.control(name).enabled());
  }
  EXPECT_FLOAT_EQ(form.control("ProgressBar1").max(), 100);
  EXPECT_FLOAT_EQ(form.control("ProgressBar1").value(), 0);
  EXPECT_TRUE(form.wizardUserChars.empty());
}

TEST_F(WizardForm, KeepsTheReferenceLayoutAndColours) {
  frmTextRemover form(module);
  EXPECT_FLOAT_EQ(form.geometry.width, 231);
  EXPECT_FLOAT_EQ(form.geometry.height, 241);  // with the preview line
  EXPECT_EQ(form.backColor, 0xC0C0FFu);
  EXPECT_EQ(form.control("lblPer").backColor, 0xFFFF80u);
  EXPECT_EQ(form.control("lblPer").textAlign, TextAlign::Center);
  EXPECT_TRUE(form.control("lblPer").etched);
  EXPECT_TRUE(form.control("Label4").etched);
  EXPECT_EQ(form.control("Frame5").backColor, 0xFFFFC0u);
  EXPECT_EQ(form.control("txtStartPos").backColor, 0xFFFFC0u);
  const Geometry bar = form.control("ProgressBar1").geometry;
  EXPECT_FLOAT_EQ(bar.left, 10.5f);
  EXPECT_FLOAT_EQ(bar.top, 218);
  EXPECT_FLOAT_EQ(bar.width, 178);
  EXPECT_FLOAT_EQ(bar.height, 11);
  const Geometry run = form.control("CommandButton1").geometry;
  // The run button makes room on its left for the Unicode text box, level with it.
  EXPECT_FLOAT_EQ(run.left, 70);
  EXPECT_FLOAT_EQ(run.height, 19.5f);
  const Geometry unicode = form.control("chkUnicode").geometry;
  EXPECT_LE(unicode.left + unicode.width, run.left);
  EXPECT_GE(unicode.top, run.top);
  EXPECT_LE(unicode.top + unicode.height, run.top + run.height);
}

TEST_F(WizardForm, FillsTheThreeListsInOrder) {
  frmTextRemover form(module);
  const std::vector<std::u16string> positions = {u"1st", u"2nd", u"3rd", u"4th", u"Last"};
  const std::vector<std::u16string> separators = {
      u"Space ",          u"SemiColon ;", u"Colon :",        u"Hyphen -",
      u"Comma ,",         u"Less than <", u"Great than >",   u"Period .",
      u"Question Mark ?", u"BackSlash /", u"ForwardSlash \\"};
  const std::vector<std::u16string> operations = {u"All Numeric Characters",
                                                  u"All Alphabet Characters",
                                                  u"All Spaces",
                                                  u"Leading & Trailing Spaces",
                                                  u"Leading, Trailing & Excessive Spaces",
                                                  u"All Non-printable Characters",
                                                  u"All UPPER Case Characters",
                                                  u"All lower Case Characters",
                                                  u"Duplicate Values - Keep One",
                                                  u"All Duplicate Values",
                                                  u"All Unique Values",
                                                  u"All User Defined Character(s)"};
  EXPECT_EQ(form.control("cmbPos").list(), positions);
  EXPECT_EQ(form.control("cmbSpChar").list(), separators);
  EXPECT_EQ(form.control("cmbAN").list(), operations);
}

TEST_F(WizardForm, EveryOpeningStartsFromTheDesign) {
  toolkit.queueAnswer(u"#");
  user.toggle("CheckBox1").choose("cmbAN", 11).press("CommandButton2");
  openWizard();
  ASSERT_EQ(control("cmbAN").listCount(), 13);
  user.press("CommandButton2");
  openWizard();
  EXPECT_EQ(control("cmbAN").listCount(), 12);
  EXPECT_EQ(control("cmbAN").listIndex(), 0);
  EXPECT_FALSE(control("CheckBox1").checked());
  EXPECT_TRUE(wizard().wizardUserChars.empty());
}

TEST_F(WizardForm, ModeSwitchEnablesEitherTheListOrThePositionFrames) {
  bool checkedState[4] = {};
  user.toggle("CheckBox1")
      .then([&](HeadlessToolkit&, Form& f) {
        checkedState[0] = f.control("cmbAN").enabled();
        checkedState[1] = f.control("Frame2").enabled() || f.control("Frame3").enabled() ||
                          f.control("Frame4").enabled();
      })
      .choose("cmbAN", 6)
      .toggle("CheckBox1")
      .then([&](HeadlessToolkit&, Form& f) {
        checkedState[2] = f.control("cmbAN").enabled();
        checkedState[3] = f.control("Frame2").enabled() && f.control("Frame3").enabled() &&
                          f.control("Frame4").enabled();
      })
      .press("CommandButton2");
  openWizard();
  EXPECT_TRUE(checkedState[0]);
  EXPECT_FALSE(checkedState[1]);
  EXPECT_FALSE(checkedState[2]);
  EXPECT_TRUE(checkedState[3]);
  EXPECT_EQ(control("cmbAN").listIndex(), 6);
}

struct RefusalRow {
  const char* name;
  std::vector<const char*> switches;  // check boxes toggled first
  const char* control;
};

// The action a user takes on a control of this kind.
void actOn(HeadlessToolkit& tk, Control& c) {
  switch (c.kind()) {
    case ControlKind::TextBox:
      tk.paste(c, u"9");
      break;
    case ControlKind::ComboBox:
      tk.choose(c, 1);
      break;
    case ControlKind::CheckBox:
      tk.toggle(c);
      break;
    case ControlKind::OptionButton:
      tk.pick(c);
      break;
    default:
      tk.mouseDown(c);
  }
}

TEST_F(WizardForm, DisabledFramesRefuseTheControlsInside) {
  const RefusalRow rows[] = {
      {"operation list in position mode", {}, "cmbAN"},
      {"before option in list mode", {"CheckBox1"}, "optRight"},
      {"start position box in list mode", {"CheckBox1"}, "txtStartPos"},
      {"separator switch in list mode", {"CheckBox1"}, "chkConSP"},
      {"separator list while the start position is typed", {}, "cmbSpChar"},
      {"occurrence list while the start position is typed", {}, "cmbPos"},
      {"start position box while a separator gives it", {"chkConSP"}, "txtStartPos"},
      {"hidden number box", {"chkAllChars"}, "txtNoOfChars"},
  };
  // The same actions in the states that allow them.
  const RefusalRow allowed[] = {
      {"operation list in list mode", {"CheckBox1"}, "cmbAN"},
      {"before option in position mode", {}, "optRight"},
      {"separator list while a separator gives the start", {"chkConSP"}, "cmbSpChar"},
  };
  for (const RefusalRow& row : allowed) {
    SCOPED_TRACE(row.name);
    for (const char* name : row.switches) user.toggle(name);
    user.then([&](HeadlessToolkit& tk, Form& f) { actOn(tk, f.control(row.control)); })
        .press("CommandButton2");
    EXPECT_NO_THROW(openWizard());
  }
  for (const RefusalRow& row : rows) {
    SCOPED_TRACE(row.name);
    bool refused = false;
    for (const char* name : row.switches) user.toggle(name);
    user.then([&](HeadlessToolkit& tk, Form& f) {
      refused = false;
      try {
        actOn(tk, f.control(row.control));
      } catch (const UserActionRefused&) {
        refused = true;
      }
    });
    user.press("CommandButton2");
    openWizard();
    EXPECT_TRUE(refused);
  }
}

TEST_F(WizardForm, SeparatorSwitchSwapsTheTypedAndTheSeparatorStartPosition) {
  bool on[4] = {};
  user.toggle("chkConSP")
      .then([&](HeadlessToolkit&, Form& f) {
        on[0] = f.control("cmbPos").enabled() && f.control("cmbSpChar").enabled();
        on[1] = f.control("txtStartPos").enabled() || f.control("Label1").enabled();
      })
      .toggle("chkConSP")
      .then([&](HeadlessToolkit&, Form& f) {
        on[2] = f.control("cmbPos").enabled() || f.control("cmbSpChar").enabled();
        on[3] = f.control("txtStartPos").enabled() && f.control("Label1").enabled();
      })
      .press("CommandButton2");
  openWizard();
  EXPECT_TRUE(on[0]);
  EXPECT_FALSE(on[1]);
  EXPECT_FALSE(on[2]);
  EXPECT_TRUE(on[3]);
}

TEST_F(WizardForm, AllCharactersHidesTheNumberBoxAndKeepsItsValue) {
  bool hidden = false;
  user.type("txtNoOfChars", u"7")
      .toggle("chkAllChars")
      .then([&](HeadlessToolkit&, Form& f) { hidden = !f.control("txtNoOfChars").visible(); })
      .toggle("chkAllChars")
      .press("CommandButton2");
  openWizard();
  EXPECT_TRUE(hidden);
  EXPECT_TRUE(control("txtNoOfChars").visible());
  EXPECT_EQ(control("txtNoOfChars").text(), u"7");
}

TEST_F(WizardForm, TwoPromptsAppendTwoEntriesAndTheLatestSetCounts) {
  toolkit.queueAnswer(u"#%");
  toolkit.queueAnswer(u"&");
  user.toggle("CheckBox1").choose("cmbAN", 11).choose("cmbAN", 11).press("CommandButton2");
  openWizard();
  const Control& cmbAN = control("cmbAN");
  ASSERT_EQ(cmbAN.listCount(), 14);
  EXPECT_EQ(cmbAN.list()[12], u"#%");
  EXPECT_EQ(cmbAN.list()[13], u"&");
  EXPECT_EQ(cmbAN.listIndex(), 13);
  EXPECT_EQ(wizard().wizardUserChars, u"&");
  ASSERT_EQ(toolkit.inputBoxes().size(), 2u);
  EXPECT_EQ(toolkit.inputBoxes()[0].prompt, u"Enter Character(s): ");
  EXPECT_EQ(toolkit.inputBoxes()[0].title, u"Input");
  EXPECT_TRUE(toolkit.messages().empty());
}

TEST_F(WizardForm, TheSameSetTypedTwiceGivesTwoEqualEntries) {
  toolkit.queueAnswer(u"##");
  toolkit.queueAnswer(u"##");
  user.toggle("CheckBox1").choose("cmbAN", 11).choose("cmbAN", 11).press("CommandButton2");
  openWizard();
  ASSERT_EQ(control("cmbAN").listCount(), 14);
  EXPECT_EQ(control("cmbAN").list()[12], control("cmbAN").list()[13]);
}

TEST_F(WizardForm, CancelAtThePromptReportsAnEmptyStringAndReturnsToTheFirstEntry) {
  toolkit.queueAnswer(u"#");
  toolkit.queueCancel();
  user.toggle("CheckBox1").choose("cmbAN", 11).choose("cmbAN", 11).press("CommandButton2");
  openWizard();
  ASSERT_EQ(toolkit.messages().size(), 1u);
  EXPECT_EQ(toolkit.messages()[0].text, u"Empty String!");
  EXPECT_EQ(toolkit.messages()[0].icon, MessageIcon::Critical);
  EXPECT_EQ(control("cmbAN").listIndex(), 0);
  EXPECT_EQ(control("cmbAN").text(), u"All Numeric Characters");
  EXPECT_EQ(control("cmbAN").listCount(), 13);
  EXPECT_TRUE(wizard().wizardUserChars.empty());
}

struct KeyRow {
  const char* name;
  std::u16string typed;
  std::u16string expected;
};

TEST_F(WizardForm, NumberBoxesTakeDigitsAndThePointOnly) {
  const KeyRow rows[] = {
      {"a letter is discarded", u"12a", u"12"},
      {"a fraction is typed as it stands", u"1.5", u"1.5"},
      {"the minus sign is discarded", u"-3", u"3"},
      {"backspace passes", u"12\b", u"1"},
      {"Enter passes and inserts nothing", u"4\r", u"4"},
      {"at most five characters", u"1234567", u"12345"},
      {"spaces and signs are discarded", u" +7,", u"7"},
  };
  for (const char* box : {"txtStartPos", "txtNoOfChars"}) {
    for (const KeyRow& row : rows) {
      SCOPED_TRACE(std::string(box) + ": " + row.name);
      user.type(box, row.typed).press("CommandButton2");
      openWizard();
      EXPECT_EQ(control(box).text(), row.expected);
    }
  }
}

TEST_F(WizardForm, PastingIsNotFiltered) {
  user.paste("txtStartPos", u"-2").press("CommandButton2");
  openWizard();
  EXPECT_EQ(control("txtStartPos").text(), u"-2");
}

TEST_F(WizardForm, SeparatorListTakesOneTypedCharacter) {
  user.toggle("chkConSP").type("cmbSpChar", u"x").type("cmbSpChar", u"y").press("CommandButton2");
  openWizard();
  EXPECT_EQ(control("cmbSpChar").text(), u"x");
  EXPECT_EQ(control("cmbSpChar").listIndex(), -1);
}

TEST_F(WizardForm, ChoosingASeparatorNamesItInTheOccurrenceTooltip) {
  std::u16string before;
  user.toggle("chkConSP")
      .then([&](HeadlessToolkit&, Form& f) { before = f.control("cmbPos").tooltip(); })
      .choose("cmbSpChar", u"Comma ,")
      .press("CommandButton2");
  openWizard();
  EXPECT_TRUE(before.empty());
  EXPECT_EQ(control("cmbPos").tooltip(), u"Select or type position of Comma ,");
  EXPECT_EQ(control("cmbSpChar").text(), u"Comma ,");
}

TEST_F(WizardForm, CloseLeavesCellsAndUndoAlone) {
  column({u"a1", u"b2"});
  user.toggle("CheckBox1").press("CommandButton2");
  openWizard();
  EXPECT_EQ(toolkit.formState("frmTextRemover"), memory::FormState::Unloaded);
  EXPECT_EQ(textAt(1), u"a1");
  EXPECT_EQ(textAt(2), u"b2");
  EXPECT_EQ(module.undoSnapshot, nullptr);
  EXPECT_FALSE(host->undoBinding().has_value());
  EXPECT_TRUE(host->settingsLog().empty());
}

TEST_F(WizardForm, TheCloseBoxClosesAnIdleWizard) {
  user.close();
  openWizard();
  EXPECT_FALSE(wizard().loaded());
}

TEST_F(WizardForm, BackgroundAndMainFrameMoveTheWindow) {
  user.mouseDownBackground(2).keyDown("Frame1", 65).press("CommandButton2");
  openWizard();
  const std::vector<std::string> moves = {"frmTextRemover", "frmTextRemover"};
  EXPECT_EQ(toolkit.windowMoves(), moves);
}

}  // namespace
}  // namespace qmv::testing
