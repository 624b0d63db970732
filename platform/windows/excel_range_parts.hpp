// What the files behind Excel's ranges share: excel_range.cpp the Range objects,
// excel_cell_writes.cpp typed writes, value arrays and formulas, excel_cell_formats.cpp the
// formats read and written through Excel's properties, excel_kept_cells.cpp the cells kept
// for undo in the add-in's own workbook.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.hpp"
#include "platform/windows/com_support.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/variant_value.hpp"

namespace qmv::windows {

/// The DISPIDs of Excel's Range interface, its Areas collection and its Worksheet, shared
/// by every object of each.
InterfaceIds& rangeIds();
InterfaceIds& areasIds();
InterfaceIds& sheetIds();

// ---- Contents (excel_cell_writes.cpp) -------------------------------------------------

/// What to assign to a cell for a result read as the user's typing would read it, and the
/// number format to give the cell afterwards (empty: none). `cellFormat` gives the cell's
/// NumberFormat, none where its cells differ; it is asked only where Excel and the user
/// would read the text differently.
struct TypedWrite {
  Variant value;
  std::u16string numberFormat;
};
TypedWrite typedWrite(const std::u16string& text, const HostLocale& user,
                      const std::function<std::optional<std::u16string>()>& cellFormat);

/// Range.NumberFormat: the code, or none for Null (cells whose formats differ).
std::optional<std::u16string> numberFormatOf(IDispatch* range, InterfaceIds* ids = nullptr);

/// The elements of a 2-D (1-based) SAFEARRAY result of `rows` by `columns`, row-major; a
/// scalar is one element. Throws HostError 13 for another shape.
std::vector<Variant> arrayElements(const Variant& v, int64_t rows, int64_t columns);
/// The values of an area of `rows` by `columns` in one call (two where Excel answers in
/// Currency), row-major.
std::vector<Value> readValues(IDispatch* area, int64_t rows, int64_t columns);
/// One column of values as the 2-D array Range.Value and Formula take; the elements are
/// moved into it.
Variant columnArray(std::vector<Variant>& elements);

/// Range.FormulaArray: "The FormulaArray property also has a character limit of 255".
inline constexpr std::size_t kFormulaArrayLimit = 255;
/// Whether `error` says the Excel has no Formula2 (Excel before dynamic arrays).
bool noFormula2(const HostError& error);
/// The formulas of a range: Formula2, or Formula where Excel has no Formula2.
Variant readFormulas(IDispatch* range, InterfaceIds* ids = nullptr);
/// Writes a formula as the formula bar shows it: an array formula in braces through
/// FormulaArray (Formula2 past FormulaArray's 255 characters), any other through Formula2,
/// or Formula where Excel has no Formula2.
void writeFormula(IDispatch* range, std::u16string_view formula);

// ---- Formats (excel_cell_formats.cpp) -------------------------------------------------

/// The number format, fill and font colour of `range` (the other formats marked unknown).
/// Of one cell (`oneCell`) a part Excel will not tell is marked unknown; over several cells
/// a part they differ in throws HostError 13.
CellFormats readFormats(IDispatch* range, bool oneCell);
/// The formats of each of `cells` of `sheet`, in their order, read a column at a time.
/// Throws HostError 1004 for a cell off the sheet.
std::vector<CellFormats> readCellFormats(IDispatch* sheet, std::span<const CellRef> cells);
/// Gives `range` the parts of `formats` that are known.
void writeFormats(IDispatch* range, const CellFormats& formats);

// ---- Kept cells (excel_kept_cells.cpp) ------------------------------------------------

/// A copy of the area `area` (lying at `where` on its sheet) in the add-in's scratch
/// workbook, made when none is open.
std::unique_ptr<KeptCells> keepCellsAside(IDispatch* area, const AreaRef& where);

}  // namespace qmv::windows
