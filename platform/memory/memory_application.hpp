// The in-memory spreadsheet host: workbooks with sheets of cells, a selection, worksheet
// functions, run settings, macros, command bars and add-ins. It stands behind the tests
// and the command-line tool; besides the host interface it offers a driver API for tests
// (cells, fills, hidden rows, selection, clicks, keys, inspection, fault injection) that
// never counts as a host call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/cell_text.hpp"
#include "host/host.hpp"

namespace qmv::memory {

using qmv::parseTypedInput;

namespace detail {
struct HostState;
class MemoryWorksheetFunction;
}  // namespace detail

/// The host settings a run changes.
struct RunSettings {
  bool screenUpdating = true;
  int32_t calculation = xl::kCalculationAutomatic;
  int32_t enableCancelKey = 1;  ///< xlInterrupt until someone sets it
  std::u16string statusBar;     ///< empty: the host's own text

  /// A setting by its script name ("statusbar", "screenupdating", "calculation",
  /// "cancelkey") as a cell value; empty for any other name.
  Value byName(std::string_view name) const {
    if (name == "statusbar") return statusBar;
    if (name == "screenupdating") return screenUpdating;
    if (name == "calculation") return static_cast<double>(calculation);
    if (name == "cancelkey") return static_cast<double>(enableCancelKey);
    return {};
  }
};

/// The host's Undo entry as bound by OnUndo.
struct UndoBinding {
  std::u16string text;
  std::u16string macro;
};

/// A sheet by name; an empty workbook name means the active workbook.
struct SheetName {
  std::u16string sheet;
  std::u16string workbook;
};

/// A command-bar control as the host holds it, for inspection.
struct ControlSnapshot {
  ControlType type = ControlType::Button;
  std::u16string caption;
  std::u16string tag;
  std::u16string onAction;
  std::u16string parameter;
  std::u16string tooltipText;
  bool beginGroup = false;
  bool visible = true;
  int32_t faceId = 0;
  int32_t style = 0;
  bool builtIn = false;
  std::optional<bool> temporaryArgument;  ///< the `temporary` passed to Add, if any
  int subscriptions = 0;                  ///< live Click subscriptions on this control
  std::vector<ControlSnapshot> controls;  ///< a popup's controls
};

/// A command bar as the host holds it, for inspection.
struct BarSnapshot {
  std::u16string name;
  bool visible = false;
  bool builtIn = false;
  int32_t position = 0;
  std::vector<ControlSnapshot> controls;
};

/// What a click did.
struct ClickOutcome {
  int handlersCalled = 0;  ///< Click subscribers that ran
  bool cancelDefault = false;
  std::optional<std::u16string> onActionRun;  ///< the OnAction the host ran (not cancelled)
};

/// The in-memory host application.
/// A file question the add-in asked the host.
struct FileQuestion {
  std::u16string filter;
  std::u16string title;
};

class MemoryApplication final : public Application {
 public:
  /// A host with no workbook open, en-US locale, the current year from the clock and the
  /// built-in "Worksheet Menu Bar".
  MemoryApplication();
  ~MemoryApplication() override;
  MemoryApplication(const MemoryApplication&) = delete;
  MemoryApplication& operator=(const MemoryApplication&) = delete;

  // ---- Application -------------------------------------------------------------------
  int64_t workbooksCount() override;
  WorkbookPtr activeWorkbook() override;
  WorksheetPtr activeSheet() override;
  RangePtr selection() override;
  RangePtr intersect(Range& a, Range& b) override;
  RangePtr range(std::u16string_view reference) override;
  WorksheetFunction& worksheetFunction() override;
  HostLocale locale() override;
  void setScreenUpdating(bool on) override;
  int32_t calculation() override;
  void setCalculation(int32_t mode) override;
  void setEnableCancelKey(int32_t mode) override;
  void setStatusBar(const std::u16string& text) override;
  void onUndo(const std::u16string& text, const std::u16string& macro) override;
  void clearOnUndo() override;
  void onKey(const std::u16string& key, const std::u16string& macro) override;
  void resetKey(const std::u16string& key) override;
  bool registerMacro(const std::u16string& name, std::function<void()> macro) override;
  std::unique_ptr<EventSubscription> subscribeSheetChange(CellsChangedHandler handler) override;
  /// Names the changed cells: a write the cells written, a sort the sorted area, an
  /// insertion the inserted entire rows.
  std::unique_ptr<EventSubscription> subscribeCellsChanged(CellsChangedAtHandler handler) override;
  CommandBarsPtr commandBars() override;
  AddInPtr addIn(const std::u16string& name) override;
  std::optional<std::u16string> addinSetting(const std::u16string& name) override;
  void setAddinSetting(const std::u16string& name, const std::u16string& value) override;
  /// Answers with the next queued answer (queueFileAnswer); with none queued the user
  /// cancels, so a script that forgot the answer changes nothing.
  std::optional<std::u16string> askOpenFileName(const std::u16string& filter,
                                                const std::u16string& title) override;

