#include "tools/qmv/apply.hpp"

#include <ostream>

#include "engine/run.hpp"
#include "host/text.hpp"
#include "tools/qmv/batch.hpp"
#include "tools/qmv/file_format.hpp"
#include "tools/qmv/files.hpp"
#include "tools/qmv/pipeline.hpp"
#include "tools/qmv/report.hpp"

namespace qmv::cli {
namespace {

// The run's format: the file's, and for text --typed picks the typed reading.
Format formatOf(const std::string& file, bool typed) {
  if (fileFormatOf(file) == FileFormat::Workbook) return Format::Workbook;
  return typed ? Format::Typed : Format::Csv;
}

void applyOnce(const ApplyRequest& request, ApplyStreams& streams) {
  if (!request.file && streams.inputIsTerminal) {
    throw UsageError("FILE: give the file to work on, or - (or a pipe) for standard input");
  }
  // Before the file is opened: a named pipe would wait for a writer.
  if (request.inPlace && request.file) checkReplaceable(*request.file);
  const Plan plan = planApply(request, formatOf(request.file.value_or("-"), request.typed));
  switch (plan.format) {
    case Format::Csv:
      applyCsv(plan, streams);
      break;
    case Format::Workbook:
      applyWorkbook(plan, streams);
      break;
    case Format::Typed:
      applyTyped(plan, streams);
      break;
  }
}

}  // namespace

int runApply(const ApplyRequest& request, ApplyStreams& streams) {
  if (wantsBatch(request)) return runBatch(request, streams);
  return applyFile(request, streams);
}

int applyFile(const ApplyRequest& request, ApplyStreams& streams) {
  try {
    applyOnce(request, streams);
  } catch (...) {
    // Every failure of the run becomes the one error type here, and only here.
    const ApplyError failure = failureOf(request.file.value_or("-"));
    streams.err << "qmv apply: " << failure.what() << '\n';
    return failure.status();
  }
  // Cells left because the removal gave up are no success: say how many, and end with a
  // status of its own.
  const int status = streams.gaveUp > 0 ? kGaveUpStatus : 0;
  if (streams.gaveUp > 0) {
    streams.err << "qmv apply: " << toUtf8(gaveUpText(streams.gaveUp)) << '\n';
  }
  if (streams.finish) streams.finish(status);
  return status;
}

}  // namespace qmv::cli
