#include "engine/box_number.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace qmv {
namespace {

struct BoxRow {
  std::u16string text;
  std::optional<int16_t> expected;
};

TEST(BoxNumber, ReadsSixteenBitWholeNumbersWithHalvesToEven) {
  const BoxRow rows[] = {
      {u"1", 1},
      {u"0", 0},
      {u"007", 7},
      {u"32767", 32767},
      {u"-32768", -32768},
      {u"2.5", 2},
      {u"1.5", 2},
      {u"3.5", 4},
      {u"0.5", 0},
      {u"-2.5", -2},
      {u"-1.5", -2},
      {u"2.4999", 2},
      {u"2.5001", 3},
      {u"2.50000000000000000001", 3},
      {u"2.6", 3},
      {u"1.", 1},
      {u".5", 0},
      {u".6", 1},
      {u" 12 ", 12},
      {u"+4", 4},
      {u"32766.5", 32766},
      {u"32767.4", 32767},
      {u"-32768.5", -32768},
      {u"000000000000000000003", 3},
      {u"", std::nullopt},
      {u" ", std::nullopt},
      {u".", std::nullopt},
      {u"1.2.3", std::nullopt},
      {u"99999", std::nullopt},
      {u"32768", std::nullopt},
      {u"-32769", std::nullopt},
      {u"32767.5", std::nullopt},
      {u"-32768.6", std::nullopt},
      {u"abc", std::nullopt},
      {u"1a", std::nullopt},
      {u"-", std::nullopt},
      {u"+", std::nullopt},
      {u"--1", std::nullopt},
      {u"1 2", std::nullopt},
      {u"1e3", std::nullopt},
      {u"\uff11", std::nullopt},
      {u"100000000000000000000", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.text.begin(), row.text.end()));
    EXPECT_EQ(boxNumber(row.text), row.expected);
  }
}

TEST(BoxNumber, AgreesWithEveryWholeNumberInRange) {
  for (int32_t v = -32768; v <= 32767; v += 97) {
    SCOPED_TRACE(v);
    const std::string digits = std::to_string(v);
    const std::u16string text(digits.begin(), digits.end());
    EXPECT_EQ(boxNumber(text), static_cast<int16_t>(v));
  }
}

}  // namespace
}  // namespace qmv
