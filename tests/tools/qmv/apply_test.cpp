// `qmv apply`: its option checks, its runs through the add-in's dialog and wizard, its
// exit statuses, and the safety of its output files.
#include "tools/qmv/apply.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/operations.hpp"
#include "host/text.hpp"
#include "tools/qmv/files.hpp"

namespace qmv::cli {
namespace {

namespace fs = std::filesystem;

// A folder of its own for each test, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() /
            ("qmv_apply_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() { fs::remove_all(path_); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  std::string write(const std::string& name, const std::string& content) const {
    std::ofstream(file(name), std::ios::binary) << content;
    return file(name);
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(path_)) {
      out.push_back(entry.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  fs::path path_;
};

std::string contentOf(const std::string& path) { return readWholeFile(path); }

struct Outcome {
  int status = 0;
  std::string out;
  std::string err;
};

Outcome apply(const ApplyRequest& request) {
  std::ostringstream out;
  std::ostringstream err;
  ApplyStreams streams{out, err, false, {}};
  Outcome outcome;
  outcome.status = runApply(request, streams);
  outcome.out = out.str();
  outcome.err = err.str();
  return outcome;
}

ApplyRequest request(std::string operation, std::string file) {
  ApplyRequest r;
  r.operation = std::move(operation);
  r.file = std::move(file);
  r.noHeader = true;  // most inputs here are a row or two of data
  return r;
}

struct BadOptionRow {
  const char* name;
  ApplyRequest request;
  const char* message;
};

ApplyRequest with(ApplyRequest r, void (*change)(ApplyRequest&)) {
  change(r);
  return r;
}

TEST(ApplyOptionsTest, ABadOptionIsNamedWithWhatItAccepts) {
  const ApplyRequest base = request("RBSP", "x.csv");
  const std::vector<BadOptionRow> rows = {
      {"unknown operation", request("RXYZ", "x.csv"), "OPERATION: \"RXYZ\" is not an operation"},
      {"a text removal without its text", request("text", "x.csv"),
       "text: give the text to remove with --text TEXT"},
      {"a pattern removal without its pattern", request("pattern", "x.csv"),
       "pattern: give the regular expression with --pattern REGEX"},
      {"an invalid pattern",
       with(request("RPAT", "x.csv"), [](ApplyRequest& r) { r.inputs["pattern"] = "(ab"; }),
       "--pattern: The pattern is not valid: "},
      {"any case is the pattern's",
       with(request("text", "x.csv"), [](ApplyRequest& r) { r.inputs["any-case"] = ""; }),
       "--any-case: text takes no pattern"},
      {"one delimiter only",
       with(request("between", "x.csv"), [](ApplyRequest& r) { r.inputs["open"] = "("; }),
       "between: give both delimiters with --open TEXT and --close TEXT"},
      {"start below 1", with(base, [](ApplyRequest& r) { r.inputs["start"] = "0"; }),
       "--start: 0 is out of range; the start position is 1 to 32767"},
      {"start above 32767", with(base, [](ApplyRequest& r) { r.inputs["start"] = "32768"; }),
       "--start: 32768 is out of range"},
      {"start negative", with(base, [](ApplyRequest& r) { r.inputs["start"] = "-2"; }),
       "--start: \"-2\" is not a whole number; the start position is 1 to 32767"},
      {"start fraction", with(base, [](ApplyRequest& r) { r.inputs["start"] = "1.5"; }),
       "--start: \"1.5\" is not a whole number"},
      {"start huge",
       with(base, [](ApplyRequest& r) { r.inputs["start"] = "99999999999999999999"; }),
       "--start: 99999999999999999999 is out of range"},
      {"no start", base, "RBSP: give the start position with --start N (1 to 32767)"},
      {"count on RBSP",
       with(base,
            [](ApplyRequest& r) {
              r.inputs["start"] = "2";
              r.inputs["count"] = "1";
            }),
       "--count: RBSP removes all the text before"},
      {"count missing",
       with(request("RNAP", "x.csv"), [](ApplyRequest& r) { r.inputs["start"] = "2"; }),
       "RNAP: give the number of characters with --count X (0 to 32767)"},
      {"count too big",
       with(request("RNAP", "x.csv"),
            [](ApplyRequest& r) {
              r.inputs["start"] = "2";
              r.inputs["count"] = "40000";
            }),
       "--count: 40000 is out of range; the number of characters is 0 to 32767"},
      {"all on RNAP",
       with(request("RNAP", "x.csv"),
            [](ApplyRequest& r) {
              r.inputs["start"] = "2";
              r.inputs["count"] = "1";
              r.inputs["all"] = "";
            }),
       "--all: RNAP removes --count characters"},
      {"before on RASP",
       with(request("RASP", "x.csv"),
            [](ApplyRequest& r) {
              r.inputs["start"] = "2";
              r.inputs["before"] = "";
            }),
       "--before: RASP removes text after the start position"},
      {"both directions",
       with(request("position", "x.csv"),
            [](ApplyRequest& r) {
              r.inputs["before"] = "";
              r.inputs["after"] = "";
            }),
       "--before and --after exclude each other"},
      {"position without direction",
       with(request("position", "x.csv"), [](ApplyRequest& r) { r.inputs["all"] = ""; }),
       "position: give --before or --after"},
      {"after without extent",
       with(request("after", "x.csv"), [](ApplyRequest& r) { r.inputs["start"] = "1"; }),
       "after: give --all (all the text) or --count X"},
      {"start and separator",
       with(request("after", "x.csv"),
            [](ApplyRequest& r) {
              r.inputs["all"] = "";
              r.inputs["start"] = "1";
              r.inputs["separator"] = "-";
            }),
       "--start and --separator exclude each other"},
      {"two-character separator",
       with(request("after", "x.csv"),
            [](ApplyRequest& r) {
              r.inputs["all"] = "";
              r.inputs["separator"] = "--";
            }),
       "--separator: give exactly one character, not \"--\""},
      {"occurrence without separator",
       with(request("after", "x.csv"),
            [](ApplyRequest& r) {
              r.inputs["all"] = "";
              r.inputs["start"] = "1";
              r.inputs["occurrence"] = "2nd";
            }),
       "--occurrence: give it with --separator"},
      {"bad occurrence",
       with(request("after", "x.csv"),
            [](ApplyRequest& r) {
              r.inputs["all"] = "";
              r.inputs["separator"] = "-";
              r.inputs["occurrence"] = "5th";
            }),
       "--occurrence: \"5th\" is not an occurrence; give 1st, 2nd, 3rd, 4th, Last or a number "
       "from 1 to 32767"},
      {"occurrence zero",
       with(request("after", "x.csv"),
            [](ApplyRequest& r) {
              r.inputs["all"] = "";
              r.inputs["separator"] = "-";
              r.inputs["occurrence"] = "0";
            }),
       "--occurrence: 0 is out of range; the occurrence is 1 to 32767"},
      {"start on RNUM",
       with(request("digits", "x.csv"), [](ApplyRequest& r) { r.inputs["start"] = "1"; }),
       "--start: digits takes no start position"},
      {"chars on RNUM",
       with(request("RNUM", "x.csv"), [](ApplyRequest& r) { r.inputs["chars"] = "x"; }),
       "--chars: RNUM takes no characters"},
      {"chars missing", request("RUDC", "x.csv"),
       "RUDC: give the characters to remove with --chars TEXT"},
      {"chars empty",
       with(request("chars", "x.csv"), [](ApplyRequest& r) { r.inputs["chars"] = ""; }),
       "chars: give the characters to remove"},
      {"bad range", with(request("RNUM", "x.csv"), [](ApplyRequest& r) { r.range = "B2:"; }),
       "--range: \"B2:\" is not a range; give A1 references such as B2:B6"},
      {"two columns for duplicates",
       with(request("RDPV", "x.csv"), [](ApplyRequest& r) { r.range = "A1:B4"; }),
       "--range: RDPV works on a single column"},
      {"output and in place",
       with(request("RNUM", "x.csv"),
            [](ApplyRequest& r) {
              r.output = "y.csv";
              r.inPlace = true;
            }),
       "-o and --in-place exclude each other"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    try {
      planApply(row.request, Format::Csv);
      ADD_FAILURE() << "accepted";
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
    }
  }
}

TEST(ApplyOptionsTest, AnUnknownOperationListsEveryCodeOfTheTable) {
  const Outcome outcome = apply(request("RXYZ", "x.csv"));
  EXPECT_EQ(outcome.status, 2);
  for (const OperationRow& row : operationTable()) {
    SCOPED_TRACE(toUtf8(row.code));
    EXPECT_NE(outcome.err.find(toUtf8(row.code)), std::string::npos) << outcome.err;
  }
}

TEST(ApplyOptionsTest, NamesAndFlagsPickTheOperationAndItsInputs) {
  ApplyRequest r = request("After", "x.csv");
  r.inputs["count"] = "2";
  r.inputs["separator"] = "-";
  r.inputs["occurrence"] = "last";
  Plan plan = planApply(r, Format::Csv);
  ASSERT_EQ(plan.removals.size(), 1u);
  EXPECT_EQ(plan.removals[0].operation, Operation::RNAP);
  EXPECT_EQ(plan.removals[0].count, 2);
  EXPECT_EQ(plan.removals[0].separator, u"-");
  EXPECT_EQ(plan.removals[0].occurrence.kind, Occurrence::Kind::Last);

  r = request("position", "x.csv");
  r.inputs["before"] = "";
  r.inputs["all"] = "";
  r.inputs["start"] = "007";
  plan = planApply(r, Format::Csv);
  EXPECT_EQ(plan.removals[0].operation, Operation::RBSP);
  EXPECT_EQ(plan.removals[0].start, 7);
  EXPECT_FALSE(plan.removals[0].separator);

  r = request("rnum", "x.csv");
  EXPECT_EQ(planApply(r, Format::Csv).removals[0].operation, Operation::RNUM);
  r = request("keep-one", "x.csv");
  r.range = "C:C";
  EXPECT_EQ(planApply(r, Format::Csv).value, Operation::RDPV);

  r = request("after", "x.csv");
  r.inputs["all"] = "";
  r.inputs["separator"] = ";";
  r.inputs["occurrence"] = "12";
  plan = planApply(r, Format::Csv);
  EXPECT_EQ(plan.removals[0].occurrence.kind, Occurrence::Kind::Nth);
  EXPECT_EQ(plan.removals[0].occurrence.n, 12);
}

class ApplyRunTest : public ::testing::Test {
 protected:
  TempFolder folder;
  const std::string contacts =
      "Name,Phone\r\nAda,+44 (20) 7946-0018\r\nGrace,tel. 212-555-0147\r\nAlan,0161 496 "
      "0733\r\n";
};

TEST_F(ApplyRunTest, RemovesDigitsFromTheRangeAndWritesToStandardOutput) {
  ApplyRequest r = request("digits", folder.write("in.csv", contacts));
  r.range = "B2:B4";
  const Outcome outcome = apply(r);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "Name,Phone\r\nAda,+ () -\r\nGrace,tel. --\r\nAlan,  \r\n");
  // Not a terminal: no progress, only the summary.
  EXPECT_EQ(outcome.err, "qmv apply: RNUM over $B$2:$B$4: 3 cells visited, 3 changed\n");
  EXPECT_EQ(contentOf(folder.file("in.csv")), contacts);
}

struct RunRow {
  const char* name;
  const char* operation;
  void (*options)(ApplyRequest&);
  std::string input;
  std::string output;
};

TEST_F(ApplyRunTest, RunsEachKindOfRemovalThroughItsForm) {
  const std::vector<RunRow> rows = {
      {"start position", "RBSP", [](ApplyRequest& r) { r.inputs["start"] = "3"; }, "abcdef,xy\n",
       "cdef,\n"},
      {"count after", "RNAP",
       [](ApplyRequest& r) {
         r.inputs["start"] = "2";
         r.inputs["count"] = "2";
       },
       "abcdef\n", "abef\n"},
      {"user characters", "chars", [](ApplyRequest& r) { r.inputs["chars"] = "#%"; }, "a#b%c,@x\n",
       "abc,@x\n"},
      {"user control characters, the field's quotes kept", "RUDC",
       [](ApplyRequest& r) { r.inputs["chars"] = "\t"; }, "\"a\tb\"\n", "\"ab\"\n"},
      {"user control characters, typed", "RUDC",
       [](ApplyRequest& r) {
         r.inputs["chars"] = "\t";
         r.typed = true;
       },
       "\"a\tb\"\n", "\"ab\"\n"},
      {"separator, last, after all", "after",
       [](ApplyRequest& r) {
         r.inputs["all"] = "";
         r.inputs["separator"] = "-";
         r.inputs["occurrence"] = "Last";
       },
       "abc-def-ghi,none\n", "abc-def-,none\n"},
      {"separator, typed occurrence, count before", "position",
       [](ApplyRequest& r) {
         r.inputs["before"] = "";
         r.inputs["count"] = "1";
         r.inputs["separator"] = "x";
         r.inputs["occurrence"] = "2";
       },
       "AxBXc\n", "AxXc\n"},
      {"keep one", "RDPV", [](ApplyRequest&) {}, "y\nx\nz\nx\n", "y\nx\nz\n\n"},
      {"all duplicates", "duplicates", [](ApplyRequest&) {}, "x\ny\nx\nz\n", "\ny\n\nz\n"},
      {"unique", "RUDP", [](ApplyRequest& r) { r.range = "A:A"; }, "x,1\ny,2\nx,3\n",
       "x,1\n,2\nx,3\n"},
      {"numbers read as typed input", "RALP", [](ApplyRequest& r) { r.typed = true; },
       "a007,TRUE,x1\n", "7,,1\n"},
      {"fields are text by default", "RALP", [](ApplyRequest&) {}, "a007,TRUE,x1\n", "007,,1\n"},
      {"a rewritten text is read as typed; an unchanged one stays", "RALS",
       [](ApplyRequest& r) { r.typed = true; }, "'007,1 2 3,'=x\n", "'007,123,'=x\n"},
      {"typed: only a changed field is written anew, every other byte stays", "RUDC",
       [](ApplyRequest& r) {
         r.inputs["chars"] = "#";
         r.typed = true;
         r.columns = "a";
         r.noHeader = false;
       },
       "\xEF\xBB\xBF"
       "a,b\r\n00123#,00123\r\n1/2,\"1/2\"\n50%#,12345678901234567890\r\n\"x#\",=1",
       "\xEF\xBB\xBF"
       "a,b\r\n123,00123\r\n1/2,\"1/2\"\n0.5,12345678901234567890\r\n\"x\",=1"},
      {"typed keep one: the cleared field alone is emptied", "RDPV",
       [](ApplyRequest& r) { r.typed = true; }, "007\r\n\"1/2\"\n7\n1/2\n", "007\r\n\"1/2\"\n\n\n"},
      {"texts outside the range keep their apostrophe", "RNUM",
       [](ApplyRequest& r) {
         r.range = "B1";
         r.typed = true;
       },
       "'007,a1\n", "'007,a\n"},
      {"empty selection", "RNUM", [](ApplyRequest& r) { r.range = "D1:D3"; }, "a1\n", "a1\n"},
      {"a text, without regard to case", "text",
       [](ApplyRequest& r) { r.inputs["text"] = "[TMP] "; }, "[tmp] keep,keep\n", "keep,keep\n"},
      {"a text, case matched", "RTXT",
       [](ApplyRequest& r) {
         r.inputs["text"] = "ab";
         r.inputs["match-case"] = "";
       },
       "abAB\n", "AB\n"},
      {"between delimiters", "between",
       [](ApplyRequest& r) {
         r.inputs["open"] = "<";
         r.inputs["close"] = ">";
       },
       "\"Call <b>today</b>\",<open\n", "\"Call today\",<open\n"},
      {"a pattern, case matched", "pattern",
       [](ApplyRequest& r) { r.inputs["pattern"] = "-[A-Z]+$"; }, "AB-123-XY,ab-1-xy\n",
       "AB-123,ab-1-xy\n"},
      {"a pattern in any case, in a chain", "RPAT,RNUM",
       [](ApplyRequest& r) {
         r.inputs["pattern"] = "</?[a-z]+>";
         r.inputs["any-case"] = "";
       },
       "<B>x1</b>\n", "x\n"},
      {"the last characters, then digits", "last,RNUM",
       [](ApplyRequest& r) { r.inputs["count"] = "3"; }, "AB-123-XY\n", "AB-\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ApplyRequest r = request(row.operation, folder.write("in.csv", row.input));
    row.options(r);
    const Outcome outcome = apply(r);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, row.output) << outcome.err;
  }
}

// A cell the pattern gives up on is left as it was, counted in a line of its own, and the
// run ends with status 3 though its result is written; CSV and --typed alike.
TEST_F(ApplyRunTest, CellsThePatternGaveUpOnEndWithThree) {
  const std::string runaway = std::string(40, 'a') + "!";
  struct Row {
    const char* name;
    std::string input;
    bool typed;
    int status;
    std::string output;
    std::string gaveUpLine;
  } rows[] = {
      {"one field given up", runaway + ",xaa\n", false, 3, runaway + ",x\n",
       "qmv apply: 1 cell was left as it was: the pattern needed too many steps.\n"},
      {"two, typed", runaway + "," + runaway + ",aa\n", true, 3, runaway + "," + runaway + ",\n",
       "qmv apply: 2 cells were left as they were: the pattern needed too many steps.\n"},
      {"none", "xaa\n", false, 0, "x\n", ""},
      // A list is one rule over the cell: a step that gives up leaves the whole cell, the
      // trim after it included, and the line says so truly.
      {"given up, then trim", " " + runaway + "\n", false, 3, " " + runaway + "\n",
       "qmv apply: 1 cell was left as it was: the pattern needed too many steps.\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ApplyRequest r = request(row.input.starts_with(' ') ? "pattern,trim" : "pattern",
                             folder.write("in.csv", row.input));
    r.inputs["pattern"] = "(a+)+$";
    r.typed = row.typed;
    const Outcome outcome = apply(r);
    EXPECT_EQ(outcome.status, row.status) << outcome.err;
    EXPECT_EQ(outcome.out, row.output);
    const bool told = outcome.err.ends_with(row.gaveUpLine);
    EXPECT_TRUE(told) << outcome.err;
    if (row.gaveUpLine.empty()) {
      EXPECT_EQ(outcome.err.find("left as"), std::string::npos) << outcome.err;
    }
  }
}

TEST_F(ApplyRunTest, AnEmptySelectionIsReportedAndChangesNothing) {
  ApplyRequest r = request("RNUM", folder.write("in.csv", "a1\n"));
  r.range = "C1:C2";
  const Outcome text = apply(r);
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.out, "a1\n");
  EXPECT_NE(text.err.find("0 cells visited, 0 changed"), std::string::npos) << text.err;
  r.typed = true;
  const Outcome outcome = apply(r);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_NE(outcome.err.find("the add-in says: Selection is Empty!"), std::string::npos);
  EXPECT_NE(outcome.err.find("0 cells visited, 0 changed"), std::string::npos) << outcome.err;
}

TEST_F(ApplyRunTest, BadOptionsWriteNothingAndExitWithTwo) {
  const std::string input = folder.write("in.csv", contacts);
  ApplyRequest r = request("RBSP", input);
  r.inputs["start"] = "0";
  r.output = folder.file("out.csv");
  Outcome outcome = apply(r);
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err,
            "qmv apply: --start: 0 is out of range; the start position is 1 to 32767\n");
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(folder.names(), std::vector<std::string>{"in.csv"});

