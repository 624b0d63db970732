// The one rule `qmv apply` runs on a cell's text, whatever the file's format: the
// removals in order, each through the engine's block rule (engine/block_rule.hpp) with the
// inputs its form would take, and the guard of the add-in's run: a cell is rewritten only
// when the removals changed its text.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/block_rule.hpp"
#include "engine/text_rules.hpp"
#include "tools/qmv/plan.hpp"

namespace qmv::cli {

class CellRule {
 public:
  /// The removals run in order under `rules`. RLTE and RNPC use the engine's own TRIM and
  /// CLEAN rules, which are the host's.
  CellRule(std::vector<Removal> removals, TextRules rules);

  /// The text a cell shows once it has stored `text`.
  using Reread = std::function<std::u16string(std::u16string_view text)>;

  /// The text the removals leave of `text`, only when it differs from `text`: the
  /// removals as one rule (the engine's chain of steps). A removal whose transform fails,
  /// or whose separator the text lacks, leaves the text as it found it, as a run leaves a
  /// cell; one that gives up leaves the whole text as it was.
  /// With `between`, a list of removals sees after each removal what a later run over the
  /// stored cell would see, so that a list gives what successive runs give.
  std::optional<std::u16string> changed(std::u16string_view text, const Reread& between = {}) const;

  /// When every removal drops single characters whatever stands around them (digits,
  /// letters, spaces, ...), which ASCII bytes the rule drops, as the transforms decide them;
  /// a text of ASCII bytes then loses exactly those. None otherwise.
  const std::optional<std::array<bool, 128>>& asciiDrops() const { return asciiDrops_; }

  const std::vector<Removal>& removals() const { return removals_; }

  /// The cells whose transform gave up so far (a pattern past its budget): each was left
  /// as it was, and counted once.
  int64_t gaveUp() const { return gaveUp_; }

 private:
  std::vector<Removal> removals_;
  TextRules rules_;
  std::vector<CellRequest> steps_;  ///< the removals as the block rule takes them
  /// The removals as one rule, and each alone (for `between`), made ready once.
  mutable std::optional<TextRule> chain_;
  mutable std::vector<TextRule> each_;
  std::optional<std::array<bool, 128>> asciiDrops_;
  mutable int64_t gaveUp_ = 0;
};

}  // namespace qmv::cli
