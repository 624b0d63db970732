// The add-in's Ribbon as Office reaches it: IRibbonExtensibility on the add-in object, the
// custom UI XML read by an XML parser (MSXML), every callback name looked up with
// GetIDsOfNames, every button's onAction invoked with an IRibbonControl, compared with a
// click on the menu button of the same tag, and the Unicode text toggle against the
// wizard's box and the user's stored setting.
#include "platform/windows/ribbon.hpp"

#include <gtest/gtest.h>
#include <olectl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "addin/ribbon_table.hpp"
#include "dll_under_test.hpp"
#include "engine/operations.hpp"
#include "fake_excel.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/guids.hpp"
#include "platform/windows/interfaces.hpp"
#include "platform/windows/user_settings.hpp"

namespace qmv::windows {
namespace {

using fake::text;

constexpr wchar_t kCustomUiNamespace[] = L"http://schemas.microsoft.com/office/2009/07/customui";

std::string narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

std::wstring wide(const Variant& v) {
  return v.type() == VT_NULL || v.type() == VT_EMPTY ? std::wstring() : toWide(asText(v));
}

// One element of the parsed XML.
struct Element {
  std::wstring name;
  std::wstring namespaceUri;
  std::map<std::wstring, std::wstring> attributes;
  std::vector<Element> children;
};

Element readElement(IDispatch* node) {
  Element e;
  e.name = wide(get(node, L"baseName"));
  e.namespaceUri = wide(get(node, L"namespaceURI"));
  ComPtr<IDispatch> attributes = asObject(get(node, L"attributes"));
  for (ComPtr<IDispatch> a = asObject(call(attributes.get(), L"nextNode")); a;
       a = asObject(call(attributes.get(), L"nextNode"))) {
    e.attributes[wide(get(a.get(), L"nodeName"))] = wide(get(a.get(), L"nodeValue"));
  }
  for (ComPtr<IDispatch> child = asObject(get(node, L"firstChild")); child;
       child = asObject(get(child.get(), L"nextSibling"))) {
    if (asInt(get(child.get(), L"nodeType")) == 1) e.children.push_back(readElement(child.get()));
  }
  return e;
}

// Parses with MSXML; a document that is not well-formed fails the test.
Element parse(const std::wstring& xml) {
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(L"Msxml2.DOMDocument.6.0", &clsid), S_OK);
  ComPtr<IDispatch> doc;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, doc.putVoid()),
            S_OK);
  if (!doc) return {};
  put(doc.get(), L"async", false);
  const bool loaded = asBool(call(doc.get(), L"loadXML", {fromWide(xml)}));
  if (!loaded) {
    ComPtr<IDispatch> error = asObject(get(doc.get(), L"parseError"));
    ADD_FAILURE() << "not well-formed: " << narrow(wide(get(error.get(), L"reason")));
    return {};
  }
  return readElement(asObject(get(doc.get(), L"documentElement")).get());
}

void collect(const Element& e, std::vector<const Element*>& out) {
  out.push_back(&e);
  for (const Element& c : e.children) collect(c, out);
}

// Text without the menu's accelerator marks.
std::wstring withoutMarks(const std::wstring& caption) {
  std::wstring out;
  for (wchar_t c : caption) {
    if (c != L'&') out += c;
  }
  return out;
}

// While alive, hears of every window of this thread that is about to be activated.
class ActivationWatch {
 public:
  ActivationWatch() : previous_(active_) {
    active_ = this;
    hook_ = SetWindowsHookExW(WH_CBT, &ActivationWatch::hook, nullptr, GetCurrentThreadId());
  }
  virtual ~ActivationWatch() {
    if (hook_) UnhookWindowsHookEx(hook_);
    active_ = previous_;
  }
  ActivationWatch(const ActivationWatch&) = delete;
  ActivationWatch& operator=(const ActivationWatch&) = delete;

 protected:
  virtual void activated(HWND hwnd) = 0;
  // Answers a message box with No when it asks, OK otherwise; false for any other window.
  static bool dismissedMessageBox(HWND hwnd) {
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    if (std::wstring(cls) != L"#32770") return false;
    const int answer = GetDlgItem(hwnd, IDNO) ? IDNO : IDOK;
    PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    return true;
  }

 private:
  static LRESULT CALLBACK hook(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_ACTIVATE && active_) active_->activated(reinterpret_cast<HWND>(wp));
    return CallNextHookEx(nullptr, code, wp, lp);
  }

  static inline ActivationWatch* active_ = nullptr;
  ActivationWatch* previous_;
  HHOOK hook_ = nullptr;
};

