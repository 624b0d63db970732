#include "tools/qmv/cell_rule.hpp"

#include <algorithm>
#include <utility>

#include "engine/find_nth_occurrence.hpp"
#include "engine/operations.hpp"
#include "engine/unicode_transforms.hpp"

namespace qmv::cli {
namespace {

// The removals that take characters out one by one, each for what it is: a character's
// fate does not hang on its neighbours, so a byte table decided on single characters
// holds for any text.
bool dropsSingleCharacters(Operation operation) {
  switch (operation) {
    case Operation::RNUM:
    case Operation::RALP:
    case Operation::RNPC:
    case Operation::RUDC:
    case Operation::RALS:
    case Operation::RUPC:
    case Operation::RLOC:
      return true;
    default:
      return false;
  }
}

}  // namespace

CellRule::CellRule(std::vector<Removal> removals, TextRules rules)
    : removals_(std::move(removals)), rules_(rules) {
  const bool filters = rules_ == TextRules::Classic && !removals_.empty() &&
                       std::all_of(removals_.begin(), removals_.end(), [](const Removal& r) {
                         return dropsSingleCharacters(r.operation);
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
  std::u16string current(text);
  bool any = false;
  for (const Removal& removal : removals_) {
    CharacterInputs inputs{removal.start, removal.count, removal.chars, rules_};
    inputs.text = removal.text;
    inputs.matchCase = removal.matchCase;
    inputs.pattern = removal.pattern;
    inputs.opening = removal.opening;
    inputs.closing = removal.closing;
    if (removal.separator) {
      // The wizard's start position: the separator's occurrence; none leaves the text.
      std::optional<int16_t> start =
          separatorStart(current, *removal.separator, removal.occurrence);
      if (!start || *start == 0) continue;
      if (rules_ == TextRules::Unicode) {
        start = static_cast<int16_t>(codePointPosition(current, *start));
      }
      inputs.startPosition = start;
      // The wizard's box for the number of characters holds 1 unless one is given.
      if (!inputs.charCount) inputs.charCount = 1;
    }
    std::optional<std::u16string> next = transformText(removal.operation, current, inputs, nullptr);
    if (!next || *next == current) continue;
    current = between && &removal != &removals_.back() ? between(*next) : std::move(*next);
    any = true;
  }
  if (!any || current == text) return std::nullopt;
  return current;
}

}  // namespace qmv::cli
