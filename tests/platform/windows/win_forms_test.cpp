// The Win32 forms toolkit: forms become windows, window messages become the form's
// handler calls, and property changes made by the code reach the windows.
#include "platform/windows/win_forms.hpp"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace qmv::windows {
namespace {

// A small form: a text box with a digit filter, a Yes button that unloads the form, a
// Stop button, a progress bar and a label.
struct TestForm {
  Form form{"frmTest"};
  Control& text;
  Control& yes;
  Control& stop;
  Control& bar;
  Control& label;
  int yesClicks = 0;
  int stopClicks = 0;

  explicit TestForm(FormsToolkit& toolkit)
      : text(form.add("txtSP", ControlKind::TextBox)),
        yes(form.add("CommandButton1", ControlKind::CommandButton)),
        stop(form.add("CommandButton3", ControlKind::CommandButton)),
        bar(form.add("ProgressBar1", ControlKind::ProgressBar)),
        label(form.add("lblPer", ControlKind::Label)) {
    form.setCaption(u"Progress");
    form.geometry = {0, 0, 278, 124};
    text.geometry = {8, 8, 40, 16};
    text.setText(u"1");
    yes.geometry = {83, 92, 57, 20};
    yes.setCaption(u"Yes");
    yes.backColor = 0xC0E0FF;
    stop.geometry = {8, 92, 57, 20};
    stop.setCaption(u"Stop");
    bar.geometry = {28, 67, 188, 11};
    label.geometry = {218, 66, 30, 15};
    label.setCaption(u"0%");
    text.onKeyPress = [](int& key) {
      if (!((key >= '0' && key <= '9') || key == '.' || key == keys::kBackspace)) key = 0;
    };
    yes.onClick = [this, &toolkit] {
      ++yesClicks;
      toolkit.unload(form);
    };
    stop.onClick = [this] { ++stopClicks; };
  }
};

std::wstring windowText(HWND hwnd) {
  wchar_t buffer[256] = {};
  GetWindowTextW(hwnd, buffer, 256);
  return buffer;
}

TEST(Win32FormsToolkitTest, KeyFilterDecidesWhatIsTyped) {
  Win32FormsToolkit toolkit;
  TestForm t(toolkit);
  const auto window = reinterpret_cast<HWND>(toolkit.windowHandle(t.form));
  ASSERT_TRUE(IsWindow(window));
  EXPECT_FALSE(IsWindowVisible(window));
  HWND edit = toolkit.controlWindow(t.text);
  ASSERT_TRUE(edit);
  SendMessageW(edit, EM_SETSEL, 1, 1);
  struct Row {
    const char* name;
    wchar_t key;
    std::u16string after;
  };
  const Row rows[] = {
      {"digit", L'3', u"13"},  {"letter", L'a', u"13"},     {"minus", L'-', u"13"},
      {"point", L'.', u"13."}, {"backspace", L'\b', u"13"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SendMessageW(edit, WM_CHAR, row.key, 0);
    EXPECT_EQ(t.text.text(), row.after);
  }
  toolkit.unload(t.form);
  EXPECT_FALSE(IsWindow(window));
}

TEST(Win32FormsToolkitTest, PropertyChangesReachTheWindows) {
  Win32FormsToolkit toolkit;
  TestForm t(toolkit);
  toolkit.windowHandle(t.form);
  t.label.setCaption(u"40 %");
  EXPECT_EQ(windowText(toolkit.controlWindow(t.label)), L"40 %");
  t.bar.setMax(250);
  t.bar.setValue(100);
  HWND bar = toolkit.controlWindow(t.bar);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 250);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 100);
  t.stop.setVisible(false);
  EXPECT_FALSE(GetWindowLongW(toolkit.controlWindow(t.stop), GWL_STYLE) & WS_VISIBLE);
  t.text.setText(u"7");
  EXPECT_EQ(windowText(toolkit.controlWindow(t.text)), L"7");
  // Sizes follow the screen's DPI: 72 points are one inch.
  EXPECT_EQ(toolkit.pixels(72), GetDeviceCaps(GetDC(nullptr), LOGPIXELSY));
  toolkit.unload(t.form);
}

