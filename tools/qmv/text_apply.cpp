#include "tools/qmv/text_apply.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <utility>
#include <vector>

#include "engine/preview.hpp"
#include "host/address.hpp"
#include "host/text.hpp"
#include "tools/qmv/cell_removal.hpp"
#include "tools/qmv/csv_stream.hpp"
#include "tools/qmv/file_plan.hpp"
#include "tools/qmv/files.hpp"
#include "tools/qmv/text_encoding.hpp"
#include "tools/qmv/value_counts.hpp"

namespace qmv::cli {
namespace {

constexpr std::size_t kChunkBytes = 1 << 16;
constexpr std::size_t kProgressRecords = 1 << 16;

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// ---- The plan --------------------------------------------------------------------------

// The CSV options over the plan of any file.
struct TextPlan : FilePlan {
  char delimiter = ',';
  std::optional<Encoding> inputEncoding;
  std::optional<Encoding> outputEncoding;
  std::optional<bool> bom;
};

char planDelimiter(const ApplyRequest& request) {
  if (request.tabs && request.delimiter) throw UsageError("-t and -d exclude each other");
  if (request.tabs) return '\t';
  if (!request.delimiter) return ',';
  const std::string& d = *request.delimiter;
  const std::string text = d == "\\t" ? "\t" : d;
  if (text.size() != 1 || static_cast<unsigned char>(text[0]) >= 0x80 || text[0] == '"' ||
      text[0] == '\r' || text[0] == '\n') {
    throw UsageError("-d: " + quoted(d) +
                     " is not a delimiter; give one ASCII character other than a quote or a "
                     "line break, such as ';' or '|' (-t for tabs)");
  }
  return text[0];
}

Encoding checkedEncoding(const char* option, const std::string& name) {
  try {
    return namedEncoding(option, name);
  } catch (const EncodingError& e) {
    throw UsageError(e.what());
  }
}

TextPlan planText(const ApplyRequest& request) {
  TextPlan plan;
  static_cast<FilePlan&>(plan) = planFile(request);
  plan.delimiter = planDelimiter(request);
  if (request.encoding) plan.inputEncoding = checkedEncoding("-e", *request.encoding);
  if (request.outputEncoding) {
    plan.outputEncoding = checkedEncoding("--output-encoding", *request.outputEncoding);
  }
  if (request.bom) {
    if (*request.bom != "yes" && *request.bom != "no") {
      throw UsageError("--bom: give yes or no, not " + quoted(*request.bom));
    }
    plan.bom = *request.bom == "yes";
  }
  return plan;
}

// ---- Input and output ------------------------------------------------------------------

// The input as UTF-8: its encoding found at the first read, its mark taken off.
class DecodedSource final : public ByteSource {
 public:
  DecodedSource(InputFile& input, const std::optional<Encoding>& given) : input_(input) {
    std::string head(kChunkBytes, '\0');
    head.resize(input_.read(head.data(), head.size()));
    detected_ = detectEncoding(head, given ? &*given : nullptr);
    head.erase(0, detected_.markLength);
    if (!detected_.encoding.isUtf8()) {
      converter_ = std::make_unique<Converter>(detected_.encoding.name, "UTF-8");
      converter_->convert(head, pending_);
      if (head.empty()) converter_->finish();
    } else {
      pending_ = std::move(head);
    }
  }

  const DetectedEncoding& detected() const { return detected_; }

  std::size_t read(char* out, std::size_t capacity) override {
    while (taken_ >= pending_.size()) {
      pending_.clear();
      taken_ = 0;
      if (!converter_) return input_.read(out, capacity);
      std::string raw(kChunkBytes, '\0');
      raw.resize(input_.read(raw.data(), raw.size()));
      if (raw.empty()) {
        converter_->finish();
        return 0;
      }
      converter_->convert(raw, pending_);
    }
    const std::size_t n = std::min(capacity, pending_.size() - taken_);
    std::copy_n(pending_.data() + taken_, n, out);
    taken_ += n;
    return n;
  }

 private:
  InputFile& input_;
  DetectedEncoding detected_;
  std::unique_ptr<Converter> converter_;
  std::string pending_;
  std::size_t taken_ = 0;
};

// The output: UTF-8 turned into its encoding, to a file, to standard output, or nowhere.
class Output {
 public:
  Output(std::unique_ptr<OutputFile> file, std::ostream* stream, const Encoding& encoding,
         bool mark)
      : file_(std::move(file)), stream_(stream) {
    if (!encoding.isUtf8()) converter_ = std::make_unique<Converter>("UTF-8", encoding.name);
    if (mark) encoded_ = encoding.byteOrderMark();
  }

