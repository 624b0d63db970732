// The host's side of session scripts: setting up the workbook and checking the host.
#include "tools/qmv/host_script.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace qmv::cli {
namespace {

Command one(const std::string& line) {
  std::vector<Command> commands = parseScript(line + "\n");
  EXPECT_EQ(commands.size(), 1u);
  return commands.front();
}

TEST(HostScriptTest, SetUpCommandsChangeTheWorkbookAndOthersAreLeft) {
  memory::MemoryApplication app;
  EXPECT_FALSE(applyHostCommand(app, one("click QMV1")));
  EXPECT_FALSE(applyHostCommand(app, one("expect A1 1")));
  EXPECT_THROW(
      {
        try {
          applyHostCommand(app, one("sheet \"Data\""));
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "no workbook is open (start with workbook)");
          throw;
        }
      },
      std::runtime_error);

  EXPECT_TRUE(applyHostCommand(app, one("workbook")));
  EXPECT_TRUE(applyHostCommand(app, one("sheet \"Data\"")));
  EXPECT_EQ(app.activeSheetName(), u"Data");
  EXPECT_TRUE(applyHostCommand(app, one("column A1 \"x\" 2")));
  EXPECT_EQ(app.cell({2, 1}).value, Value(2.0));
  // The user's own sort, insertion and filter.
  EXPECT_TRUE(applyHostCommand(app, one("column B1 3 1 2")));
  EXPECT_TRUE(applyHostCommand(app, one("sort-rows A1:B3 2 descending")));
  EXPECT_EQ(app.columnValues({1, 2}, 3), (std::vector<Value>{3.0, 2.0, 1.0}));
  EXPECT_EQ(app.cell({1, 1}).value, Value(u"x"));
  EXPECT_TRUE(applyHostCommand(app, one("insert-rows 1 2")));
  EXPECT_EQ(app.cell({3, 1}).value, Value(u"x"));
  EXPECT_TRUE(applyHostCommand(app, one("autofilter A3:B5 2 \"1\"")));
  EXPECT_EQ(std::vector<bool>({app.rowHidden(3), app.rowHidden(4), app.rowHidden(5)}),
            std::vector<bool>({false, true, false}))
      << "the header row shows; of the rows below, those holding 1";
  EXPECT_TRUE(applyHostCommand(app, one("close-workbooks")));
  EXPECT_EQ(app.workbooksCount(), 0);
}

TEST(HostScriptTest, ChecksNameWhatTheyExpectedAndWhatTheHostHas) {
  memory::MemoryApplication app;
  app.addWorkbook();
  app.addAddIn(u"Vandrel QMV", true);
  app.setColumn({1, 1}, {Value(u"region"), Value(u"north"), Value(u"south")});
  app.autoFilter(u"A1:B3", 1, u"north");
  app.onKey(u"^z", u"undo_changes");
  struct Row {
    const char* line;
    bool holds;
    const char* expected;
    const char* actual;
  };
  const Row rows[] = {
      {"expect host onkey \"^z\" \"undo_changes\"", true, "", ""},
      {"expect host onkey \"^z\" none", false, "host onkey \"^z\" none", "\"undo_changes\""},
      {"expect host onundo none", true, "", ""},
      {"expect host screenupdating TRUE", true, "", ""},
      {"expect host statusbar \"Processing...!\"", false, "host statusbar \"Processing...!\"",
       "\"\""},
      {"expect bar \"Dolvanis\" absent", true, "", ""},
      {"expect bar \"Dolvanis\" present", false, "bar \"Dolvanis\" present", "absent"},
      {"expect popup \"&Vandrel QMV\" count 0", true, "", ""},
      {"expect popup \"&Vandrel QMV\" count 21", false, "popup \"&Vandrel QMV\" count 21",
       "no such popup"},
      {"expect addin \"Vandrel QMV\" installed TRUE", true, "", ""},
      {"expect row 3 hidden", true, "", ""},
      {"expect row 2 hidden", false, "row 2 hidden", "shown"},
      {"expect autofilter 1 \"north\"", true, "", ""},
      {"expect autofilter 1 \"south\"", false, "autofilter 1 \"south\"", "\"north\""},
      {"expect autofilter 2 all", true, "", ""},
      {"expect autofilter none", false, "autofilter none", "an autofilter on $A$1:$B$3"},
      {"expect addin \"Other\" installed TRUE", false, "addin \"Other\" installed TRUE",
       "no such add-in item"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const Command command = one(row.line);
    ASSERT_TRUE(isHostCheck(command.op));
    const auto mismatch = checkHost(app, command);
    EXPECT_EQ(!mismatch, row.holds);
    if (mismatch) {
      EXPECT_EQ(mismatch->expected, row.expected);
      EXPECT_EQ(mismatch->actual, row.actual);
    }
  }
  EXPECT_FALSE(isHostCheck(one("expect A1 1").op));
  EXPECT_THROW(checkHost(app, one("expect A1 1")), std::invalid_argument);
}

}  // namespace
}  // namespace qmv::cli