TEST(Win32FormsToolkitTest, ShowModalReturnsWhenAHandlerUnloads) {
  Win32FormsToolkit toolkit;
  TestForm t(toolkit);
  toolkit.windowHandle(t.form);
  // The clicks wait in the queue until the modal loop runs.
  PostMessageW(toolkit.controlWindow(t.stop), BM_CLICK, 0, 0);
  PostMessageW(toolkit.controlWindow(t.yes), BM_CLICK, 0, 0);
  toolkit.showModal(t.form);
  EXPECT_EQ(t.stopClicks, 1);
  EXPECT_EQ(t.yesClicks, 1);
  EXPECT_FALSE(t.form.loaded());
}

template <class F>
F user32Function(const char* name) {
  return reinterpret_cast<F>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// The thread's DPI awareness (DPI_AWARENESS: -1 invalid, 0 unaware, 1 system, 2 per monitor).
int threadAwareness() {
  static const auto get = user32Function<HANDLE(WINAPI*)()>("GetThreadDpiAwarenessContext");
  static const auto awareness =
      user32Function<int(WINAPI*)(HANDLE)>("GetAwarenessFromDpiAwarenessContext");
  return get && awareness ? awareness(get()) : -1;
}

TEST(Win32FormsToolkitTest, HandlersRunInTheHostsDpiContextAndTheFormInItsOwn) {
  const auto set = user32Function<HANDLE(WINAPI*)(HANDLE)>("SetThreadDpiAwarenessContext");
  const auto windowContext = user32Function<HANDLE(WINAPI*)(HWND)>("GetWindowDpiAwarenessContext");
  const auto awareness =
      user32Function<int(WINAPI*)(HANDLE)>("GetAwarenessFromDpiAwarenessContext");
  if (!set || !windowContext || !awareness) GTEST_SKIP() << "no per-monitor DPI on this system";
  struct Row {
    const char* name;
    INT_PTR hostContext;  // DPI_AWARENESS_CONTEXT_UNAWARE, _SYSTEM_AWARE
    int hostAwareness;
  };
  const Row rows[] = {{"unaware host", -1, 0}, {"system-aware host", -2, 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const HANDLE previous = set(reinterpret_cast<HANDLE>(row.hostContext));
    ASSERT_EQ(threadAwareness(), row.hostAwareness);
    Win32FormsToolkit toolkit;
    TestForm t(toolkit);
    int inHandler = -1;
    t.stop.onClick = [&] { inHandler = threadAwareness(); };
    const auto window = reinterpret_cast<HWND>(toolkit.windowHandle(t.form));
    // The form's window is per-monitor aware (Windows tells it of DPI changes) ...
    EXPECT_EQ(awareness(windowContext(window)), 2);
    PostMessageW(toolkit.controlWindow(t.stop), BM_CLICK, 0, 0);
    PostMessageW(toolkit.controlWindow(t.yes), BM_CLICK, 0, 0);
    toolkit.showModal(t.form);
    // ... while its handlers, which call Excel, run in the host's context.
    EXPECT_EQ(inHandler, row.hostAwareness);
    EXPECT_EQ(threadAwareness(), row.hostAwareness);
    set(previous);
  }
}

TEST(Win32FormsToolkitTest, TheClientAreaIsTheFormsSizeAtItsDpi) {
  struct Row {
    int dpi;
  };
  const Row rows[] = {{96}, {144}, {192}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.dpi);
    Win32FormsToolkit toolkit;
    TestForm t(toolkit);
    const auto window = reinterpret_cast<HWND>(toolkit.windowHandle(t.form));
    toolkit.changeDpi(t.form, row.dpi);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right - client.left, MulDiv(278, row.dpi, 72));
    EXPECT_EQ(client.bottom - client.top, MulDiv(124, row.dpi, 72));
  }
}

