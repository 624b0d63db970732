#include "tools/qmv/csv_stream.hpp"

#include <algorithm>
#include <cstring>

namespace qmv::cli {
namespace {

constexpr std::size_t kReadBytes = 1 << 16;

bool isContinuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// Line breaks inside `text`; CRLF counts once.
std::size_t lineBreaksIn(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
      ++count;
    }
  }
  return count;
}

}  // namespace

std::string_view RawRecord::value(std::size_t i, std::string& scratch) const {
  const std::string_view field = raw(i);
  if (!fields[i].quoted) return field;
  const std::string_view inner = field.substr(1, field.size() - 2);
  if (inner.find('"') == std::string_view::npos) return inner;
  scratch.clear();
  for (std::size_t k = 0; k < inner.size(); ++k) {
    scratch += inner[k];
    if (inner[k] == '"') ++k;  // the second quote of a pair
  }
  return scratch;
}

CsvStreamReader::CsvStreamReader(ByteSource& source, char delimiter, bool checkUtf8)
    : source_(source), delimiter_(delimiter), checkUtf8_(checkUtf8) {}

bool CsvStreamReader::refill() {
  if (ended_) return false;
  if (start_ > 0) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  chunk_.resize(kReadBytes);
  const std::size_t got = source_.read(chunk_.data(), chunk_.size());
  buffer_.append(chunk_.data(), got);
  if (got == 0) ended_ = true;
  return got > 0;
}

void CsvStreamReader::fail(const RawRecord& record, std::size_t offset, std::string message) const {
  const std::string_view before = std::string_view(buffer_).substr(start_, offset);
  CsvError error;
  error.line = record.line + lineBreaksIn(before);
  std::size_t lineStart = before.find_last_of("\r\n");
  lineStart = lineStart == std::string_view::npos ? 0 : lineStart + 1;
  error.column = 1 + static_cast<std::size_t>(
                         std::count_if(before.begin() + static_cast<std::ptrdiff_t>(lineStart),
                                       before.end(), [](char c) { return !isContinuation(c); }));
  error.message = std::move(message);
  throw CsvFormatError(error);
}

bool CsvStreamReader::parse(RawRecord& record) {
  const char* data = buffer_.data() + start_;
  const std::size_t size = buffer_.size() - start_;
  record.fields.clear();
  record.line = line_;
  std::size_t pos = 0;
  bool multiline = false;
  for (;;) {
    RawField field;
    field.begin = pos;
    if (pos < size && data[pos] == '"') {
      field.quoted = true;
      ++pos;
      // One pass finds the closing quote and any line break inside: fields are short, so
      // a plain loop beats a search call per quote.
      for (;;) {
        while (pos < size && data[pos] != '"') {
          multiline = multiline || data[pos] == '\n' || data[pos] == '\r';
          ++pos;
        }
        if (pos >= size) {
          if (!ended_) return false;
          fail(record, field.begin, "a quoted field is not closed");
        }
        ++pos;
        if (pos >= size && !ended_) return false;  // a doubled quote may follow
        if (pos < size && data[pos] == '"') {
          ++pos;
          continue;
        }
        break;
      }
      if (pos < size && data[pos] != delimiter_ && data[pos] != '\r' && data[pos] != '\n') {
        fail(record, pos,
             std::string("a closing quote must be followed by '") + delimiter_ +
                 "' or the end of the line");
      }
    } else {
      while (pos < size && data[pos] != delimiter_ && data[pos] != '\r' && data[pos] != '\n') {
        ++pos;
      }
    }
    field.end = pos;
    record.fields.push_back(field);
    if (pos >= size) {
      if (!ended_) return false;
      record.text = std::string_view(data, pos);
      record.lineBreak = {};
      break;
    }
    if (data[pos] == delimiter_) {
      ++pos;
      continue;
    }
    if (data[pos] == '\r' && pos + 1 >= size && !ended_) return false;  // CR, then LF?
    const std::size_t breakLength =
        data[pos] == '\r' && pos + 1 < size && data[pos + 1] == '\n' ? 2 : 1;
    record.text = std::string_view(data, pos);
    record.lineBreak = std::string_view(data + pos, breakLength);
    pos += breakLength;
    break;
  }
  if (checkUtf8_) {
    if (const auto bad = firstInvalidUtf8(record.text)) {
      fail(record, *bad,
           "the text is not valid UTF-8 (byte " +
               hexByte(static_cast<unsigned char>(record.text[*bad])) +
               "); give the file's encoding with -e");
    }
  }
  line_ += 1 + (multiline ? lineBreaksIn(record.text) : 0);
  start_ += pos;
  return true;
}

bool CsvStreamReader::next(RawRecord& record) {
  for (;;) {
    if (start_ >= buffer_.size() && !refill()) return false;
    if (parse(record)) return true;
    // The record goes on past the buffer: at least double what is held before parsing it
    // again, so that a long record read in small pieces is parsed a few times, not once a
    // piece.
    const std::size_t held = buffer_.size() - start_;
    while (refill() && buffer_.size() - start_ < 2 * held) {
    }
  }
}

void appendField(std::string& out, std::string_view value, char delimiter, bool quoted) {
  if (!quoted && !csvNeedsQuotes(value, delimiter)) {
    out.append(value);
    return;
  }
  appendQuotedCsvField(out, value);
}

}  // namespace qmv::cli