  // ---- Driver API: workbooks and sheets (not host calls) ------------------------------
  /// Opens a new workbook ("Book1", "Book2", ... when `name` is empty) with one sheet
  /// "Sheet1", makes it active and selects A1 of it. Returns its name.
  std::u16string addWorkbook(const std::u16string& name = {});
  /// Adds a sheet to the active workbook (opening a workbook first when none is open);
  /// the active sheet stays active. Throws std::invalid_argument for a name in use.
  void addSheet(const std::u16string& name);
  /// Makes the named sheet and its workbook active. Throws std::invalid_argument.
  void activateSheet(const SheetName& sheet);
  /// Closes every workbook the user has open (Workbooks.Count becomes 0); add-in
  /// workbooks stay open.
  void closeWorkbooks();
  /// Closes one workbook; the first remaining one of the user's becomes active.
  void closeWorkbook(const std::u16string& name);
  /// Makes the named workbook an add-in workbook (Workbook.IsAddin) or the user's again:
  /// an add-in workbook stays open but is neither counted by workbooksCount nor closed by
  /// closeWorkbooks. Throws std::invalid_argument for no such workbook.
  void setWorkbookIsAddin(const std::u16string& name, bool addin);
  std::u16string activeWorkbookName() const;  ///< empty when none is open
  std::u16string activeSheetName() const;     ///< empty when none is open

  // ---- Driver API: cells (active sheet, or a named sheet) -----------------------------
  // The writes below stand for the user's own edits: like every change of cells they give
  // the Undo entry back to the host and call the sheet-change subscribers.
  /// Writes exactly this content (no typed-input reading, no length check).
  void setCell(CellRef cell, const CellContent& content);
  void setCell(const SheetName& sheet, CellRef cell, const CellContent& content);
  /// Writes constants down a column from `top`.
  void setColumn(CellRef top, const std::vector<Value>& values);
  /// Writes text as typed input (as Range.Value would), e.g. "007" becomes 7.
  void typeInto(CellRef cell, std::u16string_view text);
  CellContent cell(CellRef cell) const;
  CellContent cell(const SheetName& sheet, CellRef cell) const;
  /// Values down a column from `top`.
  std::vector<Value> columnValues(CellRef top, int64_t count) const;
  /// The fill colour (an RGB number); none when the cell has no fill. Setting it is the
  /// user's formatting: the Undo entry bound by OnUndo goes, without a change notice.
  void setFill(CellRef cell, std::optional<uint32_t> colour);
  void setFill(const SheetName& sheet, CellRef cell, std::optional<uint32_t> colour);
  std::optional<uint32_t> fill(CellRef cell) const;
  std::optional<uint32_t> fill(const SheetName& sheet, CellRef cell) const;
  /// Number format, fill and font colour of a cell of the active sheet; setting them is the
  /// user's formatting, as setFill.
  void setFormats(CellRef cell, const CellFormats& formats);
  CellFormats formats(CellRef cell) const;
  /// The user sorts the rows of `reference` (one area of the active sheet) by the values
  /// of its `keyColumn`-th column (1-based), ascending or not, as Data > Sort does: numbers
  /// first, then texts without regard to case, then logical values and errors, blank keys
  /// last whichever the order. Contents and formats move with their rows. Throws
  /// std::invalid_argument for a reference that does not parse or a key outside it.
  void sortRows(std::u16string_view reference, int64_t keyColumn, bool ascending = true);
  /// The user inserts `count` entire rows above `row` of the active sheet: every row from
  /// `row` down moves down by `count` with its contents and formats.
  void insertRows(int64_t row, int64_t count = 1);
  /// Hidden rows of the active sheet.
  void setRowHidden(int64_t row, bool hidden);
  bool rowHidden(int64_t row) const;
  /// True while an advanced filter is applied to the active sheet.
  bool filterActive() const;
  /// The user filters column `field` (1-based) of `reference` (one area of the active
  /// sheet, header row first) by one criterion with the AutoFilter, as the column's arrow
  /// does; other columns of the same AutoFilter keep theirs, an AutoFilter elsewhere on
  /// the sheet goes. Throws std::invalid_argument for a reference or field that does not
  /// fit, HostError for a criterion the host does not model.
  void autoFilter(std::u16string_view reference, int64_t field, const std::u16string& criterion);
  /// The active sheet's AutoFilter; none when it has none.
  std::optional<AutoFilterState> autoFilterState() const;
  /// Puts `state` on the active sheet as it is, as a host reports an AutoFilter by what
  /// this one does not model (a colour): no row is shown or hidden for it.
  void setAutoFilterState(const AutoFilterState& state);
  /// Used range of the active sheet as a reference ("$A$1" when empty).
  std::u16string usedRangeAddress() const;

