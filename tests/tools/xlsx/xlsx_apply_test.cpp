// `qmv apply` over workbooks, checked by an independent reader: openpyxl reads every
// written file, the changed cells hold the expected values, every other cell equals the
// input, every untouched part is byte for byte the same, and inside the changed sheet only
// the changed <c> elements differ.
#include <gtest/gtest.h>

#include "tests/tools/xlsx/xlsx_fixture.hpp"
#include "tools/xlsx/workbook.hpp"

namespace qmv::xlsx::testing {
namespace {

struct ApplyRow {
  const char* name;
  std::vector<std::string> options;
  std::vector<Change> changes;
  const char* changedPart;
};

TEST(XlsxApply, ChangesOnlyTheCellsTheRemovalChanges) {
  const std::vector<ApplyRow> rows = {
      {"digits over a column of every type",
       {"RNUM", "--sheet", "Data", "--range", "A1:A9"},
       {{"Data!A1", "str:'Order '"},
        {"Data!A2", "str:'.'"},
        {"Data!A3", "str:'a'"},
        {"Data!A5", "str:'//'"},
        {"Data!A7", "str:'  spaced   '"},
        {"Data!A8", "NoneType:None"},
        {"Data!A9", "NoneType:None"}},
       "xl/worksheets/sheet1.xml"},
      {"letters: a007 becomes the number 7, the date keeps its value",
       {"letters", "--sheet", "data", "--range", "A3,A5"},
       {{"Data!A3", "int:7"}},
       "xl/worksheets/sheet1.xml"},
      {"letters: TRUE loses every letter and the cell empties",
       {"RALP", "--sheet", "Data", "--range", "A4"},
       {{"Data!A4", "", Format::Cleared}},
       "xl/worksheets/sheet1.xml"},
      {"upper case: TRUE becomes the text rue",
       {"RUPC", "--sheet", "Data", "--range", "A4"},
       {{"Data!A4", "str:'rue'"}},
       "xl/worksheets/sheet1.xml"},
      {"without --sheet, the active sheet (a sheet without a header)",
       {"RNUM", "--no-header"},
       {{"Other!A1", "str:'other '"}, {"Other!A2", "str:'Order '"}},
       "xl/worksheets/sheet2.xml"},
      {"text before a start position, two areas",
       {"RBSP", "--sheet", "Data", "--range", "A1,B1", "--start", "3"},
       {{"Data!A1", "str:'der 123'"}, {"Data!B1", "str:'ep 42'"}},
       "xl/worksheets/sheet1.xml"},
      {"excess spaces through the host's TRIM",
       {"RLTE", "--sheet", "Data", "--range", "A7"},
       {{"Data!A7", "str:'spaced 9'"}},
       "xl/worksheets/sheet1.xml"},
      {"duplicates keeping the first: the repeat is fully cleared",
       {"RDPV", "--sheet", "Data", "--range", "B2:B6"},
       {{"Data!B4", "", Format::Cleared}},
       "xl/worksheets/sheet1.xml"},
      {"every duplicate",
       {"RADP", "--sheet", "Data", "--range", "B2:B5"},
       {{"Data!B2", "", Format::Cleared}, {"Data!B4", "", Format::Cleared}},
       "xl/worksheets/sheet1.xml"},
      {"every unique value, formulas included",
       {"RUDP", "--sheet", "Data", "--range", "B2:B6"},
       {{"Data!B3", "", Format::Cleared},
        {"Data!B5", "", Format::Cleared},
        {"Data!B6", "", Format::Cleared}},
       "xl/worksheets/sheet1.xml"},
  };
  for (const ApplyRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    const std::string input = folder.file("book.xlsx");
    alterPackage(folder, buildWorkbook(folder, "built.xlsx"), input, "");
    std::vector<std::string> args = {"apply"};
    args.insert(args.end(), row.options.begin(), row.options.end());
    args.insert(args.begin() + 2, input);
    args.push_back("-o");
    args.push_back(folder.file("out.xlsx"));
    const Ran ran = qmv(args);
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out, "");
    expectOnly(folder, input, folder.file("out.xlsx"), row.changes, row.changedPart);
  }
}

TEST(XlsxApply, KeepsTheMacroPartOfAnXlsmAndWritesInPlace) {
  TempFolder folder;
  std::string macro = "macro bytes \x01\x02";
  macro.append(4096, '\x7f');
  const std::string input = buildWorkbook(folder, "book.xlsm", macro);
  const std::string copy = folder.file("copy.xlsm");
  std::filesystem::copy_file(input, copy);
  const Ran ran = qmv({"apply", "RNUM", copy, "--sheet", "Other", "--no-header", "--in-place"});
  ASSERT_EQ(ran.status, 0) << ran.err;
  expectOnly(folder, input, copy, {{"Other!A1", "str:'other '"}, {"Other!A2", "str:'Order '"}},
             "xl/worksheets/sheet2.xml");
  EXPECT_EQ(zipParts(folder, copy).at("xl/vbaProject.bin"), macro);
}

TEST(XlsxApply, ARunThatChangesNothingCopiesTheFile) {
  TempFolder folder;
  const std::string input = buildWorkbook(folder, "book.xlsx");
  const Ran ran = qmv(
      {"apply", "RALP", input, "--sheet", "Data", "--range", "A2", "-o", folder.file("out.xlsx")});
  ASSERT_EQ(ran.status, 0) << ran.err;
  std::ifstream a(input, std::ios::binary), b(folder.file("out.xlsx"), std::ios::binary);
  const std::string left((std::istreambuf_iterator<char>(a)), {});
  const std::string right((std::istreambuf_iterator<char>(b)), {});
  EXPECT_EQ(left, right);
  EXPECT_NE(ran.err.find("1 cell visited, 0 changed"), std::string::npos) << ran.err;
}

struct RefusalRow {
  const char* name;
  std::vector<std::string> options;  ///< after the file
  int status;
  const char* message;
};

TEST(XlsxApply, RefusesBadRequestsWithoutWriting) {
  const std::vector<RefusalRow> rows = {
      {"no output", {}, 2, "give -o FILE, -o - or --in-place"},
      {"unknown sheet",
       {"--sheet", "Nope", "-o", "out.xlsx"},
       2,
       "its worksheets are \"Data\", \"Other\""},
      {"a value removal over two columns",
       {"RDPV", "--sheet", "Data", "-o", "out.xlsx"},
       2,
       "works on a single column"},
  };
  for (const RefusalRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    const std::string input = buildWorkbook(folder, "book.xlsx");
    std::vector<std::string> args = {"apply", "RNUM", input};
    std::size_t at = 0;
    if (!row.options.empty() && row.options[0].size() == 4 && row.options[0] != "-o") {
      args[1] = row.options[0];
      at = 1;
    }
    for (; at < row.options.size(); ++at) {
      args.push_back(row.options[at] == "out.xlsx" ? folder.file("out.xlsx") : row.options[at]);
    }
    const Ran ran = qmv(args);
    EXPECT_EQ(ran.status, row.status);
    EXPECT_NE(ran.err.find(row.message), std::string::npos) << ran.err;
    EXPECT_EQ(std::count(ran.err.begin(), ran.err.end(), '\n'), 1) << ran.err;
    EXPECT_FALSE(std::filesystem::exists(folder.file("out.xlsx")));
  }
}

// A sheet as other writers and older files have it: rich text with phonetic runs, a cell
// without a reference, characters outside the BMP, an escaped carriage return, errors,
// formulas with string results and shared formulas, numbers in exponent form, -0, an ISO
// 8601 date.
constexpr char kAwkwardSheet[] =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>
<row r="1"><c r="A1" t="inlineStr"><is><r><t>Ab</t></r><r><rPr><b/></rPr><t>c1</t></r><rPh sb="0" eb="1"><t>zz</t></rPh></is></c><c t="inlineStr"><is><t>no ref 2</t></is></c></row>
<row r="2"><c r="A2" t="inlineStr"><is><t>x)"
    "\xF0\x9F\x98\x80"
    R"(1</t></is></c><c r="B2" t="inlineStr"><is><t>a_x000D_1</t></is></c></row>
