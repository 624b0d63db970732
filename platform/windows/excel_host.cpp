#include "platform/windows/excel_host.hpp"

#include <algorithm>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "host/address.hpp"
#include "host/cell_text.hpp"
#include "host/tolerant.hpp"
#include "platform/windows/click_events.hpp"
#include "platform/windows/column_index.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/excel_parts.hpp"
#include "platform/windows/guids.hpp"
#include "platform/windows/user_settings.hpp"
#include "platform/windows/variant_value.hpp"

namespace qmv::windows {

namespace {

// Excel's constants used here.
constexpr int32_t kXlDecimalSeparator = 3;
constexpr int32_t kXlThousandsSeparator = 4;
constexpr int32_t kXlCurrencyCode = 25;
constexpr int32_t kXlCurrencyBefore = 37;
constexpr int32_t kXlDateSeparator = 17;
constexpr int32_t kXlDateOrder = 32;

class ExcelWorksheetFunction final : public WorksheetFunction {
 public:
  explicit ExcelWorksheetFunction(IDispatch* application) : application_(application) {}

  double countA(Range& range) override {
    return asDouble(call(functions(), L"CountA", {rangeObject(range)}));
  }
  double countIf(Range& range, const std::u16string& text) override {
    // A literal count over one column is answered from the values read once in bulk:
    // COUNTIF would compare numeric texts to 15 digits only and walk the whole range for
    // every count.
    if (const std::optional<double> count =
            indexedCount(range, text, [this] { return excelLocale(application_); })) {
      return *count;
    }
    const std::u16string criterion = literalCriterion(text);
    if (criterion.size() <= kMaxCriterionLength) {
      return asDouble(call(functions(), L"CountIf", {rangeObject(range), criterion}));
    }
    // COUNTIF refuses longer criteria; count whole, case-insensitive text matches here.
    double count = 0;
    for (const RangePtr& area : range.areas()) {
      for (const CellContent& cell : area->readBlock().cells)
        count += holdsText(cell, text) ? 1 : 0;
    }
    return count;
  }
  std::u16string clean(const std::u16string& text) override {
    return asText(call(functions(), L"Clean", {text}));
  }
  std::u16string trim(const std::u16string& text) override {
    return asText(call(functions(), L"Trim", {text}));
  }

 private:
  IDispatch* functions() {
    if (!functions_) functions_ = requiredObject(get(application_, L"WorksheetFunction"));
    return functions_.get();
  }
  IDispatch* application_;
  ComPtr<IDispatch> functions_;
};

// An add-in as Excel lists it: an item of Application.AddIns, installed while its
// "Installed" is True; or a COM add-in of Application.COMAddIns, installed while its
// "Connect" is True, and unloaded by setting it False
// (https://learn.microsoft.com/office/vba/api/office.comaddin.connect).
class ExcelAddIn final : public AddIn {
 public:
  ExcelAddIn(ComPtr<IDispatch> addIn, const wchar_t* flag)
      : addIn_(std::move(addIn)), flag_(flag) {}
  bool installed() override { return asBool(get(addIn_.get(), flag_)); }
  void setInstalled(bool installed) override { put(addIn_.get(), flag_, installed); }

 private:
  ComPtr<IDispatch> addIn_;
  const wchar_t* flag_;
};

class ExcelApplication final : public Application {
 public:
  ExcelApplication(ComPtr<IDispatch> app, XllCommandLibrary* commands, SettingStored stored)
      : app_(std::move(app)),
        commands_(commands),
        stored_(std::move(stored)),
        functions_(app_.get()) {}
  ExcelApplication(const ExcelApplication&) = delete;
  ExcelApplication& operator=(const ExcelApplication&) = delete;
  ~ExcelApplication() override {
    // Excel keeps the XLL loaded and may still run the command: it must no longer reach
    // an add-in state that is going away.
    for (const auto& [name, token] : offered_) commands_->withdraw(name, token);
  }

  int64_t workbooksCount() override {
    // The add-in's own scratch book, an add-in workbook, is not counted.
    return static_cast<int64_t>(
        asDouble(get(requiredObject(get(app(), L"Workbooks")).get(), L"Count")));
  }
  WorkbookPtr activeWorkbook() override {
    ComPtr<IDispatch> book = asObject(get(app(), L"ActiveWorkbook"));
    return book ? wrapWorkbook(std::move(book)) : nullptr;
  }
  WorksheetPtr activeSheet() override {
    ComPtr<IDispatch> sheet = asObject(get(app(), L"ActiveSheet"));
    return sheet ? wrapWorksheet(std::move(sheet)) : nullptr;
  }
  RangePtr selection() override {
    ComPtr<IDispatch> selected = asObject(get(app(), L"Selection"));
    if (!selected || !selected.as<IDispatch>(kIidExcelRange)) {
      throw HostError(host_errors::kTypeMismatch, "The selection is not a range of cells");
    }
    return wrapRange(std::move(selected));
  }
  RangePtr intersect(Range& a, Range& b) override {
    ComPtr<IDispatch> common =
        asObject(call(app(), L"Intersect", {rangeObject(a), rangeObject(b)}));
    return common ? wrapRange(std::move(common)) : nullptr;
  }
  RangePtr range(std::u16string_view reference) override {
    return wrapRange(requiredObject(get(app(), L"Range", {reference})));
  }
  WorksheetFunction& worksheetFunction() override { return functions_; }
  HostLocale locale() override { return excelLocale(app()); }

