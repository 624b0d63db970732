#include "engine/block_rule.hpp"

#include <variant>

#include "engine/text_pattern.hpp"
#include "engine/unicode_transforms.hpp"

namespace qmv {

namespace {

// The start position from the separator of `inputs` in `text`, as the rules count
// positions; no value when the text has no such occurrence.
std::optional<int16_t> startAtSeparator(std::u16string_view text, const CharacterInputs& inputs) {
  const std::optional<int16_t> start = separatorStart(text, *inputs.separator, inputs.occurrence);
  if (!start || *start == 0) return std::nullopt;
  if (inputs.rules == TextRules::Unicode) {
    return static_cast<int16_t>(codePointPosition(text, *start));
  }
  return start;
}

// True when a failing transform gave up rather than failed: a pattern that compiles but
// whose matching went past its budget.
bool gaveUp(const OperationRow& row, const CharacterInputs& inputs) {
  return row.inputs == OperationInputs::Pattern &&
         !patternError(inputs.pattern, inputs.matchCase, inputs.rules).has_value();
}

}  // namespace

namespace {

// The rule of one request made ready for many texts: the row, the inputs under the
// request's rules, the transform those rules pick and the host functions it may ask.
struct PreparedRule {
  const OperationRow* row = nullptr;  ///< null: a value operation, which keeps every cell
  CharacterInputs inputs;
  TextTransform transform = nullptr;
  WorksheetFunction* functions = nullptr;
  bool atSeparator = false;
  /// The transform only drops characters: a text of the same length is the same text.
  bool dropsOnly = false;

  PreparedRule(const CellRequest& cell, const BlockRequest& request)
      : PreparedRule(cell, request, request.rules) {}

  PreparedRule(const CellRequest& cell, const BlockRequest& request, TextRules rules) {
    const OperationRow& found = operationRow(cell.operation);
    if (found.kind != OperationKind::CharacterLevel) return;
    row = &found;
    inputs = cell.inputs;
    // The rules are the request's (a recipe step's own), whatever the inputs say.
    inputs.rules = rules;
    atSeparator = found.facts.startsAtSeparator && inputs.separator.has_value();
    if (inputs.rules == TextRules::Unicode) transform = unicodeTransform(cell.operation);
    if (transform == nullptr) transform = found.transform;
    functions = found.usesHostFunctions ? request.functions : nullptr;
    dropsOnly = found.facts.dropsSingleCharacters && inputs.rules == TextRules::Classic &&
                functions == nullptr;
  }

  CellOutcome apply(std::u16string_view text, std::u16string& out) const {
    if (row == nullptr) return CellOutcome::Kept;
    if (!atSeparator) return outcome(text, inputs, out);
    CharacterInputs here = inputs;
    here.startPosition = startAtSeparator(text, inputs);
    if (!here.startPosition) return CellOutcome::Kept;
    return outcome(text, here, out);
  }

  CellOutcome outcome(std::u16string_view text, const CharacterInputs& in,
                      std::u16string& out) const {
    if (transform == nullptr || !transform(text, in, functions, out)) {
      return gaveUp(*row, in) ? CellOutcome::GaveUp : CellOutcome::Kept;
    }
    const bool same = dropsOnly ? out.size() == text.size() : std::u16string_view(out) == text;
    return same ? CellOutcome::Kept : CellOutcome::Changed;
  }
};

// A recipe's steps made ready once for many texts: each text goes through them in turn,
// between two buffers that keep their storage from text to text.
class PreparedChain {
 public:
  explicit PreparedChain(const BlockRequest& request) {
    rules_.reserve(request.steps.size());
    for (const CellRequest& step : request.steps) {
      rules_.emplace_back(step, request, step.inputs.rules);
    }
  }

  CellOutcome apply(std::u16string_view text, std::u16string& out) {
    std::u16string_view current = text;
    bool changed = false;
    for (const PreparedRule& rule : rules_) {
      std::u16string& next = current.data() == scratch_.data() ? out : scratch_;
      switch (rule.apply(current, next)) {
        case CellOutcome::GaveUp:
          return CellOutcome::GaveUp;
        case CellOutcome::Kept:
          break;
        case CellOutcome::Changed:
          current = next;
          changed = true;
          break;
      }
    }
    if (!changed || current == text) return CellOutcome::Kept;
    if (current.data() != out.data()) out.swap(scratch_);
    return CellOutcome::Changed;
  }