<row r="3"><c r="A3" t="e"><v>#DIV/0!</v></c><c r="B3" t="str"><f>"a"&amp;1</f><v>a1</v></c></row>
<row r="4"><c r="A4"><f t="shared" ref="A4:A5" si="0">ROW()</f><v>4</v></c></row>
<row r="5"><c r="A5"><f t="shared" si="0"/><v>5</v></c><c r="B5"><v>1E+20</v></c></row>
<row r="6"><c r="A6"><v>-0</v></c><c r="B6" t="inlineStr"><is><t xml:space="preserve">   </t></is></c></row>
<row r="7"><c r="A7" t="n"><v>0.30000000000000004</v></c><c r="B7" t="b"><v>0</v></c><c r="C7" t="d"><v>2007-01-02T15:04:05</v></c></row>
</sheetData></worksheet>)";

TEST(XlsxApply, RewritesAwkwardCellsExactly) {
  TempFolder folder;
  const std::string sheetFile = folder.write("sheet.xml", kAwkwardSheet);
  const std::string input = folder.file("awkward.xlsx");
  alterPackage(folder, buildWorkbook(folder, "book.xlsx"), input,
               "parts = [[n, open('" + sheetFile +
                   "', 'rb').read() if n == 'xl/worksheets/sheet1.xml' else b] for n, b in "
                   "parts]");
  const Ran ran = qmv(
      {"apply", "RNUM", input, "--sheet", "Data", "--no-header", "-o", folder.file("out.xlsx")});
  ASSERT_EQ(ran.status, 0) << ran.err;
  EXPECT_NE(ran.err.find("11 cells visited, 8 changed"), std::string::npos) << ran.err;
  struct Row {
    const char* cell;
    const char* element;
  };
  const std::vector<Row> rows = {
      {"A1", R"(<c r="A1" t="inlineStr"><is><t>Abc</t></is></c>)"},
      {"B1", R"(<c r="B1" t="inlineStr"><is><t xml:space="preserve">no ref </t></is></c>)"},
      {"A2", "<c r=\"A2\" t=\"inlineStr\"><is><t>x\xF0\x9F\x98\x80</t></is></c>"},
      {"B2", R"(<c r="B2" t="inlineStr"><is><t>a_x000D_</t></is></c>)"},
      {"B5", R"(<c r="B5" t="inlineStr"><is><t>E+</t></is></c>)"},
      {"A6", R"(<c r="A6"/>)"},
      {"A7", R"(<c r="A7" t="inlineStr"><is><t>.</t></is></c>)"},
      {"C7", R"(<c r="C7" t="inlineStr"><is><t>// :: PM</t></is></c>)"},
  };
  const std::string written =
      zipParts(folder, folder.file("out.xlsx")).at("xl/worksheets/sheet1.xml");
  std::set<std::string> refs = {"A1", "A2", "B2", "B5", "A6", "A7", "C7"};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.cell);
    EXPECT_NE(written.find(row.element), std::string::npos) << written;
  }
  // The cell without a reference is matched by its position in the original.
  std::string original = kAwkwardSheet;
  const std::string noRef = R"(<c t="inlineStr"><is><t>no ref 2</t></is></c>)";
  original.replace(original.find(noRef), noRef.size(), "");
  std::string result = written;
  const std::string newB1 = rows[1].element;
  result.replace(result.find(newB1), newB1.size(), "");
  EXPECT_EQ(withoutCells(result, refs), withoutCells(original, refs));
}

