#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "host/ascii.hpp"
#include "host/cell_text.hpp"
#include "host/civil_date.hpp"
#include "host/number_format.hpp"
#include "host/text.hpp"
#include "tools/xlsx/package.hpp"
#include "tools/xlsx/workbook.hpp"

namespace qmv::xlsx {
namespace {

bool isHex(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

// True when `text` at `i` holds the form _xHHHH_.
bool escapedAt(std::u16string_view text, std::size_t i) {
  if (i + 7 > text.size() || text[i] != u'_' || text[i + 1] != u'x' || text[i + 6] != u'_') {
    return false;
  }
  for (std::size_t k = 2; k < 6; ++k) {
    if (!isHex(text[i + k])) return false;
  }
  return true;
}

std::string hexEscape(char16_t unit) {
  std::array<char, 8> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "_x%04X_", static_cast<unsigned>(unit));
  return buffer.data();
}

std::string numberXml(double number) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), number);
  return std::string(buffer.data(), result.ptr);
}

std::string xmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string cellReference(CellRef ref) {
  // Column letters are base 26 without a zero (A..Z, AA..), written from the right.
  std::array<char, 32> buffer{};
  std::size_t begin = 16;
  for (int64_t column = ref.column; column > 0 && begin > 0; column = (column - 1) / 26) {
    buffer[--begin] = static_cast<char>('A' + (column - 1) % 26);
  }
  const auto end = std::to_chars(buffer.data() + 16, buffer.data() + buffer.size(), ref.row).ptr;
  return std::string(buffer.data() + begin, end);
}

namespace {

// One pass from UTF-16 to escaped UTF-8 onto `out`: a cell's text is encoded as it is
// escaped.
void appendEscaped(std::string& out, std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    // A run of printable ASCII that needs no escape goes over in one piece.
    std::size_t plain = i;
    while (plain < text.size() && text[plain] >= 0x20 && text[plain] < 0x7F &&
           text[plain] != u'&' && text[plain] != u'<' && text[plain] != u'>' &&
           text[plain] != u'_') {
      ++plain;
    }
    if (plain > i) {
      const std::size_t at = out.size();
      out.resize(at + (plain - i));
      std::transform(text.begin() + static_cast<std::ptrdiff_t>(i),
                     text.begin() + static_cast<std::ptrdiff_t>(plain),
                     out.begin() + static_cast<std::ptrdiff_t>(at),
                     [](char16_t unit) { return static_cast<char>(unit); });
      i = plain;
      if (i == text.size()) break;
    }
    const char16_t c = text[i];
    const bool high = isHighSurrogate(c);
    const bool low = isLowSurrogate(c);
    if (high && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
      appendUtf8(out, pairCodePoint(c, text[i + 1]));
      ++i;
      continue;
    }
    // Tab and line feed travel as they are; a carriage return is escaped, as are the
    // characters XML cannot carry and the lead underscore of a literal _xHHHH_ ([MS-OI29500]
    // 2.1.1747, ST_Xstring).
    const bool control = (c < 0x20 && c != u'\t' && c != u'\n') || c == 0xFFFE || c == 0xFFFF;
    if (control || high || low || (c == u'_' && escapedAt(text, i))) {
      out += hexEscape(c);
    } else if (c == u'&') {
      out += "&amp;";
    } else if (c == u'<') {
      out += "&lt;";
    } else if (c == u'>') {
      out += "&gt;";
    } else {
      appendUtf8(out, c);
    }
  }
}

}  // namespace

std::string escapeStringText(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  appendEscaped(out, text);
  return out;
}