 private:
  std::vector<PreparedRule> rules_;
  std::u16string scratch_;
};

// The rule over the cells of a block, `textOf(i, scratch)` giving cell i's text (null for a
// cell the rule keeps: a formula, an error value) and `rule(text, out)` each text's outcome.
// Each cell's text is made in the place of a new result, which goes again when the cell is
// kept or the rule fails.
template <typename TextOf, typename Rule>
void overTexts(std::size_t count, TextOf&& textOf, const BlockRequest& request,
               BlockResults& results, Rule&& rule) {
  std::u16string scratch;
  for (std::size_t i = 0; i < count; ++i) {
    const std::optional<std::u16string_view> text = textOf(i, scratch);
    if (!text) continue;
    CellResult& result = results.add(i, CellOutcome::Kept);
    try {
      result.outcome = rule(*text, result.after);
    } catch (...) {
      // A failing host function leaves no result behind, least of all a text to write.
      results.dropLast();
      throw;
    }
    if (result.outcome == CellOutcome::Kept) {
      results.dropLast();
      continue;
    }
    if (request.keepBefore) result.before.assign(*text);
  }
}

// A cell's text as the rule reads it: a text as it is, any other value as the cell shows it.
std::optional<std::u16string_view> textOfCell(const CellContent& content, const HostLocale& locale,
                                              std::u16string& scratch) {
  if (content.isFormula()) return std::nullopt;
  if (const auto* text = std::get_if<std::u16string>(&content.value)) return *text;
  std::optional<std::u16string> converted = cellText(content.value, locale);
  if (!converted) return std::nullopt;  // an error value has no text
  scratch = std::move(*converted);
  return scratch;
}

// The rule of `request` over `count` cells whose texts `textOf` gives, made ready once.
template <typename TextOf>
void ruleOver(std::size_t count, TextOf&& textOf, const BlockRequest& request,
              BlockResults& results) {
  TextRule rule(request);
  if (rule.keepsEveryText()) return;
  overTexts(count, textOf, request, results,
            [&](std::u16string_view text, std::u16string& out) { return rule.apply(text, out); });
}

}  // namespace

struct TextRule::Prepared {
  explicit Prepared(const BlockRequest& asked) : request(asked) {
    if (!request.steps.empty()) {
      chain.emplace(request);
    } else if (request.perCell == nullptr || !*request.perCell) {
      fixed.emplace(request.fixed, request);
    }
  }
  BlockRequest request;
  std::optional<PreparedChain> chain;  ///< a recipe's steps
  std::optional<PreparedRule> fixed;   ///< the fixed request; neither: asked per text
};

TextRule::TextRule(const BlockRequest& request) : prepared_(std::make_unique<Prepared>(request)) {}
TextRule::TextRule(TextRule&&) noexcept = default;
TextRule& TextRule::operator=(TextRule&&) noexcept = default;
TextRule::~TextRule() = default;

CellOutcome TextRule::apply(std::u16string_view text, std::u16string& out) {
  Prepared& p = *prepared_;
  if (p.chain) return p.chain->apply(text, out);
  if (p.fixed) return p.fixed->apply(text, out);
  const std::optional<CellRequest> asked = (*p.request.perCell)(text);
  if (!asked) return CellOutcome::Kept;
  return PreparedRule(*asked, p.request).apply(text, out);
}

bool TextRule::keepsEveryText() const {
  return prepared_->fixed && prepared_->fixed->row == nullptr;
}

CellOutcome ruleOnText(std::u16string_view text, const BlockRequest& request, std::u16string& out) {
  return TextRule(request).apply(text, out);
}

void ruleOverBlock(std::span<const CellContent> cells, const BlockRequest& request,
                   BlockResults& results) {
  ruleOver(
      cells.size(),
      [&](std::size_t i, std::u16string& scratch) {
        return textOfCell(cells[i], request.locale, scratch);
      },
      request, results);
}

void ruleOverTexts(std::span<const std::optional<std::u16string_view>> texts,
                   const BlockRequest& request, BlockResults& results) {
  ruleOver(
      texts.size(), [&](std::size_t i, std::u16string&) { return texts[i]; }, request, results);
}

}  // namespace qmv
