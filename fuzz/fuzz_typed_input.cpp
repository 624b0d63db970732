// Checks the in-memory host's reading of typed input and the cell-text rule.
//
// Input: byte 0 picks the locale (bits 0-1) and how the rest is read (bit 2: UTF-16 units,
// so lone surrogates occur; else UTF-8 bytes, decoded as the tool decodes files); bytes 1-2
// give the current year; bytes 3-10 are a double's bits for the cell-text rule on a number
// and a date; the rest is the typed text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <variant>

#include "host/cell_text.hpp"
#include "host/text.hpp"
#include "platform/memory/memory_application.hpp"

namespace {

using qmv::CellContent;
using qmv::DateTime;
using qmv::HostLocale;
using qmv::Value;

void require(bool condition) {
  if (!condition) std::abort();
}

HostLocale localeOf(uint8_t selector) {
  switch (selector & 3) {
    case 1:
      return {u',', u'.', qmv::DateOrder::DayMonthYear};
    case 2:
      return {u'.', u'-', qmv::DateOrder::YearMonthDay};
    case 3:
      return {u',', u'/', qmv::DateOrder::DayMonthYear};
    default:
      return {};
  }
}

bool close(double a, double b, double relative) {
  return a == b || std::fabs(a - b) <= relative * std::max(std::fabs(a), std::fabs(b));
}

// The notation the host gives for a constant, read back as the host reads an assigned
// formula: the same kind of value, the same text exactly.
void requireNotationReadsBack(const Value& value, int year) {
  const std::u16string notation = qmv::formulaText(CellContent{value, {}});
  require(notation.empty() || notation.front() != u'=');
  if (qmv::parseErrorText(notation)) {
    require(std::holds_alternative<qmv::CellError>(value));
    return;
  }
  const Value back = qmv::parseTypedInput(notation, HostLocale{}, year);
  require(back.index() == value.index());
  if (const auto* text = std::get_if<std::u16string>(&value)) {
    require(std::get<std::u16string>(back) == *text);
  } else if (const auto* flag = std::get_if<bool>(&value)) {
    require(std::get<bool>(back) == *flag);
  } else if (const auto* number = std::get_if<double>(&value)) {
    require(close(std::get<double>(back), *number, 1e-14));
  } else if (const auto* date = std::get_if<DateTime>(&value)) {
    require(std::fabs(std::get<DateTime>(back).serial - date->serial) <= 1.0 / 86400);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 11) return 0;
  const HostLocale locale = localeOf(data[0]);
  const int year = 1900 + (data[1] | (data[2] << 8)) % 8100;
  double bits = 0;
  std::memcpy(&bits, data + 3, sizeof bits);

  std::u16string typed;
  if (data[0] & 4) {
    for (std::size_t i = 11; i + 1 < size; i += 2) {
      typed.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
  } else {
    typed = qmv::toUtf16(std::string_view(reinterpret_cast<const char*>(data + 11), size - 11));
  }

  // Typed input.
  const Value value = qmv::memory::parseTypedInput(typed, locale, year);
  if (typed.empty()) require(qmv::isEmpty(value));
  if (!typed.empty() && typed.front() == u'\'') {
    require(std::get<std::u16string>(value) == typed.substr(1));
  }
  if (const auto* text = std::get_if<std::u16string>(&value)) {
    require(*text == typed ||
            (!typed.empty() && typed.front() == u'\'' && *text == typed.substr(1)));
  }
  if (const auto* number = std::get_if<double>(&value)) require(std::isfinite(*number));
  if (const auto* date = std::get_if<DateTime>(&value)) {
    require(std::isfinite(date->serial) && date->serial >= 0 && date->serial < 2958466);
  }
  require(!std::holds_alternative<qmv::CellError>(value));
  const std::optional<std::u16string> shown = qmv::cellText(value, locale);
  require(shown.has_value());
  if (!qmv::isEmpty(value)) requireNotationReadsBack(value, year);

  // The cell-text rule on any finite number and any date a host could report.
  if (std::isfinite(bits)) {
    const std::optional<std::u16string> numberShown = qmv::cellText(Value{bits}, locale);
    require(numberShown && !numberShown->empty());
    if (bits == 0 || (std::fabs(bits) >= 1e-300 && std::fabs(bits) < 1e300)) {
      // The text of a number reads back as that number to 15 significant digits.
      const Value back = qmv::parseTypedInput(qmv::numberText(bits), HostLocale{}, year);
      require(std::holds_alternative<double>(back));
      require(close(std::get<double>(back), bits, 1e-14));
      requireNotationReadsBack(Value{bits}, year);
    }
    // A date has its text inside the host's calendar and none outside it.
    const bool inCalendar = bits >= -657434 && bits < 2958466;
    const std::optional<std::u16string> dateShown = qmv::cellText(Value{DateTime{bits}}, locale);
    require(dateShown.has_value() == inCalendar);
    if (dateShown) require(!dateShown->empty());
    require(!qmv::dateText(DateTime{bits}, locale).empty());
  }
  return 0;
}
