// Streaming a worksheet part: its cells in file order, and a rewrite in which only the
// edited <c> elements change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/xlsx/workbook.hpp"

namespace qmv::xlsx {

/// Visits every cell of worksheet `sheet`. Throws XlsxError.
void streamSheet(const Workbook& book, std::size_t sheet, const CellVisitor& visit);

/// What a rewrite changed.
struct SheetRewrite {
  bool changed = false;               ///< at least one cell was replaced
  std::vector<CellRef> formulasGone;  ///< replaced cells that held a formula
  bool formulasKept = false;          ///< a formula cell of the sheet stays
};

/// Writes the worksheet into `output` (and finishes it) with each cell the editor answers
/// replaced by its new element, every other byte as it was. Throws XlsxError.
SheetRewrite rewriteSheet(const Workbook& book, std::size_t sheet, const CellEditor& editor,
                          DeflatedFile& output);

/// `formula` (A1 notation, as a worksheet part stores it) for a cell `rows` below and
/// `columns` right of the cell it was written for, as Excel fills a shared formula: every
/// relative reference (A1, A:A, 1:1, with or without a sheet) moves, absolute parts ($A$1)
/// stay, strings, quoted sheet names, structured references and function names are copied.
/// A reference moved off the sheet becomes #REF!.
std::string shiftedFormula(std::string_view formula, int64_t rows, int64_t columns);

}  // namespace qmv::xlsx
