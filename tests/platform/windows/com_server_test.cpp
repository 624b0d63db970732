// The add-in through COM as Excel reaches it: Orvik.Connect created from its ProgID,
// connected to the fake Excel through IDTExtensibility2, its menu and toolbar, clicks,
// disconnection, and the DLL's object count afterwards.
#include <gtest/gtest.h>

#include "dll_under_test.hpp"
#include "fake_excel.hpp"
#include "message_boxes.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/guids.hpp"
#include "platform/windows/interfaces.hpp"

namespace qmv::windows {
namespace {

using fake::text;

struct MenuRow {
  std::wstring caption;
  std::wstring tag;
  std::wstring onAction;
  int32_t faceId;
  std::wstring parameter;
  bool beginGroup;
};

const std::vector<MenuRow>& expectedMenu() {
  static const std::vector<MenuRow> rows = {
      {L"Dolvani - Wizard", L"QMV0", L"Text_Remover", 65, L"", false},
      {L"Undo Changes", L"QMV16", L"UndoTextRemoval", 128, L"", false},
      {L"Remove all &Numeric in Selection", L"QMV1", L"Remove_Numbers", 11, L"", true},
      {L"Remove all &Alphabets in Selection", L"QMV2", L"Remove_Alphas", 219, L"", false},
      {L"Remove Non-&Printable Characters in Selection", L"QMV3", L"Remove_Nonpc", 1500, L"",
       false},
      {L"Remove &User-defined Characters in Selection", L"QMV4", L"Remove_Ausdc", 304, L"", false},
      {L"Remove all &Spaces in Selection", L"QMV5", L"Remove_Alsps", 241, L"1", true},
      {L"Remove all &Leading and Trailing Spaces", L"QMV6", L"Remove_Alts", 6, L"1", false},
      {L"Remove all Leading, Trailing and &Excessive Spaces", L"QMV7", L"Remove_Altes", 175, L"1",
       false},
      {L"Remove all Text before nth Characters", L"QMV8", L"Remove_Altbsp", 315, L"1", true},
      {L"Remove all Text after nth Characters", L"QMV9", L"Remove_Altasp", 314, L"1", false},
      {L"Remove x no. of Chars before nth Characters", L"QMV10", L"Remove_Noftbsp", 295, L"1",
       false},
      {L"Remove x no. of Chars after nth Characters", L"QMV11", L"Remove_Noftasp", 292, L"1",
       false},
      {L"Remove all 'UPPER' Case Characters in Selection", L"QMV12", L"Remove_Aupcs", 291, L"1",
       true},
      {L"Remove all 'lower' Case Characters in Selection", L"QMV13", L"Remove_Alocs", 290, L"1",
       false},
      {L"Remove Duplicates in Selection - Keep One", L"QMV18", L"Remove_Aldpv", 450, L"1", true},
      {L"Remove all Duplicates Values in Selection", L"QMV19", L"Remove_Aldpvl", 486, L"1", false},
      {L"Remove all Unique Values in Selection", L"QMV20", L"Remove_Aluvl", 452, L"1", false},
      {L"About &Vandrel QMV", L"QMV21", L"User_Guide", 487, L"1", true},
      {L"Online &User Guide", L"QMV15", L"help_file", 984, L"1", false},
      {L"Exit Vandrel &QMV", L"QMV17", L"exit", 9101, L"1", true},
  };
  return rows;
}

class ComServerTest : public test::InstalledDllTest {
 protected:
  ComPtr<IDTExtensibility2> createConnect() {
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(L"Orvik.Connect", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, kClsidConnect));
    ComPtr<IDTExtensibility2> addin;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidDTExtensibility2,
                               addin.putVoid()),
              S_OK);
    return addin;
  }
  ComPtr<fake::Object> popup() {
    ComPtr<fake::Object> menuBar = excel_.bar(L"Worksheet Menu Bar");
    for (auto& control : fake::Excel::controlsOf(*menuBar)) {
      if (text(control->props[L"Caption"]) == L"&Vandrel QMV") return control;
    }
    return {};
  }
  int popupCount() {
    int n = 0;
    for (auto& control : fake::Excel::controlsOf(*excel_.bar(L"Worksheet Menu Bar"))) {
      n += text(control->props[L"Caption"]) == L"&Vandrel QMV";
    }
    return n;
  }

  fake::Excel excel_;
};

