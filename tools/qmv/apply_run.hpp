// One run of `qmv apply`: everything a format shares, once. A format (csv_apply.cpp,
// workbook_apply.cpp, typed_apply.cpp) knows only its storage: how to walk its cells in
// file order, how a cell shows as text, and how to write a changed or cleared cell.
//
// Call order:
//   1. ApplyRun run(plan, streams, ...): the target is opened (and locked) here, before the
//      format reads a byte of its input; sink() is null for a dry run.
//   2. The format walks its cells, asking selector() which it visits, and tells each
//      visited constant cell: visited(), then changed() when the rule changed its text
//      (counted(): many at once). A value removal goes by the engine's value rule, in one
//      of two ways: a format that holds its sheet (a workbook, --typed) load()s each visited
//      cell, then asks runValues() which of them are cleared; a CSV file is read twice,
//      countValue() each visited field on the first read, beginClears() between the reads,
//      clearsValue() each on the second.
//   3. finish(over): the dry run's listing, the formula warning where the format gives
//      one, and the summary line.
//
// Counts: visited cells are the selection's non-blank constants (and, for a value removal,
// its loaded cells); changed cells are those whose text changed or that were cleared.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/value_rule.hpp"
#include "host/address.hpp"
#include "host/locale.hpp"
#include "host/value.hpp"
#include "tools/qmv/apply.hpp"
#include "tools/qmv/pipeline.hpp"
#include "tools/qmv/plan.hpp"
#include "tools/qmv/report.hpp"
#include "tools/qmv/selection.hpp"

namespace qmv::cli {

/// How the cells a value removal loaded lie, when the selection is every column: the
/// phrase a refusal names them by when they span several columns ("the records of a.csv
/// have 3 fields"), the column it suggests, and the one column they form otherwise.
struct LoadedColumns {
  std::optional<std::string> spread;  ///< set when the cells span several columns
  std::string suggestedColumn = "B";
  AreaRef column;  ///< the column the value removal runs over otherwise
};

class ApplyRun {
 public:
  /// `headerAtFirstValue`: the header row is the first row holding a value (a workbook's
  /// used range), not the first row of the file.
  ApplyRun(const Plan& plan, ApplyStreams& streams, bool headerAtFirstValue);
  ApplyRun(const ApplyRun&) = delete;
  ApplyRun& operator=(const ApplyRun&) = delete;

  const Plan& plan() const { return plan_; }
  ApplyStreams& streams() { return streams_; }
  CellSelector& selector() { return selector_; }
  /// Where the result goes; null for a dry run.
  ResultSink* sink() { return sink_.get(); }
  /// Warnings go here: standard error, or nowhere under --quiet.
  std::ostream& warnings() { return warnings_; }

  /// A visited constant cell.
  void visited() { ++visited_; }
  /// A visited cell whose text the rule changed from `before` to `after` (UTF-8, as
  /// written): counted and listed by a dry run.
  void changed(CellRef ref, std::string_view before, std::string_view after);
  /// The same for texts in UTF-16, converted only when a dry run lists them.
  void changed(CellRef ref, std::u16string_view before, std::u16string_view after);
  /// Whether the result `after` starts as a spreadsheet reads a formula (=, +, - or @)
  /// where the text `before` did not; such results are counted for the formula warning.
  bool formulaResult(std::string_view before, std::string_view after);
  /// Cells counted in bulk (a span of records filtered at once).
  void counted(int64_t visited, int64_t changed, int64_t formulas);
  int64_t visitedCount() const { return visited_; }
  int64_t changedCount() const { return changed_; }

  /// A value removal over a held sheet: the visited cell `ref`; `shown` is its text, for a
  /// dry run's listing.
  void load(CellRef ref, const CellContent& content, std::string_view shown);
  /// Which of the loaded cells the value rule clears, in the order loaded; they are
  /// counted and listed by a dry run. The selection must be one column: with every column
  /// selected, `columns` says how the loaded cells lie. Throws UsageError when they span
  /// several columns.
  std::vector<CellRef> runValues(const LoadedColumns& columns);
  /// The areas the value removal ran over (after runValues or beginClears).
  const std::vector<AreaRef>& valueAreas() const { return valueAreas_; }

  /// A value removal over a file read twice: the first read's visited field `utf8` (a text
  /// cell).
  void countValue(std::string_view utf8);
  /// Between the reads: checks the column as runValues does.
  void beginClears(const LoadedColumns& columns);
  /// The second read's visited field `utf8` at `ref`, in the order counted: whether it is
  /// cleared (counted, and listed by a dry run).
  bool clearsValue(CellRef ref, std::string_view utf8);

  /// The end of the run: the dry run's listing, the formula warning when `warnFormulas`,
  /// and the summary line saying what the run went `over` (nothing under --quiet).
  void finish(const std::string& over, bool warnFormulas = false);

 private:
  ValueMode valueMode() const { return operationRow(*plan_.value).valueMode; }

  const Plan& plan_;
  ApplyStreams& streams_;
  std::ostream null_;
  std::ostream& warnings_;
  std::unique_ptr<ResultSink> sink_;
  CellSelector selector_;
  std::optional<ChangeReport> report_;
  int64_t visited_ = 0;
  int64_t changed_ = 0;
  int64_t formulas_ = 0;
  /// The locale a file's values show in: en-US, the host's default, which the formats
  /// read their numbers and dates by too.
  HostLocale locale_;
  std::optional<ValueTally> tally_;
  std::string key_;
  int64_t valueCells_ = 0;  ///< the cells a value removal visits
  std::vector<CellRef> loaded_;
  std::vector<std::optional<std::string>> loadedKeys_;
  std::vector<std::string> loadedTexts_;  ///< a dry run's texts of the loaded cells
  std::vector<AreaRef> valueAreas_;
};

/// Whether a text starting with `c` reads as a formula in a spreadsheet: =, +, - or @.
inline bool formulaByte(char c) { return c == '=' || c == '+' || c == '-' || c == '@'; }

}  // namespace qmv::cli
