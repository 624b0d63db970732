// The late-binding helper against automation objects: property get and put, method calls
// with positional, named and omitted arguments, and the error numbers of failures.
#include "platform/windows/dispatch.hpp"

#include <gtest/gtest.h>

#include "fake_excel.hpp"

namespace qmv::windows {
namespace {

using fake::Call;
using fake::Failure;
using fake::Object;
using fake::text;

// An argument as the test reads it: omitted, a Boolean, or its text.
std::wstring describe(const Variant& v) {
  if (v.type() == VT_ERROR && v.get().scode == DISP_E_PARAMNOTFOUND) return L"<omitted>";
  if (v.type() == VT_BOOL) return v.get().boolVal ? L"true" : L"false";
  return text(v);
}

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(apartment_.result())); }
  ComApartment apartment_;
};

TEST_F(DispatchTest, GetAndPutReachTheProperty) {
  auto object = Object::create(L"Thing");
  object->props[L"Caption"] = Variant::fromText(u"old");
  object->props[L"Visible"] = Variant::fromInt(0);
  EXPECT_EQ(asText(get(object.get(), L"caption")), u"old");
  put(object.get(), L"Caption", u"new");
  EXPECT_EQ(text(object->props[L"Caption"]), L"new");
  put(object.get(), L"Visible", true);
  EXPECT_EQ(object->props[L"Visible"].type(), VT_BOOL);
}

TEST_F(DispatchTest, AnInterfaceTableAsksEachNameOnceForEveryObject) {
  struct Row {
    const char* name;
    std::wstring member;
    uint64_t names;  // GetIDsOfNames asked over two objects, two calls each
    int32_t error;   // 0: every call succeeds
  };
  const Row rows[] = {{"a member both have", L"Caption", 1, 0},
                      {"a member neither has is asked again", L"Missing", 4, 438}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    InterfaceIds ids;
    auto first = Object::create(L"Thing");
    auto second = Object::create(L"Thing");
    first->props[L"Caption"] = Variant::fromText(u"one");
    second->props[L"Caption"] = Variant::fromText(u"two");
    const uint64_t before = fake::namesCount();
    int32_t error = 0;
    std::wstring seen;
    for (Object* object : {first.get(), first.get(), second.get(), second.get()}) {
      try {
        seen += text(get(object, row.member, {}, &ids));
      } catch (const HostError& e) {
        error = e.number();
      }
    }
    EXPECT_EQ(fake::namesCount() - before, row.names);
    EXPECT_EQ(error, row.error);
    if (row.error == 0) {
      EXPECT_EQ(seen, L"oneonetwotwo");
    }
  }
}

TEST_F(DispatchTest, PositionalArgumentsArriveInParameterOrder) {
  auto object = Object::create(L"Thing");
  std::vector<std::wstring> seen;
  object->members[L"Add"] = [&](Call& c) {
    for (const Variant& v : c.args) seen.push_back(describe(v));
    return Variant();
  };
  call(object.get(), L"Add", {1, Arg::omitted(), u"x", false});
  const std::vector<std::wstring> expected{L"1", L"<omitted>", L"x", L"false"};
  EXPECT_EQ(seen, expected);
}

TEST_F(DispatchTest, NamedArgumentsArriveByName) {
  auto object = Object::create(L"Thing");
  std::wstring temporary;
  std::size_t positional = 99;
  object->members[L"Add"] = [&](Call& c) {
    positional = c.args.size();
    temporary = describe(c.named.at(L"Temporary"));
    return Variant();
  };
  call(object.get(), L"Add", {10, Arg(false).named(L"Temporary")});
  EXPECT_EQ(positional, 1u);
  EXPECT_EQ(temporary, L"false");
}

TEST_F(DispatchTest, PutWithIndexPassesIndexAndValue) {
  auto object = Object::create(L"Thing");
  std::vector<std::wstring> seen;
  object->members[L"Item"] = [&](Call& c) {
    EXPECT_TRUE(c.isPut());
    for (const Variant& v : c.args) seen.push_back(text(v));
    seen.push_back(text(c.value));
    return Variant();
  };
  invoke(object.get(), L"Item", InvokeKind::Put, {2, 3, u"v"});
  const std::vector<std::wstring> expected{L"2", L"3", L"v"};
  EXPECT_EQ(seen, expected);
}

TEST_F(DispatchTest, FailuresCarryTheHostErrorNumber) {
  struct Row {
    const char* name;
    int32_t raised;  // 0: no such member
    int32_t expected;
  };
  const Row rows[] = {
      {"refused method", 1004, 1004},
      {"subscript out of range", 9, 9},
      {"invalid call", 5, 5},
      {"unknown member", 0, 438},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto object = Object::create(L"Thing");
    if (row.raised) {
      object->members[L"Fail"] = [&](Call&) -> Variant { throw Failure{row.raised}; };
    }
    try {
      call(object.get(), L"Fail");
      ADD_FAILURE() << "no error";
    } catch (const HostError& e) {
      EXPECT_EQ(e.number(), row.expected);
    }
  }
}

TEST_F(DispatchTest, CallingOnNothingIsObjectNotSet) {
  try {
    get(nullptr, L"Name");
    ADD_FAILURE() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), host_errors::kObjectNotSet);
  }
}

TEST_F(DispatchTest, ErrorNumberReadsExcepInfo) {
  EXCEPINFO info{};
  info.scode = static_cast<SCODE>(0x800A03EC);
  EXPECT_EQ(errorNumber(DISP_E_EXCEPTION, &info), 1004);
  info.scode = 0;
  info.wCode = 91;
  EXPECT_EQ(errorNumber(DISP_E_EXCEPTION, &info), 91);
  EXPECT_EQ(errorNumber(DISP_E_TYPEMISMATCH, nullptr), 13);
}

TEST_F(DispatchTest, ResultsConvert) {
  EXPECT_EQ(asInt(Variant::fromText(u"42")), 42);
  EXPECT_DOUBLE_EQ(asDouble(Variant::fromInt(7)), 7.0);
  EXPECT_TRUE(asBool(Variant::fromInt(1)));
  EXPECT_FALSE(asObject(Variant()));
  EXPECT_THROW(asObject(Variant::fromInt(1)), HostError);
  EXPECT_THROW(asInt(Variant::fromText(u"abc")), HostError);
}

}  // namespace
}  // namespace qmv::windows
