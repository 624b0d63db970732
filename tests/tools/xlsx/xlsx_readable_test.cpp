// Workbooks as other programs write them, read by `qmv apply`: formulas whose results must
// follow the changed cells (judged by LibreOffice told to recalculate on load, and by the
// workbook's own calculation setting as openpyxl reads it), packages and cells that other
// readers accept, and results read as typed input or stored as text.
#include <gtest/gtest.h>

#include "tests/tools/xlsx/xlsx_fixture.hpp"

namespace qmv::xlsx::testing {
namespace {

// Builds the workbooks of these tests with openpyxl, some of them saved again by
// LibreOffice, some altered part by part with zipfile. Usage: make.py KIND OUT.
constexpr const char* kMaker = R"(import datetime, os, re, shutil, struct, subprocess, sys
import tempfile, zipfile, warnings
import openpyxl
warnings.simplefilter('ignore')
kind, out = sys.argv[1], sys.argv[2]

def by_libreoffice(book, path):
    work = tempfile.mkdtemp()
    book.save(os.path.join(work, 'book.xlsx'))
    subprocess.run(['soffice', '-env:UserInstallation=file://' + work + '/profile', '--headless',
                    '--convert-to', 'xlsx:Calc MS Excel 2007 XML', '--outdir', work + '/lo',
                    work + '/book.xlsx'], check=True, capture_output=True)
    shutil.copy(work + '/lo/book.xlsx', path)
    shutil.rmtree(work)

def altered(path, edit):
    with zipfile.ZipFile(path) as z:
        parts = [[n, z.read(n)] for n in z.namelist()]
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
        for name, data in parts:
            z.writestr(name, edit(name, data))

wb = openpyxl.Workbook()
ws = wb.active
ws.title = 'Data'
if kind in ('sum', 'sum-no-calcpr', 'no-formulas', 'formula-elsewhere'):
    ws['A1'] = 'Amount'
    ws['A2'] = 1200.5
    ws['A3'] = 300.25
    if kind in ('sum', 'sum-no-calcpr'):
        ws['A4'] = '=SUM(A2:A3)'
    if kind == 'formula-elsewhere':
        wb.create_sheet('Totals')['A1'] = '=SUM(Data!A2:A3)'
    by_libreoffice(wb, out)
    if kind == 'sum-no-calcpr':
        altered(out, lambda n, b: re.sub(rb'<calcPr[^>]*/>', b'', b) if n == 'xl/workbook.xml' else b)
elif kind == 'pivot':
    # A pivot table on sheet Pivot filling A2:B5 from Data!A1:B3, its parts written as
    # Excel writes them (a cache definition without records, refreshed on load).
    ws.append(['Name', 'Value'])
    ws.append(['a1', 1])
    ws.append(['b2', 2])
    pv = wb.create_sheet('Pivot')
    pv['A1'] = 'Note 1'
    for row in [['Row Labels', 'Sum of Value x 2'], ['a1', 1], ['b2', 2], ['Grand Total 3', 3]]:
        pv.append(row)
    pv['D4'] = 'beside 4'
    wb.save(out)
    main = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
    rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
    pkg = 'http://schemas.openxmlformats.org/package/2006/relationships'
    types = 'application/vnd.openxmlformats-officedocument.spreadsheetml.'
    cache = ('<pivotCacheDefinition xmlns="%s" xmlns:r="%s" refreshOnLoad="1" recordCount="0">'
             '<cacheSource type="worksheet"><worksheetSource ref="A1:B3" sheet="Data"/>'
             '</cacheSource><cacheFields count="2"><cacheField name="Name" numFmtId="0">'
             '<sharedItems count="2"><s v="a1"/><s v="b2"/></sharedItems></cacheField>'
             '<cacheField name="Value" numFmtId="0"><sharedItems containsSemiMixedTypes="0" '
             'containsString="0" containsNumber="1" containsInteger="1" minValue="1" '
             'maxValue="2"/></cacheField></cacheFields></pivotCacheDefinition>') % (main, rel)
    table = ('<pivotTableDefinition xmlns="%s" name="PivotTable1" cacheId="1" '
             'dataCaption="Values" updatedVersion="6" minRefreshableVersion="3" '
             'createdVersion="6" outline="1" outlineData="1"><location ref="A2:B5" '
             'firstHeaderRow="1" firstDataRow="1" firstDataCol="1"/><pivotFields count="2">'
             '<pivotField axis="axisRow" showAll="0"><items count="3"><item x="0"/><item x="1"/>'
             '<item t="default"/></items></pivotField><pivotField dataField="1" showAll="0"/>'
             '</pivotFields><rowFields count="1"><field x="0"/></rowFields><rowItems count="3">'
             '<i><x/></i><i><x v="1"/></i><i t="grand"><x/></i></rowItems><colItems count="1">'
             '<i/></colItems><dataFields count="1"><dataField name="Sum of Value x 2" fld="1" '
             'baseField="0" baseItem="0"/></dataFields></pivotTableDefinition>') % main
    def linked(name, data):
        if name == 'xl/workbook.xml':
            return data.replace(b'</workbook>', ('<pivotCaches><pivotCache xmlns:r="%s" '
                                'cacheId="1" r:id="rIdCache"/></pivotCaches></workbook>'
                                % rel).encode())
        if name == 'xl/_rels/workbook.xml.rels':
            return data.replace(b'</Relationships>', ('<Relationship Id="rIdCache" Type="%s/'
                                'pivotCacheDefinition" Target="pivotCache/pivotCacheDefinition1'
                                '.xml"/></Relationships>' % rel).encode())
        if name == '[Content_Types].xml':
            return data.replace(b'</Types>', ('<Override PartName="/xl/pivotCache/'
                                'pivotCacheDefinition1.xml" ContentType="%spivotCacheDefinition'
                                '+xml"/><Override PartName="/xl/pivotTables/pivotTable1.xml" '
                                'ContentType="%spivotTable+xml"/></Types>'
                                % (types, types)).encode())
        return data
    altered(out, linked)
    with zipfile.ZipFile(out, 'a', zipfile.ZIP_DEFLATED) as z:
        z.writestr('xl/pivotCache/pivotCacheDefinition1.xml', cache)
        z.writestr('xl/pivotTables/pivotTable1.xml', table)
        z.writestr('xl/worksheets/_rels/sheet2.xml.rels', '<Relationships xmlns="%s">'
                   '<Relationship Id="rId1" Type="%s/pivotTable" Target="../pivotTables/'
                   'pivotTable1.xml"/></Relationships>' % (pkg, rel))
        z.writestr('xl/pivotTables/_rels/pivotTable1.xml.rels', '<Relationships xmlns="%s">'
                   '<Relationship Id="rId1" Type="%s/pivotCacheDefinition" Target="../'
                   'pivotCache/pivotCacheDefinition1.xml"/></Relationships>' % (pkg, rel))
elif kind == 'timestamps':
    # .NET's packaging library: local headers whose time differs from the directory's.
    ws['A1'] = 'Code'
    ws['A2'] = 'a1'
    wb.save(out)
    data = bytearray(open(out, 'rb').read())
    at = 0
    while True:
        at = data.find(b'PK\x03\x04', at)
        if at < 0:
            break
        struct.pack_into('<H', data, at + 10, 0x1234)  # the local header's time
        at += 4
    open(out, 'wb').write(data)
else:
    ws['A1'] = 'When'
    ws['B1'] = 'Code'
    ws['A2'] = datetime.time(15, 4, 5)
    ws['B2'] = 'b2'
    ws['B3'] = 'b3'
    ws['B4'] = 'b4'
    if kind == 'chart-active':
        from openpyxl.chart import BarChart, Reference
        chart = BarChart()
        chart.add_data(Reference(ws, min_col=1, min_row=2, max_row=2))
        wb.create_chartsheet('Chart').add_chart(chart)
        wb.active = 1
    if kind == 'iso-time':
        wb.iso_dates = True
    wb.save(out)
    if kind in ('empty-shared', 'missing-shared'):
        # B3 as a shared string cell with an empty value, or naming a string that is not there.
        value = b'<v/>' if kind == 'empty-shared' else b'<v>99</v>'
        altered(out, lambda n, b: b.replace(b'<c r="B3" t="inlineStr"><is><t>b3</t></is></c>',
                                            b'<c r="B3" t="s">' + value + b'</c>')
                if n == 'xl/worksheets/sheet1.xml' else b)
)";

std::string make(const TempFolder& folder, const std::string& kind) {
  std::string book = folder.file(kind + ".xlsx");
  run(python() + " " + folder.write("make.py", kMaker) + " " + kind + " " + book);
  return book;
}

// The workbook's calculation setting, as Python's XML reader finds it: whether it asks
// for a full calculation on load.
bool asksFullCalculation(const TempFolder& folder, const std::string& book) {
  // openpyxl reads a missing attribute as true, so the element is read as it stands.
  const std::string script = folder.write("calc.py", R"(import sys, zipfile
import xml.etree.ElementTree as tree
root = tree.fromstring(zipfile.ZipFile(sys.argv[1]).read('xl/workbook.xml'))
calc = root.find('{http://schemas.openxmlformats.org/spreadsheetml/2006/main}calcPr')
print(calc is not None and calc.get('fullCalcOnLoad') in ('1', 'true'))
)");
  return run(python() + " " + script + " " + book) == "True\n";
}

// The first sheet as LibreOffice shows it once it has calculated every formula on load (its
// setting for Excel files; by default it keeps the saved results), as CSV.
std::string recalculatedByLibreOffice(const TempFolder& folder, const std::string& book) {
  fs::create_directories(folder.file("profile/user"));
  folder.write("profile/user/registrymodifications.xcu",
               R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="OOXMLRecalcMode" oor:op="fuse"><value>0</value></prop></item>
</oor:items>
)");
  run("soffice -env:UserInstallation=file://" + folder.file("profile") +
      " --headless --convert-to csv --outdir " + folder.file("csv") + " " + book +
      " >/dev/null 2>&1");
  const std::string name = fs::path(book).stem().string() + ".csv";
  std::ifstream in(folder.file("csv/" + name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(XlsxRecalculation, AChangedWorkbookWithFormulasAsksToBeCalculatedAgain) {
  struct Row {
    const char* name;
    const char* kind;
    std::vector<std::string> options;
    bool asks;
    const char* csv;  ///< the first sheet as LibreOffice calculates it; empty: not read
  };
  const std::vector<Row> rows = {
      {"a SUM over the changed cells", "sum", {"symbols"}, true, "Amount\n12005\n30025\n42030\n"},
      {"a workbook part without <calcPr>",
       "sum-no-calcpr",
       {"symbols"},
       true,
       "Amount\n12005\n30025\n42030\n"},
      {"the formula on another sheet",
       "formula-elsewhere",
       {"symbols", "--sheet", "Data"},
       true,
       ""},
      {"a dry run says it would", "sum", {"symbols", "--dry-run"}, false, ""},
      {"a dry run, the formula on another sheet",
       "formula-elsewhere",
       {"symbols", "--sheet", "Data", "--dry-run"},
       false,
       ""},
      {"nothing changed", "sum", {"letters"}, false, ""},
      {"no formulas", "no-formulas", {"symbols"}, false, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    const std::string input = make(folder, row.kind);
    ASSERT_FALSE(asksFullCalculation(folder, input)) << "LibreOffice asks for no calculation";
    const std::string output = folder.file("out.xlsx");
    std::vector<std::string> args = {"apply", row.options[0], input, "-o", output};
    args.insert(args.end(), row.options.begin() + 1, row.options.end());
    const Ran ran = qmv(args);
    ASSERT_EQ(ran.status, 0) << ran.err;
    const bool dryRun = row.options.back() == "--dry-run";
    const bool noted =
        ran.err.find(dryRun ? "the result would ask to be calculated again"
                            : "it now asks to be calculated again") != std::string::npos;
    const bool formulas = std::string(row.kind) != "no-formulas";
    EXPECT_EQ(noted, row.asks || (dryRun && formulas)) << ran.err;
    if (dryRun) continue;
    EXPECT_EQ(asksFullCalculation(folder, output), row.asks);
    if (*row.csv != '\0') {
      EXPECT_EQ(recalculatedByLibreOffice(folder, output), row.csv);
    }
    if (!row.asks) {
      EXPECT_EQ(zipParts(folder, output).at("xl/workbook.xml"),
                zipParts(folder, input).at("xl/workbook.xml"));
    }
  }
}

TEST(XlsxReadable, WhatOtherReadersOpenIsReadAndOnlyAVisitedBadCellIsRefused) {
  struct Row {
    const char* name;
    const char* kind;
    std::vector<std::string> options;
    int status;
    const char* message;  ///< in the messages
    const char* b2;       ///< B2 as openpyxl reads the result; empty: nothing is written
  };
  const std::vector<Row> rows = {
      {"local and central headers whose times differ",
       "timestamps",
       {"-c", "A"},
       0,
       "1 changed",
       ""},
      {"a time alone as openpyxl writes it with ISO dates",
       "iso-time",
       {"-c", "B"},
       0,
       "3 changed",
       "str:'b'"},
      {"a time alone read as a time",
       "iso-time",
       {"--range", "A2", "--dry-run"},
       0,
       "1 cell visited",
       ""},
      {"a shared string cell with an empty value",
       "empty-shared",
       {"-c", "B"},
       0,
       "2 cells visited, 2 changed",
       "str:'b'"},
      {"a shared string that does not exist, in a column not visited",
       "missing-shared",
       {"-c", "A"},
       0,
       "",
       ""},
      {"a shared string that does not exist, visited",
       "missing-shared",
       {"-c", "B"},
       1,
       "sheet \"Data\", cell B3: names the shared string \"99\", which does not exist",
       ""},
      {"a chart sheet active: the first worksheet",
       "chart-active",
       {"-c", "B"},
       0,
       "the active sheet of BOOK, \"Chart\", is a chart sheet, which holds no cells; working on "
       "the first worksheet, sheet \"Data\" (--sheet picks another)",
       "str:'b'"},
      {"a chart sheet named",
       "chart-active",
       {"--sheet", "Chart"},
       2,
       "--sheet: sheet \"Chart\" of BOOK is a chart or dialog sheet, which holds no cells; its "
       "worksheets are \"Data\"",
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    const std::string input = make(folder, row.kind);
    const std::string output = folder.file("out.xlsx");
    std::vector<std::string> args = {"apply", "digits", input, "-o", output};
    args.insert(args.end(), row.options.begin(), row.options.end());
    const Ran ran = qmv(args);
    EXPECT_EQ(ran.status, row.status) << ran.err;
    std::string message = row.message;
    if (const std::size_t at = message.find("BOOK"); at != std::string::npos) {
      message.replace(at, 4, input);
    }
    EXPECT_NE(ran.err.find(message), std::string::npos) << ran.err;
    if (row.status != 0) {
      EXPECT_NE(ran.err.find(input), std::string::npos) << "the message names the file";
      EXPECT_FALSE(fs::exists(output));
    }
    if (*row.b2 != '\0') {
      const auto cells = openpyxlCells(folder, output);
      if (!cells.contains("Data!B2")) {
        ADD_FAILURE() << "no B2 in the result";
        continue;
      }
      EXPECT_EQ(split(cells.at("Data!B2")).first, row.b2);
      // The time in A2 reads as it did.
      EXPECT_EQ(cells.at("Data!A2"), openpyxlCells(folder, input).at("Data!A2"));
    }
  }
}

// Excel refuses to change the cells of a pivot table: they are left alone, counted and
// named, whether the run writes or previews; the cells beside it change as ever.
TEST(XlsxPivotTables, TheCellsOfAPivotTableAreLeftAlone) {
  struct Row {
    const char* name;
    std::vector<std::string> options;
    const char* said;
  };
  const std::vector<Row> rows = {
      {"written", {"digits", "--sheet", "Pivot"}, "1 cell visited, 1 changed"},
      {"a value removal",
       {"keep-one", "--sheet", "Pivot", "--range", "B2:B5"},
       "Selection is Empty"},
      {"a dry run", {"digits", "--sheet", "Pivot", "--dry-run"}, "1 cell visited, 1 would change"},
  };
  TempFolder folder;
  const std::string input = make(folder, "pivot");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string output = folder.file("out.xlsx");
    fs::remove(output);
    std::vector<std::string> args = {"apply", row.options[0], input, "-o", output};
    args.insert(args.end(), row.options.begin() + 1, row.options.end());
    const Ran ran = qmv(args);
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_NE(ran.err.find(row.said), std::string::npos) << ran.err;
    const bool values = row.options[0] == "keep-one";
    EXPECT_NE(ran.err.find(std::string("qmv apply: ") + (values ? "4 cells lie" : "8 cells lie") +
                           " in a pivot table and were left alone: Excel refuses to change a "
                           "pivot table's cells"),
              std::string::npos)
        << ran.err;
    if (row.options.back() == "--dry-run") continue;
    if (values) {
      expectOnly(folder, input, output, {}, "");
    } else {
      expectOnly(folder, input, output, {{"Pivot!D4", "str:'beside '"}},
                 "xl/worksheets/sheet2.xml");
    }
  }
}

TEST(XlsxTypedResults, ResultsReadAsNumbersOrDatesAreCountedAndCanStayText) {
  // What the add-in's rule does with results typed into a cell, counted; and stored as the
  // texts they are with --results-as-text.
  TempFolder folder;
  const std::string book = folder.file("typed.xlsx");
  run(python() + " " + folder.write("typed.py", R"(import sys, datetime, openpyxl
wb = openpyxl.Workbook()
ws = wb.active
ws.title = 'Data'
ws['A1'] = 'Id'
ws['A2'] = 'ID-0042'
ws['A3'] = '05/11/2017'
ws['A3'].number_format = 'yyyy-mm-dd'
ws['A4'] = 'abc'
ws['A5'] = '00123x'
wb.save(sys.argv[1])
)") + " " +
      book);
  struct Row {
    const char* name;
    std::vector<std::string> options;
    const char* note;
    const char* a2;
    const char* a3;
  };
  const std::vector<Row> rows = {
      // 05112017 typed into a date-formatted cell is a date in the year 15896, which openpyxl
      // reads as an error.
      {"as typed input",
       {},
       "qmv apply: 2 results were read as numbers or dates",
       "int:-42",
       "str:'#VALUE!'"},
      {"a dry run counts them",
       {"--dry-run"},
       "qmv apply: 2 results would be read as numbers",
       "",
       ""},
      {"as text", {"--results-as-text"}, "", "str:'-0042'", "str:'05112017'"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string output = folder.file("out.xlsx");
    std::filesystem::remove(output);
    std::vector<std::string> args = {"apply", "letters", book, "-o", output, "-c", "Id"};
    args.insert(args.end(), row.options.begin(), row.options.end());
    // Letters go from A2, A4 and A5; then symbols from A3.
    Ran ran = qmv(args);
    ASSERT_EQ(ran.status, 0) << ran.err;
    if (*row.note != '\0') {
      EXPECT_NE(ran.err.find(row.note), std::string::npos) << ran.err;
    } else {
      EXPECT_EQ(ran.err.find("read as numbers"), std::string::npos) << ran.err;
    }
    if (*row.a2 == '\0') continue;
    const auto cells = openpyxlCells(folder, output);
    EXPECT_EQ(split(cells.at("Data!A2")).first, row.a2);
    EXPECT_FALSE(cells.contains("Data!A4")) << "an empty result clears the cell";
    args[1] = "symbols";
    args[2] = output;
    args[4] = folder.file("out2.xlsx");
    std::filesystem::remove(args[4]);
    ran = qmv(args);
    ASSERT_EQ(ran.status, 0) << ran.err;
    const auto again = openpyxlCells(folder, args[4]);
    EXPECT_EQ(split(again.at("Data!A3")).first.substr(0, std::string(row.a3).size()), row.a3);
  }
}

}  // namespace
}  // namespace qmv::xlsx::testing
