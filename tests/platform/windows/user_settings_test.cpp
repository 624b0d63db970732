// The add-in's per-user settings in the registry, as the Excel bridge reads and writes them:
// HKEY_CURRENT_USER\Software\Vandrel QMV, DWORD values; anything else reads as unset.
#include "platform/windows/user_settings.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/text_rules.hpp"
#include "fake_excel.hpp"
#include "host/host_error.hpp"
#include "platform/windows/excel_host.hpp"
#include "platform/windows/registry_key.hpp"

namespace qmv::windows {
namespace {

constexpr wchar_t kName[] = L"UnicodeText";

// The value as the registry holds it: its type and bytes; no type when there is none.
struct Stored {
  DWORD type = REG_NONE;
  std::vector<BYTE> bytes;
};

std::optional<Stored> storedValue() {
  Stored s;
  DWORD size = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kUserSettingsKey, kName, RRF_RT_ANY | RRF_NOEXPAND, &s.type,
                   nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  s.bytes.resize(size);
  if (RegGetValueW(HKEY_CURRENT_USER, kUserSettingsKey, kName, RRF_RT_ANY | RRF_NOEXPAND, &s.type,
                   s.bytes.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  s.bytes.resize(size);
  return s;
}

void storeRaw(DWORD type, const void* data, DWORD size) {
  UniqueRegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kUserSettingsKey, 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key.get(), kName, 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
}

class UserSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(removeUserSetting(kName)); }
  void TearDown() override { removeUserSetting(kName); }

  // A fresh connection: a new application object over a new Excel, as after a restart.
  ApplicationPtr connect() {
    excels_.push_back(std::make_unique<fake::Excel>());
    return makeExcelApplication(excels_.back()->application.get());
  }

  std::vector<std::unique_ptr<fake::Excel>> excels_;
};

TEST_F(UserSettingsTest, WhatTheRegistryHoldsReadsAsTheseRules) {
  const DWORD one = 1;
  const DWORD zero = 0;
  const DWORD two = 2;
  const uint64_t wide = 1;
  const wchar_t text[] = L"1";
  const struct {
    const char* name;
    DWORD type;  // REG_NONE: no value at all
    const void* data;
    DWORD size;
    std::optional<std::u16string> setting;
    TextRules rules;
  } rows[] = {
      {"no value", REG_NONE, nullptr, 0, std::nullopt, TextRules::Classic},
      {"DWORD 1", REG_DWORD, &one, sizeof(one), u"1", TextRules::Unicode},
      {"DWORD 0", REG_DWORD, &zero, sizeof(zero), u"0", TextRules::Classic},
      {"DWORD 2, no known choice", REG_DWORD, &two, sizeof(two), u"2", TextRules::Classic},
      {"text \"1\": the wrong type", REG_SZ, text, sizeof(text), std::nullopt, TextRules::Classic},
      {"QWORD 1: the wrong type", REG_QWORD, &wide, sizeof(wide), std::nullopt, TextRules::Classic},
      {"binary 01 00 00 00: the wrong type", REG_BINARY, &one, sizeof(one), std::nullopt,
       TextRules::Classic},
      {"a DWORD of two bytes", REG_DWORD, &one, 2, std::nullopt, TextRules::Classic},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(removeUserSetting(kName));
    if (row.type != REG_NONE) storeRaw(row.type, row.data, row.size);
    ApplicationPtr app = connect();
    ASSERT_TRUE(app);
    EXPECT_EQ(app->addinSetting(kTextRulesSetting), row.setting);
    EXPECT_EQ(textRulesSetting(*app), row.rules);
    EXPECT_EQ(tryTextRulesSetting(*app), row.rules);
  }
}

TEST_F(UserSettingsTest, AStoredChoiceOutlivesTheConnection) {
  fake::Excel excel;
  std::vector<std::u16string> heard;
  ApplicationPtr first =
      makeExcelApplication(excel.application.get(), nullptr,
                           [&heard](const std::u16string& name) { heard.push_back(name); });
  ASSERT_TRUE(first);
  setTextRulesSetting(*first, TextRules::Unicode);
  EXPECT_EQ(heard, std::vector<std::u16string>{kTextRulesSetting});
  const std::optional<Stored> on = storedValue();
  ASSERT_TRUE(on);
  EXPECT_EQ(on->type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(on->bytes, (std::vector<BYTE>{1, 0, 0, 0}));
  first.reset();

  // Excel restarted: the next connection reads the user's choice back.
  ApplicationPtr second = connect();
  EXPECT_EQ(textRulesSetting(*second), TextRules::Unicode);
  setTextRulesSetting(*second, TextRules::Classic);
  const std::optional<Stored> off = storedValue();
  ASSERT_TRUE(off);
  EXPECT_EQ(off->type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(off->bytes, (std::vector<BYTE>{0, 0, 0, 0}));
  EXPECT_EQ(textRulesSetting(*connect()), TextRules::Classic);
}

TEST_F(UserSettingsTest, OnlyTheDigitsOfADwordAreStored) {
  const struct {
    std::u16string value;
    std::optional<std::vector<BYTE>> bytes;  // none: refused, nothing stored
  } rows[] = {
      {u"1", std::vector<BYTE>{1, 0, 0, 0}},
      {u"4294967295", std::vector<BYTE>{0xFF, 0xFF, 0xFF, 0xFF}},
      {u"4294967296", std::nullopt},
      {u"", std::nullopt},
      {u"-1", std::nullopt},
      {u" 1", std::nullopt},
      {u"on", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.value.begin(), row.value.end()));
    ASSERT_TRUE(removeUserSetting(kName));
    ApplicationPtr app = connect();
    if (row.bytes) {
      app->setAddinSetting(kTextRulesSetting, row.value);
      const std::optional<Stored> stored = storedValue();
      ASSERT_TRUE(stored);
      EXPECT_EQ(stored->bytes, *row.bytes);
      EXPECT_EQ(app->addinSetting(kTextRulesSetting), row.value);
    } else {
      EXPECT_THROW(app->setAddinSetting(kTextRulesSetting, row.value), HostError);
      EXPECT_FALSE(storedValue());
    }
  }
}

TEST_F(UserSettingsTest, RemovingAMissingValueIsNoFailure) {
  EXPECT_TRUE(removeUserSetting(kName));
  EXPECT_TRUE(removeUserSetting(L"NoSuchSetting"));
  writeUserSetting(kName, u"1");
  ASSERT_TRUE(storedValue());
  EXPECT_TRUE(removeUserSetting(kName));
  EXPECT_FALSE(storedValue());
  EXPECT_EQ(readUserSetting(kName), std::nullopt);
}

}  // namespace
}  // namespace qmv::windows
