// What the files of the Excel bridge share. Each file holds the objects of one host
// interface: excel_range.cpp ranges (their contents, formats and the cells kept for undo in
// the files of excel_range_parts.hpp), excel_sheet.cpp worksheets, workbooks and their
// filters, excel_command_bars.cpp command bars and their controls, excel_host.cpp the
// application, its worksheet functions and add-ins.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/host.hpp"
#include "platform/windows/com_support.hpp"
#include "platform/windows/variant_value.hpp"

namespace qmv::windows {

/// A required object result; Nothing is the "object not set" error.
ComPtr<IDispatch> requiredObject(const Variant& v);

/// The host objects over Excel's: a Range, a Worksheet, a Workbook, the CommandBars.
RangePtr wrapRange(ComPtr<IDispatch> range);
WorksheetPtr wrapWorksheet(ComPtr<IDispatch> sheet);
WorkbookPtr wrapWorkbook(ComPtr<IDispatch> book);
CommandBarsPtr wrapCommandBars(ComPtr<IDispatch> bars);

/// The Range object behind a range this bridge made; "Object required" for any other.
IDispatch* rangeObject(Range& range);

/// The areas of a Range object, as its Areas collection lists them.
std::vector<AreaRef> areaRefsOf(ComPtr<IDispatch> range);

/// How many cells of `range` hold `text` (whole, letter case aside), answered from the
/// column's values read once; none where `range` is not one column of one area of ours,
/// or `text` is empty.
std::optional<double> indexedCount(Range& range, const std::u16string& text,
                                   const std::function<HostLocale()>& locale);

/// The user's number, date and currency conventions as Excel reports them
/// (Application.International).
HostLocale excelLocale(IDispatch* app);

/// Whether a cell holds the text `text`, letter case aside.
bool holdsText(const CellContent& cell, const std::u16string& text);

/// `text` with Excel's wildcards "~", "*" and "?" escaped by "~".
std::u16string escapeWildcards(const std::u16string& text);

}  // namespace qmv::windows
