// CSV at the field level, after RFC 4180: fields separated by commas, records ended by a
// line break (CRLF, LF or a lone CR), quoted fields holding commas, quotes (doubled) and
// line breaks. The text is UTF-8; a leading byte-order mark is accepted. Malformed input
// is reported as a CsvError with its line and column, never read half-way in silence.
//
// A record has at least one field: an empty line is one record with one empty field, so
// that line numbers and sheet rows stay aligned. A line break at the very end of the input
// ends the last record and does not start another.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmv::cli {

/// One record: its fields in UTF-8, unquoted.
using CsvRecord = std::vector<std::string>;

/// Where and why the input is malformed.
struct CsvError {
  std::size_t line = 0;    ///< 1-based
  std::size_t column = 0;  ///< 1-based, in characters from the start of the line
  std::string message;

  /// "line L, column C: MESSAGE".
  std::string describe() const;
};

/// Reads records one at a time from text held in memory (the text must outlive the reader).
class CsvReader {
 public:
  explicit CsvReader(std::string_view text, char delimiter = ',');

  /// Reads the next record into `fields`; false at the end of the input or on an error.
  bool next(CsvRecord& fields);
  /// The error that stopped reading; absent while the input is well-formed.
  const std::optional<CsvError>& error() const { return error_; }
  /// Line on which the record last read begins (1-based).
  std::size_t recordLine();
  /// True when the input began with a UTF-8 byte-order mark.
  bool byteOrderMark() const { return byteOrderMark_; }
  /// The first line break that ended a record ("\r\n", "\n" or "\r"); empty before one.
  std::string_view lineBreak() const { return lineBreak_; }

 private:
  void fail(std::size_t offset, std::string message);
  void locate(std::size_t offset, std::size_t& line, std::size_t& column);

  std::string_view text_;
  char delimiter_;
  std::size_t pos_ = 0;
  std::size_t recordStart_ = 0;
  bool byteOrderMark_ = false;
  std::string_view lineBreak_;
  std::optional<CsvError> error_;
  // Position cache for locate(): line number and line start of `scanned_`.
  std::size_t scanned_ = 0;
  std::size_t scannedLine_ = 1;
  std::size_t scannedLineStart_ = 0;
};

/// Every record of a CSV text, or the first error (with the records before it).
struct CsvDocument {
  std::vector<CsvRecord> records;
  std::optional<CsvError> error;
  bool byteOrderMark = false;
  /// The input's line break, "\r\n" when it has none.
  std::string lineBreak = "\r\n";
};

/// Reads a whole CSV text.
CsvDocument readCsv(std::string_view text, char delimiter = ',');

/// How records are written.
struct CsvWriteOptions {
  char delimiter = ',';
  std::string lineBreak = "\r\n";
  bool byteOrderMark = false;
};

/// True when the field must be quoted: it holds the delimiter, a quote or a line break.
bool csvNeedsQuotes(std::string_view field, char delimiter = ',');

/// Finds the first of up to four bytes (CSV's few special ones) eight bytes at a time.
class ByteFinder {
 public:
  ByteFinder(char a, char b, char c, char d)
      : a_(broadcast(a)),
        b_(broadcast(b)),
        c_(broadcast(c)),
        d_(broadcast(d)),
        bytes_{a, b, c, d} {}

  /// The first byte in [p, end) that is one of the four; `end` when none is.
  const char* find(const char* p, const char* end) const {
    // Little-endian words only: there the lowest bit is the first byte in memory.
    if constexpr (std::endian::native == std::endian::little) {
      for (; end - p >= 8; p += 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        const uint64_t hits = equal(word, a_) | equal(word, b_) | equal(word, c_) | equal(word, d_);
        if (hits != 0) return p + (std::countr_zero(hits) >> 3);
      }
    }
    for (; p < end; ++p) {
      if (*p == bytes_[0] || *p == bytes_[1] || *p == bytes_[2] || *p == bytes_[3]) return p;
    }
    return end;
  }

 private:
  static constexpr uint64_t kOnes = 0x0101010101010101ULL;
  static uint64_t broadcast(char byte) { return static_cast<unsigned char>(byte) * kOnes; }
  // High bits at the bytes of `word` equal to the broadcast byte; the lowest one set is
  // exact (a borrow may only set bits above a real match).
  static uint64_t equal(uint64_t word, uint64_t byte) {
    const uint64_t x = word ^ byte;
    return (x - kOnes) & ~x & 0x8080808080808080ULL;
  }

  uint64_t a_, b_, c_, d_;
  std::array<char, 4> bytes_;
};
/// Appends one field in quotes, its quotes doubled.
void appendQuotedCsvField(std::string& out, std::string_view field);
/// "0xFF": a byte as messages name it.
std::string hexByte(unsigned char byte);
/// Appends one field, quoted (with its quotes doubled) when it needs quotes.
void appendCsvField(std::string& out, std::string_view field, char delimiter = ',');
/// Appends one record and its line break. Fields are UTF-8.
void appendCsvRecord(std::string& out, const CsvRecord& fields, const CsvWriteOptions& options);
/// Writes records (each ended by the line break), with the byte-order mark when asked.
std::string writeCsv(const std::vector<CsvRecord>& records, const CsvWriteOptions& options = {});

}  // namespace qmv::cli
