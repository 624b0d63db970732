// The wizard's per-cell requests: the list entry's operation in list mode, a position cut
// in position mode, read from the form's controls for every cell.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/engine_fixture.hpp"
#include "wizard/frm_text_remover.hpp"

namespace qmv {
namespace {

class WizardRequests : public testing::EngineFixture {
 protected:
  frmTextRemover form{module};
};

TEST_F(WizardRequests, ListModeTakesTheEntrysOperation) {
  form.wizardUserChars = std::u16string(1, u'#');
  form.control("cmbAN").addItem(u"#");  // a typed entry, index 12
  const struct Row {
    const char* name;
    int index;
    Operation expected;
  } rows[] = {
      {"digits", 0, Operation::RNUM},
      {"excess spaces", 4, Operation::RLTE},
      {"non-printable", 5, Operation::RNPC},
      {"lower", 7, Operation::RLOC},
      {"a value entry reached during a run removes the typed characters", 9, Operation::RUDC},
      {"the user-defined entry", 11, Operation::RUDC},
      {"a typed entry", 12, Operation::RUDC},
      {"no entry", -1, Operation::RUDC},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // Choosing the user-defined entry prompts for the characters.
    toolkit.queueAnswer(std::u16string(1, u'#'));
    form.control("cmbAN").setListIndex(row.index);
    const CellRequest cell = form.remAN();
    EXPECT_EQ(cell.operation, row.expected);
    EXPECT_EQ(cell.inputs.userChars, row.expected == Operation::RUDC ? u"#" : u"");
  }
}

TEST_F(WizardRequests, PositionModePicksTheCutAndReadsTheBoxesAgain) {
  const struct Row {
    const char* name;
    bool before;
    bool whole;
    const char16_t* start;
    const char16_t* count;
    std::optional<Operation> expected;
    int16_t position;
  } rows[] = {
      {"before, all", true, true, u"3", u"1", Operation::RBSP, 3},
      {"after, all", false, true, u"3", u"1", Operation::RASP, 3},
      {"before, count", true, false, u"2", u"1", Operation::RNBP, 2},
      {"after, count", false, false, u"4", u"2", Operation::RNAP, 4},
      {"position 0 leaves the text", false, true, u"0", u"1", std::nullopt, 0},
      {"a count that does not convert fails even for all", false, true, u"3", u".", std::nullopt,
       0},
      {"an emptied start box runs with 1", false, true, u"", u"1", Operation::RASP, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    form.control(row.before ? "optRight" : "optLeft").setChecked(true);
    form.control("chkAllChars").setChecked(row.whole);
    form.control("txtStartPos").setText(row.start);
    form.control("txtNoOfChars").setText(row.count);
    const std::optional<CellRequest> cell = form.charRemoval(u"abcdef");
    ASSERT_EQ(cell.has_value(), row.expected.has_value());
    if (!cell) continue;
    EXPECT_EQ(cell->operation, *row.expected);
    EXPECT_EQ(cell->inputs.startPosition, row.position);
  }
  EXPECT_EQ(form.control("txtStartPos").text(), u"1") << "the emptied box shows 1";
}

}  // namespace
}  // namespace qmv
