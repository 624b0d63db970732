// The formats of `qmv apply` as sources and sinks of cells, and the target a result goes
// to; what else they share is the run of apply_run.hpp. Each applyX reads the
// plan's file, runs the cell rule (or the value run) on the visited cells, and writes only
// the cells it changed. They throw ApplyError (and xlsx::XlsxError for a bad workbook).
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "host/address.hpp"
#include "tools/qmv/apply.hpp"
#include "tools/qmv/files.hpp"
#include "tools/qmv/plan.hpp"

namespace qmv::cli {

/// CSV or TSV text, streamed.
void applyCsv(const Plan& plan, ApplyStreams& streams);
/// An .xlsx or .xlsm workbook's sheet.
void applyWorkbook(const Plan& plan, ApplyStreams& streams);
/// CSV text read as typed input into a sheet.
void applyTyped(const Plan& plan, ApplyStreams& streams);

/// Where the result goes: a file, opened (and locked) before the input is read, or
/// standard output. Nothing for a dry run.
class ResultSink {
 public:
  ResultSink(const Plan& plan, std::ostream& out);
  /// Throws FileError.
  void write(std::string_view bytes);
  /// Finishes the result: the file replaces the target. Throws FileError.
  void commit();

 private:
  std::unique_ptr<OutputFile> file_;
  std::ostream& out_;
};

}  // namespace qmv::cli
