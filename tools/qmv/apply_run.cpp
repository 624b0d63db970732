#include "tools/qmv/apply_run.hpp"

#include <chrono>
#include <ostream>
#include <utility>

#include "engine/run.hpp"
#include "host/text.hpp"
#include "ui/progress_display.hpp"

namespace qmv::cli {
namespace {

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

// Runs the engine's value removal `operation` over `areas` (one column) of the active
// sheet of `app`, as the add-in's dialog runs it, and gives the cells among `loaded` that
// it cleared. The add-in's messages go to `streams.err`; a refused run throws ApplyError.
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

ApplyRun::ApplyRun(const Plan& plan, ApplyStreams& streams, bool headerAtFirstValue)
    : plan_(plan),
      streams_(streams),
      null_(nullptr),
      warnings_(plan.quiet ? null_ : streams.err),
      // The target is opened, and locked, before the input is read.
      sink_(plan.dryRun ? nullptr : std::make_unique<ResultSink>(plan, streams.out)),
      selector_(plan.cells, headerAtFirstValue) {
  if (plan.dryRun) {
    report_.emplace(streams.out,
                    plan.value ? OperationKind::ValueLevel : OperationKind::CharacterLevel,
                    plan.limit);
  }
}

void ApplyRun::changed(CellRef ref, std::string_view before, std::string_view after) {
  ++changed_;
  if (report_) report_->add(ref.row, ref.column, before, after);
}

bool ApplyRun::formulaResult(std::string_view before, std::string_view after) {
  const bool formula = !after.empty() && formulaByte(after.front()) &&
                       (before.empty() || !formulaByte(before.front()));
  if (formula) ++formulas_;
  return formula;
}

void ApplyRun::counted(int64_t visited, int64_t changed, int64_t formulas) {
  visited_ += visited;
  changed_ += changed;
  formulas_ += formulas;
}

const std::shared_ptr<memory::MemoryApplication>& ApplyRun::valueSheet() {
  if (!sheet_) {
    sheet_ = std::make_shared<memory::MemoryApplication>();
    sheet_->addWorkbook();
  }
  return sheet_;
}

void ApplyRun::load(CellRef ref, const CellContent& content, std::string_view shown) {
  valueSheet()->setCell(ref, content);
  loaded_.push_back(ref);
  ++visited_;
  if (report_) loadedTexts_.emplace_back(shown);
}

std::vector<CellRef> ApplyRun::runValues(const LoadedColumns& columns) {
  const Selection& selection = selector_.selection();
  if (selection.everyColumn()) {
    if (columns.spread) {
      throw UsageError("--range: " + plan_.codes + " works on a single column, and " +
                       *columns.spread + "; pick one with -c or --range, say -c " +
                       columns.suggestedColumn);
    }
    valueAreas_ = {columns.column};
  } else if (!selection.singleColumn()) {
    throw UsageError("-c: " + plan_.codes + " works on a single column; give one");
  } else {
    valueAreas_ = selection.areas();
  }
  std::vector<CellRef> cleared =
      runValueRemoval(valueSheet(), valueAreas_, *plan_.value, plan_.rules, loaded_, streams_,
                      streams_.progress && !plan_.quiet);
  changed_ += static_cast<int64_t>(cleared.size());
  if (report_) {
    // Both lists are in the order loaded.
    std::size_t k = 0;
    for (std::size_t i = 0; i < loaded_.size() && k < cleared.size(); ++i) {
      if (loaded_[i] != cleared[k]) continue;
      report_->add(loaded_[i].row, loaded_[i].column, loadedTexts_[i], "");
      ++k;
    }
  }
  return cleared;
}

void ApplyRun::finish(const std::string& over, bool warnFormulas) {
  streams_.visited += visited_;
  streams_.changed += changed_;
  if (report_) report_->finish();
  if (warnFormulas && formulas_ > 0) {
    warnings_ << "qmv apply: " << withThousands(formulas_)
              << (formulas_ == 1 ? " result starts" : " results start")
              << " with =, +, - or @ where the field did not, and a spreadsheet may run it as "
                 "a formula"
              << (plan_.csv.guardFormulas ? "; written with a leading apostrophe"
                                          : "; --guard-formulas writes a leading apostrophe")
              << '\n';
  }
  if (!plan_.quiet) {
    streams_.err << summaryLine(plan_.codes, over, visited_, changed_, plan_.dryRun);
  }
}

}  // namespace qmv::cli