TEST_F(ComServerTest, ConnectionBuildsTheToolbarAndTheMenu) {
  ComPtr<IDTExtensibility2> addin = createConnect();
  ASSERT_TRUE(addin);
  SAFEARRAY* custom = nullptr;
  ASSERT_EQ(
      addin->OnConnection(excel_.application.get(), ext_cm_Startup, excel_.comAddIn.get(), &custom),
      S_OK);

  ComPtr<fake::Object> toolbar = excel_.bar(L"Dolvanis");
  ASSERT_TRUE(toolbar);
  EXPECT_TRUE(asBool(toolbar->props[L"Visible"]));
  auto tools = fake::Excel::controlsOf(*toolbar);
  ASSERT_EQ(tools.size(), 1u);
  EXPECT_EQ(text(tools[0]->props[L"Caption"]), L"Dolvani - Wizard");
  EXPECT_EQ(asInt(tools[0]->props[L"Style"]), 3);
  EXPECT_EQ(asInt(tools[0]->props[L"FaceId"]), 65);
  EXPECT_EQ(text(tools[0]->props[L"TooltipText"]), L"Conditionally Removes Text From Cells");
  EXPECT_EQ(text(tools[0]->props[L"Tag"]), L"Text_Remover");
  EXPECT_EQ(text(tools[0]->props[L"OnAction"]), L"!<Orvik.Connect>");
  EXPECT_EQ(tools[0]->sinks.size(), 1u);

  ComPtr<fake::Object> menu = popup();
  ASSERT_TRUE(menu);
  EXPECT_EQ(asInt(menu->props[L"Type"]), 10);
  auto buttons = fake::Excel::controlsOf(*menu);
  ASSERT_EQ(buttons.size(), expectedMenu().size());
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    const MenuRow& row = expectedMenu()[i];
    SCOPED_TRACE(std::string(row.tag.begin(), row.tag.end()));
    fake::Object& b = *buttons[i];
    EXPECT_EQ(text(b.props[L"Caption"]), row.caption);
    EXPECT_EQ(text(b.props[L"Tag"]), row.tag);
    EXPECT_EQ(text(b.props[L"OnAction"]), row.onAction);
    EXPECT_EQ(asInt(b.props[L"FaceId"]), row.faceId);
    EXPECT_EQ(text(b.props[L"Parameter"]), row.parameter);
    EXPECT_EQ(asBool(b.props[L"BeginGroup"]), row.beginGroup);
    EXPECT_EQ(asInt(b.props[L"Style"]), 3);
    EXPECT_EQ(b.sinks.size(), 1u);
  }

  // "Exit Vandrel &QMV" disconnects the COM add-in (Excel's AddIns does not list it) and
  // cancels the default.
  EXPECT_TRUE(excel_.click(*buttons[20]));
  EXPECT_FALSE(excel_.comAddInConnected);

  EXPECT_EQ(addin->OnDisconnection(ext_dm_UserClosed, &custom), S_OK);
  EXPECT_FALSE(excel_.bar(L"Dolvanis"));
  EXPECT_FALSE(popup());
  for (auto& b : buttons) EXPECT_TRUE(b->sinks.empty());
  EXPECT_TRUE(tools[0]->sinks.empty());

  EXPECT_EQ(dll_->canUnloadNow(), S_FALSE);  // Excel still holds the Connect object
  addin.reset();
  EXPECT_EQ(dll_->canUnloadNow(), S_OK);
}

TEST_F(ComServerTest, TwoConnectionsLeaveOneToolbarAndOnePopup) {
  ComPtr<IDTExtensibility2> addin = createConnect();
  ASSERT_TRUE(addin);
  SAFEARRAY* custom = nullptr;
  addin->OnConnection(excel_.application.get(), ext_cm_AfterStartup, excel_.comAddIn.get(),
                      &custom);
  addin->OnConnection(excel_.application.get(), ext_cm_AfterStartup, excel_.comAddIn.get(),
                      &custom);
  EXPECT_EQ(popupCount(), 1);
  int toolbars = 0;
  for (const wchar_t* name : {L"Dolvanis"}) toolbars += excel_.bar(name) ? 1 : 0;
  EXPECT_EQ(toolbars, 1);
  addin->OnDisconnection(ext_dm_HostShutdown, &custom);
  EXPECT_EQ(popupCount(), 0);
  addin.reset();
  EXPECT_EQ(dll_->canUnloadNow(), S_OK);
}

