// The character run behind runRemoval: start checks, the host's run state, the cells to
// visit, undo recording, the cell text, the operation's transform, the write, one yield,
// progress and the stop test, and the end steps.
#include <algorithm>
#include <exception>
#include <span>
#include <vector>

#include "engine/host_run_state.hpp"
#include "engine/run.hpp"
#include "engine/undo.hpp"
#include "engine/value_run.hpp"
#include "host/cell_text.hpp"
#include "host/tolerant.hpp"

namespace qmv {

namespace {

// Cells read in one host call at most; a larger area is read a band of rows at a time.
constexpr int64_t kBlockCells = 1 << 12;

// The rewritten cells of one column of a block that are not written yet: consecutive
// rows from `firstRow` (0-based in the block). The values keep their slots from run to run.
struct PendingColumn {
  int64_t firstRow = 0;
  std::size_t size = 0;
  std::vector<Value> values;
  std::vector<std::size_t> entries;  ///< the undo entry of each value
};

// Notes in the undo record what the host reports a column write left in its cells; the
// cells it does not report are read back at the end of the run.
class NoteResults final : public WriteReport {
 public:
  NoteResults(UndoSnapshot& snapshot, const std::vector<std::size_t>& entries)
      : snapshot_(snapshot), entries_(entries) {}
  void holds(std::size_t index, const Value& value) override {
    snapshot_.noteResultValue(entries_[index], value);
  }
  void holdsAsWritten(std::size_t first, std::span<const Value> values) override {
    snapshot_.noteResultValues({entries_.data() + first, values.size()}, values);
  }

 private:
  UndoSnapshot& snapshot_;
  const std::vector<std::size_t>& entries_;
};

struct Visit {
  Application& app;
  const RunRequest& request;
  RunObserver& observer;
  RunObserver& steps;  ///< the per-cell steps' observer (the guard forwards them unchanged)
  UndoSnapshot& snapshot;
  BlockRequest rule;
  int64_t visited = 0;
  int64_t gaveUp = 0;

  // Visits the cells of one block in row-major order; false once a stop was requested.
  // The block's cells are recorded for undo in one pass ahead of the visit, and those a
  // stop leaves unvisited are dropped again. The block rule decides every cell: over the
  // whole block ahead when its request is fixed, else one cell at a time as the cell is
  // visited (a form's boxes are read again per cell, and a host function may fail for one
  // cell alone). The rewritten cells of a column go to the host a run of consecutive rows
  // at a time: when the run breaks, at the end of the block and, on a stop, the finished
  // cells.
  bool cells(Range& band, const CellBlock& block) {
    const int64_t rows = block.area.rows();
    const int64_t columns = block.area.columns();
    const std::size_t firstEntry = snapshot.recordBlock(block);
    // The entries from `unvisited` on are dropped however the visit ends.
    struct DropUnvisited {
      UndoSnapshot& snapshot;
      std::size_t unvisited;
      ~DropUnvisited() { snapshot.dropEntriesFrom(unvisited); }
    } drop{snapshot, firstEntry};
    if (pending.size() < static_cast<std::size_t>(columns)) {
      pending.resize(static_cast<std::size_t>(columns));
    }
    const bool ahead = !request.inputs && !usesHostFunctions();
    results.clear();
    if (ahead) ruleOverBlock(block.cells, rule, results);
    std::size_t next = 0;  // the next result of the block
    std::size_t i = 0;     // the next cell of the block
    bool goOn = true;
    for (int64_t r = 0; r < rows && goOn; ++r) {
      for (int64_t c = 0; c < columns; ++c, ++i) {
        ++visited;
        drop.unvisited = firstEntry + i + 1;
        if (!ahead) {
          results.clear();
          next = 0;
          tolerant([&] { ruleOverBlock({&block.cells[i], 1}, rule, results); });
          if (!results.cells().empty()) results.cells()[0].cell = i;
        }
        if (next < results.cells().size() && results.cells()[next].cell == i) {
          rewrite(band, r, c, results.cells()[next++], firstEntry + i);
        }
        tolerant([&] { steps.yield(); });
        tolerant([&] { steps.progress(static_cast<float>(visited)); });
        if (steps.stopRequested()) {
          goOn = false;
          break;
        }
      }
    }
    for (int64_t c = 0; c < columns; ++c) write(band, c);
    return goOn;
  }

