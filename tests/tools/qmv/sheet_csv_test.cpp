// CSV files as sheets: fields read as typed input, texts written back with an apostrophe
// where they would read back as anything else, and the same cells after a round trip.
#include "tools/qmv/sheet_csv.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/text.hpp"
#include "tools/qmv/values.hpp"

namespace qmv::cli {
namespace {

struct ReadRow {
  const char* field;
  Value expected;
};

class SheetCsvTest : public ::testing::Test {
 protected:
  memory::MemoryApplication app;
  void SetUp() override { app.addWorkbook(); }
};

TEST_F(SheetCsvTest, ReadsEveryFieldAsTypedInput) {
  const std::vector<ReadRow> rows = {
      {"12", 12.0},
      {"007", 7.0},
      {"-1.5", -1.5},
      {"50%", 0.5},
      {"TRUE", true},
      {"false", false},
      {"1/2/2007", DateTime{39084}},
      {"abc", std::u16string(u"abc")},
      {"'007", std::u16string(u"007")},
      {"'TRUE", std::u16string(u"TRUE")},
      {"''x", std::u16string(u"'x")},
      {"'", std::u16string()},
      {"=A1+1", std::u16string(u"=A1+1")},
      {"=", std::u16string(u"=")},
      {"#DIV/0!", std::u16string(u"#DIV/0!")},
      {" 12", 12.0},
  };
  std::string csv;
  for (const auto& row : rows) csv += std::string(row.field) + "\n";
  loadCsv(app, csv);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].field);
    const CellContent cell = app.cell({static_cast<int64_t>(i) + 1, 1});
    EXPECT_TRUE(sameValue(cell.value, rows[i].expected)) << formatContent(cell);
    EXPECT_FALSE(cell.isFormula());
  }
}

struct WriteRow {
  const char* name;
  CellContent content;
  std::u16string field;
};

TEST_F(SheetCsvTest, WritesTextsThatWouldReadBackAsSomethingElseWithAnApostrophe) {
  const std::vector<WriteRow> rows = {
      {"plain text", {u"abc", {}}, u"abc"},
      {"digits as text", {u"12", {}}, u"'12"},
      {"leading zeros", {u"007", {}}, u"'007"},
      {"Boolean word", {u"TRUE", {}}, u"'TRUE"},
      {"date-like text", {u"1/2", {}}, u"'1/2"},
      {"padded number", {u" 12 ", {}}, u"' 12 "},
      {"leading apostrophe", {u"'x", {}}, u"''x"},
      {"empty text", {u"", {}}, u"'"},
      {"equals sign stays as it is", {u"=A1", {}}, u"=A1"},
      {"spaces only", {u"  ", {}}, u"  "},
      {"number", {1234.5, {}}, u"1234.5"},
      {"Boolean", {false, {}}, u"FALSE"},
      {"date", {DateTime{39084}, {}}, u"1/2/2007"},
      {"error value", {CellError::NA, {}}, u"#N/A"},
      {"formula gives its value", {3.0, u"=1+2"}, u"3"},
      {"empty cell", {}, u""},
  };
  const FieldReader reader = fieldReaderOf(app);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(reader.write(row.content), row.field);
  }
}

TEST_F(SheetCsvTest, ReadingAndWritingBackGivesTheSameCells) {
  const std::vector<CellContent> cells = {
      {u"abc", {}},
      {u"12", {}},
      {u"007", {}},
      {u"TRUE", {}},
      {u"'quoted", {}},
      {u"", {}},
      {u"=not a formula", {}},
      {u" 5", {}},
      {u"a,b", {}},
      {u"say \"hi\"", {}},
      {u"two\r\nlines", {}},
      {u"caf\u00e9", {}},
      {42.0, {}},
      {-0.25, {}},
      {1e20, {}},
      {true, {}},
      {DateTime{39084.6425}, {}},
      {u"1/2/2007", {}},
      {u"50%", {}},
  };
  for (std::size_t i = 0; i < cells.size(); ++i) {
    app.setCell({static_cast<int64_t>(i / 4) + 1, static_cast<int64_t>(i % 4) + 1}, cells[i]);
  }
  const std::string csv = sheetCsv(app, nullptr, CsvWriteOptions{});

  memory::MemoryApplication again;
  again.addWorkbook();
  loadCsv(again, csv);
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const CellRef at{static_cast<int64_t>(i / 4) + 1, static_cast<int64_t>(i % 4) + 1};
    SCOPED_TRACE(formatContent(cells[i]));
    EXPECT_TRUE(sameContent(again.cell(at), cells[i])) << formatContent(again.cell(at));
  }
  // And once more gives the same file.
  EXPECT_EQ(sheetCsv(again, nullptr, CsvWriteOptions{}), csv);
}

TEST_F(SheetCsvTest, KeepsTheShapeLineBreaksAndMarkOfTheFile) {
  const std::string csv = "\xEF\xBB\xBFname,code\nx,1\n\ny,2,extra\n";
  const CsvLayout layout = loadCsv(app, csv);
  EXPECT_EQ(layout.fieldCounts, (std::vector<uint32_t>{2, 2, 1, 3}));
  EXPECT_TRUE(layout.byteOrderMark);
  EXPECT_EQ(layout.lineBreak, "\n");
  EXPECT_EQ(layout.cells, 7u);
  const std::string back =
      sheetCsv(app, &layout, CsvWriteOptions{',', layout.lineBreak, layout.byteOrderMark});
  EXPECT_EQ(back, csv);
}

TEST_F(SheetCsvTest, AnEmptySheetWritesAnEmptyFile) {
  EXPECT_EQ(sheetCsv(app, nullptr, CsvWriteOptions{}), "");
  const CsvLayout layout = loadCsv(app, "");
  EXPECT_TRUE(layout.fieldCounts.empty());
  EXPECT_EQ(sheetCsv(app, &layout, CsvWriteOptions{}), "");
}

TEST_F(SheetCsvTest, WritesFromA1ToTheLastUsedCell) {
  app.setCell({2, 3}, CellContent{u"x", {}});
  EXPECT_EQ(sheetCsv(app, nullptr, CsvWriteOptions{}), ",,\r\n,,x\r\n");
}

struct LoadErrorRow {
  const char* name;
  std::string csv;
  const char* message;
};

TEST_F(SheetCsvTest, RefusesWhatASheetCannotHold) {
  const std::vector<LoadErrorRow> rows = {
      {"malformed", "a,b\n\"open", "line 2, column 1: a quoted field is not closed"},
      {"too long a field", "ok\n" + std::string(32768, 'x'),
       "line 2, field 1: 32,768 characters, more than the 32,767 a cell holds"},
      {"too many columns", std::string(16384, ','), "16,385 fields, more than the 16,384 columns"},
      {"not UTF-8", "a\n\xFF", "not valid UTF-8"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    memory::MemoryApplication fresh;
    fresh.addWorkbook();
    try {
      loadCsv(fresh, row.csv);
      ADD_FAILURE() << "loaded";
    } catch (const CsvLoadError& e) {
      EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
    }
  }
}

TEST_F(SheetCsvTest, AFieldOfExactlyACellsLengthIsRead) {
  loadCsv(app, std::string(32767, 'x'));
  EXPECT_EQ(std::get<std::u16string>(app.cell({1, 1}).value).size(), 32767u);
}

}  // namespace
}  // namespace qmv::cli
