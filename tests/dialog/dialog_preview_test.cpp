// The preview line of the confirm dialog and the wizard: figures before Yes, refreshed as
// the user changes the inputs, and nothing written until Yes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog/frm_prg_bar.hpp"
#include "support/engine_fixture.hpp"
#include "wizard/wizard_fixture.hpp"

namespace qmv::testing {
namespace {

class DialogPreview : public WizardFixture {};

struct TypedRow {
  const char* name;
  Operation operation;
  const char* box;  // the box typed into; null for none
  std::u16string typed;
  std::u16string before;  // preview when the dialog opens
  std::u16string after;   // preview after typing
};

TEST_F(DialogPreview, FollowsTheBoxesAsTheUserTypes) {
  const TypedRow rows[] = {
      {"digits, no input", Operation::RNUM, nullptr, u"",
       u"3 cells would change: \"ab1\" -> \"ab\"; \"cd22\" -> \"cd\"; \"e333\" -> \"e\"",
       u"3 cells would change: \"ab1\" -> \"ab\"; \"cd22\" -> \"cd\"; \"e333\" -> \"e\""},
      {"RBSP with X = 2", Operation::RBSP, "txtSP", u"2", u"No cell would change.",
       u"3 cells would change: \"ab1\" -> \"b1\"; \"cd22\" -> \"d22\"; \"e333\" -> \"333\""},
      {"RUDC with the characters 2 and 3", Operation::RUDC, "txtUDC", u"23",
       u"No cell would change.", u"2 cells would change: \"cd22\" -> \"cd\"; \"e333\" -> \"e\""},
      {"RADP", Operation::RADP, nullptr, u"", u"No cell would be cleared.",
       u"No cell would be cleared."},
  };
  for (const TypedRow& row : rows) {
    SCOPED_TRACE(row.name);
    column({u"ab1", u"cd22", u"e333"});
    frmPrgBar dialog(module);
    module.runOptions.operation = row.operation;
    dialog.askFor(row.operation);
    EXPECT_EQ(dialog.lblPreview.caption(), row.before);
    if (row.box != nullptr) {
      dialog.control(row.box).setText(row.typed);
      EXPECT_EQ(dialog.lblPreview.caption(), row.after);
    }
    EXPECT_EQ(textAt(1), u"ab1") << "the preview writes nothing";
    EXPECT_EQ(textAt(3), u"e333");
  }
}

TEST_F(DialogPreview, AnEmptiedNumberBoxPreviewsAsOneAndIsLeftEmpty) {
  column({u"abc"});
  frmPrgBar dialog(module);
  module.runOptions.operation = Operation::RNAP;
  dialog.askFor(Operation::RNAP);
  dialog.txtNOC.setText(u"2");
  EXPECT_EQ(dialog.lblPreview.caption(), u"1 cell would change: \"abc\" -> \"a\"");
  dialog.txtNOC.setText(u"");
  EXPECT_EQ(dialog.txtNOC.text(), u"") << "the user may type a new number";
  EXPECT_EQ(dialog.lblPreview.caption(), u"1 cell would change: \"abc\" -> \"ac\"");
}

TEST_F(DialogPreview, YesRunsWhatThePreviewShowed) {
  column({u"abc", u"xyz"});
  std::u16string shownBeforeYes;
  user.clear("txtNOC")
      .then([&](memory::HeadlessToolkit&, Form& form) {
        shownBeforeYes = form.control("lblPreview").caption();
      })
      .press("CommandButton1");
  RemoveCharsAfter(module);
  EXPECT_EQ(shownBeforeYes, u"2 cells would change: \"abc\" -> \"ac\"; \"xyz\" -> \"xz\"");
  EXPECT_EQ(textAt(1), u"ac");
  EXPECT_EQ(textAt(2), u"xz");
  EXPECT_EQ(module.prgBar->txtNOC.text(), u"1") << "Yes fills the emptied box";
  EXPECT_EQ(module.prgBar->lblPreview.caption(), shownBeforeYes)
      << "the line stays as it was when Yes was pressed";
}

TEST_F(DialogPreview, WizardShowsTheLineAboveItsRunButtonAndFollowsItsOptions) {
  column({u"12-34", u"5-6-7", u"x"});
  user.toggle("chkConSP").choose("cmbSpChar", 3).choose("cmbPos", 0);
  user.toggle("chkAllChars");
  user.press("CommandButton2");
  openWizard();
  const Geometry line = control("lblPreview").geometry;
  const Geometry run = control("CommandButton1").geometry;
  EXPECT_EQ(control("lblPreview").parent(), "Frame1");
  EXPECT_LE(line.top + line.height, run.top);
  // After (SP), all characters, from the first hyphen.
  EXPECT_EQ(control("lblPreview").caption(),
            u"2 cells would change: \"12-34\" -> \"12-\"; \"5-6-7\" -> \"5-\"");
  EXPECT_EQ(textAt(1), u"12-34");
}

TEST_F(DialogPreview, WizardPreviewsItsListAndValueEntries) {
  column({u"Ab", u"ab", u"c1"});
  std::vector<std::u16string> seen;
  const auto note = [&](memory::HeadlessToolkit&, Form& form) {
    seen.push_back(form.control("lblPreview").caption());
  };
  user.then(note).toggle("CheckBox1").then(note);
  user.choose("cmbAN", wizardIndexOf(Operation::RADP)).then(note);
  user.choose("cmbAN", wizardIndexOf(Operation::RLOC)).then(note);
  user.press("CommandButton2");
  openWizard();
  const std::vector<std::u16string> expected = {
      // Position mode, after position 1, one character.
      u"3 cells would change: \"Ab\" -> \"A\"; \"ab\" -> \"a\"; \"c1\" -> \"c\"",
      // List mode, the first entry: digits.
      u"1 cell would change: \"c1\" -> \"c\"",
      u"2 cells would be cleared: \"Ab\", \"ab\"",
      u"3 cells would change: \"Ab\" -> \"A\"; \"ab\" -> \"\"; \"c1\" -> \"1\"",
  };
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(textAt(1), u"Ab") << "Close runs nothing";
}

}  // namespace
}  // namespace qmv::testing
