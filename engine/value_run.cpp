#include "engine/value_run.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "engine/host_run_state.hpp"
#include "host/address.hpp"
#include "host/cell_text.hpp"
#include "host/host.hpp"
#include "host/tolerant.hpp"

namespace qmv {

namespace {

/// The host's COUNTIF takes criteria of at most this many characters.
constexpr std::size_t kMaxCriterionChars = 255;

/// Rows of the comparison column read from the host in one call.
constexpr int64_t kBlockRows = 4096;

/// The duties a run takes on itself; the wizard's caller takes over the host's part.
struct RunDuties {
  /// Refuse without a workbook, put the host into its run state and back, clear the stop
  /// flag, count the non-empty cells and refuse an empty selection.
  bool prepareHost = false;
  /// Keep one clears every cell of a row the filter hid, empty or not.
  bool clearEmptyHiddenCells = false;
};

/// The text a cell is counted and searched by: a text value as it stands (not copied),
/// anything else through the cell-text rule into `scratch`. Null for an error value (it
/// has no text) and for a text longer than the host's criterion limit: its first 255
/// characters would count other cells only, never this one, so a count cannot speak for
/// it. An empty text marks the cell as empty.
const std::u16string* criterionText(const Value& value, const HostLocale& locale,
                                    std::u16string& scratch) {
  const std::u16string* text = std::get_if<std::u16string>(&value);
  if (text == nullptr) {
    std::optional<std::u16string> converted = cellText(value, locale);
    if (!converted) return nullptr;
    scratch = std::move(*converted);
    text = &scratch;
  }
  return text->size() > kMaxCriterionChars ? nullptr : text;
}

/// Whether the value's cell text is not the empty text.
bool hasText(const Value& value, const HostLocale& locale) {
  if (const auto* text = std::get_if<std::u16string>(&value)) return !text->empty();
  const std::optional<std::u16string> converted = cellText(value, locale);
  return converted && !converted->empty();
}

bool isError(const Value& value) { return std::holds_alternative<CellError>(value); }

/// Values of the comparison column, read from the host a block of rows at a time into
/// one block, whose texts keep their storage from block to block. The walks clear only
/// the cell they stand on, so a block read ahead stays true.
class ColumnValues {
 public:
  ColumnValues(Range& column, int64_t rows) : column_(column), rows_(rows) {}

  /// The value of `row` (1-based); null when the host cannot give it. Valid until the
  /// next call.
  const Value* at(int64_t row) {
    const int64_t first = (row - 1) / kBlockRows * kBlockRows + 1;
    if (first != blockFirst_) load(first);
    if (blockValid_) return &block_.at(row - first, 0).value;
    std::optional<Value> single = tolerantGet([&] { return column_.cell(row, 1)->value(); });
    if (!single) return nullptr;
    single_ = std::move(*single);
    return &single_;
  }

 private:
  void load(int64_t first) {
    blockFirst_ = first;
    const int64_t last = std::min(rows_, first + kBlockRows - 1);
    blockValid_ = tolerant([&] { readRows(first, last); });
    if (blockValid_ && (block_.area.rows() != last - first + 1 || block_.area.columns() != 1 ||
                        block_.cells.size() != static_cast<std::size_t>(last - first + 1))) {
      blockValid_ = false;  // not the shape asked for: fall back to single cells
    }
  }

  void readRows(int64_t first, int64_t last) {
    if (first == 1 && last == rows_) {
      column_.readBlockInto(block_);
      return;
    }
    const CellRef top = column_.topLeft();
    const AreaRef rows{{top.row + first - 1, top.column}, {top.row + last - 1, top.column}};
    column_.worksheet()->range(formatAddress(rows))->readBlockInto(block_);
  }