  // The single-column check of the used range comes after reading, still before writing.
  r = request("unique", input);
  r.output = folder.file("out.csv");
  outcome = apply(r);
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.err.find("works on a single column"), std::string::npos) << outcome.err;
  EXPECT_EQ(folder.names(), std::vector<std::string>{"in.csv"});
}

TEST_F(ApplyRunTest, UnreadableAndMalformedFilesExitWithOneAndOneLine) {
  Outcome outcome = apply(request("RNUM", folder.file("missing.csv")));
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("cannot read "), std::string::npos);
  EXPECT_NE(outcome.err.find("No such file or directory"), std::string::npos);
  EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1);

  outcome = apply(request("RNUM", folder.file("")));
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("Is a directory"), std::string::npos) << outcome.err;

  const std::string bad = folder.write("bad.csv", "a,b\n\"open\n");
  outcome = apply(request("RNUM", bad));
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err,
            "qmv apply: " + bad + ": line 2, column 1: a quoted field is not closed\n");
  EXPECT_EQ(outcome.out, "");
}

TEST_F(ApplyRunTest, InPlaceReplacesTheFileAndLeavesNothingElse) {
  const std::string input = folder.write("in.csv", "a1,b2\n");
  fs::permissions(input, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ApplyRequest r = request("RNUM", input);
  r.inPlace = true;
  const Outcome outcome = apply(r);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(contentOf(input), "a,b\n");
  EXPECT_EQ(folder.names(), std::vector<std::string>{"in.csv"});
  EXPECT_EQ(fs::status(input).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ApplyRunTest, AFailedRunLeavesTheOriginalAndNoPartialFile) {
  // Malformed input with --in-place: the original stays exactly as it was.
  const std::string original = "ok1\n\"broken\n";
  const std::string input = folder.write("in.csv", original);
  ApplyRequest r = request("RNUM", input);
  r.inPlace = true;
  EXPECT_EQ(apply(r).status, 1);
  EXPECT_EQ(contentOf(input), original);
  EXPECT_EQ(folder.names(), std::vector<std::string>{"in.csv"});

  // An output into a folder that does not exist: no file anywhere, status 1.
  const std::string good = folder.write("good.csv", "a1\n");
  r = request("RNUM", good);
  r.output = folder.file("no/such/folder/out.csv");
  const Outcome outcome = apply(r);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("cannot write " + *r.output), std::string::npos) << outcome.err;
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"good.csv", "in.csv"}));
}

