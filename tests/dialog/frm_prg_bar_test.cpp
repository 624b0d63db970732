// The confirm-and-progress dialog and the entry points that open it, driven through the
// headless toolkit.
#include "dialog/frm_prg_bar.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addin/entry_points.hpp"
#include "engine/operations.hpp"
#include "engine/undo.hpp"
#include "support/engine_fixture.hpp"

namespace qmv {
namespace {

using testing::EngineFixture;
using PrgBarDialog = EngineFixture;

/// True when the control and every frame around it are visible.
bool shown(const Form& form, std::string_view name) {
  const Control* c = &form.control(name);
  while (c) {
    if (!c->visible()) return false;
    c = c->parent().empty() ? nullptr : &form.control(c->parent());
  }
  return true;
}

struct DesignRow {
  const char* name;
  ControlKind kind;
  std::u16string caption;
  std::u16string text;
  bool visible;
  Geometry geometry;
  std::string parent;
};

TEST_F(PrgBarDialog, DialogStartsInItsDesignerState) {
  frmPrgBar dialog(module);
  EXPECT_EQ(dialog.name(), "frmPrgBar");
  EXPECT_EQ(dialog.caption(), u"Progress");
  EXPECT_EQ(dialog.stopControl, "CommandButton3");
  const DesignRow rows[] = {
      {"lblStatus", ControlKind::Label, u"#", u"", true, {8, 8, 261, 32}, ""},
      {"Frame3", ControlKind::Frame, u"", u"", false, {26, 38, 223, 26}, ""},
      {"Label9", ControlKind::Label, u"Enter Characters", u"", true, {4, 3, 0, 0}, "Frame3"},
      {"txtUDC", ControlKind::TextBox, u"", u"@#$%,\"", true, {79, 3, 135, 16}, "Frame3"},
      {"Frame1", ControlKind::Frame, u"", u"", false, {28, 40, 99, 23}, ""},
      {"Label5", ControlKind::Label, u"Start Position", u"", true, {4, 3, 0, 0}, "Frame1"},
      {"txtSP", ControlKind::TextBox, u"", u"1", true, {56, 3, 37, 16}, "Frame1"},
      {"Frame2", ControlKind::Frame, u"", u"", false, {127, 40, 120, 23}, ""},
      {"Label8", ControlKind::Label, u"No. of Characters", u"", true, {2, 4, 0, 0}, "Frame2"},
      {"txtNOC", ControlKind::TextBox, u"", u"1", true, {68, 4, 45, 16}, "Frame2"},
      {"Label4", ControlKind::Label, u"", u"", true, {26, 66, 192, 15}, ""},
      {"ProgressBar1", ControlKind::ProgressBar, u"", u"", true, {28, 67, 188, 11}, ""},
      {"lblPer", ControlKind::Label, u"0%", u"", true, {218, 66, 30, 15}, ""},
      {"CommandButton1", ControlKind::CommandButton, u"Yes", u"", true, {83, 92, 57, 20}, ""},
      {"CommandButton2", ControlKind::CommandButton, u"No!", u"", true, {138, 92, 56, 20}, ""},
      {"CommandButton3", ControlKind::CommandButton, u"Stop", u"", false, {80, 89, 117, 24}, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Control& c = dialog.control(row.name);
    EXPECT_EQ(c.kind(), row.kind);
    EXPECT_EQ(c.caption(), row.caption);
    EXPECT_EQ(c.text(), row.text);
    EXPECT_EQ(c.visible(), row.visible);
    EXPECT_EQ(c.parent(), row.parent);
    EXPECT_EQ(c.geometry.left, row.geometry.left);
    EXPECT_EQ(c.geometry.top, row.geometry.top);
    if (row.geometry.width > 0) {
      EXPECT_EQ(c.geometry.width, row.geometry.width);
      EXPECT_EQ(c.geometry.height, row.geometry.height);
    }
    EXPECT_EQ(c.fontName, u"Tahoma");
  }
  EXPECT_EQ(dialog.ProgressBar1.max(), 100.0f);
  EXPECT_TRUE(dialog.lblStatus.wordWrap);
  EXPECT_TRUE(dialog.CommandButton1.backColor.has_value());
  EXPECT_TRUE(dialog.lblPer.backColor.has_value());
  EXPECT_TRUE(dialog.txtUDC.backColor.has_value());
}

struct GroupRow {
  const char* name;
  void (*command)(AddinModule&);
  std::u16string code;
  bool startBox;
  bool countBox;
  bool charsBox;
};

TEST_F(PrgBarDialog, EachEntryPointAsksItsQuestionAndShowsItsInputs) {
  const GroupRow rows[] = {
      {"RNUM", RemoveNumbers, u"RNUM", false, false, false},
      {"RALP", RemoveAlphas, u"RALP", false, false, false},
      {"RNPC", RemoveNonPrintable, u"RNPC", false, false, false},
      {"RUDC", RemoveUserChars, u"RUDC", false, false, true},
      {"RALS", RemoveAllSpaces, u"RALS", false, false, false},
      {"RLTS", RemoveLeadTrailSpaces, u"RLTS", false, false, false},
      {"RLTE", RemoveExcessSpaces, u"RLTE", false, false, false},
      {"RBSP", RemoveTextBefore, u"RBSP", true, false, false},
      {"RASP", RemoveTextAfter, u"RASP", true, false, false},
      {"RNBP", RemoveCharsBefore, u"RNBP", true, true, false},
      {"RNAP", RemoveCharsAfter, u"RNAP", true, true, false},
      {"RUPC", RemoveUpper, u"RUPC", false, false, false},
      {"RLOC", RemoveLower, u"RLOC", false, false, false},
      {"RDPV", RemoveDuplicatesKeepOne, u"RDPV", false, false, false},
      {"RADP", RemoveAllDuplicates, u"RADP", false, false, false},
      {"RUDP", RemoveUniqueValues, u"RUDP", false, false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    bool checked = false;
    user.then([&](memory::HeadlessToolkit&, Form& form) {
      checked = true;
      EXPECT_EQ(form.name(), "frmPrgBar");
      EXPECT_EQ(testing::chosenCode(module), row.code);
      EXPECT_EQ(form.control("lblStatus").caption(),
                operationQuestion(*operationFromCode(row.code)));
      EXPECT_EQ(shown(form, "txtSP"), row.startBox);
      EXPECT_EQ(shown(form, "txtNOC"), row.countBox);
      EXPECT_EQ(shown(form, "txtUDC"), row.charsBox);
      EXPECT_EQ(shown(form, "Label8"), row.countBox);
      if (row.startBox) {
        EXPECT_EQ(form.control("txtSP").text(), u"1");
      }
      if (row.countBox) {
        EXPECT_EQ(form.control("txtNOC").text(), u"1");
      }
      EXPECT_TRUE(shown(form, "CommandButton1"));
      EXPECT_TRUE(shown(form, "CommandButton2"));
      EXPECT_FALSE(shown(form, "CommandButton3"));
      EXPECT_TRUE(shown(form, "ProgressBar1"));
    });
    user.press("CommandButton2");
    row.command(module);
    EXPECT_TRUE(checked);
    EXPECT_FALSE(module.prgBar->loaded());
  }
}

TEST_F(PrgBarDialog, NoChangesNothingAndKeepsTheCode) {
  host->setColumn({1, 1}, {text(u"a1")});
  host->select(u"A1");
  user.press("CommandButton2");
  RemoveNumbers(module);
  EXPECT_EQ(valueAt(1, 1), text(u"a1"));
  EXPECT_EQ(testing::chosenCode(module), u"RNUM");
  EXPECT_TRUE(host->settingsLog().empty()) << "no engine ran";
  EXPECT_FALSE(module.undoSnapshot);
  EXPECT_FALSE(host->undoBinding().has_value());
  EXPECT_TRUE(toolkit.messages().empty());
}

TEST_F(PrgBarDialog, TheDialogOpensInItsDesignerStateForEveryCommand) {
  host->setColumn({1, 1}, {text(u"ABCDEF")});
  host->select(u"A1");
  user.clear("txtSP").type("txtSP", u"3").press("CommandButton1");
  RemoveTextAfter(module);
  EXPECT_EQ(valueAt(1, 1), text(u"ABC"));
  std::u16string seen;
  user.then([&](memory::HeadlessToolkit&, Form& form) { seen = form.control("txtSP").text(); })
      .press("CommandButton2");
  RemoveTextAfter(module);
  EXPECT_EQ(seen, u"1");
}

TEST_F(PrgBarDialog, YesShowsStopAndTheRemovingNotice) {
  host->setColumn({1, 1}, {text(u"a1"), text(u"b2")});
  host->select(u"A1:A2");
  bool checked = false;
  toolkit.scheduleDuringYield(1, [&](memory::HeadlessToolkit& t) {
    checked = true;
    Form& form = *t.topForm();
    EXPECT_FALSE(form.control("CommandButton1").visible());
    EXPECT_FALSE(form.control("CommandButton2").visible());
    EXPECT_TRUE(form.control("CommandButton3").visible());
    EXPECT_EQ(form.control("lblStatus").caption(),
              u"Removing....!\r\nPress Stop to cancel the Process.");
    EXPECT_EQ(form.control("ProgressBar1").max(), 2.0f);
  });
  user.press("CommandButton1");
  RemoveNumbers(module);
  EXPECT_TRUE(checked);
}

TEST_F(PrgBarDialog, TheNumberBoxesTakeDigitsPointBackspaceAndEnterOnly) {
  struct KeyRow {
    const char* name;
    std::u16string keys;
    std::u16string expected;
  };
  const KeyRow rows[] = {
      {"a letter inserts nothing", u"a", u"1"},      {"a minus inserts nothing", u"-", u"1"},
      {"digit, point and backspace", u"3.\b", u"3"}, {"digits and point", u"12.5", u"12.5"},
      {"enter inserts nothing", u"7\r", u"7"},       {"a space inserts nothing", u" ", u"1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (const char* box : {"txtSP", "txtNOC"}) {
      SCOPED_TRACE(box);
      std::u16string seen;
      user.type(box, row.keys)
          .then([&, box](memory::HeadlessToolkit&, Form& form) { seen = form.control(box).text(); })
          .press("CommandButton2");
      RemoveCharsAfter(module);
      EXPECT_EQ(seen, row.expected);
    }
  }
}

TEST(NumberBoxKeyFilter, PassesOnlyItsKeys) {
  for (int key = 0; key < 256; ++key) {
    SCOPED_TRACE(key);
    int k = key;
    numberBoxKeyFilter(k);
    const bool passes = (key >= '0' && key <= '9') || key == '.' || key == 8 || key == 13;
    EXPECT_EQ(k, passes ? key : 0);
  }
}

TEST_F(PrgBarDialog, TheFirstClickIntoTheCharactersBoxClearsTheSample) {
  std::u16string afterFirst;
  std::u16string afterSecond;
  user.mouseDown("txtUDC")
      .then(
          [&](memory::HeadlessToolkit&, Form& form) { afterFirst = form.control("txtUDC").text(); })
      .type("txtUDC", u"-/")
      .mouseDown("txtUDC")
      .then([&](memory::HeadlessToolkit&, Form& form) {
        afterSecond = form.control("txtUDC").text();
      })
      .press("CommandButton2");
  RemoveUserChars(module);
  EXPECT_EQ(afterFirst, u"");
  EXPECT_EQ(afterSecond, u"-/");
}

TEST_F(PrgBarDialog, OwnTextStartingWithTheSampleIsClearedToo) {
  std::u16string seen;
  user.mouseDown("txtUDC")
      .type("txtUDC", u"@#$%x")
      .mouseDown("txtUDC")
      .then([&](memory::HeadlessToolkit&, Form& form) { seen = form.control("txtUDC").text(); })
      .press("CommandButton2");
  RemoveUserChars(module);
  EXPECT_EQ(seen, u"");
}

TEST_F(PrgBarDialog, UserCharactersRunRemovesTypedCharacters) {
  host->setColumn({1, 1}, {text(u"2007-01/02"), text(u"a@b")});
  host->select(u"A1:A2");
  user.mouseDown("txtUDC").type("txtUDC", u"-/").press("CommandButton1");
  RemoveUserChars(module);
  EXPECT_EQ(valueAt(1, 1), testing::number(20070102));
  EXPECT_EQ(valueAt(2, 1), text(u"a@b"));
}

TEST_F(PrgBarDialog, ReachingTheCharactersBoxByKeyKeepsTheSample) {
  host->setColumn({1, 1}, {text(u"a@b#c$d%e,f\"g")});
  host->select(u"A1");
  constexpr int kTab = 9;
  user.keyDown("txtUDC", kTab).press("CommandButton1");
  RemoveUserChars(module);
  EXPECT_EQ(valueAt(1, 1), text(u"abcdefg"));
}

TEST_F(PrgBarDialog, AnEmptyCharactersBoxLeavesTheTextUnchanged) {
  host->setColumn({1, 1}, {text(u"2007-01/02")});
  host->select(u"A1");
  user.mouseDown("txtUDC").press("CommandButton1");
  RemoveUserChars(module);
  EXPECT_EQ(valueAt(1, 1), text(u"2007-01/02"));
}

TEST_F(PrgBarDialog, TheBackgroundMovesTheDialog) {
  user.mouseDownBackground().mouseDownBackground(2).press("CommandButton2");
  RemoveNumbers(module);
  EXPECT_EQ(toolkit.windowMoves(), (std::vector<std::string>{"frmPrgBar", "frmPrgBar"}));
}

TEST_F(PrgBarDialog, StopOnlySetsTheFlag) {
  frmPrgBar dialog(module);
  module.runOptions.stopRequested = false;
  dialog.CommandButton3_Click();
  EXPECT_TRUE(module.runOptions.stopRequested);
  EXPECT_TRUE(dialog.loaded());
}

TEST_F(PrgBarDialog, YesWithoutACommandClosesTheDialog) {
  frmPrgBar dialog(module);
  module.runOptions.operation.reset();
  dialog.CommandButton1_Click();
  EXPECT_FALSE(dialog.loaded());
  EXPECT_TRUE(host->settingsLog().empty());
}

}  // namespace
}  // namespace qmv

namespace qmv {
namespace {

struct ValueRow {
  const char* name;
  void (*command)(AddinModule&);
  std::vector<Value> after;
};

TEST_F(PrgBarDialog, YesHandsTheValueCodesToTheDuplicateEngine) {
  const Value a = text(u"a");
  const Value b = text(u"b");
  const ValueRow rows[] = {
      {"RDPV keeps the first", RemoveDuplicatesKeepOne, {a, b, Value{}}},
      {"RADP clears every repeated value", RemoveAllDuplicates, {Value{}, b, Value{}}},
      {"RUDP clears every single value", RemoveUniqueValues, {a, Value{}, a}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    host->setColumn({1, 1}, {a, b, a});
    host->select(u"A1:A3");
    user.press("CommandButton1");
    row.command(module);
    EXPECT_EQ(host->columnValues({1, 1}, 3), row.after);
    EXPECT_FALSE(module.prgBar->loaded());
    ASSERT_TRUE(module.undoSnapshot) << "value removals record what they clear";
    UndoLastRun(module);
    EXPECT_EQ(host->columnValues({1, 1}, 3), (std::vector<Value>{a, b, a})) << "undone";
  }
}

}  // namespace
}  // namespace qmv
