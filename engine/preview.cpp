#include "engine/preview.hpp"

#include <algorithm>
#include <optional>
#include <variant>

#include "engine/block_rule.hpp"
#include "engine/unicode_classes.hpp"
#include "engine/value_run.hpp"
#include "host/address.hpp"
#include "host/cell_text.hpp"
#include "host/host.hpp"
#include "host/text.hpp"
#include "host/tolerant.hpp"

namespace qmv {

namespace {

// Cells read in one host call at most.
constexpr int64_t kBandCells = 1 << 16;
// The same for a character removal, which stops at its cap: the cells read and ruled past
// it stay few.
constexpr int64_t kCharacterBandCells = 1 << 12;

// The text of a cell value; no value for an error value, which has no text.
std::optional<std::u16string_view> textOf(const Value& value, const HostLocale& locale,
                                          std::u16string& scratch) {
  if (const auto* text = std::get_if<std::u16string>(&value)) return *text;
  std::optional<std::u16string> converted = cellText(value, locale);
  if (!converted) return std::nullopt;
  scratch = std::move(*converted);
  return scratch;
}

// Reads `ref` a band of rows at a time and hands each cell to `visit` (row-major); stops
// when `visit` returns false. Returns false once stopped.
template <typename Visit>
bool readArea(Worksheet& sheet, const AreaRef& ref, CellBlock& block, Visit&& visit) {
  const int64_t bandRows = std::max<int64_t>(1, kBandCells / ref.columns());
  for (int64_t top = ref.first.row; top <= ref.last.row; top += bandRows) {
    const AreaRef band{{top, ref.first.column},
                       {std::min(ref.last.row, top + bandRows - 1), ref.last.column}};
    if (!tolerant([&] { sheet.range(formatAddress(band))->readBlockInto(block); })) continue;
    for (const CellContent& content : block.cells) {
      if (!visit(content)) return false;
    }
  }
  return true;
}

void previewCharacters(Application& app, Range& selection, const RunRequest& request,
                       PreviewTally& tally) {
  const InputSource& inputs = request.inputs;
  RangePtr visit;
  tolerant([&] {
    RangePtr constants = selection.specialCells(xl::kCellTypeConstants);
    if (constants) visit = app.intersect(selection, *constants);
  });
  if (!visit) return;
  const WorksheetPtr sheet = tolerantGet([&] { return visit->worksheet(); }).value_or(nullptr);
  const std::vector<AreaRef> areas =
      tolerantGet([&] { return visit->areaRefs(); }).value_or(std::vector<AreaRef>{});
  if (!sheet) return;
  BlockRequest rule;
  rule.fixed.operation = request.operation;
  rule.perCell = inputs ? &inputs : nullptr;
  rule.rules = request.rules;
  rule.steps = request.steps;
  rule.locale = tolerantGet([&] { return app.locale(); }).value_or(HostLocale{});
  rule.keepBefore = false;

  BlockResults results;
  std::u16string scratch;
  CellBlock block;
  for (const AreaRef& ref : areas) {
    const int64_t bandRows = std::max<int64_t>(1, kCharacterBandCells / ref.columns());
    for (int64_t top = ref.first.row; top <= ref.last.row; top += bandRows) {
      const AreaRef band{{top, ref.first.column},
                         {std::min(ref.last.row, top + bandRows - 1), ref.last.column}};
      results.clear();
      if (!tolerant([&] {
            sheet->range(formatAddress(band))->readBlockInto(block);
            ruleOverBlock(block.cells, rule, results);
          })) {
        continue;
      }
      for (const CellResult& result : results.cells()) {
        if (result.outcome == CellOutcome::GaveUp) {
          tally.gaveUp();
          continue;
        }
        // Only the examples need the text before; the rule does not copy it for each cell.
        const bool counted =
            tally.wantsSample()
                ? tally.add(textOf(block.cells[result.cell].value, rule.locale, scratch)
                                .value_or(std::u16string_view()),
                            result.after)
                : tally.count();
        if (!counted) return;
      }
    }
  }
}

// The value removals decide on the first column of the selection within the used range;
// over several areas on the list the run itself builds and by the run's own decision.
void previewValues(Application& app, Range& selection, ValueMode mode, PreviewTally& tally) {
  RangePtr work;
  tolerant([&] {
    RangePtr used = app.activeSheet()->usedRange();
    work = used ? app.intersect(selection, *used) : nullptr;
  });
  if (!work) return;
  const HostLocale locale = tolerantGet([&] { return app.locale(); }).value_or(HostLocale{});
  // The cells the run leaves since the host could not put them back are no change.
  const std::optional<std::size_t> arrayLimit =
      tolerantGet([&] { return work->arrayFormulaLimit(); }).value_or(std::nullopt);
  const std::size_t selectedAreas =
      tolerantGet([&] { return selection.areaRefs().size(); }).value_or(1);
  if (selectedAreas > 1) {
    const WorksheetPtr sheet = tolerantGet([&] { return selection.worksheet(); }).value_or(nullptr);
    const std::vector<AreaRef> areas =
        tolerantGet([&] { return work->areaRefs(); }).value_or(std::vector<AreaRef>{});
    if (!sheet || areas.empty()) return;
    const std::vector<ValueListCell> cells = readValueList(*sheet, areas);
    std::vector<Value> values;
    values.reserve(cells.size());
    for (const ValueListCell& c : cells) values.push_back(c.content.value);
    const std::vector<bool> clears = valueClears(mode, values, locale);
    std::u16string scratch;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (!clears[i] || arrayFormulaKept(cells[i].content, arrayLimit)) continue;
      const std::optional<std::u16string_view> text =
          textOf(cells[i].content.value, locale, scratch);
      if (!tally.add(text.value_or(std::u16string_view()), u"")) return;
    }
    return;
  }