// A sheet of about 1 MB is read in many chunks; cells straddle their borders.
TEST(XlsxApply, RewritesCellsAcrossTheReadChunks) {
  TempFolder folder;
  const std::string input = folder.file("long.xlsx");
  lxw_workbook* book = workbook_new(input.c_str());
  lxw_worksheet* sheet = workbook_add_worksheet(book, "Long");
  constexpr int kRows = 20000;
  for (int row = 0; row < kRows; ++row) {
    std::string text = "item ";
    text += std::to_string(row * 7);
    worksheet_write_string(sheet, row, 0, text.c_str(), nullptr);
    worksheet_write_number(sheet, row, 1, row, nullptr);
  }
  ASSERT_EQ(workbook_close(book), LXW_NO_ERROR);
  const Ran ran = qmv({"apply", "RNUM", input, "--range", "A:A", "-o", folder.file("out.xlsx")});
  ASSERT_EQ(ran.status, 0) << ran.err;
  std::set<std::string> refs;
  for (int row = 1; row <= kRows; ++row) {
    std::string ref = "A";
    ref += std::to_string(row);
    refs.insert(ref);
  }
  const std::string before = zipParts(folder, input).at("xl/worksheets/sheet1.xml");
  const std::string after =
      zipParts(folder, folder.file("out.xlsx")).at("xl/worksheets/sheet1.xml");
  ASSERT_GT(before.size(), std::size_t{1} << 19);
  EXPECT_EQ(withoutCells(after, refs), withoutCells(before, refs));
  const std::string element =
      R"(<c r="A1" t="inlineStr"><is><t xml:space="preserve">item </t></is></c>)";
  std::size_t count = 0;
  for (std::size_t at = 0;
       (at = after.find("<is><t xml:space=\"preserve\">item </t></is>", at)) != std::string::npos;
       ++at) {
    ++count;
  }
  EXPECT_EQ(count, std::size_t{kRows});
  EXPECT_NE(after.find(element), std::string::npos);
}

}  // namespace
}  // namespace qmv::xlsx::testing

