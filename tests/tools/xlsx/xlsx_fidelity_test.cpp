// Changed cells as Excel would store them, in workbooks other programs wrote (Python's
// xlsxwriter, altered with zipfile where only Excel writes a form): Text format, entry
// formats, the 1904 date system, prefixed sheets, array and shared formulas, table headers.
// openpyxl reads the results back.
#include <gtest/gtest.h>

#include <chrono>

#include "host/text.hpp"
#include "tests/tools/xlsx/xlsx_fixture.hpp"
#include "tools/xlsx/sheet.hpp"
#include "tools/xlsx/workbook.hpp"

namespace qmv::xlsx::testing {
namespace {

// A workbook written by Python's xlsxwriter: `body` uses `wb` and `ws`.
std::string xlsxwriterBook(const TempFolder& folder, const std::string& name,
                           const std::string& body, const std::string& options = "{}") {
  std::string path = folder.file(name);
  const std::string script = folder.write(
      name + ".py", "import sys, datetime, xlsxwriter\nwb = xlsxwriter.Workbook(sys.argv[1], " +
                        options + ")\nws = wb.add_worksheet('Data')\n" + body + "\nwb.close()\n");
  run(python() + " " + script + " " + path);
  return path;
}

// Saves `input` as `output` with the given cells changed to their new texts.
void rewrite(const std::string& input, const std::string& output,
             const std::map<std::string, std::u16string>& changes) {
  const auto book = Workbook::open(input);
  book->save(output, {{0, [&](const SheetCell& cell) -> std::optional<std::string> {
                         const auto found = changes.find(cellReference(cell.ref));
                         if (found == changes.end()) return std::nullopt;
                         return book->changedCellXml(cell, found->second);
                       }}});
}

// Each cell of the first sheet as openpyxl reads it: "type:repr|number format|bold".
std::map<std::string, std::string> cellsOf(const TempFolder& folder, const std::string& book) {
  const std::string script = folder.write("read.py", R"(import sys, openpyxl
ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]
for row in ws.iter_rows():
    for c in row:
        if c.value is not None:
            print("%s\t%s:%r|%s|%s" % (c.coordinate, type(c.value).__name__, c.value,
                  c.number_format, c.font.b))
)");
  std::map<std::string, std::string> cells;
  std::istringstream lines(run(python() + " " + script + " " + book));
  for (std::string line; std::getline(lines, line);) {
    const std::size_t tab = line.find('\t');
    cells[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return cells;
}

TEST(XlsxFidelity, StoresAChangedTextAsExcelStoresItTyped) {
  TempFolder folder;
  const std::string input = xlsxwriterBook(folder, "typed.xlsx", R"(
text = wb.add_format({'num_format': '@'})
bold = wb.add_format({'bold': True})
two = wb.add_format({'num_format': '0.00'})
ws.write_string('A1', 'a007', text)
ws.write_string('A2', 'a1/2')
ws.write_string('A3', 'x50%')
ws.write_string('A4', 'x12.5%', bold)
ws.write_string('A5', 'at12:30')
ws.write_string('A6', 'at3:04:05 PM')
ws.write_string('A7', 'on1/2/2024 3:04')
ws.write_string('A8', 'a007')
ws.write_string('A9', 'x5%', two)
ws.write_string('A10', 'on3/15/2024')
ws.write_string('A11', 'x', text)
ws.write_string('A12', 'x1,234.50')
ws.write_string('A13', 'x1,234')
ws.write_string('A14', 'x1.5E3')
ws.write_string('A15', 'x$5')
ws.write_string('B1', 'untouched', bold)
)");
  struct Row {
    const char* cell;
    std::u16string text;
    std::string read;  // as openpyxl reads the result
  };
  // A day typed without a year falls in the current one.
  const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
  const std::string year =
      std::to_string(static_cast<int>(std::chrono::year_month_day{today}.year()));
  const std::vector<Row> rows = {
      {"A1", u"007", "str:'007'|@|False"},
      {"A2", u"1/2", "datetime:datetime.datetime(" + year + ", 1, 2, 0, 0)|d-mmm|False"},
      {"A3", u"50%", "float:0.5|0%|False"},
      {"A4", u"12.5%", "float:0.125|0.00%|True"},
      {"A5", u"12:30", "time:datetime.time(12, 30)|h:mm|False"},
      {"A6", u"3:04:05 PM", "time:datetime.time(15, 4, 5)|h:mm:ss AM/PM|False"},
      {"A7", u"1/2/2024 3:04", "datetime:datetime.datetime(2024, 1, 2, 3, 4)|m/d/yy h:mm|False"},
      {"A8", u"007", "int:7|General|False"},
      {"A9", u"5%", "float:0.05|0.00|False"},
      {"A10", u"3/15/2024", "datetime:datetime.datetime(2024, 3, 15, 0, 0)|mm-dd-yy|False"},
      {"A11", u"", ""},
      {"A12", u"1,234.50", "float:1234.5|#,##0.00|False"},
      {"A13", u"1,234", "int:1234|#,##0|False"},
      {"A14", u"1.5E3", "int:1500|0.00E+00|False"},
      // The package holds no currency format of ours: the amount stays the text it reads.
      {"A15", u"$5", "str:'$5'|General|False"},
  };
  std::map<std::string, std::u16string> changes;
  for (const Row& row : rows) changes[row.cell] = row.text;
  const std::string output = folder.file("out.xlsx");
  rewrite(input, output, changes);
  auto cells = cellsOf(folder, output);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.cell);
    EXPECT_EQ(cells[row.cell], row.read);
  }
  EXPECT_EQ(cells["B1"], "str:'untouched'|General|True");
  // The styles part gains entries and loses none.
  const auto before = zipParts(folder, input).at("xl/styles.xml");
  const auto after = zipParts(folder, output).at("xl/styles.xml");
  const std::size_t close = before.find("</cellXfs>");
  EXPECT_EQ(after.substr(after.find("</cellXfs>")), before.substr(close));
  EXPECT_GT(after.size(), before.size());
}

TEST(XlsxFidelity, FollowsThe1904DateSystem) {
  TempFolder folder;
  const std::string input = xlsxwriterBook(folder, "1904.xlsx", R"(
day = wb.add_format({'num_format': 'yyyy-mm-dd'})
ws.write_datetime('A1', datetime.datetime(2024, 3, 15), day)
ws.write_string('A2', 'on3/15/2024')
)",
                                           "{'date_1904': True}");
  const auto book = Workbook::open(input);
  EXPECT_TRUE(book->date1904());
  std::optional<Value> first;
  book->forEachCell(0, [&](const SheetCell& cell) {
    if (cell.ref == CellRef{1, 1}) first = book->valueOf(cell);
  });
  // 3/15/2024 is serial 45366 in the host's (1900) system.
  EXPECT_EQ(first, std::optional<Value>(DateTime{45366}));
  const std::string output = folder.file("out.xlsx");
  rewrite(input, output, {{"A2", u"3/15/2024"}});
  const auto cells = cellsOf(folder, output);
  EXPECT_EQ(cells.at("A2"), "datetime:datetime.datetime(2024, 3, 15, 0, 0)|mm-dd-yy|False");
  EXPECT_EQ(cells.at("A1"), "datetime:datetime.datetime(2024, 3, 15, 0, 0)|yyyy-mm-dd|False");
}

