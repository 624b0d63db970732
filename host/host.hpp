// The spreadsheet host as the add-in sees it: application, workbooks, worksheets, ranges,
// worksheet functions, command bars and add-ins.
//
// Every call may throw HostError with the host's error number. The add-in reaches all of
// it from one `Application` (hostApp), which the connection handler receives; handlers
// that skip failing steps wrap each call in `tolerant` (host/tolerant.hpp).
//
// Platforms implement it: platform/memory (an in-memory workbook) and platform/windows
// (Excel over IDispatch). Object handles are shared pointers; a null handle stands for
// the host's "Nothing" (no intersection, nothing found).
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
#include "host/host_error.hpp"
#include "host/locale.hpp"
#include "host/value.hpp"

namespace qmv {

class Range;
class KeptCells;
class Worksheet;
class Workbook;
class CommandBar;
class CommandBarControl;
class CommandBarControls;
class CommandBars;
class AddIn;
using RangePtr = std::shared_ptr<Range>;
using WorksheetPtr = std::shared_ptr<Worksheet>;
using WorkbookPtr = std::shared_ptr<Workbook>;
using CommandBarPtr = std::shared_ptr<CommandBar>;
using CommandBarControlPtr = std::shared_ptr<CommandBarControl>;
using CommandBarControlsPtr = std::shared_ptr<CommandBarControls>;
using CommandBarsPtr = std::shared_ptr<CommandBars>;
using AddInPtr = std::shared_ptr<AddIn>;

/// Host constants the add-in passes.
namespace xl {
inline constexpr int32_t kCalculationManual = -4135;
inline constexpr int32_t kCalculationAutomatic = -4105;
inline constexpr int32_t kErrorHandler = 2;  ///< EnableCancelKey: the key raises a trappable error
inline constexpr int32_t kCellTypeConstants = 2;
inline constexpr int32_t kCellTypeVisible = 12;
inline constexpr int32_t kCellTypeFormulas = -4123;
inline constexpr int32_t kBarTop = 1;
/// AutoFilter operators (XlAutoFilterOperator) that a ColumnFilter may carry.
inline constexpr int32_t kFilterAnd = 1;
inline constexpr int32_t kFilterOr = 2;
inline constexpr int32_t kFilterValues = 7;
}  // namespace xl

/// Values and formulas of one rectangular area, read in one host call.
struct CellBlock {
  AreaRef area;                    ///< absolute position on the sheet
  std::vector<CellContent> cells;  ///< row-major, area.rows() * area.columns() entries
  const CellContent& at(int64_t row, int64_t column) const {  ///< 0-based within the block
    return cells[static_cast<std::size_t>(row * area.columns() + column)];
  }
};

/// A copy of an area of cells that Range::keepAside made; the copy goes with the object.
class KeptCells {
 public:
  virtual ~KeptCells() = default;
  /// The area copied, on the sheet it was copied from.
  virtual AreaRef area() const = 0;
  /// Copies the kept cell `cell` (a cell of area()) back over the same cell of the sheet it
  /// came from: its formats and everything else a full clear removes. Its value or formula
  /// is not kept; write it afterwards. Throws HostError.
  virtual void putBack(CellRef cell) = 0;
  /// putBack for every cell of `cells` (an area within area()). Hosts override it to put
  /// an area back in one call.
  virtual void putBackArea(const AreaRef& cells) {
    for (int64_t r = cells.first.row; r <= cells.last.row; ++r) {
      for (int64_t c = cells.first.column; c <= cells.last.column; ++c) putBack(CellRef{r, c});
    }
  }
};

/// What a write left in its cells, as the host tells it.
class WriteReport {
 public:
  /// Cell `index` of the write (0-based) holds the constant `value` and no formula, exactly
  /// as a read of the cell would return it.
  virtual void holds(std::size_t index, const Value& value) = 0;
  /// holds(first + i, values[i]) for each of `values`: the cells hold exactly the values
  /// the write gave them. Reports override it to take a run of cells in one call.
  virtual void holdsAsWritten(std::size_t first, std::span<const Value> values) {
    for (std::size_t i = 0; i < values.size(); ++i) holds(first + i, values[i]);
  }

