// Session scripts played through the add-in's COM path: the in-memory workbook behind the
// test automation object, Orvik.Connect created through COM, its forms driven by window
// messages. The example sessions of `qmv play` pass here as they pass against the in-memory
// host, all but the one that loads a workbook file (the Windows test build has no zip or XML
// library). What the add-in opens in a browser is what the system's shell was asked to open.
//
// Given session files on its command line, the program plays only those:
//   test_com_sessions.exe ..\..\..\examples\duplicates.qmv my_session.qmv
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "com_session.hpp"
#include "dll_under_test.hpp"
#include "host/text.hpp"
#include "platform/windows/com_support.hpp"

namespace qmv::windows {
namespace {

// Session files named on the command line; none plays the compiled-in list.
std::vector<std::string>& sessionFiles() {
  static std::vector<std::string> files;
  return files;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string readScript(const std::string& relative) {
  return readFile(std::string(QMV_SOURCE_DIR) + "/" + relative);
}

// Where the pictures of the forms go: the folder named by QMV_SCREENSHOTS, if any.
std::wstring screenshotFolder() {
  wchar_t folder[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(L"QMV_SCREENSHOTS", folder, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(folder, n) : std::wstring();
}

class ComSessionsTest : public test::InstalledDllTest {};

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\n";
  return out;
}

TEST_F(ComSessionsTest, SessionsFromTheCommandLinePassThroughCom) {
  if (sessionFiles().empty()) GTEST_SKIP() << "no session files given";
  for (const std::string& file : sessionFiles()) {
    SCOPED_TRACE(file);
    const std::string script = readFile(file);
    ASSERT_FALSE(script.empty()) << "cannot read " << file;
    const test::ComSessionResult result = test::playThroughCom(script);
    EXPECT_EQ(result.error, "");
    EXPECT_TRUE(result.failures.empty()) << joined(result.failures);
    EXPECT_GT(result.checks, 0);
    EXPECT_TRUE(result.unloadable) << "a COM object of the DLL stayed alive";
  }
}

TEST_F(ComSessionsTest, SessionsPassThroughCom) {
  struct Row {
    const char* script;
    std::set<std::string> forms;  // forms the session shows
  };
  const Row rows[] = {
      {"examples/character_run.qmv", {"frmPrgBar"}},
      {"examples/connection.qmv", {"frmPrgBar"}},
      {"examples/empty_selection.qmv", {"frmPrgBar"}},
      {"examples/sheets.qmv", {"frmPrgBar"}},
      {"examples/duplicates.qmv", {"frmPrgBar"}},
      {"examples/dialog_inputs.qmv", {"frmPrgBar"}},
      {"examples/spaces_and_case.qmv", {"frmPrgBar"}},
      {"examples/stop_and_undo.qmv", {"frmPrgBar", "frmTextRemover"}},
      {"examples/wizard_list.qmv", {"frmTextRemover"}},
      {"examples/wizard_position.qmv", {"frmTextRemover"}},
      {"examples/preview.qmv", {"frmPrgBar", "frmTextRemover"}},
      {"examples/unicode_text.qmv", {"frmPrgBar", "frmTextRemover"}},
      {"examples/value_undo.qmv", {"frmPrgBar", "frmTextRemover"}},
      {"examples/undo_handback.qmv", {"frmPrgBar"}},
      {"examples/exact_undo.qmv", {"frmPrgBar"}},
      {"examples/undo_looks.qmv", {"frmPrgBar"}},
      {"examples/keep_only.qmv", {"frmPrgBar"}},
      {"examples/text_and_delimiters.qmv", {"frmPrgBar"}},
      {"examples/first_and_last.qmv", {"frmPrgBar"}},
      {"examples/line_breaks_and_accents.qmv", {"frmPrgBar"}},
      {"examples/change_case_and_repair.qmv", {"frmPrgBar"}},
      {"examples/pattern.qmv", {"frmPrgBar"}},
      {"examples/hidden_rows.qmv", {"frmPrgBar"}},
      {"examples/sort_and_insert.qmv", {"frmPrgBar"}},
      {"examples/contacts.qmv", {"frmPrgBar"}},
      {"examples/recipe_ribbon.qmv", {"frmPrgBar"}},
      {"examples/about_and_guide.qmv", {"frmUG"}},
      {"tests/platform/windows/sessions/undo.qmv", {"frmPrgBar"}},
      {"tests/platform/windows/sessions/keep_one_first_row.qmv", {"frmPrgBar"}},
      {"tests/platform/windows/sessions/about.qmv", {"frmUG"}},
      {"tests/platform/windows/sessions/formula_like_results.qmv", {"frmPrgBar"}},
      {"tests/platform/windows/sessions/paste.qmv", {"frmPrgBar"}},
  };
  test::ComSessionOptions options;
  options.screenshotFolder = screenshotFolder();
  options.baseFolder = toWide(toUtf16(std::string(QMV_SOURCE_DIR) + "/examples"));
  std::set<std::string> pictured;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.script);
    const std::string script = readScript(row.script);
    ASSERT_FALSE(script.empty());
    const test::ComSessionResult result = test::playThroughCom(script, options);
    EXPECT_EQ(result.error, "");
    EXPECT_TRUE(result.failures.empty()) << joined(result.failures);
    EXPECT_GT(result.checks, 0);
    EXPECT_TRUE(result.unloadable) << "a COM object of the DLL stayed alive";
    pictured.insert(result.screenshots.begin(), result.screenshots.end());
  }
  if (!options.screenshotFolder.empty()) {
    EXPECT_EQ(pictured, (std::set<std::string>{"frmPrgBar", "frmTextRemover", "frmUG"}));
  }
}

TEST_F(ComSessionsTest, AWrongExpectationIsReported) {
  const test::ComSessionResult result = test::playThroughCom(
      "workbook\ncolumn A1 \"a1\"\nselect A1\nconnect\nclick QMV1\n  press CommandButton1\n"
      "expect A1 \"a1\"\nexpect control frmPrgBar.lblPer caption \"99 %\"\n");
  EXPECT_EQ(result.error, "");
  ASSERT_EQ(result.failures.size(), 2u) << joined(result.failures);
  EXPECT_NE(result.failures[0].find("line 7"), std::string::npos);
  EXPECT_NE(result.failures[1].find("\"100 %\""), std::string::npos) << result.failures[1];
}

TEST_F(ComSessionsTest, FirstYieldStopsFormPressesBrowsingAndWorkbookRefusals) {
  struct Row {
    const char* name;
    const char* script;
    std::vector<std::string> failures;  // a text each failure holds, in order
    int checks;
    const char* error = "";  // a text the session's error holds; "" for none
  };
  const std::string run = "workbook\ncolumn A1 \"a1\" \"b2\" \"c3\"\nselect A1:A3\nconnect\n";
  const Row rows[] = {
      {"a stop in the first yield leaves the other cells",
       "stop-at 1\nclick QMV1\n  press CommandButton1\nexpect column A1 \"a\" \"b2\" \"c3\"\n",
       {},
       1},
      {"a stop in the first yield of a second run",
       "click QMV1\n  press CommandButton1\ncolumn A1 \"a1\" \"b2\"\nstop-at 1\nclick QMV1\n"
       "  press CommandButton1\nexpect column A1 \"a\" \"b2\"\n",
       {},
       1},
      {"a press on the form leaves it shown and usable",
       "click QMV1\n  mousedown\n  expect form frmPrgBar shown\n  press CommandButton1\n"
       "expect A3 \"c\"\n",
       {},
       2},
      {"a press on a form that does not move leaves it where it is",
       "click QMV21\n  mousedown\n  expect form frmUG shown\n  close\n",
       {},
       1},
      {"the address opened is the one checked",
       "click QMV15\nexpect browsed \"https://vandrel-qmv.example/\"\n",
       {"but was browsed \"https://vandrel-qmv.example/guide\""},
       1},
      {"a workbook file is refused, with the reason",
       "load inventory.xlsx\nexpect A1 \"Item\"\n",
       {},
       0,
       "line 5: load: only CSV files are loaded and saved through COM"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const test::ComSessionResult result = test::playThroughCom(run + row.script);
    if (*row.error == '\0') {
      EXPECT_EQ(result.error, "");
    } else {
      EXPECT_NE(result.error.find(row.error), std::string::npos) << result.error;
    }
    ASSERT_EQ(result.failures.size(), row.failures.size()) << joined(result.failures);
    for (std::size_t i = 0; i < row.failures.size(); ++i) {
      EXPECT_NE(result.failures[i].find(row.failures[i]), std::string::npos) << result.failures[i];
    }
    EXPECT_EQ(result.checks, row.checks);
  }
}

TEST_F(ComSessionsTest, ARefusedXllRegistrationLeavesUndoAndControlZUnbound) {
  // Excel refuses the command: the run works, and nothing is bound to a macro it cannot run.
  test::ComSessionOptions options;
  options.xllRegistrations = false;
  const test::ComSessionResult result = test::playThroughCom(
      "workbook\ncolumn A1 \"a1\"\nselect A1\nconnect\nclick QMV1\n  press CommandButton1\n"
      "expect A1 \"a\"\nexpect host onundo none\nexpect host onkey \"^z\" none\n",
      options);
  EXPECT_EQ(result.error, "");
  EXPECT_TRUE(result.failures.empty()) << joined(result.failures);
  EXPECT_EQ(result.checks, 3);
}

TEST_F(ComSessionsTest, ExcelUnloadingTheXllGivesControlZBack) {
  // Excel unloads the XLL on closing, before it asks to save changes; when the user
  // cancels, a Control+Z still naming the unloaded command would report a missing macro.
  test::ComSessionOptions options;
  options.unloadXllAtEnd = true;
  const test::ComSessionResult result = test::playThroughCom(
      "workbook\ncolumn A1 \"a1\"\nselect A1\nconnect\nclick QMV1\n  press CommandButton1\n"
      "expect host onkey \"^z\" none\n",
      options);
  EXPECT_EQ(result.error, "");
  EXPECT_TRUE(result.failures.empty()) << joined(result.failures);
  EXPECT_EQ(result.checks, 1);
  EXPECT_EQ(result.controlZAfterUnload, "");
}

TEST_F(ComSessionsTest, ControlZUndoesTheRunOnlyWhileItIsExcelsLastAction) {
  // Control+Z stays Excel's Undo command: right after the run it reaches the add-in's Undo
  // entry; after the user's formatting, which raises no event, or the user's edit, it
  // leaves the run alone.
  struct Row {
    const char* name;
    const char* between;  ///< the user's action between the run and Control+Z
    const char* a1;       ///< A1 after Control+Z
  };
  const Row rows[] = {
      {"right after the run", "", "\"a1\""},
      {"after formatting", "number-format C1 \"0.00\"\n", "\"a\""},
      {"after an edit", "set B1 \"typed\"\n", "\"a\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const test::ComSessionResult result = test::playThroughCom(
        std::string("workbook\ncolumn A1 \"a1\"\nselect A1\nconnect\nclick QMV1\n"
                    "  press CommandButton1\nexpect host onkey \"^z\" none\n") +
        row.between + "key ^z\nexpect A1 " + row.a1 + "\n");
    EXPECT_EQ(result.error, "");
    EXPECT_TRUE(result.failures.empty()) << joined(result.failures);
    EXPECT_EQ(result.checks, 2);
  }
}

}  // namespace
}  // namespace qmv::windows

int main(int argc, char** argv) {
  // Started by the shell for an address the add-in opened during a session.
  if (qmv::windows::test::recordBrowsedAddress()) return 0;
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) qmv::windows::sessionFiles().emplace_back(argv[i]);
  if (!qmv::windows::sessionFiles().empty()) {
    GTEST_FLAG_SET(filter, "ComSessionsTest.SessionsFromTheCommandLinePassThroughCom");
  }
  return RUN_ALL_TESTS();
}
