#include <array>
#include <charconv>
#include <cstdio>

#include "host/cell_text.hpp"
#include "host/text.hpp"
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
  return toUtf8(columnLetters(ref.column)) + std::to_string(ref.row);
}

std::string escapeStringText(std::u16string_view text) {
  std::string out;
  std::u16string plain;
  auto flushPlain = [&] {
    out += xmlEscape(toUtf8(plain));
    plain.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    const bool low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      plain += c;
      plain += text[++i];
      continue;
    }
    // Tab and line feed travel as they are; a carriage return is escaped, as are the
    // characters XML cannot carry and the lead underscore of a literal _xHHHH_ ([MS-OI29500]
    // 2.1.1747, ST_Xstring).
    const bool control = (c < 0x20 && c != u'\t' && c != u'\n') || c == 0xFFFE || c == 0xFFFF;
    if (control || high || low || escapedAt(text, i)) {
      flushPlain();
      out += hexEscape(c);
      continue;
    }
    plain += c;
  }
  flushPlain();
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
  // The element names, with the part's own prefix when it writes one.
  const std::string p = prefix.empty() ? std::string() : std::string(prefix) + ":";
  std::string out = "<" + p + "c r=\"" + cellReference(ref) + "\"";
  if (style) out += " s=\"" + std::to_string(*style) + "\"";
  if (isEmpty(value)) return out + "/>";
  const auto valueElement = [&](std::string_view type, const std::string& text) {
    if (!type.empty()) out += " t=\"" + std::string(type) + "\"";
    return out + "><" + p + "v>" + text + "</" + p + "v></" + p + "c>";
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
  out += " t=\"inlineStr\"><" + p + "is><" + p + "t";
  if (edgeSpace) out += " xml:space=\"preserve\"";
  return out + ">" + escapeStringText(text) + "</" + p + "t></" + p + "is></" + p + "c>";
}

bool isDateFormat(uint32_t id, std::string_view code) {
  if (code.empty()) {
    // The built-in date and time formats (ECMA-376 Part 1, 18.8.30 numFmt), with the East
    // Asian ones.
    return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
           (id >= 50 && id <= 58) || (id >= 71 && id <= 76) || (id >= 78 && id <= 81);
  }
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (c == '"') {
      const std::size_t close = code.find('"', i + 1);
      if (close == std::string_view::npos) return false;
      i = close;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;  // an escaped, padding or fill character
    } else if (c == '[') {
      const std::size_t close = code.find(']', i + 1);
      if (close == std::string_view::npos) return false;
      // [h], [mm] and [ss] are elapsed times; colours, conditions and locales are not.
      const std::string_view inside = code.substr(i + 1, close - i - 1);
      if (!inside.empty() && inside.find_first_not_of("hHmMsS") == std::string_view::npos) {
        return true;
      }
      i = close;
    } else if (std::string_view("dDmMyYhHsS").find(c) != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace qmv::xlsx
