// `qmv play` over workbooks: a session loads a workbook's active sheet, runs the add-in
// over it and saves it; openpyxl reads the result.
#include <gtest/gtest.h>

#include "tests/tools/xlsx/xlsx_fixture.hpp"

namespace qmv::xlsx::testing {
namespace {

TEST(XlsxPlay, SavesTheSessionsChangesIntoACopyOfTheWorkbook) {
  TempFolder folder;
  buildWorkbook(folder, "book.xlsx");
  const std::string script = folder.write("run.qmv", R"(load book.xlsx
expect A1 "other 1"
select A1:A2
connect
click QMV1
  press CommandButton1
expect A1 "other "
save out.xlsx
)");
  const Ran ran = qmv({"play", script});
  ASSERT_EQ(ran.status, 0) << ran.err << ran.out;
  const auto before = openpyxlCells(folder, folder.file("book.xlsx"));
  const auto after = openpyxlCells(folder, folder.file("out.xlsx"));
  ASSERT_EQ(after.size(), before.size());
  for (const auto& [cell, line] : before) {
    SCOPED_TRACE(cell);
    if (cell == "Other!A1") {
      EXPECT_EQ(after.at(cell).substr(0, after.at(cell).find('\t')), "str:'other '");
    } else if (cell == "Other!A2") {
      EXPECT_EQ(after.at(cell).substr(0, after.at(cell).find('\t')), "str:'Order '");
    } else {
      EXPECT_EQ(after.at(cell), line);
    }
  }
  const auto partsBefore = zipParts(folder, folder.file("book.xlsx"));
  const auto partsAfter = zipParts(folder, folder.file("out.xlsx"));
  for (const auto& [name, bytes] : partsBefore) {
    SCOPED_TRACE(name);
    if (name != "xl/worksheets/sheet2.xml") {
      EXPECT_EQ(partsAfter.at(name), bytes);
    }
  }
}

struct SaveErrorRow {
  const char* name;
  const char* script;
  const char* message;
};

TEST(XlsxPlay, RefusesWhatAWorkbookSaveCannotWrite) {
  const std::vector<SaveErrorRow> rows = {
      {"save before load", "workbook\nsave out.xlsx\n", "load a workbook first"},
      {"a cell added", "load book.xlsx\nset C9 \"new\"\nsave out.xlsx\n", "adds none"},
      {"a new formula", "load book.xlsx\nset A1 formula \"=1+1\" 2\nsave out.xlsx\n",
       "writes values only"},
      {"a legacy workbook", "load book.xls\n", "legacy .xls"},
      {"a missing workbook", "load none.xlsx\n", "none.xlsx"},
      // The formats `qmv apply` refuses, refused alike (not read as CSV).
      {"an Excel template", "load tmpl.xltx\n",
       "tmpl.xltx: qmv reads .xlsx and .xlsm workbooks (and CSV); save this Excel template as "
       "an .xlsx workbook first"},
      {"an OpenDocument spreadsheet", "load book.ods\n",
       "book.ods: qmv reads .xlsx and .xlsm workbooks (and CSV); save this OpenDocument "
       "spreadsheet as an .xlsx workbook first"},
      {"an OpenDocument package under another name", "load sheet.csv\n",
       "save this OpenDocument spreadsheet"},
      {"saved as a template", "load book.xlsx\nsave out.xltx\n", "save this Excel template"},
  };
  for (const SaveErrorRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    const std::string book = buildWorkbook(folder, "book.xlsx");
    std::filesystem::copy_file(book, folder.file("tmpl.xltx"));
    run(python() + " -c \"import sys, zipfile; z = zipfile.ZipFile(sys.argv[1], 'w'); " +
        "z.writestr('mimetype', 'application/vnd.oasis.opendocument.spreadsheet'); " +
        "z.writestr('content.xml', '<x/>')\" " + folder.file("book.ods"));
    std::filesystem::copy_file(folder.file("book.ods"), folder.file("sheet.csv"));
    const Ran ran = qmv({"play", folder.write("run.qmv", row.script)});
    EXPECT_EQ(ran.status, 2);
    EXPECT_NE(ran.err.find(row.message), std::string::npos) << ran.err;
    EXPECT_FALSE(std::filesystem::exists(folder.file("out.xlsx")));
    EXPECT_FALSE(std::filesystem::exists(folder.file("out.xltx")));
  }
}

}  // namespace
}  // namespace qmv::xlsx::testing
