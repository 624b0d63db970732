// Streaming a worksheet part: its cells in file order, and a rewrite in which only the
// edited <c> elements change.
#pragma once

#include <cstddef>
#include <string>

#include "tools/xlsx/workbook.hpp"

namespace qmv::xlsx {

/// Visits every cell of worksheet `sheet`. Throws XlsxError.
void streamSheet(const Workbook& book, std::size_t sheet, const CellVisitor& visit);

/// Writes the worksheet to the file `output` with each cell the editor answers replaced by
/// its new element, every other byte as it was. True when at least one cell changed.
/// Throws XlsxError.
bool rewriteSheet(const Workbook& book, std::size_t sheet, const CellEditor& editor,
                  const std::string& output);

}  // namespace qmv::xlsx