// Windows a command shows, recorded as "caption: texts" and dismissed: message boxes with
// No when they ask, OK otherwise; forms are closed.
class WindowRecorder final : public ActivationWatch {
 public:
  std::vector<std::wstring> seen;

 private:
  static std::wstring windowText(HWND hwnd) {
    wchar_t buffer[512] = {};
    GetWindowTextW(hwnd, buffer, 512);
    return buffer;
  }
  static BOOL CALLBACK childText(HWND child, LPARAM lp) {
    const std::wstring t = windowText(child);
    if (!t.empty()) *reinterpret_cast<std::wstring*>(lp) += L"|" + t;
    return TRUE;
  }
  void activated(HWND hwnd) override {
    std::wstring record = windowText(hwnd) + L":";
    EnumChildWindows(hwnd, &childText, reinterpret_cast<LPARAM>(&record));
    seen.push_back(record);
    if (!dismissedMessageBox(hwnd)) PostMessageW(hwnd, WM_CLOSE, 0, 0);
  }
};

// Shows how the wizard's "Unicode" box stands when the wizard opens and, when asked, clicks
// it as the user would, then closes the wizard. Message boxes are answered No or OK.
class WizardBoxVisit final : public ActivationWatch {
 public:
  explicit WizardBoxVisit(bool click) : click_(click) { current_ = this; }
  ~WizardBoxVisit() override { current_ = nullptr; }
  WizardBoxVisit(const WizardBoxVisit&) = delete;
  WizardBoxVisit& operator=(const WizardBoxVisit&) = delete;

  std::optional<bool> checkedAtOpen;
  std::optional<bool> checkedAfterClick;

 private:
  static BOOL CALLBACK findBox(HWND child, LPARAM lp) {
    wchar_t caption[64] = {};
    wchar_t cls[32] = {};
    GetWindowTextW(child, caption, 64);
    GetClassNameW(child, cls, 32);
    if (std::wstring(caption) == L"Unicode" &&
        CompareStringOrdinal(cls, -1, L"Button", -1, TRUE) == CSTR_EQUAL) {
      *reinterpret_cast<HWND*>(lp) = child;
      return FALSE;
    }
    return TRUE;
  }
  static bool isChecked(HWND box) { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }
  // Runs once the form's own message loop is running.
  static void CALLBACK visit(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    WizardBoxVisit* self = current_;
    if (!self || !self->form_) return;
    HWND box = nullptr;
    EnumChildWindows(self->form_, &findBox, reinterpret_cast<LPARAM>(&box));
    if (box) {
      self->checkedAtOpen = isChecked(box);
      if (self->click_) {
        SendMessageW(box, BM_CLICK, 0, 0);
        self->checkedAfterClick = isChecked(box);
      }
    }
    PostMessageW(self->form_, WM_CLOSE, 0, 0);
  }
  void activated(HWND hwnd) override {
    if (dismissedMessageBox(hwnd) || form_) return;
    form_ = hwnd;
    SetTimer(nullptr, 0, 50, &WizardBoxVisit::visit);
  }

  static inline WizardBoxVisit* current_ = nullptr;
  bool click_;
  HWND form_ = nullptr;
};