  Range& column_;
  int64_t rows_;
  int64_t blockFirst_ = 0;
  CellBlock block_;
  bool blockValid_ = false;
  Value single_;
};

/// Whether each row of a column is hidden, as far as the host tells.
enum class RowState : uint8_t { Visible, Hidden, Unknown };

/// Row states of `column` (rows 1 to `rows`): one call for the visible cells, row by row
/// when the host cannot answer that at once (it refuses when no cell is visible).
std::vector<RowState> rowStates(Range& column, int64_t rows) {
  std::vector<RowState> states(static_cast<std::size_t>(rows), RowState::Hidden);
  const std::optional<CellRef> top = tolerantGet([&] { return column.topLeft(); });
  const std::optional<std::vector<AreaRef>> visible =
      tolerantGet([&] { return column.specialCells(xl::kCellTypeVisible)->areaRefs(); });
  if (top && visible) {
    // Hiding is by whole rows: a visible cell in any column shows its row.
    for (const AreaRef& area : *visible) {
      const int64_t from = std::max<int64_t>(area.first.row - top->row + 1, 1);
      const int64_t to = std::min<int64_t>(area.last.row - top->row + 1, rows);
      for (int64_t r = from; r <= to; ++r) {
        states[static_cast<std::size_t>(r - 1)] = RowState::Visible;
      }
    }
    return states;
  }
  for (int64_t r = 1; r <= rows; ++r) {
    const std::optional<bool> hidden =
        tolerantGet([&] { return column.cell(r, 1)->entireRowHidden(); });
    states[static_cast<std::size_t>(r - 1)] =
        !hidden ? RowState::Unknown : (*hidden ? RowState::Hidden : RowState::Visible);
  }
  return states;
}

/// One run of a mode over the working range, with its step counter and progress display.
class DuplicateRun {
 public:
  DuplicateRun(Application& app, RunObserver& observer, const RunDuties& duties, double max)
      : app_(app),
        observer_(observer),
        duties_(duties),
        locale_(tolerantGet([&] { return app.locale(); }).value_or(HostLocale{})),
        max_(static_cast<float>(max)) {}

  void setMax(double max) {
    max_ = static_cast<float>(max);
    observer_.setMaximum(max_);
  }

  /// Forms the working range: the selection within the active sheet's used range.
  void formWorkingRange(Range& selection) {
    tolerant([&] {
      RangePtr used = app_.activeSheet()->usedRange();
      work_ = app_.intersect(selection, *used);
    });
    if (!work_) return;
    tolerant([&] { column_ = work_->column(1); });
    if (!column_) return;
    rows_ = tolerantGet([&] { return work_->rowsCount(); }).value_or(0);
  }

  /// Clears every occurrence of every value that occurs more than once.
  void allDuplicates(Range& selection, double nonEmpty) {
    setMax(2 * nonEmpty);
    if (!column_) return;
    ColumnValues values(*column_, rows_);
    std::vector<std::u16string> removed;
    // Bottom up: the count shrinks with every cell cleared, so the top-most occurrence of
    // each repeated value stays for the second pass.
    for (int64_t r = rows_; r >= 1; --r) {
      const Value* value = values.at(r);
      const std::u16string* text = criterion(value);
      if (text && !text->empty()) {
        const std::optional<double> count =
            tolerantGet([&] { return app_.worksheetFunction().countIf(*column_, *text); });
        if (count && *count > 1) {
          removed.push_back(*text);
          clearRow(r);
        }
      }
      // Every cell that COUNTA counted is a step, also one without a usable criterion (an
      // error value, an over-long text), so the bar still stands at half after this pass.
      if (text ? !text->empty() : value != nullptr && !isEmpty(*value)) ++step_;
      if (progressStep()) return;
    }
    // Top down: the n-th step clears the occurrence left of the n-th removed value.
    for (int64_t n = 1; n <= rows_; ++n) {
      if (n <= static_cast<int64_t>(removed.size())) {
        const std::u16string& what = removed[static_cast<std::size_t>(n - 1)];
        const std::optional<RangePtr> found =
            tolerantGet([&] { return selection.find(what, *work_->cell(n, 1)); });
        if (found && *found) clearFound(**found);
      }
      ++step_;
      if (progressStep()) return;
    }
  }

  /// Clears the cells of the rows that the host's unique filter hides as repeats.
  void keepOne() {
    if (!column_) return;
    // Rows hidden before the filter are the user's, not repeats.
    const std::vector<RowState> before = rowStates(*column_, rows_);
    tolerant([&] { work_->advancedFilterUniqueInPlace(); });
    const std::vector<RowState> after = rowStates(*column_, rows_);
    ColumnValues values(*column_, rows_);
    for (int64_t r = 1; r <= rows_; ++r) {
      const auto i = static_cast<std::size_t>(r - 1);
      if (after[i] == RowState::Hidden && before[i] == RowState::Visible &&
          keepOneClears(values.at(r))) {
        clearRow(r);
      }
      ++step_;
      if (progressStep()) break;
    }
    tolerantRetry([&] { app_.activeSheet()->showAllData(); });
  }

