#include "engine/value_run.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include "engine/host_run_state.hpp"
#include "engine/undo.hpp"
#include "host/address.hpp"
#include "host/cell_text.hpp"
#include "host/host.hpp"
#include "host/text.hpp"
#include "host/tolerant.hpp"

namespace qmv {

namespace {

/// Rows of the comparison column read from the host in one call.
constexpr int64_t kBlockRows = 4096;

/// Cells decided for clearing that wait to be cleared together. The host's display is off
/// during a run, so the wait shows nowhere; a Stop and the end of a walk clear them first.
constexpr std::size_t kClearBatch = 512;

/// Who prepares the host around a run. A run entered on its own does it all; the
/// wizard's run enters a host its caller has prepared, and keep one then also clears the
/// blank cells of the rows the filter hid.
enum class RunEntry : uint8_t {
  /// Refuse without a workbook, put the host into its run state and back, clear the stop
  /// flag, count the non-empty cells and refuse an empty selection.
  OnItsOwn,
  /// The caller did the above and counted the cells.
  HostPrepared,
  /// A recipe's value step, after its character steps in the same run: the host is
  /// prepared, the cells are counted again (the steps may have emptied some), the progress
  /// starts again, the clears join the character steps' undo record, and the run's end
  /// (finish, the undo command) is the caller's.
  AfterCharacters,
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