TEST_F(ApplyRunTest, AnOutputFileIsReplacedWhole) {
  const std::string input = folder.write("in.csv", "a1\n");
  const std::string output = folder.write("out.csv", "old content that is longer\n");
  ApplyRequest r = request("RNUM", input);
  r.output = output;
  EXPECT_EQ(apply(r).status, 0);
  EXPECT_EQ(contentOf(output), "a\n");
  EXPECT_EQ(contentOf(input), "a1\n");
}

TEST(ReplaceFileTest, ReplacesTheFileALinkNamesAndKeepsTheLink) {
  TempFolder folder;
  const std::string target = folder.write("data.csv", "old\n");
  const std::string link = folder.file("link.csv");
  fs::create_symlink(target, link);
  replaceFile(link, "new\n");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(contentOf(target), "new\n");
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"data.csv", "link.csv"}));
}

TEST(ReplaceFileTest, WritesANewFileWithTheUsualPermissions) {
  TempFolder folder;
  const std::string path = folder.file("new.csv");
  replaceFile(path, "x\n");
  EXPECT_EQ(contentOf(path), "x\n");
  EXPECT_NE(fs::status(path).permissions() & fs::perms::owner_read, fs::perms::none);
  EXPECT_THROW(replaceFile(folder.file(""), "x"), FileError);
  EXPECT_EQ(folder.names(), std::vector<std::string>{"new.csv"});
}

