// An .xlsx or .xlsm workbook read from its package: the sheets and the active one, the
// cells of a sheet streamed in file order, and a new package in which only the changed
// cells of the changed sheets differ.
//
// Changed text goes into the sheet as an inline string (t="inlineStr"), so the shared
// strings part and every other part of the package stay byte for byte as they were; inside
// a changed sheet only the changed <c> elements differ.
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

#include "host/address.hpp"
#include "host/value.hpp"
#include "tools/xlsx/package.hpp"

namespace qmv::xlsx {

/// What a cell's t attribute says it holds.
enum class CellType {
  Number,         ///< no t, or t="n"
  SharedString,   ///< t="s": an index into the shared strings
  InlineString,   ///< t="inlineStr": the text is in the cell
  Boolean,        ///< t="b"
  Error,          ///< t="e"
  FormulaString,  ///< t="str": a formula's text result
  IsoDate,        ///< t="d": an ISO 8601 date-time
};

/// One cell as the sheet holds it. The views live until the visitor returns.
struct SheetCell {
  std::size_t sheet = 0;  ///< the index of its sheet in sheets()
  CellRef ref;
  CellType type = CellType::Number;
  std::string_view raw;           ///< the text of <v> (empty when absent)
  std::optional<uint32_t> style;  ///< the s attribute, an index into the cell formats
  /// The cell has an <f> element, or lies inside the range of an array formula (whose
  /// other cells hold cached results only and are part of the formula all the same).
  bool formula = false;
  std::u16string_view text;         ///< string types: the text (shared, inline or result)
  std::u16string_view formulaText;  ///< the text of <f> (empty for a shared formula's copy)
  std::string_view prefix;          ///< the namespace prefix of its element ("x" for <x:c>)
  /// Why the cell cannot be read (a shared string index that names no string); empty
  /// when it can. valueOf throws with it.
  std::string_view problem;
};

/// A sheet listed in the workbook part.
struct SheetEntry {
  std::u16string name;
  std::string part;        ///< the part name, such as xl/worksheets/sheet1.xml
  bool worksheet = false;  ///< false for chart and dialog sheets
  uint32_t sheetId = 0;    ///< the sheetId attribute, which the calculation chain names
};

using CellVisitor = std::function<void(const SheetCell&)>;
/// The new <c> element for a cell, or nothing to keep the cell's bytes.
using CellEditor = std::function<std::optional<std::string>(const SheetCell&)>;

/// A sheet to rewrite and the edit of its cells.
struct SheetEdit {
  std::size_t sheet = 0;
  CellEditor editor;
};

class Workbook {
 public:
  /// Opens the package and reads its structure, shared strings and cell formats.
  /// Throws XlsxError (missing parts, malformed XML, hostile archives).
  static std::unique_ptr<Workbook> open(const std::string& path, const Limits& limits = {});
  ~Workbook();
  Workbook(const Workbook&) = delete;
  Workbook& operator=(const Workbook&) = delete;

  const Package& package() const { return *package_; }
  const std::vector<SheetEntry>& sheets() const { return sheets_; }
  /// The sheet the workbook opens on (the first when the workbook names none).
  std::size_t activeSheet() const { return active_; }
  /// The sheet called `name`, compared without case as the host does.
  std::optional<std::size_t> findSheet(std::u16string_view name) const;

  /// A cell's value as the host reports it: numbers in a date format are dates, an error
  /// cell its error, a string type its text, a cell without a value (a shared string cell
  /// with an empty <v/> too) the empty value, an ISO cell its date-time (or time: hh:mm:ss
  /// alone). Throws XlsxError naming the file, the sheet and the cell when the cell cannot
  /// be read (a value that is not a number or an ISO date, a shared string that does not
  /// exist): other cells of the sheet may still be read.
  Value valueOf(const SheetCell& cell) const;
  /// The text of a cell valueOf reads as a text, viewed where the sheet holds it (valid
  /// while the visitor runs); nothing for every other cell, an unreadable one included.
  std::optional<std::u16string_view> textOf(const SheetCell& cell) const;

  /// The text Excel shows for the cell where it differs from its value's text: TRUE or
  /// FALSE for a Boolean, a date in its date format (dateDisplay). Nothing otherwise.
  std::optional<std::string> displayedText(const SheetCell& cell) const;