TEST_F(ComServerTest, ConnectionRemovesWhatAnEarlierSessionLeft) {
  // Permanent controls outlive a crash of Excel: a half-built popup, the toolbar, and a menu
  // button the user copied onto the Standard toolbar.
  auto addControl = [](IDispatch* owner, int32_t type, const std::u16string& caption,
                       const std::u16string& tag) {
    ComPtr<IDispatch> controls = asObject(get(owner, L"Controls"));
    ComPtr<IDispatch> control = asObject(call(controls.get(), L"Add", {type}));
    put(control.get(), L"Caption", caption);
    put(control.get(), L"Tag", tag);
    return control;
  };
  ComPtr<IDispatch> leftPopup =
      addControl(excel_.bar(L"Worksheet Menu Bar").get(), 10, u"&Vandrel QMV", u"");
  addControl(leftPopup.get(), 1, u"Remove all &Numeric in Selection", u"QMV1");
  ComPtr<IDispatch> leftBar =
      asObject(call(excel_.commandBars.get(), L"Add", {std::u16string(u"Dolvanis")}));
  addControl(leftBar.get(), 1, u"Dolvani - Wizard", u"Text_Remover");
  addControl(excel_.bar(L"Standard").get(), 1, u"Remove all &Spaces in Selection", u"QMV5");

  ComPtr<IDTExtensibility2> addin = createConnect();
  ASSERT_TRUE(addin);
  SAFEARRAY* custom = nullptr;
  addin->OnConnection(excel_.application.get(), ext_cm_Startup, excel_.comAddIn.get(), &custom);
  EXPECT_EQ(popupCount(), 1);
  EXPECT_TRUE(fake::Excel::controlsOf(*excel_.bar(L"Standard")).empty());
  auto tagged = [&](const std::u16string& tag) {
    ComPtr<IDispatch> found = asObject(
        call(excel_.commandBars.get(), L"FindControls", {Arg::omitted(), Arg::omitted(), tag}));
    return found ? asInt(get(found.get(), L"Count")) : 0;
  };
  for (const MenuRow& row : expectedMenu()) {
    SCOPED_TRACE(std::string(row.tag.begin(), row.tag.end()));
    EXPECT_EQ(tagged(fromWide(row.tag)), 1);
  }
  EXPECT_EQ(tagged(u"Text_Remover"), 1);
  addin->OnDisconnection(ext_dm_HostShutdown, &custom);
  addin.reset();
  EXPECT_EQ(dll_->canUnloadNow(), S_OK);
}

TEST_F(ComServerTest, DisconnectionAfterTheUserDeletedTheToolbar) {
  ComPtr<IDTExtensibility2> addin = createConnect();
  ASSERT_TRUE(addin);
  SAFEARRAY* custom = nullptr;
  addin->OnConnection(excel_.application.get(), ext_cm_Startup, excel_.comAddIn.get(), &custom);
  call(excel_.bar(L"Dolvanis").get(), L"Delete");
  EXPECT_EQ(addin->OnDisconnection(ext_dm_UserClosed, &custom), S_OK);
  EXPECT_FALSE(popup());
  addin.reset();
  EXPECT_EQ(dll_->canUnloadNow(), S_OK);
}

TEST_F(ComServerTest, AnApplicationThatIsNotExcelRaisesNothing) {
  ComPtr<IDTExtensibility2> addin = createConnect();
  ASSERT_TRUE(addin);
  auto word = fake::Object::create(L"Word");
  SAFEARRAY* custom = nullptr;
  EXPECT_EQ(addin->OnConnection(word.get(), ext_cm_Startup, excel_.comAddIn.get(), &custom), S_OK);
  EXPECT_FALSE(excel_.bar(L"Dolvanis"));
  EXPECT_EQ(addin->OnDisconnection(ext_dm_HostShutdown, &custom), S_OK);
  addin.reset();
  EXPECT_EQ(dll_->canUnloadNow(), S_OK);
}