  bool usesHostFunctions() const {
    if (!request.steps.empty()) return rule.functions != nullptr;
    return request.rules == TextRules::Classic && operationRow(request.operation).usesHostFunctions;
  }

  // Queues the cell's new text for its column, as typed input; a cell the transform gave
  // up on is counted and stays.
  void rewrite(Range& band, int64_t r, int64_t c, CellResult& result, std::size_t index) {
    if (result.outcome == CellOutcome::GaveUp) {
      ++gaveUp;
      return;
    }
    PendingColumn& column = pending[static_cast<std::size_t>(c)];
    if (column.size > 0 && column.firstRow + static_cast<int64_t>(column.size) != r) {
      write(band, c);
    }
    if (column.size == 0) column.firstRow = r;
    if (column.size == column.values.size()) {
      column.values.emplace_back();
      column.entries.emplace_back();
    }
    column.entries[column.size] = index;
    Value& slot = column.values[column.size++];
    auto* stored = std::get_if<std::u16string>(&slot);
    if (stored == nullptr) stored = &slot.emplace<std::u16string>();
    // The new text is swapped into its slot, so that a long run allocates only for texts
    // longer than any before.
    stored->swap(result.after);
  }

  // Writes the pending cells of column `c` of the band in one host call, marked written in
  // the undo record first. Where the host refuses the call, each cell goes on its own, so
  // that a cell the host refuses leaves the others written as a cell-by-cell run would.
  void write(Range& band, int64_t c) {
    PendingColumn& column = pending[static_cast<std::size_t>(c)];
    if (column.size == 0) return;
    const std::span<const Value> values(column.values.data(), column.size);
    recordTypedFormats(band, column, c);
    snapshot.markWritten(std::span<const std::size_t>(column.entries.data(), column.size));
    column.size = 0;
    NoteResults report(snapshot, column.entries);
    const bool written =
        tolerant([&] { band.setColumnValuesReported(column.firstRow + 1, c + 1, values, report); });
    if (written) return;
    for (std::size_t i = 0; i < values.size(); ++i) {
      tolerant([&] {
        band.setCellValue(column.firstRow + 1 + static_cast<int64_t>(i), c + 1, values[i]);
      });
    }
  }

  // Typing gives a cell a number format with a number or a date (50% gives 0%, 1,234
  // gives #,##0, a date the short date): the number formats of the pending cells of column
  // `c` whose new text types as one are recorded before the write, in one host call, for
  // undo to put back with the text. Tolerant: unread, undo leaves the format as it finds it.
  void recordTypedFormats(Range& band, const PendingColumn& column, int64_t c) {
    typedCells.clear();
    typedEntries.clear();
    for (std::size_t i = 0; i < column.size; ++i) {
      const auto* text = std::get_if<std::u16string>(&column.values[i]);
      // Every number, date and time has a digit; a Boolean keeps the cell's format.
      if (text == nullptr || std::none_of(text->begin(), text->end(),
                                          [](char16_t u) { return u >= u'0' && u <= u'9'; })) {
        continue;
      }
      const Value typed = typedResult(*text, rule.locale, kAnyYear, u"General").value;
      if (!std::holds_alternative<double>(typed) && !std::holds_alternative<DateTime>(typed)) {
        continue;
      }
      typedCells.push_back(
          CellRef{bandCells.area.first.row + column.firstRow + static_cast<int64_t>(i),
                  bandCells.area.first.column + c});
      typedEntries.push_back(column.entries[i]);
    }
    if (typedCells.empty()) return;
    tolerant([&] {
      const std::vector<CellFormats> formats = band.cellFormats(typedCells);
      if (formats.size() != typedCells.size()) return;
      for (std::size_t i = 0; i < formats.size(); ++i) {
        CellFormats format = formats[i];
        format.unknown |= kFillPart | kFontColorPart | kOtherFormatsPart;
        snapshot.recordFormats(typedEntries[i], format);
      }
    });
  }

