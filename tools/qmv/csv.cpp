#include "tools/qmv/csv.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "host/text.hpp"

namespace qmv::cli {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

std::string hexByte(unsigned char byte) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "0x%02X", byte);
  return buffer;
}

void appendQuotedCsvField(std::string& out, std::string_view field) {
  out += '"';
  for (const char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

std::string CsvError::describe() const {
  return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message;
}

// ---------------------------------------------------------------------------------------
// Reading

CsvReader::CsvReader(std::string_view text, char delimiter) : text_(text), delimiter_(delimiter) {
  if (text_.size() >= 2 && ((static_cast<unsigned char>(text_[0]) == 0xFF &&
                             static_cast<unsigned char>(text_[1]) == 0xFE) ||
                            (static_cast<unsigned char>(text_[0]) == 0xFE &&
                             static_cast<unsigned char>(text_[1]) == 0xFF))) {
    fail(0, "the text is UTF-16; CSV input must be UTF-8");
    return;
  }
  if (text_.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    byteOrderMark_ = true;
    pos_ = kByteOrderMark.size();
    // Columns count from after the mark.
    scanned_ = scannedLineStart_ = pos_;
  }
  if (auto bad = firstInvalidUtf8(text_.substr(pos_))) {
    const std::size_t offset = pos_ + *bad;
    fail(offset, "the text is not valid UTF-8 (byte " +
                     hexByte(static_cast<unsigned char>(text_[offset])) + ")");
  }
}

void CsvReader::fail(std::size_t offset, std::string message) {
  CsvError error;
  locate(offset, error.line, error.column);
  error.message = std::move(message);
  error_ = std::move(error);
}

void CsvReader::locate(std::size_t offset, std::size_t& line, std::size_t& column) {
  if (offset < scanned_) {
    scanned_ = scannedLineStart_ = byteOrderMark_ ? kByteOrderMark.size() : 0;
    scannedLine_ = 1;
  }
  for (std::size_t i = scanned_; i < offset; ++i) {
    const char c = text_[i];
    // CRLF counts once, at its LF; a lone CR is a line break of its own.
    if (c == '\n' || (c == '\r' && (i + 1 >= text_.size() || text_[i + 1] != '\n'))) {
      ++scannedLine_;
      scannedLineStart_ = i + 1;
    }
  }
  scanned_ = offset;
  line = scannedLine_;
  column = 1;
  const std::size_t end = std::min(offset, text_.size());
  for (std::size_t i = scannedLineStart_; i < end; ++i) {
    if (!isUtf8Continuation(text_[i])) ++column;
  }
}

std::size_t CsvReader::recordLine() {
  std::size_t line = 0;
  std::size_t column = 0;
  locate(recordStart_, line, column);
  return line;
}

bool CsvReader::next(CsvRecord& fields) {
  fields.clear();
  if (error_ || pos_ >= text_.size()) return false;
  recordStart_ = pos_;
  const std::size_t size = text_.size();
  const char* data = text_.data();
  for (;;) {
    if (pos_ < size && data[pos_] == '"') {
      const std::size_t opening = pos_++;
      std::string field;
      for (;;) {
        const std::size_t quote = text_.find('"', pos_);
        if (quote == std::string_view::npos) {
          fail(opening, "a quoted field is not closed");
          fields.clear();
          return false;
        }
        field.append(data + pos_, quote - pos_);
        pos_ = quote + 1;
        if (pos_ < size && data[pos_] == '"') {
          field += '"';
          ++pos_;
          continue;
        }
        break;
      }
      if (pos_ < size && data[pos_] != delimiter_ && data[pos_] != '\r' && data[pos_] != '\n') {
        fail(pos_, std::string("a closing quote must be followed by '") + delimiter_ +
                       "' or the end of the line");
        fields.clear();
        return false;
      }
      fields.push_back(std::move(field));
    } else {
      const std::size_t start = pos_;
      while (pos_ < size && data[pos_] != delimiter_ && data[pos_] != '\r' && data[pos_] != '\n') {
        ++pos_;
      }
      fields.emplace_back(data + start, pos_ - start);
    }
    if (pos_ >= size) return true;
    if (data[pos_] == delimiter_) {
      ++pos_;
      continue;
    }
    const std::size_t breakStart = pos_;
    pos_ += (data[pos_] == '\r' && pos_ + 1 < size && data[pos_ + 1] == '\n') ? 2 : 1;
    if (lineBreak_.empty()) lineBreak_ = text_.substr(breakStart, pos_ - breakStart);
    return true;
  }
}

CsvDocument readCsv(std::string_view text, char delimiter) {
  CsvDocument document;
  CsvReader reader(text, delimiter);
  CsvRecord record;
  while (reader.next(record)) document.records.push_back(std::move(record));
  document.error = reader.error();
  document.byteOrderMark = reader.byteOrderMark();
  if (!reader.lineBreak().empty()) document.lineBreak = std::string(reader.lineBreak());
  return document;
}

// ---------------------------------------------------------------------------------------
// Writing

bool csvNeedsQuotes(std::string_view field, char delimiter) {
  const char* end = field.data() + field.size();
  return ByteFinder(delimiter, '"', '\r', '\n').find(field.data(), end) != end;
}

void appendCsvField(std::string& out, std::string_view field, char delimiter) {
  // At the very start of the text an unquoted U+FEFF would read back as a byte-order mark
  // and be lost.
  const bool readsAsMark = out.empty() && field.starts_with(kByteOrderMark);
  if (!csvNeedsQuotes(field, delimiter) && !readsAsMark) {
    out.append(field);
    return;
  }
  appendQuotedCsvField(out, field);
}

void appendCsvRecord(std::string& out, const CsvRecord& fields, const CsvWriteOptions& options) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += options.delimiter;
    appendCsvField(out, fields[i], options.delimiter);
  }
  out += options.lineBreak;
}

std::string writeCsv(const std::vector<CsvRecord>& records, const CsvWriteOptions& options) {
  std::string out;
  if (options.byteOrderMark) out.append(kByteOrderMark);
  for (const auto& record : records) appendCsvRecord(out, record, options);
  return out;
}

}  // namespace qmv::cli
