// Which cells `qmv apply` visits: --range, the columns -c picks, or every cell below the
// header, found as the cells of a file come in, row after row.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/address.hpp"
#include "tools/qmv/plan.hpp"

namespace qmv::cli {

/// The cells a run visits: every cell from a row down, or those of some areas.
class Selection {
 public:
  /// Every cell of rows `firstRow` and below.
  explicit Selection(int64_t firstRow = 1) : firstRow_(firstRow) {}
  /// The cells of `areas`; an area reaching the sheet's last row goes on past it.
  explicit Selection(std::vector<AreaRef> areas) : all_(false), areas_(std::move(areas)) {}

  bool contains(int64_t row, int64_t column) const {
    if (all_) return row >= firstRow_;
    return std::any_of(areas_.begin(), areas_.end(), [&](const AreaRef& a) {
      const bool rows = row >= a.first.row && (row <= a.last.row || a.last.row == kMaxRows);
      return rows && column >= a.first.column && column <= a.last.column;
    });
  }
  bool everyColumn() const { return all_; }
  /// The last column visited in any row (kMaxColumns for every column).
  int64_t lastColumn() const {
    if (all_) return kMaxColumns;
    int64_t last = 0;
    for (const AreaRef& a : areas_) last = std::max(last, a.last.column);
    return last;
  }
  int64_t firstRow() const { return all_ ? firstRow_ : 1; }
  /// The areas; empty when every column is visited.
  const std::vector<AreaRef>& areas() const { return areas_; }
  /// The single column of the areas, when they lie in one.
  std::optional<int64_t> singleColumn() const;
  /// How many columns, from A on, are all visited in `row` and every row below it (0 when
  /// A is not).
  int64_t leadingColumnsFrom(int64_t row) const;

 private:
  bool all_ = true;
  int64_t firstRow_ = 1;
  std::vector<AreaRef> areas_;
};

/// The columns -c's `picks` name: a name found in `header` (the texts of the header row,
/// row `headerRow`, by column from A), else a letter, a 1-based number, a range of either
/// (B:D, 2-4); exclusions (!name) take columns out of those named, or of every column to
/// `lastColumn` when only exclusions are given. A letter or number beyond `lastColumn`
/// (when known, above 0) is refused (UsageError). Without a header only
/// letters and numbers pick. Throws UsageError for a name found twice or not at all, and
/// when no column is left.
/// `shown`, when given, holds the texts the header cells display where those differ from
/// their values' texts (a workbook's dates and Booleans; empty elsewhere): a name matches
/// either.
std::vector<int64_t> resolveColumns(const std::vector<ColumnPick>& picks,
                                    const std::vector<std::string>* header, int64_t headerRow,
                                    int64_t lastColumn,
                                    const std::vector<std::string>* shown = nullptr);

/// Finds the visited cells as a file's cells come in, row after row: with a header (the
/// default), the header row is `headerRow` of the plan, else row 1 (`headerAtFirstValue`:
/// the first row that holds a value, as in a sheet), its texts name -c's columns, and no
/// cell in or above it is visited.
class CellSelector {
 public:
  CellSelector(const CellPlan& plan, bool headerAtFirstValue);

  /// Whether the run visits the cell at `ref`, which shows `shown` (`blank`: it holds
  /// nothing). Throws UsageError for a column -c cannot find.
  bool visits(CellRef ref, std::string_view shown, bool blank) {
    if (resolved_) return selection_.contains(ref.row, ref.column);
    return pendingVisits(ref, shown, blank);
  }
  /// Whether visits() still reads the text a cell shows: only until the selection is known
  /// (the header row names -c's columns).
  bool readsText() const { return !resolved_; }
  /// False only when the cell is known not to be visited (its text is not needed).
  bool mayVisit(int64_t row, int64_t column) const {
    return !resolved_ || selection_.contains(row, column);
  }
  /// No column past this one is visited in a row still to come.
  int64_t lastColumn() const { return resolved_ ? selection_.lastColumn() : kMaxColumns; }
  /// How many columns, from A on, are surely visited in `row` and every row below it: 0
  /// until the selection is known.
  int64_t leadingColumnsFrom(int64_t row) const {
    return resolved_ ? selection_.leadingColumnsFrom(row) : 0;
  }
  /// Names the header cell at `ref` also by the text it displays, where that differs from
  /// the text visits() was given; ignored for a cell outside the header row.
  void alsoShows(CellRef ref, std::string displayed);
  /// Ends the file: resolves -c when no cell came below the header.
  void finish();
  /// The header row (0 for none), once known.
  int64_t headerRow() const { return headerRow_; }
  const Selection& selection() const { return selection_; }
  /// "zip (B), C below row 1", "B2:B9"; empty for every cell.
  const std::string& description() const { return description_; }

 private:
  bool pendingVisits(CellRef ref, std::string_view shown, bool blank);
  void resolve();

  const CellPlan& plan_;
  Selection selection_;
  std::string description_;
  bool resolved_ = false;
  int64_t headerRow_ = 0;
  std::vector<std::string> header_;
  std::vector<std::string> headerShown_;
};

}  // namespace qmv::cli
