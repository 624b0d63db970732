// The workbook reader: date formats, the string escapes, the cell elements it writes, the
// cells it streams, and its refusal of hostile or foreign packages.
#include <gtest/gtest.h>

#include "host/text.hpp"
#include "tests/tools/xlsx/xlsx_fixture.hpp"
#include "tools/xlsx/workbook.hpp"

namespace qmv::xlsx::testing {
namespace {

TEST(XlsxReader, KnowsTheDateFormats) {
  struct Row {
    const char* name;
    uint32_t id;
    const char* code;
    bool date;
  };
  const std::vector<Row> rows = {
      {"built-in short date", 14, "", true},
      {"built-in time", 21, "", true},
      {"built-in general", 0, "", false},
      {"built-in percent", 10, "", false},
      {"built-in text", 49, "", false},
      {"custom date", 164, "yyyy-mm-dd", true},
      {"custom time", 165, "h:mm AM/PM", true},
      {"elapsed hours", 166, "[h]:mm", true},
      {"currency with a locale", 167, "[$-409]#,##0.00", false},
      {"colour and a quoted d", 168, "[Red]0.00\" days\"", false},
      {"escaped letters", 169, "0\\d", false},
      {"general with text", 170, "General", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(isDateFormat(row.id, row.code), row.date);
  }
}

TEST(XlsxReader, EscapesWhatXmlCannotCarry) {
  struct Row {
    const char* name;
    std::u16string text;
    std::string xml;
  };
  const std::vector<Row> rows = {
      {"plain", u"abc", "abc"},
      {"markup", u"a<b>&c", "a&lt;b&gt;&amp;c"},
      {"control characters",
       std::u16string(u"a\x01"
                      u"b\rc\td\n"),
       "a_x0001_b_x000D_c\td\n"},
      {"a literal escape form", u"x_x0041_y", "x_x005F_x0041_y"},
      {"almost an escape form", u"_x12G4_", "_x12G4_"},
      {"a lone surrogate", std::u16string(1, char16_t(0xD800)), "_xD800_"},
      {"a surrogate pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
      {"umlaut", u"Stra\u00dfe",
       "Stra\xC3\x9F"
       "e"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string xml = escapeStringText(row.text);
    EXPECT_EQ(xml, row.xml);
    // Reading back (after the XML parser's own unescaping of &lt; and the like).
    std::string unescaped = xml;
    for (const auto& [entity, c] : std::vector<std::pair<std::string, std::string>>{
             {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
      for (std::size_t at; (at = unescaped.find(entity)) != std::string::npos;) {
        unescaped.replace(at, entity.size(), c);
      }
    }
    EXPECT_EQ(decodeStringText(toUtf16(unescaped)), row.text);
  }
}

TEST(XlsxReader, WritesCellElements) {
  struct Row {
    const char* name;
    std::optional<uint32_t> style;
    Value value;
    std::string xml;
  };
  const std::vector<Row> rows = {
      {"empty keeps the style", 3u, std::monostate{}, R"(<c r="B3" s="3"/>)"},
      {"full clear", std::nullopt, std::monostate{}, R"(<c r="B3"/>)"},
      {"number", std::nullopt, 1234.5, R"(<c r="B3"><v>1234.5</v></c>)"},
      {"number round trip", std::nullopt, 0.1 + 0.2, R"(<c r="B3"><v>0.30000000000000004</v></c>)"},
      {"Boolean", 1u, false, R"(<c r="B3" s="1" t="b"><v>0</v></c>)"},
      {"date", 2u, DateTime{39084.5}, R"(<c r="B3" s="2"><v>39084.5</v></c>)"},
      {"error", std::nullopt, CellError::NA, R"(<c r="B3" t="e"><v>#N/A</v></c>)"},
      {"text", std::nullopt, std::u16string(u"a&b"),
       R"(<c r="B3" t="inlineStr"><is><t>a&amp;b</t></is></c>)"},
      {"text with edge spaces", std::nullopt, std::u16string(u" a "),
       R"(<c r="B3" t="inlineStr"><is><t xml:space="preserve"> a </t></is></c>)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(cellXml(CellRef{3, 2}, row.style, row.value), row.xml);
  }
}

TEST(XlsxReader, WritesReferencesAndThePartsPrefix) {
  struct Row {
    const char* name;
    CellRef ref;
    std::string_view prefix;
    Value value;
    std::string xml;
  };
  const std::vector<Row> rows = {
      {"last single-letter column", {1, 26}, "", 2.0, R"(<c r="Z1"><v>2</v></c>)"},
      {"first two-letter column", {10, 27}, "", 2.0, R"(<c r="AA10"><v>2</v></c>)"},
      {"last cell of the sheet", {1048576, 16384}, "", std::monostate{}, R"(<c r="XFD1048576"/>)"},
      {"prefixed number", {2, 1}, "x", 1.5, R"(<x:c r="A2"><x:v>1.5</x:v></x:c>)"},
      {"prefixed text",
       {2, 1},
       "x",
       std::u16string(u"a"),
       R"(<x:c r="A2" t="inlineStr"><x:is><x:t>a</x:t></x:is></x:c>)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(cellXml(row.ref, std::nullopt, row.value, row.prefix), row.xml);
  }
}

TEST(XlsxReader, StreamsTheCellsWithTheirTypes) {
  TempFolder folder;
  const auto book = Workbook::open(buildWorkbook(folder, "book.xlsx"));
  ASSERT_EQ(book->sheets().size(), 2u);
  EXPECT_EQ(book->sheets()[0].name, u"Data");
  EXPECT_EQ(book->activeSheet(), 1u);
  EXPECT_EQ(book->findSheet(u"DATA"), std::optional<std::size_t>(0));
  std::map<std::string, Value> values;
  std::map<std::string, bool> formulas;
  book->forEachCell(0, [&](const SheetCell& cell) {
    values[cellReference(cell.ref)] = book->valueOf(cell);
    formulas[cellReference(cell.ref)] = cell.formula;
  });
  struct Row {
    const char* cell;
    Value value;
    bool formula;
  };
  const std::vector<Row> rows = {
      {"A1", std::u16string(u"Order 123"), false},
      {"A2", 1234.5, false},
      {"A4", true, false},
      {"A5", DateTime{39084}, false},
      {"A6", 9.0, true},
      {"A8", std::u16string(u"007"), false},
      {"B6", 2.0, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.cell);
    ASSERT_TRUE(values.contains(row.cell));
    EXPECT_EQ(values[row.cell], row.value);
    EXPECT_EQ(formulas[row.cell], row.formula);
  }
}

struct HostileRow {
  const char* name;
  std::string edit;  ///< Python over `parts`; empty: `raw` is the whole file
  std::string raw;
  const char* extension;
  const char* message;
};

TEST(XlsxReader, RefusesHostileAndForeignFilesWithOneLine) {
  const std::string ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  const std::vector<HostileRow> rows = {
      {"an OLE compound file (encrypted)", "", ole + std::string(504, '\0'), "xlsx",
       "encrypted or password-protected"},
      {"a legacy .xls", "", ole, "xls", "legacy .xls"},
      {"a binary .xlsb", "", "PK", "xlsb", "binary .xlsb"},
      {"not a zip at all", "", "name,value\n", "xlsx", "not an .xlsx workbook"},
      {"a zip bomb", "parts.append(['xl/media/pad.bin', bytes(8 << 20)])", "", "xlsx", "zip bomb"},
      {"a climbing entry", "parts.append(['../evil.txt', b'x'])", "", "xlsx", "climbs out"},
      {"an absolute entry", "parts.append(['/etc/evil', b'x'])", "", "xlsx", "absolute path"},
      {"a duplicate entry", "parts.append(['xl/worksheets/sheet1.xml', b'<x/>'])", "", "xlsx",
       "twice"},
      {"a duplicate entry in other case", "parts.append(['XL/Worksheets/Sheet1.xml', b'<x/>'])", "",
       "xlsx", "twice"},
      {"a missing sheet part", "parts = [p for p in parts if p[0] != 'xl/worksheets/sheet1.xml']",
       "", "xlsx", "is missing"},
      {"a missing workbook part", "parts = [p for p in parts if p[0] != 'xl/workbook.xml']", "",
       "xlsx", "is missing"},
      {"no package relationships", "parts = [p for p in parts if p[0] != '_rels/.rels']", "",
       "xlsx", "is missing"},
      {"malformed sheet XML",
       "parts = [[n, b[:len(b)//2] if n == 'xl/worksheets/sheet1.xml' else b] for n, b in parts]",
       "", "xlsx", "malformed XML"},
      {"a document type declaration",
       "parts = [[n, b.replace(b'?>', b'?><!DOCTYPE x [<!ENTITY a \"aaaa\">]>', 1) if n == "
       "'xl/worksheets/sheet1.xml' else b] for n, b in parts]",
       "", "xlsx", "document type declaration"},
      {"a row past the sheet",
       "parts = [[n, b.replace(b'<row r=\"9\"', b'<row r=\"1048577\"') if n == "
       "'xl/worksheets/sheet1.xml' else b] for n, b in parts]",
       "", "xlsx", "outside the sheet"},
      {"a column past the sheet",
       "parts = [[n, b.replace(b'r=\"B1\"', b'r=\"XFE1\"') if n == "
       "'xl/worksheets/sheet1.xml' else b] for n, b in parts]",
       "", "xlsx", "outside the sheet"},
      {"a protected sheet",
       "parts = [[n, b.replace(b'</sheetData>', b'</sheetData><sheetProtection sheet=\"1\" "
       "objects=\"1\"/>') if n == 'xl/worksheets/sheet1.xml' else b] for n, b in parts]",
       "", "xlsx", "is protected"},
  };
  for (const HostileRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempFolder folder;
    const std::string file = folder.file(std::string("bad.") + row.extension);
    if (row.edit.empty()) {
      folder.write(std::string("bad.") + row.extension, row.raw);
    } else {
      alterPackage(folder, buildWorkbook(folder, "good.xlsx"), file, row.edit);
    }
    const std::size_t files = folder.count();
    const Ran ran = qmv({"apply", "RNUM", file, "--sheet", "Data", "-o", folder.file("out.xlsx")});
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find(row.message), std::string::npos) << ran.err;
    EXPECT_EQ(std::count(ran.err.begin(), ran.err.end(), '\n'), 1) << ran.err;
    EXPECT_EQ(folder.count(), files) << "no output and no temporary file is left";
  }
}

}  // namespace
}  // namespace qmv::xlsx::testing
