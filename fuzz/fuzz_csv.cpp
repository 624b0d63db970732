// Checks the CSV reader of the command-line tool on arbitrary bytes: it reads or reports
// an error with a place, never reads half-way in silence, and what it read is written back
// as text that reads the same.
//
// Input: byte 0 picks the delimiter (',' ';' or tab); the rest is the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/text.hpp"
#include "tools/qmv/csv.hpp"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static constexpr char kDelimiters[] = {',', ';', '\t'};
  const char delimiter = kDelimiters[data[0] % 3];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const qmv::cli::CsvDocument document = qmv::cli::readCsv(text, delimiter);

  // Invalid UTF-8 anywhere is an error, found by both checks alike.
  const bool valid = qmv::isValidUtf8(text);
  require(valid == !qmv::firstInvalidUtf8(text).has_value());
  if (!valid) require(document.error.has_value());

  if (document.error) {
    require(document.error->line >= 1 && document.error->column >= 1);
    require(!document.error->message.empty());
    require(document.error->describe().find(document.error->message) != std::string::npos);
    return 0;
  }
  for (const auto& record : document.records) {
    require(!record.empty());
    for (const auto& field : record) require(qmv::isValidUtf8(field));
  }

  // The reader one record at a time agrees with the whole-text reader.
  qmv::cli::CsvReader reader(text, delimiter);
  qmv::cli::CsvRecord record;
  std::size_t count = 0;
  while (reader.next(record)) {
    require(count < document.records.size() && record == document.records[count]);
    ++count;
  }
  require(count == document.records.size() && !reader.error());

  // Written back with the same conventions, the records read the same.
  qmv::cli::CsvWriteOptions options;
  options.delimiter = delimiter;
  options.lineBreak = document.lineBreak;
  options.byteOrderMark = document.byteOrderMark;
  const std::string written = qmv::cli::writeCsv(document.records, options);
  const qmv::cli::CsvDocument again = qmv::cli::readCsv(written, delimiter);
  require(!again.error);
  require(again.records == document.records);
  require(again.byteOrderMark == document.byteOrderMark);
  return 0;
}
