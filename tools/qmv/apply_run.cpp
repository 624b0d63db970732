#include "tools/qmv/apply_run.hpp"

#include <ostream>
#include <utility>

#include "engine/run.hpp"
#include "host/text.hpp"

namespace qmv::cli {

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

void ApplyRun::changed(CellRef ref, std::u16string_view before, std::u16string_view after) {
  ++changed_;
  if (report_) report_->add(ref.row, ref.column, toUtf8(before), toUtf8(after));
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

void ApplyRun::load(CellRef ref, const CellContent& content, std::string_view shown) {
  loaded_.push_back(ref);
  loadedKeys_.push_back(valueKey(content.value, locale_, valueMode()));
  ++visited_;
  if (report_) loadedTexts_.emplace_back(shown);
}

std::vector<CellRef> ApplyRun::runValues(const LoadedColumns& columns) {
  valueCells_ = static_cast<int64_t>(loaded_.size());
  beginClears(columns);
  for (const std::optional<std::string>& key : loadedKeys_) {
    if (key) tally_->count(*key);
  }
  std::vector<CellRef> cleared;
  for (std::size_t i = 0; i < loaded_.size(); ++i) {
    if (!loadedKeys_[i] || !tally_->clears(*loadedKeys_[i])) continue;
    cleared.push_back(loaded_[i]);
    ++changed_;
    if (report_) report_->add(loaded_[i].row, loaded_[i].column, loadedTexts_[i], "");
  }
  return cleared;
}

void ApplyRun::countValue(std::string_view utf8) {
  if (!tally_) tally_.emplace(valueMode());
  ++visited_;
  ++valueCells_;
  if (textValueKey(key_, utf8, valueMode())) tally_->count(key_);
}

void ApplyRun::beginClears(const LoadedColumns& columns) {
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
  // The add-in refuses to run over no cells, and says so; nothing is cleared.
  if (valueCells_ == 0) {
    streams_.err << "qmv apply: the add-in says: " << toUtf8(kEmptySelectionText) << '\n';
  }
  if (!tally_) tally_.emplace(valueMode());
}

bool ApplyRun::clearsValue(CellRef ref, std::string_view utf8) {
  if (!textValueKey(key_, utf8, valueMode()) || !tally_->clears(key_)) return false;
  ++changed_;
  if (report_) report_->add(ref.row, ref.column, utf8, "");
  return true;
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
