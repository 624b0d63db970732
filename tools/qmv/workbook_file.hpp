// Workbook files (.xlsx, .xlsm) in `qmv play`: a workbook's sheet loaded into the in-memory
// workbook, and saved back over a copy of the file. (`qmv apply` streams a sheet itself,
// in workbook_apply.cpp.)
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/value.hpp"
#include "platform/memory/memory_application.hpp"

namespace qmv::xlsx {
class Workbook;
struct SheetCell;
}  // namespace qmv::xlsx

namespace qmv::cli {

/// A cell of a workbook's sheet as the in-memory workbook holds it: its value, and for a
/// formula its text with the leading "=" (the value is the formula's cached result).
CellContent sheetCellContent(const xlsx::Workbook& book, const xlsx::SheetCell& cell);

/// Where a sheet loaded by `play` came from.
struct WorkbookSource {
  std::string path;
  std::size_t sheet = 0;   ///< the sheet of the file
  memory::SheetName into;  ///< the in-memory sheet it went into
};

/// Loads the active sheet of the workbook at `path` into the (cleared) active sheet of
/// `app`: constants with their types, formulas with their cached values. Throws
/// xlsx::XlsxError.
WorkbookSource loadWorkbookSheet(memory::MemoryApplication& app, const std::string& path);

/// Writes `target`: the source workbook with the cells of its sheet that differ in `app`
/// rewritten. Throws xlsx::XlsxError, also for a changed formula or a cell added to the
/// sheet (only existing cells are rewritten).
void saveWorkbookSheet(memory::MemoryApplication& app, const WorkbookSource& source,
                       const std::string& target);

}  // namespace qmv::cli