  void write(std::string_view utf8) {
    if (converter_) {
      converter_->convert(utf8, encoded_);
    } else {
      encoded_.append(utf8);
    }
    if (encoded_.size() >= kChunkBytes) flush();
  }

  void finish() {
    if (converter_) converter_->finish();
    flush();
    if (file_) file_->commit();
    if (stream_) {
      stream_->flush();
      if (!*stream_) throw FileError("cannot write the result to standard output");
    }
  }

 private:
  void flush() {
    if (file_) file_->write(encoded_);
    if (stream_) stream_->write(encoded_.data(), static_cast<std::streamsize>(encoded_.size()));
    encoded_.clear();
  }

  std::unique_ptr<OutputFile> file_;
  std::ostream* stream_;
  std::unique_ptr<Converter> converter_;
  std::string encoded_;
};

// ---- The run ---------------------------------------------------------------------------

// The characters that make a spreadsheet read a cell as a formula (CWE-1236, "Improper
// Neutralization of Formula Elements in a CSV File"); a leading apostrophe makes it text.
bool formulaStart(std::string_view text) {
  return !text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@');
}

struct Tally {
  int64_t records = 0;
  int64_t widest = 0;
  int64_t visited = 0;
  int64_t changed = 0;
  int64_t formulas = 0;
};

class TextRun {
 public:
  TextRun(const ApplyRequest& request, const TextPlan& plan, ApplyStreams& streams)
      : request_(request),
        plan_(plan),
        streams_(streams),
        report_(streams.out, plan.value ? OperationKind::ValueLevel : OperationKind::CharacterLevel,
                plan.limit) {}

  int run();

 private:
  using Decide = std::optional<std::string_view> (TextRun::*)(std::string_view value);

  void pass(InputFile& input, Decide decide);
  void openOutput(const DetectedEncoding& detected);
  std::optional<std::string_view> removeCharacters(std::string_view value);
  std::optional<std::string_view> clearValue(std::string_view value);
  void countValue(std::string_view value);
  void selectFrom(const RawRecord& first);
  CsvFormatError tooLong() const;
  void report(int64_t row, int64_t column, std::string_view before, std::string_view after);
  void progress(bool last);