  void setScreenUpdating(bool on) override { put(app(), L"ScreenUpdating", on); }
  int32_t calculation() override { return asInt(get(app(), L"Calculation")); }
  void setCalculation(int32_t mode) override { put(app(), L"Calculation", mode); }
  bool enableEvents() override { return asBool(get(app(), L"EnableEvents")); }
  void setEnableEvents(bool on) override { put(app(), L"EnableEvents", on); }
  void setEnableCancelKey(int32_t mode) override { put(app(), L"EnableCancelKey", mode); }
  // StatusBar False gives the bar back to Excel's own messages; a text, even "", stays
  // shown (https://learn.microsoft.com/office/vba/api/excel.application.statusbar).
  void setStatusBar(const std::u16string& text) override {
    if (text.empty()) {
      put(app(), L"StatusBar", false);
    } else {
      put(app(), L"StatusBar", text);
    }
  }
  void onUndo(const std::u16string& text, const std::u16string& macro) override {
    requireRegistered(macro, nullptr);
    call(app(), L"OnUndo", {text, macro});
  }
  void onKey(const std::u16string& key, const std::u16string& macro) override {
    requireRegistered(macro, &key);
    call(app(), L"OnKey", {key, macro});
    if (commands_) commands_->keyBound(key, offered(macro) ? macro : std::u16string());
  }
  // Excel documents no call that takes back an OnUndo binding; its entry goes at the user's
  // next action (https://learn.microsoft.com/office/vba/api/excel.application.onundo).
  void clearOnUndo() override {
    throw HostError(host_errors::kNotSupported, "Excel cannot take back an OnUndo entry");
  }
  // OnKey without a procedure restores the key; an empty procedure would disable it.
  void resetKey(const std::u16string& key) override {
    call(app(), L"OnKey", {key});
    if (commands_) commands_->keyBound(key, {});
  }
  bool registerMacro(const std::u16string& name, std::function<void()> macro) override {
    if (!commands_) return false;
    const uint64_t token = commands_->offer(name, std::move(macro));
    if (token == 0) return false;
    offered_.emplace_back(name, token);
    // Excel loads the library as an XLL (again, if it has already) and its xlAutoOpen
    // registers the command; only a registered name may be bound to Undo and Control+Z.
    const std::u16string path = fromWide(commands_->path());
    call(app(), L"RegisterXLL", {path});
    return commands_->registered(name);
  }

  // Application.SheetChange
  // (https://learn.microsoft.com/office/vba/api/excel.application.sheetchange) is raised for
  // changes by the user and by code alike.
  std::unique_ptr<EventSubscription> subscribeSheetChange(CellsChangedHandler handler) override {
    return windows::subscribeSheetChange(
        app(), [handler = std::move(handler)](IDispatch*, IDispatch*) { handler(); });
  }
  // Target is the changed range (a sort's sorted cells, an insertion's entire rows) and Sh
  // its sheet. The workbook is not asked (one call more per change): a change on a sheet
  // of the same name elsewhere then counts, the safe way. A notice whose parts cannot be
  // read names nothing, which a listener takes as any cell.
  std::unique_ptr<EventSubscription> subscribeCellsChanged(CellsChangedAtHandler handler) override {
    return windows::subscribeSheetChange(
        app(), [handler = std::move(handler)](IDispatch* sheet, IDispatch* target) {
          CellsChange change;
          try {
            if (sheet != nullptr && target != nullptr) {
              change.areas = areaRefsOf(ComPtr<IDispatch>(target));
              change.sheet = asText(get(sheet, L"Name"));
            }
          } catch (const HostError&) {
            change = CellsChange{};
          }
          handler(change);
        });
  }

  CommandBarsPtr commandBars() override {
    return wrapCommandBars(requiredObject(get(app(), L"CommandBars")));
  }
  AddInPtr addIn(const std::u16string& name) override {
    ComPtr<IDispatch> addIns = requiredObject(get(app(), L"AddIns"));
    try {
      return std::make_shared<ExcelAddIn>(requiredObject(get(addIns.get(), L"Item", {name})),
                                          L"Installed");
    } catch (const HostError&) {
      // Application.AddIns lists only the Add-Ins dialog's add-ins; this add-in, a COM
      // add-in, is in Application.COMAddIns under its ProgID.
      if (name != kAddInItemName) throw;
      ComPtr<IDispatch> comAddIns = requiredObject(get(app(), L"COMAddIns"));
      return std::make_shared<ExcelAddIn>(
          requiredObject(get(comAddIns.get(), L"Item", {fromWide(kConnectProgId)})), L"Connect");
    }
  }