TEST(XlsxFidelity, WritesChangedCellsWithTheSheetsPrefix) {
  TempFolder folder;
  const std::string plain = xlsxwriterBook(folder, "plain.xlsx", R"(
ws.write_string('A1', 'a1')
ws.write_string('A2', 'keep')
ws.write_string('B1', 'b 2')
)");
  const std::string input = folder.file("prefixed.xlsx");
  alterPackage(folder, plain, input, R"(import re
for p in parts:
    if p[0] == 'xl/worksheets/sheet1.xml':
        b = p[1].replace(b'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"',
                         b'xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"')
        p[1] = re.sub(rb'<(/?)([a-zA-Z]+)([ />])', rb'<\1x:\2\3', b))");
  const std::string output = folder.file("out.xlsx");
  rewrite(input, output, {{"A1", u"a"}, {"B1", u"2"}});
  const auto cells = cellsOf(folder, output);
  EXPECT_EQ(cells.at("A1"), "str:'a'|General|False");
  EXPECT_EQ(cells.at("B1"), "int:2|General|False");
  EXPECT_EQ(cells.at("A2"), "str:'keep'|General|False");
  const std::string sheet = zipParts(folder, output).at("xl/worksheets/sheet1.xml");
  EXPECT_NE(sheet.find(R"(<x:c r="A1" t="inlineStr"><x:is><x:t>a</x:t></x:is></x:c>)"),
            std::string::npos)
      << sheet;
  EXPECT_EQ(sheet.find("<c "), std::string::npos) << sheet;
}