class RibbonTest : public test::InstalledDllTest {
 protected:
  void SetUp() override {
    test::InstalledDllTest::SetUp();
    ASSERT_TRUE(removeUserSetting(L"UnicodeText"));
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(L"Orvik.Connect", &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidDTExtensibility2,
                               addin_.putVoid()),
              S_OK);
    SAFEARRAY* custom = nullptr;
    ASSERT_EQ(addin_->OnConnection(excel_.application.get(), ext_cm_Startup, excel_.comAddIn.get(),
                                   &custom),
              S_OK);
    // Office asks the add-in object for the interface, then for the XML.
    ribbon_ = addin_.as<IRibbonExtensibility>(kIidRibbonExtensibility);
    ASSERT_TRUE(ribbon_);
    dispatch_ = addin_.as<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(dispatch_);
  }
  void TearDown() override {
    removeUserSetting(L"UnicodeText");
    if (addin_) {
      SAFEARRAY* custom = nullptr;
      addin_->OnDisconnection(ext_dm_HostShutdown, &custom);
    }
    dispatch_.reset();
    ribbon_.reset();
    addin_.reset();
  }

  std::wstring customUi(const wchar_t* ribbonId) {
    Bstr xml;
    EXPECT_EQ(ribbon_->GetCustomUI(Bstr(std::wstring_view(ribbonId)).get(), xml.put()), S_OK);
    return xml.get() ? std::wstring(xml.get(), SysStringLen(xml.get())) : std::wstring();
  }

  // Invokes a callback by name, as Office does, with `args` in parameter order (not owned).
  HRESULT invokeRaw(const std::wstring& name, std::vector<VARIANT> args, Variant* result) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
    DISPID dispid = DISPID_UNKNOWN;
    HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
    if (FAILED(hr)) return hr;
    // DISPPARAMS holds the arguments last first.
    std::reverse(args.begin(), args.end());
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    EXCEPINFO info{};
    UINT argError = 0;
    return dispatch_->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                             result ? result->put() : nullptr, &info, &argError);
  }

  // The same with owned arguments.
  HRESULT invokeWith(const std::wstring& name, const std::vector<Variant>& args, Variant* result) {
    std::vector<VARIANT> raw;
    for (const Variant& a : args) raw.push_back(a.get());
    return invokeRaw(name, std::move(raw), result);
  }

  // A control as Office passes it, with its Id and Tag set.
  static Variant control(const std::wstring& id) {
    auto control = fake::Object::create(L"IRibbonControl");
    control->props[L"Id"] = Variant::fromText(fromWide(id));
    control->props[L"Tag"] = Variant::fromText(fromWide(id));
    return Variant::fromDispatch(control.get());
  }

  // Invokes a callback by name, as Office does, with a control whose Id and Tag it sets.
  HRESULT invokeCallback(const std::wstring& name, const std::wstring& id, Variant* result) {
    return invokeWith(name, {control(id)}, result);
  }

  ComPtr<fake::Object> menuButton(const std::wstring& tag) {
    for (auto& control : fake::Excel::controlsOf(*excel_.bar(L"Worksheet Menu Bar"))) {
      if (text(control->props[L"Caption"]) != L"&Vandrel QMV") continue;
      for (auto& b : fake::Excel::controlsOf(*control)) {
        if (text(b->props[L"Tag"]) == tag) return b;
      }
    }
    return {};
  }

  fake::Excel excel_;
  ComPtr<IDTExtensibility2> addin_;
  ComPtr<IRibbonExtensibility> ribbon_;
  ComPtr<IDispatch> dispatch_;
};

TEST_F(RibbonTest, OnlyTheWorkbookRibbonIsCustomized) {
  EXPECT_FALSE(customUi(L"Microsoft.Excel.Workbook").empty());
  EXPECT_TRUE(customUi(L"Microsoft.Word.Document").empty());
  EXPECT_TRUE(customUi(L"").empty());
  EXPECT_EQ(ribbon_->GetCustomUI(nullptr, nullptr), E_POINTER);
}

