#include "fake_excel.hpp"

#include <ocidl.h>
#include <olectl.h>

#include <algorithm>

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

}  // namespace

uint64_t& invokeCount() {
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
  } else if (IsEqualIID(iid, IID_IConnectionPointContainer) && clickEvents) {
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

HRESULT Object::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
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

HRESULT Object::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* info, UINT*) {
  ++invokeCount();
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

// The connection point of one button for _CommandBarButtonEvents.
class ClickPoint final : public ComObject<IConnectionPoint> {
 public:
  explicit ClickPoint(Object* button) : button_(button) { button_->AddRef(); }
  ~ClickPoint() override { button_->Release(); }
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
    *iid = kDiidCommandBarButtonEvents;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override {
    *out = static_cast<IConnectionPointContainer*>(button_);
    button_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
    ComPtr<IDispatch> events;
    if (FAILED(sink->QueryInterface(kDiidCommandBarButtonEvents, events.putVoid()))) {
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
};

}  // namespace

HRESULT Object::EnumConnectionPoints(IEnumConnectionPoints** out) {
  *out = nullptr;
  return E_NOTIMPL;
}

HRESULT Object::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  *out = nullptr;
  if (!clickEvents || !IsEqualIID(iid, kDiidCommandBarButtonEvents)) return CONNECT_E_NOCONNECTION;
  *out = new ClickPoint(this);
  return S_OK;
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
  app->members[L"International"] = [](Call& c) {
    switch (toInt(c.arg(0))) {
      case 3:
        return Variant::fromText(u".");
      case 17:
        return Variant::fromText(u"/");
      default:
        return Variant::fromInt(0);
    }
  };
  app->members[L"OnUndo"] = [this](Call& c) {
    bindings.push_back(L"OnUndo:" + text(c.arg(0, L"Text")) + L"|" + text(c.arg(1, L"Procedure")));
    return Variant();
  };
  registerXll = [this](const std::wstring& path) { return xll.registerXll(path); };
  app->members[L"RegisterXLL"] = [this](Call& c) {
    const std::wstring path = text(c.arg(0, L"Filename"));
    xllPaths.push_back(path);
    return Variant::fromBool(registerXll && registerXll(path));
  };
  app->members[L"OnKey"] = [this](Call& c) {
    bindings.push_back(L"OnKey:" + text(c.arg(0, L"Key")) + L"|" + text(c.arg(1, L"Procedure")));
    return Variant();
  };

  auto functions = Object::create(L"WorksheetFunction");
  functions->members[L"CountIf"] = [this](Call& c) {
    const std::wstring criterion = text(c.arg(1, L"Criteria"));
    countIfCriteria.push_back(fromWide(criterion));
    if (criterion.size() > 255) throw Failure{1004};
    return number(0);
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
  addIn->members[L"Installed"] = [this](Call& c) {
    if (c.isPut()) {
      addInInstalled = toBool(c.value);
      return Variant();
    }
    return Variant::fromBool(addInInstalled);
  };
  auto addIns = Object::create(L"AddIns");
  addIns->members[L"Item"] = [addIn = addIn.get()](Call& c) {
    if (text(c.arg(0, L"Index")) != L"Vandrel QMV") throw Failure{9};
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
  app->props[L"CommandBars"] = Variant::fromDispatch(commandBars.get());
  makeBar(L"Worksheet Menu Bar");
  makeBar(L"Standard");

  comAddIn = Object::create(L"COMAddIn");
  comAddIn->props[L"ProgId"] = Variant::fromText(u"Orvik.Connect");
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

void Excel::select(int64_t r1, int64_t c1, int64_t r2, int64_t c2) {
  selection_ = range(r1, c1, r2, c2);
}

ComPtr<Object> Excel::range(int64_t r1, int64_t c1, int64_t r2, int64_t c2) {
  auto r = Object::create(L"Range");
  r->interfaces.push_back(kIidExcelRange);
  const int64_t rows = r2 - r1 + 1;
  const int64_t columns = c2 - c1 + 1;
  r->props[L"Row"] = number(static_cast<double>(r1));
  r->props[L"Column"] = number(static_cast<double>(c1));
  r->props[L"Count"] = number(static_cast<double>(rows * columns));
  r->props[L"CountLarge"] = number(static_cast<double>(rows * columns));
  r->props[L"Worksheet"] = Variant::fromDispatch(sheet_.get());
  std::wstring address = L"$" + columnName(c1) + L"$" + std::to_wstring(r1);
  if (rows * columns > 1) address += L":$" + columnName(c2) + L"$" + std::to_wstring(r2);
  r->props[L"Address"] = Variant::fromText(fromWide(address));
  auto counter = [](int64_t n) {
    auto o = Object::create(L"Counter");
    o->props[L"Count"] = number(static_cast<double>(n));
    return o;
  };
  r->props[L"Rows"] = Variant::fromDispatch(counter(rows).get());
  r->props[L"Columns"] = Variant::fromDispatch(counter(columns).get());
  auto areas = Object::create(L"Areas");
  areas->props[L"Count"] = Variant::fromInt(1);
  Object* self = r.get();
  areas->members[L"Item"] = [self](Call&) { return Variant::fromDispatch(self); };
  r->props[L"Areas"] = Variant::fromDispatch(areas.get());

  // Writes a value as typed input: "=..." is a formula, "'..." a text.
  auto assign = [this](int64_t row, int64_t column, const Variant& v) {
    Cell& cell = cells[{row, column}];
    cell.formula.clear();
    if (v.type() == VT_BSTR) {
      std::u16string s = fromWide(text(v));
      if (!s.empty() && s.front() == u'=') {
        cell.formula = s;
        cell.value = 0.0;
        return;
      }
      if (!s.empty() && s.front() == u'\'') s.erase(0, 1);
      cell.value = s;
      return;
    }
    cell.value = toValue(v.get());
  };
  auto grid = [this, r1, c1, rows, columns](bool formulas) {
    auto at = [this, formulas](int64_t row, int64_t column) {
      auto it = cells.find({row, column});
      if (it == cells.end()) return formulas ? Variant::fromText(u"") : Variant();
      if (formulas) {
        if (!it->second.formula.empty()) return Variant::fromText(it->second.formula);
        return Variant::fromText(fromWide(text(toVariant(it->second.value))));
      }
      return toVariant(it->second.value);
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
  r->members[L"Value"] = [assign, grid, r1, c1, r2, c2](Call& c) {
    if (c.isPut()) {
      for (int64_t i = r1; i <= r2; ++i) {
        for (int64_t j = c1; j <= c2; ++j) assign(i, j, c.value);
      }
      return Variant();
    }
    return grid(false);
  };
  r->members[L"Formula"] = r->members[L"Value"];
  r->members[L"Formula"] = [assign, grid, r1, c1, r2, c2](Call& c) {
    if (c.isPut()) {
      for (int64_t i = r1; i <= r2; ++i) {
        for (int64_t j = c1; j <= c2; ++j) assign(i, j, c.value);
      }
      return Variant();
    }
    return grid(true);
  };
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
  r->members[L"Item"] = [this, assign, r1, c1](Call& c) {
    const int64_t row = r1 + toInt(c.arg(0)) - 1;
    const int64_t column = c1 + toInt(c.arg(1)) - 1;
    if (c.isPut()) {
      assign(row, column, c.value);
      return Variant();
    }
    return Variant::fromDispatch(range(row, column, row, column).get());
  };
  r->members[L"Clear"] = [this, r1, c1, r2, c2](Call&) {
    for (int64_t i = r1; i <= r2; ++i) {
      for (int64_t j = c1; j <= c2; ++j) cells.erase({i, j});
    }
    return Variant();
  };
  r->members[L"Find"] = [this](Call& c) {
    findTexts.push_back(fromWide(text(c.arg(0, L"What"))));
    return Variant();
  };
  return r;
}

}  // namespace qmv::windows::fake
