// The one conversion of a C++ failure into a COM failure, used at every COM boundary of the
// DLL (exported functions, interface methods, event sinks): no exception crosses into
// Excel, and every failure maps to an HRESULT the same way.
//
// Mapping, for the exception being handled:
//   HostError n            -> MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, n): the error
//                             number as Visual Basic and Excel report theirs, with its text
//   std::bad_alloc         -> E_OUTOFMEMORY
//   other std::exception   -> error 5 (invalid procedure call), with its text
//   anything else          -> E_UNEXPECTED
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <type_traits>

namespace qmv::windows {

/// The failure of the exception being handled. Call only inside a catch block.
struct ComFailure {
  HRESULT result = E_UNEXPECTED;
  std::string description;  ///< empty when the failure has no text
};
ComFailure caughtFailure() noexcept;

/// The HRESULT of the exception being handled; its text becomes the thread's error
/// information (SetErrorInfo). Call only inside a catch block.
HRESULT caughtResult() noexcept;

/// For IDispatch::Invoke: the exception being handled written into `info` (when given),
/// and DISP_E_EXCEPTION. Call only inside a catch block.
HRESULT caughtInvokeResult(EXCEPINFO* info) noexcept;

/// Runs `body` at a COM boundary: S_OK (or the HRESULT `body` returns), or the result of
/// what it threw.
template <class Body>
HRESULT comBoundary(Body&& body) noexcept {
  try {
    if constexpr (std::is_same_v<decltype(body()), HRESULT>) {
      return body();
    } else {
      body();
      return S_OK;
    }
  } catch (...) {
    return caughtResult();
  }
}

}  // namespace qmv::windows