TEST_F(RibbonTest, TheXmlHoldsEveryMenuCommandOnceWithItsCaption) {
  const Element root = parse(customUi(L"Microsoft.Excel.Workbook"));
  EXPECT_EQ(root.name, L"customUI");
  EXPECT_EQ(root.namespaceUri, kCustomUiNamespace);
  ASSERT_EQ(root.children.size(), 1u);
  const Element& ribbon = root.children[0];
  EXPECT_EQ(ribbon.name, L"ribbon");
  ASSERT_EQ(ribbon.children.size(), 1u);
  EXPECT_EQ(ribbon.children[0].name, L"tabs");
  ASSERT_EQ(ribbon.children[0].children.size(), 1u);
  const Element& tab = ribbon.children[0].children[0];
  EXPECT_EQ(tab.name, L"tab");
  EXPECT_EQ(tab.attributes.at(L"label"), L"Vandrel QMV");

  // Every group and button, with ids and keytips unique across the document.
  std::vector<const Element*> all;
  collect(root, all);
  std::set<std::wstring> ids;
  std::set<std::wstring> keytips;
  std::set<std::wstring> groupLabels;
  std::map<std::wstring, const Element*> buttonsByTag;
  for (const Element* e : all) {
    EXPECT_EQ(e->namespaceUri, kCustomUiNamespace);
    if (e->attributes.count(L"id")) {
      EXPECT_TRUE(ids.insert(e->attributes.at(L"id")).second) << narrow(e->attributes.at(L"id"));
    }
    if (e->attributes.count(L"keytip")) {
      const std::wstring& k = e->attributes.at(L"keytip");
      EXPECT_TRUE(k.size() >= 1 && k.size() <= 3) << narrow(k);
      EXPECT_TRUE(keytips.insert(k).second) << narrow(k);
    }
    if (e->name == L"group") groupLabels.insert(e->attributes.at(L"label"));
    if (e->name == L"button") {
      EXPECT_TRUE(buttonsByTag.emplace(e->attributes.at(L"tag"), e).second);
      EXPECT_EQ(e->attributes.at(L"id"), L"btn" + e->attributes.at(L"tag"));
    }
  }
  // Every group of the table, and the Options group of the Unicode text toggle.
  std::set<std::wstring> tableLabels{L"Options"};
  for (const RibbonGroup& group : ribbonGroups()) tableLabels.insert(toWide(group.label));
  EXPECT_EQ(groupLabels, tableLabels);
  EXPECT_EQ(groupLabels.size(), 17u);
  // The Unicode text toggle, with the callbacks a toggle button takes.
  std::vector<const Element*> toggles;
  for (const Element* e : all) {
    if (e->name == L"toggleButton") toggles.push_back(e);
  }
  ASSERT_EQ(toggles.size(), 1u);
  EXPECT_EQ(toggles[0]->attributes.at(L"id"), L"tglUnicode");
  EXPECT_EQ(toggles[0]->attributes.at(L"label"), L"Unicode text");
  EXPECT_EQ(toggles[0]->attributes.at(L"getPressed"), L"GetRibbonPressed");
  EXPECT_EQ(toggles[0]->attributes.at(L"onAction"), L"OnRibbonToggle");
  EXPECT_EQ(root.attributes.at(L"onLoad"), L"OnRibbonLoad");

  // The same commands as the menu, with the menu's captions.
  std::vector<ComPtr<fake::Object>> menu;
  for (auto& control : fake::Excel::controlsOf(*excel_.bar(L"Worksheet Menu Bar"))) {
    if (text(control->props[L"Caption"]) == L"&Vandrel QMV") {
      menu = fake::Excel::controlsOf(*control);
    }
  }
  ASSERT_EQ(menu.size(), 21u);
  // The menu's commands, then one button per operation the menu does not offer, the
  // character inspector's and "Run Recipe...".
  const std::size_t offMenu = static_cast<std::size_t>(
      std::count_if(operationTable().begin(), operationTable().end(),
                    [](const OperationRow& row) { return row.menu.tag.empty(); }));
  EXPECT_EQ(buttonsByTag.size(), menu.size() + offMenu + 2);
  for (auto& item : menu) {
    const std::wstring tag = text(item->props[L"Tag"]);
    SCOPED_TRACE(narrow(tag));
    ASSERT_EQ(buttonsByTag.count(tag), 1u);
    const Element& button = *buttonsByTag.at(tag);
    const std::wstring caption = withoutMarks(text(item->props[L"Caption"]));
    EXPECT_EQ(button.attributes.at(L"label"), caption);
    EXPECT_EQ(button.attributes.at(L"screentip"), caption);
  }
  EXPECT_EQ(buttonsByTag.at(L"QMV0")->attributes.at(L"supertip"),
            L"Conditionally Removes Text From Cells");
}

TEST_F(RibbonTest, EveryCallbackNameResolvesThroughGetIDsOfNames) {
  const Element root = parse(customUi(L"Microsoft.Excel.Workbook"));
  std::vector<const Element*> all;
  collect(root, all);
  std::set<std::wstring> callbacks;
  for (const Element* e : all) {
    for (const auto& [name, value] : e->attributes) {
      if (name.rfind(L"on", 0) == 0 || name.rfind(L"get", 0) == 0 || name == L"loadImage") {
        callbacks.insert(value);
      }
    }
  }
  EXPECT_EQ(callbacks,
            (std::set<std::wstring>{L"OnRibbonAction", L"GetRibbonImage", L"GetRibbonPressed",
                                    L"OnRibbonToggle", L"OnRibbonLoad"}));
  for (const std::wstring& name : callbacks) {
    SCOPED_TRACE(narrow(name));
    LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_NE(id, DISPID_UNKNOWN);
  }
  // The add-in's own methods still resolve; unknown names do not.
  LPOLESTR own[] = {const_cast<LPOLESTR>(L"remMenuBar")};
  DISPID id = DISPID_UNKNOWN;
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, own, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  EXPECT_EQ(id, dispids::kRemMenuBar);
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"NoSuchCallback")};
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id),
            DISP_E_UNKNOWNNAME);
}

