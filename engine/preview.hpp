// A dry run of a removal: what it would change over the selection, without changing it.
//
// previewRemoval reads the selection in bulk (no cell is written, no undo is recorded, the
// host's run state is left alone) and stops counting past a cap, so that a whole-sheet
// selection stays quick. previewText turns the figures into the line the dialog and the
// wizard show, and PreviewTally lets a tool that walks cells itself (a file tool) produce
// the same figures and the same line.
//
// Differences from a real run, kept on purpose so that a preview never asks the host for
// more than its cells:
//   - under the classic text rules, RLTE and RNPC apply the host's TRIM and CLEAN rules
//     here rather than asking the host;
//   - over one area the value removals compare texts without regard to case, as COUNTIF
//     does, but take a text's wildcards (* ? ~) literally; keep one counts every later
//     repeat of a text and leaves aside rows the user has hidden.
// Over several areas of one column a value removal is judged on the list the run builds
// and by the run's own decision, so the figures are the run's; areas in more than one
// column are refused as the run refuses them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/operations.hpp"
#include "engine/run.hpp"
#include "engine/text_rules.hpp"

namespace qmv {

class Application;

/// Changes counted at most; past this the preview says "more than".
inline constexpr int64_t kPreviewCap = 200000;
/// Changes shown as examples.
inline constexpr std::size_t kPreviewSamples = 3;
/// Characters of a text shown in an example before it is cut short with "...".
inline constexpr std::size_t kPreviewSampleChars = 16;

/// One change: a cell's text before and after (after is empty for a cleared value).
struct PreviewSample {
  std::u16string before;
  std::u16string after;
};

/// Counts changes, keeps the first few and stops past a cap.
class PreviewTally {
 public:
  explicit PreviewTally(OperationKind kind = OperationKind::CharacterLevel,
                        int64_t cap = kPreviewCap)
      : kind_(kind), cap_(cap) {}

  /// Counts one change. Returns false once the count has passed the cap: the caller stops.
  bool add(std::u16string_view before, std::u16string_view after);
  /// True while the next change would still be kept as an example.
  bool wantsSample() const { return samples_.size() < kPreviewSamples; }
  /// Counts one change without an example (the examples are full).
  bool count();

  OperationKind kind() const { return kind_; }
  /// Changes counted, at most cap + 1.
  int64_t changes() const { return changes_; }
  /// Counts one cell the transform gave up on (left as it was).
  void gaveUp() { ++gaveUp_; }
  int64_t gaveUpCells() const { return gaveUp_; }
  /// True when there were more changes than the cap.
  bool capped() const { return changes_ > cap_; }
  int64_t cap() const { return cap_; }
  const std::vector<PreviewSample>& samples() const { return samples_; }

 private:
  OperationKind kind_;
  int64_t cap_;
  int64_t changes_ = 0;
  int64_t gaveUp_ = 0;
  std::vector<PreviewSample> samples_;
};

/// Why a preview has no figures, or that it has them.
enum class PreviewState {
  Ready,           ///< the tally holds the figures
  NoWorkbook,      ///< no workbook is open (shown as no text)
  EmptySelection,  ///< the selection holds no non-empty cell
  NotOneColumn,    ///< a value removal over more than one column
};

/// The outcome of a dry run.
struct Preview {
  PreviewState state = PreviewState::NoWorkbook;
  PreviewTally tally;
};

/// Dry run of `operation` over the selection of `app`. `inputs` gives the request per cell
/// text as for a real run (absent: the operation without inputs), and `rules` the text
/// rules the run would apply to every cell (value removals have none). Every host failure
/// counts as nothing to change; nothing is written.
Preview previewRemoval(Application& app, Operation operation, const InputSource& inputs,
                       TextRules rules, int64_t cap = kPreviewCap);

/// Dry run of a request as runRemoval would run it: its character steps, when it has them,
/// as one rule over each cell (the preview is then of the whole chain, before -> after);
/// otherwise as the overload above.
Preview previewRemoval(Application& app, const RunRequest& request, int64_t cap = kPreviewCap);

/// The line shown for a preview, for example
///   3 cells would change: "a1" -> "a"; "b2" -> "b"; "c3" -> "c"
///   More than 200,000 cells would change: ...
///   2 cells would be cleared: "x", "y"
/// followed by gaveUpText when the transform gave up on cells.
/// Empty for PreviewState::NoWorkbook.
std::u16string previewText(const Preview& preview);

/// `n` with a comma between thousands: 200,000.
std::u16string withThousandsSeparators(int64_t n);

}  // namespace qmv
