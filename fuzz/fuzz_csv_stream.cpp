// Checks the streaming CSV reader of the command-line tool on arbitrary bytes fed in
// pieces of arbitrary sizes: it finds the records the whole-text reader finds (or an error
// when that one finds one, the same for valid UTF-8), and the records' texts and line
// breaks give back every byte.
//
// Input: byte 0 picks the delimiter (',' ';' or tab), byte 1 the size of the pieces; the
// rest is the file (after its byte-order mark, which the encoding layer takes off).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/text.hpp"
#include "tests/support/piece_source.hpp"
#include "tools/qmv/csv.hpp"
#include "tools/qmv/csv_stream.hpp"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

using qmv::testing::PieceSource;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static constexpr char kDelimiters[] = {',', ';', '\t'};
  const char delimiter = kDelimiters[data[0] % 3];
  const std::size_t piece = 1 + data[1] % 16;
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  // Byte-order marks are the encoding layer's business, not the reader's.
  if (text.starts_with("\xEF\xBB\xBF") || text.starts_with("\xFF\xFE") ||
      text.starts_with("\xFE\xFF")) {
    return 0;
  }

  const qmv::cli::CsvDocument whole = qmv::cli::readCsv(text, delimiter);
  PieceSource source(text, piece);
  qmv::cli::CsvStreamReader reader(source, delimiter, true);
  qmv::cli::RawRecord record;
  std::string scratch;
  std::string bytes;
  std::size_t count = 0;
  // The whole-text reader refuses malformed UTF-8 before reading any record.
  const bool valid = !qmv::firstInvalidUtf8(text).has_value();
  try {
    while (reader.next(record)) {
      bytes.append(record.text);
      bytes.append(record.lineBreak);
      if (!valid) continue;
      require(count < whole.records.size());
      const qmv::cli::CsvRecord& expected = whole.records[count];
      require(record.fields.size() == expected.size());
      for (std::size_t i = 0; i < expected.size(); ++i) {
        require(record.value(i, scratch) == expected[i]);
      }
      ++count;
    }
  } catch (const qmv::cli::CsvFormatError& e) {
    require(whole.error.has_value());
    // Both readers name the same place of malformed UTF-8 text; the whole-text reader
    // checks the encoding before the quotes, the streaming one record by record, so with
    // bad bytes either may be found first.
    if (valid) require(e.what() == whole.error->describe());
    return 0;
  }
  require(!whole.error);
  require(count == whole.records.size());
  require(bytes == text);
  return 0;
}