TEST_F(RibbonTest, EveryButtonHasAPictureDrawnByTheAddin) {
  std::vector<std::wstring> ids{L"tglUnicode"};
  for (auto& item : fake::Excel::controlsOf(*menuButton(L"QMV1")->owner)) {
    ids.push_back(L"btn" + text(item->props[L"Tag"]));
  }
  for (const std::wstring& id : ids) {
    SCOPED_TRACE(narrow(id));
    Variant result;
    ASSERT_EQ(invokeCallback(L"GetRibbonImage", id, &result), S_OK);
    ASSERT_EQ(result.type(), VT_DISPATCH);
    ComPtr<IPicture> picture = ComPtr<IDispatch>(result.get().pdispVal).as<IPicture>(IID_IPicture);
    ASSERT_TRUE(picture);
    SHORT type = PICTYPE_UNINITIALIZED;
    picture->get_Type(&type);
    EXPECT_EQ(type, PICTYPE_BITMAP);
    OLE_XSIZE_HIMETRIC width = 0;
    picture->get_Width(&width);
    EXPECT_GT(width, 0);
  }
  Variant none;
  EXPECT_NE(invokeCallback(L"GetRibbonImage", L"btnNoSuchTag", &none), S_OK);
}

TEST_F(RibbonTest, EveryOnActionRunsTheCommandOfTheMenuButtonWithThatTag) {
  excel_.cells[{1, 1}].value = Value(std::u16string(u"Ab 12 cd"));
  std::set<std::vector<std::wstring>> distinct;
  const auto buttons = fake::Excel::controlsOf(*menuButton(L"QMV1")->owner);
  for (auto& item : buttons) {
    const std::wstring tag = text(item->props[L"Tag"]);
    SCOPED_TRACE(narrow(tag));
    // The menu's click first, then the Ribbon's button, from the same state.
    excel_.addInInstalled = true;
    std::vector<std::wstring> byMenu;
    {
      WindowRecorder recorder;
      excel_.click(*item);
      byMenu = recorder.seen;
    }
    byMenu.push_back(excel_.addInInstalled ? L"installed" : L"exit");
    excel_.addInInstalled = true;
    std::vector<std::wstring> byRibbon;
    {
      WindowRecorder recorder;
      EXPECT_EQ(invokeCallback(L"OnRibbonAction", L"btn" + tag, nullptr), S_OK);
      byRibbon = recorder.seen;
    }
    byRibbon.push_back(excel_.addInInstalled ? L"installed" : L"exit");
    EXPECT_EQ(byRibbon, byMenu);
    distinct.insert(byMenu);
  }
  excel_.addInInstalled = true;
  // The commands differ in what they show, so a Ribbon button that ran another command
  // than its menu button would be seen.
  EXPECT_GE(distinct.size(), 10u);
  // A control whose id names no button fails the call and runs nothing.
  WindowRecorder recorder;
  EXPECT_NE(invokeCallback(L"OnRibbonAction", L"btnQMV99", nullptr), S_OK);
  EXPECT_NE(invokeCallback(L"OnRibbonAction", L"QMV1", nullptr), S_OK);
  EXPECT_TRUE(recorder.seen.empty());
}

TEST_F(RibbonTest, TheRemovalsOffMenuOpenTheDialogWithTheirQuestion) {
  excel_.cells[{1, 1}].value = Value(std::u16string(u"Ab 12 cd"));
  for (const OperationRow& row : operationTable()) {
    if (!row.menu.tag.empty()) continue;
    const std::u16string_view code = row.code;
    SCOPED_TRACE(narrow(toWide(code)));
    const std::optional<Operation> operation = operationFromCode(code);
    ASSERT_TRUE(operation);
    WindowRecorder recorder;
    EXPECT_EQ(invokeCallback(L"OnRibbonAction", L"btn" + toWide(code), nullptr), S_OK);
    // The dialog with the removal's question (Wine may also activate an untitled window).
    const std::wstring question = toWide(operationQuestion(*operation));
    std::wstring all;
    for (const std::wstring& seen : recorder.seen) all += seen + L"\n";
    EXPECT_NE(all.find(L"Progress:"), std::wstring::npos) << narrow(all);
    EXPECT_NE(all.find(question), std::wstring::npos) << narrow(all);
    // Closed without Yes: the cell stays.
    const Value kept = excel_.cells[{1, 1}].value;
    EXPECT_EQ(kept, Value(std::u16string(u"Ab 12 cd")));
  }
}

