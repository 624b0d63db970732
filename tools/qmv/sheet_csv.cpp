#include "tools/qmv/sheet_csv.hpp"

#include <algorithm>

#include "host/cell_text.hpp"
#include "host/text.hpp"
#include "tools/qmv/csv_stream.hpp"
#include "tools/qmv/report.hpp"

namespace qmv::cli {
namespace {

// UTF-8 into `out`, reusing its storage; ASCII, the common case, without a decoder.
void assignUtf16(std::u16string& out, std::string_view utf8) {
  out.clear();
  for (const char c : utf8) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      out = toUtf16(utf8);
      return;
    }
    out += static_cast<char16_t>(c);
  }
}

// UTF-16 into `out`, reusing its storage; ASCII without an encoder.
void assignUtf8(std::string& out, std::u16string_view utf16) {
  out.clear();
  for (const char16_t c : utf16) {
    if (c >= 0x80) {
      out = toUtf8(utf16);
      return;
    }
    out += static_cast<char>(c);
  }
}

// Bytes held in memory, handed out whole.
class TextSource final : public ByteSource {
 public:
  explicit TextSource(std::string_view text) : text_(text) {}
  std::size_t read(char* out, std::size_t capacity) override {
    const std::size_t n = std::min(capacity, text_.size());
    std::copy_n(text_.data(), n, out);
    text_.remove_prefix(n);
    return n;
  }

 private:
  std::string_view text_;
};

}  // namespace

Value FieldReader::read(std::u16string_view field) const {
  return memory::parseTypedInput(field, locale, currentYear);
}

bool FieldReader::needsApostrophe(std::u16string_view text) const {
  if (text.empty()) return true;  // would read back as an empty cell
  if (text.front() == u'\'') return true;
  if (text.front() == u'=') return false;
  const Value back = read(text);
  const auto* same = std::get_if<std::u16string>(&back);
  return same == nullptr || *same != text;
}

std::u16string FieldReader::write(const CellContent& content) const {
  const Value& value = content.value;
  if (const auto* text = std::get_if<std::u16string>(&value)) {
    if (!needsApostrophe(*text)) return *text;
    std::u16string out;
    out.reserve(text->size() + 1);
    out += u'\'';
    out += *text;
    return out;
  }
  if (std::holds_alternative<std::monostate>(value)) return {};
  if (const auto* number = std::get_if<double>(&value)) {
    return numberText(*number, locale.decimalSeparator);
  }
  if (const auto* error = std::get_if<CellError>(&value)) return errorText(*error);
  // Booleans and dates in the host's formula notation, which reads back as typed input.
  return formulaText(CellContent{value, {}});
}

FieldReader fieldReaderOf(memory::MemoryApplication& app) {
  return FieldReader{app.locale(), app.currentYear()};
}

CsvLayout loadCsv(memory::MemoryApplication& app, std::string_view text) {
  const FieldReader reader = fieldReaderOf(app);
  CsvLayout layout;
  CsvReader csv(text);
  CsvRecord record;
  int64_t row = 0;
  std::u16string field;
  while (csv.next(record)) {
    ++row;
    if (row > kMaxRows) {
      throw CsvLoadError("line " + std::to_string(csv.recordLine()) + ": more than " +
                         withThousands(kMaxRows) + " records, the rows of a sheet");
    }
    if (static_cast<int64_t>(record.size()) > kMaxColumns) {
      throw CsvLoadError("line " + std::to_string(csv.recordLine()) + ": " +
                         withThousands(static_cast<int64_t>(record.size())) +
                         " fields, more than the " + withThousands(kMaxColumns) +
                         " columns of a sheet");
    }
    layout.fieldCounts.push_back(static_cast<uint32_t>(record.size()));
    for (std::size_t c = 0; c < record.size(); ++c) {
      if (record[c].empty()) continue;
      assignUtf16(field, record[c]);
      if (field.size() > kMaxCellChars) {
        throw CsvLoadError(
            "line " + std::to_string(csv.recordLine()) + ", field " + std::to_string(c + 1) + ": " +
            withThousands(static_cast<int64_t>(field.size())) + " characters, more than the " +
            withThousands(static_cast<int64_t>(kMaxCellChars)) + " a cell holds");
      }
      Value value = reader.read(field);
      if (isEmpty(value)) continue;
      app.setCell({row, static_cast<int64_t>(c) + 1}, CellContent{std::move(value), {}});
      ++layout.cells;
    }
  }
  if (const auto& error = csv.error()) throw CsvLoadError(error->describe());
  layout.byteOrderMark = csv.byteOrderMark();
  if (!csv.lineBreak().empty()) layout.lineBreak = std::string(csv.lineBreak());
  return layout;
}

std::string sheetCsv(memory::MemoryApplication& app, const CsvLayout* layout,
                     const CsvWriteOptions& options) {
  const FieldReader reader = fieldReaderOf(app);
  std::vector<uint32_t> counts;
  if (layout != nullptr) {
    counts = layout->fieldCounts;
  } else if (app.workbooksCount() > 0) {
    // An empty sheet reports $A$1 as its used range.
    const auto used = parseReference(app.usedRangeAddress());
    if (used && !used->empty()) {
      const AreaRef& area = used->front();
      const bool blank = area.count() == 1 && app.cell(area.first) == CellContent{};
      if (!blank) {
        counts.assign(static_cast<std::size_t>(area.last.row),
                      static_cast<uint32_t>(area.last.column));
      }
    }
  }
  std::string out;
  std::string field;
  if (options.byteOrderMark) out += "\xEF\xBB\xBF";
  for (std::size_t r = 0; r < counts.size(); ++r) {
    for (uint32_t c = 0; c < counts[r]; ++c) {
      if (c > 0) out += options.delimiter;
      const CellContent content =
          app.cell({static_cast<int64_t>(r) + 1, static_cast<int64_t>(c) + 1});
      if (isEmpty(content.value)) continue;
      assignUtf8(field, reader.write(content));
      appendCsvField(out, field, options.delimiter);
    }
    out += options.lineBreak;
  }
  return out;
}

std::string spliceCsv(memory::MemoryApplication& app, std::string_view text,
                      const std::vector<CellRef>& cells) {
  std::string out;
  out.reserve(text.size());
  constexpr std::string_view kMark = "\xEF\xBB\xBF";
  if (text.starts_with(kMark)) {
    out.append(kMark);
    text.remove_prefix(kMark.size());
  }
  const FieldReader reader = fieldReaderOf(app);
  TextSource source(text);
  // loadCsv has read the same text: it is well-formed UTF-8.
  CsvStreamReader csv(source, ',', false);
  RawRecord record;
  std::string field;
  auto next = cells.begin();
  for (int64_t row = 1; csv.next(record); ++row) {
    std::size_t copied = 0;  // bytes of the record written so far
    for (; next != cells.end() && next->row == row; ++next) {
      const auto c = static_cast<std::size_t>(next->column - 1);
      if (c >= record.fields.size()) continue;
      const RawField& raw = record.fields[c];
      out.append(record.text.substr(copied, raw.begin - copied));
      assignUtf8(field, reader.write(app.cell(*next)));
      // At the very start an unquoted U+FEFF would read back as a byte-order mark.
      appendField(out, field, ',', raw.quoted || (out.empty() && field.starts_with(kMark)));
      copied = raw.end;
    }
    out.append(record.text.substr(copied));
    out.append(record.lineBreak);
  }
  return out;
}

}  // namespace qmv::cli