  // ---- Driver API: selection ---------------------------------------------------------
  /// Selects cells of the active sheet by A1 reference ("A1:A10", "A1:A3,C1:C3", "B:B").
  /// Throws std::invalid_argument for a reference that does not parse.
  void select(std::u16string_view reference);
  /// Selects something that is not cells (a shape): selection() then throws HostError 13.
  void selectNonCells();
  /// Address of the selection; empty when it is not cells.
  std::u16string selectionAddress() const;

  // ---- Driver API: settings, bindings, macros -----------------------------------------
  const RunSettings& runSettings() const;
  /// Every settings write in order: "ScreenUpdating=False", "Calculation=-4135",
  /// "EnableCancelKey=2", "StatusBar=Processing...!".
  const std::vector<std::u16string>& settingsLog() const;
  std::optional<UndoBinding> undoBinding() const;
  /// The macro bound to `key` by OnKey; none when the key is not bound.
  std::optional<std::u16string> keyBinding(const std::u16string& key) const;
  /// Runs a registered macro (names compare case-insensitively). An unknown macro or a
  /// failing one is recorded in hostErrors(). Returns true when the macro ran through.
  bool runMacro(const std::u16string& name);
  /// The user presses a key: runs the macro bound by OnKey; Control+Z bound by no macro is
  /// the host's Undo command (hostUndo). False when nothing ran.
  bool pressKey(const std::u16string& key);
  /// The user chooses the host's Undo: runs the OnUndo macro. False when nothing ran.
  bool hostUndo();
  /// Errors the host met running macros ("Cannot run the macro 'x'.").
  const std::vector<std::u16string>& hostErrors() const;

  // ---- Driver API: file questions ----------------------------------------------------
  /// The answer to the next file question: the path chosen, or no value for Cancel.
  void queueFileAnswer(std::optional<std::u16string> path);
  /// The file questions asked so far, in order.
  const std::vector<FileQuestion>& fileQuestions() const;

  // ---- Driver API: locale ------------------------------------------------------------
  void setLocale(const HostLocale& locale);
  /// The year that a typed date without a year ("1/2") falls in.
  void setCurrentYear(int year);
  int currentYear() const;

  // ---- Driver API: command bars ------------------------------------------------------
  /// The user clicks a control: raises Click for every live subscriber of that control
  /// and of every other control with the same non-empty tag, in subscription order; when
  /// CancelDefault stayed false the host runs the control's OnAction (recorded).
  ClickOutcome click(CommandBarControl& control);
  /// OnAction texts the host ran, in order.
  const std::vector<std::u16string>& onActionsRun() const;
  std::vector<BarSnapshot> bars() const;
  std::optional<BarSnapshot> bar(const std::u16string& name) const;
  /// Number of bars with this name (0 or 1).
  int barCount(const std::u16string& name) const;
  /// First control, depth first over all bars, with this tag; null when none.
  CommandBarControlPtr findControlByTag(const std::u16string& tag) const;
  /// Live Click subscriptions over all controls.
  int subscriptionCount() const;

  // ---- Driver API: add-ins -----------------------------------------------------------
  /// Adds (or replaces) an item of the add-ins list.
  void addAddIn(const std::u16string& name, bool installed);
  /// Installed flag of an item; none when there is no such item.
  std::optional<bool> addInInstalled(const std::u16string& name) const;
  /// An add-in instance whose ProgId() counts as a host call of this host.
  std::shared_ptr<AddInInstance> makeAddInInstance(const std::u16string& progId);

  // ---- Driver API: fault injection ---------------------------------------------------
  /// Makes the `n`th host call from now (1 = the next one) throw HostError(number).
  void armFault(uint64_t n, int32_t number);
  void disarmFault();
  /// Host calls made so far (every interface method of every host object counts one).
  uint64_t hostCallCount() const;

 private:
  std::shared_ptr<detail::HostState> state_;
  std::unique_ptr<detail::MemoryWorksheetFunction> functions_;
};

/// The add-in instance object the host passes at connection.
class MemoryAddInInstance final : public AddInInstance {
 public:
  explicit MemoryAddInInstance(std::u16string progId) : progId_(std::move(progId)) {}
  std::u16string progId() override { return progId_; }

 private:
  std::u16string progId_;
};

}  // namespace qmv::memory
