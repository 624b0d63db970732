// A small automation object model with Excel's and Office's names, reached only through
// IDispatch: an application with one workbook and sheet of cells, worksheet functions,
// command bars whose buttons raise Click through connection points, add-ins and the
// COMAddIn object. It stands in for Excel when the add-in's COM path is tested.
#pragma once

#include <ocidl.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "excel_rules.hpp"
#include "fake_xll.hpp"
#include "host/locale.hpp"
#include "host/value.hpp"
#include "platform/windows/com_object.hpp"
#include "platform/windows/com_support.hpp"

namespace qmv::windows::fake {

/// Case-insensitive ordering of member names, as Invoke treats them.
struct NoCase {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
  }
};

/// One Invoke as the object sees it.
struct Call {
  WORD flags = 0;
  std::vector<Variant> args;                      ///< positional, in parameter order
  std::map<std::wstring, Variant, NoCase> named;  ///< by parameter name
  Variant value;                                  ///< the assigned value of a put
  bool isPut() const { return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0; }
  /// Positional argument i, or the named one; Empty when absent or omitted.
  Variant arg(std::size_t i, const wchar_t* name = nullptr) const;
};

/// Raised by a member to fail the Invoke with Excel's error number.
struct Failure {
  int32_t number;
};

using Member = std::function<Variant(Call&)>;

/// An automation object: plain properties, members with code, optional Click events.
class Object final : public ComObject<IDispatch, IConnectionPointContainer> {
 public:
  explicit Object(std::wstring typeName) : typeName_(std::move(typeName)) {}
  static ComPtr<Object> create(std::wstring typeName);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* info, UINT* argError) override;
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

  const std::wstring& typeName() const { return typeName_; }
  /// Plain properties: a get returns the stored value, a put stores it.
  std::map<std::wstring, Variant, NoCase> props;
  /// Members with code (methods and properties with arguments); they take precedence.
  std::map<std::wstring, Member, NoCase> members;
  /// Further interfaces QueryInterface answers for (IDispatch itself).
  std::vector<GUID> interfaces;
  /// Offers _CommandBarButtonEvents through a connection point.
  bool clickEvents = false;
  /// Offers Excel's AppEvents (the application's events) through a connection point.
  bool applicationEvents = false;
  /// Advised Click sinks by cookie.
  std::map<DWORD, ComPtr<IDispatch>> sinks;
  /// Told of every Advise after it succeeded and of every Unadvise before it is done.
  std::function<void(DWORD cookie, IDispatch* sink)> onAdvise;
  std::function<void(DWORD cookie)> onUnadvise;
  /// What the object stands for, for hosts that map objects back to their own handles.
  std::shared_ptr<void> payload;
  DWORD nextCookie = 1;
  /// The controls of a bar or popup; the bar or popup a control belongs to.
  std::vector<ComPtr<Object>> children;
  Object* owner = nullptr;

  /// Raises Click on every advised sink; returns the CancelDefault the sinks left.
  bool raiseClick(IDispatch* control, bool cancelDefault, HRESULT* result = nullptr);
  /// Raises AppEvents.SheetChange(Sh, Target) on every advised sink.
  void raiseSheetChange(IDispatch* sheet, IDispatch* target);
  /// Locales that GetIDsOfNames and Invoke were called with.
  std::vector<LCID> locales;

 private:
  std::wstring typeName_;
};

/// Every Invoke made on any fake object (to count Excel calls).
uint64_t& invokeCount();
/// Every GetIDsOfNames asked of any fake object: a call into Excel like an Invoke.
uint64_t& namesCount();

/// How a cell's number is formatted, as far as Excel's answers depend on it.
enum class NumberFormat { General, Currency };

