// Streaming a worksheet part: its cells in file order, and a rewrite in which only the
// edited <c> elements change.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/xlsx/workbook.hpp"

namespace qmv::xlsx {

/// Visits every cell of worksheet `sheet`. Throws XlsxError.
void streamSheet(const Workbook& book, std::size_t sheet, const CellVisitor& visit);

/// What a rewrite changed.
struct SheetRewrite {
  bool changed = false;               ///< at least one cell was replaced
  std::vector<CellRef> formulasGone;  ///< replaced cells that held a formula
};

/// Writes the worksheet to the file `output` with each cell the editor answers replaced by
/// its new element, every other byte as it was. Throws XlsxError.
SheetRewrite rewriteSheet(const Workbook& book, std::size_t sheet, const CellEditor& editor,
                          const std::string& output);

}  // namespace qmv::xlsx