 protected:
  WriteReport() = default;
  WriteReport(const WriteReport&) = default;
  WriteReport& operator=(const WriteReport&) = default;
  ~WriteReport() = default;
};

/// A set of cells of one worksheet: one or more rectangular areas.
class Range {
 public:
  virtual ~Range() = default;

  /// Number of cells in all areas (a whole sheet has 17,179,869,184).
  virtual int64_t count() = 0;
  /// Rows.Count and Columns.Count of the first area.
  virtual int64_t rowsCount() = 0;
  virtual int64_t columnsCount() = 0;
  /// Absolute row and column of the first area's top-left cell.
  virtual CellRef topLeft() = 0;
  /// Columns(index) of the first area, 1-based.
  virtual RangePtr column(int64_t index) = 0;
  /// Cells(row, column) relative to the first area's top-left cell, 1-based.
  virtual RangePtr cell(int64_t row, int64_t column) = 0;
  /// The rectangular areas, in the host's order.
  virtual std::vector<RangePtr> areas() = 0;
  /// The areas as references (no host objects created).
  virtual std::vector<AreaRef> areaRefs() = 0;
  /// Address without sheet name: "$B$3", "$A$1:$A$3,$C$1".
  virtual std::u16string address() = 0;
  /// The worksheet the range lies on.
  virtual WorksheetPtr worksheet() = 0;

  /// Value of the first cell.
  virtual Value value() = 0;
  /// Assigns a value to every cell; a text is read as typed input ("007" becomes 7).
  virtual void setValue(const Value& value) = 0;
  /// Formula-or-value of the first cell in formula notation ("=A1+1", "1234.5", "abc").
  virtual std::u16string formula() = 0;
  /// Sets the formula-or-value of every cell, read as typed input.
  virtual void setFormula(std::u16string_view formula) = 0;
  /// Writes exactly this content into every cell: a text stays text, a formula is a formula.
  virtual void setContent(const CellContent& content) = 0;
  /// Values and formulas of the first area in one call.
  virtual CellBlock readBlock() = 0;
  /// readBlock into `block`, reusing its storage: a caller that reads area after area
  /// allocates nothing once its block and texts are large enough. Hosts override it to
  /// spare the copies; on failure `block` holds no meaningful content.
  virtual void readBlockInto(CellBlock& block) { block = readBlock(); }
  /// Cells(row, column).Value = value for one cell of the first area (1-based, relative to
  /// its top-left cell), a text read as typed input. Hosts override it to make it one call.
  virtual void setCellValue(int64_t row, int64_t column, const Value& value) {
    cell(row, column)->setValue(value);
  }
  /// setCellValue for consecutive cells of one column of the first area: values[i] goes to
  /// Cells(row + i, column), each typed exactly as setCellValue types it. Hosts override it
  /// to make it one call. On failure some of the cells may be written and others not:
  /// writing a cell again with the same value is harmless.
  virtual void setColumnValues(int64_t row, int64_t column, std::span<const Value> values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      setCellValue(row + static_cast<int64_t>(i), column, values[i]);
    }
  }
  /// setColumnValues, then tells `report` what the cells hold where the host knows it
  /// without reading them back (a host whose typing it cannot predict tells nothing, the
  /// default). Cells not reported must be read to be known. Nothing is reported on failure.
  virtual void setColumnValuesReported(int64_t row, int64_t column, std::span<const Value> values,
                                       WriteReport& report) {
    (void)report;
    setColumnValues(row, column, values);
  }

  /// setContent for consecutive cells of one column of the first area: contents[i] goes
  /// exactly to Cells(row + i, column) (1-based, relative to its top-left cell). Hosts
  /// override it to make it one call. On failure some of the cells may be written and
  /// others not: writing a cell again with the same content is harmless.
  virtual void setColumnContents(int64_t row, int64_t column,
                                 std::span<const CellContent> contents) {
    for (std::size_t i = 0; i < contents.size(); ++i) {
      cell(row + static_cast<int64_t>(i), column)->setContent(contents[i]);
    }
  }
  /// Calculates the formulas of the range now, whatever the calculation mode. A host that
  /// keeps the value a formula was written with has nothing to do.
  virtual void calculate() {}