  // Visits one area of the visit range, a band of rows at a time. The bands are read
  // into one block, whose texts keep their storage from band to band.
  bool area(Worksheet& sheet, const AreaRef& ref) {
    const int64_t bandRows = std::max<int64_t>(1, kBlockCells / ref.columns());
    for (int64_t top = ref.first.row; top <= ref.last.row; top += bandRows) {
      const AreaRef band{{top, ref.first.column},
                         {std::min(ref.last.row, top + bandRows - 1), ref.last.column}};
      RangePtr range;
      bool read = false;
      tolerant([&] {
        range = sheet.range(formatAddress(band));
        range->readBlockInto(bandCells);
        read = true;
      });
      if (!range || !read) continue;
      if (!cells(*range, bandCells)) return false;
    }
    return true;
  }

  // The year a typed date without one falls in tells nothing of whether it is a date.
  static constexpr int kAnyYear = 2000;
  std::vector<CellRef> typedCells;  // the cells of recordTypedFormats, and their entries
  std::vector<std::size_t> typedEntries;
  CellBlock bandCells;                 // the band being visited
  std::vector<PendingColumn> pending;  // by column of the band
  BlockResults results;                // the rule's results of the band (or of one cell)
};

// Visits the cells; false when the run is to end here (stopped, or without a record that
// could be restored).
bool visitCells(RemovalSession& session, Application& app, Range& selection,
                const RunRequest& request, RunObserver& observer, RunObserver& steps) {
  UndoSnapshot& snapshot = BeginUndoSnapshot(session);
  const std::shared_ptr<UndoSnapshot> keep = session.undoSnapshot;
  // Without its workbook and sheet the record could not be restored: change nothing.
  if (!snapshot.workbook || !snapshot.worksheet) return false;
  RangePtr visit;
  tolerant([&] {
    RangePtr constants = selection.specialCells(xl::kCellTypeConstants);
    if (constants) visit = app.intersect(selection, *constants);
  });
  if (!visit) return true;
  WorksheetPtr sheet;
  std::vector<AreaRef> areas;
  tolerant([&] { sheet = visit->worksheet(); });
  tolerant([&] { areas = visit->areaRefs(); });
  if (!sheet) return true;

  Visit run{app, request, observer, steps, snapshot, {}, 0, 0, {}, {}, {}, {}, {}};
  run.rule.fixed.operation = request.operation;
  run.rule.perCell = request.inputs ? &request.inputs : nullptr;
  run.rule.rules = request.rules;
  run.rule.steps = request.steps;
  run.rule.keepBefore = false;  // the undo record keeps the cell itself
  tolerant([&] { run.rule.locale = app.locale(); });
  // The host's worksheet functions, for the rows that ask them; fetched once.
  const bool asksHost =
      !request.steps.empty() ? std::any_of(request.steps.begin(), request.steps.end(),
                                           [](const CellRequest& step) {
                                             return step.inputs.rules == TextRules::Classic &&
                                                    operationRow(step.operation).usesHostFunctions;
                                           })
      : request.inputs       ? std::any_of(operationTable().begin(), operationTable().end(),
                                           [](const OperationRow& row) { return row.usesHostFunctions; })
                             : operationRow(request.operation).usesHostFunctions;
  if (asksHost && (!request.steps.empty() || request.rules == TextRules::Classic)) {
    tolerant([&] { run.rule.functions = &app.worksheetFunction(); });
  }
  bool whole = true;
  for (const AreaRef& ref : areas) {
    whole = run.area(*sheet, ref);
    if (!whole) break;
  }
  captureRunResults(snapshot);
  if (run.gaveUp > 0) tolerant([&] { observer.message(gaveUpText(run.gaveUp)); });
  return whole;
}

// The whole character run; `beforeCells` may hand it to the value removal. The per-cell
// steps (yield, progress, the stop test) go to `steps`, the observer behind the guard.
void runCharacters(RemovalSession& session, const RunRequest& request, RunObserver& observer,
                   RunObserver& steps) {
  const auto finish = [&] { tolerant([&] { observer.finish(); }); };
  const ApplicationPtr hostApp = session.hostApp;
  const auto books =
      hostApp ? tolerantGet([&] { return hostApp->workbooksCount(); }) : std::optional<int64_t>{0};
  if (books && *books == 0) {
    observer.message(kNoWorkbookText);
    finish();
    return;
  }
  Application& app = *hostApp;
  // The record the session holds now; Control+Z is bound again only to a record this run
  // made, never to an earlier run's after the user's own edit gave the key back.
  const std::shared_ptr<UndoSnapshot> earlier = session.undoSnapshot;

  enterHostRunStateTolerant(app, session.userModes);
  observer.started();
  RangePtr selection;
  int64_t nonEmpty = 0;
  tolerant([&] { selection = app.selection(); });
  tolerant([&] {
    if (selection) nonEmpty = static_cast<int64_t>(app.worksheetFunction().countA(*selection));
  });

  if (nonEmpty <= 0) {
    tolerant([&] { observer.message(kEmptySelectionText); });
  } else {
    tolerant([&] { observer.setMaximum(static_cast<float>(nonEmpty)); });
    bool goOn = true;
    if (request.beforeCells) {
      const auto count = static_cast<int32_t>(std::min<int64_t>(nonEmpty, INT32_MAX));
      const auto mode = tolerantGet([&] { return request.beforeCells(); });
      goOn = mode && !*mode;
      if (mode && *mode) {
        tolerant([&] { runPreparedValueRemoval(session, **mode, count, observer); });
      }
    }
    // A recipe that ends by clearing values needs one column, before anything changes.
    if (goOn && request.afterCells && !singleColumnAreas(*selection)) {
      tolerant([&] { observer.message(kSingleColumnText); });
      goOn = false;
    }
    if (goOn && visitCells(session, app, *selection, request, observer, steps) &&
        request.afterCells) {
      tolerant([&] { runValueRemovalAfterCharacters(session, *request.afterCells, observer); });
    }
  }

  leaveHostRunState(app, session.userModes);
  if (session.undoSnapshot != earlier) bindUndoCommands(session);
  finish();
}

// The observer of one run, as the run sees it: marks the run's changes of cells as the
// add-in's own and, when the run leaves by an exception (out of memory for a huge undo
// record, a failing form), ends it as its own end steps would have: the host back from
// its run state if the run had put it there (a run enters it just before started()), and
// finish() if it was not called yet. The exception then goes on to the caller.
class GuardedObserver final : public RunObserver {
 public:
  GuardedObserver(RemovalSession& session, RunObserver& observer)
      : own_(session), session_(session), observer_(observer) {}
  GuardedObserver(const GuardedObserver&) = delete;
  GuardedObserver& operator=(const GuardedObserver&) = delete;
  ~GuardedObserver() override {
    if (std::uncaught_exceptions() <= exceptions_) return;
    if (const ApplicationPtr app = session_.hostApp; app && started_) {
      leaveHostRunState(*app, session_.userModes);
    }
    if (!finished_) tolerant([&] { observer_.finish(); });
  }

  void started() override {
    started_ = true;
    observer_.started();
  }
  void setMaximum(float maximum) override { observer_.setMaximum(maximum); }
  void yield() override { observer_.yield(); }
  void progress(float step) override { observer_.progress(step); }
  bool stopRequested() override { return observer_.stopRequested(); }
  void message(const std::u16string& text) override { observer_.message(text); }
  void finish() override {
    finished_ = true;
    observer_.finish();
  }

 private:
  OwnChanges own_;
  RemovalSession& session_;
  RunObserver& observer_;
  int exceptions_ = std::uncaught_exceptions();
  bool started_ = false;
  bool finished_ = false;
};

}  // namespace

void runRemoval(RemovalSession& session, const RunRequest& request, RunObserver& observer) {
  GuardedObserver guarded(session, observer);
  const OperationRow& row = operationRow(request.operation);
  if (row.kind == OperationKind::ValueLevel) {
    runValueRemoval(session, row.valueMode, guarded);
  } else {
    runCharacters(session, request, guarded, observer);
  }
}

}  // namespace qmv
