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

CellResult& BlockResults::add(std::size_t cell, CellOutcome outcome) {
  if (size_ == results_.size()) results_.emplace_back();
  CellResult& result = results_[size_++];
  result.cell = cell;
  result.outcome = outcome;
  return result;
}

CellOutcome ruleOnText(std::u16string_view text, const BlockRequest& request, std::u16string& out) {
  std::optional<CellRequest> asked;
  const CellRequest* cell = &request.fixed;
  if (request.perCell != nullptr && *request.perCell) {
    asked = (*request.perCell)(text);
    if (!asked) return CellOutcome::Kept;
    cell = &*asked;
  }
  const OperationRow& row = operationRow(cell->operation);
  if (row.kind != OperationKind::CharacterLevel) return CellOutcome::Kept;
  CharacterInputs inputs = cell->inputs;
  // The rules are the request's, whatever the inputs say.
  inputs.rules = request.rules;
  if (row.facts.startsAtSeparator && inputs.separator) {
    inputs.startPosition = startAtSeparator(text, inputs);
    if (!inputs.startPosition) return CellOutcome::Kept;
  }
  WorksheetFunction* functions = row.usesHostFunctions ? request.functions : nullptr;
  if (!transformTextInto(cell->operation, text, inputs, functions, out)) {
    return gaveUp(row, inputs) ? CellOutcome::GaveUp : CellOutcome::Kept;
  }
  return out == text ? CellOutcome::Kept : CellOutcome::Changed;
}

void ruleOverBlock(std::span<const CellContent> cells, const BlockRequest& request,
                   BlockResults& results) {
  std::u16string& next = results.scratch();
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const CellContent& content = cells[i];
    if (content.isFormula()) continue;
    std::optional<std::u16string> converted;
    const std::u16string* text = std::get_if<std::u16string>(&content.value);
    if (text == nullptr) {
      converted = cellText(content.value, request.locale);
      if (!converted) continue;  // an error value has no text
      text = &*converted;
    }
    const CellOutcome outcome = ruleOnText(*text, request, next);
    if (outcome == CellOutcome::Kept) continue;
    CellResult& result = results.add(i, outcome);
    if (request.keepBefore) result.before.assign(*text);
    if (outcome == CellOutcome::Changed) result.after.swap(next);
  }
}

}  // namespace qmv
