// The command line: help, usage errors as one line with status 2, and both commands.
#include "tools/qmv/cli.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qmv::cli {
namespace {

struct Ran {
  int status = 0;
  std::string out;
  std::string err;
};

Ran run(std::vector<std::string> args, const std::string& input = {}) {
  args.insert(args.begin(), "qmv");
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  Ran ran;
  ran.status = runQmv(args, in, out, err, false);
  ran.out = out.str();
  ran.err = err.str();
  return ran;
}

long lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

TEST(CliTest, HelpListsTheOperationsAndEndsWell) {
  const Ran ran = run({"apply", "--help"});
  EXPECT_EQ(ran.status, 0);
  EXPECT_NE(ran.out.find("--separator"), std::string::npos);
  EXPECT_NE(ran.out.find("RNUM"), std::string::npos);
  EXPECT_NE(ran.out.find("digits"), std::string::npos);
  // The conventions a CSV user looks for, and how wide characters count.
  for (const char* option :
       {"--delimiter", "--tabs", "--encoding", "--columns", "--dry-run", "--quiet", "--typed",
        "--guard-formulas", "U+FFFF", "3 done but the removal gave up"}) {
    EXPECT_NE(ran.out.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(run({"--help"}).status, 0);
  EXPECT_EQ(run({}).status, 0);
  const Ran version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_FALSE(version.out.empty());
}

struct UsageRow {
  const char* name;
  std::vector<std::string> args;
  const char* message;
};

TEST(CliTest, UsageErrorsAreOneLineWithStatusTwo) {
  const std::vector<UsageRow> rows = {
      {"unknown command", {"frob"}, "qmv: "},
      {"unknown option", {"apply", "digits", "x.csv", "--bogus"}, "qmv apply: "},
      {"missing operation", {"apply"}, "qmv apply: "},
      {"option without value", {"apply", "RBSP", "x.csv", "--start"}, "qmv apply: "},
      {"negative start",
       {"apply", "RBSP", "x.csv", "--start", "-1"},
       "qmv apply: --start: \"-1\" is not a whole number"},
      {"play without script", {"play"}, "qmv play: "},
      {"an option given twice",
       {"apply", "digits", "x.csv", "-o", "a.csv", "-o", "b.csv"},
       "qmv apply: --output: given more than once; give it once"},
      {"an empty encoding",
       {"apply", "digits", "x.csv", "-e", ""},
       "qmv apply: -e: give an encoding's name"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Ran ran = run(row.args);
    EXPECT_EQ(ran.status, 2);
    EXPECT_EQ(ran.err.rfind(row.message, 0), 0u) << ran.err;
    EXPECT_EQ(lines(ran.err), 1) << ran.err;
    EXPECT_EQ(ran.out, "");
  }
}

TEST(CliTest, AppliesAndPlays) {
  namespace fs = std::filesystem;
  const fs::path file =
      fs::temp_directory_path() / ("qmv_cli_" + std::to_string(::getpid()) + ".csv");
  std::ofstream(file, std::ios::binary) << "abc-def-ghi\n";
  Ran ran = run({"apply", "after", file.string(), "--separator", "-", "--occurrence", "Last",
                 "--all", "--no-header"});
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(ran.out, "abc-def-\n");
  ran = run({"apply", "RBSP", file.string(), "--start=5", "--no-header"});
  EXPECT_EQ(ran.out, "def-ghi\n");
  fs::remove(file);

  ran = run({"play", "-"}, "workbook\nset A1 1\nexpect A1 2\n");
  EXPECT_EQ(ran.status, 1);
  EXPECT_EQ(ran.out, "line 3: expected A1 2 but was 1\n");
}

struct PatternRow {
  const char* name;
  std::vector<std::string> options;
  std::string input;
  std::string output;
};

// Patterns as Excel's users write them, through the command line onto a CSV file.
TEST(CliTest, PatternsReadAsExcelReadsThem) {
  namespace fs = std::filesystem;
  const fs::path file =
      fs::temp_directory_path() / ("qmv_cli_pattern_" + std::to_string(::getpid()) + ".csv");
  const std::vector<PatternRow> rows = {
      {"letters of every script and spaces kept",
       {"--pattern", "[^\\p{L} ]"},
       "Hello World \xC3\x89"
       "COLE \xC3\xA9"
       "cole \xD0\x96\xD0\xB6 123!,x-1\n",
       "Hello World \xC3\x89"
       "COLE \xC3\xA9"
       "cole \xD0\x96\xD0\xB6 ,x\n"},
      {"word characters of every script with --unicode",
       {"--pattern", "\\w+", "--unicode"},
       "Jos\xC3\xA9!,\xD0\x96-1\n",
       "!,-\n"},
      {"word characters of ASCII without it",
       {"--pattern", "\\w+"},
       "Jos\xC3\xA9!\n",
       "\xC3\xA9!\n"},
      {"the Kelvin sign in any case",
       {"--pattern", "k", "--any-case"},
       "kK\xE2\x84\xAA x\n",
       " x\n"},
      {"a property ignores case", {"--pattern", "\\p{Lu}", "--any-case"}, "aB\xC3\x89\n", "a\n"},
  };
  for (const PatternRow& row : rows) {
    SCOPED_TRACE(row.name);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << row.input;
    std::vector<std::string> args = {"apply", "pattern", file.string(), "--no-header"};
    args.insert(args.end(), row.options.begin(), row.options.end());
    const Ran ran = run(args);
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out, row.output) << ran.err;
  }
  fs::remove(file);
}

}  // namespace
}  // namespace qmv::cli