TEST_F(ComServerTest, ConnectMethodsThroughItsDispatchInterface) {
  ComPtr<IDTExtensibility2> addin = createConnect();
  ASSERT_TRUE(addin);
  SAFEARRAY* custom = nullptr;
  addin->OnConnection(excel_.application.get(), ext_cm_Startup, excel_.comAddIn.get(), &custom);
  ComPtr<IDispatch> connect = addin.as<IDispatch>(kIidConnect);
  ASSERT_TRUE(connect);
  call(connect.get(), L"remToolBar");
  EXPECT_FALSE(excel_.bar(L"Dolvanis"));
  // A second removal finds no toolbar; the failure comes back to the caller.
  EXPECT_THROW(call(connect.get(), L"remToolBar"), HostError);
  call(connect.get(), L"remMenuBar");
  EXPECT_FALSE(popup());
  call(connect.get(), L"txtRemoverMB_Add");
  EXPECT_TRUE(popup());
  call(connect.get(), L"txtRemoverCB_Add", {excel_.comAddIn.get()});
  EXPECT_TRUE(excel_.bar(L"Dolvanis"));
  addin->OnDisconnection(ext_dm_HostShutdown, &custom);
  connect.reset();
  addin.reset();
  EXPECT_EQ(dll_->canUnloadNow(), S_OK);
}

TEST_F(ComServerTest, CbEventsHoldsAButtonAndItsClick) {
  ComPtr<IDispatch> wrapper;
  ASSERT_EQ(CoCreateInstance(kClsidCbEvents, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             wrapper.putVoid()),
            S_OK);
  ComPtr<IDispatch> button(static_cast<IDispatch*>(
      asObject(call(asObject(get(asObject(call(excel_.commandBars.get(), L"Add", {u"Bar"})).get(),
                                 L"Controls"))
                        .get(),
                    L"Add", {1}))
          .get()));
  ASSERT_TRUE(button);
  put(wrapper.get(), L"cbBtn", button.get());
  EXPECT_EQ(asObject(get(wrapper.get(), L"cbBtn")).get(), button.get());
  auto controls = fake::Excel::controlsOf(*excel_.bar(L"Bar"));
  ASSERT_EQ(controls.size(), 1u);
  EXPECT_EQ(controls[0]->sinks.size(), 1u);
  // A click with a tag of no command still cancels the default action.
  EXPECT_TRUE(excel_.click(*controls[0]));
  wrapper.reset();
  EXPECT_TRUE(controls[0]->sinks.empty());
  EXPECT_EQ(dll_->canUnloadNow(), S_OK);
}

bool samePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

