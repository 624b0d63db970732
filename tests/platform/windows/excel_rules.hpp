// Excel's documented behaviour that the fake Excel objects share: what a text assigned to
// a cell becomes, how COUNTIF criteria and Find texts match, the Currency of Range.Value
// and the locale Excel's automation answers in. Each rule names its documentation page.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/address.hpp"
#include "host/locale.hpp"
#include "host/value.hpp"
#include "platform/windows/com_support.hpp"

namespace qmv::windows::fake {

/// What Excel makes of a text assigned to Range.Value or Range.Formula: the cell's new
/// content, or none when Excel refuses the text (run-time error 1004).
///
/// Range.Formula (https://learn.microsoft.com/office/vba/api/excel.range.formula) and
/// Range.Value (https://learn.microsoft.com/office/vba/api/excel.range.value) read an
/// assigned text as typed input: "=..." is a formula; a text starting with "+", "-" or "@"
/// that does not read as a number or date is a formula as well ("=-abc"; Excel's Lotus
/// entry rule and the implicit intersection operator "@", documented in "Implicit
/// intersection operator: @" on support.microsoft.com); numbers, percentages, dates and
/// TRUE/FALSE convert; a leading apostrophe keeps the rest as text. A formula that is
/// only "=" is refused. The fake gives a formula it cannot compute the value #NAME?.
std::optional<CellContent> typedEntry(std::u16string_view text);

/// typedEntry into a cell whose number format is `numberFormat`. A cell formatted as Text
/// ("@") keeps what is typed into it as text: "Text: This format treats the content of a
/// cell as text and displays the content exactly as you type it, even when you type
/// numbers" ("Available number formats in Excel", support.microsoft.com), so a number, a
/// date or TRUE assigned as a text stays that text; a leading apostrophe is still taken as
/// the prefix (Range.PrefixCharacter,
/// https://learn.microsoft.com/office/vba/api/excel.range.prefixcharacter, does not settle it for
/// Text cells; the fake keeps the one rule of every cell). Formulas assigned to a Text cell are not
/// modelled: they stay formulas.
std::optional<CellContent> typedEntry(std::u16string_view text, std::u16string_view numberFormat);

/// The number format of a cell formatted `numberFormat` after `assigned` was written into
/// it through Range.Value or Range.Formula. Range.Formula
/// (https://learn.microsoft.com/office/vba/api/excel.range.formula): "If you set the value
/// or formula of a cell to a date, Microsoft Excel verifies that cell is already formatted
/// with one of the date or time number formats. If not, Excel changes the number format to
/// the default short date number format" (m/d/yyyy in Excel's en-US notation), a Text cell
/// included; a format is taken for a date or time format where it holds d, m, y, h or s.
/// A text typed as a percentage, with thousands separators or with an exponent gives a
/// General cell the format that shows it so (typeIntoCell in en-US conventions: no page
/// lists these formats; the fake sets them as the user's typing would, the stricter
/// reading, since a caller that hands Excel a bare number loses them). A number, a Boolean
/// or an error assigned as such leaves the format alone.
std::u16string formatAfterAssignment(const Variant& assigned, const CellContent& stored,
                                     std::u16string_view numberFormat);

/// What a 2-D array assigned to Range.Value gives each cell of the range's area.
///
/// Range.Value (https://learn.microsoft.com/office/vba/api/excel.range.value): "Assigning a
/// 2-dim array to the Value property will copy the values to the range in one operation. If
/// the target range is larger than the array, the remaining cells will receive an error
/// value" (#N/A); elements beyond the range have no cell. Each element is taken as a
/// one-cell assignment takes it (a text as typedEntry reads it). Not settled by the page,
/// and chosen the safer way: an element Excel would refuse refuses the whole assignment
/// (Failure 1004) before any cell changes. "Assigning an array to a multi-area range is not
/// properly supported": refused (Failure 1004) by the callers. Arrays of other than two
/// dimensions are not modelled (Failure 13).
class ArrayAssignment {
 public:
  ArrayAssignment(const Variant& array, const AreaRef& area);
  /// The value assigned to the cell at (row, column), 0-based within the area.
  Variant at(int64_t row, int64_t column) const;

