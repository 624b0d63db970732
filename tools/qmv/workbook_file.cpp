#include "tools/qmv/workbook_file.hpp"

#include <algorithm>
#include <unordered_set>

#include "host/text.hpp"
#include "tools/xlsx/workbook.hpp"

namespace qmv::cli {
namespace {

int64_t keyOf(CellRef ref) { return ref.row * (kMaxColumns + 1) + ref.column; }

}  // namespace

CellContent sheetCellContent(const xlsx::Workbook& book, const xlsx::SheetCell& cell) {
  CellContent content{book.valueOf(cell), {}};
  if (cell.formula) {
    content.formula.reserve(cell.formulaText.size() + 1);
    content.formula.push_back(u'=');
    content.formula.append(cell.formulaText);
  }
  return content;
}

WorkbookSource loadWorkbookSheet(memory::MemoryApplication& app, const std::string& path) {
  const auto book = xlsx::Workbook::open(path);
  const std::size_t sheet = book->activeSheet();
  if (app.workbooksCount() == 0) app.addWorkbook();
  app.activeSheet()->usedRange()->clear();
  book->forEachCell(sheet, [&](const xlsx::SheetCell& cell) {
    const CellContent content = sheetCellContent(*book, cell);
    if (isEmpty(content.value) && !content.isFormula()) return;
    app.setCell(cell.ref, content);
  });
  return {path, sheet, {app.activeSheetName(), app.activeWorkbookName()}};
}

void saveWorkbookSheet(memory::MemoryApplication& app, const WorkbookSource& source,
                       const std::string& target) {
  const auto book = xlsx::Workbook::open(source.path);
  // Cells the session added cannot go in without new rows; refused before anything is
  // written.
  std::unordered_set<int64_t> inFile;
  book->forEachCell(source.sheet,
                    [&](const xlsx::SheetCell& cell) { inFile.insert(keyOf(cell.ref)); });
  const bool active = app.activeSheetName() == source.into.sheet &&
                      app.activeWorkbookName() == source.into.workbook;
  const auto used = active ? parseReference(app.usedRangeAddress()) : std::nullopt;
  for (const AreaRef& area : used.value_or(std::vector<AreaRef>{})) {
    for (int64_t row = area.first.row; row <= area.last.row; ++row) {
      for (int64_t column = area.first.column; column <= area.last.column; ++column) {
        const CellContent now = app.cell(CellRef{row, column});
        if ((isEmpty(now.value) && !now.isFormula()) || inFile.contains(keyOf({row, column}))) {
          continue;
        }
        throw xlsx::XlsxError("cell " + xlsx::cellReference({row, column}) + " was empty in " +
                              source.path +
                              "; qmv rewrites the cells a workbook has and adds none");
      }
    }
  }
  const xlsx::CellEditor editor = [&](const xlsx::SheetCell& cell) -> std::optional<std::string> {
    const CellContent now = app.cell(source.into, cell.ref);
    if (now.isFormula()) {
      if (cell.formula) return std::nullopt;  // formulas are never rewritten
      throw xlsx::XlsxError("cell " + xlsx::cellReference(cell.ref) +
                            " now holds a formula; qmv writes values only");
    }
    if (cell.formula) {
      return xlsx::cellXml(cell.ref, isEmpty(now.value) ? std::nullopt : cell.style, now.value);
    }
    if (now.value == book->valueOf(cell)) return std::nullopt;
    return xlsx::cellXml(cell.ref, cell.style, now.value);
  };
  book->save(target, {{source.sheet, editor}});
}

}  // namespace qmv::cli
