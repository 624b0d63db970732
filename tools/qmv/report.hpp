// What `qmv apply` tells: a dry run's listing of the changes, the summary line, and the
// progress shown on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "engine/operations.hpp"
#include "engine/preview.hpp"

namespace qmv::cli {

/// `n` with a comma between thousands.
std::string withThousands(int64_t n);

/// The summary line: "qmv apply: RNUM over B2:B9: 8 cells visited, 3 changed".
std::string summaryLine(std::string_view codes, std::string_view over, int64_t visited,
                        int64_t changed, bool dryRun);

/// The line that counts the results a workbook stores as numbers, dates or truth values
/// because they read so as typed input: "3 results were read as numbers or dates".
std::string typedResultsLine(int64_t typed, bool dryRun);

/// The line that says a changed workbook asks for its formulas to be calculated again.
std::string fullCalculationLine(bool dryRun);

/// What a dry run prints on `out`: each change as B2: "before" -> "after" up to the
/// limit, then how many more, then the preview line the add-in's dialog shows.
class ChangeReport {
 public:
  ChangeReport(std::ostream& out, OperationKind kind, int64_t limit);

  /// One change; `before` and `after` are UTF-8 (after is empty for a cleared cell).
  void add(int64_t row, int64_t column, std::string_view before, std::string_view after);
  /// The lines after the changes. Throws FileError when the listing could not be written
  /// whole (a full disk, a closed pipe).
  void finish();

 private:
  std::ostream& out_;
  PreviewTally preview_;
  int64_t limit_;
  int64_t changes_ = 0;
};

/// A count of steps shown on standard error as "qmv apply: 65,536 records", once the run
/// has taken a moment, and wiped at the end; nothing unless `shown`.
class Progress {
 public:
  Progress(std::ostream& err, bool shown) : err_(err), shown_(shown) {}
  void step(int64_t done, std::string_view what) {
    if (shown_ && (done & 0xFFFF) == 0) show(done, what);
  }
  void end();

 private:
  void show(int64_t done, std::string_view what);
  std::ostream& err_;
  bool shown_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace qmv::cli