  /// The content of `row` (1-based); null when the host cannot give it. Valid until the
  /// next call.
  const CellContent* at(int64_t row) {
    const int64_t first = (row - 1) / kBlockRows * kBlockRows + 1;
    if (first != blockFirst_) load(first);
    if (blockValid_) return &block_.at(row - first, 0);
    std::optional<CellBlock> single =
        tolerantGet([&] { return column_.cell(row, 1)->readBlock(); });
    if (!single || single->cells.size() != 1) return nullptr;
    single_ = std::move(single->cells[0]);
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
  CellContent single_;
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

/// One run of a mode over the working range, with its step counter, progress display and
/// the undo record of the cells it clears.
class DuplicateRun {
 public:
  DuplicateRun(Application& app, RunObserver& observer, RunEntry entry, double max,
               UndoSnapshot* snapshot)
      : app_(app),
        observer_(observer),
        entry_(entry),
        locale_(tolerantGet([&] { return app.locale(); }).value_or(HostLocale{})),
        max_(static_cast<float>(max)),
        snapshot_(snapshot) {}

  void setMax(double max) {
    max_ = static_cast<float>(max);
    observer_.setMaximum(max_);
  }

  /// How many array formulas the run left (keeps), and the host's limit they passed.
  std::size_t arrayFormulasKept() const { return arrayFormulasKept_; }
  std::size_t arrayFormulaLimit() const { return arrayLimit_.value_or(0); }

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
    arrayLimit_ = tolerantGet([&] { return work_->arrayFormulaLimit(); }).value_or(std::nullopt);
    top_ = tolerantGet([&] { return column_->topLeft(); });
    // Formats shared by the whole range are read once; cells are asked only when they differ.
    if (snapshot_ != nullptr) sharedFormats_ = tolerantGet([&] { return work_->formats(); });
    if (top_ && snapshot_ != nullptr && rows_ > 0) {
      snapshot_->beginBlock(AreaRef{*top_, {top_->row + rows_ - 1, top_->column}});
    }
  }

  /// Clears every occurrence of every value that occurs more than once.
  void allDuplicates(Range& selection, double nonEmpty) {
    setMax(2 * nonEmpty);
    if (!column_) return;
    ColumnValues values(*column_, rows_);
    std::vector<std::u16string> removed;
    std::unordered_set<std::u16string> removedKeys;
    // Bottom up: the count shrinks with every cell cleared, so the top-most occurrence of
    // each repeated value stays for the second pass.
    for (int64_t r = rows_; r >= 1; --r) {
      const CellContent* content = values.at(r);
      const std::u16string* text = criterion(content);
      if (text && !text->empty()) {
        const std::optional<double> count =
            tolerantGet([&] { return app_.worksheetFunction().countIf(*column_, *text); });
        if (count && *count > 1) {
          removed.push_back(*text);
          removedKeys.insert(foldCase(*text));
          clearRow(r, *content);
        } else if (count && *count == 1 && removedKeys.contains(foldCase(*text))) {
          // The last occurrence of a removed value, which the second pass finds: kept now,
          // so that its undo record costs the host no second read.
          survivors_.emplace(r, *content);
        }
      }
      // Every cell that COUNTA counted is a step, also one without a usable criterion (an
      // error value, an over-long text), so the bar still stands at half after this pass.
      if (text ? !text->empty() : content != nullptr && !isEmpty(content->value)) ++step_;
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

  /// Clears every cell whose value repeats an earlier value of the working range. The
  /// host's unique filter is applied and removed as before, but the repeats are decided
  /// from the values read here: a row the user had hidden is no repeat for being hidden,
  /// and a repeat in it is cleared all the same. Rows the user had hidden stay hidden.
  void keepOne() {
    if (!column_) return;
    const std::vector<RowState> before = rowStates(*column_, rows_);
    // The host's ShowAllData clears the user's AutoFilter as well: what it filters by is
    // read first, to be set again after.
    const WorksheetPtr sheet = tolerantGet([&] { return app_.activeSheet(); }).value_or(nullptr);
    const std::optional<AutoFilterState> userFilter =
        sheet ? tolerantGet([&] { return sheet->autoFilter(); }).value_or(std::nullopt)
              : std::nullopt;
    // A table's filter is its own, and the host's ShowAllData may clear it too.
    const std::vector<AutoFilterState> tableFilters =
        sheet ? tolerantGet([&] {
                  return sheet->tableFilters();
                }).value_or(std::vector<AutoFilterState>{})
              : std::vector<AutoFilterState>{};
    tolerant([&] { work_->advancedFilterUniqueInPlace(); });
    // The wizard also clears the blank cells of the rows the filter hid.
    const std::vector<RowState> after =
        entry_ == RunEntry::HostPrepared ? rowStates(*column_, rows_) : std::vector<RowState>{};
    ColumnValues values(*column_, rows_);
    ValueTally seen(ValueMode::KeepFirst);
    std::string key;
    for (int64_t r = 1; r <= rows_; ++r) {
      const auto i = static_cast<std::size_t>(r - 1);
      const CellContent* content = values.at(r);
      if (content != nullptr) {
        const bool repeat =
            valueKey(key, content->value, locale_, ValueMode::KeepFirst) && seen.clears(key);
        const bool hiddenBlank = !after.empty() && after[i] == RowState::Hidden &&
                                 before[i] == RowState::Visible && !isError(content->value) &&
                                 !hasText(content->value, locale_);
        if (repeat || hiddenBlank) queueClear(r, *content);
      }
      ++step_;
      if (progressStep()) break;
    }
    flushClears();
    tolerantRetry([&] { app_.activeSheet()->showAllData(); });
    if (userFilter) filterAgain(*sheet, *userFilter);
    bool tablesKept = true;
    for (const AutoFilterState& table : tableFilters) {
      tablesKept = tolerant([&] { sheet->applyTableFilter(table); }) && table.exact && tablesKept;
    }
    if (!tablesKept) observer_.message(kAutoFilterClearedText);
    hideAgain(before);
  }

  /// Sets the user's AutoFilter again; when what it filtered by cannot be set again as it
  /// was, it is left clearing nothing (its rows are hidden again by hideAgain) and the user
  /// is told.
  void filterAgain(Worksheet& sheet, const AutoFilterState& userFilter) {
    AutoFilterState arrows = userFilter;
    arrows.filters.clear();
    const bool set =
        tolerant([&] { sheet.applyAutoFilter(userFilter.exact ? userFilter : arrows); });
    // A filter that is not exact filtered by something, told or not.
    const bool filtered = !userFilter.filters.empty() || !userFilter.exact;
    if (filtered && (!set || !userFilter.exact)) {
      if (!set) {
        // Criteria set before the refusal go too: the filter is cleared, as the user is told.
        tolerant([&] { sheet.showAllData(); });
        tolerant([&] { sheet.applyAutoFilter(arrows); });
      }
      observer_.message(kAutoFilterClearedText);
    }
  }

  /// Clears every value that occurs exactly once.
  void uniqueValues() {
    if (!column_) return;
    ColumnValues values(*column_, rows_);
    for (int64_t r = rows_; r >= 1; --r) {
      const CellContent* content = values.at(r);
      const std::u16string* text = criterion(content);
      if (text && !text->empty()) {
        const std::optional<double> count =
            tolerantGet([&] { return app_.worksheetFunction().countIf(*column_, *text); });
        if (count && *count == 1) queueClear(r, *content);
      }
      ++step_;
      if (progressStep()) break;
    }
    flushClears();
  }

  /// A mode over the cells of several areas of one column, taken as one list (every row
  /// once, top to bottom) and compared in process, since the host's counting and search
  /// work on one area. Clears what the mode clears on a single area holding the list.
  void list(ValueMode mode, Range& selection, double nonEmpty) {
    std::vector<ValueListCell> cells = readList(selection);
    std::vector<std::optional<std::string>> keys;
    keys.reserve(cells.size());
    for (const ValueListCell& c : cells) keys.push_back(valueKey(c.content.value, locale_, mode));
    const std::vector<bool> clears = valueListClears(mode, keys);
    // Every cell either pass may clear is one `clears` marks: their formats are read first,
    // a batch at a time.
    std::vector<std::optional<CellFormats>> formats(cells.size());
    std::vector<std::size_t> batch;
    const auto readBatch = [&] {
      std::vector<CellRef> at;
      at.reserve(batch.size());
      for (const std::size_t i : batch) at.push_back(cells[i].cell);
      std::vector<std::optional<CellFormats>> read = formatsOf(at);
      for (std::size_t k = 0; k < batch.size(); ++k) formats[batch[k]] = std::move(read[k]);
      batch.clear();
    };
    for (std::size_t i = 0; i < cells.size() && snapshot_ != nullptr; ++i) {
      if (clears[i]) batch.push_back(i);
      if (batch.size() >= kClearBatch) readBatch();
    }
    if (!batch.empty()) readBatch();
    std::vector<bool> cleared(cells.size(), false);
    const auto step = [&](std::size_t i, bool clear) {
      if (clear) cleared[i] = clearListCell(cells[i], formats[i]);
      ++step_;
      return progressStep();
    };
    switch (mode) {
      case ValueMode::AllRepeated: {
        setMax(2 * nonEmpty);
        // The lower occurrences first, as on one area; the top-most one in the second pass.
        std::unordered_set<std::string> above;
        for (std::size_t i = 0; i < cells.size(); ++i) {
          if (keys[i]) above.insert(*keys[i]);
        }
        std::vector<bool> topMost(cells.size(), false);
        for (std::size_t i = 0; i < cells.size(); ++i) {
          topMost[i] = keys[i] && above.erase(*keys[i]) > 0;
        }
        for (std::size_t i = cells.size(); i-- > 0;) {
          if (!keys[i] && isEmpty(cells[i].content.value)) continue;
          if (step(i, clears[i] && !topMost[i])) return;
        }
        // What is left of a value once a lower occurrence of it went.
        std::unordered_set<std::string> repeated;
        for (std::size_t i = 0; i < cells.size(); ++i) {
          if (cleared[i] && keys[i]) repeated.insert(*keys[i]);
        }
        for (std::size_t i = 0; i < cells.size(); ++i) {
          if (step(i, keys[i] && !cleared[i] && repeated.contains(*keys[i]))) return;
        }
        break;
      }
      case ValueMode::AllUnique:
        for (std::size_t i = cells.size(); i-- > 0;) {
          if (step(i, clears[i])) return;
        }
        break;
      case ValueMode::KeepFirst:
        for (std::size_t i = 0; i < cells.size(); ++i) {
          if (step(i, clears[i])) return;
        }
        break;
    }
  }

 private:
  const std::u16string* criterion(const CellContent* content) {
    return content == nullptr ? nullptr : criterionText(content->value, locale_, scratch_);
  }

  /// Clears the cell in `row` of the working range, recording it for undo first.
  void clearRow(int64_t row, const CellContent& before) {
    const RangePtr cell = tolerantGet([&] { return work_->cell(row, 1); }).value_or(nullptr);
    if (!cell) return;
    clearRecorded(
        *cell,
        top_ ? std::optional<CellRef>(CellRef{top_->row + row - 1, top_->column}) : std::nullopt,
        before);
  }

  /// Records the cell in `row` of the working range for undo and queues its clear. Only a
  /// walk whose later decisions do not hang on the host's counts may queue: the counts
  /// see a queued cell as it was.
  void queueClear(int64_t row, const CellContent& before) {
    if (keeps(before, top_ ? std::optional<CellRef>(CellRef{top_->row + row - 1, top_->column})
                           : std::nullopt)) {
      return;
    }
    if (!top_) {
      clearRow(row, before);  // unplaced: one by one
      return;
    }
    pending_.push_back(PendingClear{CellRef{top_->row + row - 1, top_->column}, before, {}});
    if (pending_.size() >= kClearBatch) flushClears();
  }

  /// Records the queued cells for undo, their formats read together, then clears them in
  /// as few host calls as the host allows; when it refuses them together, one by one.
  /// Only cells the host cleared are marked in the record.
  void flushClears() {
    if (pending_.empty()) return;
    std::vector<CellRef> cells;
    cells.reserve(pending_.size());
    for (const PendingClear& p : pending_) cells.push_back(p.at);
    const std::vector<std::optional<CellFormats>> formats = formatsOf(cells);
    for (std::size_t i = 0; i < pending_.size(); ++i) {
      PendingClear& p = pending_[i];
      p.index = record(p.at, p.before, formats[i]);
    }
    const bool together = tolerant([&] { work_->clearCells(cells); });
    for (const PendingClear& p : pending_) {
      const bool cleared =
          together || tolerant([&] {
            work_->cell(p.at.row - top_->row + 1, p.at.column - top_->column + 1)->clear();
          });
      if (cleared && p.index) markCleared(*snapshot_, *p.index);
    }
    pending_.clear();
  }

  /// Clears a cell the search found, unless it holds an error value: the search may
  /// match an error's display text, which is not the value searched for. A cell the
  /// first pass kept is recorded from what it read then; any other is read again.
  void clearFound(Range& found) {
    const std::optional<CellRef> at = tolerantGet([&] { return found.topLeft(); });
    if (at && top_ && at->column == top_->column) {
      const auto kept = survivors_.find(at->row - top_->row + 1);
      if (kept != survivors_.end()) {
        if (!isError(kept->second.value)) clearRecorded(found, *at, kept->second);
        survivors_.erase(kept);
        return;
      }
    }
    const std::optional<CellBlock> read = tolerantGet([&] { return found.readBlock(); });
    if (!read || read->cells.size() != 1 || isError(read->cells[0].value)) return;
    clearRecorded(found, read->area.first, read->cells[0]);
  }

  bool clearListCell(const ValueListCell& c, const std::optional<CellFormats>& formats) {
    const RangePtr cell =
        tolerantGet([&] { return sheet_->range(formatAddress(c.cell)); }).value_or(nullptr);
    return cell && clearRecorded(*cell, c.cell, c.content, formats);
  }

  /// The formats of `cells` of the working range for the record, in their order: the
  /// formats the range shares, or each cell's, read together. A batch the host will not
  /// read together is read cell by cell, so that each cell it can tell keeps its formats.
  /// None without a record, and for a cell the host cannot tell at all.
  std::vector<std::optional<CellFormats>> formatsOf(std::span<const CellRef> cells) {
    std::vector<std::optional<CellFormats>> out(cells.size());
    if (snapshot_ == nullptr || cells.empty()) return out;
    if (sharedFormats_) {
      std::fill(out.begin(), out.end(), sharedFormats_);
      return out;
    }
    const std::optional<std::vector<CellFormats>> read =
        tolerantGet([&] { return work_->cellFormats(cells); });
    const WorksheetPtr sheet =
        read && read->size() == cells.size()
            ? nullptr
            : tolerantGet([&] { return work_->worksheet(); }).value_or(nullptr);
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (read && read->size() == cells.size()) {
        out[i] = (*read)[i];
      } else if (sheet) {
        out[i] = tolerantGet([&] { return sheet->range(formatAddress(cells[i]))->formats(); });
      }
    }
    return out;
  }

  /// Records a cell about to be cleared with the formats it had (none when unknown); its
  /// entry in the record, none without a record.
  std::optional<std::size_t> record(const CellRef& at, const CellContent& before,
                                    const std::optional<CellFormats>& formats) {
    if (snapshot_ == nullptr) return std::nullopt;
    if (!keptAside_) keepWorkAside();
    return RecordClearedCell(*snapshot_, at, before, formats);
  }

  /// Before the first clear: asks the host to keep a copy of each area of the working
  /// range, which undo puts back everything the clears remove from (tolerant: without a
  /// copy, undo puts back the recorded formats).
  void keepWorkAside() {
    keptAside_ = true;
    if (!work_) return;
    const std::vector<RangePtr> areas =
        tolerantGet([&] { return work_->areas(); }).value_or(std::vector<RangePtr>{});
    for (const RangePtr& area : areas) {
      tolerant([&] { snapshot_->keepAside(area->keepAside()); });
    }
  }

  /// The full clear of one cell, recorded for undo (content and formats) when its place
  /// is known, with `formats` when they were read before. True when the host cleared it.
  bool clearRecorded(Range& cell, std::optional<CellRef> at, const CellContent& before,
                     const std::optional<CellFormats>& formats = std::nullopt) {
    if (keeps(before, at)) return false;
    std::optional<std::size_t> index;
    if (at && snapshot_ != nullptr) {
      std::optional<CellFormats> read = formats ? formats : sharedFormats_;
      if (!read) read = tolerantGet([&] { return cell.formats(); });
      index = record(*at, before, read);
    }
    const bool cleared = tolerant([&] { cell.clear(); });
    if (cleared && index) markCleared(*snapshot_, *index);
    return cleared;
  }

  /// True for a cell the run leaves since the host could not put it back (arrayFormulaKept);
  /// each such cell is counted once, however often a walk comes to it.
  bool keeps(const CellContent& before, std::optional<CellRef> at) {
    if (!arrayFormulaKept(before, arrayLimit_)) return false;
    if (!at || keptCells_.insert({at->row, at->column}).second) ++arrayFormulasKept_;
    return true;
  }

  /// The cells of the working range's areas, every row once, top to bottom.
  std::vector<ValueListCell> readList(Range& selection) {
    const std::vector<AreaRef> areas =
        tolerantGet([&] { return work_->areaRefs(); }).value_or(std::vector<AreaRef>{});
    sheet_ = tolerantGet([&] { return selection.worksheet(); }).value_or(nullptr);
    if (!sheet_ || areas.empty()) return {};
    std::vector<ValueListCell> cells = readValueList(*sheet_, areas);
    if (snapshot_ != nullptr && !cells.empty()) {
      snapshot_->beginBlock(AreaRef{cells.front().cell, cells.back().cell});
    }
    return cells;
  }

  /// Hides again the rows that were hidden before the filter showed them.
  void hideAgain(const std::vector<RowState>& before) {
    for (int64_t r = 1; r <= rows_; ++r) {
      if (before[static_cast<std::size_t>(r - 1)] != RowState::Hidden) continue;
      const bool hidden =
          tolerantGet([&] { return column_->cell(r, 1)->entireRowHidden(); }).value_or(true);
      if (!hidden) tolerant([&] { column_->cell(r, 1)->setEntireRowHidden(true); });
    }
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
  RunEntry entry_;
  HostLocale locale_;
  float max_;  ///< the progress maximum as last set
  UndoSnapshot* snapshot_;
  std::u16string scratch_;
  RangePtr work_;
  RangePtr column_;
  std::optional<CellRef> top_;
  std::optional<CellFormats> sharedFormats_;
  bool keptAside_ = false;
  WorksheetPtr sheet_;
  /// Rows of the working range (1-based) whose cell the second pass of "every repeated
  /// value" is to clear, with the content the first pass read.
  std::unordered_map<int64_t, CellContent> survivors_;
  /// A cell queued for clearing, what it held and, once recorded, its entry in the record.
  struct PendingClear {
    CellRef at;
    CellContent before;
    std::optional<std::size_t> index;
  };
  std::vector<PendingClear> pending_;
  std::optional<std::size_t> arrayLimit_;
  std::set<std::pair<int64_t, int64_t>> keptCells_;
  std::size_t arrayFormulasKept_ = 0;
  int64_t rows_ = 0;
  int64_t step_ = 0;
};

/// The one implementation behind both entry points. `nonEmptyCount` is the caller's
/// count when the caller prepared the host.
void runDuplicateRemoval(RemovalSession& session, ValueMode mode, RunObserver& observer,
                         RunEntry entry, double nonEmptyCount) {
  const auto finish = [&] {
    if (entry != RunEntry::AfterCharacters) observer.finish();
  };
  Application* const app = session.hostApp.get();
  if (app == nullptr) {
    finish();
    return;
  }
  if (entry == RunEntry::OnItsOwn) {
    const std::optional<int64_t> workbooks = tolerantGet([&] { return app->workbooksCount(); });
    if (!workbooks || *workbooks == 0) {
      observer.message(kNoWorkbookText);
      finish();
      return;
    }
  }
  // A selection that is not cells is no single column either; nor are areas side by side.
  const RangePtr selection = tolerantGet([&] { return app->selection(); }).value_or(nullptr);
  const std::optional<int64_t> columns =
      selection ? tolerantGet([&] { return selection->columnsCount(); }) : std::nullopt;
  const std::optional<std::vector<AreaRef>> areas =
      selection ? singleColumnAreas(*selection) : std::nullopt;
  if (!columns || *columns != 1 || !areas) {
    observer.message(kSingleColumnText);
    finish();
    return;
  }

  double nonEmpty = nonEmptyCount;
  if (entry != RunEntry::HostPrepared) {
    if (entry == RunEntry::OnItsOwn) {
      enterHostRunStateTolerant(*app, session.userModes);
      observer.started();
    }
    nonEmpty = tolerantGet([&] { return app->worksheetFunction().countA(*selection); }).value_or(0);
    if (nonEmpty <= 0) {
      if (entry == RunEntry::OnItsOwn) {
        observer.message(kEmptySelectionText);
        leaveHostRunState(*app, session.userModes);
      }
      finish();
      return;
    }
  }

  // The cleared cells are recorded for undo; this record replaces the previous run's, or
  // after a recipe's character steps continues theirs.
  if (entry == RunEntry::AfterCharacters && session.undoSnapshot) {
    session.undoSnapshot->beginFollowingRun();
  } else {
    BeginUndoSnapshot(session);
  }
  const std::shared_ptr<UndoSnapshot> snapshot = session.undoSnapshot;
  DuplicateRun run(*app, observer, entry, nonEmpty, snapshot.get());
  if (entry != RunEntry::HostPrepared) run.setMax(nonEmpty);
  run.formWorkingRange(*selection);

  if (areas->size() > 1) {
    run.list(mode, *selection, nonEmpty);
  } else {
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
  }

  if (run.arrayFormulasKept() > 0) {
    observer.message(keptArrayFormulasText(run.arrayFormulasKept(), run.arrayFormulaLimit()));
  }
  if (snapshot) captureRunResults(*snapshot);  // the looks the clears left, for undo
  if (entry == RunEntry::OnItsOwn) {
    leaveHostRunState(*app, session.userModes);
    bindUndoCommands(session);
  }
  finish();
}

}  // namespace

bool arrayFormulaKept(const CellContent& content, std::optional<std::size_t> limit) {
  return limit && content.isArrayFormula() && content.formula.size() - 2 > *limit;
}

std::optional<std::u16string> keptArrayFormulasQuestion(Application& app) {
  const RangePtr selection = tolerantGet([&] { return app.selection(); }).value_or(nullptr);
  if (!selection) return std::nullopt;
  const std::optional<std::size_t> limit =
      tolerantGet([&] { return selection->arrayFormulaLimit(); }).value_or(std::nullopt);
  if (!limit) return std::nullopt;
  // Only the formulas are read. SpecialCells of a single cell looks at the whole sheet, so
  // a formula counts only inside the selection.
  const std::vector<AreaRef> selected =
      tolerantGet([&] { return selection->areaRefs(); }).value_or(std::vector<AreaRef>{});
  const std::vector<RangePtr> areas =
      tolerantGet([&] {
        return selection->specialCells(xl::kCellTypeFormulas)->areas();
      }).value_or(std::vector<RangePtr>{});
  for (const RangePtr& area : areas) {
    const std::optional<CellBlock> block = tolerantGet([&] { return area->readBlock(); });
    if (!block || block->cells.size() != static_cast<std::size_t>(block->area.count())) continue;
    for (int64_t r = 0; r < block->area.rows(); ++r) {
      for (int64_t c = 0; c < block->area.columns(); ++c) {
        const CellRef at{block->area.first.row + r, block->area.first.column + c};
        const auto inside = [&](const AreaRef& a) { return a.contains(at); };
        if (arrayFormulaKept(block->at(r, c), limit) &&
            std::any_of(selected.begin(), selected.end(), inside)) {
          return u"Array formulas longer than " + toUtf16(std::to_string(*limit)) +
                 u" characters will be left as they are: this Excel could not put them back.";
        }
      }
    }
  }
  return std::nullopt;
}

std::u16string keptArrayFormulasText(std::size_t count, std::size_t limit) {
  const std::u16string longer = u" longer than " + toUtf16(std::to_string(limit)) + u" characters ";
  if (count == 1) return u"1 array formula" + longer + u"was left as it is.";
  return toUtf16(std::to_string(count)) + u" array formulas" + longer + u"were left as they are.";
}

std::optional<std::vector<AreaRef>> singleColumnAreas(Range& selection) {
  std::optional<std::vector<AreaRef>> areas = tolerantGet([&] { return selection.areaRefs(); });
  if (!areas || areas->empty()) return std::nullopt;
  for (const AreaRef& area : *areas) {
    if (area.columns() != 1 || area.first.column != areas->front().first.column) {
      return std::nullopt;
    }
  }
  return areas;
}

std::vector<ValueListCell> readValueList(Worksheet& sheet, std::vector<AreaRef> areas) {
  std::vector<ValueListCell> cells;
  std::sort(areas.begin(), areas.end(),
            [](const AreaRef& a, const AreaRef& b) { return a.first.row < b.first.row; });
  int64_t done = 0;  // the last row taken: areas may overlap
  for (const AreaRef& area : areas) {
    if (area.last.row <= done) continue;
    const AreaRef rows{{std::max(area.first.row, done + 1), area.first.column}, area.last};
    const std::optional<CellBlock> block =
        tolerantGet([&] { return sheet.range(formatAddress(rows))->readBlock(); });
    if (!block || block->cells.size() != static_cast<std::size_t>(rows.rows())) continue;
    for (int64_t r = 0; r < rows.rows(); ++r) {
      cells.push_back(ValueListCell{{rows.first.row + r, rows.first.column}, block->at(r, 0)});
    }
    done = area.last.row;
  }
  return cells;
}

void runValueRemoval(RemovalSession& session, ValueMode mode, RunObserver& observer) {
  runDuplicateRemoval(session, mode, observer, RunEntry::OnItsOwn, 0);
}

void runPreparedValueRemoval(RemovalSession& session, ValueMode mode, int32_t nonEmptyCount,
                             RunObserver& observer) {
  runDuplicateRemoval(session, mode, observer, RunEntry::HostPrepared, nonEmptyCount);
}

void runValueRemovalAfterCharacters(RemovalSession& session, ValueMode mode,
                                    RunObserver& observer) {
  runDuplicateRemoval(session, mode, observer, RunEntry::AfterCharacters, 0);
}

}  // namespace qmv
