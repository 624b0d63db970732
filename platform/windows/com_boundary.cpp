#include "platform/windows/com_boundary.hpp"

#include <exception>
#include <new>

#include "host/host_error.hpp"
#include "host/text.hpp"
#include "platform/windows/com_support.hpp"

namespace qmv::windows {

namespace {

constexpr wchar_t kSource[] = L"VandrelQMV";

HRESULT fromNumber(int32_t number) {
  return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<WORD>(number & 0xFFFF));
}

}  // namespace

ComFailure caughtFailure() noexcept {
  try {
    throw;
  } catch (const HostError& e) {
    return {fromNumber(e.number()), e.what()};
  } catch (const std::bad_alloc&) {
    return {E_OUTOFMEMORY, {}};
  } catch (const std::exception& e) {
    return {fromNumber(host_errors::kInvalidCall), e.what()};
  } catch (...) {
    return {E_UNEXPECTED, {}};
  }
}

HRESULT caughtResult() noexcept {
  const ComFailure failure = caughtFailure();
  if (failure.description.empty()) return failure.result;
  try {
    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(create.put()))) {
      const std::wstring text = toWide(toUtf16(failure.description));
      create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
      create->SetSource(const_cast<LPOLESTR>(kSource));
      ComPtr<IErrorInfo> info = create.as<IErrorInfo>(IID_IErrorInfo);
      SetErrorInfo(0, info.get());
    }
  } catch (...) {
    // The HRESULT still says what failed.
  }
  return failure.result;
}

HRESULT caughtInvokeResult(EXCEPINFO* info) noexcept {
  const ComFailure failure = caughtFailure();
  if (info) {
    *info = EXCEPINFO{};
    info->bstrSource = SysAllocString(kSource);
    try {
      if (!failure.description.empty())
        info->bstrDescription = Bstr(toUtf16(failure.description)).detach();
    } catch (...) {
      // Without its text the failure is still reported.
    }
    info->scode = failure.result;
  }
  return DISP_E_EXCEPTION;
}

}  // namespace qmv::windows