namespace qmv::xlsx::testing {
namespace {

// -c names a workbook's header cell by the text the worksheet displays as well as by the
// text of its value (the one the dry run lists): dates in their formats, Booleans in
// capitals.
TEST(XlsxApply, NamesHeaderColumnsByTheirDisplayedText) {
  TempFolder folder;
  const std::string book = folder.file("header.xlsx");
  lxw_workbook* workbook = workbook_new(book.c_str());
  lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
  const auto format = [&](const char* code) {
    lxw_format* f = workbook_add_format(workbook);
    format_set_num_format(f, code);
    return f;
  };
  lxw_datetime march15 = {2024, 3, 15, 0, 0, 0};
  lxw_datetime march14 = {2024, 3, 14, 0, 0, 0};
  lxw_datetime evening = {2024, 3, 16, 18, 5, 0};
  worksheet_write_string(sheet, 0, 0, "name", nullptr);
  worksheet_write_datetime(sheet, 0, 1, &march15, format("yyyy-mm-dd"));
  worksheet_write_boolean(sheet, 0, 2, 1, nullptr);
  worksheet_write_datetime(sheet, 0, 3, &march14, format("dddd, mmmm d, yyyy"));
  worksheet_write_datetime(sheet, 0, 4, &evening, format("d-mmm-yy h:mm AM/PM"));
  worksheet_write_boolean(sheet, 0, 5, 0, nullptr);
  for (lxw_col_t c = 0; c < 6; ++c) worksheet_write_string(sheet, 1, c, "x1", nullptr);
  ASSERT_EQ(workbook_close(workbook), LXW_NO_ERROR);

  struct Row {
    const char* name;
    const char* pick;
    const char* column;  ///< the column visited; empty when -c finds none
  };
  const std::vector<Row> rows = {
      {"a date as displayed", "2024-03-15", "B"},
      {"a date as its value's text", "3/15/2024", "B"},
      {"a Boolean as displayed", "TRUE", "C"},
      {"a Boolean as its value's text", "True", "C"},
      {"month and weekday names", "\"Thursday, March 14, 2024\"", "D"},  // quoted: a comma
      {"a time of day in 12 hours", "16-Mar-24 6:05 PM", "E"},
      {"FALSE", "FALSE", "F"},
      {"the displayed text in another case", "true", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Ran ran = qmv({"apply", "RNUM", book, "-c", row.pick, "--dry-run"});
    if (*row.column == '\0') {
      EXPECT_EQ(ran.status, 2);
      EXPECT_NE(ran.err.find("it holds \"name\", \"2024-03-15\", \"TRUE\""), std::string::npos)
          << ran.err;
      continue;
    }
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out.rfind(std::string(row.column) + "2: \"x1\" -> \"x\"", 0), 0u) << ran.out;
    EXPECT_NE(ran.err.find("1 cell visited"), std::string::npos) << ran.err;
  }
}

TEST(XlsxDateDisplay, RendersDateFormatsAsTheWorksheetShowsThem) {
  struct Row {
    double serial;
    uint32_t id;
    const char* code;
    std::optional<std::string> shown;
  };
  const std::vector<Row> rows = {
      {45366, 14, "", "3/15/2024"},
      {45366.75, 22, "", "3/15/2024 18:00"},
      {45366.75, 18, "", "6:00 PM"},
      {45366, 15, "", "15-Mar-24"},
      {45366, 0, "dd/mm/yy", "15/03/24"},
      {45366, 0, "ddd d mmm", "Fri 15 Mar"},
      {45366, 0, "mmmmm", "M"},
      {45366.5, 0, "hh:mm:ss", "12:00:00"},
      {45366.999999, 0, "yyyy-mm-dd hh:mm", "2024-03-16 00:00"},  // rounded to the second
      {45366, 0, "[$-409]yyyy\\-mm \"w\"", "2024-03 w"},
      {60, 0, "yyyy-mm-dd", "1900-02-29"},
      {61, 0, "yyyy-mm-dd", "1900-03-01"},
      {1, 0, "yyyy-mm-dd dddd", "1900-01-01 Sunday"},
      {1.5, 0, "[h]:mm", std::nullopt},
      {1.5, 0, "hh:mm:ss.000", std::nullopt},
      {45366, 30, "", std::nullopt},  // an East Asian built-in format
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.serial) + " " + row.code);
    EXPECT_EQ(dateDisplay(row.serial, row.id, row.code), row.shown);
  }
}

}  // namespace
}  // namespace qmv::xlsx::testing