  RangePtr column;
  tolerant([&] { column = work->column(1); });
  if (!column) return;
  const WorksheetPtr sheet = tolerantGet([&] { return column->worksheet(); }).value_or(nullptr);
  const std::vector<AreaRef> areas =
      tolerantGet([&] { return column->areaRefs(); }).value_or(std::vector<AreaRef>{});
  if (!sheet || areas.empty()) return;

  // The column top down, as the value rule takes it.
  std::vector<Value> values;
  std::vector<bool> kept;
  CellBlock block;
  readArea(*sheet, areas.front(), block, [&](const CellContent& content) {
    values.push_back(content.value);
    kept.push_back(arrayFormulaKept(content, arrayLimit));
    return true;
  });
  const std::vector<bool> clears = valueClears(mode, values, locale);
  std::u16string scratch;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!clears[i] || kept[i]) continue;
    const std::optional<std::u16string_view> text = textOf(values[i], locale, scratch);
    if (!tally.add(text.value_or(std::u16string_view()), u"")) return;
  }
}

std::u16string changesText(const PreviewTally& tally);

// Shows a text in an example: quoted, cut short, and each character the Unicode rules count
// as non-printable (controls and zero-width characters, which a label shows as nothing or a
// box) as a middle dot.
std::u16string shownSample(std::u16string_view text) {
  std::u16string out = u"\"";
  std::size_t shown = std::min(text.size(), kPreviewSampleChars);
  // Never cut a surrogate pair in two: a lone half is no character at all.
  if (shown < text.size() && shown > 0 && isHighSurrogate(text[shown - 1])) {
    --shown;
  }
  for (std::size_t i = 0; i < shown; ++i) {
    const char16_t c = text[i];
    out += inClass(c, CharClass::NonPrintable) ? u'\u00B7' : c;
  }
  if (shown < text.size()) out += u"...";
  out += u'"';
  return out;
}

}  // namespace

bool PreviewTally::add(std::u16string_view before, std::u16string_view after) {
  if (wantsSample()) samples_.push_back({std::u16string(before), std::u16string(after)});
  return count();
}

bool PreviewTally::count() {
  if (changes_ <= cap_) ++changes_;
  return changes_ <= cap_;
}