TEST(XlsxFidelity, CellsOfAnArrayFormulaAreFormulaCells) {
  TempFolder folder;
  const std::string input = xlsxwriterBook(folder, "array.xlsx", R"(
ws.write_string('A8', '1a')
ws.write_string('A9', '2b')
ws.write_array_formula('H8:H9', '{=LEN(A8:A9)}', None, 2)
ws.write_number('H10', 5)
)");
  const auto book = Workbook::open(input);
  std::map<std::string, bool> formula;
  book->forEachCell(
      0, [&](const SheetCell& cell) { formula[cellReference(cell.ref)] = cell.formula; });
  struct Row {
    const char* cell;
    bool formula;
  };
  for (const Row& row :
       std::vector<Row>{{"H8", true}, {"H9", true}, {"H10", false}, {"A9", false}}) {
    SCOPED_TRACE(row.cell);
    ASSERT_TRUE(formula.contains(row.cell));
    EXPECT_EQ(formula[row.cell], row.formula);
  }
}

TEST(XlsxFidelity, ShiftsFormulasAsAFillDoes) {
  struct Row {
    const char* name;
    const char* formula;
    int64_t rows;
    int64_t columns;
    const char* shifted;
  };
  const std::vector<Row> rows = {
      {"relative", "B2*2", 1, 0, "B3*2"},
      {"absolute parts stay", "$B$2+B$2+$B2+B2", 2, 1, "$B$2+C$2+$B4+C4"},
      {"a range and a function", "SUM(A1:B2)", 1, 1, "SUM(B2:C3)"},
      {"another sheet", "'My Sheet'!A1+Other!B2", 1, 0, "'My Sheet'!A2+Other!B3"},
      {"strings stay", "\"A1\"&A1", 1, 0, "\"A1\"&A2"},
      {"names and functions stay", "LOG10(A1)+_xlfn.XLOOKUP(Rate_2024,A1)", 1, 0,
       "LOG10(A2)+_xlfn.XLOOKUP(Rate_2024,A2)"},
      {"structured references stay", "Table1[[#This Row],[A1]]*A1", 1, 0,
       "Table1[[#This Row],[A1]]*A2"},
      {"columns and rows", "SUM(A:A)+SUM(2:3)", 1, 1, "SUM(B:B)+SUM(3:4)"},
      {"numbers stay", "A1*1E+3+2.5", 1, 0, "A2*1E+3+2.5"},
      {"off the sheet", "A1048576", 1, 0, "#REF!"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(shiftedFormula(row.formula, row.rows, row.columns), row.shifted);
  }
}

TEST(XlsxFidelity, ClearingTheMasterOfASharedFormulaMovesIt) {
  TempFolder folder;
  const std::string plain = xlsxwriterBook(folder, "plain.xlsx", R"(
for r in range(2, 7):
    ws.write_number('B%d' % r, r)
    ws.write_formula('A%d' % r, '=B%d*2' % r, None, r * 2)
)");
  // Excel writes a filled-down formula once, in its first cell.
  const std::string input = folder.file("shared.xlsx");
  alterPackage(folder, plain, input, R"(import re
for p in parts:
    if p[0] == 'xl/worksheets/sheet1.xml':
        b = p[1].replace(b'<f>B2*2</f>', b'<f t="shared" ref="A2:A6" si="0">B2*2</f>')
        p[1] = re.sub(rb'<f>B[3-6]\*2</f>', b'<f t="shared" si="0"/>', b))");
  struct Row {
    const char* name;
    std::vector<std::string> cleared;
    std::map<std::string, std::string> formulas;  // as openpyxl reads them
  };
  const std::vector<Row> rows = {
      {"the master", {"A2"}, {{"A3", "=B3*2"}, {"A4", "=B4*2"}, {"A6", "=B6*2"}}},
      {"the master and the next",
       {"A2", "A3"},
       {{"A4", "=B4*2"}, {"A5", "=B5*2"}, {"A6", "=B6*2"}}},
      {"a member only", {"A4"}, {{"A2", "=B2*2"}, {"A3", "=B3*2"}, {"A5", "=B5*2"}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string output = folder.file("out.xlsx");
    const auto book = Workbook::open(input);
    book->save(output, {{0, [&](const SheetCell& cell) -> std::optional<std::string> {
                           const std::string ref = cellReference(cell.ref);
                           if (std::find(row.cleared.begin(), row.cleared.end(), ref) ==
                               row.cleared.end()) {
                             return std::nullopt;
                           }
                           return cellXml(cell.ref, std::nullopt, std::monostate{});
                         }}});
    const auto cells = cellsOf(folder, output);
    for (const auto& [cell, formula] : row.formulas) {
      SCOPED_TRACE(cell);
      ASSERT_TRUE(cells.contains(cell));
      EXPECT_EQ(cells.at(cell), "str:'" + formula + "'|General|False");
    }
    for (const std::string& cell : row.cleared) EXPECT_FALSE(cells.contains(cell)) << cell;
    // The range of a moved master is written as Excel writes one, without $.
    const std::string sheet = zipParts(folder, output).at("xl/worksheets/sheet1.xml");
    EXPECT_EQ(sheet.find('$'), std::string::npos) << sheet;
  }
}

TEST(XlsxFidelity, AChangedTableHeaderRenamesItsColumn) {
  TempFolder folder;
  const std::string input = xlsxwriterBook(folder, "table.xlsx", R"(
ws.add_table('A1:C3', {'columns': [{'header': 'Name1'}, {'header': 'Q2 & more'}, {'header': 'Code'}]})
ws.write_string('A2', 'x1')
)");
  const std::string script = folder.write("columns.py", R"(import sys, openpyxl
ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]
t = list(ws.tables.values())[0]
print("|".join(c.name for c in t.tableColumns) + "|" + repr(ws['A1'].value) + repr(ws['B1'].value))
)");
  const std::string output = folder.file("out.xlsx");
  rewrite(input, output, {{"A1", u"Name"}, {"B1", u"2 & \"more\""}, {"A2", u"x"}});
  EXPECT_EQ(run(python() + " " + script + " " + output),
            "Name|2 & \"more\"|Code|'Name''2 & \"more\"'\n");
  struct Row {
    const char* name;
    std::u16string text;
  };
  for (const Row& row : std::vector<Row>{{"empty", u""}, {"another column's", u"code"}}) {
    SCOPED_TRACE(row.name);
    EXPECT_THROW(rewrite(input, folder.file("refused.xlsx"), {{"A1", row.text}}), XlsxError);
  }
}

// Excel renames the structured references to a column with its header; a renamed column
// that formulas still name would break them, so such a header is refused.
TEST(XlsxFidelity, AHeaderThatFormulasNameIsNotRenamed) {
  TempFolder folder;
  const std::string input = xlsxwriterBook(folder, "named.xlsx", R"(
ws.add_table('A1:D3', {'columns': [{'header': 'Name1'}, {'header': "Q2 [est]"},
                                   {'header': 'Code'}, {'header': 'Note'}]})
ws.write_formula('F2', '=SUM(Table1[Code])')
other = wb.add_worksheet('Other')
other.write_formula('A1', '=COUNTA(Table1[[#All],[ Q2 \'[est\'] ]])')
other.write_formula('A2', '="Note"&1')
wb.define_name('Names', '=Table1[Name1]')
)");
  const struct Row {
    const char* name;
    const char* cell;
    bool refused;
  } rows[] = {
      {"named by a formula of its sheet", "C1", true},
      {"named on another sheet, escaped and spaced", "B1", true},
      {"named by a defined name", "A1", true},
      {"its name only in a text of a formula", "D1", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string output = folder.file(std::string("out-") + row.cell + ".xlsx");
    const auto save = [&] { rewrite(input, output, {{row.cell, u"Renamed"}}); };
    if (row.refused) {
      EXPECT_THROW(save(), XlsxError);
    } else {
      EXPECT_NO_THROW(save());
    }
  }
}

}  // namespace
}  // namespace qmv::xlsx::testing