/// A cell of the fake sheet.
struct Cell {
  Value value;
  std::u16string formula;
  NumberFormat format = NumberFormat::General;
  /// Range.NumberFormat of the cell, as typing and date assignments change it
  /// (formatAfterAssignment).
  std::u16string numberFormat = u"General";
  /// The text the cell shows when its format shows more than the General text (a number
  /// shown as "1,234.50", a date as "15-Mar-2026"); empty for the General text.
  std::u16string shown;
};

/// The fake Excel: build it, then hand `application` to the add-in.
class Excel {
 public:
  Excel();
  ~Excel();

  ComPtr<Object> application;
  ComPtr<Object> comAddIn;  ///< the COMAddIn passed as AddInInst
  ComPtr<Object> commandBars;
  /// Loads libraries for Application.RegisterXLL and runs their registered commands.
  XllHost xll;
  /// Paths that Application.RegisterXLL was called with.
  std::vector<std::wstring> xllPaths;
  /// Answers RegisterXLL (by default the XLL host loads the library).
  std::function<bool(const std::wstring& path)> registerXll;

  /// The user's conventions, as Application.International answers them (en-US by
  /// default). Texts assigned through the object model are read in en-US whatever they are.
  HostLocale international;
  /// Cells of the only sheet, by (row, column).
  std::map<std::pair<int64_t, int64_t>, Cell> cells;
  /// Criteria COUNTIF was asked with, and the What of every Find.
  std::vector<std::u16string> countIfCriteria;
  std::vector<std::u16string> findTexts;
  /// Calls of OnUndo and OnKey, as "name:arg1|arg2".
  std::vector<std::wstring> bindings;
  /// Whether "Vandrel QMV" is an item of Application.AddIns, which lists only the add-ins
  /// of the Add-Ins dialog (workbook add-ins and XLLs), never a COM add-in: by default it
  /// is not. Its Installed flag.
  bool addInListed = false;
  bool addInInstalled = true;
  /// COMAddIns("Orvik.Connect").Connect; setting it False is how a COM add-in is unloaded.
  bool comAddInConnected = true;
  /// The Undo entry bound by OnUndo ("text|procedure"), empty when Excel's own; the keys
  /// bound by OnKey with their procedures ("" disables the key).
  std::wstring undoEntry;
  std::map<std::wstring, std::wstring> keys;

  /// A user's typing into a cell: the cell reads it as typed input, Excel's own undo entry
  /// replaces any OnUndo binding, and SheetChange is raised.
  void userEdits(int64_t row, int64_t column, const std::u16string& typed);

  /// A range object over rows r1..r2 and columns c1..c2 of the sheet, holding single cells,
  /// or columns or rows as Range.Columns and Range.Rows give them (RangeKind).
  ComPtr<Object> range(int64_t r1, int64_t c1, int64_t r2, int64_t c2,
                       RangeKind kind = RangeKind::Cells);
  /// Renames the workbook (Workbook.Name), which external addresses carry.
  void nameWorkbook(const std::u16string& name);
  /// Sets the selection.
  void select(int64_t r1, int64_t c1, int64_t r2, int64_t c2);

  /// A bar by name, or null.
  ComPtr<Object> bar(const std::wstring& name) const;
  /// The controls collection's controls of a bar or popup, in order.
  static std::vector<ComPtr<Object>> controlsOf(Object& owner);
  /// Clicks a button as Excel does: Click on every button with the same tag.
  bool click(Object& button, HRESULT* result = nullptr);

 private:
  ComPtr<Object> makeBar(const std::wstring& name);
  ComPtr<Object> makeControls(Object& owner);
  ComPtr<Object> makeControl(int32_t type, Object& owner);
  void allControls(Object& owner, std::vector<ComPtr<Object>>& out) const;

  std::vector<ComPtr<Object>> bars_;
  ComPtr<Object> sheet_;
  ComPtr<Object> book_;
  ComPtr<Object> selection_;
};

/// Text of a VARIANT (Empty gives "").
std::wstring text(const Variant& v);

}  // namespace qmv::windows::fake
