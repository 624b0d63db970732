// The CSV side's options over workbooks: -c, --dry-run and --limit, removal chains,
// --separator, the safe targets, and the calculation chain after a value removal clears a
// formula cell. openpyxl reads every written file; untouched parts are compared byte for
// byte.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include "tests/tools/xlsx/xlsx_fixture.hpp"

namespace qmv::xlsx::testing {
namespace {

// The note that a changed workbook with formulas asks to be calculated again (checked in
// xlsx_recalculation_test.cpp), taken out of the messages.
std::string withoutCalculationNote(std::string err) {
  const std::string note = "qmv apply: the workbook holds formulas";
  const std::size_t at = err.find(note);
  if (at != std::string::npos) err.erase(at, err.find('\n', at) + 1 - at);
  return err;
}

std::string bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// `qmv apply OPERATION book OPTIONS...`, "OUT" in the options standing for out.xlsx.
Ran applyTo(const TempFolder& folder, const std::string& book, const std::string& operation,
            const std::vector<std::string>& options) {
  std::vector<std::string> args = {"apply", operation, book};
  for (const std::string& option : options) {
    args.push_back(option == "OUT" ? folder.file("out.xlsx") : option);
  }
  return qmv(args);
}

struct OptionRow {
  const char* name;
  const char* operation;
  std::vector<std::string> options;
  std::vector<Change> changes;
  const char* summary;
};

TEST(XlsxOptions, EachOptionChangesOnlyItsCells) {
  const std::vector<OptionRow> rows = {
      {"-c by the header's name: the header row stays",
       "RNUM",
       {"--sheet", "Data", "-c", "Order 123"},
       {{"Data!A2", "str:'.'"},
        {"Data!A3", "str:'a'"},
        {"Data!A5", "str:'//'"},
        {"Data!A7", "str:'  spaced   '"},
        {"Data!A8", "NoneType:None"},
        {"Data!A9", "NoneType:None"}},
       "RNUM over Order 123 (A) below row 1 of sheet \"Data\": 7 cells visited, 6 changed"},
      {"-c by letter with --no-header: row 1 too",
       "digits",
       {"--sheet", "Data", "-c", "b", "--no-header"},
       {{"Data!B1", "str:'keep '"}},
       "RNUM over b (B) of sheet \"Data\": 5 cells visited, 1 changed"},
      {"-c for a value removal",
       "RDPV",
       {"--sheet", "Data", "-c", "keep 42"},
       {{"Data!B4", "", Format::Cleared}},
       "RDPV over keep 42 (B) below row 1 of sheet \"Data\": 5 cells visited, 1 changed"},
      {"a chain: digits, then excess spaces",
       "digits,squeeze",
       {"--sheet", "Data", "--range", "A7"},
       {{"Data!A7", "str:'spaced'"}},
       "RNUM,RLTE over $A$7 of sheet \"Data\": 1 cell visited, 1 changed"},
      {"--separator: the text before the first space, read as typed input",
       "RBSP",
       {"--sheet", "Data", "--range", "A1,B1", "--separator", " "},
       {{"Data!A1", "int:123"}, {"Data!B1", "int:42"}},
       "RBSP over $A$1,$B$1 of sheet \"Data\": 2 cells visited, 2 changed\n"
       "qmv apply: 2 results were read as numbers or dates, as typed input is; "
       "--results-as-text stores them as text"},
      {"--results-as-text: the same results stored as text",
       "RBSP",
       {"--sheet", "Data", "--range", "A1,B1", "--separator", " ", "--results-as-text"},
       {{"Data!A1", "str:' 123'"}, {"Data!B1", "str:' 42'"}},
       "RBSP over $A$1,$B$1 of sheet \"Data\": 2 cells visited, 2 changed"},
      {"--separator with --occurrence and a count",
       "RNAP",
       {"--sheet", "Data", "--range", "A7", "--separator", " ", "--occurrence", "4th", "--count",
        "1"},
       {{"Data!A7", "str:'  spaced   '"}},
       "RNAP over $A$7 of sheet \"Data\": 1 cell visited, 1 changed"},
      {"a cell without the separator stays",
       "RASP",
       {"--sheet", "Data", "--range", "A3", "--separator", "-"},
       {},
       "RASP over $A$3 of sheet \"Data\": 1 cell visited, 0 changed"},
  };
  for (const OptionRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    const std::string input = buildWorkbook(folder, "book.xlsx");
    std::vector<std::string> options = row.options;
    options.insert(options.end(), {"-o", "OUT"});
    const Ran ran = applyTo(folder, input, row.operation, options);
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(withoutCalculationNote(ran.err), "qmv apply: " + std::string(row.summary) + "\n");
    if (row.changes.empty()) {
      EXPECT_EQ(bytesOf(folder.file("out.xlsx")), bytesOf(input));
    } else {
      expectOnly(folder, input, folder.file("out.xlsx"), row.changes, "xl/worksheets/sheet1.xml");
    }
  }
}

struct ChainRow {
  const char* name;
  std::vector<std::vector<std::string>> steps;  ///< each an operation and its own options
  std::vector<std::string> options;             ///< for every step
};

// The chain written at once equals the runs one after the other, part for part.
TEST(XlsxOptions, AChainEqualsSuccessiveRuns) {
  const std::vector<ChainRow> rows = {
      {"digits then excess spaces", {{"RNUM"}, {"RLTE"}}, {"--sheet", "Data", "--range", "A1:B9"}},
      // The date loses its slashes and becomes a number, which its date format shows as a
      // date again for the second removal.
      {"slashes then digits, over a date",
       {{"RUDC", "--chars", "/"}, {"RNUM"}},
       {"--sheet", "Data"}},
      {"letters then upper case, a Boolean on the way",
       {{"RALP"}, {"RUPC"}, {"RNUM"}},
       {"--sheet", "Data", "-c", "A", "--no-header"}},
      {"the active sheet", {{"RUPC"}, {"RLOC"}}, {}},
  };
  for (const ChainRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    const std::string input = buildWorkbook(folder, "book.xlsx");
    std::string chain;
    std::vector<std::string> options = row.options;
    for (const auto& step : row.steps) {
      chain += (chain.empty() ? "" : ",") + step.front();
      options.insert(options.end(), step.begin() + 1, step.end());
    }
    options.insert(options.end(), {"-o", folder.file("chain.xlsx")});
    const Ran once = applyTo(folder, input, chain, options);
    ASSERT_EQ(once.status, 0) << once.err;

    const std::string stepwise = folder.file("steps.xlsx");
    std::filesystem::copy_file(input, stepwise);
    for (const auto& step : row.steps) {
      std::vector<std::string> each = row.options;
      each.insert(each.end(), step.begin() + 1, step.end());
      each.push_back("--in-place");
      const Ran ran = applyTo(folder, stepwise, step.front(), each);
      ASSERT_EQ(ran.status, 0) << ran.err;
    }
    const auto chained = zipParts(folder, folder.file("chain.xlsx"));
    const auto successive = zipParts(folder, stepwise);
    EXPECT_EQ(chained, successive);
    EXPECT_NE(chained, zipParts(folder, input)) << "the chain changes something";
    openpyxlCells(folder, folder.file("chain.xlsx"));
  }
}

struct DryRow {
  const char* name;
  const char* operation;
  std::vector<std::string> options;
  std::string out;
  const char* summary;
};

TEST(XlsxOptions, ADryRunPrintsTheChangesAndLeavesTheFile) {
  const std::vector<DryRow> rows = {
      {"characters, limited",
       "RNUM",
       {"--sheet", "Data", "--range", "A1:A3", "--limit", "2"},
       "A1: \"Order 123\" -> \"Order \"\nA2: \"1234.5\" -> \".\"\n... and 1 more\n"
       "3 cells would change: \"Order 123\" -> \"Order \"; \"1234.5\" -> \".\"; \"a007\" -> "
       "\"a\" (nothing written)\n",
       "RNUM over $A$1:$A$3 of sheet \"Data\": 3 cells visited, 3 would change"},
      {"a chain by header name",
       "digits,squeeze",
       {"--sheet", "Data", "-c", "Order 123", "--limit", "0"},
       "... and 6 more\n6 cells would change: \"1234.5\" -> \".\"; \"a007\" -> \"a\"; "
       "\"1/2/2007\" -> \"//\" (nothing written)\n",
       "RNUM,RLTE over Order 123 (A) below row 1 of sheet \"Data\": 7 cells visited, 6 would "
       "change"},
      {"a value removal",
       "RADP",
       {"--sheet", "Data", "--range", "B2:B5"},
       "B2: \"x\" -> \"\"\nB4: \"x\" -> \"\"\n2 cells would be cleared: \"x\", \"x\" (nothing "
       "written)\n",
       "RADP over $B$2:$B$5 of sheet \"Data\": 4 cells visited, 2 would change"},
  };
  for (const DryRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    const std::string input = buildWorkbook(folder, "book.xlsx");
    // An old time stamp, so that any write would show.
    const struct utimbuf old = {1000000000, 1000000000};
    ASSERT_EQ(::utime(input.c_str(), &old), 0);
    const std::string bytes = bytesOf(input);
    std::vector<std::string> options = row.options;
    options.push_back("--dry-run");
    const Ran ran = applyTo(folder, input, row.operation, options);
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out, row.out);
    EXPECT_EQ(withoutCalculationNote(ran.err), "qmv apply: " + std::string(row.summary) + "\n");
    EXPECT_EQ(bytesOf(input), bytes);
    struct stat info {};
    ASSERT_EQ(::stat(input.c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, old.modtime);
    EXPECT_EQ(folder.count(), 1u) << "no file was written beside the workbook";
  }
}

struct RefusalRow {
  const char* name;
  const char* operation;
  std::vector<std::string> options;
  int status;
  const char* message;
};

TEST(XlsxOptions, RefusesWhatHasNoMeaningForAWorkbook) {
  const std::vector<RefusalRow> rows = {
      {"a delimiter",
       "RNUM",
       {"-d", ";", "-o", "OUT"},
       2,
       "-d/-t/--quoted-tsv: a workbook has no delimiter"},
      {"quoted tabs", "RNUM", {"--quoted-tsv", "-o", "OUT"}, 2, "-d/-t/--quoted-tsv:"},
      {"an encoding", "RNUM", {"-e", "latin1", "-o", "OUT"}, 2, "-e/--bom:"},
      {"the formula guard", "RNUM", {"--guard-formulas", "-o", "OUT"}, 2, "--guard-formulas:"},
      {"typed reading", "RNUM", {"--typed", "-o", "OUT"}, 2, "--typed:"},
      {"a value removal in a chain", "RNUM,RDPV", {"-o", "OUT"}, 2, "runs alone, not in a list"},
      {"an unknown header name",
       "RNUM",
       {"--sheet", "Data", "-c", "Nope", "-o", "OUT"},
       2,
       "-c: no column is named \"Nope\" in row 1"},
      {"a letter that is no column",
       "RNUM",
       {"-c", "A1", "--no-header", "-o", "OUT"},
       2,
       "give column letters"},
      {"-c and --range",
       "RNUM",
       {"-c", "A", "--range", "A1", "-o", "OUT"},
       2,
       "-c and --range exclude each other"},
      {"a separator beyond U+FFFF counted as two positions",
       "RBSP",
       {"--separator", "\xF0\x9F\x98\x80", "-o", "OUT"},
       2,
       "give --unicode"},
      {"no output", "RNUM", {}, 2, "give -o FILE, -o - or --in-place"},
  };
  for (const RefusalRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    const std::string input = buildWorkbook(folder, "book.xlsx");
    const Ran ran = applyTo(folder, input, row.operation, row.options);
    EXPECT_EQ(ran.status, row.status);
    EXPECT_NE(ran.err.find(row.message), std::string::npos) << ran.err;
    EXPECT_EQ(std::count(ran.err.begin(), ran.err.end(), '\n'), 1) << ran.err;
    EXPECT_FALSE(std::filesystem::exists(folder.file("out.xlsx")));
  }
}

TEST(XlsxOptions, AReadOnlyWorkbookIsReplacedOnlyWithForce) {
  TempFolder folder;
  const std::string input = buildWorkbook(folder, "book.xlsx");
  const std::string bytes = bytesOf(input);
  ASSERT_EQ(::chmod(input.c_str(), 0444), 0);
  const Ran refused = applyTo(folder, input, "RNUM", {"--no-header", "--in-place"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("read-only"), std::string::npos) << refused.err;
  EXPECT_EQ(bytesOf(input), bytes);

  const Ran forced = applyTo(folder, input, "RNUM", {"--no-header", "--in-place", "--force"});
  ASSERT_EQ(forced.status, 0) << forced.err;
  struct stat info {};
  ASSERT_EQ(::stat(input.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0444u) << "the mode is kept";
  const std::string original = folder.file("original.xlsx");
  {
    std::ofstream out(original, std::ios::binary);
    out << bytes;
  }
  expectOnly(folder, original, input, {{"Other!A1", "str:'other '"}, {"Other!A2", "str:'Order '"}},
             "xl/worksheets/sheet2.xml");
}

TEST(XlsxOptions, WritesTheWorkbookToStandardOutput) {
  TempFolder folder;
  const std::string input = buildWorkbook(folder, "book.xlsx");
  const Ran ran = applyTo(folder, input, "RNUM", {"--no-header", "-o", "-", "-q"});
  ASSERT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(ran.err, "");
  const std::string written = folder.write("piped.xlsx", ran.out);
  expectOnly(folder, input, written, {{"Other!A1", "str:'other '"}, {"Other!A2", "str:'Order '"}},
             "xl/worksheets/sheet2.xml");
}

// A calculation chain for the test workbook, whose sheet "Data" has the id 1 and formulas
// in A6 and B6: the part, its relationship and its content type.
std::string withCalcChain(const TempFolder& folder, const std::string& book,
                          const std::string& entries) {
  const std::string chain =
      folder.write("calcChain.xml",
                   "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<calcChain "
                   "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">" +
                       entries + "</calcChain>");
  std::string path = folder.file("chained.xlsx");
  alterPackage(
      folder, book, path,
      "parts.append(['xl/calcChain.xml', open('" + chain +
          "', 'rb').read()])\n"
          "for p in parts:\n"
          "    if p[0] == 'xl/_rels/workbook.xml.rels':\n"
          "        p[1] = p[1].replace(b'</Relationships>', b'<Relationship Id=\"rId99\" "
          "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
          "calcChain\" Target=\"calcChain.xml\"/></Relationships>')\n"
          "    if p[0] == '[Content_Types].xml':\n"
          "        p[1] = p[1].replace(b'</Types>', b'<Override PartName=\"/xl/calcChain.xml\" "
          "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml."
          "calcChain+xml\"/></Types>')\n");
  return path;
}

struct CalcChainRow {
  const char* name;
  std::string entries;
  const char* operation;
  std::vector<std::string> options;
  std::optional<std::string> left;  ///< the entries left, or none when the part goes
};

TEST(XlsxOptions, ClearingAFormulaCellTakesItOutOfTheCalculationChain) {
  const std::vector<CalcChainRow> rows = {
      {"the cleared formula's entry goes, the next takes its sheet id",
       R"(<c r="B6" i="1"/><c r="A6"/>)",
       "RUDP",
       {"--sheet", "Data", "--range", "B2:B6"},
       R"(<c i="1" r="A6"/>)"},
      {"the last formula gone: the part goes with its relationship and content type",
       R"(<c r="B6" i="1"/>)",
       "RUDP",
       {"--sheet", "Data", "--range", "B2:B6"},
       std::nullopt},
      {"a removal that clears no formula keeps the chain",
       R"(<c r="A6" i="1"/><c r="B6"/>)",
       "RDPV",
       {"--sheet", "Data", "--range", "B2:B6"},
       R"(<c r="A6" i="1"/><c r="B6"/>)"},
      {"a character removal never touches a formula",
       R"(<c r="A6" i="1"/><c r="B6"/>)",
       "RNUM",
       {"--sheet", "Data"},
       R"(<c r="A6" i="1"/><c r="B6"/>)"},
  };
  for (const CalcChainRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    const std::string plain = buildWorkbook(folder, "book.xlsx");
    const std::string input = withCalcChain(folder, plain, row.entries);
    std::vector<std::string> options = row.options;
    options.insert(options.end(), {"-o", "OUT"});
    const Ran ran = applyTo(folder, input, row.operation, options);
    ASSERT_EQ(ran.status, 0) << ran.err;

    const std::string output = folder.file("out.xlsx");
    const auto cells = openpyxlCells(folder, output);
    const auto parts = zipParts(folder, output);
    // Every part but the sheet and the chain is as it was; without a chain, as it was
    // before the chain was added.
    const auto before = zipParts(folder, row.left ? input : plain);
    for (const auto& [name, bytes] : before) {
      SCOPED_TRACE(name);
      if (name == "xl/worksheets/sheet1.xml" || name == "xl/calcChain.xml") continue;
      ASSERT_TRUE(parts.contains(name));
      EXPECT_EQ(parts.at(name), bytes);
    }
    if (!row.left) {
      EXPECT_FALSE(parts.contains("xl/calcChain.xml"));
      EXPECT_EQ(parts.size(), before.size());
      continue;
    }
    ASSERT_TRUE(parts.contains("xl/calcChain.xml"));
    const std::string& chain = parts.at("xl/calcChain.xml");
    EXPECT_NE(chain.find(">" + *row.left + "</calcChain>"), std::string::npos) << chain;
    static const std::regex entry(R"re(<c [^>]*r="([A-Z]+[0-9]+)")re");
    for (std::sregex_iterator it(chain.begin(), chain.end(), entry), end; it != end; ++it) {
      const std::string cell = "Data!" + (*it)[1].str();
      SCOPED_TRACE(cell);
      ASSERT_TRUE(cells.contains(cell));
      EXPECT_EQ(cells.at(cell).rfind("str:'=", 0), 0u) << "the chain names a formula cell";
    }
  }
}

// A sheet whose header sits below a blank row and a formatted empty cell: "Name" and
// "Phone 1" in row 3, data in rows 4 and 5, row 5 hidden (its cells are cells like any
// other, and the row stays hidden).
std::string buildHeaderBelowBlankRows(const TempFolder& folder) {
  std::string path = folder.file("people.xlsx");
  lxw_workbook* book = workbook_new(path.c_str());
  lxw_format* bold = workbook_add_format(book);
  format_set_bold(bold);
  lxw_worksheet* sheet = workbook_add_worksheet(book, "People");
  worksheet_write_blank(sheet, 1, 0, bold);
  worksheet_write_string(sheet, 2, 0, "Name", bold);
  worksheet_write_string(sheet, 2, 1, "Phone 1", bold);
  worksheet_write_string(sheet, 3, 0, "Ann 12", nullptr);
  worksheet_write_string(sheet, 3, 1, "555-1234", nullptr);
  worksheet_write_string(sheet, 4, 0, "Bob 7", nullptr);
  worksheet_write_number(sheet, 4, 1, 5559876, nullptr);
  lxw_row_col_options hidden = {1, 0, 0};
  worksheet_set_row_opt(sheet, 4, LXW_DEF_ROW_HEIGHT, nullptr, &hidden);
  EXPECT_EQ(workbook_close(book), LXW_NO_ERROR);
  return path;
}

struct HeaderRow {
  const char* name;
  std::vector<std::string> options;
  int status;
  std::vector<Change> changes;
  const char* err;
};

TEST(XlsxOptions, TheHeaderIsTheFirstRowThatHoldsAValue) {
  const std::vector<HeaderRow> rows = {
      {"a name below two rows without values",
       {"-c", "Phone 1"},
       0,
       {{"People!B4", "str:'-'"}, {"People!B5", "", Format::Cleared}},
       "qmv apply: RNUM over Phone 1 (B) below row 3 of sheet \"People\": 2 cells visited, 2 "
       "changed\n"},
      {"names and letters together",
       {"-c", "a,Phone 1"},
       0,
       {{"People!A4", "str:'Ann '"},
        {"People!A5", "str:'Bob '"},
        {"People!B4", "str:'-'"},
        {"People!B5", "", Format::Cleared}},
       "qmv apply: RNUM over a (A), Phone 1 (B) below row 3 of sheet \"People\": 4 cells "
       "visited, 4 changed\n"},
      {"a name the header lacks, told what it holds",
       {"-c", "Phone"},
       2,
       {},
       "qmv apply: -c: no column is named \"Phone\" in row 3; it holds \"Name\", \"Phone 1\" "
       "(--header-row N reads the names from row N)\n"},
      {"a header row named: the title rows above are left alone",
       {"-c", "Phone 1", "--header-row", "3"},
       0,
       {{"People!B4", "str:'-'"}, {"People!B5", "", Format::Cleared}},
       "qmv apply: RNUM over Phone 1 (B) below row 3 of sheet \"People\": 2 cells visited, 2 "
       "changed\n"},
      {"a header row named above the first value: names read from an empty row",
       {"-c", "Phone 1", "--header-row", "1"},
       2,
       {},
       "qmv apply: -c: no column is named \"Phone 1\" in row 1; it is empty (--header-row N "
       "reads the names from row N)\n"},
      {"a header row named below: the rows above it, the first header too, are left alone",
       {"-c", "A,B", "--header-row", "4"},
       0,
       {{"People!A5", "str:'Bob '"}, {"People!B5", "", Format::Cleared}},
       "qmv apply: RNUM over A, B below row 4 of sheet \"People\": 2 cells visited, 2 changed\n"},
      {"without a header, the header row is data",
       {"-c", "B", "--no-header"},
       0,
       {{"People!B3", "str:'Phone '"},
        {"People!B4", "str:'-'"},
        {"People!B5", "", Format::Cleared}},
       "qmv apply: RNUM over B of sheet \"People\": 3 cells visited, 3 changed\n"},
  };
  for (const HeaderRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    const std::string input = buildHeaderBelowBlankRows(folder);
    std::vector<std::string> options = row.options;
    options.insert(options.end(), {"-o", "OUT"});
    const Ran ran = applyTo(folder, input, "digits", options);
    EXPECT_EQ(ran.status, row.status);
    EXPECT_EQ(ran.err, row.err);
    if (row.status != 0) {
      EXPECT_FALSE(std::filesystem::exists(folder.file("out.xlsx")));
      continue;
    }
    expectOnly(folder, input, folder.file("out.xlsx"), row.changes, "xl/worksheets/sheet1.xml");
  }
}

}  // namespace
}  // namespace qmv::xlsx::testing
