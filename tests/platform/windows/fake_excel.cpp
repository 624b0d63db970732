#include "fake_excel.hpp"

#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <cwctype>

#include "excel_rules.hpp"
#include "host/address.hpp"
#include "host/cell_text.hpp"
#include "host/host_error.hpp"
#include "platform/windows/guids.hpp"
#include "platform/windows/variant_value.hpp"

namespace qmv::windows::fake {

namespace {

// Member and parameter names share one table of DISPIDs.
std::map<std::wstring, DISPID, NoCase>& dispidTable() {
  static std::map<std::wstring, DISPID, NoCase> table;
  return table;
}
std::map<DISPID, std::wstring>& nameTable() {
  static std::map<DISPID, std::wstring> table;
  return table;
}
DISPID dispidOf(const std::wstring& name) {
  auto& table = dispidTable();
  auto it = table.find(name);
  if (it != table.end()) return it->second;
  const DISPID id = static_cast<DISPID>(table.size() + 100);
  table[name] = id;
  nameTable()[id] = name;
  return id;
}

HRESULT fail(EXCEPINFO* info, int32_t number) {
  if (info) {
    *info = EXCEPINFO{};
    info->scode = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<WORD>(number));
    info->bstrDescription = SysAllocString(L"Fake Excel error");
  }
  return DISP_E_EXCEPTION;
}

Variant number(double d) { return Variant::fromDouble(d); }

int64_t toInt(const Variant& v) {
  Variant out;
  if (FAILED(VariantChangeType(out.raw(), const_cast<VARIANT*>(&v.get()), 0, VT_R8)))
    throw Failure{13};
  return static_cast<int64_t>(out.get().dblVal);
}

bool toBool(const Variant& v) {
  Variant out;
  if (FAILED(VariantChangeType(out.raw(), const_cast<VARIANT*>(&v.get()), 0, VT_BOOL)))
    throw Failure{13};
  return out.get().boolVal != VARIANT_FALSE;
}

std::wstring columnName(int64_t c) {
  std::wstring s;
  while (c > 0) {
    s.insert(s.begin(), static_cast<wchar_t>(L'A' + (c - 1) % 26));
    c = (c - 1) / 26;
  }
  return s;
}

// Parses "A1" or "A1:B2" (with or without $).
bool parseArea(std::wstring ref, int64_t& r1, int64_t& c1, int64_t& r2, int64_t& c2) {
  ref.erase(std::remove(ref.begin(), ref.end(), L'$'), ref.end());
  auto cellRef = [](const std::wstring& s, int64_t& r, int64_t& c) {
    std::size_t i = 0;
    c = 0;
    while (i < s.size() && iswalpha(s[i])) c = c * 26 + (towupper(s[i++]) - L'A' + 1);
    r = 0;
    while (i < s.size() && iswdigit(s[i])) r = r * 10 + (s[i++] - L'0');
    return i == s.size() && r > 0 && c > 0;
  };
  const auto colon = ref.find(L':');
  if (colon == std::wstring::npos) {
    if (!cellRef(ref, r1, c1)) return false;
    r2 = r1;
    c2 = c1;
    return true;
  }
  return cellRef(ref.substr(0, colon), r1, c1) && cellRef(ref.substr(colon + 1), r2, c2);
}

// A read/write Boolean property kept in `flag`.
Member booleanProperty(bool& flag) {
  return [&flag](Call& c) {
    if (c.isPut()) {
      flag = toBool(c.value);
      return Variant();
    }
    return Variant::fromBool(flag);
  };
}

// The cells a fake range object stands for.
AreaRef areaOf(const Variant& v) {
  auto* object = v.type() == VT_DISPATCH ? dynamic_cast<Object*>(v.get().pdispVal) : nullptr;
  if (!object || !object->payload) throw Failure{424};  // object required
  return *std::static_pointer_cast<AreaRef>(object->payload);
}

// What a grid of cells is read as.
enum class Reading { Value, Value2, Formula };

}  // namespace

uint64_t& invokeCount() {
  static uint64_t count = 0;
  return count;
}

uint64_t& namesCount() {
  static uint64_t count = 0;
  return count;
}

std::wstring text(const Variant& v) {
  if (v.type() == VT_EMPTY) return {};
  Variant out;
  if (FAILED(VariantChangeType(out.raw(), const_cast<VARIANT*>(&v.get()), 0, VT_BSTR))) return {};
  return std::wstring(out.get().bstrVal, SysStringLen(out.get().bstrVal));
}

Variant Call::arg(std::size_t i, const wchar_t* name) const {
  if (name) {
    auto it = named.find(name);
    if (it != named.end()) return it->second;
  }
  if (i < args.size()) {
    const Variant& v = args[i];
    if (v.type() == VT_ERROR && v.get().scode == DISP_E_PARAMNOTFOUND) return Variant();
    return v;
  }
  return Variant();
}