  const ApplyRequest& request_;
  const TextPlan& plan_;
  ApplyStreams& streams_;
  Selection selection_;
  bool selectionKnown_ = false;
  std::string selectionText_;
  std::unique_ptr<Output> output_;
  std::unique_ptr<CellRemover> remover_;
  Tally tally_;
  // A dry run's changes and figures, as the add-in's dialog words them.
  ChangeReport report_;
  std::string result_;
  std::string scratch_;
  std::string record_;
  std::u16string key_;
  // Value removals: the count of each key, and the keys met so far in the second pass.
  ValueCounts counts_;
  ValueCounts seen_;
  bool counting_ = false;
  // Where the field being decided stands, for messages.
  int64_t row_ = 0;
  int64_t column_ = 0;
  std::size_t line_ = 0;
};

CsvFormatError TextRun::tooLong() const {
  return CsvFormatError("line " + std::to_string(line_) + ", cell " +
                        toUtf8(columnLetters(column_)) + std::to_string(row_) +
                        ": the field holds more than 32,767 characters, the most a cell holds");
}

void TextRun::selectFrom(const RawRecord& first) {
  selectionKnown_ = true;
  if (plan_.range) {
    selection_ = Selection(*plan_.range);
    selectionText_ = toUtf8(formatAddress(*plan_.range));
  } else if (plan_.columns) {
    std::vector<std::string> header;
    for (std::size_t i = 0; plan_.header && i < first.fields.size(); ++i) {
      header.emplace_back(first.value(i, scratch_));
    }
    const int64_t headerRow = plan_.header ? plan_.headerRow.value_or(1) : 0;
    const std::vector<int64_t> columns =
        resolveColumns(*plan_.columns, plan_.header ? &header : nullptr, headerRow);
    selection_ = columnSelection(columns, headerRow);
    selectionText_ = describeColumns(*plan_.columns, columns, headerRow);
  }
}

std::optional<std::string_view> TextRun::removeCharacters(std::string_view value) {
  switch (remover_->apply(value, result_)) {
    case CellRemover::Outcome::Unchanged:
      return std::nullopt;
    case CellRemover::Outcome::TooLong:
      throw tooLong();
    case CellRemover::Outcome::Changed:
      break;
  }
  return result_;
}

void TextRun::countValue(std::string_view value) {
  valueKey(value, key_);
  if (key_.size() > CellRemover::kMaxCellUnits) {
    throw tooLong();
  }
  // Keep one decides in the second pass, from the texts met before.
  if (*plan_.value != Operation::RDPV && key_.size() <= kMaxCriterionUnits) counts_.add(key_);
}

std::optional<std::string_view> TextRun::clearValue(std::string_view value) {
  valueKey(value, key_);
  bool clear = false;
  if (*plan_.value == Operation::RDPV) {
    clear = seen_.add(key_) > 0;
  } else if (key_.size() <= kMaxCriterionUnits) {
    const uint32_t count = counts_.count(key_);
    clear = *plan_.value == Operation::RADP ? count > 1 : count == 1;
  }
  if (!clear) return std::nullopt;
  result_.clear();
  return result_;
}

void TextRun::report(int64_t row, int64_t column, std::string_view before, std::string_view after) {
  if (request_.dryRun) report_.add(row, column, before, after);
}

void TextRun::progress(bool last) {
  if (!streams_.progress) return;
  if (last) {
    streams_.err << "\r\x1b[K";
  } else if (tally_.records % kProgressRecords == 0) {
    streams_.err << "\rqmv apply: " << withThousands(tally_.records) << " records" << std::flush;
  }
}

void TextRun::pass(InputFile& input, Decide decide) {
  DecodedSource source(input, plan_.inputEncoding);
  if (!counting_ && !request_.dryRun) openOutput(source.detected());
  Output* output = counting_ ? nullptr : output_.get();
  CsvStreamReader reader(source, plan_.delimiter, source.detected().encoding.isUtf8());
  RawRecord record;
  tally_.records = 0;
  while (reader.next(record)) {
    const int64_t row = ++tally_.records;
    // The header row decides the columns; no cell above it is visited.
    if (!selectionKnown_ && row >= plan_.headerRow.value_or(1)) selectFrom(record);
    if (record.fields.size() > static_cast<std::size_t>(kMaxColumns)) {
      throw CsvFormatError(CsvError{record.line, 1,
                                    "a record has more than 16,384 fields, the columns of a "
                                    "sheet"});
    }
    tally_.widest = std::max<int64_t>(tally_.widest, static_cast<int64_t>(record.fields.size()));
    bool changedRecord = false;
    record_.clear();
    for (std::size_t i = 0; i < record.fields.size(); ++i) {
      const auto column = static_cast<int64_t>(i) + 1;
      std::optional<std::string_view> after;
      if (selectionKnown_ && selection_.contains(row, column)) {
        const std::string_view value = record.value(i, scratch_);
        if (!value.empty()) {
          row_ = row;
          column_ = column;
          line_ = record.line;
          if (counting_) {
            countValue(value);
          } else {
            ++tally_.visited;
            after = (this->*decide)(value);
          }
          if (after) {
            std::string guarded;
            if (formulaStart(*after) && !formulaStart(value)) {
              ++tally_.formulas;
              if (request_.guardFormulas) {
                guarded.reserve(after->size() + 1);
                guarded += '\'';
                guarded.append(*after);
                after = guarded;
              }
            }
            ++tally_.changed;
            report(row, column, value, *after);
            if (!changedRecord) {
              // The fields before this one and their delimiters, as they were.
              record_.append(record.text.substr(0, record.fields[i].begin));
              changedRecord = true;
            } else {
              record_ += plan_.delimiter;
            }
            const bool keepQuotes = record.fields[i].quoted ||
                                    (row == 1 && i == 0 && after->starts_with("\xEF\xBB\xBF"));
            appendField(record_, *after, plan_.delimiter, keepQuotes);
            continue;
          }
        }
      }
      if (changedRecord) {
        record_ += plan_.delimiter;
        record_.append(record.raw(i));
      }
    }
    if (output != nullptr) {
      output->write(changedRecord ? std::string_view(record_) : record.text);
      output->write(record.lineBreak);
    }
    progress(false);
  }
  // A --header-row past the last record: the names are looked for in an empty row.
  if (!selectionKnown_ && tally_.records > 0) selectFrom(RawRecord{});
  selectionKnown_ = true;
  progress(true);
}

void TextRun::openOutput(const DetectedEncoding& detected) {
  const Encoding encoding = plan_.outputEncoding.value_or(detected.encoding);
  bool mark = plan_.bom.value_or(detected.byteOrderMark || encoding.name == "UTF-16");
  if (!encoding.hasByteOrderMark()) {
    if (plan_.bom == true) {
      throw UsageError("--bom: " + encoding.name + " has no byte-order mark");
    }
    mark = false;
  }
  Encoding written = encoding;
  if (written.name == "UTF-16") written.name = "UTF-16LE";
  std::unique_ptr<OutputFile> file;
  std::ostream* stream = nullptr;
  const Overwrite overwrite = request_.force ? Overwrite::Force : Overwrite::Refuse;
  if (request_.inPlace) {
    file = std::make_unique<OutputFile>(request_.file, overwrite);
  } else if (request_.output && *request_.output != "-") {
    file = std::make_unique<OutputFile>(*request_.output, overwrite);
  } else {
    stream = &streams_.out;
  }
  output_ = std::make_unique<Output>(std::move(file), stream, written, mark);
}

int TextRun::run() {
  InputFile input(request_.file);
  if (request_.inPlace && !input.regular()) {
    throw UsageError("--in-place: " + request_.file +
                     " is not a regular file; give -o OUT to write the result elsewhere");
  }
  if (plan_.value) {
    input.makeRereadable();
    counting_ = true;
    pass(input, nullptr);
    counting_ = false;
    if (!plan_.range && !plan_.columns && tally_.widest > 1) {
      throw UsageError("--range: " + plan_.codes +
                       " works on a single column, and the records of " + request_.file + " have " +
                       std::to_string(tally_.widest) +
                       " fields; pick one with -c or --range, say -c B");
    }
    input.rewind();
    pass(input, &TextRun::clearValue);
  } else {
    remover_ = std::make_unique<CellRemover>(plan_.steps);
    pass(input, &TextRun::removeCharacters);
  }
  if (output_) output_->finish();

  if (request_.dryRun) report_.finish();
  if (tally_.formulas > 0) {
    streams_.err << "qmv apply: " << withThousands(tally_.formulas)
                 << (tally_.formulas == 1 ? " result starts" : " results start")
                 << " with =, +, - or @ where the field did not, and a spreadsheet may run it as "
                    "a formula"
                 << (request_.guardFormulas ? "; written with a leading apostrophe"
                                            : "; --guard-formulas writes a leading apostrophe")
                 << '\n';
  }
  if (!request_.quiet) {
    std::string over = selectionText_;
    if (over.empty()) {
      over = tally_.records == 0 || tally_.widest == 0
                 ? "an empty file"
                 : toUtf8(formatAddress(
                       AreaRef{{1, 1}, {std::min(tally_.records, kMaxRows), tally_.widest}}));
      if (tally_.records > kMaxRows)
        over += " and " + withThousands(tally_.records - kMaxRows) + " more rows";
    }
    streams_.err << summaryLine(plan_.codes, over, tally_.visited, tally_.changed, request_.dryRun);
  }
  if (streams_.finish) streams_.finish(0);
  return 0;
}

}  // namespace

int runTextApply(const ApplyRequest& request, ApplyStreams& streams) {
  std::ostream& err = streams.err;
  TextPlan plan;
  try {
    plan = planText(request);
  } catch (const UsageError& e) {
    err << "qmv apply: " << e.what() << '\n';
    return 2;
  }
  TextRun run(request, plan, streams);
  try {
    return run.run();
  } catch (const UsageError& e) {
    err << "qmv apply: " << e.what() << '\n';
    return 2;
  } catch (const FileError& e) {
    err << "qmv apply: " << e.what() << '\n';
  } catch (const CsvFormatError& e) {
    err << "qmv apply: " << (request.file == "-" ? "standard input" : request.file) << ": "
        << e.what() << '\n';
  } catch (const EncodingError& e) {
    err << "qmv apply: " << (request.file == "-" ? "standard input" : request.file) << ": "
        << e.what() << '\n';
  }
  return 1;
}

}  // namespace qmv::cli
