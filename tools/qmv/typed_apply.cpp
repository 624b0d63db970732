// CSV text read as typed input into a sheet (`--typed`): every field becomes the value
// Excel would make of it, the cell rule runs on the text each visited constant shows, a
// changed text is typed back into its cell, and the sheet is written out as CSV.
#include <ostream>
#include <vector>

#include "engine/run.hpp"
#include "host/cell_text.hpp"
#include "host/text.hpp"
#include "tools/qmv/cell_rule.hpp"
#include "tools/qmv/pipeline.hpp"
#include "tools/qmv/report.hpp"
#include "tools/qmv/selection.hpp"
#include "tools/qmv/sheet_csv.hpp"

namespace qmv::cli {

void applyTyped(const Plan& plan, ApplyStreams& streams) {
  std::unique_ptr<ResultSink> sink;
  if (!plan.dryRun) sink = std::make_unique<ResultSink>(plan, streams.out);
  auto app = std::make_shared<memory::MemoryApplication>();
  app->addWorkbook();
  const CsvLayout layout = loadCsv(*app, readWholeFile(plan.file));
  const HostLocale locale = app->locale();
  CellSelector selector(plan.cells, false);
  std::optional<ChangeReport> report;
  if (plan.dryRun) {
    report.emplace(streams.out,
                   plan.value ? OperationKind::ValueLevel : OperationKind::CharacterLevel,
                   plan.limit);
  }
  const std::optional<CellRule> rule =
      plan.value ? std::nullopt : std::optional<CellRule>(CellRule(plan.removals, plan.rules));
  std::vector<CellRef> loaded;
  std::vector<std::string> texts;
  int64_t visited = 0, changed = 0;
  for (std::size_t r = 0; r < layout.fieldCounts.size(); ++r) {
    for (uint32_t c = 0; c < layout.fieldCounts[r]; ++c) {
      const CellRef ref{static_cast<int64_t>(r) + 1, static_cast<int64_t>(c) + 1};
      const CellContent content = app->cell(ref);
      const std::optional<std::u16string> text = cellText(content.value, locale);
      const bool blank = isEmpty(content.value) && !content.isFormula();
      if (!selector.visits(ref, text ? toUtf8(*text) : std::string(), blank) || blank || !text) {
        continue;
      }
      ++visited;
      if (plan.value) {
        loaded.push_back(ref);
        texts.push_back(toUtf8(*text));
        continue;
      }
      const std::optional<std::u16string> after = rule->changed(*text);
      if (!after) continue;
      ++changed;
      if (report) report->add(ref.row, ref.column, toUtf8(*text), toUtf8(*after));
      app->typeInto(ref, *after);
    }
  }
  selector.finish();
  // The add-in refuses to run over no cells, and says so.
  if (visited == 0 && !plan.value) {
    streams.err << "qmv apply: the add-in says: " << toUtf8(kEmptySelectionText) << '\n';
  }
  std::string over = selector.description();
  if (plan.value) {
    std::vector<AreaRef> areas = selector.selection().areas();
    if (selector.selection().everyColumn()) {
      const auto used = parseReference(app->usedRangeAddress());
      if (used && used->front().columns() != 1) {
        throw UsageError("--range: " + plan.codes + " works on a single column, and the cells of " +
                         plan.file + " span " + std::to_string(used->front().columns()) +
                         " columns; pick one with -c or --range, say -c B");
      }
      const int64_t first = selector.selection().firstRow();
      areas = {
          AreaRef{{first, 1},
                  {std::max<int64_t>(first, static_cast<int64_t>(layout.fieldCounts.size())), 1}}};
    } else if (!selector.selection().singleColumn()) {
      throw UsageError("-c: " + plan.codes + " works on a single column; give one");
    }
    if (over.empty()) over = toUtf8(formatAddress(areas));
    const std::vector<CellRef> cleared = runValueRemoval(
        app, areas, *plan.value, plan.rules, loaded, streams, streams.progress && !plan.quiet);
    changed = static_cast<int64_t>(cleared.size());
    if (report) {
      std::size_t k = 0;
      for (std::size_t i = 0; i < loaded.size() && k < cleared.size(); ++i) {
        if (loaded[i] == cleared[k]) {
          report->add(loaded[i].row, loaded[i].column, texts[i], "");
          ++k;
        }
      }
    }
  }
  if (report) {
    report->finish();
  } else {
    const CsvWriteOptions options{',', layout.lineBreak, layout.byteOrderMark};
    sink->write(sheetCsv(*app, &layout, options));
    sink->commit();
  }
  if (over.empty()) over = toUtf8(app->usedRangeAddress());
  if (rule) streams.gaveUp += rule->gaveUp();
  if (!plan.quiet) {
    streams.err << summaryLine(plan.codes, over, visited, changed, plan.dryRun);
  }
}

}  // namespace qmv::cli
