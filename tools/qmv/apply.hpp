// `qmv apply`: a removal, or a chain of them, over a CSV file or an Excel workbook, in one
// path: the command line is checked once into a plan (plan.hpp), the file's format is a
// source and sink of cells (CSV text streamed record by record, a workbook's sheet, or
// text read as typed input into a sheet), every cell goes through the one cell rule
// (cell_rule.hpp), and only the cells whose text it changed are handed to the format to
// write. Value removals run the engine's own value run over the visited column.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>

#include "tools/qmv/plan.hpp"

namespace qmv::cli {

/// Where `qmv apply` reports.
struct ApplyStreams {
  std::ostream& out;      ///< the result when no output file is given
  std::ostream& err;      ///< errors, the add-in's messages, progress and the summary
  bool progress = false;  ///< show the run's progress (standard error is a terminal)
  /// Called with the exit status once everything is written, before the workbook is
  /// freed; a command-line process ends here (freeing a million cells one by one takes
  /// longer than the run). Empty: runApply returns normally.
  std::function<void(int status)> finish;
  /// Whether standard input is a terminal: without FILE, a pipe or a file on standard
  /// input is read, a terminal is refused.
  bool inputIsTerminal = true;
  /// Cells the removal gave up on and left as they were (a pattern past its budget); the
  /// drivers add to it, runApply reports it.
  int64_t gaveUp = 0;
  /// The cells the run visited and changed (the summary line's figures); the run adds to
  /// them, a batch totals them.
  int64_t visited = 0;
  int64_t changed = 0;
};

/// The exit status of a run that wrote its result but left cells the removal gave up on.
inline constexpr int kGaveUpStatus = 3;

/// Runs `qmv apply` and turns its failure, whatever it is, into one line on `err` and
/// the exit status: 0 done; 1 the file could not be read or written, or the add-in refused
/// the run; 2 a bad option (nothing written); 3 (kGaveUpStatus) done, but the removal gave
/// up on some cells, which were left as they were, and a line on `err` says how many.
/// With a recipe, --print-recipe, several files or a folder, hands the run to runBatch
/// (batch.hpp).
int runApply(const ApplyRequest& request, ApplyStreams& streams);

/// The run of one file and one pass over it, as runApply reports it.
int applyFile(const ApplyRequest& request, ApplyStreams& streams);

}  // namespace qmv::cli
