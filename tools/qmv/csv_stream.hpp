// CSV read record by record from a stream of UTF-8 bytes, keeping every byte: each field's
// raw text (quotes included), the delimiters and each record's own line break, so that a
// record can be written back exactly as it was read, field by field. The dialect is the
// one of csv.hpp (RFC 4180 with CRLF, LF or lone CR line breaks, any one-byte delimiter);
// memory holds one record at a time, however long the input.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/qmv/csv.hpp"

namespace qmv::cli {

/// Where and why the input is not CSV (or not UTF-8); what() is "line L, column C: ...".
class CsvFormatError : public std::runtime_error {
 public:
  explicit CsvFormatError(const CsvError& error) : std::runtime_error(error.describe()) {}
  explicit CsvFormatError(const std::string& message) : std::runtime_error(message) {}
};

/// Supplies bytes; read() returns 0 at the end.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::size_t read(char* out, std::size_t capacity) = 0;
};

/// One field of a record: where its raw text lies in the record, and whether it is quoted.
struct RawField {
  std::size_t begin = 0;
  std::size_t end = 0;
  bool quoted = false;
};

/// One record as read. Views stay valid until the reader reads the next record.
struct RawRecord {
  std::string_view text;       ///< the record's bytes without its line break
  std::string_view lineBreak;  ///< "\r\n", "\n", "\r", or "" for a last record without one
  std::vector<RawField> fields;
  std::size_t line = 0;  ///< 1-based line on which the record begins

  std::string_view raw(std::size_t i) const {
    return text.substr(fields[i].begin, fields[i].end - fields[i].begin);
  }
  /// The field's value: unquoted, its doubled quotes made single (in `scratch` then).
  std::string_view value(std::size_t i, std::string& scratch) const;
};

/// Reads records one at a time. Throws CsvFormatError for malformed input and for bytes
/// that are not UTF-8 (when asked to check), and whatever the source throws.
class CsvStreamReader {
 public:
  /// Without `quoting` a quote is a byte like any other (tab-separated text as its media
  /// type defines it: a field holds no tab or line break, and nothing is quoted).
  CsvStreamReader(ByteSource& source, char delimiter, bool checkUtf8, bool quoting = true);

  /// The next record; false at the end of the input.
  bool next(RawRecord& record);

  /// The bytes read past the last record handed out up to the last LF read (none when no
  /// LF came after it), for a caller that takes simple records from the buffer itself (see
  /// skip). They may end inside a record, when that LF is in a quoted field.
  std::string_view unreadLines() const {
    return held().substr(start_, lineEnd_ > start_ ? lineEnd_ - start_ : 0);
  }
  /// Passes over the first `bytes` of unreadLines(), which the caller took as `records` whole
  /// records, each of unquoted ASCII fields on one line.
  void skip(std::size_t bytes, std::size_t records) {
    start_ += bytes;
    line_ += records;
  }

 private:
  /// Reads more input behind what is buffered; false at the end of the input.
  bool refill();
  /// Parses the record at `start_`; false when the buffer ends before the record does.
  bool parse(RawRecord& record);
  /// Checks the UTF-8 of the bytes read since the last check, to the last whole character.
  void checkUtf8();
  [[noreturn]] void fail(const RawRecord& record, std::size_t offset, std::string message) const;

  ByteSource& source_;
  char delimiter_;
  bool quoting_;
  ByteFinder fieldEnd_;  ///< the end of an unquoted field
  bool checkUtf8_;
  std::string_view held() const { return {buffer_.data(), filled_}; }

  std::string buffer_;  ///< read bytes, the first filled_ of them
  std::size_t filled_ = 0;
  std::size_t start_ = 0;               ///< where the next record begins in buffer_
  std::size_t checked_ = 0;             ///< bytes of buffer_ found to be UTF-8
  std::size_t lineEnd_ = 0;             ///< just past the last LF in buffer_ (0: none)
  std::optional<std::size_t> invalid_;  ///< the first byte of buffer_ that is not
  bool ended_ = false;
  std::size_t line_ = 1;
};

/// Appends a field's new value: quoted (quotes doubled) when it needs quotes or when
/// `quoted` asks to keep the quotes the field had.
void appendField(std::string& out, std::string_view value, char delimiter, bool quoted);

}  // namespace qmv::cli
