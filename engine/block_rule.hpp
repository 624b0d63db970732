// The removal rule over a block of cells: which cells of the block a character removal
// changes, and to what. It is the only place the rule of one cell lives; the run, the
// preview, the wizard's run and the file tool call it.
//
// The rule of one cell: a formula is never rewritten; an error value has no text and
// stays; any other value is taken as the text the cell shows (host/cell_text.hpp); the
// request (fixed, or asked per cell text) and the text rules give the transform's inputs;
// the cell changes only when the transform gives a text that differs. The result is the
// text to type into the cell; the host stores it as typed input.
//
// The rule is pure: it reads no host, no form and no platform (the host's TRIM and CLEAN
// are used only when the request hands them over), so that any host can call it over the
// cells it has read. Computing a block's results ahead of writing them is the caller's
// choice; a caller that must ask its inputs between cells (a form read again per cell)
// calls it over one cell at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/operations.hpp"
#include "host/cell_text.hpp"
#include "host/value.hpp"

namespace qmv {

/// What one cell is rewritten by: a character operation and its inputs.
struct CellRequest {
  Operation operation = Operation::RNUM;
  CharacterInputs inputs;
};

/// The request for one cell, from the cell's text; no value leaves the cell as it is.
using InputSource = std::function<std::optional<CellRequest>(std::u16string_view text)>;

/// The request of a block.
struct BlockRequest {
  /// The operation and inputs of every cell, unless `perCell` is given.
  CellRequest fixed;
  /// Asked once per cell that has a text, in the order of the cells; null for none.
  const InputSource* perCell = nullptr;
  /// The text rules of every cell, whatever the inputs say.
  TextRules rules = TextRules::Classic;
  /// The host's worksheet functions for the rows that ask for them; null applies the
  /// engine's own TRIM and CLEAN rules.
  WorksheetFunction* functions = nullptr;
  HostLocale locale{};
  /// A recipe's character steps (engine/recipe.hpp), run in order on each cell as one
  /// rule; when given, `fixed` and `perCell` are not read, and each step keeps the text
  /// rules of its inputs (`rules` is not read either). A step sees the text the step
  /// before left; one whose transform fails, or whose separator the text lacks, hands the
  /// text on as it found it. The cell changes when the last step leaves a text that
  /// differs from the cell's; a step that gives up leaves the whole cell as it was
  /// (GaveUp), so that a cell is never left half-way through a recipe.
  std::span<const CellRequest> steps{};
  /// Whether the results hold each cell's text before (a preview shows it; a run, which
  /// records the cell itself, need not copy it).
  bool keepBefore = true;
};

/// What the rule did with a cell.
enum class CellOutcome : uint8_t {
  Kept,     ///< left as it is: a formula, no text, a failing transform or the same text
  Changed,  ///< to be typed in as the new text
  GaveUp,   ///< left as it is because the transform gave up (a pattern past its budget)
};

/// One cell of a block the rule does not keep as it is.
struct CellResult {
  std::size_t cell = 0;  ///< its place in the block
  CellOutcome outcome = CellOutcome::Changed;
  std::u16string before;  ///< the text the cell shows (when the request keeps it)
  std::u16string after;   ///< the new text (Changed only)
};

/// The results of a block: its changed and given-up cells, in the order of the cells. The
/// texts keep their storage from block to block.
class BlockResults {
 public:
  std::span<const CellResult> cells() const { return {results_.data(), size_}; }
  std::span<CellResult> cells() { return {results_.data(), size_}; }
  void clear() { size_ = 0; }
  /// A new result at the end, its texts' storage reused.
  CellResult& add(std::size_t cell, CellOutcome outcome) {
    if (size_ == results_.size()) results_.emplace_back();
    CellResult& result = results_[size_++];
    result.cell = cell;
    result.outcome = outcome;
    return result;
  }
  /// Removes the last result; its texts' storage stays for the next.
  void dropLast() { --size_; }

 private:
  std::vector<CellResult> results_;
  std::size_t size_ = 0;
};

/// The outcome of the rule on one text: `out` holds the new text when Changed.
CellOutcome ruleOnText(std::u16string_view text, const BlockRequest& request, std::u16string& out);

/// ruleOnText made ready once for many texts of one request (a file's fields): a recipe's
/// steps or the fixed request are prepared once, a per-cell request is still asked per
/// text. It views what the request views, and keeps a buffer from text to text: one
/// thread at a time uses it.
class TextRule {
 public:
  explicit TextRule(const BlockRequest& request);
  TextRule(TextRule&&) noexcept;
  TextRule& operator=(TextRule&&) noexcept;
  ~TextRule();

  /// The outcome on `text`, as ruleOnText gives it.
  CellOutcome apply(std::u16string_view text, std::u16string& out);
  /// True when the rule keeps every text as it is (a value operation's request).
  bool keepsEveryText() const;

 private:
  struct Prepared;
  std::unique_ptr<Prepared> prepared_;
};

/// Appends to `results` the changed and given-up cells of `cells` under `request`.
void ruleOverBlock(std::span<const CellContent> cells, const BlockRequest& request,
                   BlockResults& results);

/// ruleOverBlock over cells given as the texts the rule reads, without copying them: no
/// value for a cell the rule keeps as it is (a formula, an error value); the caller gives
/// any other value as the text the cell shows (cellText).
void ruleOverTexts(std::span<const std::optional<std::u16string_view>> texts,
                   const BlockRequest& request, BlockResults& results);

}  // namespace qmv