ComPtr<Object> Object::create(std::wstring typeName) {
  return ComPtr<Object>::adopt(new Object(std::move(typeName)));
}

HRESULT Object::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
    *out = static_cast<IDispatch*>(this);
  } else if (IsEqualIID(iid, IID_IConnectionPointContainer) && (clickEvents || applicationEvents)) {
    *out = static_cast<IConnectionPointContainer*>(this);
  } else {
    for (const GUID& g : interfaces) {
      if (IsEqualIID(iid, g)) *out = static_cast<IDispatch*>(this);
    }
  }
  if (!*out) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

HRESULT Object::GetTypeInfoCount(UINT* count) {
  *count = 0;
  return S_OK;
}

HRESULT Object::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  *info = nullptr;
  return E_NOTIMPL;
}

HRESULT Object::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  ++namesCount();
  locales.push_back(lcid);
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    const std::wstring name = names[i];
    if (i == 0 && !props.count(name) && !members.count(name)) {
      ids[i] = DISPID_UNKNOWN;
      hr = DISP_E_UNKNOWNNAME;
      continue;
    }
    ids[i] = dispidOf(name);
  }
  return hr;
}

HRESULT Object::Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params,
                       VARIANT* result, EXCEPINFO* info, UINT*) {
  ++invokeCount();
  locales.push_back(lcid);
  // An English Excel whose user locale has no language pack answers only in en-US.
  if (lcid != kEnglishLocale) return kInvalidTypeLibrary;
  auto nameIt = nameTable().find(id);
  if (nameIt == nameTable().end()) return DISP_E_MEMBERNOTFOUND;
  const std::wstring& name = nameIt->second;
  Call call;
  call.flags = flags;
  const UINT named = params ? params->cNamedArgs : 0;
  const UINT total = params ? params->cArgs : 0;
  for (UINT i = 0; i < named; ++i) {
    const DISPID argId = params->rgdispidNamedArgs[i];
    if (argId == DISPID_PROPERTYPUT) {
      call.value = Variant::copyOf(params->rgvarg[i]);
    } else {
      call.named[nameTable()[argId]] = Variant::copyOf(params->rgvarg[i]);
    }
  }
  for (UINT i = total; i > named; --i) call.args.push_back(Variant::copyOf(params->rgvarg[i - 1]));
  try {
    Variant out;
    auto member = members.find(name);
    if (member != members.end()) {
      out = member->second(call);
    } else if (call.isPut()) {
      // A DISPID the object never gave (one learnt from another object, say Formula2 of
      // an Excel with dynamic arrays) names no property of it: "Member not found".
      if (!props.count(name)) return DISP_E_MEMBERNOTFOUND;
      props[name] = call.value;
    } else {
      auto prop = props.find(name);
      if (prop == props.end()) return DISP_E_MEMBERNOTFOUND;
      out = prop->second;
    }
    if (result) *result = out.detach();
    return S_OK;
  } catch (const Failure& f) {
    return fail(info, f.number);
  } catch (const HostError& e) {
    return fail(info, e.number());
  } catch (...) {
    return fail(info, 5);
  }
}