  /// `value` as valueOf reads it back once cellXml has written it in a cell of format
  /// `style`: a number in a date format is a date, a date in any other format a number
  /// (a serial of the workbook's date system).
  Value storedValue(const Value& value, std::optional<uint32_t> style) const;

  /// True when the workbook counts dates from 1904 (<workbookPr date1904="1"/>): its
  /// serials are 1,462 days below those of the 1900 system, which the host's dates use.
  bool date1904() const { return date1904_; }

  /// The <c> element for `cell` once a removal changed the text it shows to `newText`,
  /// stored as Excel stores that text typed into that cell; only for cells whose text
  /// changed, every other cell keeps its bytes. The element carries the cell's prefix.
  /// - In a cell in Text format (@) the text stays text; an empty text leaves the cell
  ///   without value.
  /// - A header cell of a table holds text, and the table column takes its name (written
  ///   into the table part by save). Throws XlsxError when the name would be empty or
  ///   another column's (Excel requires unique column names), and when a formula of the
  ///   workbook names the column in a structured reference (Table1[Old], [@Old]): those
  ///   would no longer read.
  /// - Otherwise the text is read as typed input (en-US conventions, the current year).
  ///   A number keeps the cell's format. A date, time or percentage typed into a cell in
  ///   General format gets the built-in format Excel gives such an entry (1/2 d-mmm,
  ///   1/2/2024 m/d/yyyy, 1/2/2024 3:04 m/d/yyyy h:mm, 15:04 h:mm, 15:04:05 h:mm:ss,
  ///   3:04 PM h:mm AM/PM, 50% 0%, 12.5% 0.00%), through a cell format appended to the
  ///   styles part: save then writes styles.xml with those entries added and nothing else
  ///   changed. In any other format the cell keeps its format.
  /// - Date serials follow the workbook's date system (1900 or 1904).
  /// With `asText`, the text is stored as text in any format (an empty text leaves the cell
  /// without value), as the Text format keeps it.
  std::string changedCellXml(const SheetCell& cell, std::u16string_view newText,
                             bool asText = false) const;

  /// The value `cell` holds, as valueOf reads it, once changedCellXml has stored
  /// `newText` in it; adds no cell format. What a further removal of a list sees.
  Value changedValue(const SheetCell& cell, std::u16string_view newText, bool asText = false) const;

  /// changedCellXml and changedValue of one change, the text read as typed input once.
  struct ChangedCell {
    std::string xml;
    Value value;
  };
  ChangedCell changedCell(const SheetCell& cell, std::u16string_view newText,
                          bool asText = false) const;

  /// Visits every cell of a worksheet in file order. Throws XlsxError (a chart sheet, a
  /// malformed part, a cell outside the host's 1,048,576 rows and 16,384 columns).
  void forEachCell(std::size_t sheet, const CellVisitor& visit) const;

  /// Writes `target`: the package with each edited sheet streamed through its editor.
  /// An edit that replaces a formula cell (cellXml writes no formula) takes the cell out
  /// of the calculation chain, which may name formula cells only; a chain left without
  /// cells is dropped with its relationship and content type, and Excel builds a new one.
  /// An edit that replaces the cell holding a shared formula's text moves the formula to
  /// the next cell of the group the edits leave, with its references shifted as Excel
  /// shifts them for that cell; a later cell of the group outside the new range gets the
  /// formula written out. The cell formats changedCellXml added and the table column
  /// names it changed are written too.
  /// When a cell changes in a workbook that holds formulas, the workbook part asks for a
  /// full calculation on load (<calcPr fullCalcOnLoad="1"/>): the cached results of
  /// formulas that read the changed cells are stale, and readers that trust them (and
  /// Excel until something recalculates) would show the old totals. The result says so.
  /// Throws XlsxError; `target` is then untouched.
  struct Saved {
    bool fullCalculation = false;  ///< the workbook now asks for a full calculation on load
  };
  Saved save(const std::string& target, const std::vector<SheetEdit>& edits) const;

  /// Whether the workbook holds a formula beyond the worksheets `known`, whose cells the
  /// caller has read already: it has a calculation chain, or a cell of another worksheet
  /// holds a formula (those are parsed for it).
  bool holdsFormulasBeyond(std::span<const std::size_t> known) const;

