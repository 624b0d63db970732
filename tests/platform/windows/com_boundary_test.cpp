// The one conversion of failures into HRESULTs at the DLL's COM boundaries.
#include "platform/windows/com_boundary.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>

#include "host/host_error.hpp"
#include "platform/windows/com_support.hpp"

namespace qmv::windows {
namespace {

struct Row {
  const char* name;
  std::function<void()> body;
  HRESULT result;
  const wchar_t* description;  // the error information's text; null for none
};

const Row kRows[] = {
    {"nothing thrown", [] {}, S_OK, nullptr},
    {"Excel refused (1004)", [] { throw HostError(1004, "Refused"); },
     static_cast<HRESULT>(0x800A03EC), L"Refused"},
    {"object not set (91)", [] { throw HostError(91, "Object variable not set"); },
     static_cast<HRESULT>(0x800A005B), L"Object variable not set"},
    {"out of memory", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY, nullptr},
    {"another standard exception", [] { throw std::runtime_error("broken"); },
     static_cast<HRESULT>(0x800A0005), L"broken"},
    {"anything else", [] { throw 42; }, E_UNEXPECTED, nullptr},
};

TEST(ComBoundaryTest, EachFailureMapsToOneHResult) {
  ComApartment apartment;
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(comBoundary(row.body), row.result);
    ComPtr<IErrorInfo> info;
    const bool hasInfo = GetErrorInfo(0, info.put()) == S_OK && info;
    EXPECT_EQ(hasInfo, row.description != nullptr);
    if (hasInfo && row.description) {
      BSTR text = nullptr;
      info->GetDescription(&text);
      EXPECT_STREQ(text, row.description);
      SysFreeString(text);
    }
  }
}

TEST(ComBoundaryTest, AnInvokeReportsTheSameFailureInItsExceptionInfo) {
  for (const Row& row : kRows) {
    if (row.result == S_OK) continue;
    SCOPED_TRACE(row.name);
    EXCEPINFO info{};
    HRESULT hr = S_OK;
    try {
      row.body();
    } catch (...) {
      hr = caughtInvokeResult(&info);
    }
    EXPECT_EQ(hr, DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, row.result);
    if (row.description) {
      EXPECT_STREQ(info.bstrDescription, row.description);
    } else {
      EXPECT_EQ(info.bstrDescription, nullptr);
    }
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
  }
}

TEST(ComBoundaryTest, ABodyReturningAResultGivesIt) {
  EXPECT_EQ(comBoundary([] { return CLASS_E_CLASSNOTAVAILABLE; }), CLASS_E_CLASSNOTAVAILABLE);
}

}  // namespace
}  // namespace qmv::windows