namespace {

// The connection point of an object for one events interface (a button's
// _CommandBarButtonEvents, the application's AppEvents).
class EventPoint final : public ComObject<IConnectionPoint> {
 public:
  EventPoint(Object* button, const GUID& events) : button_(button), events_(events) {
    button_->AddRef();
  }
  ~EventPoint() override { button_->Release(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
      *out = static_cast<IConnectionPoint*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
    *iid = events_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override {
    *out = static_cast<IConnectionPointContainer*>(button_);
    button_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
    ComPtr<IDispatch> events;
    if (FAILED(sink->QueryInterface(events_, events.putVoid()))) {
      return CONNECT_E_CANNOTCONNECT;
    }
    *cookie = button_->nextCookie++;
    button_->sinks[*cookie] = events;
    if (button_->onAdvise) button_->onAdvise(*cookie, events.get());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
    if (!button_->sinks.count(cookie)) return CONNECT_E_NOCONNECTION;
    if (button_->onUnadvise) button_->onUnadvise(cookie);
    button_->sinks.erase(cookie);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  Object* button_;
  GUID events_;
};

}  // namespace

HRESULT Object::EnumConnectionPoints(IEnumConnectionPoints** out) {
  *out = nullptr;
  return E_NOTIMPL;
}

HRESULT Object::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  *out = nullptr;
  if ((clickEvents && IsEqualIID(iid, kDiidCommandBarButtonEvents)) ||
      (applicationEvents && IsEqualIID(iid, kDiidAppEvents))) {
    *out = new EventPoint(this, iid);
    return S_OK;
  }
  return CONNECT_E_NOCONNECTION;
}

void Object::raiseSheetChange(IDispatch* sheet, IDispatch* target) {
  auto current = sinks;
  for (auto& [cookie, sink] : current) {
    VARIANT args[2];
    args[1].vt = VT_DISPATCH;
    args[1].pdispVal = sheet;
    args[0].vt = VT_DISPATCH;
    args[0].pdispVal = target;
    DISPPARAMS params{args, nullptr, 2, 0};
    EXCEPINFO info{};
    sink->Invoke(kDispidSheetChange, IID_NULL, kEnglishLocale, DISPATCH_METHOD, &params, nullptr,
                 &info, nullptr);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
  }
}

bool Object::raiseClick(IDispatch* control, bool cancelDefault, HRESULT* result) {
  VARIANT_BOOL cancel = cancelDefault ? VARIANT_TRUE : VARIANT_FALSE;
  // Sinks may unadvise while the event runs: go through a copy.
  auto current = sinks;
  for (auto& [cookie, sink] : current) {
    VARIANT args[2];
    args[1].vt = VT_DISPATCH;
    args[1].pdispVal = control;
    args[0].vt = VT_BOOL | VT_BYREF;
    args[0].pboolVal = &cancel;
    DISPPARAMS params{args, nullptr, 2, 0};
    EXCEPINFO info{};
    const HRESULT hr = sink->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                    nullptr, &info, nullptr);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
    if (result) *result = hr;
  }
  return cancel != VARIANT_FALSE;
}

Excel::Excel() {
  application = Object::create(L"Application");
  application->interfaces.push_back(kIidExcelApplication);
  application->applicationEvents = true;
  Object* app = application.get();
  app->props[L"ScreenUpdating"] = Variant::fromBool(true);
  app->props[L"Calculation"] = Variant::fromInt(-4105);
  app->props[L"EnableCancelKey"] = Variant::fromInt(1);
  app->props[L"StatusBar"] = Variant::fromBool(false);

  book_ = Object::create(L"Workbook");
  book_->props[L"Name"] = Variant::fromText(u"Book1");
  book_->members[L"Activate"] = [](Call&) { return Variant(); };
  sheet_ = Object::create(L"Worksheet");
  sheet_->props[L"Name"] = Variant::fromText(u"Sheet1");
  sheet_->members[L"Activate"] = [](Call&) { return Variant(); };
  sheet_->members[L"Range"] = [this](Call& c) {
    int64_t r1 = 0, c1 = 0, r2 = 0, c2 = 0;
    if (!parseArea(text(c.arg(0)), r1, c1, r2, c2)) throw Failure{1004};
    return Variant::fromDispatch(range(r1, c1, r2, c2).get());
  };
  auto workbooks = Object::create(L"Workbooks");
  workbooks->props[L"Count"] = Variant::fromInt(1);
  app->props[L"Workbooks"] = Variant::fromDispatch(workbooks.get());
  app->props[L"ActiveWorkbook"] = Variant::fromDispatch(book_.get());
  app->props[L"ActiveSheet"] = Variant::fromDispatch(sheet_.get());
  app->members[L"Range"] = sheet_->members[L"Range"];
  app->members[L"Selection"] = [this](Call&) { return Variant::fromDispatch(selection_.get()); };
  // Application.International
  // (https://learn.microsoft.com/office/vba/api/excel.application.international): the
  // user's decimal separator (xlDecimalSeparator 3), thousands separator
  // (xlThousandsSeparator 4, "Zero or thousands separator": empty for none), date separator
  // (xlDateSeparator 17), currency symbol and side (xlCurrencyCode 25, xlCurrencyBefore 37)
  // and date order (xlDateOrder 32: 0 month-day-year, 1 day-month-year,
  // 2 year-month-day), as XlApplicationInternational lists them
  // (https://learn.microsoft.com/dotnet/api/microsoft.office.interop.excel.xlapplicationinternational).
  app->members[L"International"] = [this](Call& c) {
    switch (toInt(c.arg(0))) {
      case 3:
        return Variant::fromText(std::u16string(1, international.decimalSeparator));
      case 4:
        return Variant::fromText(international.thousandsSeparator == 0
                                     ? std::u16string()
                                     : std::u16string(1, international.thousandsSeparator));
      case 17:
        return Variant::fromText(std::u16string(1, international.dateSeparator));
      // xlCurrencyCode 25 (the symbol) and xlCurrencyBefore 37 (True where it precedes).
      case 25:
        return Variant::fromText(international.currencySymbol);
      case 37:
        return Variant::fromBool(international.currencyBefore);
      case 32:
        return Variant::fromInt(international.dateOrder == DateOrder::DayMonthYear   ? 1
                                : international.dateOrder == DateOrder::YearMonthDay ? 2
                                                                                     : 0);
      default:
        return Variant::fromInt(0);
    }
  };
  // Application.OnUndo (https://learn.microsoft.com/office/vba/api/excel.application.onundo):
  // the Undo entry runs the procedure until a later action overwrites it.
  app->members[L"OnUndo"] = [this](Call& c) {
    bindings.push_back(L"OnUndo:" + text(c.arg(0, L"Text")) + L"|" + text(c.arg(1, L"Procedure")));
    undoEntry = text(c.arg(0, L"Text")) + L"|" + text(c.arg(1, L"Procedure"));
    return Variant();
  };
  registerXll = [this](const std::wstring& path) { return xll.registerXll(path); };
  app->members[L"RegisterXLL"] = [this](Call& c) {
    const std::wstring path = text(c.arg(0, L"Filename"));
    xllPaths.push_back(path);
    return Variant::fromBool(registerXll && registerXll(path));
  };
  // Application.OnKey (https://learn.microsoft.com/office/vba/api/excel.application.onkey):
  // a key stays bound for the session; "" disables it; without Procedure it does what Excel
  // normally does again.
  app->members[L"OnKey"] = [this](Call& c) {
    const std::wstring key = text(c.arg(0, L"Key"));
    const Variant procedure = c.arg(1, L"Procedure");
    bindings.push_back(L"OnKey:" + key + L"|" + text(procedure));
    if (procedure.type() == VT_EMPTY) {
      keys.erase(key);
    } else {
      keys[key] = text(procedure);
    }
    return Variant();
  };
  // ON.KEY from an XLL changes the same assignments.
  xll.onKey = [this](const std::wstring& key, const std::wstring* macro) {
    bindings.push_back(L"ON.KEY:" + key + L"|" + (macro ? *macro : L""));
    if (macro) {
      keys[key] = *macro;
    } else {
      keys.erase(key);
    }
  };

  auto functions = Object::create(L"WorksheetFunction");
  // COUNTIF refuses criteria longer than 255 characters (#VALUE!, which WorksheetFunction
  // raises as error 1004) and matches as countIfMatches says.
  functions->members[L"CountIf"] = [this](Call& c) {
    const std::wstring criterion = text(c.arg(1, L"Criteria"));
    countIfCriteria.push_back(fromWide(criterion));
    if (criterion.size() > 255) throw Failure{1004};
    const AreaRef area = areaOf(c.arg(0, L"Arg1"));
    double n = 0;
    for (int64_t r = area.first.row; r <= area.last.row; ++r) {
      for (int64_t col = area.first.column; col <= area.last.column; ++col) {
        auto it = cells.find({r, col});
        n += countIfMatches(it == cells.end() ? Value{} : it->second.value, fromWide(criterion));
      }
    }
    return number(n);
  };
  functions->members[L"CountA"] = [this](Call&) {
    double n = 0;
    for (auto& [key, cell] : cells) n += isEmpty(cell.value) ? 0 : 1;
    return number(n);
  };
  functions->members[L"Trim"] = [](Call& c) { return Variant::fromText(fromWide(text(c.arg(0)))); };
  functions->members[L"Clean"] = functions->members[L"Trim"];
  app->props[L"WorksheetFunction"] = Variant::fromDispatch(functions.get());

  auto addIn = Object::create(L"AddIn");
  addIn->members[L"Installed"] = booleanProperty(addInInstalled);
  // Application.AddIns lists the add-ins of the Add-Ins dialog
  // (https://learn.microsoft.com/office/vba/api/excel.application.addins); a COM add-in is
  // only in Application.COMAddIns
  // (https://learn.microsoft.com/office/vba/api/excel.application.comaddins).
  auto addIns = Object::create(L"AddIns");
  addIns->members[L"Item"] = [this, addIn = addIn.get()](Call& c) {
    if (!addInListed || text(c.arg(0, L"Index")) != L"Vandrel QMV") throw Failure{9};
    return Variant::fromDispatch(addIn);
  };
  app->props[L"AddIns"] = Variant::fromDispatch(addIns.get());
  app->props[L"_AddIn"] = Variant::fromDispatch(addIn.get());

  commandBars = Object::create(L"CommandBars");
  commandBars->members[L"Item"] = [this](Call& c) {
    ComPtr<Object> found = bar(text(c.arg(0)));
    if (!found) throw Failure{5};
    return Variant::fromDispatch(found.get());
  };
  commandBars->members[L"Add"] = [this](Call& c) {
    const std::wstring name = text(c.arg(0, L"Name"));
    if (bar(name)) throw Failure{5};
    return Variant::fromDispatch(makeBar(name).get());
  };
  // CommandBars.FindControls(Type, Id, Tag, Visible): the controls of every bar, popups
  // included, that fit; Nothing when none does
  // (https://learn.microsoft.com/office/vba/api/office.commandbars.findcontrols).
  commandBars->members[L"FindControls"] = [this](Call& c) {
    const std::wstring tag = text(c.arg(2, L"Tag"));
    auto found = Object::create(L"FoundControls");
    for (auto& b : bars_) {
      std::vector<ComPtr<Object>> all;
      allControls(*b, all);
      for (auto& control : all) {
        if (text(control->props[L"Tag"]) == tag) found->children.push_back(control);
      }
    }
    if (found->children.empty()) return Variant::fromDispatch(nullptr);
    ComPtr<Object> list = makeControls(*found);
    list->payload = std::make_shared<ComPtr<Object>>(found);
    return Variant::fromDispatch(list.get());
  };
  app->props[L"CommandBars"] = Variant::fromDispatch(commandBars.get());
  makeBar(L"Worksheet Menu Bar");
  makeBar(L"Standard");

  comAddIn = Object::create(L"COMAddIn");
  comAddIn->props[L"ProgId"] = Variant::fromText(u"Orvik.Connect");
  // COMAddIn.Connect (https://learn.microsoft.com/office/vba/api/office.comaddin.connect):
  // True while the add-in is loaded; setting False unloads it.
  comAddIn->members[L"Connect"] = booleanProperty(comAddInConnected);
  // COMAddIns.Item takes a position or the ProgID
  // (https://learn.microsoft.com/office/vba/api/office.comaddins.item).
  auto comAddIns = Object::create(L"COMAddIns");
  comAddIns->members[L"Item"] = [this](Call& c) {
    const Variant index = c.arg(0, L"Index");
    if (text(index) != L"Orvik.Connect" && text(index) != L"1") throw Failure{9};
    return Variant::fromDispatch(comAddIn.get());
  };
  comAddIns->props[L"Count"] = Variant::fromInt(1);
  app->props[L"COMAddIns"] = Variant::fromDispatch(comAddIns.get());
  select(1, 1, 1, 1);
}

Excel::~Excel() {
  // Break the links between bars and controls.
  for (auto& b : bars_) {
    std::vector<ComPtr<Object>> all;
    allControls(*b, all);
    for (auto& c : all) {
      c->children.clear();
      c->members.clear();
    }
    b->children.clear();
    b->members.clear();
  }
}

ComPtr<Object> Excel::bar(const std::wstring& name) const {
  for (const auto& b : bars_) {
    if (CompareStringOrdinal(text(b->props.at(L"Name")).c_str(), -1, name.c_str(), -1, TRUE) ==
        CSTR_EQUAL) {
      return b;
    }
  }
  return {};
}

std::vector<ComPtr<Object>> Excel::controlsOf(Object& owner) { return owner.children; }

void Excel::allControls(Object& owner, std::vector<ComPtr<Object>>& out) const {
  for (auto& c : owner.children) {
    out.push_back(c);
    allControls(*c, out);
  }
}

bool Excel::click(Object& button, HRESULT* result) {
  const std::wstring tag = text(button.props[L"Tag"]);
  std::vector<ComPtr<Object>> all;
  for (auto& b : bars_) allControls(*b, all);
  bool cancel = false;
  for (auto& c : all) {
    if (c.get() == &button || (!tag.empty() && text(c->props[L"Tag"]) == tag)) {
      cancel = c->raiseClick(static_cast<IDispatch*>(&button), cancel, result) || cancel;
    }
  }
  return cancel;
}

ComPtr<Object> Excel::makeBar(const std::wstring& name) {
  auto b = Object::create(L"CommandBar");
  b->props[L"Name"] = Variant::fromText(fromWide(name));
  b->props[L"Visible"] = Variant::fromBool(false);
  b->props[L"Controls"] = Variant::fromDispatch(makeControls(*b).get());
  Object* self = b.get();
  b->members[L"Delete"] = [this, self](Call&) {
    bars_.erase(std::remove_if(bars_.begin(), bars_.end(),
                               [self](const ComPtr<Object>& x) { return x.get() == self; }),
                bars_.end());
    return Variant();
  };
  bars_.push_back(b);
  return b;
}

ComPtr<Object> Excel::makeControls(Object& owner) {
  auto controls = Object::create(L"CommandBarControls");
  Object* o = &owner;
  controls->members[L"Count"] = [o](Call&) {
    return Variant::fromInt(static_cast<int32_t>(o->children.size()));
  };
  controls->members[L"Item"] = [o](Call& c) {
    Variant index = c.arg(0, L"Index");
    if (index.type() == VT_BSTR) {
      for (auto& child : o->children) {
        if (text(child->props[L"Caption"]) == text(index))
          return Variant::fromDispatch(child.get());
      }
      throw Failure{5};
    }
    const int64_t i = toInt(index);
    if (i < 1 || i > static_cast<int64_t>(o->children.size())) throw Failure{5};
    return Variant::fromDispatch(o->children[static_cast<std::size_t>(i - 1)].get());
  };
  controls->members[L"Add"] = [this, o](Call& c) {
    const Variant type = c.arg(0, L"Type");
    const int32_t kind = type.type() == VT_EMPTY ? 1 : static_cast<int32_t>(toInt(type));
    auto control = makeControl(kind, *o);
    control->props[L"_Temporary"] = c.arg(4, L"Temporary");
    o->children.push_back(control);
    return Variant::fromDispatch(control.get());
  };
  return controls;
}

ComPtr<Object> Excel::makeControl(int32_t type, Object& owner) {
  auto control = Object::create(type == 10 ? L"CommandBarPopup" : L"CommandBarButton");
  control->owner = &owner;
  control->props[L"Type"] = Variant::fromInt(type);
  for (const wchar_t* name : {L"Caption", L"Tag", L"OnAction", L"Parameter", L"TooltipText"}) {
    control->props[name] = Variant::fromText(u"");
  }
  control->props[L"BeginGroup"] = Variant::fromBool(false);
  control->props[L"Visible"] = Variant::fromBool(true);
  if (type == 10) {
    control->props[L"Controls"] = Variant::fromDispatch(makeControls(*control).get());
  } else {
    control->props[L"FaceId"] = Variant::fromInt(0);
    control->props[L"Style"] = Variant::fromInt(0);
    control->clickEvents = true;
  }
  Object* self = control.get();
  control->members[L"Delete"] = [self](Call&) {
    auto& siblings = self->owner->children;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                  [self](const ComPtr<Object>& x) { return x.get() == self; }),
                   siblings.end());
    return Variant();
  };
  return control;
}

