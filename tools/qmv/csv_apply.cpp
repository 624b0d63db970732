// CSV text as a source and sink of cells: records are streamed from the input to the
// output, and a field the rule did not change is written back byte for byte (quotes, line
// breaks and byte-order mark included). Character removals read the input once, with
// memory bounded by the longest record; a value removal reads the file twice (standard
// input is first copied to a temporary file), counting its column's values by the
// engine's value rule, then clearing what the rule clears: it holds each distinct value
// once and nothing per record, so a file of any length works.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/operations.hpp"
#include "host/address.hpp"
#include "host/text.hpp"
#include "tools/qmv/apply_run.hpp"
#include "tools/qmv/cell_rule.hpp"
#include "tools/qmv/csv_stream.hpp"
#include "tools/qmv/pipeline.hpp"
#include "tools/qmv/report.hpp"
#include "tools/qmv/selection.hpp"
#include "tools/qmv/text_encoding.hpp"

namespace qmv::cli {
namespace {

constexpr std::size_t kChunkBytes = 1 << 16;
// The output handed on in pieces of about this size (kept small for the reason of
// csv_stream.cpp's reads).
constexpr std::size_t kWriteBytes = 1 << 17;

// ---- Input and output ------------------------------------------------------------------

// The input as UTF-8: its encoding found at the first read, its mark taken off.
class DecodedSource final : public ByteSource {
 public:
  DecodedSource(InputFile& input, const std::optional<Encoding>& given) : input_(input) {
    std::string head(kChunkBytes, '\0');
    head.resize(input_.read(head.data(), head.size()));
    // A file's format is told before it is read; standard input's only here, by its bytes.
    if (head.starts_with(std::string_view("PK\x03\x04", 4))) {
      throw FileError(
          "the input is a workbook (a zip package); qmv reads a workbook from its file, not "
          "from a pipe: save it and give its name as FILE");
    }
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

// The output: UTF-8 turned into its encoding, handed to the sink in pieces.
class EncodedOutput {
 public:
  EncodedOutput(ResultSink& sink, const Encoding& encoding, bool mark) : sink_(sink) {
    if (!encoding.isUtf8()) converter_ = std::make_unique<Converter>("UTF-8", encoding.name);
    if (mark) encoded_ = encoding.byteOrderMark();
  }

  void write(std::string_view utf8) {
    if (converter_) {
      converter_->convert(utf8, encoded_);
    } else if (encoded_.empty()) {
      sink_.write(utf8);  // UTF-8 goes out as it is, uncopied
      return;
    } else {
      encoded_.append(utf8);
    }
    if (encoded_.size() >= kChunkBytes) flush();
  }

  void finish() {
    if (converter_) converter_->finish();
    flush();
    sink_.commit();
  }

 private:
  void flush() {
    sink_.write(encoded_);
    encoded_.clear();
  }

  ResultSink& sink_;
  std::unique_ptr<Converter> converter_;
  std::string encoded_;
};

// ---- Field texts -----------------------------------------------------------------------

// The cell rule over UTF-8 fields. A character beyond U+FFFF counts as one character in a
// field (for --start, --count, --chars and --separator), so that it is always kept or
// removed whole: under the classic rules it stands for the transforms as one unit taken
// from the surrogate range (valid text never holds a lone surrogate), under the Unicode
// rules the transforms see the real pair and count it as one themselves. A rule that drops
// single characters works on the bytes of an ASCII field directly.
// An operation that reads code points under both rules needs the real pairs.
bool readsCodePoints(const Plan& plan) {
  return std::any_of(plan.removals.begin(), plan.removals.end(), [](const Removal& removal) {
    return operationRow(removal.operation).facts.readsCodePoints;
  });
}

class FieldRule {
 public:
  explicit FieldRule(const Plan& plan)
      : pairs_(plan.rules == TextRules::Unicode || readsCodePoints(plan)),
        rule_(mappedRemovals(plan), plan.rules) {
    fixedSlots_ = codeOf_.size();
    if (const auto& drops = rule_.asciiDrops()) {
      classes_.fill(kOther);
      for (std::size_t b = 0; b < drops->size(); ++b) classes_[b] = (*drops)[b] ? kDrop : kKeep;
      if (classes_['"'] == kKeep) classes_['"'] = kQuote;
      fast_ = true;
    }
  }

  enum class Outcome { Unchanged, Changed };

  /// The ASCII bytes the rule drops, when it drops single characters.
  const std::optional<std::array<bool, 128>>& asciiDrops() const { return rule_.asciiDrops(); }
  /// The fields the rule gave up on so far.
  int64_t gaveUp() const { return rule_.gaveUp(); }

  // On Changed, `out` views the new text, valid until the next call, and `quoteFree`
  // says whether it surely holds no quote (else it may).
  Outcome apply(std::string_view text, std::string_view& out, bool& quoteFree) {
    quoteFree = false;
    if (fast_) {
      // One loop over an ASCII field: each byte is kept or dropped by its class, and the
      // first byte that is not ASCII hands the field to the general path.
      const std::size_t n = text.size();
      const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
      if (kept_.size() < n) kept_.resize(std::max(n, 2 * kept_.size()));  // never cleared
      char* kept = kept_.data();
      std::size_t put = 0;
      bool quote = false;
      std::size_t k = 0;
      for (; k < n; ++k) {
        unsigned char keep = classes_[bytes[k]];
        if (keep > kKeep) {
          if (keep == kOther) break;
          quote = true;
          keep = kKeep;
        }
        kept[put] = static_cast<char>(bytes[k]);
        put += keep;
      }
      if (k == n) {
        if (put == n) return Outcome::Unchanged;
        out = std::string_view(kept, put);
        quoteFree = !quote;
        return Outcome::Changed;
      }
    }
    const Release release{*this};
    if (!map(text, units_)) return Outcome::Unchanged;  // a run's slots are full: left alone
    const std::optional<std::u16string> result = rule_.changed(units_);
    if (!result) return Outcome::Unchanged;
    unmap(*result, result_);
    out = result_;
    return result_ == text ? Outcome::Unchanged : Outcome::Changed;
  }

 private:
  static constexpr char16_t kFirstSlot = 0xD800;
  static constexpr std::size_t kSlots = 0x800;

  struct Release {
    FieldRule& rule;
    ~Release() { rule.release(); }
  };

  std::vector<Removal> mappedRemovals(const Plan& plan) {
    std::vector<Removal> out = plan.removals;
    for (Removal& removal : out) {
      removal.chars = mapped(removal.chars);
      if (removal.separator) removal.separator = mapped(*removal.separator);
    }
    return out;
  }

  std::u16string mapped(std::u16string_view utf16) {
    std::u16string out;
    map(toUtf8(utf16), out);
    return out;
  }

  // The units of `utf8`; false when the slots run out.
  bool map(std::string_view utf8, std::u16string& out) {
    out.clear();
    for (std::size_t i = 0; i < utf8.size();) {
      const char32_t c = decodeUtf8(utf8, i);
      if (c < 0x10000) {
        out += static_cast<char16_t>(c);
        continue;
      }
      if (pairs_) {
        appendUtf16(out, c);
        continue;
      }
      auto found = slotOf_.find(c);
      if (found == slotOf_.end()) {
        if (codeOf_.size() >= kSlots) return false;
        const auto slot = static_cast<char16_t>(kFirstSlot + codeOf_.size());
        found = slotOf_.emplace(c, slot).first;
        codeOf_.push_back(c);
      }
      out += found->second;
    }
    return true;
  }

  void unmap(std::u16string_view units, std::string& out) const {
    out.clear();
    if (pairs_) {
      out = toUtf8(units);
      return;
    }
    for (const char16_t u : units) {
      const bool slot = u >= kFirstSlot && u < kFirstSlot + kSlots;
      appendUtf8(out, slot ? codeOf_[static_cast<std::size_t>(u - kFirstSlot)] : u);
    }
  }

  // Forgets the slots of the last text.
  void release() {
    for (std::size_t i = fixedSlots_; i < codeOf_.size(); ++i) slotOf_.erase(codeOf_[i]);
    codeOf_.resize(fixedSlots_);
  }

  bool pairs_;
  std::unordered_map<char32_t, char16_t> slotOf_;
  std::vector<char32_t> codeOf_;
  std::size_t fixedSlots_ = 0;
  CellRule rule_;
  // The class of each byte for a rule that drops single ASCII characters: how many of it
  // are kept, or a kept quote, or a byte that is not ASCII.
  static constexpr unsigned char kDrop = 0, kKeep = 1, kQuote = 2, kOther = 3;
  std::array<unsigned char, 256> classes_{};
  bool fast_ = false;
  std::u16string units_;
  std::string kept_;
  std::string result_;
};

// ---- The run ---------------------------------------------------------------------------

// The characters that make a spreadsheet read a cell as a formula (CWE-1236, "Improper
// Neutralization of Formula Elements in a CSV File"); a leading apostrophe makes it text.

// The class of each byte for records filtered a span at a time (CsvRun::filterSpan): a byte
// of a field is dropped or kept (how many of it are kept); the delimiter ends a field, LF
// and CR LF a record; anything else (a quote, a byte that is not ASCII) sends the record to
// the general path.
struct SpanClasses {
  static constexpr unsigned char kDrop = 0, kKeep = 1, kDelimiter = 2, kLineFeed = 3,
                                 kCarriageReturn = 4, kOther = 5;

  SpanClasses(const std::array<bool, 128>& drops, char delimiter) {
    of.fill(kOther);
    for (std::size_t b = 0; b < drops.size(); ++b) of[b] = drops[b] ? kDrop : kKeep;
    // A quote in literal tab-separated text goes the general way too, which checks the
    // record's fields against the header's (a cell Excel quoted).
    of['"'] = kOther;
    of['\n'] = kLineFeed;
    of['\r'] = kCarriageReturn;
    of[static_cast<unsigned char>(delimiter)] = kDelimiter;
  }

  std::array<unsigned char, 256> of{};
};

// The bytes of a field from `p` that the rule keeps, copied to `out`, up to the first byte
// of another class, which it returns. No bound: a byte of another class comes first.
inline const unsigned char* keepOrDrop(const unsigned char* p, char*& out,
                                       const unsigned char* classes) {
  char* o = out;
  for (;;) {
    const unsigned char b = *p;
    const unsigned c = classes[b];
    if (c > SpanClasses::kKeep) break;
    *o = static_cast<char>(b);
    o += c;
    ++p;
  }
  out = o;
  return p;
}

struct Tally {
  int64_t records = 0;
  int64_t widest = 0;
  int64_t visited = 0;
  int64_t changed = 0;
  int64_t formulas = 0;
};

class CsvRun {
 public:
  explicit CsvRun(ApplyRun& run)
      : run_(run),
        plan_(run.plan()),
        streams_(run.streams()),
        selector_(run.selector()),
        progress_(streams_.err, streams_.progress && !plan_.quiet),
        headerRecord_(plan_.cells.headerRow.value_or(1)) {}

  void run();

 private:
  enum class Pass { Load, Clear, Characters };

  void pass(InputFile& input, Pass kind);
  bool filterSpan(CsvStreamReader& reader);
  /// Literal tab-separated text: throws CsvFormatError when a field of `record` opens
  /// with a quote and its fields are not as many as the header's.
  void checkLiteralRecord(const RawRecord& record) const;
  std::optional<std::string_view> decide(Pass kind, std::string_view value);
  std::string fileName() const { return plan_.file == "-" ? "standard input" : plan_.file; }
  void loadValues(InputFile& input);

  ApplyRun& run_;
  const Plan& plan_;
  ApplyStreams& streams_;
  CellSelector& selector_;
  Progress progress_;
  std::unique_ptr<EncodedOutput> output_;
  std::unique_ptr<FieldRule> rule_;
  // Set when whole spans of simple records may be filtered at once; their output.
  std::optional<SpanClasses> spanClasses_;
  std::vector<char> spanOut_;
  // Records read the general way before the span filter is tried again, after it could
  // take none: each miss in a row doubles the wait, up to 64.
  int spanWait_ = 0;
  int spanMisses_ = 0;
  // Records and fields so far; the span filter counts its cells here too, then hands them on.
  Tally tally_;
  std::string scratch_;
  std::string guarded_;
  bool quoteFree_ = false;  ///< the last result surely holds no quote
  // The header's record (row 1 without one) and its fields, once read.
  int64_t headerRecord_;
  std::size_t headerFields_ = 0;
  // The output's next bytes, handed on in large pieces.
  std::string written_;
  // Where the field being decided stands, for messages.
  int64_t row_ = 0;
  int64_t column_ = 0;
};

std::optional<std::string_view> CsvRun::decide(Pass kind, std::string_view value) {
  switch (kind) {
    case Pass::Characters: {
      std::string_view after;
      switch (rule_->apply(value, after, quoteFree_)) {
        case FieldRule::Outcome::Unchanged:
          return std::nullopt;
        case FieldRule::Outcome::Changed:
          return after;
      }
      return std::nullopt;
    }
    case Pass::Load:
      run_.countValue(value);
      return std::nullopt;
    case Pass::Clear:
      if (!run_.clearsValue({row_, column_}, value)) return std::nullopt;
      return std::string_view();
  }
  return std::nullopt;
}

void CsvRun::pass(InputFile& input, Pass kind) {
  DecodedSource source(input, plan_.csv.inputEncoding);
  if (kind != Pass::Load && run_.sink() != nullptr) {
    const DetectedEncoding& detected = source.detected();
    const Encoding encoding = plan_.csv.outputEncoding.value_or(detected.encoding);
    bool mark = plan_.csv.bom.value_or(detected.byteOrderMark || encoding.name == "UTF-16");
    if (!encoding.hasByteOrderMark()) {
      if (plan_.csv.bom == true) {
        throw UsageError("--bom: " + encoding.name + " has no byte-order mark");
      }
      mark = false;
    }
    Encoding written = encoding;
    if (written.name == "UTF-16") written.name = "UTF-16LE";
    output_ = std::make_unique<EncodedOutput>(*run_.sink(), written, mark);
  }
  EncodedOutput* output = output_.get();
  const char delimiter = plan_.csv.delimiter;
  const bool quoting = plan_.csv.quoting;
  CsvStreamReader reader(source, delimiter, source.detected().encoding.isUtf8(), quoting);
  RawRecord record;
  tally_.records = 0;
  const bool spans = kind == Pass::Characters && output != nullptr && spanClasses_;
  for (;;) {
    if (spans && spanWait_ > 0) {
      --spanWait_;
    } else if (spans) {
      if (filterSpan(reader)) {
        spanMisses_ = 0;
      } else {
        spanMisses_ = std::min(spanMisses_ + 1, 6);
        spanWait_ = (1 << spanMisses_) - 1;
      }
      if (written_.size() >= kWriteBytes) {
        output->write(written_);
        written_.clear();
      }
    }
    if (!reader.next(record)) break;
    const int64_t row = ++tally_.records;
    if (record.fields.size() > static_cast<std::size_t>(kMaxColumns)) {
      throw CsvFormatError(CsvError{record.line, 1,
                                    "a record has more than 16,384 fields, the columns of a "
                                    "sheet"});
    }
    tally_.widest = std::max<int64_t>(tally_.widest, static_cast<int64_t>(record.fields.size()));
    if (row == headerRecord_) headerFields_ = record.fields.size();
    if (!quoting && row > headerRecord_) checkLiteralRecord(record);
    const std::string_view text = record.text;
    // The record's bytes before `copied` are in written_ already; the rest are copied as
    // they are, after the last changed field. A field outside the selection is never
    // unquoted.
    std::size_t copied = 0;
    bool changedRecord = false;
    const std::size_t fields =
        std::min(record.fields.size(), static_cast<std::size_t>(selector_.lastColumn()));
    for (std::size_t i = 0; i < fields; ++i) {
      const auto column = static_cast<int64_t>(i) + 1;
      if (!selector_.mayVisit(row, column)) continue;
      const std::string_view value = record.value(i, scratch_);
      if (!selector_.visits({row, column}, value, value.empty()) || value.empty()) continue;
      row_ = row;
      column_ = column;
      // A value removal's cells were counted as they were loaded, and its clears by the run.
      if (kind == Pass::Characters) run_.visited();
      std::optional<std::string_view> after = decide(kind, value);
      if (!after) continue;
      if (run_.formulaResult(value, *after) && plan_.csv.guardFormulas) {
        guarded_.assign(1, '\'');
        guarded_.append(*after);
        after = guarded_;
      }
      if (kind == Pass::Characters) run_.changed({row, column}, value, *after);
      changedRecord = true;
      if (output == nullptr) continue;
      const RawField& field = record.fields[i];
      written_.append(text.substr(copied, field.begin - copied));
      if (!quoting || (!field.quoted && quoteFree_ && kind == Pass::Characters)) {
        // An unquoted field holds no delimiter or line break, and its ASCII result no quote;
        // a literal field's result, taken from it, holds no tab or line break either.
        written_.append(*after);
      } else {
        const bool keepQuotes =
            field.quoted || (row == 1 && i == 0 && after->starts_with("\xEF\xBB\xBF"));
        appendField(written_, *after, delimiter, keepQuotes);
      }
      copied = field.end;
    }
    if (output != nullptr) {
      if (changedRecord) {
        written_.append(text.substr(copied));
        written_.append(record.lineBreak);
      } else {
        // The line break follows the record's text in the reader's buffer.
        written_.append(text.data(), text.size() + record.lineBreak.size());
      }
      if (written_.size() >= kWriteBytes) {
        output->write(written_);
        written_.clear();
      }
    }
    progress_.step(tally_.records, "records");
  }
  selector_.finish();  // a -c that names no column fails before the last bytes go out
  if (output != nullptr) {
    output->write(written_);
    written_.clear();
  }
  progress_.end();
}

// The records at the head of the reader's buffer, up to its last LF, taken at once: one
// loop over their bytes drops and keeps them by class, and at each field's end counts what
// the field-by-field path counts. It stops before the first record it cannot take whole (a
// quote, a byte that is not ASCII, a lone CR, a field not visited or too long); the caller
// reads that one, or the one the buffer cuts off, the general way. False when it took no
// record and stopped at one it cannot take.
void CsvRun::checkLiteralRecord(const RawRecord& record) const {
  if (record.fields.size() == headerFields_) return;
  for (std::size_t i = 0; i < record.fields.size(); ++i) {
    if (!record.raw(i).starts_with('"')) continue;
    const std::string_view before = record.text.substr(0, record.fields[i].begin);
    const auto column = 1 + std::count_if(before.begin(), before.end(),
                                          [](char c) { return !isUtf8Continuation(c); });
    throw CsvFormatError(CsvError{
        record.line, static_cast<std::size_t>(column),
        "a field opens with a quote, and the record has " + std::to_string(record.fields.size()) +
            " fields where the header has " + std::to_string(headerFields_) +
            ": read literally, a cell that Excel quoted (one holding a line break) is cut in "
            "two; give --quoted-tsv to read quotes as CSV does"});
  }
}

bool CsvRun::filterSpan(CsvStreamReader& reader) {
  using C = SpanClasses;
  const std::string_view lines = reader.unreadLines();
  if (lines.empty()) return true;
  const auto* const begin = reinterpret_cast<const unsigned char*>(lines.data());
  const unsigned char* const end = begin + lines.size();
  // The output is never longer than the input: a guarded field lost a byte at least.
  if (spanOut_.size() < lines.size()) spanOut_.resize(lines.size());
  char* const outBegin = spanOut_.data();
  const unsigned char* const classes = spanClasses_->of.data();
  const bool guard = plan_.csv.guardFormulas;
  // Rows below the first one here visit these columns at least.
  const int64_t visited = selector_.leadingColumnsFrom(tally_.records + 1);
  if (visited == 0) return false;
  const unsigned char* p = begin;
  char* out = outBegin;
  Tally counts = tally_;
  while (p < end) {
    const int64_t row = counts.records + 1;
    const unsigned char* const recordStart = p;
    char* const recordOut = out;
    const Tally before = counts;
    int64_t column = 1;
    bool whole = false;
    for (;;) {
      const unsigned char* const fieldStart = p;
      char* const fieldOut = out;
      p = keepOrDrop(p, out, classes);
      const unsigned char c = classes[*p];
      if (c == C::kOther || column > visited) break;
      const auto length = static_cast<std::size_t>(p - fieldStart);
      const auto kept = static_cast<std::size_t>(out - fieldOut);
      counts.visited += length > 0 ? 1 : 0;
      if (kept != length) {
        ++counts.changed;
        if (kept > 0 && formulaByte(*fieldOut) && !formulaByte(static_cast<char>(*fieldStart))) {
          ++counts.formulas;
          if (guard) {
            std::memmove(fieldOut + 1, fieldOut, kept);
            *fieldOut = '\'';
            ++out;
          }
        }
      }
      if (c == C::kDelimiter) {
        *out++ = static_cast<char>(*p++);
        ++column;
        continue;
      }
      if (c == C::kCarriageReturn) {
        if (p[1] != '\n') break;  // a lone CR; p[1] is at most the last LF
        *out++ = '\r';
        ++p;
      }
      *out++ = '\n';
      ++p;
      whole = true;
      break;
    }
    if (!whole) {
      p = recordStart;
      out = recordOut;
      counts = before;
      break;
    }
    counts.records = row;
    counts.widest = std::max(counts.widest, column);
    if (row == headerRecord_) headerFields_ = static_cast<std::size_t>(column);
    // step() shows one record in 65,536; that test first, on a register.
    if ((row & 0xFFFF) == 0) progress_.step(row, "records");
  }
  reader.skip(static_cast<std::size_t>(p - begin),
              static_cast<std::size_t>(counts.records - tally_.records));
  const bool took = counts.records > tally_.records;
  run_.counted(counts.visited - tally_.visited, counts.changed - tally_.changed,
               counts.formulas - tally_.formulas);
  tally_ = counts;
  written_.append(outBegin, out);
  return took;
}

void CsvRun::loadValues(InputFile& input) {
  input.makeRereadable();
  pass(input, Pass::Load);
  LoadedColumns columns;
  if (tally_.widest > 1) {
    columns.spread =
        "the records of " + fileName() + " have " + std::to_string(tally_.widest) + " fields";
  }
  const int64_t first = selector_.selection().firstRow();
  columns.column = AreaRef{{first, 1}, {std::max(first, std::min(tally_.records, kMaxRows)), 1}};
  run_.beginClears(columns);
  tally_ = Tally{};
  input.rewind();
}

void CsvRun::run() {
  InputFile input(plan_.file);
  if (!plan_.target.standardOutput && plan_.target.path == plan_.file && !input.regular()) {
    throw UsageError("--in-place: " + plan_.file +
                     " is not a regular file; give -o OUT to write the result elsewhere");
  }
  if (plan_.value) {
    loadValues(input);
    pass(input, Pass::Clear);
  } else {
    rule_ = std::make_unique<FieldRule>(plan_);
    if (rule_->asciiDrops() && !plan_.dryRun) {
      spanClasses_.emplace(*rule_->asciiDrops(), plan_.csv.delimiter);
    }
    pass(input, Pass::Characters);
  }
  if (output_) output_->finish();
  if (rule_) {
    streams_.gaveUp += rule_->gaveUp();
  }
  std::string over = selector_.description();
  if (over.empty()) {
    const int64_t first = selector_.selection().firstRow();
    over = tally_.records < first || tally_.widest == 0
               ? (tally_.records == 0 ? "an empty file" : "no cells below the header")
               : toUtf8(formatAddress(
                     AreaRef{{first, 1}, {std::min(tally_.records, kMaxRows), tally_.widest}}));
    if (tally_.records > kMaxRows)
      over += " and " + withThousands(tally_.records - kMaxRows) + " more rows";
  }
  // A result a spreadsheet would run as a formula is told of: the file is text.
  run_.finish(over, true);
}

}  // namespace

void applyCsv(const Plan& plan, ApplyStreams& streams) {
  ApplyRun shared(plan, streams, false);
  CsvRun(shared).run();
}

}  // namespace qmv::cli
