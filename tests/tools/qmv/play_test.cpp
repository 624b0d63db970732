// `qmv play`: the transcript, expectations that fail and go on, and script errors that
// stop a session with their line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/qmv/player.hpp"

namespace qmv::cli {
namespace {

struct Played {
  int status = 0;
  std::string transcript;
  std::string err;
};

Played play(const std::string& script, const std::string& folder = {}) {
  std::ostringstream out;
  std::ostringstream err;
  PlayStreams streams{out, err};
  PlayOptions options;
  options.scriptName = "test.qmv";
  options.baseFolder = folder;
  Played played;
  played.status = playScript(script, options, streams);
  played.transcript = out.str();
  played.err = err.str();
  return played;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

const char* const kDigitsRun =
    "workbook\n"
    "column A1 \"ab12\" \"x9\"\n"
    "select A1:A2\n"
    "connect\n"
    "click QMV1\n"
    "  expect form frmPrgBar shown\n"
    "  press CommandButton1\n";

TEST(PlayTest, ASessionWhoseExpectationsHoldEndsWithZero) {
  const Played played = play(std::string(kDigitsRun) +
                             "expect column A1 \"ab\" \"x\"\n"
                             "expect form frmPrgBar unloaded\n"
                             "expect host onkey \"^z\" none\n"
                             "expect no-message\n");
  EXPECT_EQ(played.status, 0) << played.transcript << played.err;
  EXPECT_EQ(played.transcript, "form shown: frmPrgBar\nform unloaded: frmPrgBar\n");
  EXPECT_EQ(played.err, "");
}

TEST(PlayTest, FailedExpectationsArePrintedWithTheirLinesAndTheScriptGoesOn) {
  const Played played = play(std::string(kDigitsRun) +
                             "expect A1 \"ab12\"\n"       // line 8
                             "expect A2 \"x\"\n"          // holds
                             "expect A2 7\n"              // line 10: text is not a number
                             "expect message \"Done\"\n"  // line 11
                             "set A3 \"after\"\n"
                             "expect A3 \"after\"\n");
  EXPECT_EQ(played.status, 1);
  EXPECT_TRUE(contains(played.transcript, "line 8: expected A1 \"ab12\" but was \"ab\"\n"));
  EXPECT_TRUE(contains(played.transcript, "line 10: expected A2 7 but was \"x\"\n"));
  EXPECT_TRUE(
      contains(played.transcript, "line 11: expected message \"Done\" but was no message\n"));
  EXPECT_FALSE(contains(played.transcript, "line 9:"));
  EXPECT_FALSE(contains(played.transcript, "line 13:"));
  EXPECT_EQ(played.err, "qmv play: test.qmv: 3 of 6 expectations failed\n");
}

TEST(PlayTest, AnExpectationCountsOnceHoweverManyOfItsCellsDiffer) {
  struct Row {
    const char* name;
    std::string checks;
    std::string err;
  };
  const std::vector<Row> rows = {
      {"a column that differs in two cells", "expect column A1 \"ab12\" \"x9\"\n",
       "1 of 2 expectations failed"},
      {"that column and one that holds",
       "expect column A1 \"ab12\" \"x9\"\nexpect column A1 \"ab\" \"x\"\n",
       "1 of 3 expectations failed"},
      {"two columns that differ",
       "expect column A1 \"ab12\" \"x9\"\nexpect column A1 \"a\" \"x\"\n",
       "2 of 3 expectations failed"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Played played = play(std::string(kDigitsRun) + row.checks);
    EXPECT_EQ(played.status, 1);
    EXPECT_EQ(played.err, "qmv play: test.qmv: " + row.err + "\n");
  }
}

struct ErrorRow {
  const char* name;
  std::string script;
  std::string message;
};

TEST(PlayTest, ScriptErrorsStopWithTheirLineAndStatusTwo) {
  const std::vector<ErrorRow> rows = {
      {"ends while a form is shown", "workbook\nconnect\nclick QMV1\n",
       "line 3: the script ended while the form frmPrgBar was shown"},
      {"ends while the wizard from the toolbar is shown", "workbook\nconnect\nclick Text_Remover\n",
       "line 3: the script ended while the form frmTextRemover was shown"},
      {"ends after expectations inside a form",
       "workbook\nconnect\nclick QMV1\n  expect form frmPrgBar shown\n",
       "line 3: the script ended while the form frmPrgBar was shown"},
      {"host command while a form is shown", "workbook\nconnect\nclick QMV1\n  set A1 1\n",
       "line 4: set cannot run while the form frmPrgBar is shown"},
      {"a form action without a form", "workbook\npress CommandButton1\n",
       "line 2: press: no form is shown"},
      {"a control the form does not have", "workbook\nconnect\nclick QMV1\n  press Nope\n",
       "line 4: press: the form frmPrgBar has no control Nope"},
      {"a hidden control", "workbook\nconnect\nclick QMV1\n  type txtSP \"2\"\n",
       "line 4: type: frmPrgBar.txtSP is hidden"},
      {"an unknown tag", "workbook\nconnect\nclick QMV99\n",
       "line 3: click: no command-bar button has the tag QMV99"},
      {"before connecting", "workbook\nclick QMV1\n",
       "line 2: click: no command-bar button has the tag QMV1"},
      {"an unknown Ribbon button", "workbook\nconnect\nribbon btnQMV99\n",
       "line 3: ribbon: no Ribbon button has the id btnQMV99"},
      {"the Ribbon before connecting", "workbook\nribbon btnRNDG\n",
       "line 2: ribbon: the add-in is not connected"},
      {"no workbook", "set A1 1\n", "line 1: set: no workbook is open"},
      {"an unknown form", "expect form frmOther shown\n",
       "line 1: expect form: there is no form frmOther"},
      {"an unknown control of a form",
       "workbook\nconnect\nclick QMV1\n  press CommandButton2\nexpect control frmPrgBar.Nope text "
       "\"\"\n",
       "line 5: expect control: the form frmPrgBar has no control Nope"},
      {"syntax is checked before anything runs", "workbook\nconnect\nbogus\n",
       "line 3: unknown command bogus"},
      {"a missing file", "load nothing-here.csv\n", "line 1: load: cannot read nothing-here.csv"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Played played = play(row.script);
    EXPECT_EQ(played.status, 2) << played.transcript;
    EXPECT_EQ(played.err.rfind("qmv play: test.qmv: " + row.message, 0), 0u) << played.err;
    EXPECT_EQ(std::count(played.err.begin(), played.err.end(), '\n'), 1) << played.err;
    EXPECT_FALSE(contains(played.transcript, "host error")) << played.transcript;
  }
}

TEST(PlayTest, NothingRunsAfterAScriptError) {
  const Played played = play(
      "workbook\nconnect\nclick QMV1\n  type txtSP \"1\"\n  press CommandButton1\nexpect A1 "
      "\"x\"\n");
  EXPECT_EQ(played.status, 2);
  // The refused action ends the session: no expectation after it is checked.
  EXPECT_FALSE(contains(played.transcript, "expected"));
  EXPECT_TRUE(contains(played.transcript, "form unloaded: frmPrgBar"));
}

TEST(PlayTest, TheTranscriptShowsMessagesInputBoxesAndStops) {
  const Played played = play(
      "workbook\n"
      "column A1 \"a1\" \"b2\" \"c3\"\n"
      "select A1:A3\n"
      "connect\n"
      "click QMV16\n"
      "stop-at 2\n"
      "click QMV1\n"
      "  press CommandButton1\n"
      "expect column A1 \"a\" \"b\" \"c3\"\n"
      "answer \"#\"\n"
      "click Text_Remover\n"
      "  toggle CheckBox1\n"
      "  choose cmbAN 11\n"
      "  close\n"
      "print A1:A2\n");
  EXPECT_EQ(played.status, 0) << played.transcript << played.err;
  EXPECT_EQ(played.transcript,
            "message: Nothing to Undo!\n"
            "form shown: frmPrgBar\n"
            "stop: frmPrgBar.CommandButton3 pressed during yield 2\n"
            "form unloaded: frmPrgBar\n"
            "form shown: frmTextRemover\n"
            "input: Enter Character(s):  [Input] -> \"#\"\n"
            "form unloaded: frmTextRemover\n"
            "A1: \"a\"\n"
            "A2: \"b\"\n");
}

TEST(PlayTest, ChecksControlsFormsHostAndBars) {
  const Played played = play(
      "workbook\n"
      "addin-item \"Vandrel QMV\"\n"
      "expect bar \"Dolvanis\" absent\n"
      "connect\n"
      "expect bar \"Dolvanis\" present\n"
      "expect popup \"&Vandrel QMV\" count 21\n"
      "expect addin \"Vandrel QMV\" installed TRUE\n"
      "click QMV8\n"
      "  expect control frmPrgBar.txtSP text \"1\"\n"
      "  expect control frmPrgBar.Frame1 visible TRUE\n"
      "  expect control frmPrgBar.ProgressBar1 max 100\n"
      "  expect control frmPrgBar.ProgressBar1 value 0\n"
      "  expect control frmPrgBar.txtSP value \"1\"\n"
      "  expect form frmPrgBar shown\n"
      "  expect form frmPrgBar loaded\n"
      "  expect host screenupdating TRUE\n"
      "  press CommandButton2\n"
      "expect form frmPrgBar unloaded\n"
      "click Text_Remover\n"
      "  expect control frmTextRemover.cmbPos listcount 5\n"
      "  expect control frmTextRemover.cmbPos list 4 \"Last\"\n"
      "  expect control frmTextRemover.cmbPos list 9 \"Last\"\n"  // line 22: no such entry
      "  expect control frmTextRemover.optLeft value TRUE\n"
      "  expect control frmTextRemover.cmbAN listindex 0\n"
      "  close\n"
      "click QMV17\n"
      "expect addin \"Vandrel QMV\" installed FALSE\n"
      "expect addin \"Other\" installed FALSE\n"  // line 28: no such item
      "disconnect\n"
      "expect popup \"&Vandrel QMV\" count 21\n");  // line 30
  EXPECT_EQ(played.status, 1) << played.err;
  EXPECT_TRUE(contains(played.transcript,
                       "line 22: expected frmTextRemover.cmbPos list 9 \"Last\" but was no such "
                       "entry\n"))
      << played.transcript;
  EXPECT_TRUE(contains(played.transcript,
                       "line 28: expected addin \"Other\" installed FALSE but was no such add-in "
                       "item\n"));
  EXPECT_TRUE(
      contains(played.transcript,
               "line 30: expected popup \"&Vandrel QMV\" count 21 but was no such popup\n"));
  EXPECT_EQ(played.err, "qmv play: test.qmv: 3 of 21 expectations failed\n");
}

TEST(PlayTest, LoadsAndSavesFilesBesideTheScript) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("qmv_play_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  std::ofstream(folder / "in.csv", std::ios::binary) << "name,code\nab,'007\n";
  const Played played = play(
      "load in.csv\n"
      "expect B2 \"007\"\n"
      "select A2\n"
      "connect\n"
      "click QMV2\n"
      "  press CommandButton1\n"
      "expect A2 empty\n"
      "save out.csv\n",
      folder.string());
  EXPECT_EQ(played.status, 0) << played.transcript << played.err;
  std::ifstream saved(folder / "out.csv", std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(saved)),
                            std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "name,code\r\n,'007\r\n");
  fs::remove_all(folder);
}

TEST(PlayTest, RunPlayReadsStandardInputAndReportsAMissingScript) {
  std::ostringstream out;
  std::ostringstream err;
  PlayStreams streams{out, err};
  std::istringstream in("workbook\nset A1 \"x\"\nexpect A1 \"x\"\n");
  EXPECT_EQ(runPlay("-", false, in, streams), 0) << err.str();

  std::istringstream none;
  EXPECT_EQ(runPlay("/no/such/script.qmv", false, none, streams), 2);
  EXPECT_EQ(err.str(), "qmv play: cannot read /no/such/script.qmv: No such file or directory\n");
}

TEST(PlayTest, EchoShowsEachCommandAsWritten) {
  std::ostringstream out;
  std::ostringstream err;
  PlayStreams streams{out, err};
  PlayOptions options;
  options.echo = true;
  EXPECT_EQ(playScript("workbook\n  set A1   \"x\"  # not a comment\n", options, streams), 2);
  EXPECT_EQ(out.str(), "");  // the syntax error stops the script before it runs
  std::ostringstream out2;
  PlayStreams streams2{out2, err};
  EXPECT_EQ(playScript("workbook\n  set A1   \"x\"\n", options, streams2), 0);
  EXPECT_EQ(out2.str(), "> workbook\n> set A1   \"x\"\n");
}

}  // namespace
}  // namespace qmv::cli
