// Checks the workbook reader on arbitrary input: it reads or refuses with XlsxError, and
// what it reads survives a rewrite: every constant cell written back as a new element
// reads back as the same value (a date as its serial number). The input is also read as a
// calculation chain, whose edit must be idempotent.
//
// Input: byte 0 picks the mode. Even: the rest is the XML of the first worksheet of a
// small fixed package (shared strings, a date format). Odd: the rest is a whole package.
#include <unistd.h>
#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tools/xlsx/calc_chain.hpp"
#include "tools/xlsx/workbook.hpp"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

const std::vector<std::pair<const char*, std::string>>& fixedParts() {
  static const std::vector<std::pair<const char*, std::string>> parts = {
      {"_rels/.rels",
       R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)"},
      {"xl/workbook.xml",
       R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>)"},
      {"xl/_rels/workbook.xml.rels",
       R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/><Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/></Relationships>)"},
      {"xl/sharedStrings.xml",
       R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><si><t>a1</t></si><si><r><t>b</t></r><r><t> 2</t></r></si><si><t>_x0041_</t><rPh><t>x</t></rPh></si></sst>)"},
      {"xl/styles.xml",
       R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><cellXfs><xf numFmtId="0"/><xf numFmtId="14"/></cellXfs></styleSheet>)"},
  };
  return parts;
}

std::string scratch(const char* name) {
  return "/tmp/fuzz_xlsx_" + std::to_string(::getpid()) + "_" + name;
}

void writeFixedPackage(const std::string& path, const std::string& sheet) {
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  require(zip != nullptr);
  auto add = [&](const char* name, const std::string& bytes) {
    zip_source_t* source = zip_source_buffer(zip, bytes.data(), bytes.size(), 0);
    require(source != nullptr && zip_file_add(zip, name, source, 0) >= 0);
  };
  for (const auto& [name, bytes] : fixedParts()) add(name, bytes);
  add("xl/worksheets/sheet1.xml", sheet);
  require(zip_close(zip) == 0);
}

using Cells = std::map<std::pair<int64_t, int64_t>, qmv::Value>;

Cells constants(const qmv::xlsx::Workbook& book, std::size_t sheet) {
  Cells cells;
  book.forEachCell(sheet, [&](const qmv::xlsx::SheetCell& cell) {
    if (cell.formula) return;
    // A date goes back as its serial number in the cell's own format (what Value2 sees),
    // since Excel 2007 reads no t="d" cells.
    qmv::Value value = book.valueOf(cell);
    if (const auto* date = std::get_if<qmv::DateTime>(&value)) value = date->serial;
    cells[{cell.ref.row, cell.ref.column}] = value;
  });
  return cells;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string input = scratch("in.xlsx");
  const std::string output = scratch("out.xlsx");
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] % 2 == 0) {
    writeFixedPackage(input, rest);
  } else {
    std::ofstream(input, std::ios::binary | std::ios::trunc) << rest;
  }
  // The same bytes as a calculation chain: taking the cells of even rows out leaves a
  // chain from which a second pass takes nothing more and to which it adds nothing.
  try {
    const qmv::xlsx::ChainFilter evenRows = [](uint32_t, qmv::CellRef ref) {
      return ref.row % 2 == 0;
    };
    if (const auto chain = qmv::xlsx::calcChainWithout(rest, "chain", evenRows)) {
      require(qmv::xlsx::calcChainWithout(*chain, "chain", evenRows) == chain);
    }
  } catch (const qmv::xlsx::XlsxError&) {
  }
  qmv::xlsx::Limits limits;
  limits.maxPartBytes = 1 << 20;
  limits.maxTotalBytes = 4 << 20;
  try {
    const auto book = qmv::xlsx::Workbook::open(input, limits);
    for (std::size_t sheet = 0; sheet < book->sheets().size(); ++sheet) {
      if (!book->sheets()[sheet].worksheet) continue;
      const Cells before = constants(*book, sheet);
      book->save(output,
                 {{sheet, [&](const qmv::xlsx::SheetCell& cell) -> std::optional<std::string> {
                     if (cell.formula) return std::nullopt;
                     return qmv::xlsx::cellXml(cell.ref, cell.style, book->valueOf(cell));
                   }}});
      const auto written = qmv::xlsx::Workbook::open(output, limits);
      require(constants(*written, sheet) == before);
    }
  } catch (const qmv::xlsx::XlsxError&) {
  }
  ::unlink(input.c_str());
  ::unlink(output.c_str());
  return 0;
}
