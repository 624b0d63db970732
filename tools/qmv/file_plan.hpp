// What `qmv apply` does over a file, whatever its format: the checked chain of removals
// and its options (--range, -c, --dry-run, --limit), which cells it visits, and what a
// dry run prints. CSV text and workbooks both plan and report through these.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/find_nth_occurrence.hpp"
#include "engine/operations.hpp"
#include "engine/preview.hpp"
#include "host/address.hpp"
#include "tools/qmv/apply.hpp"
#include "tools/qmv/cell_removal.hpp"

namespace qmv::cli {

/// The changes a dry run prints unless --limit says otherwise.
inline constexpr int64_t kDefaultLimit = 20;

/// A checked request: the removals and which cells they visit. Format options (-d, -e,
/// --bom) are left to the format.
struct FilePlan {
  std::vector<CharacterStep> steps;  ///< character removals, in order
  std::optional<Operation> value;    ///< a value removal, alone
  std::string codes;                 ///< "RNUM,RLTE"
  std::optional<std::vector<AreaRef>> range;
  std::optional<std::vector<std::string>> columns;  ///< -c's names and letters
  bool header = false;                              ///< -c without --no-header
  /// --header-row: the header's row, where the format would otherwise find it (row 1 of
  /// CSV text, a sheet's first row that holds a value). Rows above it are left alone.
  std::optional<int64_t> headerRow;
  int64_t limit = kDefaultLimit;
};

/// Checks the removals (a comma list runs in order; a value removal runs alone), -o and
/// --in-place, --force, --dry-run and --limit, --range and -c. Throws UsageError.
FilePlan planFile(const ApplyRequest& request);

/// "a,b" as {"a", "b"}.
std::vector<std::string> splitList(const std::string& text);

/// Whether `text` is exactly one character beyond U+FFFF (four bytes of UTF-8).
bool isOneWideCharacter(const std::string& text);

/// The cells a run visits: every cell, or those of some areas.
class Selection {
 public:
  /// Every cell.
  Selection() = default;
  /// The cells of `areas`; an area reaching the sheet's last row goes on past it.
  explicit Selection(std::vector<AreaRef> areas) : all_(false), areas_(std::move(areas)) {}

  bool contains(int64_t row, int64_t column) const {
    if (all_) return true;
    return std::any_of(areas_.begin(), areas_.end(), [&](const AreaRef& a) {
      const bool rows = row >= a.first.row && (row <= a.last.row || a.last.row == kMaxRows);
      return rows && column >= a.first.column && column <= a.last.column;
    });
  }
  /// The single column of a value removal, or none when it spans more.
  std::optional<int64_t> singleColumn() const {
    if (all_ || areas_.size() != 1 || areas_.front().columns() != 1) return std::nullopt;
    return areas_.front().first.column;
  }
  const std::vector<AreaRef>& areas() const { return areas_; }

 private:
  bool all_ = true;
  std::vector<AreaRef> areas_;
};

/// The columns -c's `names` pick: a name found in `header` (the texts of the header row,
/// row `headerRow`, by column from A), else column letters. Without a header only letters
/// pick. Throws UsageError for a name found twice or not at all.
std::vector<int64_t> resolveColumns(const std::vector<std::string>& names,
                                    const std::vector<std::string>* header, int64_t headerRow);

/// The whole columns below `headerRow` (0: from row 1).
Selection columnSelection(const std::vector<int64_t>& columns, int64_t headerRow);

/// "zip (B), C below row 1".
std::string describeColumns(const std::vector<std::string>& names,
                            const std::vector<int64_t>& columns, int64_t headerRow);

/// `n` with a comma between thousands.
std::string withThousands(int64_t n);

/// The summary line: "qmv apply: RNUM over B2:B9: 8 cells visited, 3 changed".
std::string summaryLine(std::string_view codes, std::string_view over, int64_t visited,
                        int64_t changed, bool dryRun);

/// The occurrence a --occurrence entry ("1st" ... "Last") or typed number stands for.
Occurrence occurrenceOf(std::u16string_view occurrence, bool isEntry);

/// What a dry run prints on `out`: each change as B2: "before" -> "after" up to the
/// limit, then how many more, then the preview line the add-in's dialog shows.
class ChangeReport {
 public:
  ChangeReport(std::ostream& out, OperationKind kind, int64_t limit);

  /// One change; `before` and `after` are UTF-8 (after is empty for a cleared cell).
  void add(int64_t row, int64_t column, std::string_view before, std::string_view after);
  /// The lines after the changes.
  void finish();

 private:
  std::ostream& out_;
  PreviewTally preview_;
  int64_t limit_;
  int64_t changes_ = 0;
};

}  // namespace qmv::cli
