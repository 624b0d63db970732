// The part of Excel's C API that an XLL needs to register commands: the XLOPER12 value
// structure, the type and function numbers used here, and Excel's callback entry.
//
// Excel exports its callback from its own executable as "MdCallBack12"; an XLL finds it
// with GetProcAddress on the host process's module, so the DLL links no Excel library.
#pragma once

#include <windows.h>

#include <cstdint>

namespace qmv::windows::xll {

using RW = int32_t;
using COL = int32_t;
using IDSHEET = DWORD_PTR;
using XCHAR = wchar_t;

/// A rectangular reference on one sheet.
struct XLREF12 {
  RW rwFirst;
  RW rwLast;
  COL colFirst;
  COL colLast;
};

/// A reference to several rectangles.
struct XLMREF12 {
  WORD count;
  XLREF12 reftbl[1];
};

/// Excel's value structure for the Excel12 callbacks.
struct XLOPER12 {
  union {
    double num;
    XCHAR* str;  ///< counted string: str[0] holds the length
    BOOL xbool;
    int err;
    int w;
    struct {
      WORD count;
      XLREF12 ref;
    } sref;
    struct {
      XLMREF12* lpmref;
      IDSHEET idSheet;
    } mref;
    struct {
      XLOPER12* lparray;
      RW rows;
      COL columns;
    } array;
    struct {
      union {
        int level;
        int tbctrl;
        IDSHEET idSheet;
      } valflow;
      RW rw;
      COL col;
      BYTE xlflow;
    } flow;
    struct {
      union {
        BYTE* lpbData;
        HANDLE hdata;
      } h;
      long cbData;
    } bigdata;
  } val;
  DWORD xltype;
};

/// Value types (XLOPER12::xltype).
inline constexpr DWORD xltypeNum = 0x0001;
inline constexpr DWORD xltypeStr = 0x0002;
inline constexpr DWORD xltypeBool = 0x0004;
inline constexpr DWORD xltypeRef = 0x0008;
inline constexpr DWORD xltypeErr = 0x0010;
inline constexpr DWORD xltypeMulti = 0x0040;
inline constexpr DWORD xltypeMissing = 0x0080;
inline constexpr DWORD xltypeNil = 0x0100;
inline constexpr DWORD xltypeInt = 0x0800;
inline constexpr DWORD xlbitXLFree = 0x1000;
inline constexpr DWORD xlbitDLLFree = 0x4000;

/// Error values (XLOPER12::val.err).
inline constexpr int xlerrValue = 15;

/// Function numbers.
inline constexpr int xlSpecial = 0x4000;
inline constexpr int xlFree = 0 | xlSpecial;
inline constexpr int xlGetName = 9 | xlSpecial;
inline constexpr int xlfSetName = 88;
inline constexpr int xlfRegister = 149;
inline constexpr int xlfUnregister = 201;
/// Command-equivalents carry xlCommand; ON.KEY with only a key gives the key back to Excel.
inline constexpr int xlCommand = 0x8000;
inline constexpr int xlcOnKey = 168 | xlCommand;

/// Return codes of the callback.
inline constexpr int xlretSuccess = 0;
inline constexpr int xlretFailed = 32;

/// The macro type of a command (xlfRegister's pxMacroType).
inline constexpr double kCommandMacroType = 2;

/// Excel's callback: function number, argument count, arguments, result.
using Excel12Proc = int(WINAPI*)(int xlfn, int count, XLOPER12** args, XLOPER12* result);

/// Name of the callback that Excel exports from its executable.
inline constexpr char kCallbackExport[] = "MdCallBack12";

}  // namespace qmv::windows::xll
