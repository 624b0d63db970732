// Recipes and many files through `qmv apply`: the same results as the comma list and the
// same report for every -j.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_folder.hpp"
#include "tools/qmv/cli.hpp"

namespace qmv::cli {
namespace {

namespace fs = std::filesystem;

struct Ran {
  int status = 0;
  std::string out;
  std::string err;
};

Ran run(std::vector<std::string> args) {
  args.insert(args.begin(), "qmv");
  std::istringstream in;
  std::ostringstream out, err;
  Ran ran;
  ran.status = runQmv(args, in, out, err, false);
  ran.out = out.str();
  ran.err = err.str();
  return ran;
}

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every file below `root`, by its name below it, with its bytes.
std::vector<std::pair<std::string, std::string>> tree(const fs::path& root) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      out.emplace_back(fs::relative(entry.path(), root).string(), contents(entry.path()));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

const std::string kCsv =
    "Name,Phone\n  Zoë  Ådams ,tel. 212-555-0147\nPlain,617-555-0199 ext. 12\n";

TEST(Batch, TheReportAndTheResultsAreTheSameForEveryJobCount) {
  const qmv::testing::TempFolder folder("qmv_batch_");
  fs::create_directories(folder.file("in/sub/deeper"));
  for (int i = 0; i < 9; ++i) {
    folder.write("in/f" + std::to_string(i) + ".csv", kCsv + std::string(i, '\n'));
  }
  folder.write("in/sub/t.tsv", "Name\tPhone\n a  b \t+1 (2) 3\n");
  folder.write("in/sub/deeper/bad.csv", "Name,Phone\n\"open,1\n");
  folder.write("in/sub/notes.txt", "not a table\n");
  fs::copy_file(std::string(QMV_SOURCE_DIR) + "/examples/inventory.xlsx",
                folder.file("in/sub/book.xlsx"));
  std::vector<std::string> reports;
  for (const char* jobs : {"1", "2", "5"}) {
    SCOPED_TRACE(jobs);
    const std::string out = folder.file(std::string("out") + jobs);
    const Ran ran = run({"apply", "RLTE,RNUM", folder.file("in"), "-r", "-o", out, "-j", jobs});
    EXPECT_EQ(ran.status, 1) << ran.err;  // the bad file, named with its reason
    reports.push_back(ran.err);
    EXPECT_EQ(tree(out), tree(folder.file("out1")));
    EXPECT_TRUE(fs::exists(out + "/sub/book.xlsx"));
    EXPECT_FALSE(fs::exists(out + "/sub/notes.txt"));
  }
  EXPECT_EQ(reports[1], reports[0]);
  EXPECT_EQ(reports[2], reports[0]);
  EXPECT_NE(reports[0].find("deeper/bad.csv: "), std::string::npos) << reports[0];
  EXPECT_NE(reports[0].find("qmv apply: 12 files, "), std::string::npos) << reports[0];
  EXPECT_NE(reports[0].find("; 1 file failed\n"), std::string::npos) << reports[0];
}

// A comma list, its printed recipe and that recipe run again give the same bytes; a recipe
// whose steps work on different columns gives what its steps give run one after another.
TEST(Batch, ARecipeGivesWhatItsStepsGive) {
  const qmv::testing::TempFolder folder("qmv_recipe_");
  const std::string file = folder.write("a.csv", kCsv);
  struct Row {
    const char* name;
    std::vector<std::string> list;  // a comma list and its options
  };
  const std::vector<Row> rows = {
      {"one pass", {"RLTE,RACC", "--unicode", "-c", "Name"}},
      {"inputs", {"text,digits", "--text", "tel.", "-c", "2"}},
      {"a value removal", {"RDPV", "-c", "Phone"}},
      {"a separator", {"after", "--separator", " ", "--occurrence", "Last", "--all"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> direct = {"apply"};
    direct.insert(direct.end(), row.list.begin(), row.list.end());
    std::vector<std::string> print = direct;
    direct.push_back(file);
    print.push_back("--print-recipe");
    const Ran expected = run(direct);
    const Ran printed = run(print);
    ASSERT_EQ(printed.status, 0) << printed.err;
    const std::string recipe = folder.write("r.json", printed.out);
    const Ran again = run({"apply", "--recipe", recipe, file});
    EXPECT_EQ(again.status, expected.status) << again.err;
    EXPECT_EQ(again.out, expected.out);
    EXPECT_EQ(run({"apply", "--recipe", recipe, "--print-recipe"}).out, printed.out);
  }
  const std::string recipe = folder.write(
      "two.json", R"({"version": 1, "steps": [{"operation": "RLTE", "columns": ["Name"]},
        {"operation": "RNDG", "columns": ["Phone"]}, {"operation": "RDPV", "range": "A2:A9"}]})");
  const Ran first = run({"apply", "RLTE", "-c", "Name", file, "-o", folder.file("1.csv")});
  const Ran second =
      run({"apply", "RNDG", "-c", "Phone", folder.file("1.csv"), "-o", folder.file("2.csv")});
  const Ran third = run({"apply", "RDPV", "--range", "A2:A9", folder.file("2.csv")});
  const Ran all = run({"apply", "--recipe", recipe, file});
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.out, third.out);
  // In place, the file gets the same bytes, and a dry run leaves it alone.
  EXPECT_EQ(run({"apply", "--recipe", recipe, file, "--dry-run"}).status, 0);
  EXPECT_EQ(contents(file), kCsv);
  EXPECT_EQ(run({"apply", "--recipe", recipe, file, "--in-place"}).status, 0);
  EXPECT_EQ(contents(file), third.out);
}

TEST(Batch, ABadRecipeIsOneMessageAndNothingChanges) {
  const qmv::testing::TempFolder folder("qmv_bad_recipe_");
  const std::string file = folder.write("a.csv", kCsv);
  const std::string recipe = folder.write(
      "bad.json", R"({"version": 1, "steps": [{"operation": "RDPV"}, {"operation": "RLTE"}]})");
  const Ran ran = run({"apply", "--recipe", recipe, file, "--in-place"});
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err, "qmv apply: --recipe " + recipe +
                         ": step 1, operation: RDPV clears whole values and may only be the "
                         "last step\n");
  EXPECT_EQ(contents(file), kCsv);
  const Ran checked = run({"recipe", recipe});
  EXPECT_EQ(checked.status, 2);
  EXPECT_EQ(run({"recipe", std::string(QMV_SOURCE_DIR) + "/examples/recipes/tidy.json"}).status, 0);
}

}  // namespace
}  // namespace qmv::cli
