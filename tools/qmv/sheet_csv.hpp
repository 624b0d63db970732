// A CSV file as the cells of a sheet, and back.
//
// Reading: every field is read as the host reads typed input (12 is a number, TRUE a
// Boolean, 1/2/2007 a date); a field beginning with an apostrophe is text without it; a
// field beginning with "=" is text (a CSV file holds no formulas). An empty field is an
// empty cell.
//
// Writing: numbers, dates and Booleans in the host's formula notation, a formula as its
// current value, and a text as it stands unless it would read back as something else (a
// number, a date, a Boolean, an empty cell, a text without its leading apostrophe): then
// it gets an apostrophe. Reading a file and writing it back gives the same cells.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/locale.hpp"
#include "host/value.hpp"
#include "platform/memory/memory_application.hpp"
#include "tools/qmv/csv.hpp"

namespace qmv::cli {

/// A CSV input that cannot become a sheet: malformed, or beyond the sheet's limits.
class CsvLoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// How the cells were laid out in the file, so that the result keeps the same shape.
struct CsvLayout {
  std::vector<uint32_t> fieldCounts;  ///< fields of each record, in order
  bool byteOrderMark = false;
  std::string lineBreak = "\r\n";
  std::size_t cells = 0;  ///< non-empty fields read
};

/// How the in-memory host reads a field.
struct FieldReader {
  HostLocale locale;
  int currentYear = 2000;

  /// The value of a field.
  Value read(std::u16string_view field) const;
  /// The field a cell writes as, so that `read` gives its value back (a formula gives its
  /// value; an error value gives its text, which reads back as text).
  std::u16string write(const CellContent& content) const;
  /// True when a text needs the apostrophe to read back as itself.
  bool needsApostrophe(std::u16string_view text) const;
};

/// A reader with the host's locale and current year.
FieldReader fieldReaderOf(memory::MemoryApplication& app);

/// Writes the records of `text` into the active sheet from A1 (the sheet must be empty).
/// Throws CsvLoadError ("line L, column C: ...") for malformed CSV, more rows or columns
/// than a sheet has, or a field longer than a cell holds.
CsvLayout loadCsv(memory::MemoryApplication& app, std::string_view text);

/// The active sheet as CSV: the records of `layout` with their field counts, or, without a
/// layout, every row from 1 to the last used one with the columns from A to the last used.
std::string sheetCsv(memory::MemoryApplication& app, const CsvLayout* layout,
                     const CsvWriteOptions& options);

/// `text`, the CSV that loadCsv read into the active sheet, with only the fields of `cells`
/// (in row, then column order) written anew from their cells as sheetCsv writes them, each
/// keeping the quotes it had; every other byte (fields, quotes, each record's line break,
/// the byte-order mark) is copied.
std::string spliceCsv(memory::MemoryApplication& app, std::string_view text,
                      const std::vector<CellRef>& cells);

}  // namespace qmv::cli