  /// SpecialCells(type) restricted to this range; throws HostError 1004 when no cell matches.
  virtual RangePtr specialCells(int32_t type) = 0;
  /// The longest array formula (its text without the braces, "=" included) the host can
  /// write back into a cell of the range, where it has such a limit: a longer one that a
  /// run cleared could not come back. None where every formula can go back (the default).
  virtual std::optional<std::size_t> arrayFormulaLimit() { return std::nullopt; }
  /// Clears values and formats.
  virtual void clear() = 0;
  /// Clears values and formats of these cells of this range's sheet, as clear() would one
  /// by one; hosts override it to clear many cells in one call. On failure some of them
  /// may be cleared and others not: clearing a cell again is harmless.
  virtual void clearCells(const std::vector<CellRef>& cells);
  /// The formats shared by every cell of the range. Throws HostError when the cells differ
  /// or the host cannot tell them. Of a single cell, each part is read on its own: a part
  /// the host cannot tell is marked unknown, and the others still count.
  virtual CellFormats formats() {
    throw HostError(host_errors::kRefused, "Formats are not available");
  }
  /// The formats of each of `cells` (cells of this range's sheet), in their order, each read
  /// as formats() reads a single cell: a part the host cannot tell of a cell is marked
  /// unknown in its entry. Hosts override it to read many cells in few calls. Throws
  /// HostError when they cannot be read; then no entry counts.
  virtual std::vector<CellFormats> cellFormats(std::span<const CellRef> cells);
  /// Gives every cell these formats, except the parts marked unknown.
  virtual void setFormats(const CellFormats& formats) {
    (void)formats;
    throw HostError(host_errors::kRefused, "Formats are not available");
  }
  /// Keeps a copy of the first area's cells, with everything a full clear removes, where
  /// the user never sees it, for putting back later. Throws HostError where the host
  /// cannot keep one.
  virtual std::unique_ptr<KeptCells> keepAside() {
    throw HostError(host_errors::kRefused, "Cells cannot be kept aside");
  }
  /// Find with What = `what`, After = `after`, LookIn values, LookAt whole, by rows, next,
  /// case-insensitive. Matching is literal (no wildcards). Null when nothing is found.
  virtual RangePtr find(const std::u16string& what, Range& after) = 0;
  /// AdvancedFilter in place with unique records: hides the rows that repeat an earlier
  /// row's value and shows the others. Every row is compared; there is no header row.
  virtual void advancedFilterUniqueInPlace() = 0;
  /// EntireRow.Hidden of the first row.
  virtual bool entireRowHidden() = 0;
  /// Hides or shows the entire rows of the range. Throws HostError when the host cannot.
  virtual void setEntireRowHidden(bool hidden) {
    (void)hidden;
    throw HostError(host_errors::kRefused, "Rows cannot be hidden");
  }
};

/// A worksheet of a workbook.
/// One criterion of an AutoFilter column: one value, or a list of values (a filter by
/// the values the user ticked).
struct FilterCriterion {
  std::vector<Value> values;
  bool list = false;
  friend bool operator==(const FilterCriterion&, const FilterCriterion&) = default;
};

/// A column an AutoFilter filters by.
struct ColumnFilter {
  int64_t field = 0;  ///< 1-based column of the filter's range
  int32_t op = 0;     ///< the host's operator (xl::kFilter...); 0 for one criterion alone
  std::optional<FilterCriterion> criteria1;
  std::optional<FilterCriterion> criteria2;
  friend bool operator==(const ColumnFilter&, const ColumnFilter&) = default;
};

/// A sheet's AutoFilter: its range, header row first, and the columns it filters by.
struct AutoFilterState {
  AreaRef range;
  std::vector<ColumnFilter> filters;
  /// False when a column filters by what cannot be given back as it was: a colour, an
  /// icon, or criteria the host would not tell.
  bool exact = true;
  friend bool operator==(const AutoFilterState&, const AutoFilterState&) = default;
};