TEST(Win32FormsToolkitTest, AModalFormDisablesEveryWindowOfItsThread) {
  // Two workbook windows of one Excel: the form owns neither, and both wait for it.
  struct Row {
    const char* name;
    bool visible;
    bool disabledDuring;
  };
  const Row rows[] = {{"the active workbook window", true, true},
                      {"another workbook window", true, true},
                      {"a hidden window", false, false}};
  std::vector<HWND> windows;
  for (const Row& row : rows) {
    windows.push_back(CreateWindowExW(0, L"STATIC", L"Book", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                      nullptr, nullptr, nullptr, nullptr));
    if (row.visible) ShowWindow(windows.back(), SW_SHOWNOACTIVATE);
  }
  Win32FormsToolkit toolkit;
  TestForm t(toolkit);
  std::vector<bool> enabledDuring;
  t.yes.onClick = [&] {
    for (HWND hwnd : windows) enabledDuring.push_back(IsWindowEnabled(hwnd) != FALSE);
    toolkit.unload(t.form);
  };
  toolkit.windowHandle(t.form);
  PostMessageW(toolkit.controlWindow(t.yes), BM_CLICK, 0, 0);
  toolkit.showModal(t.form);
  ASSERT_EQ(enabledDuring.size(), windows.size());
  for (std::size_t i = 0; i < windows.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    EXPECT_EQ(enabledDuring[i], !rows[i].disabledDuring);
    EXPECT_TRUE(IsWindowEnabled(windows[i]));
    DestroyWindow(windows[i]);
  }
}

TEST(Win32FormsToolkitTest, DoEventsDeliversAPendingClick) {
  Win32FormsToolkit toolkit;
  TestForm t(toolkit);
  toolkit.windowHandle(t.form);
  PostMessageW(toolkit.controlWindow(t.stop), BM_CLICK, 0, 0);
  EXPECT_EQ(t.stopClicks, 0);
  toolkit.doEvents();
  EXPECT_EQ(t.stopClicks, 1);
  toolkit.unload(t.form);
}

TEST(Win32FormsToolkitTest, TheCloseBoxUnloadsUnlessTheFormKeepsItselfOpen) {
  Win32FormsToolkit toolkit;
  TestForm t(toolkit);
  int asked = 0;
  t.form.onQueryClose = [&] { return ++asked == 1; };  // refuse once, then close
  const auto window = reinterpret_cast<HWND>(toolkit.windowHandle(t.form));
  PostMessageW(window, WM_CLOSE, 0, 0);
  PostMessageW(window, WM_CLOSE, 0, 0);
  toolkit.showModal(t.form);
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(t.form.loaded());
}

TEST(Win32FormsToolkitTest, AFailingHandlerEndsTheFormAndReachesTheCaller) {
  Win32FormsToolkit toolkit;
  TestForm t(toolkit);
  t.stop.onClick = [] { throw std::runtime_error("handler failed"); };
  toolkit.windowHandle(t.form);
  PostMessageW(toolkit.controlWindow(t.stop), BM_CLICK, 0, 0);
  EXPECT_THROW(toolkit.showModal(t.form), std::runtime_error);
  EXPECT_FALSE(t.form.loaded());
}

TEST(Win32FormsToolkitTest, DestroyingAFormDestroysItsWindow) {
  Win32FormsToolkit toolkit;
  HWND window = nullptr;
  {
    TestForm t(toolkit);
    window = reinterpret_cast<HWND>(toolkit.windowHandle(t.form));
    ASSERT_TRUE(IsWindow(window));
  }
  EXPECT_FALSE(IsWindow(window));
}

// A form with a frame that handles keys, a clickable label, a clickable image and two
// decorations.
struct DecoratedForm {
  Form form{"frmDecorated"};
  Control& frame = form.add("Frame1", ControlKind::Frame);
  Control& inner = form.add("txtInner", ControlKind::TextBox, "Frame1");
  Control& link = form.add("Label21", ControlKind::Label);
  Control& logo = form.add("Image1", ControlKind::Image);
  Control& shape = form.add("Shape1", ControlKind::Shape);
  Control& line = form.add("Line1", ControlKind::Line);
  std::vector<int> keys;
  int linkClicks = 0;
  int logoClicks = 0;

