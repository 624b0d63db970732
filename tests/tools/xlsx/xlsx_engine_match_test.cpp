// `qmv apply` streams a workbook through the per-cell rule without running the add-in; a
// session that loads the same workbook, runs the same command from the menu and saves it
// must come to the same bytes.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/tools/xlsx/xlsx_fixture.hpp"

namespace qmv::xlsx::testing {
namespace {

// One column of every kind of value the removals meet.
std::string buildMixedWorkbook(const TempFolder& folder) {
  std::string path = folder.file("mixed.xlsx");
  lxw_workbook* book = workbook_new(path.c_str());
  lxw_format* date = workbook_add_format(book);
  format_set_num_format(date, "m/d/yyyy h:mm");
  lxw_worksheet* sheet = workbook_add_worksheet(book, "Mixed");
  const std::vector<const char*> texts = {"Order 123",
                                          "  a  b  ",
                                          "ABC def 12",
                                          "007x",
                                          "tab\there",
                                          "ctl\x01z\x1f",
                                          "\xC3\x84\xC3\x96\xC3\xBC \xC3\x9F",
                                          "x\xF0\x9F\x98\x80y9",
                                          "-12.5%x",
                                          "1/2/2007a",
                                          "TRUEx"};
  int row = 0;
  for (const char* text : texts) worksheet_write_string(sheet, row++, 0, text, nullptr);
  worksheet_write_number(sheet, row++, 0, 1234.5, nullptr);
  worksheet_write_number(sheet, row++, 0, -0.000123, nullptr);
  worksheet_write_boolean(sheet, row++, 0, 1, nullptr);
  lxw_datetime when = {2007, 1, 2, 15, 4, 0};
  worksheet_write_datetime(sheet, row++, 0, &when, date);
  worksheet_write_formula_num(sheet, row++, 0, "=LEN(A1)", nullptr, 9);
  EXPECT_EQ(workbook_close(book), LXW_NO_ERROR);
  return path;
}

struct MatchRow {
  const char* code;
  const char* tag;
  std::vector<std::string> inputs;  ///< session lines typed into the dialog
  std::vector<std::string> options;
};

TEST(XlsxEngineMatch, ApplyWritesWhatTheAddinWritesInASession) {
  const std::vector<MatchRow> rows = {
      {"RNUM", "QMV1", {}, {}},
      {"RALP", "QMV2", {}, {}},
      {"RNPC", "QMV3", {}, {}},
      {"RUDC", "QMV4", {"type txtUDC \"a1 \""}, {"--chars", "a1 "}},
      {"RALS", "QMV5", {}, {}},
      {"RLTS", "QMV6", {}, {}},
      {"RLTE", "QMV7", {}, {}},
      {"RBSP", "QMV8", {"type txtSP \"3\""}, {"--start", "3"}},
      {"RASP", "QMV9", {"type txtSP \"3\""}, {"--start", "3"}},
      {"RNBP",
       "QMV10",
       {"type txtSP \"4\"", "type txtNOC \"2\""},
       {"--start", "4", "--count", "2"}},
      {"RNAP",
       "QMV11",
       {"type txtSP \"2\"", "type txtNOC \"3\""},
       {"--start", "2", "--count", "3"}},
      {"RUPC", "QMV12", {}, {}},
      {"RLOC", "QMV13", {}, {}},
  };
  // Overlapping areas: the cells in both are visited twice.
  const std::string range = "A1:A16,A3:A5";
  for (const MatchRow& row : rows) {
    SCOPED_TRACE(row.code);
    TempFolder folder;
    const std::string input = buildMixedWorkbook(folder);
    std::string script = "load mixed.xlsx\nselect " + range + "\nconnect\nclick " + row.tag + "\n";
    for (const std::string& line : row.inputs) script += "  " + line + "\n";
    script += "  press CommandButton1\nsave session.xlsx\n";
    const Ran session = qmv({"play", folder.write("run.qmv", script)});
    ASSERT_EQ(session.status, 0) << session.err << session.out;

    std::vector<std::string> args = {"apply", row.code, input, "--range", range};
    args.insert(args.end(), row.options.begin(), row.options.end());
    args.push_back("-o");
    args.push_back(folder.file("apply.xlsx"));
    const Ran ran = qmv(args);
    ASSERT_EQ(ran.status, 0) << ran.err;

    const auto bySession = zipParts(folder, folder.file("session.xlsx"));
    const auto byApply = zipParts(folder, folder.file("apply.xlsx"));
    // apply gives a typed date the format Excel gives such an entry, through a cell format
    // it appends; the session's host keeps the cell's own. The rest must match exactly.
    const std::string styles = zipParts(folder, input).at("xl/styles.xml");
    const std::smatch count = [&] {
      std::smatch found;
      std::regex_search(styles, found, std::regex("<cellXfs count=\"([0-9]+)\""));
      return found;
    }();
    ASSERT_FALSE(count.empty());
    const int formats = std::stoi(count[1].str());
    std::string applied = byApply.at("xl/worksheets/sheet1.xml");
    for (int added = formats; added < formats + 8; ++added) {
      applied = std::regex_replace(applied, std::regex(" s=\"" + std::to_string(added) + "\""), "");
    }
    EXPECT_EQ(applied, bySession.at("xl/worksheets/sheet1.xml"));
    EXPECT_NE(byApply.at("xl/worksheets/sheet1.xml"),
              zipParts(folder, input).at("xl/worksheets/sheet1.xml"));
  }
}

}  // namespace
}  // namespace qmv::xlsx::testing