Preview previewRemoval(Application& app, Operation operation, const InputSource& inputs,
                       TextRules rules, int64_t cap) {
  RunRequest request;
  request.operation = operation;
  request.inputs = inputs;
  request.rules = rules;
  return previewRemoval(app, request, cap);
}

Preview previewRemoval(Application& app, const RunRequest& request, int64_t cap) {
  const OperationRow& row =
      operationRow(request.steps.empty() ? request.operation : request.steps.front().operation);
  Preview preview{PreviewState::NoWorkbook, PreviewTally(row.kind, cap)};
  const std::optional<int64_t> books = tolerantGet([&] { return app.workbooksCount(); });
  if (!books || *books == 0) return preview;
  const RangePtr selection = tolerantGet([&] { return app.selection(); }).value_or(nullptr);
  if (row.kind == OperationKind::ValueLevel || request.afterCells) {
    // The run's own test: one column, and every area in it.
    const auto columns =
        selection ? tolerantGet([&] { return selection->columnsCount(); }) : std::nullopt;
    if (!columns || *columns != 1 || !singleColumnAreas(*selection)) {
      preview.state = PreviewState::NotOneColumn;
      return preview;
    }
  }
  const double nonEmpty =
      selection
          ? tolerantGet([&] { return app.worksheetFunction().countA(*selection); }).value_or(0)
          : 0;
  if (nonEmpty <= 0) {
    preview.state = PreviewState::EmptySelection;
    return preview;
  }
  preview.state = PreviewState::Ready;
  if (row.kind == OperationKind::ValueLevel) {
    previewValues(app, *selection, row.valueMode, preview.tally);
  } else {
    previewCharacters(app, *selection, request, preview.tally);
  }
  return preview;
}

std::u16string withThousandsSeparators(int64_t n) {
  std::u16string digits;
  const bool negative = n < 0;
  uint64_t rest = negative ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  int place = 0;
  do {
    if (place > 0 && place % 3 == 0) digits += u',';
    digits += static_cast<char16_t>(u'0' + rest % 10);
    rest /= 10;
    ++place;
  } while (rest > 0);
  if (negative) digits += u'-';
  std::reverse(digits.begin(), digits.end());
  return digits;
}

std::u16string previewText(const Preview& preview) {
  switch (preview.state) {
    case PreviewState::NoWorkbook:
      return {};
    case PreviewState::EmptySelection:
      return u"The selection is empty: nothing would change.";
    case PreviewState::NotOneColumn:
      return u"Select a single column to see what would be cleared.";
    case PreviewState::Ready:
      break;
  }
  const PreviewTally& tally = preview.tally;
  std::u16string text = changesText(tally);
  if (tally.gaveUpCells() > 0) text.append(u" ").append(gaveUpText(tally.gaveUpCells()));
  return text;
}

std::u16string gaveUpText(int64_t cells) {
  std::u16string text = withThousandsSeparators(cells);
  text.append(cells == 1 ? u" cell was left as it was" : u" cells were left as they were");
  text.append(u": the pattern needed too many steps.");
  return text;
}

namespace {

// The line of the changes alone.
std::u16string changesText(const PreviewTally& tally) {
  const bool values = tally.kind() == OperationKind::ValueLevel;
  const std::u16string_view verb = values ? u" be cleared" : u" change";
  if (tally.changes() == 0) return std::u16string(u"No cell would").append(verb).append(u".");
  std::u16string text;
  if (tally.capped()) {
    text = u"More than " + withThousandsSeparators(tally.cap()) + u" cells would";
  } else {
    text = withThousandsSeparators(tally.changes()) +
           (tally.changes() == 1 ? u" cell would" : u" cells would");
  }
  text.append(verb);
  if (tally.samples().empty()) return text + u".";
  text += u": ";
  bool first = true;
  for (const PreviewSample& sample : tally.samples()) {
    if (!first) text += values ? u", " : u"; ";
    first = false;
    text += shownSample(sample.before);
    if (!values) text += u" -> " + shownSample(sample.after);
  }
  return text;
}

}  // namespace

}  // namespace qmv
