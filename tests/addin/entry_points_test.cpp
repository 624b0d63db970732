// The entry points' exact questions and input groups, and the dialog's box rules, checked
// against texts and states written out here rather than taken from the add-in's tables.
#include "addin/entry_points.hpp"

#include <gtest/gtest.h>

#include <string>

#include "dialog/frm_prg_bar.hpp"
#include "support/engine_fixture.hpp"

namespace qmv {
namespace {

using testing::EngineFixture;
using EntryPoints = EngineFixture;

struct QuestionRow {
  const char* name;
  void (*command)(AddinModule&);
  std::u16string question;  ///< empty: the wording is free
};

TEST_F(EntryPoints, EachAsksItsExactQuestion) {
  const QuestionRow rows[] = {
      {"RNUM", RemoveNumbers, u"Do You want to remove all Numeric (Numbers) in Selection?"},
      {"RALP", RemoveAlphas, u"Do You want to remove Text Characters (Alphabets) in Selection?"},
      {"RNPC", RemoveNonPrintable,
       u"Do You want to remove all Non Printable Characters (Tab, Return Carriage etc.) in "
       u"Selection?"},
      {"RUDC", RemoveUserChars, u""},
      {"RALS", RemoveAllSpaces, u"Do You want to remove all Spaces in Selection?"},
      {"RLTS", RemoveLeadTrailSpaces,
       u"Do You want to remove all Leading and Trailing Spaces in Selection?"},
      {"RLTE", RemoveExcessSpaces,
       u"Do You want to remove all Leading, Trailing and Excessive Spaces in Selection?"},
      {"RBSP", RemoveTextBefore,
       u"Do You want to remove all Text before Start Position in Selection?"},
      {"RASP", RemoveTextAfter,
       u"Do You want to remove all Text after Start Position in Selection?"},
      {"RNBP", RemoveCharsBefore,
       u"Do You want to remove No. of Characters before Start Position in Selection?"},
      {"RNAP", RemoveCharsAfter,
       u"Do You want to remove No. of Characters after Start Position in Selection?"},
      {"RUPC", RemoveUpper, u"Do You want to remove all 'UPPER' charcters in Selection?"},
      {"RLOC", RemoveLower, u"Do You want to remove all 'lower' charcters in Selection?"},
      {"RDPV", RemoveDuplicatesKeepOne,
       u"Do You want to remove 'Duplicate' Value (Keep First Value) in Selection?"},
      {"RADP", RemoveAllDuplicates, u"Do You want to remove All 'Duplicate' Values in Selection?"},
      {"RUDP", RemoveUniqueValues, u"Do You want to remove All 'Unique' Values in Selection?"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::u16string asked;
    user.then([&](memory::HeadlessToolkit& tk, Form& shown) {
          asked = tk.controlOf(shown, "lblStatus").caption();
        })
        .press("CommandButton2");
    row.command(module);
    EXPECT_EQ(testing::chosenCode(module), std::u16string(row.name, row.name + 4));
    if (row.question.empty()) {
      // Free wording, but it asks about the user's characters in the selection.
      EXPECT_NE(asked.find(u"User Defined Characters"), std::u16string::npos) << "RUDC";
      EXPECT_TRUE(asked.starts_with(u"Do You want to remove"));
      EXPECT_TRUE(asked.ends_with(u"in Selection?"));
    } else {
      EXPECT_EQ(asked, row.question);
    }
  }
}

struct GroupState {
  const char* name;
  void (*command)(AddinModule&);
  bool frame1;
  bool frame2;
  bool frame3;
  bool txtUDC;
  bool label9;
};

// The Visible property of each group as the entry point leaves it (not what shows through
// the frames): the entry points set these and nothing else.
TEST_F(EntryPoints, SetTheVisibleFlagsOfTheirInputGroupsExactly) {
  const GroupState rows[] = {
      {"RNUM", RemoveNumbers, false, false, false, true, true},
      {"RALP", RemoveAlphas, false, false, false, true, true},
      {"RNPC", RemoveNonPrintable, false, false, false, true, true},
      {"RUDC", RemoveUserChars, false, false, true, true, true},
      {"RALS", RemoveAllSpaces, false, false, false, true, true},
      {"RLTS", RemoveLeadTrailSpaces, false, false, false, true, true},
      {"RLTE", RemoveExcessSpaces, false, false, false, true, true},
      {"RBSP", RemoveTextBefore, true, false, true, false, true},
      {"RASP", RemoveTextAfter, true, false, true, false, true},
      {"RNBP", RemoveCharsBefore, true, true, true, false, false},
      {"RNAP", RemoveCharsAfter, true, true, true, false, false},
      {"RUPC", RemoveUpper, false, false, false, true, true},
      {"RLOC", RemoveLower, false, false, false, true, true},
      {"RDPV", RemoveDuplicatesKeepOne, false, false, false, true, true},
      {"RADP", RemoveAllDuplicates, false, false, false, true, true},
      {"RUDP", RemoveUniqueValues, false, false, false, true, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    bool seen = false;
    user.then([&](memory::HeadlessToolkit& tk, Form& shown) {
          seen = true;
          EXPECT_EQ(tk.controlOf(shown, "Frame1").visible(), row.frame1);
          EXPECT_EQ(tk.controlOf(shown, "Frame2").visible(), row.frame2);
          EXPECT_EQ(tk.controlOf(shown, "Frame3").visible(), row.frame3);
          EXPECT_EQ(tk.controlOf(shown, "txtUDC").visible(), row.txtUDC);
          EXPECT_EQ(tk.controlOf(shown, "Label9").visible(), row.label9);
          for (const char* untouched : {"Label5", "txtSP", "Label8", "txtNOC", "lblStatus",
                                        "Label4", "ProgressBar1", "lblPer"}) {
            EXPECT_TRUE(tk.controlOf(shown, untouched).visible()) << untouched;
          }
          EXPECT_EQ(tk.controlOf(shown, "lblPer").caption(), u"0%");
          EXPECT_EQ(tk.controlOf(shown, "txtUDC").text(), u"@#$%,\"");
        })
        .press("CommandButton2");
    row.command(module);
    EXPECT_TRUE(seen);
  }
}

struct EmptyBoxRow {
  const char* name;
  void (*command)(AddinModule&);
};

// Yes fills an empty start-position box and an empty count box with 1, whatever the
// operation, even where the boxes are not shown.
TEST_F(EntryPoints, YesFillsBothEmptyNumberBoxesWhateverTheOperation) {
  const EmptyBoxRow rows[] = {{"RNUM", RemoveNumbers},
                              {"RBSP", RemoveTextBefore},
                              {"RNAP", RemoveCharsAfter},
                              {"RDPV", RemoveDuplicatesKeepOne}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    host->setColumn({1, 1}, {text(u"ab1"), text(u"cd2")});
    host->select(u"A1:A2");
    user.then([](memory::HeadlessToolkit& tk, Form& shown) {
          tk.controlOf(shown, "txtSP").setText(u"");
          tk.controlOf(shown, "txtNOC").setText(u"");
        })
        .press("CommandButton1");
    row.command(module);
    ASSERT_TRUE(module.prgBar);
    EXPECT_EQ(module.prgBar->txtSP.text(), u"1");
    EXPECT_EQ(module.prgBar->txtNOC.text(), u"1");
    EXPECT_FALSE(module.prgBar->loaded());
  }
}

TEST_F(EntryPoints, AnEmptiedCountBoxRunsWithOne) {
  host->setColumn({1, 1}, {text(u"ABCDEFG")});
  host->select(u"A1");
  user.clear("txtSP").type("txtSP", u"4").clear("txtNOC").press("CommandButton1");
  RemoveCharsAfter(module);
  EXPECT_EQ(module.prgBar->txtNOC.text(), u"1");
  EXPECT_EQ(valueAt(1, 1), text(u"ABCDFG"));
}

struct SampleRow {
  const char* name;
  std::u16string typed;  ///< typed after the first click cleared the sample
  int button;
  std::u16string after;  ///< the box after a further mouse press
};

// The box is cleared when its first four characters are "@#$%", by any mouse button.
TEST_F(EntryPoints, APressIntoTheCharactersBoxClearsOnlyTextBeginningWithTheSample) {
  const SampleRow rows[] = {
      {"exactly the four", u"@#$%", 1, u""},
      {"the four and more", u"@#$%-", 1, u""},
      {"right button", u"@#$%", 2, u""},
      {"three of the four", u"@#$", 1, u"@#$"},
      {"the four later on", u"x@#$%", 1, u"x@#$%"},
      {"another order", u"#@$%", 1, u"#@$%"},
      {"own characters", u"-/", 2, u"-/"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::u16string after;
    user.mouseDown("txtUDC", row.button)
        .type("txtUDC", row.typed)
        .mouseDown("txtUDC", row.button)
        .then([&](memory::HeadlessToolkit& tk, Form& shown) {
          after = tk.controlOf(shown, "txtUDC").text();
        })
        .press("CommandButton2");
    RemoveUserChars(module);
    EXPECT_EQ(after, row.after);
  }
}

TEST_F(EntryPoints, TheSampleIsClearedByAnyMouseButton) {
  std::u16string after;
  user.mouseDown("txtUDC", 2)
      .then([&](memory::HeadlessToolkit& tk, Form& shown) {
        after = tk.controlOf(shown, "txtUDC").text();
      })
      .press("CommandButton2");
  RemoveUserChars(module);
  EXPECT_EQ(after, u"");
}

}  // namespace
}  // namespace qmv