TEST_F(ComServerTest, ConnectionRegistersTheUndoCommandThroughTheXllInterface) {
  ComPtr<IDTExtensibility2> addin = createConnect();
  ASSERT_TRUE(addin);
  SAFEARRAY* custom = nullptr;
  ASSERT_EQ(
      addin->OnConnection(excel_.application.get(), ext_cm_Startup, excel_.comAddIn.get(), &custom),
      S_OK);
  // Excel is asked to load the DLL itself as an XLL; its xlAutoOpen registers one command.
  ASSERT_EQ(excel_.xllPaths.size(), 1u);
  EXPECT_TRUE(samePath(excel_.xllPaths[0], test::dllUnderTest()));
  EXPECT_EQ(excel_.xll.opens, 1);
  ASSERT_EQ(excel_.xll.registrations.size(), 1u);
  const fake::Registration& r = excel_.xll.registrations[0];
  EXPECT_EQ(r.argumentCount, 7);
  EXPECT_TRUE(samePath(r.module, test::dllUnderTest()));
  EXPECT_EQ(r.procedure, L"VandrelQmvUndoChanges");
  EXPECT_EQ(r.typeText, L"J");
  EXPECT_EQ(r.functionText, L"undo_changes");
  EXPECT_EQ(r.argumentText, L"");
  EXPECT_EQ(r.macroType, 2.0);
  EXPECT_EQ(r.category, L"Vandrel QMV");
  ASSERT_EQ(excel_.xll.commands.count(L"undo_changes"), 1u);

  // Running the command reaches the add-in's undo: with no run to undo, it says so.
  {
    test::MessageBoxWatcher boxes;
    EXPECT_TRUE(excel_.xll.run(L"undo_changes"));
    EXPECT_EQ(boxes.texts, std::vector<std::wstring>{L"Nothing to Undo!"});
    EXPECT_EQ(boxes.captions, std::vector<std::wstring>{L"Orvik"});
  }

  // After disconnection the command stays registered in Excel but does nothing.
  EXPECT_EQ(addin->OnDisconnection(ext_dm_UserClosed, &custom), S_OK);
  addin.reset();
  EXPECT_EQ(dll_->canUnloadNow(), S_OK);
  {
    test::MessageBoxWatcher boxes;
    EXPECT_TRUE(excel_.xll.run(L"undo_changes"));
    EXPECT_TRUE(boxes.texts.empty());
  }

  // Excel closing the XLL unregisters the command and deletes its name.
  const double id = excel_.xll.commands.at(L"undo_changes").id;
  excel_.xll.closeAll();
  EXPECT_EQ(excel_.xll.unregistered, std::vector<double>{id});
  EXPECT_EQ(excel_.xll.namesDeleted, std::vector<std::wstring>{L"undo_changes"});
  EXPECT_FALSE(excel_.xll.run(L"undo_changes"));

  // Loaded again, as the add-in asks before it binds anything to the command, the DLL
  // registers it again.
  EXPECT_TRUE(excel_.xll.registerXll(test::dllUnderTest()));
  EXPECT_EQ(excel_.xll.commands.count(L"undo_changes"), 1u);
}

TEST_F(ComServerTest, ARefusedRegistrationLeavesTheCommandUnknown) {
  excel_.xll.acceptRegistrations = false;
  ComPtr<IDTExtensibility2> addin = createConnect();
  ASSERT_TRUE(addin);
  SAFEARRAY* custom = nullptr;
  ASSERT_EQ(
      addin->OnConnection(excel_.application.get(), ext_cm_Startup, excel_.comAddIn.get(), &custom),
      S_OK);
  EXPECT_EQ(excel_.xll.registrations.size(), 1u);
  EXPECT_TRUE(excel_.xll.commands.empty());
  EXPECT_FALSE(excel_.xll.run(L"undo_changes"));
  // The menu is built all the same.
  EXPECT_TRUE(popup());
  addin->OnDisconnection(ext_dm_HostShutdown, &custom);
  addin.reset();
  EXPECT_EQ(dll_->canUnloadNow(), S_OK);
}

TEST_F(ComServerTest, TheDllExportsTheXllEntryPoints) {
  HMODULE module = GetModuleHandleW(test::dllUnderTest().c_str());
  ASSERT_TRUE(module);
  for (const char* name : {"xlAutoOpen", "xlAutoClose", "VandrelQmvUndoChanges"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(GetProcAddress(module, name));
  }
}

TEST_F(ComServerTest, UnknownClassesAndAggregationAreRefused) {
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(dll_->getClassObject(IID_IDispatch, IID_IClassFactory, factory.putVoid()),
            CLASS_E_CLASSNOTAVAILABLE);
  ASSERT_EQ(dll_->getClassObject(kClsidConnect, IID_IClassFactory, factory.putVoid()), S_OK);
  ComPtr<IUnknown> object;
  auto outer = fake::Object::create(L"Outer");
  EXPECT_EQ(
      factory->CreateInstance(static_cast<IDispatch*>(outer.get()), IID_IUnknown, object.putVoid()),
      CLASS_E_NOAGGREGATION);
  factory->LockServer(TRUE);
  factory.reset();
  EXPECT_EQ(dll_->canUnloadNow(), S_FALSE);
  ASSERT_EQ(dll_->getClassObject(kClsidConnect, IID_IClassFactory, factory.putVoid()), S_OK);
  factory->LockServer(FALSE);
  factory.reset();
  EXPECT_EQ(dll_->canUnloadNow(), S_OK);
}

}  // namespace
}  // namespace qmv::windows