  DecoratedForm() {
    form.geometry = {0, 0, 240, 160};
    frame.geometry = {8, 8, 120, 60};
    inner.geometry = {8, 8, 60, 16};
    link.geometry = {8, 80, 120, 14};
    link.setCaption(u"vandrel-qmv.example");
    logo.geometry = {150, 8, 60, 54};
    shape.geometry = {4, 4, 232, 100};
    line.geometry = {4, 110, 232, 0};
    frame.onKeyDown = [this](int& keyCode) { keys.push_back(keyCode); };
    link.onClick = [this] { ++linkClicks; };
    logo.onClick = [this] { ++logoClicks; };
  }
};

std::wstring nameOf(HWND hwnd) {
  const auto atom =
      static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(GetPropW(hwnd, kWindowNameProperty)));
  wchar_t name[64] = {};
  if (atom) GetAtomNameW(atom, name, 64);
  return name;
}

TEST(Win32FormsToolkitTest, AFrameWithAKeyHandlerTakesTheFocusAndItsKeys) {
  Win32FormsToolkit toolkit;
  DecoratedForm t;
  toolkit.windowHandle(t.form);
  HWND frame = toolkit.controlWindow(t.frame);
  ASSERT_TRUE(frame);
  SendMessageW(frame, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  EXPECT_EQ(GetFocus(), frame);
  EXPECT_TRUE(SendMessageW(frame, WM_GETDLGCODE, 0, 0) & DLGC_WANTCHARS);
  SendMessageW(frame, WM_KEYDOWN, 'A', 0);
  SendMessageW(frame, WM_KEYDOWN, VK_F2, 0);
  EXPECT_EQ(t.keys, (std::vector<int>{'A', VK_F2}));
  // A key of the text box inside it is the text box's.
  SendMessageW(toolkit.controlWindow(t.inner), WM_KEYDOWN, 'B', 0);
  EXPECT_EQ(t.keys.size(), 2u);
  toolkit.unload(t.form);
}

TEST(Win32FormsToolkitTest, ClickableLabelsAndImagesReportClicks) {
  Win32FormsToolkit toolkit;
  DecoratedForm t;
  toolkit.windowHandle(t.form);
  HWND link = toolkit.controlWindow(t.link);
  HWND logo = toolkit.controlWindow(t.logo);
  ASSERT_TRUE(link && logo);
  EXPECT_TRUE(GetWindowLongW(link, GWL_STYLE) & SS_NOTIFY);
  SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  EXPECT_EQ(t.linkClicks, 1);
  SendMessageW(logo, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageW(logo, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  EXPECT_EQ(t.logoClicks, 1);
  toolkit.unload(t.form);
}

// Whether `upper` lies over `lower`: it comes first among their siblings.
bool liesOver(HWND upper, HWND lower) {
  for (HWND w = GetWindow(upper, GW_HWNDNEXT); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
    if (w == lower) return true;
  }
  return false;
}

TEST(Win32FormsToolkitTest, AFrameDeclaredLaterLiesOverTheFrameItOverlaps) {
  // The confirm dialog's layout: the start-position and count groups over the outer strip,
  // and two frames elsewhere that overlap nothing.
  Win32FormsToolkit toolkit;
  Form form{"frmFrames"};
  form.geometry = {0, 0, 278, 124};
  Control& strip = form.add("Frame3", ControlKind::Frame);
  strip.geometry = {26, 38, 223, 26};
  Control& start = form.add("Frame1", ControlKind::Frame);
  start.geometry = {28, 40, 99, 23};
  Control& startBox = form.add("txtSP", ControlKind::TextBox, "Frame1");
  startBox.geometry = {56, 3, 37, 16};
  Control& count = form.add("Frame2", ControlKind::Frame);
  count.geometry = {127, 40, 120, 23};
  Control& countBox = form.add("txtNOC", ControlKind::TextBox, "Frame2");
  countBox.geometry = {68, 4, 45, 16};
  Control& first = form.add("FrameA", ControlKind::Frame);
  first.geometry = {2, 90, 20, 20};
  Control& second = form.add("FrameB", ControlKind::Frame);
  second.geometry = {250, 90, 20, 20};
  const auto window = reinterpret_cast<HWND>(toolkit.windowHandle(form));
  ASSERT_TRUE(IsWindow(window));

  EXPECT_TRUE(liesOver(toolkit.controlWindow(start), toolkit.controlWindow(strip)));
  EXPECT_TRUE(liesOver(toolkit.controlWindow(count), toolkit.controlWindow(strip)));
  // Frames that overlap nothing keep the order they were made in, and so the tab order.
  EXPECT_TRUE(liesOver(toolkit.controlWindow(start), toolkit.controlWindow(count)));
  EXPECT_TRUE(liesOver(toolkit.controlWindow(first), toolkit.controlWindow(second)));
  // What a click on the middle of each box reaches.
  struct Row {
    const char* name;
    Control& box;
    Control& frame;
  };
  const Row rows[] = {{"start position", startBox, start}, {"count", countBox, count}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RECT box{};
    GetWindowRect(toolkit.controlWindow(row.box), &box);
    POINT middle{(box.left + box.right) / 2, (box.top + box.bottom) / 2};
    ScreenToClient(window, &middle);
    EXPECT_EQ(ChildWindowFromPointEx(window, middle, CWP_ALL), toolkit.controlWindow(row.frame));
  }
  toolkit.unload(form);
}

TEST(Win32FormsToolkitTest, LabelsStandWhereTheirAlignmentSays) {
  Win32FormsToolkit toolkit;
  Form form{"frmLabels"};
  Control& centred = form.add("lblPer", ControlKind::Label);
  centred.textAlign = TextAlign::Center;
  centred.etched = true;
  Control& left = form.add("Label1", ControlKind::Label);
  Control& wrapped = form.add("Label2", ControlKind::Label);
  wrapped.wordWrap = true;
  ASSERT_TRUE(IsWindow(reinterpret_cast<HWND>(toolkit.windowHandle(form))));
  struct Row {
    const char* name;
    Control& label;
    LONG_PTR alignment;
  };
  const Row rows[] = {{"centred", centred, SS_CENTER},
                      {"left, one line", left, SS_LEFTNOWORDWRAP},
                      {"left, wrapped", wrapped, SS_LEFT}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const LONG_PTR style = GetWindowLongPtrW(toolkit.controlWindow(row.label), GWL_STYLE);
    EXPECT_EQ(style & SS_TYPEMASK, row.alignment);
  }
  toolkit.unload(form);
}

TEST(Win32FormsToolkitTest, WindowsCarryTheirNamesAndDecorationsHaveNone) {
  Win32FormsToolkit toolkit;
  DecoratedForm t;
  const auto window = reinterpret_cast<HWND>(toolkit.windowHandle(t.form));
  EXPECT_EQ(nameOf(window), L"frmDecorated");
  struct Row {
    const Control* control;
    const wchar_t* name;  // null: drawn by its container, no window
  };
  const Row rows[] = {{&t.frame, L"Frame1"}, {&t.inner, L"txtInner"}, {&t.link, L"Label21"},
                      {&t.logo, L"Image1"},  {&t.shape, nullptr},     {&t.line, nullptr}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.control->name());
    HWND hwnd = toolkit.controlWindow(*row.control);
    if (!row.name) {
      EXPECT_FALSE(hwnd);
      continue;
    }
    ASSERT_TRUE(hwnd);
    EXPECT_EQ(nameOf(hwnd), row.name);
  }
  // The label overlaps the shape's area but lies under the other controls it meets.
  EXPECT_EQ(GetWindow(toolkit.controlWindow(t.link), GW_HWNDNEXT), nullptr);
  toolkit.unload(t.form);
}

}  // namespace
}  // namespace qmv::windows