  // Excel's own Open dialog (the DLL imports no dialog library): it opens nothing, and
  // answers the name chosen or False on Cancel
  // (https://learn.microsoft.com/office/vba/api/excel.application.getopenfilename). Any
  // answer that is not a name is taken as Cancel.
  std::optional<std::u16string> askOpenFileName(const std::u16string& filter,
                                                const std::u16string& title) override {
    const Variant answer = call(app(), L"GetOpenFilename", {filter, Arg::omitted(), title});
    if (answer.type() != VT_BSTR) return std::nullopt;
    return asText(answer);
  }

  // Excel keeps no settings for a COM add-in: they are the user's, in the registry.
  std::optional<std::u16string> addinSetting(const std::u16string& name) override {
    return readUserSetting(toWide(name));
  }
  void setAddinSetting(const std::u16string& name, const std::u16string& value) override {
    writeUserSetting(toWide(name), value);
    if (stored_) stored_(name);
  }

 private:
  IDispatch* app() const { return app_.get(); }

  // Excel unloads an XLL while the COM add-in stays connected: on closing, before it asks
  // to save changes, which the user may cancel (xlAutoClose: Excel unregisters what the
  // XLL did not, https://learn.microsoft.com/office/client-developer/excel/xlautoclose).
  // A name offered through the library is registered again before anything is bound to
  // it; where Excel refuses, `key` (if any) does Excel's own action again and nothing is
  // bound, rather than a key or Undo entry that runs a macro Excel no longer knows.
  void requireRegistered(const std::u16string& macro, const std::u16string* key) {
    if (!offered(macro) || commands_->registered(macro)) return;
    tolerant([&] { call(app(), L"RegisterXLL", {fromWide(commands_->path())}); });
    if (commands_->registered(macro)) return;
    if (key) {
      call(app(), L"OnKey", {*key});
      commands_->keyBound(*key, {});
    }
    throw HostError(host_errors::kRefused, "Excel no longer knows the macro");
  }
  // Whether `macro` is a name offered through the command library.
  bool offered(const std::u16string& macro) const {
    return std::any_of(offered_.begin(), offered_.end(),
                       [&](const auto& entry) { return entry.first == macro; });
  }

  ComPtr<IDispatch> app_;
  XllCommandLibrary* commands_;
  SettingStored stored_;
  std::vector<std::pair<std::u16string, uint64_t>> offered_;
  ExcelWorksheetFunction functions_;
};

class ExcelAddInInstance final : public AddInInstance {
 public:
  explicit ExcelAddInInstance(ComPtr<IDispatch> addIn) : addIn_(std::move(addIn)) {}
  std::u16string progId() override { return asText(get(addIn_.get(), L"ProgId")); }

 private:
  ComPtr<IDispatch> addIn_;
};

}  // namespace

HostLocale excelLocale(IDispatch* app) {
  HostLocale locale;
  std::u16string decimal = asText(get(app, L"International", {kXlDecimalSeparator}));
  // "Zero or thousands separator": empty where numbers have no groups.
  const std::u16string thousands = asText(get(app, L"International", {kXlThousandsSeparator}));
  locale.thousandsSeparator = thousands.empty() ? char16_t{0} : thousands.front();
  std::u16string date = asText(get(app, L"International", {kXlDateSeparator}));
  // xlCurrencyCode, "Currency symbol", and xlCurrencyBefore, "True if the currency symbol
  // precedes the currency values; False if it follows them".
  locale.currencySymbol = asText(get(app, L"International", {kXlCurrencyCode}));
  locale.currencyBefore = asBool(get(app, L"International", {kXlCurrencyBefore}));
  if (!decimal.empty()) locale.decimalSeparator = decimal.front();
  if (!date.empty()) locale.dateSeparator = date.front();
  switch (asInt(get(app, L"International", {kXlDateOrder}))) {
    case 1:
      locale.dateOrder = DateOrder::DayMonthYear;
      break;
    case 2:
      locale.dateOrder = DateOrder::YearMonthDay;
      break;
    default:
      locale.dateOrder = DateOrder::MonthDayYear;
      break;
  }
  return locale;
}

std::u16string literalCriterion(const std::u16string& text) {
  std::u16string criterion(1, u'=');
  criterion.append(escapeWildcards(text));
  return criterion;
}

std::u16string literalFindText(const std::u16string& text) { return escapeWildcards(text); }

ApplicationPtr makeExcelApplication(IDispatch* application, XllCommandLibrary* commands,
                                    SettingStored stored) {
  if (!application) return nullptr;
  ComPtr<IDispatch> excel;
  if (FAILED(application->QueryInterface(kIidExcelApplication, excel.putVoid())) || !excel) {
    return nullptr;
  }
  // Late binding goes through the object's IDispatch, as Visual Basic does.
  return std::make_shared<ExcelApplication>(ComPtr<IDispatch>(application), commands,
                                            std::move(stored));
}

std::unique_ptr<AddInInstance> makeAddInInstance(IDispatch* comAddIn) {
  return std::make_unique<ExcelAddInInstance>(ComPtr<IDispatch>(comAddIn));
}

}  // namespace qmv::windows