 private:
  std::vector<Variant> elements_;  // row-major
  int64_t rows_ = 0;
  int64_t columns_ = 0;
};

/// Whether COUNTIF's criterion "=..." or "..." counts a cell holding `value`.
///
/// WorksheetFunction.CountIf
/// (https://learn.microsoft.com/office/vba/api/excel.worksheetfunction.countif) and the
/// COUNTIF function page (support.microsoft.com, "COUNTIF function"): "?" matches one
/// character, "*" any sequence, "~" makes the next character literal; matching ignores
/// letter case; a criterion that reads as a number (or date) compares as a number, with
/// Excel's 15 significant digits (the number precision that Microsoft's page of Excel's
/// limits gives), so it also counts texts that read as that number. Only "=" and no operator
/// are modelled; any other comparison throws Failure 5.
bool countIfMatches(const Value& value, std::u16string_view criterion);

/// Whether Find's `what` (wildcards and "~" as in COUNTIF, letter case ignored) matches the
/// whole of `shown`. Range.Find (https://learn.microsoft.com/office/vba/api/excel.range.find)
/// with LookIn:=xlValues searches the cells' displayed text: a number shown as "1,234.50"
/// is not found by "1234.5".
bool findMatches(std::u16string_view what, std::u16string_view shown);

/// Range.Formula of a cell (https://learn.microsoft.com/office/vba/api/excel.range.formula):
/// its formula, or for a constant the constant in en-US notation; a text as it stands,
/// without the apostrophe that may have made it text.
std::u16string formulaOf(const CellContent& content);

/// The text a cell shows in the General format (en-US): its value's cell text, or the
/// error's text.
std::u16string generalText(const Value& value);

/// `number` rounded to 15 significant digits, as Excel keeps and compares numbers.
double significant15(double number);

/// Range.Value of a currency-formatted cell: the Currency data type (VT_CY, four decimal
/// places), which Range.Value2 does not use
/// (https://learn.microsoft.com/office/vba/api/excel.range.value2).
Variant currencyOf(double number);

/// Range.Value2 of a value: dates as their serial number
/// (https://learn.microsoft.com/office/vba/api/excel.range.value2); everything else as
/// Range.Value gives it.
Variant value2Of(const Value& value);

/// What a range object holds, which decides what its Item and Count mean: single cells
/// (Range, Cells, the selection, Intersect), the columns of a range (Columns) or its rows
/// (Rows, EntireRow).
enum class RangeKind { Cells, Columns, Rows };

/// What Range.Item(RowIndex, ColumnIndex) gives: the cells and the kind of the result.
struct RangeItem {
  AreaRef area;
  RangeKind kind;
};

/// Range.Item (https://learn.microsoft.com/office/vba/api/excel.range.item) on a range of
/// `kind` whose first area is `first`: with two indexes, the cell at those 1-based offsets
/// from the first area's top-left cell, which may lie outside the range; "if expression is
/// not a range containing a collection of single cells, e.g. because it has been obtained
/// via the Columns member, providing the second argument is illegal and will result in an
/// error 1004" (Failure 1004). With one index: the index-th column of a Columns range, the
/// index-th row of a Rows range, the index-th cell of a range of cells counted left to
/// right, then down. An index below 1 is refused with 1004 as well.
RangeItem rangeItem(RangeKind kind, const AreaRef& first, int64_t rowIndex,
                    std::optional<int64_t> columnIndex);

/// Range.Count (https://learn.microsoft.com/office/vba/api/excel.range.count): "the number
/// of objects in the collection": cells of a range of cells, columns of a Columns range
/// ("Selection.Columns.Count" on that page), rows of a Rows range, over every area.
int64_t rangeCount(RangeKind kind, const std::vector<AreaRef>& areas);

/// The formula a cell holds, in Range.Formula2's dialect, after `formula` was set through
/// Range.Formula: Excel evaluates it with implicit intersection, so it never spills, and
/// marks where intersection may happen with "@" ("Range.Formula vs Range.Formula2",
/// https://learn.microsoft.com/office/vba/excel/concepts/cells-and-ranges/range-formula-vs-formula2:
/// "=SQRT(A1:A4)" reads back "=SQRT(@A1:A4)" through Formula2). The fake does not parse
/// formulas: it marks the whole expression ("=@SQRT(A1:A4)"), which a formula already
/// marked so keeps. A value assigned through Range.Value that Excel takes for a formula is
/// taken the same way: the Range.Value page does not say which dialect it uses, and this is
/// the reading that loses a spill.
std::u16string implicitlyIntersected(std::u16string_view formula);

/// Range.Formula of a cell holding `formula2` (Formula2's dialect): the same page says
/// Range.Formula "will remove the @ operator" that stands for silent intersection. Every
/// "@" outside quoted text goes.
std::u16string formulaDialect(std::u16string_view formula2);

/// The only locale an English Excel answers in when the user's locale has no language
/// pack: any other LCID fails with TYPE_E_INVDATAREAD 0x80028018 ("BUG: Old format or
/// invalid type library error when automating Excel", support.microsoft.com, and
/// ExcelLocale1033Attribute on learn.microsoft.com).
inline constexpr LCID kEnglishLocale = 1033;
inline constexpr HRESULT kInvalidTypeLibrary = static_cast<HRESULT>(0x80028018);

}  // namespace qmv::windows::fake
