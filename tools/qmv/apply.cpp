#include "tools/qmv/apply.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ostream>

#include "engine/run.hpp"
#include "host/text.hpp"
#include "tools/qmv/file_format.hpp"
#include "tools/qmv/pipeline.hpp"
#include "tools/qmv/report.hpp"
#include "ui/progress_display.hpp"

namespace qmv::cli {
namespace {

// The run's format: the file's, and for text --typed picks the typed reading.
Format formatOf(const std::string& file, bool typed) {
  if (fileFormatOf(file) == FileFormat::Workbook) return Format::Workbook;
  return typed ? Format::Typed : Format::Csv;
}

// A session without forms: what the engine tells the user is kept for the report.
class ApplySession : public RemovalSession {
 public:
  void tellUser(const std::u16string& text) override { told.push_back(text); }
  std::vector<std::u16string> told;
};

// Hears the value run: keeps its messages and shows its progress on a terminal.
class ApplyObserver : public RunObserver {
 public:
  ApplyObserver(std::ostream& err, bool showProgress) : err_(err), showProgress_(showProgress) {}
  ApplyObserver(const ApplyObserver&) = delete;
  ApplyObserver& operator=(const ApplyObserver&) = delete;

  void started() override {}
  void setMaximum(float maximum) override { max_ = maximum; }
  void yield() override {}
  void progress(float step) override {
    if (!showProgress_) return;
    const int64_t percent = percentOf(step, max_);
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    if (!shown_ && std::chrono::steady_clock::now() - started_ < std::chrono::milliseconds(300)) {
      return;
    }
    err_ << "\rqmv apply: " << static_cast<long long>(step) << " of "
         << static_cast<long long>(max_) << " (" << toUtf8(percentText(step, max_)) << ")   "
         << std::flush;
    shown_ = true;
  }
  bool stopRequested() override { return false; }
  void message(const std::u16string& text) override { messages.push_back(text); }
  void finish() override {
    if (shown_) err_ << '\n' << std::flush;
    shown_ = false;
  }

  std::vector<std::u16string> messages;

 private:
  std::ostream& err_;
  bool showProgress_;
  float max_ = 0;
  int64_t lastPercent_ = -1;
  bool shown_ = false;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace

ResultSink::ResultSink(const Plan& plan, std::ostream& out) : out_(out) {
  if (!plan.target.standardOutput) {
    file_ = std::make_unique<OutputFile>(plan.target.path,
                                         plan.target.force ? Overwrite::Force : Overwrite::Refuse);
  }
}

void ResultSink::write(std::string_view bytes) {
  if (file_) {
    file_->write(bytes);
  } else {
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
}

void ResultSink::commit() {
  if (file_) {
    file_->commit();
    return;
  }
  out_.flush();
  if (!out_) throw FileError("cannot write the result to standard output");
}

std::vector<CellRef> runValueRemoval(const std::shared_ptr<memory::MemoryApplication>& app,
                                     const std::vector<AreaRef>& areas, Operation operation,
                                     TextRules rules, const std::vector<CellRef>& loaded,
                                     ApplyStreams& streams, bool progress) {
  app->select(formatAddress(areas));
  ApplySession session;
  session.hostApp = app;
  ApplyObserver observer(streams.err, progress);
  RunRequest request;
  request.operation = operation;
  request.rules = rules;
  runRemoval(session, request, observer);
  bool refused = false;
  for (const auto& message : observer.messages) {
    streams.err << "qmv apply: the add-in says: " << toUtf8(message) << '\n';
    if (message != kEmptySelectionText) refused = true;
  }
  if (refused) throw ApplyError(1, "nothing written");
  std::vector<CellRef> cleared;
  for (const CellRef& ref : loaded) {
    const CellContent now = app->cell(ref);
    if (isEmpty(now.value) && !now.isFormula()) cleared.push_back(ref);
  }
  return cleared;
}

namespace {

void applyOnce(const ApplyRequest& request, ApplyStreams& streams) {
  if (!request.file && streams.inputIsTerminal) {
    throw UsageError("FILE: give the file to work on, or - (or a pipe) for standard input");
  }
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
  if (status != 0) streams.err << "qmv apply: " << toUtf8(gaveUpText(streams.gaveUp)) << '\n';
  if (streams.finish) streams.finish(status);
  return status;
}

}  // namespace qmv::cli