struct UnicodeRow {
  const char* name;
  const char* operation;
  void (*options)(ApplyRequest&);
  std::string input;
  std::string classic;
  std::string unicode;
};

TEST_F(ApplyRunTest, UnicodeOptionWidensSpacesLettersAndCharacters) {
  const std::vector<UnicodeRow> rows = {
      {"no-break spaces squeezed", "squeeze", [](ApplyRequest&) {},
       "\xC2\xA0"
       "a \xC2\xA0"
       "b\n",
       "\xC2\xA0"
       "a \xC2\xA0"
       "b\n",
       "a b\n"},
      {"zero width and C1 are non-printable", "nonprintable", [](ApplyRequest&) {},
       "a\xE2\x80\x8B"
       "b\xC2\x85"
       "c\n",
       "a\xE2\x80\x8B"
       "b\xC2\x85"
       "c\n",
       "abc\n"},
      {"accented capitals", "upper", [](ApplyRequest&) {}, "\xC3\x89t\xC3\xA9,\xCE\xA9\n",
       "\xC3\x89t\xC3\xA9,\xCE\xA9\n", "t\xC3\xA9,\n"},
      {"an emoji is one character", "RNAP",
       [](ApplyRequest& r) {
         r.inputs["start"] = "2";
         r.inputs["count"] = "2";
       },
       "\xF0\x9F\x98\x80\xF0\x9F\x98\x80-b\n", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80\n",
       "\xF0\x9F\x98\x80\xF0\x9F\x98\x80\n"},
      {"a letter beyond U+FFFF", "letters", [](ApplyRequest&) {},
       "x\xF0\x9D\x90\x80\xF0\x9F\x98\x80-\n", "\xF0\x9D\x90\x80\xF0\x9F\x98\x80-\n",
       "\xF0\x9F\x98\x80-\n"},
      {"a separator after an emoji", "position",
       [](ApplyRequest& r) {
         r.inputs["before"] = "";
         r.inputs["count"] = "1";
         r.inputs["separator"] = "-";
       },
       "\xF0\x9F\x98\x80"
       "a-b\n",
       "\xF0\x9F\x98\x80-b\n", "\xF0\x9F\x98\x80-b\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (bool unicode : {false, true}) {
      SCOPED_TRACE(unicode ? "--unicode" : "classic");
      ApplyRequest r = request(row.operation, folder.write("in.csv", row.input));
      row.options(r);
      r.unicode = unicode;
      const Outcome outcome = apply(r);
      EXPECT_EQ(outcome.status, 0) << outcome.err;
      EXPECT_EQ(outcome.out, unicode ? row.unicode : row.classic) << outcome.err;
    }
  }
}

}  // namespace
}  // namespace qmv::cli
