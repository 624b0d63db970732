#include "engine/character_run.hpp"

#include <algorithm>
#include <vector>

#include "addin/addin_module.hpp"
#include "engine/run_steps.hpp"
#include "engine/undo.hpp"
#include "host/cell_text.hpp"
#include "host/tolerant.hpp"

namespace qmv {

namespace {

// Cells read in one host call at most; a larger area is read a band of rows at a time.
constexpr int64_t kBlockCells = 1 << 16;

struct Visit {
  AddinModule& module;
  Application& app;
  const CellTransform& transform;
  ProgressDisplay& progress;
  UndoSnapshot& snapshot;
  HostLocale locale;
  int64_t visited = 0;

  // Visits the cells of one block in row-major order; false once a stop was requested.
  bool cells(Range& band, const CellBlock& block) {
    const int64_t rows = block.area.rows();
    const int64_t columns = block.area.columns();
    snapshot.beginBlock(block.area);
    for (int64_t r = 0; r < rows; ++r) {
      for (int64_t c = 0; c < columns; ++c) {
        ++visited;
        const CellContent& content = block.at(r, c);
        const CellRef cell{block.area.first.row + r, block.area.first.column + c};
        const std::size_t index = RecordUndoEntry(snapshot, cell, content);
        rewrite(band, r, c, content, index);
        tolerant([&] { module.forms.doEvents(); });
        tolerant([&] { progress.show(visited); });
        if (module.runOptions.stopRequested) return false;
      }
    }
    return true;
  }

  // The cell's new text, assigned as typed input when it differs from the cell text.
  void rewrite(Range& band, int64_t r, int64_t c, const CellContent& content, std::size_t index) {
    if (content.isFormula()) return;
    std::optional<std::u16string> converted;
    const std::u16string* text = std::get_if<std::u16string>(&content.value);
    if (!text) {
      converted = cellText(content.value, locale);
      if (!converted) return;  // an error value has no text
      text = &*converted;
    }
    auto next = tolerantGet([&] { return transform(*text); });
    if (!next || !*next || **next == *text) return;
    snapshot.markWritten(index);
    tolerant([&] { band.setCellValue(r + 1, c + 1, Value{std::move(**next)}); });
  }

  // Visits one area of the visit range, a band of rows at a time. The bands are read
  // into one block, whose texts keep their storage from band to band.
  bool area(Worksheet& sheet, const AreaRef& ref) {
    const int64_t bandRows = std::max<int64_t>(1, kBlockCells / ref.columns());
    for (int64_t top = ref.first.row; top <= ref.last.row; top += bandRows) {
      const AreaRef band{{top, ref.first.column},
                         {std::min(ref.last.row, top + bandRows - 1), ref.last.column}};
      RangePtr range;
      bool read = false;
      tolerant([&] {
        range = sheet.range(formatAddress(band));
        range->readBlockInto(bandCells);
        read = true;
      });
      if (!range || !read) continue;
      if (!cells(*range, bandCells)) return false;
    }
    return true;
  }

  CellBlock bandCells;  // the band being visited
};

void visitCells(AddinModule& module, Application& app, Range& selection,
                const CellTransform& transform, ProgressDisplay& progress) {
  UndoSnapshot& snapshot = BeginUndoSnapshot(module);
  const std::shared_ptr<UndoSnapshot> keep = module.undoSnapshot;
  // Without its workbook and sheet the record could not be restored: change nothing.
  if (!snapshot.workbook || !snapshot.worksheet) return;
  RangePtr visit;
  tolerant([&] {
    RangePtr constants = selection.specialCells(xl::kCellTypeConstants);
    if (constants) visit = app.intersect(selection, *constants);
  });
  if (!visit) return;
  WorksheetPtr sheet;
  std::vector<AreaRef> areas;
  tolerant([&] { sheet = visit->worksheet(); });
  tolerant([&] { areas = visit->areaRefs(); });
  if (!sheet) return;

  Visit run{module, app, transform, progress, snapshot, HostLocale{}, 0, {}};
  tolerant([&] { run.locale = app.locale(); });
  for (const AreaRef& ref : areas) {
    if (!run.area(*sheet, ref)) break;
  }
  captureRunResults(snapshot);
}

}  // namespace

void runCharacterCells(AddinModule& module, const RunForm& runForm, const CellTransform& transform,
                       const CharacterRunSteps& steps) {
  FormsToolkit& forms = module.forms;
  const auto unloadForm = [&] {
    if (runForm.form.loaded()) tolerant([&] { forms.unload(runForm.form); });
  };
  const ApplicationPtr hostApp = module.hostApp;
  const auto books =
      hostApp ? tolerantGet([&] { return hostApp->workbooksCount(); }) : std::optional<int64_t>{0};
  if (books && *books == 0) {
    forms.messageBox(kNoWorkbookText);
    unloadForm();
    return;
  }
  Application& app = *hostApp;

  enterHostRunStateTolerant(app);
  module.runOptions.stopRequested = false;
  RangePtr selection;
  int64_t nonEmpty = 0;
  tolerant([&] { selection = app.selection(); });
  tolerant([&] {
    if (selection) nonEmpty = static_cast<int64_t>(app.worksheetFunction().countA(*selection));
  });

  ProgressDisplay progress(runForm.progressBar, runForm.percentLabel);
  if (nonEmpty <= 0) {
    tolerant([&] { forms.messageBox(kEmptySelectionText); });
  } else {
    tolerant([&] { progress.setMax(static_cast<float>(nonEmpty)); });
    bool goOn = true;
    if (steps.beforeCells) {
      const auto count = static_cast<int32_t>(std::min<int64_t>(nonEmpty, INT32_MAX));
      goOn = tolerantGet([&] { return steps.beforeCells(count); }).value_or(false);
    }
    if (goOn) visitCells(module, app, *selection, transform, progress);
  }

  bindUndoCommands(module);
  leaveHostRunState(app);
  unloadForm();
}

}  // namespace qmv