class Worksheet {
 public:
  virtual ~Worksheet() = default;
  virtual std::u16string name() = 0;
  virtual void activate() = 0;
  /// The used range; null on an empty sheet is never returned (the host gives $A$1).
  virtual RangePtr usedRange() = 0;
  /// Removes a filter and shows every row; throws when no filter is applied. An
  /// AutoFilter stays on the sheet, but filters by nothing any more.
  virtual void showAllData() = 0;
  /// The sheet's AutoFilter; none when the sheet has none.
  virtual std::optional<AutoFilterState> autoFilter() = 0;
  /// Puts an AutoFilter on `state.range` (when the sheet has none) and filters its rows by
  /// `state.filters`, as the user would set them again. Throws for criteria the host
  /// refuses; the columns before stay filtered.
  virtual void applyAutoFilter(const AutoFilterState& state) = 0;
  /// The filters of the sheet's tables that filter by something (a table's filter is its
  /// own, not the sheet's AutoFilter); none on a host without tables.
  virtual std::vector<AutoFilterState> tableFilters() { return {}; }
  /// Filters the rows of the table over `state.range` by `state.filters` again. Throws for
  /// criteria the host refuses.
  virtual void applyTableFilter(const AutoFilterState& state) {
    (void)state;
    throw HostError(host_errors::kRefused, "The sheet has no tables");
  }
  /// A range of this sheet by A1 reference.
  virtual RangePtr range(std::u16string_view reference) = 0;
};

inline void Range::clearCells(const std::vector<CellRef>& cells) {
  const WorksheetPtr sheet = worksheet();
  for (const CellRef& cell : cells) sheet->range(formatAddress(cell))->clear();
}

inline std::vector<CellFormats> Range::cellFormats(std::span<const CellRef> cells) {
  const WorksheetPtr sheet = worksheet();
  std::vector<CellFormats> out;
  out.reserve(cells.size());
  for (const CellRef& cell : cells) out.push_back(sheet->range(formatAddress(cell))->formats());
  return out;
}

/// An open workbook.
class Workbook {
 public:
  virtual ~Workbook() = default;
  virtual std::u16string name() = 0;
  virtual void activate() = 0;
};

/// The host's worksheet functions.
class WorksheetFunction {
 public:
  virtual ~WorksheetFunction() = default;
  /// COUNTA: cells that are not empty (formulas, errors and empty texts count).
  virtual double countA(Range& range) = 0;
  /// COUNTIF asked for a literal, whole-value, case-insensitive match of `text`.
  virtual double countIf(Range& range, const std::u16string& text) = 0;
  /// CLEAN: removes characters with codes 0 to 31.
  virtual std::u16string clean(const std::u16string& text) = 0;
  /// TRIM: removes leading and trailing U+0020 and reduces inner runs to one.
  virtual std::u16string trim(const std::u16string& text) = 0;
};

/// Kinds of command-bar controls.
enum class ControlType : int32_t { Button = 1, Popup = 10 };

/// Ends an event subscription (Click, sheet change) when destroyed.
class EventSubscription {
 public:
  virtual ~EventSubscription() = default;
};

/// Receives the host's notice that cells of a worksheet changed: typed by the user, pasted,
/// or written by any program, this add-in's own runs included.
using CellsChangedHandler = std::function<void()>;

/// Where cells changed, as the host's notice names it. A sort names the sorted cells; an
/// insertion or deletion of rows names those entire rows (every row below them moved).
struct CellsChange {
  std::u16string workbook;     ///< the workbook's name; empty when the host did not say
  std::u16string sheet;        ///< the worksheet's name; empty when the host did not say
  std::vector<AreaRef> areas;  ///< the changed cells; empty when the host did not say where
};

/// Receives a change notice that names where cells changed.
using CellsChangedAtHandler = std::function<void(const CellsChange& change)>;

