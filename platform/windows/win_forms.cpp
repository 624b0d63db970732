// The toolkit itself: its window classes, and the helpers its parts share.
#include "platform/windows/win_forms_window.hpp"

namespace qmv::windows {

namespace win_forms_detail {

HINSTANCE moduleInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&moduleInstance), &module);
  return module;
}

std::wstring windowText(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

// Gives a window its name (see kWindowNameProperty).
void nameWindow(HWND hwnd, const std::string& name) {
  const ATOM atom = AddAtomW(toWide(std::u16string(name.begin(), name.end())).c_str());
  if (atom)
    SetPropW(hwnd, kWindowNameProperty, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(atom)));
}

ATOM nameAtom(HWND hwnd) {
  return static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(GetPropW(hwnd, kWindowNameProperty)));
}

// The rectangle of a child window in its parent's client coordinates.
RECT rectInParent(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

}  // namespace win_forms_detail

using namespace win_forms_detail;

namespace {

int gClassUsers = 0;
UniqueWindowClass gFormClass;
UniqueWindowClass gContainerClass;

}  // namespace

Win32FormsToolkit::Win32FormsToolkit() {
  INITCOMMONCONTROLSEX init{sizeof(init),
                            ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&init);
  if (gClassUsers++ == 0) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.hInstance = moduleInstance();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpfnWndProc = &Win32FormsToolkit::formProc;
    wc.lpszClassName = kFormClass;
    wc.style = CS_DBLCLKS;
    gFormClass.reset(RegisterClassExW(&wc));
    wc.lpfnWndProc = &Win32FormsToolkit::containerProc;
    wc.lpszClassName = kContainerClass;
    gContainerClass.reset(RegisterClassExW(&wc));
  }
  const WindowDc screen(nullptr);
  if (screen) dpi_ = GetDeviceCaps(screen.get(), LOGPIXELSY);
}

Win32FormsToolkit::~Win32FormsToolkit() {
  while (!windows_.empty()) destroyWindow(*windows_.begin()->first);
  if (--gClassUsers == 0) {
    gFormClass.reset();
    gContainerClass.reset();
  }
}

}  // namespace qmv::windows