  /// Whether `ref` of worksheet `sheet` lies in the location of one of the sheet's pivot
  /// tables (<location ref> of each part in xl/pivotTables/ its relationships name): the
  /// cells the pivot table fills, which Excel refuses to change by hand.
  bool inPivotTable(std::size_t sheet, CellRef ref) const;

  /// The shared string `index` (precondition: below sharedStringCount()).
  std::u16string sharedString(std::size_t index) const;
  std::size_t sharedStringCount() const;

 private:
  Workbook() = default;
  struct Strings;
  struct Table;
  struct Styles;

  bool formatIs(std::optional<uint32_t> style, const std::vector<bool>& kind) const;
  std::optional<uint32_t> withNumberFormat(std::optional<uint32_t> style, uint32_t id) const;
  Value inFileSerials(const Value& value) const;
  std::string withAddedFormats(const std::string& xml) const;
  std::string withColumnNames(const Table& table, const std::string& xml) const;
  bool renamesTableColumn(const SheetCell& cell, std::u16string_view newText) const;
  /// `newText` as the cell takes it in: the value typed, and the built-in number format a
  /// General cell then gets (entryFormat), if any.
  struct TypedEntry {
    Value typed;
    std::optional<uint32_t> format;
  };
  TypedEntry typedEntry(const SheetCell& cell, std::u16string_view newText, bool asText) const;
  /// Whether a formula of the workbook names a table column `name` in a structured
  /// reference (read from the package on first use).
  bool formulasNameColumn(std::u16string_view name) const;

  std::unique_ptr<Package> package_;
  std::vector<SheetEntry> sheets_;
  std::size_t active_ = 0;
  std::unique_ptr<Strings> strings_;
  std::vector<bool> dateStyles_;
  /// Each cell format's number format: its id and, for a custom one, its code.
  std::vector<std::pair<uint32_t, std::string>> numberFormats_;
  std::vector<bool> textStyles_;
  std::vector<bool> generalStyles_;
  std::unique_ptr<Styles> styles_;  ///< null when the package has no styles part
  std::vector<Table> tables_;
  std::vector<std::pair<std::size_t, AreaRef>> pivots_;  ///< each pivot table's sheet and location
  /// The folded formulas that hold a bracket, read when a table header first changes.
  mutable std::optional<std::vector<std::u16string>> bracketFormulas_;
  std::string withFullCalculation(const std::string& xml) const;
  [[noreturn]] void unreadable(const SheetCell& cell, const std::string& reason) const;
  bool date1904_ = false;
  std::string workbookPart_;
  std::string calcChainPart_;  ///< empty when the workbook has no calculation chain
  int currentYear_ = 1900;     ///< the year a typed date without one falls in
};

/// The <c> element for a cell at `ref` with style `style` holding `value`: a number or a
/// date as <v> (the serial as it stands), a Boolean as t="b", a text as an inline string,
/// the empty value as a cell without value. An error value is written as t="e". With a
/// `prefix`, every element name carries it (<x:c>).
std::string cellXml(CellRef ref, std::optional<uint32_t> style, const Value& value,
                    std::string_view prefix = {});

/// The cell reference text, "B3".
std::string cellReference(CellRef ref);

/// A string as an XML text node of a string item: &, < and > escaped, and the characters
/// XML cannot carry (control characters, lone surrogates) and a literal "_xHHHH_" written in
/// the _xHHHH_ form the format uses.
std::string escapeStringText(std::u16string_view text);

/// The reverse of the _xHHHH_ form, applied to a string item's text.
std::u16string decodeStringText(std::u16string_view text);

/// True for a number format that shows a date or a time (built-in id or format code).
bool isDateFormat(uint32_t id, std::string_view code);

/// The text a date-time serial (1900 system) shows in the date format `code`, or the
/// built-in format `id` when `code` is empty, as Excel's en-US display writes it: years,
/// months (numbers or English names), days (numbers or weekdays), hours (12 with AM/PM or
/// A/P), minutes, seconds, quoted and escaped literals; the first section only, colours
/// and locales skipped. Nothing for what it cannot render: elapsed times ([h]), fractions
/// of a second, a serial outside 0 to 9999-12-31, an unknown built-in id.
std::optional<std::string> dateDisplay(double serial, uint32_t id, std::string_view code);

}  // namespace qmv::xlsx
