#include "tools/qmv/cell_rule.hpp"

#include <algorithm>
#include <utility>

#include "engine/block_rule.hpp"
#include "engine/operations.hpp"

namespace qmv::cli {

CellRule::CellRule(std::vector<Removal> removals, TextRules rules)
    : removals_(std::move(removals)), rules_(rules) {
  // The requests view the removals' texts, which stay where they are from here on.
  for (const Removal& removal : removals_) {
    CellRequest request;
    request.operation = removal.operation;
    CharacterInputs& inputs = request.inputs;
    inputs = {removal.start, removal.count, removal.chars, rules_};
    inputs.text = removal.text;
    inputs.matchCase = removal.matchCase;
    inputs.pattern = removal.pattern;
    inputs.opening = removal.opening;
    inputs.closing = removal.closing;
    if (removal.separator) {
      inputs.separator = *removal.separator;
      inputs.occurrence = removal.occurrence;
      // The wizard's box for the number of characters holds 1 unless one is given.
      if (!inputs.charCount) inputs.charCount = 1;
    }
    steps_.push_back(request);
  }
  // The rules view steps_, whose storage stays with it when a CellRule moves.
  BlockRequest chain;
  chain.steps = steps_;
  chain_.emplace(chain);
  for (const CellRequest& step : steps_) {
    BlockRequest one;
    one.rules = rules_;
    one.fixed = step;
    each_.emplace_back(one);
  }
  const bool filters = rules_ == TextRules::Classic && !removals_.empty() &&
                       std::all_of(removals_.begin(), removals_.end(), [](const Removal& r) {
                         return operationRow(r.operation).facts.dropsSingleCharacters;
                       });
  if (!filters) return;
  std::array<bool, 128> drops{};
  for (char16_t c = 0; c < 128; ++c) {
    const std::u16string one(1, c);
    drops[c] = changed(one).has_value();
  }
  asciiDrops_ = drops;
}

std::optional<std::u16string> CellRule::changed(std::u16string_view text,
                                                const Reread& between) const {
  // ASCII text under a rule that drops single characters loses the characters the table
  // names; `between` plays no part when one removal runs.
  if (asciiDrops_ && (removals_.size() == 1 || !between) &&
      std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; })) {
    std::u16string kept;
    kept.reserve(text.size());
    for (const char16_t c : text) {
      if (!(*asciiDrops_)[c]) kept += c;
    }
    if (kept.size() == text.size()) return std::nullopt;
    return kept;
  }
  std::u16string next;
  if (!between || steps_.size() == 1) {
    // The removals as one rule over the cell, the engine's own chain.
    const CellOutcome outcome = chain_->apply(text, next);
    if (outcome == CellOutcome::GaveUp) ++gaveUp_;
    if (outcome != CellOutcome::Changed) return std::nullopt;
    return next;
  }
  // Each removal on what the stored cell would show after the one before; one that gives
  // up leaves the cell as it was, as the chain does.
  std::u16string current(text);
  bool any = false;
  for (std::size_t i = 0; i < steps_.size(); ++i) {
    const CellOutcome outcome = each_[i].apply(current, next);
    if (outcome == CellOutcome::GaveUp) {
      ++gaveUp_;
      return std::nullopt;
    }
    if (outcome != CellOutcome::Changed) continue;
    current = i + 1 < steps_.size() ? between(next) : next;
    any = true;
  }
  const bool same = !any || current == text;
  if (same) return std::nullopt;
  return current;
}

}  // namespace qmv::cli
