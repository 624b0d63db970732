#include "tools/qmv/csv_stream.hpp"

#include <algorithm>
#include <cstring>

#include "host/text.hpp"

namespace qmv::cli {
namespace {

// Reads large enough for few calls and few records that straddle two reads, and small
// enough that the buffer stays in cache: each fresh page a larger one touches costs a fault.
constexpr std::size_t kReadBytes = 1 << 17;

// Where the bytes of `text` stop being safe to check as UTF-8 on their own: before a
// sequence that the text may cut short.
std::size_t completeUtf8(std::string_view text) {
  std::size_t end = text.size();
  for (std::size_t back = 0; back < 3 && end > 0; ++back) {
    const auto b = static_cast<unsigned char>(text[end - 1]);
    if (b < 0x80) return text.size();
    --end;
    if (b >= 0xC0) return end;  // a lead byte: its sequence may go on in the next read
  }
  return text.size();  // four or more trailing bytes: too many to be one sequence
}

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
  for (std::size_t k = 0;;) {
    const std::size_t quote = inner.find('"', k);
    if (quote == std::string_view::npos) {
      scratch.append(inner.substr(k));
      return scratch;
    }
    scratch.append(inner.substr(k, quote + 1 - k));
    k = quote + 2;  // past the second quote of the pair
  }
}

CsvStreamReader::CsvStreamReader(ByteSource& source, char delimiter, bool checkUtf8, bool quoting)
    : source_(source),
      delimiter_(delimiter),
      quoting_(quoting),
      fieldEnd_(delimiter, '\n', '\r', '\r'),
      checkUtf8_(checkUtf8) {}

bool CsvStreamReader::refill() {
  if (ended_) return false;
  if (start_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + start_, filled_ - start_);
    filled_ -= start_;
    checked_ -= std::min(checked_, start_);
    lineEnd_ -= std::min(lineEnd_, start_);
    if (invalid_) *invalid_ -= start_;
    start_ = 0;
  }
  // Read straight into the buffer's free end; it grows, never shrinks (nor is cleared).
  if (buffer_.size() < filled_ + kReadBytes) buffer_.resize(filled_ + kReadBytes);
  const std::size_t got = source_.read(buffer_.data() + filled_, kReadBytes);
  // Only the new bytes are searched, so that a long record read piece by piece is not
  // searched again each time.
  const std::string_view read(buffer_.data() + filled_, got);
  if (const std::size_t lf = read.rfind('\n'); lf != std::string_view::npos) {
    lineEnd_ = filled_ + lf + 1;
  }
  filled_ += got;
  if (got == 0) ended_ = true;
  checkUtf8();
  return got > 0;
}

void CsvStreamReader::checkUtf8() {
  if (!checkUtf8_ || invalid_) return;
  const std::string_view unchecked = held().substr(checked_);
  const std::size_t end = ended_ ? unchecked.size() : completeUtf8(unchecked);
  if (const auto bad = firstInvalidUtf8(unchecked.substr(0, end))) {
    invalid_ = checked_ + *bad;
    return;
  }
  checked_ += end;
}

void CsvStreamReader::fail(const RawRecord& record, std::size_t offset, std::string message) const {
  const std::string_view before = held().substr(start_, offset);
  CsvError error;
  error.line = record.line + lineBreaksIn(before);
  std::size_t lineStart = before.find_last_of("\r\n");
  lineStart = lineStart == std::string_view::npos ? 0 : lineStart + 1;
  error.column = 1 + static_cast<std::size_t>(std::count_if(
                         before.begin() + static_cast<std::ptrdiff_t>(lineStart), before.end(),
                         [](char c) { return !isUtf8Continuation(c); }));
  error.message = std::move(message);
  throw CsvFormatError(error);
}

bool CsvStreamReader::parse(RawRecord& record) {
  const char* data = buffer_.data() + start_;
  const std::size_t size = filled_ - start_;
  const char delimiter = delimiter_;
  const ByteFinder quoteEnd('"', '\n', '\r', '\r');
  record.fields.clear();
  record.line = line_;
  std::size_t pos = 0;
  bool multiline = false;
  for (;;) {
    RawField field;
    field.begin = pos;
    if (quoting_ && pos < size && data[pos] == '"') {
      field.quoted = true;
      ++pos;
      // One scan finds the closing quote and notes any line break inside.
      for (;;) {
        for (;;) {
          pos = static_cast<std::size_t>(quoteEnd.find(data + pos, data + size) - data);
          if (pos >= size || data[pos] == '"') break;
          multiline = true;
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
      if (pos < size && data[pos] != delimiter && data[pos] != '\r' && data[pos] != '\n') {
        fail(record, pos,
             std::string("a closing quote must be followed by '") + delimiter +
                 "' or the end of the line");
      }
    } else {
      pos = static_cast<std::size_t>(fieldEnd_.find(data + pos, data + size) - data);
    }
    field.end = pos;
    record.fields.push_back(field);
    if (pos >= size) {
      if (!ended_) return false;
      record.text = std::string_view(data, pos);
      record.lineBreak = {};
      break;
    }
    if (data[pos] == delimiter) {
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
  // The bytes were checked as they were read; the first bad one fails its record.
  if (invalid_ && *invalid_ < start_ + record.text.size()) {
    const std::size_t bad = *invalid_ - start_;
    fail(record, bad,
         "the text is not valid UTF-8 (byte " +
             hexByte(static_cast<unsigned char>(record.text[bad])) +
             "); give the file's encoding with -e");
  }
  line_ += 1 + (multiline ? lineBreaksIn(record.text) : 0);
  start_ += pos;
  return true;
}

bool CsvStreamReader::next(RawRecord& record) {
  for (;;) {
    if (start_ >= filled_ && !refill()) return false;
    if (parse(record)) return true;
    // The record goes on past the buffer: at least double what is held before parsing it
    // again, so that a long record read in small pieces is parsed a few times, not once a
    // piece.
    const std::size_t held = filled_ - start_;
    while (refill() && filled_ - start_ < 2 * held) {
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
