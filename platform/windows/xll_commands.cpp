#include "platform/windows/xll_commands.hpp"

#include <array>
#include <exception>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/tolerant.hpp"
#include "platform/windows/addin_state.hpp"
#include "platform/windows/xll_api.hpp"

namespace qmv::windows {

namespace {

using namespace xll;

// One command of the library: its name in Excel, the exported procedure behind it, the
// macro it runs and its registration id (0 while Excel has not registered it).
struct Command {
  const char16_t* name;
  const wchar_t* procedure;
  std::function<void()> macro;
  uint64_t token = 0;
  double registerId = 0;
};

// Commands run on Excel's main thread; the lock only guards the table against a caller
// on another thread.
std::mutex gLock;
std::array<Command, 1> gCommands{{{u"undo_changes", L"VandrelQmvUndoChanges", {}, 0, 0}}};
uint64_t gNextToken = 1;
// The keys that run one of the commands, as the add-in bound them through OnKey.
std::vector<std::u16string> gBoundKeys;

Command* findCommand(const std::u16string& name) {
  for (Command& c : gCommands) {
    if (name.size() == std::char_traits<char16_t>::length(c.name) &&
        CompareStringOrdinal(reinterpret_cast<const wchar_t*>(name.c_str()),
                             static_cast<int>(name.size()),
                             reinterpret_cast<const wchar_t*>(c.name), -1, TRUE) == CSTR_EQUAL) {
      return &c;
    }
  }
  return nullptr;
}

// A counted string XLOPER12 over its own storage.
class Text {
 public:
  explicit Text(std::wstring_view text) {
    storage_.push_back(static_cast<wchar_t>(text.size()));
    storage_.append(text);
    oper_.xltype = xltypeStr;
    oper_.val.str = storage_.data();
  }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  XLOPER12* get() { return &oper_; }

 private:
  std::wstring storage_;
  XLOPER12 oper_{};
};

XLOPER12 number(double value) {
  XLOPER12 oper{};
  oper.xltype = xltypeNum;
  oper.val.num = value;
  return oper;
}

// Excel's callback in the host process; null outside Excel.
Excel12Proc excelCallback() {
  return reinterpret_cast<Excel12Proc>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), kCallbackExport)));
}

// Calls Excel; the result is freed by Excel when it owns memory in it.
int excel12(Excel12Proc excel, int function, XLOPER12* result,
            std::initializer_list<XLOPER12*> args) {
  std::array<XLOPER12*, 16> list{};
  std::size_t n = 0;
  for (XLOPER12* a : args) list[n++] = a;
  const int code = excel(function, static_cast<int>(n), list.data(), result);
  if (code == xlretSuccess && result && (result->xltype & (xltypeStr | xltypeMulti | xltypeRef))) {
    XLOPER12* owned[1] = {result};
    excel(xlFree, 1, owned, nullptr);
  }
  return code;
}

class DllCommandLibrary final : public XllCommandLibrary {
 public:
  void keyBound(const std::u16string& key, const std::u16string& name) override {
    std::lock_guard lock(gLock);
    std::erase(gBoundKeys, key);
    if (!name.empty() && findCommand(name)) gBoundKeys.push_back(key);
  }
  std::wstring path() const override { return dllPath(); }
  uint64_t offer(const std::u16string& name, std::function<void()> macro) override {
    std::lock_guard lock(gLock);
    Command* c = findCommand(name);
    if (!c) return 0;
    c->macro = std::move(macro);
    c->token = gNextToken++;
    return c->token;
  }
  void withdraw(const std::u16string& name, uint64_t token) override {
    std::lock_guard lock(gLock);
    Command* c = findCommand(name);
    if (c && c->token == token) {
      c->macro = nullptr;
      c->token = 0;
    }
  }
  // Excel's C API answers only while Excel has passed control to the XLL
  // (https://learn.microsoft.com/office/client-developer/excel/excel4-excel12), so a caller
  // from COM cannot ask Excel itself (REGISTER.ID, xlGetName). The registration's own record
  // answers: set by xlAutoOpen, cleared by xlAutoClose, which Excel calls whenever it
  // unloads the XLL (https://learn.microsoft.com/office/client-developer/excel/xlautoclose).
  bool registered(const std::u16string& name) const override {
    std::lock_guard lock(gLock);
    const Command* c = findCommand(name);
    return c && c->registerId != 0;
  }
};

// Runs the macro of command `index`. A failure never reaches Excel: like every step of a
// handler the host calls, it goes through the tolerant boundary, where a watch hears it.
int runCommand(std::size_t index) noexcept {
  tolerantAtBoundary([&] {
    std::function<void()> macro;
    {
      std::lock_guard lock(gLock);
      macro = gCommands[index].macro;
    }
    if (macro) macro();
  });
  return 1;
}

}  // namespace

XllCommandLibrary& xllCommands() {
  static DllCommandLibrary library;
  return library;
}

}  // namespace qmv::windows

using namespace qmv::windows;
using namespace qmv::windows::xll;

extern "C" {

/// Excel loaded the DLL as an XLL: register its commands.
int WINAPI xlAutoOpen() {
  int opened = 0;
  qmv::tolerantAtBoundary([&] {
    const Excel12Proc excel = excelCallback();
    if (!excel) return;
    const std::wstring module = dllPath();
    std::lock_guard lock(gLock);
    for (Command& c : gCommands) {
      Text moduleText(module);
      Text procedure(c.procedure);
      Text typeText(L"J");
      Text functionText(reinterpret_cast<const wchar_t*>(c.name));
      Text argumentText(L"");
      XLOPER12 macroType = number(kCommandMacroType);
      // A category of its own (xlfRegister's pxCategory), not Excel's "User Defined".
      Text category(L"Vandrel QMV");
      XLOPER12 result{};
      const int code =
          excel12(excel, xlfRegister, &result,
                  {moduleText.get(), procedure.get(), typeText.get(), functionText.get(),
                   argumentText.get(), &macroType, category.get()});
      const bool ok = code == xlretSuccess && (result.xltype & ~xlbitXLFree) == xltypeNum &&
                      result.val.num != 0;
      c.registerId = ok ? result.val.num : 0;
    }
    opened = 1;
  });
  return opened;
}

/// Excel unloads the XLL: unregister the commands and delete their hidden names.
int WINAPI xlAutoClose() {
  qmv::tolerantAtBoundary([&] {
    const Excel12Proc excel = excelCallback();
    std::lock_guard lock(gLock);
    for (Command& c : gCommands) {
      if (excel && c.registerId != 0) {
        XLOPER12 id = number(c.registerId);
        excel12(excel, xlfUnregister, nullptr, {&id});
        Text name(reinterpret_cast<const wchar_t*>(c.name));
        excel12(excel, xlfSetName, nullptr, {name.get()});
      }
      c.registerId = 0;
    }
    // A key left naming a command would make Excel report a macro it cannot find, for
    // as long as the add-in does not bind it again: ON.KEY with the key alone gives it
    // its own action back (https://learn.microsoft.com/office/vba/api/excel.application.onkey
    // documents the same for OnKey without a procedure).
    for (const std::u16string& key : gBoundKeys) {
      if (!excel) break;
      Text keyText(std::wstring(key.begin(), key.end()));
      excel12(excel, xlcOnKey, nullptr, {keyText.get()});
    }
    gBoundKeys.clear();
  });
  return 1;
}

/// The command "undo_changes".
int WINAPI VandrelQmvUndoChanges() { return runCommand(0); }

}  // extern "C"
