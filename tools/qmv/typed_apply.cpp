// CSV text read as typed input into a sheet (`--typed`): every field becomes the value
// Excel would make of it, the cell rule runs on the text each visited constant shows, a
// changed text is typed back into its cell, and only the changed fields are written anew:
// every other byte of the file is copied, so that `00123` or a 20-digit number that the
// run did not change keeps its text.
#include <algorithm>
#include <ostream>
#include <vector>

#include "engine/run.hpp"
#include "host/cell_text.hpp"
#include "host/text.hpp"
#include "tools/qmv/apply_run.hpp"
#include "tools/qmv/cell_rule.hpp"
#include "tools/qmv/pipeline.hpp"
#include "tools/qmv/sheet_csv.hpp"

namespace qmv::cli {

void applyTyped(const Plan& plan, ApplyStreams& streams) {
  ApplyRun run(plan, streams, false);
  auto app = std::make_shared<memory::MemoryApplication>();
  app->addWorkbook();
  const std::string input = readWholeFile(plan.file);
  const CsvLayout layout = loadCsv(*app, input);
  std::vector<CellRef> written;  // the changed and cleared cells, in file order
  const HostLocale locale = app->locale();
  CellSelector& selector = run.selector();
  const std::optional<CellRule> rule =
      plan.value ? std::nullopt : std::optional<CellRule>(CellRule(plan.removals, plan.rules));
  for (std::size_t r = 0; r < layout.fieldCounts.size(); ++r) {
    for (uint32_t c = 0; c < layout.fieldCounts[r]; ++c) {
      const CellRef ref{static_cast<int64_t>(r) + 1, static_cast<int64_t>(c) + 1};
      const CellContent content = app->cell(ref);
      const std::optional<std::u16string> text = cellText(content.value, locale);
      const bool blank = isEmpty(content.value) && !content.isFormula();
      if (!selector.visits(ref, text ? toUtf8(*text) : std::string(), blank) || blank || !text) {
        continue;
      }
      if (plan.value) {
        run.load(ref, content, toUtf8(*text));
        continue;
      }
      run.visited();
      const std::optional<std::u16string> after = rule->changed(*text);
      if (!after) continue;
      run.changed(ref, *text, *after);
      app->typeInto(ref, *after);
      written.push_back(ref);
    }
  }
  selector.finish();
  // The add-in refuses to run over no cells, and says so.
  if (run.visitedCount() == 0 && !plan.value) {
    streams.err << "qmv apply: the add-in says: " << toUtf8(kEmptySelectionText) << '\n';
  }
  std::string over = selector.description();
  if (plan.value) {
    LoadedColumns columns;
    const int64_t first = selector.selection().firstRow();
    columns.column = AreaRef{
        {first, 1}, {std::max<int64_t>(first, static_cast<int64_t>(layout.fieldCounts.size())), 1}};
    if (selector.selection().everyColumn()) {
      const auto used = parseReference(app->usedRangeAddress());
      if (used && used->front().columns() != 1) {
        columns.spread = "the cells of " + plan.file + " span " +
                         std::to_string(used->front().columns()) + " columns";
      }
    }
    for (const CellRef& ref : run.runValues(columns)) {
      app->setCell(ref, CellContent{});
      written.push_back(ref);
    }
    if (over.empty()) over = toUtf8(formatAddress(run.valueAreas()));
  }
  if (ResultSink* sink = run.sink()) {
    sink->write(spliceCsv(*app, input, written));
    sink->commit();
  }
  if (over.empty()) over = toUtf8(app->usedRangeAddress());
  if (rule) {
    streams.gaveUp += rule->gaveUp();
  }
  run.finish(over);
}

}  // namespace qmv::cli
