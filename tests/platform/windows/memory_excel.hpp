// The in-memory workbook behind automation objects with Excel's and Office's names: the
// test automation object through which the add-in, created as a COM object, reaches a
// whole host (application, workbooks, sheets, ranges, worksheet functions, command bars
// with Click connection points, add-ins, the COMAddIn and XLL loading). Every member
// answers as Excel does where Excel's behaviour differs from the host interface (typed
// input, literal COUNTIF criteria, the advanced filter's header row).
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "fake_excel.hpp"
#include "fake_xll.hpp"
#include "platform/memory/memory_application.hpp"

namespace qmv::windows::fake {

/// Excel over an in-memory host.
class MemoryExcel {
 public:
  explicit MemoryExcel(std::shared_ptr<memory::MemoryApplication> host);
  ~MemoryExcel();
  MemoryExcel(const MemoryExcel&) = delete;
  MemoryExcel& operator=(const MemoryExcel&) = delete;

  memory::MemoryApplication& host() { return *host_; }

  /// The Application object to pass at connection, and the COMAddIn.
  ComPtr<Object> application;
  ComPtr<Object> comAddIn;
  /// RegisterXLL loads libraries here; their commands become the host's macros.
  XllHost xll;
  /// Ranges that AdvancedFilter was called on, as their addresses.
  std::vector<std::u16string> filteredLists;
  /// Cells of the sheets formatted as currency: Range.Value gives their numbers as Currency.
  std::set<std::pair<int64_t, int64_t>> currencyCells;
  /// Worksheet.Range refuses a reference of several areas, as a test of the callers' way
  /// round it (Excel takes them).
  bool refuseAreaLists = false;
  /// Filter.Operator refuses to answer, as a test of the callers' way with a filter Excel
  /// will not describe.
  bool refuseFilterOperators = false;
  /// Application.EnableEvents, and how often the user's Worksheet_Change macro ran: once
  /// for every change of cells while events are on.
  bool enableEvents = true;
  int64_t userMacroRuns = 0;
  /// NumberFormat refuses to answer over several cells, as a test of the callers' way
  /// with formats Excel will not read together.
  bool refuseFormatSpans = false;
  /// Cells whose characters carry colours of their own (rich text): Font.Color and
  /// Font.ColorIndex read Null over them.
  std::set<std::pair<int64_t, int64_t>> richTextCells;
  /// Cells holding an array formula entered through Range.FormulaArray.
  std::set<std::pair<int64_t, int64_t>> arrayCells;
  /// False for an Excel before dynamic arrays, which has no Range.Formula2.
  bool formula2 = true;
  /// Workbooks whose window was hidden through Window.Visible, by name.
  std::set<std::u16string> hiddenWorkbooks;
  /// The tables (ListObjects) of the active sheet: their ranges, header row first, and what
  /// their own filters filter by.
  struct Table {
    AreaRef range;
    AutoFilterState filter;
  };
  std::vector<Table> tables;
  /// Workbooks made add-ins through Workbook.IsAddin, by name.
  std::set<std::u16string> addinWorkbooks;
  /// Window.Index of the active window among the active workbook's windows: a user may work
  /// in window 2 of a workbook open in two.
  int activeWindow = 1;
  /// The settings of the Find dialog that Range.Find remembers (XlFindLookIn, XlLookAt,
  /// XlSearchOrder, MatchByte); Excel's defaults to begin with.
  struct FindSettings {
    int32_t lookIn = -4123;  // xlFormulas
    int32_t lookAt = 2;      // xlPart
    int32_t searchOrder = 1;
    int32_t matchByte = 0;
    friend bool operator==(const FindSettings&, const FindSettings&) = default;
  };
  FindSettings findSettings;
  /// What Excel calculates for a formula, by its text. A formula written while calculation
  /// is manual shows no value until Range.Calculate or automatic calculation; whether Excel
  /// calculates it as it is written is not said on the pages (Application.Calculation,
  /// XlCalculation), and waiting is the safer reading for a caller. Formulas not listed are
  /// never calculated.
  std::map<std::u16string, Value> formulaResults;
  /// The texts cells show where their number format shows more than the General text.
  std::map<std::pair<int64_t, int64_t>, std::u16string> shownTexts;

 private:
  struct Wrappers;
  std::shared_ptr<memory::MemoryApplication> host_;
  std::unique_ptr<Wrappers> wrappers_;
  std::unique_ptr<EventSubscription> userMacro_;
};

}  // namespace qmv::windows::fake