TEST_F(RibbonTest, TheInspectorShowsTheActiveCellsCharacters) {
  excel_.cells[{1, 1}].value = Value(std::u16string(u"a\u00A0b"));
  WindowRecorder recorder;
  EXPECT_EQ(invokeCallback(L"OnRibbonAction", L"btnINSP", nullptr), S_OK);
  std::wstring all;
  for (const std::wstring& seen : recorder.seen) all += seen + L"\n";
  EXPECT_NE(
      all.find(L"2  U+00A0  NO-BREAK SPACE  -> Remove all Spaces in Selection (Unicode text)"),
      std::wstring::npos)
      << narrow(all);
}

TEST_F(RibbonTest, TheUnicodeToggleAndTheWizardsBoxShowOneStoredSetting) {
  // Office loads the tab and keeps what getPressed answered until told to ask again.
  auto ui = fake::Object::create(L"IRibbonUI");
  std::vector<std::wstring> invalidated;
  ui->members[L"InvalidateControl"] = [&invalidated](fake::Call& call) {
    invalidated.push_back(text(call.arg(0)));
    return Variant();
  };
  ASSERT_EQ(invokeWith(L"OnRibbonLoad", {Variant::fromDispatch(ui.get())}, nullptr), S_OK);
  const auto pressed = [this]() -> std::optional<bool> {
    Variant result;
    if (invokeCallback(L"GetRibbonPressed", L"tglUnicode", &result) != S_OK) return std::nullopt;
    if (result.type() != VT_BOOL) return std::nullopt;
    return result.get().boolVal != VARIANT_FALSE;
  };
  const auto stored = [] { return readUserSetting(L"UnicodeText"); };
  const auto openWizard = [this](bool click) {
    auto visit = std::make_unique<WizardBoxVisit>(click);
    excel_.click(*menuButton(L"QMV0"));
    return visit;
  };

  // Nothing stored: off everywhere.
  EXPECT_EQ(pressed(), false);
  EXPECT_EQ(openWizard(false)->checkedAtOpen, false);

  // The user presses the toggle: the setting is stored, and the wizard's box shows it.
  ASSERT_EQ(
      invokeWith(L"OnRibbonToggle", {control(L"tglUnicode"), Variant::fromBool(true)}, nullptr),
      S_OK);
  EXPECT_EQ(stored(), u"1");
  EXPECT_EQ(pressed(), true);
  {
    const auto visit = openWizard(true);
    EXPECT_EQ(visit->checkedAtOpen, true);
    // The user clears the box: the setting is stored, and Office is told to ask the
    // toggle again, which now answers off.
    EXPECT_EQ(visit->checkedAfterClick, false);
  }
  EXPECT_EQ(stored(), u"0");
  EXPECT_NE(std::find(invalidated.begin(), invalidated.end(), L"tglUnicode"), invalidated.end());
  EXPECT_EQ(pressed(), false);

  // getPressed in Visual Basic's form answers through its by-reference argument.
  invalidated.clear();
  {
    const auto visit = openWizard(true);
    EXPECT_EQ(visit->checkedAtOpen, false);
    EXPECT_EQ(visit->checkedAfterClick, true);
  }
  EXPECT_EQ(invalidated, std::vector<std::wstring>{L"tglUnicode"});
  Variant answer;
  VARIANT byRef;
  VariantInit(&byRef);
  byRef.vt = VT_VARIANT | VT_BYREF;
  byRef.pvarVal = answer.raw();
  const Variant toggle = control(L"tglUnicode");
  ASSERT_EQ(invokeRaw(L"GetRibbonPressed", {toggle.get(), byRef}, nullptr), S_OK);
  ASSERT_EQ(answer.type(), VT_BOOL);
  EXPECT_NE(answer.get().boolVal, VARIANT_FALSE);

  // Released by the toggle: off again.
  ASSERT_EQ(
      invokeWith(L"OnRibbonToggle", {control(L"tglUnicode"), Variant::fromBool(false)}, nullptr),
      S_OK);
  EXPECT_EQ(stored(), u"0");
  EXPECT_EQ(pressed(), false);

  // The toggle's callbacks answer for the toggle only; a button's id is refused.
  Variant none;
  EXPECT_NE(invokeCallback(L"GetRibbonPressed", L"btnQMV1", &none), S_OK);
  EXPECT_NE(invokeWith(L"OnRibbonToggle", {control(L"btnQMV1"), Variant::fromBool(true)}, nullptr),
            S_OK);
  EXPECT_EQ(stored(), u"0");
}

}  // namespace
}  // namespace qmv::windows