  /// Clears every value that occurs exactly once.
  void uniqueValues() {
    if (!column_) return;
    ColumnValues values(*column_, rows_);
    for (int64_t r = rows_; r >= 1; --r) {
      const std::u16string* text = criterion(values.at(r));
      if (text && !text->empty()) {
        const std::optional<double> count =
            tolerantGet([&] { return app_.worksheetFunction().countIf(*column_, *text); });
        if (count && *count == 1) clearRow(r);
      }
      ++step_;
      if (progressStep()) return;
    }
  }

 private:
  const std::u16string* criterion(const Value* value) {
    return value == nullptr ? nullptr : criterionText(*value, locale_, scratch_);
  }

  /// Whether keep one clears a cell of a hidden row: one with text, or in the wizard any
  /// cell. An error value is never taken for a repeat of another cell's text.
  bool keepOneClears(const Value* value) const {
    if (value == nullptr || isError(*value)) return false;
    if (duties_.clearEmptyHiddenCells) return true;
    return hasText(*value, locale_);
  }

  void clearRow(int64_t row) {
    tolerant([&] { work_->cell(row, 1)->clear(); });
  }

  /// Clears a cell the search found, unless it holds an error value: the search may
  /// match an error's display text, which is not the value searched for.
  void clearFound(Range& found) {
    const std::optional<Value> value = tolerantGet([&] { return found.value(); });
    if (!value || isError(*value)) return;
    tolerant([&] { found.clear(); });
  }

  /// Yields once, shows the step (never above the maximum) and tells whether Stop was
  /// pressed.
  bool progressStep() {
    observer_.yield();
    observer_.progress(std::min(static_cast<float>(step_), max_));
    return observer_.stopRequested();
  }

  Application& app_;
  RunObserver& observer_;
  RunDuties duties_;
  HostLocale locale_;
  float max_;  ///< the progress maximum as last set
  std::u16string scratch_;
  RangePtr work_;
  RangePtr column_;
  int64_t rows_ = 0;
  int64_t step_ = 0;
};

/// The one implementation behind both entry points. `nonEmptyCount` is the caller's
/// count when the caller prepared the host.
void runDuplicateRemoval(RemovalSession& session, ValueMode mode, RunObserver& observer,
                         const RunDuties& duties, double nonEmptyCount) {
  Application* const app = session.hostApp.get();
  if (app == nullptr) {
    observer.finish();
    return;
  }
  if (duties.prepareHost) {
    const std::optional<int64_t> workbooks = tolerantGet([&] { return app->workbooksCount(); });
    if (!workbooks || *workbooks == 0) {
      observer.message(kNoWorkbookText);
      observer.finish();
      return;
    }
  }
  // A selection that is not cells is no single column either.
  const RangePtr selection = tolerantGet([&] { return app->selection(); }).value_or(nullptr);
  const std::optional<int64_t> columns =
      selection ? tolerantGet([&] { return selection->columnsCount(); }) : std::nullopt;
  if (!columns || *columns != 1) {
    observer.message(kSingleColumnText);
    observer.finish();
    return;
  }

  double nonEmpty = nonEmptyCount;
  if (duties.prepareHost) {
    enterHostRunStateTolerant(*app);
    observer.started();
    nonEmpty = tolerantGet([&] { return app->worksheetFunction().countA(*selection); }).value_or(0);
    if (nonEmpty <= 0) {
      observer.message(kEmptySelectionText);
      leaveHostRunState(*app);
      observer.finish();
      return;
    }
  }

  DuplicateRun run(*app, observer, duties, nonEmpty);
  if (duties.prepareHost) run.setMax(nonEmpty);
  run.formWorkingRange(*selection);

  switch (mode) {
    case ValueMode::AllRepeated:
      run.allDuplicates(*selection, nonEmpty);
      break;
    case ValueMode::KeepFirst:
      run.keepOne();
      break;
    case ValueMode::AllUnique:
      run.uniqueValues();
      break;
  }

  if (duties.prepareHost) leaveHostRunState(*app);
  observer.finish();
}

}  // namespace

void runValueRemoval(RemovalSession& session, ValueMode mode, RunObserver& observer) {
  runDuplicateRemoval(session, mode, observer,
                      RunDuties{.prepareHost = true, .clearEmptyHiddenCells = false}, 0);
}

void runPreparedValueRemoval(RemovalSession& session, ValueMode mode, int32_t nonEmptyCount,
                             RunObserver& observer) {
  runDuplicateRemoval(session, mode, observer,
                      RunDuties{.prepareHost = false, .clearEmptyHiddenCells = true},
                      nonEmptyCount);
}

}  // namespace qmv
