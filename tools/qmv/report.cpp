#include "tools/qmv/report.hpp"

#include <cstdio>
#include <ostream>

#include "host/address.hpp"
#include "host/text.hpp"
#include "tools/qmv/errors.hpp"

namespace qmv::cli {
namespace {

// A text as a dry run shows it: in double quotes, with \" \\ \n \r \t and \uXXXX for the
// other control characters.
std::string shown(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (b < 0x20 || b == 0x7F) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04X", b);
      out += buffer;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

std::string withThousands(int64_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const std::size_t left = digits.size() - i;
    if (i > 0 && left % 3 == 0 && digits[i - 1] != '-') out += ',';
    out += digits[i];
  }
  return out;
}

std::string summaryLine(std::string_view codes, std::string_view over, int64_t visited,
                        int64_t changed, bool dryRun) {
  return "qmv apply: " + std::string(codes) + " over " + std::string(over) + ": " +
         withThousands(visited) + (visited == 1 ? " cell" : " cells") + " visited, " +
         withThousands(changed) + (dryRun ? " would change" : " changed") + "\n";
}

std::string typedResultsLine(int64_t typed, bool dryRun) {
  const bool one = typed == 1;
  std::string line = "qmv apply: " + withThousands(typed) + (one ? " result" : " results");
  line += dryRun ? " would be" : one ? " was" : " were";
  line += one ? " read as a number or a date" : " read as numbers or dates";
  line += ", as typed input is; --results-as-text stores ";
  line += one ? "it as text\n" : "them as text\n";
  return line;
}

std::string fullCalculationLine(bool dryRun) {
  return std::string("qmv apply: the workbook holds formulas, so ") +
         (dryRun ? "the result would ask" : "it now asks") +
         " to be calculated again when opened: their results follow the changed cells\n";
}

ChangeReport::ChangeReport(std::ostream& out, OperationKind kind, int64_t limit)
    : out_(out), preview_(kind, INT64_MAX), limit_(limit) {}

void ChangeReport::add(int64_t row, int64_t column, std::string_view before,
                       std::string_view after) {
  ++changes_;
  if (preview_.wantsSample()) {
    preview_.add(toUtf16(before), toUtf16(after));
  } else {
    preview_.count();
  }
  if (changes_ > limit_) return;
  out_ << toUtf8(columnLetters(column)) << row << ": " << shown(before) << " -> " << shown(after)
       << '\n';
}

void ChangeReport::finish() {
  if (changes_ > limit_) out_ << "... and " << withThousands(changes_ - limit_) << " more\n";
  out_ << toUtf8(previewText(Preview{PreviewState::Ready, preview_})) << " (nothing written)\n";
  out_.flush();
  if (!out_) throw FileError("cannot write the list of changes to standard output");
}

void Progress::show(int64_t done, std::string_view what) {
  if (!drawn_ && std::chrono::steady_clock::now() - started_ < std::chrono::milliseconds(300)) {
    return;
  }
  err_ << "\rqmv apply: " << withThousands(done) << ' ' << what << std::flush;
  drawn_ = true;
}

void Progress::end() {
  if (drawn_) err_ << "\r\x1b[K" << std::flush;
  drawn_ = false;
}

}  // namespace qmv::cli
