#include "fake_xll.hpp"

#include <cwctype>

namespace qmv::windows::fake {

namespace {

using namespace xll;

XllHost* gActive = nullptr;

std::wstring textOf(const XLOPER12* oper) {
  if (!oper || (oper->xltype & 0x0FFF) != xltypeStr || !oper->val.str) return {};
  return std::wstring(oper->val.str + 1, static_cast<std::size_t>(oper->val.str[0]));
}

double numberOf(const XLOPER12* oper) {
  if (!oper) return -1;
  switch (oper->xltype & 0x0FFF) {
    case xltypeNum:
      return oper->val.num;
    case xltypeInt:
      return oper->val.w;
    default:
      return -1;
  }
}

std::wstring folded(std::wstring name) {
  for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c));
  return name;
}

}  // namespace

XllHost::XllHost() { gActive = this; }

XllHost::~XllHost() {
  closeAll();
  if (gActive == this) gActive = nullptr;
}

bool XllHost::registerXll(const std::wstring& path) {
  HMODULE module = LoadLibraryW(path.c_str());
  if (!module) return false;
  auto open = reinterpret_cast<int(WINAPI*)()>(
      reinterpret_cast<void*>(GetProcAddress(module, "xlAutoOpen")));
  if (!open) {
    FreeLibrary(module);
    return false;
  }
  loaded_.push_back(module);
  gActive = this;
  ++opens;
  return open() == 1;
}

bool XllHost::run(const std::wstring& name) {
  auto it = commands.find(folded(name));
  if (it == commands.end() || !it->second.procedure) {
    ++missingRuns;
    return false;
  }
  auto procedure = reinterpret_cast<int(WINAPI*)()>(reinterpret_cast<void*>(it->second.procedure));
  procedure();
  return true;
}

void XllHost::closeAll() {
  XllHost* previous = gActive;
  gActive = this;  // xlAutoClose calls back
  for (HMODULE module : loaded_) {
    auto close = reinterpret_cast<int(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "xlAutoClose")));
    if (close) {
      ++closes;
      close();
    }
  }
  // What the libraries did not unregister, Excel does.
  for (HMODULE module : loaded_) FreeLibrary(module);
  loaded_.clear();
  commands.clear();
  gActive = previous;
}

int XllHost::callback(int function, int count, XLOPER12** args, XLOPER12* result) {
  if (result) *result = XLOPER12{};
  switch (function) {
    case xlfRegister: {
      Registration r;
      r.argumentCount = count;
      if (count > 0) r.module = textOf(args[0]);
      if (count > 1) r.procedure = textOf(args[1]);
      if (count > 2) r.typeText = textOf(args[2]);
      if (count > 3) r.functionText = textOf(args[3]);
      if (count > 4) r.argumentText = textOf(args[4]);
      if (count > 5) r.macroType = numberOf(args[5]);
      if (count > 6) r.category = textOf(args[6]);
      registrations.push_back(r);
      HMODULE module = GetModuleHandleW(r.module.c_str());
      FARPROC procedure = nullptr;
      if (module) {
        const std::string ascii(r.procedure.begin(), r.procedure.end());
        procedure = GetProcAddress(module, ascii.c_str());
      }
      if (!acceptRegistrations || !procedure || r.functionText.empty()) {
        if (result) {
          result->xltype = xltypeErr;
          result->val.err = xlerrValue;
        }
        return xlretSuccess;
      }
      const double id = nextId_++;
      commands[folded(r.functionText)] = {procedure, id};
      if (result) {
        result->xltype = xltypeNum;
        result->val.num = id;
      }
      return xlretSuccess;
    }
    case xlfUnregister: {
      const double id = count > 0 ? numberOf(args[0]) : -1;
      unregistered.push_back(id);
      for (auto it = commands.begin(); it != commands.end(); ++it) {
        if (it->second.id == id) {
          commands.erase(it);
          break;
        }
      }
      if (result) {
        result->xltype = xltypeBool;
        result->val.xbool = TRUE;
      }
      return xlretSuccess;
    }
    case xlcOnKey: {
      // ON.KEY(key_text, macro_text): without macro_text the key does Excel's own action.
      if (count < 1 || !onKey) return xlretFailed;
      const std::wstring key = textOf(args[0]);
      if (count > 1 && (args[1]->xltype & ~xlbitXLFree) == xltypeStr) {
        const std::wstring macro = textOf(args[1]);
        onKey(key, &macro);
      } else {
        onKey(key, nullptr);
      }
      if (result) {
        result->xltype = xltypeBool;
        result->val.xbool = TRUE;
      }
      return xlretSuccess;
    }
    case xlfSetName:
      if (count > 0) namesDeleted.push_back(textOf(args[0]));
      return xlretSuccess;
    case xlFree:
      return xlretSuccess;
    default:
      return xlretFailed;
  }
}

}  // namespace qmv::windows::fake

/// Excel's callback entry, exported from the test program as Excel exports it from its
/// executable.
extern "C" __declspec(dllexport) int WINAPI
    MdCallBack12(int function, int count, qmv::windows::xll::XLOPER12** args,
                 qmv::windows::xll::XLOPER12* result) {
  using qmv::windows::fake::gActive;
  if (!gActive) return qmv::windows::xll::xlretFailed;
  return gActive->callback(function, count, args, result);
}
