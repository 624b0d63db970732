// The Ribbon table: every menu command once, the removals the menu does not offer in groups
// of their own, and a press that opens the confirm dialog with the inputs of its removal.
#include "addin/ribbon_table.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "dialog/frm_prg_bar.hpp"
#include "engine/operations.hpp"
#include "support/engine_fixture.hpp"

namespace qmv {
namespace {

using testing::EngineFixture;
using RibbonTable = EngineFixture;

TEST(RibbonTableLayout, HoldsEveryMenuCommandAndEveryRemovalOffMenuOnce) {
  std::set<std::u16string_view> tags;
  for (const RibbonGroup& group : ribbonGroups()) {
    for (const RibbonControl& control : group.controls) {
      if (control.tag.empty()) continue;
      SCOPED_TRACE(std::string(control.tag.begin(), control.tag.end()));
      EXPECT_TRUE(tags.insert(control.tag).second);
      EXPECT_NE(ribbonCommand(control), nullptr);
      EXPECT_FALSE(ribbonLabel(control).empty());
    }
  }
  for (const CommandRow& row : commandTable()) EXPECT_EQ(tags.count(row.tag), 1u);
  for (const OperationRow& row : operationTable()) {
    // The menu's removals sit there by their menu tags, the others by their codes.
    const bool offMenu = row.wizardIndex < 0 && !usesStartPosition(row.operation);
    EXPECT_EQ(tags.count(row.code), offMenu ? 1u : 0u);
  }
  EXPECT_EQ(ribbonLabel(*ribbonPlacement(u"QMV1").control), u"Remove all Numeric in Selection");
}

struct PressRow {
  const char* id;
  const char* frame;  ///< the input group the dialog shows
  void (*answer)(memory::QueuedUser& user);
  std::u16string before;
  Value after;
};

TEST_F(RibbonTable, EachRemovalOffMenuRunsThroughTheDialogWithItsInputs) {
  const PressRow rows[] = {
      // The host reads a text of digits back as a number, as it reads what a user types.
      {"btnRNDG", "", [](memory::QueuedUser&) {}, u"tel. 212-555", Value(212555.0)},
      {"btnRNAN", "", [](memory::QueuedUser&) {}, u"a-b c!", text(u"abc")},
      {"btnRPSY", "", [](memory::QueuedUser&) {}, u"a+b, c", text(u"ab c")},
      {"btnRTXT", "Frame4", [](memory::QueuedUser& u) { u.type("txtText", u"ab"); }, u"xAByab",
       text(u"xy")},
      {"btnRTXT match case", "Frame4",
       [](memory::QueuedUser& u) { u.type("txtText", u"ab").toggle("chkCase"); }, u"xAByab",
       text(u"xABy")},
      {"btnRPAT", "Frame4", [](memory::QueuedUser& u) { u.type("txtText", u"-[A-Z]+$"); },
       u"AB-123-XY", text(u"AB-123")},
      {"btnRPAT any case", "Frame4",
       [](memory::QueuedUser& u) { u.type("txtText", u"x+").toggle("chkCase"); }, u"aXxb",
       text(u"ab")},
      {"btnRBTW", "Frame5",
       [](memory::QueuedUser& u) { u.type("txtOpen", u"<").type("txtClose", u">"); }, u"a<b>c</b>",
       text(u"ac")},
      {"btnRFNC", "Frame2", [](memory::QueuedUser& u) { u.type("txtNOC", u"2"); }, u"abcd",
       text(u"cd")},
      {"btnRLNC", "Frame2", [](memory::QueuedUser& u) { u.type("txtNOC", u"3"); }, u"abcd",
       text(u"a")},
      {"btnRLBR", "", [](memory::QueuedUser&) {}, u"a\r\nb", text(u"a b")},
      {"btnRACC", "", [](memory::QueuedUser&) {}, u"\u00C5ngstr\u00F6m", text(u"Angstrom")},
  };
  for (const PressRow& row : rows) {
    SCOPED_TRACE(row.id);
    host->setColumn({1, 1}, {text(row.before)});
    host->select(u"A1");
    const std::string id(row.id, std::string_view(row.id).find(' ') == std::string_view::npos
                                     ? std::string_view(row.id).size()
                                     : std::string_view(row.id).find(' '));
    const std::u16string code(id.begin() + 3, id.end());
    user.then([&](memory::HeadlessToolkit& tk, Form& shown) {
      EXPECT_EQ(tk.controlOf(shown, "lblStatus").caption(),
                operationQuestion(*operationFromCode(code)));
      for (const char* frame : {"Frame1", "Frame2", "Frame3", "Frame4", "Frame5"}) {
        EXPECT_EQ(tk.controlOf(shown, frame).visible(), std::string(frame) == row.frame) << frame;
      }
    });
    row.answer(user);
    user.press("CommandButton1");
    EXPECT_TRUE(pressRibbonButton(module, std::u16string(id.begin(), id.end())));
    EXPECT_EQ(valueAt(1, 1), row.after);
    module.prgBar.reset();
  }
}

TEST_F(RibbonTable, AnIdThatNamesNoButtonRunsNothing) {
  for (const std::u16string_view id : {u"", u"btn", u"QMV1", u"RNDG", u"btnQMV99", u"btnRDPV"}) {
    SCOPED_TRACE(std::string(id.begin(), id.end()));
    EXPECT_FALSE(pressRibbonButton(module, id));
    EXPECT_FALSE(module.prgBar && module.prgBar->loaded());
  }
}

}  // namespace
}  // namespace qmv