std::u16string decodeStringText(std::u16string_view text) {
  if (text.find(u"_x") == std::u16string_view::npos) return std::u16string(text);
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (escapedAt(text, i)) {
      unsigned value = 0;
      for (std::size_t k = 2; k < 6; ++k) {
        const char16_t h = text[i + k];
        value = value * 16 + (h <= u'9' ? h - u'0' : (h | 0x20) - u'a' + 10);
      }
      out += static_cast<char16_t>(value);
      i += 6;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string cellXml(CellRef ref, std::optional<uint32_t> style, const Value& value,
                    std::string_view prefix) {
  // The element names, with the part's own prefix when it writes one. Built by appending
  // into one string: a rewrite makes one of these per changed cell.
  std::string out;
  out.reserve(96);
  const auto tag = [&](std::string_view open, std::string_view name) {
    out += open;
    if (!prefix.empty()) {
      out += prefix;
      out += ':';
    }
    out += name;
  };
  tag("<", "c r=\"");
  out += cellReference(ref);
  out += '"';
  if (style) {
    out += " s=\"";
    out += std::to_string(*style);
    out += '"';
  }
  if (isEmpty(value)) return out + "/>";
  const auto valueElement = [&](std::string_view type, std::string_view text) {
    if (!type.empty()) {
      out += " t=\"";
      out += type;
      out += '"';
    }
    out += '>';
    tag("<", "v>");
    out += text;
    tag("</", "v>");
    tag("</", "c>");
    return out;
  };
  if (const auto* number = std::get_if<double>(&value)) return valueElement({}, numberXml(*number));
  // A date goes in as its serial number in the cell's own format: the date cell type t="d"
  // is only read from Office 2010 on (Open XML SDK, CellValues enumeration).
  if (const auto* date = std::get_if<DateTime>(&value)) {
    return valueElement({}, numberXml(date->serial));
  }
  if (const auto* flag = std::get_if<bool>(&value)) return valueElement("b", *flag ? "1" : "0");
  if (const auto* error = std::get_if<CellError>(&value)) {
    return valueElement("e", xmlEscape(toUtf8(errorText(*error))));
  }
  // An inline string keeps the shared strings part as it was ([MS-OI29500] 2.1.660: a
  // spreadsheet application may use inline strings to bypass the shared string table).
  const std::u16string& text = std::get<std::u16string>(value);
  const bool edgeSpace =
      !text.empty() && (text.front() == u' ' || text.back() == u' ' || text.front() == u'\t' ||
                        text.back() == u'\t' || text.front() == u'\n' || text.back() == u'\n');
  out += " t=\"inlineStr\"";
  out += '>';
  tag("<", "is>");
  tag("<", "t");
  if (edgeSpace) out += " xml:space=\"preserve\"";
  out += '>';
  appendEscaped(out, text);
  tag("</", "t>");
  tag("</", "is>");
  tag("</", "c>");
  return out;
}

bool isDateFormat(uint32_t id, std::string_view code) {
  if (code.empty()) {
    // The built-in date and time formats (ECMA-376 Part 1, 18.8.30 numFmt), with the East
    // Asian ones.
    return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
           (id >= 50 && id <= 58) || (id >= 71 && id <= 76) || (id >= 78 && id <= 81);
  }
  return isDateFormatCode(code);
}

}  // namespace qmv::xlsx

namespace qmv::xlsx {
namespace {

// The built-in date and time formats' codes in the en-US display (Number format codes,
// support.microsoft.com: "Review guidelines for customizing a number format").
std::string_view builtInDateCode(uint32_t id) {
  switch (id) {
    case 14:
      return "m/d/yyyy";
    case 15:
      return "d-mmm-yy";
    case 16:
      return "d-mmm";
    case 17:
      return "mmm-yy";
    case 18:
      return "h:mm AM/PM";
    case 19:
      return "h:mm:ss AM/PM";
    case 20:
      return "h:mm";
    case 21:
      return "h:mm:ss";
    case 22:
      return "m/d/yyyy h:mm";
    case 45:
      return "mm:ss";
    default:
      return {};
  }
}

constexpr std::array<std::string_view, 12> kMonths = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<std::string_view, 7> kWeekdays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                       "Thursday", "Friday", "Saturday"};

void appendNumber(std::string& out, int64_t n, int width) {
  const std::string digits = std::to_string(n);
  if (static_cast<int>(digits.size()) < width) out.append(width - digits.size(), '0');
  out += digits;
}

// How many times `c` repeats (either case) from `i`.
std::size_t runOf(std::string_view code, std::size_t i) {
  const char c = asciiLower(code[i]);
  std::size_t n = 0;
  while (i + n < code.size() && asciiLower(code[i + n]) == c) ++n;
  return n;
}

}  // namespace

std::optional<std::string> dateDisplay(double serial, uint32_t id, std::string_view code) {
  if (code.empty()) code = builtInDateCode(id);
  if (code.empty() || serial < 0 || serial >= 2958466) return std::nullopt;
  const bool twelveHour = asciiLowered(code).find("am/pm") != std::string::npos ||
                          asciiLowered(code).find("a/p") != std::string::npos;
  // The day and the second shown, rounded as the display rounds.
  auto seconds = static_cast<int64_t>(std::llround((serial - std::floor(serial)) * 86400));
  int64_t days = static_cast<int64_t>(std::floor(serial));
  if (seconds == 86400) {
    ++days;
    seconds = 0;
  }
  // Serial 60 is 2/29/1900, a day the 1900 system counts though it never was; days from
  // 1899-12-30 give the right date from 3/1/1900 on.
  int64_t year = 1900, month = 2, day = 29;
  if (days != 60) {
    const CivilDate date = civilDateOf(days < 60 ? days + 1 : days);
    year = date.year, month = date.month, day = date.day;
  }
  const int64_t weekday = (days + 6) % 7;  // serial 1 (1/1/1900) was a Sunday in Excel
  const int64_t hour = seconds / 3600, minute = seconds / 60 % 60, second = seconds % 60;
  std::string out;
  bool afterHour = false;  // an m after h (or before s) is minutes
  for (std::size_t i = 0; i < code.size();) {
    const char c = code[i];
    const char lower = asciiLower(c);
    if (c == ';') break;  // the first section is the one for positive numbers
    if (c == '"') {
      const std::size_t close = code.find('"', i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      out.append(code.substr(i + 1, close - i - 1));
      i = close + 1;
    } else if (c == '\\' && i + 1 < code.size()) {
      out += code[i + 1];
      i += 2;
    } else if (c == '_' && i + 1 < code.size()) {
      out += ' ';  // the width of the next character
      i += 2;
    } else if (c == '*' && i + 1 < code.size()) {
      i += 2;  // fill: no width to fill here
    } else if (c == '[') {
      const std::size_t close = code.find(']', i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      const std::string_view inside = code.substr(i + 1, close - i - 1);
      if (!inside.empty() && inside.find_first_not_of("hHmMsS") == std::string_view::npos) {
        return std::nullopt;  // elapsed time
      }
      i = close + 1;
    } else if (lower == 'a' && (asciiLowered(code.substr(i, 5)) == "am/pm")) {
      out += hour < 12 ? (c == 'a' ? "am" : "AM") : (c == 'a' ? "pm" : "PM");
      i += 5;
    } else if (lower == 'a' && asciiLowered(code.substr(i, 3)) == "a/p") {
      out += hour < 12 ? (c == 'a' ? "a" : "A") : (c == 'a' ? "p" : "P");
      i += 3;
    } else if (lower == 'y' || lower == 'e') {
      const std::size_t n = runOf(code, i);
      if (n <= 2 && lower == 'y') {
        appendNumber(out, year % 100, 2);
      } else {
        appendNumber(out, year, 4);
      }
      i += n;
    } else if (lower == 'd') {
      const std::size_t n = runOf(code, i);
      if (n >= 4) {
        out.append(kWeekdays[weekday]);
      } else if (n == 3) {
        out.append(kWeekdays[weekday].substr(0, 3));
      } else {
        appendNumber(out, day, static_cast<int>(n));
      }
      i += n;
    } else if (lower == 'h') {
      const std::size_t n = runOf(code, i);
      const int64_t shown = twelveHour ? (hour % 12 == 0 ? 12 : hour % 12) : hour;
      appendNumber(out, shown, n >= 2 ? 2 : 1);
      afterHour = true;
      i += n;
    } else if (lower == 's') {
      const std::size_t n = runOf(code, i);
      appendNumber(out, second, n >= 2 ? 2 : 1);
      i += n;
      if (i < code.size() && code[i] == '.') return std::nullopt;  // fractions of a second
    } else if (lower == 'm') {
      const std::size_t n = runOf(code, i);
      // Minutes after an hour or before seconds (literals between them aside).
      std::size_t next = i + n;
      while (next < code.size() &&
             std::string_view(":/-., ").find(code[next]) != std::string_view::npos)
        ++next;
      const bool minutes =
          n <= 2 && (afterHour || (next < code.size() && asciiLower(code[next]) == 's'));
      if (minutes) {
        appendNumber(out, minute, static_cast<int>(n));
        afterHour = false;
      } else if (n == 5) {
        out += kMonths[static_cast<std::size_t>(month - 1)][0];
      } else if (n == 4) {
        out.append(kMonths[static_cast<std::size_t>(month - 1)]);
      } else if (n == 3) {
        out.append(kMonths[static_cast<std::size_t>(month - 1)].substr(0, 3));
      } else {
        appendNumber(out, month, static_cast<int>(n));
      }
      i += n;
    } else if (lower == 'g' && asciiLowered(code.substr(i, 7)) == "general") {
      return std::nullopt;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace qmv::xlsx