/// Receives a button's Click: the clicked control as the host reports it, and the
/// CancelDefault flag that the host reads back.
using ClickHandler = std::function<void(CommandBarControl& clicked, bool& cancelDefault)>;

/// A control of a command bar (button or popup).
class CommandBarControl {
 public:
  virtual ~CommandBarControl() = default;
  virtual ControlType type() = 0;
  virtual std::u16string caption() = 0;
  virtual void setCaption(const std::u16string& caption) = 0;
  virtual std::u16string tag() = 0;
  virtual void setTag(const std::u16string& tag) = 0;
  virtual std::u16string onAction() = 0;
  virtual void setOnAction(const std::u16string& onAction) = 0;
  virtual std::u16string parameter() = 0;
  virtual void setParameter(const std::u16string& parameter) = 0;
  virtual bool beginGroup() = 0;
  virtual void setBeginGroup(bool beginGroup) = 0;
  virtual std::u16string tooltipText() = 0;
  virtual void setTooltipText(const std::u16string& text) = 0;
  virtual bool visible() = 0;
  virtual void setVisible(bool visible) = 0;
  /// Buttons only.
  virtual int32_t faceId() = 0;
  virtual void setFaceId(int32_t faceId) = 0;
  virtual int32_t style() = 0;
  virtual void setStyle(int32_t style) = 0;
  /// The controls of a popup; throws for a button.
  virtual CommandBarControlsPtr controls() = 0;
  /// Deletes the control.
  virtual void remove() = 0;
  /// Subscribes to the Click event of a button; the subscription ends with the result.
  virtual std::unique_ptr<EventSubscription> subscribeClick(ClickHandler handler) = 0;
};

/// The controls of a bar or popup.
class CommandBarControls {
 public:
  virtual ~CommandBarControls() = default;
  virtual int32_t count() = 0;
  /// Control by 1-based index; throws when out of range.
  virtual CommandBarControlPtr item(int32_t index) = 0;
  /// First control with this caption; throws when there is none.
  virtual CommandBarControlPtr item(const std::u16string& caption) = 0;
  /// Appends a control; `temporary` is passed only when it has a value.
  virtual CommandBarControlPtr add(ControlType type, std::optional<bool> temporary) = 0;
};

/// A toolbar or menu bar.
class CommandBar {
 public:
  virtual ~CommandBar() = default;
  virtual std::u16string name() = 0;
  virtual bool visible() = 0;
  virtual void setVisible(bool visible) = 0;
  virtual CommandBarControlsPtr controls() = 0;
  virtual void remove() = 0;
};

/// The host's command bars.
class CommandBars {
 public:
  virtual ~CommandBars() = default;
  /// Bar by name; throws when there is none.
  virtual CommandBarPtr item(const std::u16string& name) = 0;
  /// Adds a bar at `position` (xl::kBarTop); not a menu bar, temporary flag not passed.
  virtual CommandBarPtr add(const std::u16string& name, int32_t position) = 0;
  /// Every control of every bar, popups included at any depth, whose tag is `tag`; empty
  /// when there is none (the host's "Nothing") and for an empty `tag` (which would
  /// otherwise stand for every untagged control).
  virtual std::vector<CommandBarControlPtr> findControls(const std::u16string& tag) = 0;
};

/// An item of the host's add-ins list.
class AddIn {
 public:
  virtual ~AddIn() = default;
  virtual bool installed() = 0;
  virtual void setInstalled(bool installed) = 0;
};

/// The object the host passes for this add-in at connection (it knows the ProgID).
class AddInInstance {
 public:
  virtual ~AddInInstance() = default;
  virtual std::u16string progId() = 0;
};

/// The host application: root of every host call.
class Application {
 public:
  virtual ~Application() = default;
  virtual int64_t workbooksCount() = 0;
  virtual WorkbookPtr activeWorkbook() = 0;
  virtual WorksheetPtr activeSheet() = 0;
  /// The selection; throws HostError 13 when the selection is not cells.
  virtual RangePtr selection() = 0;
  /// Intersect(a, b); null when they do not overlap.
  virtual RangePtr intersect(Range& a, Range& b) = 0;
  /// Range(reference) on the active sheet.
  virtual RangePtr range(std::u16string_view reference) = 0;
  virtual WorksheetFunction& worksheetFunction() = 0;
  /// The user's number and date conventions.
  virtual HostLocale locale() = 0;