void Excel::userEdits(int64_t row, int64_t column, const std::u16string& typed) {
  const std::optional<CellContent> content = typedEntry(typed);
  if (!content) return;  // Excel keeps the cell as it was
  Cell& cell = cells[{row, column}];
  cell.value = content->value;
  cell.formula = content->formula;
  cell.shown.clear();
  // Excel's own entry for the typing replaces whatever OnUndo had bound.
  undoEntry.clear();
  ComPtr<Object> target = range(row, column, row, column);
  application->raiseSheetChange(sheet_.get(), target.get());
}

void Excel::nameWorkbook(const std::u16string& name) {
  book_->props[L"Name"] = Variant::fromText(name);
}

void Excel::select(int64_t r1, int64_t c1, int64_t r2, int64_t c2) {
  selection_ = range(r1, c1, r2, c2);
}

ComPtr<Object> Excel::range(int64_t r1, int64_t c1, int64_t r2, int64_t c2, RangeKind kind) {
  auto r = Object::create(L"Range");
  r->interfaces.push_back(kIidExcelRange);
  const int64_t rows = r2 - r1 + 1;
  const int64_t columns = c2 - c1 + 1;
  const AreaRef whole{{r1, c1}, {r2, c2}};
  r->props[L"Row"] = number(static_cast<double>(r1));
  r->props[L"Column"] = number(static_cast<double>(c1));
  // Count counts what the range holds: cells, columns or rows (rangeCount).
  r->props[L"Count"] = number(static_cast<double>(rangeCount(kind, {whole})));
  r->props[L"CountLarge"] = Variant::copyOf(r->props[L"Count"].get());
  r->props[L"Worksheet"] = Variant::fromDispatch(sheet_.get());
  r->props[L"Application"] = Variant::fromDispatch(application.get());
  std::wstring address = L"$" + columnName(c1) + L"$" + std::to_wstring(r1);
  if (rows * columns > 1) address += L":$" + columnName(c2) + L"$" + std::to_wstring(r2);
  r->props[L"Address"] = Variant::fromText(fromWide(address));
  // Range.Address (https://learn.microsoft.com/office/vba/api/excel.range.address) with
  // External:=True names the workbook and sheet, "[Book1]Sheet1!$A$1", in quotes when a
  // name holds anything but letters, digits, "." and "_": "'[Sales, 2024.xlsx]Sheet1'!$A$1".
  r->members[L"Address"] = [this, address](Call& c) {
    const Variant external = c.arg(3, L"External");
    if (external.type() != VT_BOOL || external.get().boolVal == VARIANT_FALSE) {
      return Variant::fromText(fromWide(address));
    }
    const std::wstring place =
        L"[" + text(book_->props[L"Name"]) + L"]" + text(sheet_->props[L"Name"]);
    const bool plain = std::all_of(place.begin(), place.end(), [](wchar_t ch) {
      return iswalnum(ch) || ch == L'.' || ch == L'_' || ch == L'[' || ch == L']';
    });
    std::wstring quoted;
    for (wchar_t ch : place) quoted += ch == L'\'' ? std::wstring(L"''") : std::wstring(1, ch);
    return Variant::fromText(fromWide((plain ? place : L"'" + quoted + L"'") + L"!" + address));
  };
  // Range.Rows and Range.Columns give the rows or columns, which an index picks as Item
  // does; Range.Cells the same cells as single cells
  // (https://learn.microsoft.com/office/vba/api/excel.range.cells).
  const auto lines = [this, whole](RangeKind of) {
    return [this, whole, of](Call& c) {
      const Variant index = c.arg(0, L"Index");
      if (index.type() == VT_EMPTY) {
        return Variant::fromDispatch(
            range(whole.first.row, whole.first.column, whole.last.row, whole.last.column, of)
                .get());
      }
      const AreaRef a = rangeItem(of, whole, toInt(index), std::nullopt).area;
      return Variant::fromDispatch(
          range(a.first.row, a.first.column, a.last.row, a.last.column, of).get());
    };
  };
  r->members[L"Rows"] = lines(RangeKind::Rows);
  r->members[L"Columns"] = lines(RangeKind::Columns);
  r->members[L"Cells"] = [this, r1, c1, r2, c2](Call&) {
    return Variant::fromDispatch(range(r1, c1, r2, c2).get());
  };
  auto areas = Object::create(L"Areas");
  areas->props[L"Count"] = Variant::fromInt(1);
  Object* self = r.get();
  areas->members[L"Item"] = [self](Call&) { return Variant::fromDispatch(self); };
  r->props[L"Areas"] = Variant::fromDispatch(areas.get());

  // Writes a value as Excel takes it: a text as typed input (typedEntry), refused with
  // 1004 where Excel refuses it; the cell keeps its number format.
  auto assign = [this](int64_t row, int64_t column, const Variant& v) {
    Cell& cell = cells[{row, column}];
    if (v.type() == VT_BSTR) {
      const std::optional<CellContent> typed = typedEntry(fromWide(text(v)), cell.numberFormat);
      if (!typed) throw Failure{1004};
      cell.value = typed->value;
      cell.formula = typed->formula;
    } else {
      cell.value = toValue(v.get());
      cell.formula.clear();
    }
    cell.numberFormat = formatAfterAssignment(v, {cell.value, cell.formula}, cell.numberFormat);
    cell.shown.clear();
  };
  // After a change made through the object model: Excel's undo list no longer holds the
  // add-in's entry, and SheetChange is raised for the changed range.
  auto changed = [this, self, r1, c1, r2, c2](const AreaRef& where) {
    undoEntry.clear();
    const ComPtr<Object> target =
        where == AreaRef{{r1, c1}, {r2, c2}}
            ? ComPtr<Object>(self)
            : range(where.first.row, where.first.column, where.last.row, where.last.column);
    application->raiseSheetChange(sheet_.get(), target.get());
  };
  auto grid = [this, r1, c1, rows, columns](Reading reading) {
    auto at = [this, reading](int64_t row, int64_t column) {
      auto it = cells.find({row, column});
      if (it == cells.end())
        return reading == Reading::Formula ? Variant::fromText(u"") : Variant();
      const Cell& cell = it->second;
      switch (reading) {
        case Reading::Formula:
          return Variant::fromText(formulaOf({cell.value, cell.formula}));
        case Reading::Value2:
          return value2Of(cell.value);
        case Reading::Value:
          break;
      }
      if (const auto* d = std::get_if<double>(&cell.value);
          d && cell.format == NumberFormat::Currency) {
        return currencyOf(*d);
      }
      return toVariant(cell.value);
    };
    if (rows * columns == 1) return at(r1, c1);
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows), 1}, {static_cast<ULONG>(columns), 1}};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
    for (int64_t i = 0; i < rows; ++i) {
      for (int64_t j = 0; j < columns; ++j) {
        LONG index[2] = {static_cast<LONG>(i + 1), static_cast<LONG>(j + 1)};
        Variant v = at(r1 + i, c1 + j);
        SafeArrayPutElement(array, index, v.raw());
      }
    }
    Variant out;
    out.raw()->vt = VT_ARRAY | VT_VARIANT;
    out.raw()->parray = array;
    return out;
  };
  const AreaRef area{{r1, c1}, {r2, c2}};
  r->payload = std::make_shared<AreaRef>(area);
  auto putOrGet = [assign, grid, changed, area](Reading reading) {
    return [assign, grid, changed, area, reading](Call& c) {
      if (c.isPut() && (c.value.type() & VT_ARRAY)) {
        const ArrayAssignment array(c.value, area);
        for (int64_t i = area.first.row; i <= area.last.row; ++i) {
          for (int64_t j = area.first.column; j <= area.last.column; ++j) {
            assign(i, j, array.at(i - area.first.row, j - area.first.column));
          }
        }
        changed(area);
        return Variant();
      }
      if (c.isPut()) {
        for (int64_t i = area.first.row; i <= area.last.row; ++i) {
          for (int64_t j = area.first.column; j <= area.last.column; ++j) assign(i, j, c.value);
        }
        changed(area);
        return Variant();
      }
      return grid(reading);
    };
  };
  // Range.Range (https://learn.microsoft.com/office/vba/api/excel.range.range): an A1
  // reference relative to this range's top-left cell ("B1" of C3 is D3), dollar signs
  // ignored.
  r->members[L"Range"] = [this, r1, c1](Call& c) {
    int64_t a = 0, b = 0, d = 0, e = 0;
    if (!parseArea(text(c.arg(0, L"Cell1")), a, b, d, e)) throw Failure{1004};
    return Variant::fromDispatch(range(r1 + a - 1, c1 + b - 1, r1 + d - 1, c1 + e - 1).get());
  };
  r->members[L"Value"] = putOrGet(Reading::Value);
  r->members[L"Value2"] = putOrGet(Reading::Value2);
  r->members[L"Formula"] = putOrGet(Reading::Formula);
  // Range.NumberFormat (https://learn.microsoft.com/office/vba/api/excel.range.numberformat):
  // the cells' format code, Null when they differ; a cell never written reads General.
  r->members[L"NumberFormat"] = [this, area](Call& c) {
    if (c.isPut()) {
      const std::u16string code = fromWide(text(c.value));
      for (int64_t i = area.first.row; i <= area.last.row; ++i) {
        for (int64_t j = area.first.column; j <= area.last.column; ++j)
          cells[{i, j}].numberFormat = code;
      }
      return Variant();
    }
    std::optional<std::u16string> shared;
    for (int64_t i = area.first.row; i <= area.last.row; ++i) {
      for (int64_t j = area.first.column; j <= area.last.column; ++j) {
        const auto it = cells.find({i, j});
        const std::u16string code = it == cells.end() ? u"General" : it->second.numberFormat;
        if (shared && *shared != code) {
          Variant null;
          null.raw()->vt = VT_NULL;
          return null;
        }
        shared = code;
      }
    }
    return Variant::fromText(*shared);
  };
  // Range.HasArray (https://learn.microsoft.com/office/vba/api/excel.range.hasarray): this
  // sheet holds no array formulas. Range.Formula2 is missing, as in Excel before dynamic
  // arrays.
  r->members[L"HasArray"] = [](Call&) { return Variant::fromBool(false); };
  r->members[L"HasFormula"] = [this, r1, c1, r2, c2](Call&) {
    int formulas = 0;
    for (int64_t i = r1; i <= r2; ++i) {
      for (int64_t j = c1; j <= c2; ++j) {
        auto it = cells.find({i, j});
        formulas += it != cells.end() && !it->second.formula.empty();
      }
    }
    if (formulas == 0) return Variant::fromBool(false);
    if (formulas == (r2 - r1 + 1) * (c2 - c1 + 1)) return Variant::fromBool(true);
    Variant mixed;
    mixed.raw()->vt = VT_NULL;
    return mixed;
  };
  // Range.Item as rangeItem says: a second index only on single cells.
  r->members[L"Item"] = [this, assign, changed, whole, kind](Call& c) {
    const Variant second = c.arg(1);
    const RangeItem item =
        rangeItem(kind, whole, toInt(c.arg(0)),
                  second.type() == VT_EMPTY ? std::nullopt : std::optional(toInt(second)));
    const CellRef at = item.area.first;
    if (c.isPut()) {
      if (item.area.first != item.area.last) throw Failure{1004};  // not modelled
      assign(at.row, at.column, c.value);
      changed(item.area);
      return Variant();
    }
    return Variant::fromDispatch(
        range(at.row, at.column, item.area.last.row, item.area.last.column, item.kind).get());
  };
  r->members[L"Clear"] = [this, changed, area](Call&) {
    for (int64_t i = area.first.row; i <= area.last.row; ++i) {
      for (int64_t j = area.first.column; j <= area.last.column; ++j) cells.erase({i, j});
    }
    changed(area);
    return Variant();
  };
  // Range.Find with LookIn:=xlValues, LookAt:=xlWhole, by rows, next: the first cell after
  // After whose shown text matches What, wrapping round to the range's start; After itself
  // is searched last. Nothing found is Nothing.
  r->members[L"Find"] = [this, area](Call& c) {
    const std::u16string what = fromWide(text(c.arg(0, L"What")));
    findTexts.push_back(what);
    if (what.size() > 255) throw Failure{13};
    if (toInt(c.arg(2, L"LookIn")) != -4163 || toInt(c.arg(3, L"LookAt")) != 1) throw Failure{5};
    const AreaRef after = areaOf(c.arg(1, L"After"));
    const int64_t width = area.columns();
    const int64_t total = area.rows() * width;
    const int64_t start =
        (after.first.row - area.first.row) * width + (after.first.column - area.first.column);
    for (int64_t k = 1; k <= total; ++k) {
      const int64_t i = (start + k) % total;
      const int64_t row = area.first.row + i / width;
      const int64_t column = area.first.column + i % width;
      auto it = cells.find({row, column});
      if (it == cells.end()) continue;
      const Cell& cell = it->second;
      if (findMatches(what, cell.shown.empty() ? generalText(cell.value) : cell.shown)) {
        return Variant::fromDispatch(range(row, column, row, column).get());
      }
    }
    return Variant();
  };
  return r;
}

}  // namespace qmv::windows::fake
