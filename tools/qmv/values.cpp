#include "tools/qmv/values.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "host/cell_text.hpp"
#include "host/civil_date.hpp"
#include "host/text.hpp"

namespace qmv::cli {
namespace {

// Reads exactly `width` digits at `pos`.
std::optional<int> digits(std::string_view text, std::size_t pos, std::size_t width) {
  if (pos + width > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = pos; i < pos + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

double serialOf(const CivilDateTime& when) {
  const auto days = static_cast<double>(serialDayOf({when.year, when.month, when.day}));
  const int seconds = when.hour * 3600 + when.minute * 60 + when.second;
  return days + seconds / 86400.0;
}

CivilDateTime civilOf(double serial) {
  double whole = std::floor(serial);
  auto seconds = static_cast<int64_t>(std::llround((serial - whole) * 86400.0));
  if (seconds >= 86400) {
    whole += 1;
    seconds -= 86400;
  }
  CivilDateTime when;
  const CivilDate date = civilDateOf(static_cast<int64_t>(whole));
  when.year = static_cast<int>(date.year);
  when.month = static_cast<int>(date.month);
  when.day = static_cast<int>(date.day);
  when.hour = static_cast<int>(seconds / 3600);
  when.minute = static_cast<int>(seconds / 60 % 60);
  when.second = static_cast<int>(seconds % 60);
  return when;
}

std::optional<CivilDateTime> parseIsoDateTime(std::string_view text) {
  if (text.size() != 10 && text.size() != 19) return std::nullopt;
  if (text[4] != '-' || text[7] != '-') return std::nullopt;
  const auto year = digits(text, 0, 4);
  const auto month = digits(text, 5, 2);
  const auto day = digits(text, 8, 2);
  if (!year || !month || !day || *year < 1900 || !isCalendarDate(*year, *month, *day)) {
    return std::nullopt;
  }
  CivilDateTime when{*year, *month, *day, 0, 0, 0};
  if (text.size() == 19) {
    if (text[10] != 'T' || text[13] != ':' || text[16] != ':') return std::nullopt;
    const auto hour = digits(text, 11, 2);
    const auto minute = digits(text, 14, 2);
    const auto second = digits(text, 17, 2);
    if (!hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 59) {
      return std::nullopt;
    }
    when.hour = *hour;
    when.minute = *minute;
    when.second = *second;
  }
  return when;
}

std::optional<double> parseScriptNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return std::nullopt;
  // Only the plain decimal forms: no "inf", "nan" or hexadecimal.
  for (const char c : text) {
    const bool allowed =
        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
    if (!allowed) return std::nullopt;
  }
  double value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::string quoteText(std::u16string_view text) {
  std::string out = "\"";
  out += toUtf8(escapeText(text, Escapes::QuotedString));
  out += '"';
  return out;
}

std::string formatValue(const Value& value) {
  if (std::holds_alternative<std::monostate>(value)) return "empty";
  if (const auto* text = std::get_if<std::u16string>(&value)) return quoteText(*text);
  if (const auto* number = std::get_if<double>(&value)) {
    if (*number == 0) return "0";
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), *number);
    return std::string(buffer.data(), result.ptr);
  }
  if (const auto* flag = std::get_if<bool>(&value)) return *flag ? "TRUE" : "FALSE";
  if (const auto* date = std::get_if<DateTime>(&value)) {
    const CivilDateTime when = civilOf(date->serial);
    char buffer[48];
    if (when.hour != 0 || when.minute != 0 || when.second != 0) {
      std::snprintf(buffer, sizeof buffer, "date:%04d-%02d-%02dT%02d:%02d:%02d", when.year,
                    when.month, when.day, when.hour, when.minute, when.second);
    } else {
      std::snprintf(buffer, sizeof buffer, "date:%04d-%02d-%02d", when.year, when.month, when.day);
    }
    return buffer;
  }
  if (const auto* error = std::get_if<CellError>(&value)) {
    std::string out = "error:";
    out += toUtf8(errorText(*error));
    return out;
  }
  return "?";
}

std::string formatContent(const CellContent& content) {
  if (!content.isFormula()) return formatValue(content.value);
  return "formula " + quoteText(content.formula) + " " + formatValue(content.value);
}

bool sameValue(const Value& a, const Value& b) {
  if (a.index() != b.index()) return false;
  if (const auto* x = std::get_if<DateTime>(&a)) {
    return std::fabs(x->serial - std::get<DateTime>(b).serial) < 0.5 / 86400.0;
  }
  return a == b;
}

bool sameContent(const CellContent& a, const CellContent& b) {
  return a.formula == b.formula && sameValue(a.value, b.value);
}

std::string cellName(CellRef cell) {
  return toUtf8(columnLetters(cell.column)) + std::to_string(cell.row);
}

std::string colourText(std::optional<uint32_t> colour) {
  if (!colour) return "none";
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%06X", static_cast<unsigned>(*colour & 0xFFFFFF));
  return buffer;
}

}  // namespace qmv::cli