  virtual void setScreenUpdating(bool on) = 0;
  /// The calculation mode now (xl::kCalculationAutomatic, kCalculationManual or 2, semi-
  /// automatic). Throws HostError where the host cannot tell.
  virtual int32_t calculation() {
    throw HostError(host_errors::kNotSupported, "The calculation mode is not available");
  }
  virtual void setCalculation(int32_t mode) = 0;
  /// Whether the host raises its events, the user's macros' included. Throws HostError
  /// where the host has no such switch.
  virtual bool enableEvents() {
    throw HostError(host_errors::kNotSupported, "Events cannot be switched");
  }
  virtual void setEnableEvents(bool on) {
    (void)on;
    throw HostError(host_errors::kNotSupported, "Events cannot be switched");
  }
  virtual void setEnableCancelKey(int32_t mode) = 0;
  virtual void setStatusBar(const std::u16string& text) = 0;
  /// Binds the host's Undo entry to a macro.
  virtual void onUndo(const std::u16string& text, const std::u16string& macro) = 0;
  /// Gives the Undo entry bound by onUndo back to the host's own list now. Throws HostError
  /// where the host offers no such call; the entry then goes at the next change of cells.
  virtual void clearOnUndo() = 0;
  /// Binds a key ("^z") to a macro.
  virtual void onKey(const std::u16string& key, const std::u16string& macro) = 0;
  /// Gives a key bound by onKey back its own action in the host.
  virtual void resetKey(const std::u16string& key) = 0;
  /// Makes `name` a macro the host can run (its Undo entry, a bound key). Returns false
  /// when this host cannot run it; callers must then not bind anything to the name.
  virtual bool registerMacro(const std::u16string& name, std::function<void()> macro) = 0;

  /// Calls `handler` after every change of cells on any sheet until the result is destroyed.
  /// The host gives the Undo entry bound by onUndo back to its own list at such a change.
  virtual std::unique_ptr<EventSubscription> subscribeSheetChange(CellsChangedHandler handler) = 0;
  /// The same notices, naming where cells changed. A host that cannot tell keeps the
  /// default, whose notices name nothing: a listener must take them as any cell anywhere.
  virtual std::unique_ptr<EventSubscription> subscribeCellsChanged(CellsChangedAtHandler handler) {
    return subscribeSheetChange([handler = std::move(handler)] { handler(CellsChange{}); });
  }

  virtual CommandBarsPtr commandBars() = 0;
  /// AddIns(name); throws when there is no such item.
  virtual AddInPtr addIn(const std::u16string& name) = 0;

  /// Asks the user for a file to open without opening it (Excel's GetOpenFilename):
  /// `filter` pairs a description with its wildcards ("Recipes (*.json),*.json"). The
  /// chosen path, or no value when the user cancelled. Throws HostError where the host
  /// cannot ask.
  virtual std::optional<std::u16string> askOpenFileName(const std::u16string& filter,
                                                        const std::u16string& title) {
    (void)filter;
    (void)title;
    throw HostError(host_errors::kNotSupported, "this host cannot ask for a file");
  }

  /// The add-in's per-user setting `name`, kept by the host between sessions; no value
  /// when it was never stored. A host that keeps no settings has none.
  virtual std::optional<std::u16string> addinSetting(const std::u16string& name) {
    (void)name;
    return std::nullopt;
  }
  /// Stores the add-in's per-user setting `name`; throws HostError when the host cannot
  /// keep it (a host that keeps no settings always throws).
  virtual void setAddinSetting(const std::u16string& name, const std::u16string& value) {
    (void)name;
    (void)value;
    throw HostError(host_errors::kRefused, "this host keeps no add-in settings");
  }
};

using ApplicationPtr = std::shared_ptr<Application>;

}  // namespace qmv