namespace qmv::xlsx::testing {
namespace {

// With neither -c nor --range, a sheet's header (its first row holding a value) stays as
// it is, as a CSV file's does; --no-header and --header-row say otherwise.
TEST(XlsxApply, KeepsTheHeaderRowAsCsvDoes) {
  TempFolder folder;
  const std::string book = folder.file("titled.xlsx");
  lxw_workbook* workbook = workbook_new(book.c_str());
  lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
  worksheet_write_blank(sheet, 0, 0, workbook_add_format(workbook));  // a formatted blank
  worksheet_write_string(sheet, 1, 0, "Code 1", nullptr);
  worksheet_write_string(sheet, 2, 0, "a2", nullptr);
  worksheet_write_string(sheet, 3, 0, "b3", nullptr);
  ASSERT_EQ(workbook_close(workbook), LXW_NO_ERROR);
  const std::string csv = folder.write("titled.csv", "Code 1\na2\nb3\n");
  struct Row {
    const char* name;
    std::vector<std::string> options;
    const char* workbookChanges;  ///< the dry run's listing
    const char* csvChanges;
  };
  const std::vector<Row> rows = {
      {"the header stays",
       {},
       "A3: \"a2\" -> \"a\"\nA4: \"b3\" -> \"b\"\n",
       "A2: \"a2\" -> \"a\"\nA3: \"b3\" -> \"b\"\n"},
      {"--no-header: every row is data",
       {"--no-header"},
       "A2: \"Code 1\" -> \"Code \"\nA3: \"a2\" -> \"a\"\nA4: \"b3\" -> \"b\"\n",
       "A1: \"Code 1\" -> \"Code \"\nA2: \"a2\" -> \"a\"\nA3: \"b3\" -> \"b\"\n"},
      {"--header-row 2",
       {"--header-row", "2"},
       "A3: \"a2\" -> \"a\"\nA4: \"b3\" -> \"b\"\n",
       "A3: \"b3\" -> \"b\"\n"},
  };
  for (const Row& row : rows) {
    for (const std::string& file : {book, csv}) {
      SCOPED_TRACE(std::string(row.name) + ", " + file);
      std::vector<std::string> args = {"apply", "RNUM", file, "--dry-run"};
      args.insert(args.end(), row.options.begin(), row.options.end());
      const Ran ran = qmv(args);
      ASSERT_EQ(ran.status, 0) << ran.err;
      const std::string expected = file == book ? row.workbookChanges : row.csvChanges;
      EXPECT_EQ(ran.out.substr(0, expected.size()), expected) << ran.out;
    }
  }
}

}  // namespace
}  // namespace qmv::xlsx::testing
