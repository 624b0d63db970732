#include "host/text.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

namespace qmv {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

char32_t decodeUtf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
    min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
    min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
    min = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + static_cast<std::size_t>(extra) >= s.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

// Both converters write into a buffer sized for the longest result and trim it once: a
// UTF-8 byte gives at most one UTF-16 unit, a UTF-16 unit at most three UTF-8 bytes. ASCII,
// most of what cells hold, takes the short path.
std::u16string toUtf16(std::string_view utf8) {
  std::u16string out(utf8.size(), u'\0');
  char16_t* next = out.data();
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x80) {
      *next++ = byte;
      ++i;
      continue;
    }
    const char32_t cp = decodeUtf8(utf8, i);
    if (cp < 0x10000) {
      *next++ = static_cast<char16_t>(cp);
    } else {
      const char32_t v = cp - 0x10000;
      *next++ = static_cast<char16_t>(0xD800 + (v >> 10));
      *next++ = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    }
  }
  out.resize(static_cast<std::size_t>(next - out.data()));
  return out;
}

void appendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
    return;
  }
  const char32_t v = c - 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
}

std::string toUtf8(std::u16string_view utf16) {
  std::string out(utf16.size() * 3, '\0');
  auto* next = reinterpret_cast<unsigned char*>(out.data());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp < 0x80) {
      *next++ = static_cast<unsigned char>(cp);
      continue;
    }
    if (isHighSurrogate(utf16[i]) && i + 1 < utf16.size() && isLowSurrogate(utf16[i + 1])) {
      cp = pairCodePoint(utf16[i], utf16[i + 1]);
      ++i;
    } else if (isHighSurrogate(utf16[i]) || isLowSurrogate(utf16[i])) {
      cp = kReplacement;
    }
    if (cp < 0x800) {
      *next++ = static_cast<unsigned char>(0xC0 | (cp >> 6));
    } else if (cp < 0x10000) {
      *next++ = static_cast<unsigned char>(0xE0 | (cp >> 12));
      *next++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    } else {
      *next++ = static_cast<unsigned char>(0xF0 | (cp >> 18));
      *next++ = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
      *next++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    }
    *next++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
  }
  out.resize(static_cast<std::size_t>(next - reinterpret_cast<unsigned char*>(out.data())));
  return out;
}

std::optional<std::size_t> firstInvalidUtf8(std::string_view bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  std::size_t i = 0;
  while (i < size) {
    // ASCII runs are the common case; skip them eight bytes at a time.
    while (i + 8 <= size) {
      uint64_t word;
      std::memcpy(&word, data + i, 8);
      if ((word & 0x8080808080808080ULL) != 0) break;
      i += 8;
    }
    if (i >= size) break;
    const unsigned char b0 = data[i];
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;   // bounds of the second byte exclude overlong forms,
    unsigned char high = 0xBF;  // surrogates and code points past U+10FFFF
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3;
      if (b0 == 0xE0) low = 0xA0;
      if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4;
      if (b0 == 0xF0) low = 0x90;
      if (b0 == 0xF4) high = 0x8F;
    } else {
      return i;
    }
    if (i + 1 >= size || data[i + 1] < low || data[i + 1] > high) return i;
    for (std::size_t k = 2; k < length; ++k) {
      if (i + k >= size || !isUtf8Continuation(static_cast<char>(data[i + k]))) return i;
    }
    i += length;
  }
  return std::nullopt;
}

bool isValidUtf8(std::string_view bytes) { return !firstInvalidUtf8(bytes).has_value(); }

namespace {

struct Escape {
  char16_t unit;
  std::u16string_view text;
};

constexpr Escape kXmlAttribute[] = {
    {u'&', u"&amp;"}, {u'<', u"&lt;"}, {u'>', u"&gt;"}, {u'"', u"&quot;"}};
constexpr Escape kOneLine[] = {{u'\n', u"\\n"}, {u'\r', u"\\r"}, {u'\t', u"\\t"}};
constexpr Escape kQuotedString[] = {
    {u'"', u"\\\""}, {u'\\', u"\\\\"}, {u'\n', u"\\n"}, {u'\r', u"\\r"}, {u'\t', u"\\t"}};

void appendHexEscape(std::u16string& out, char16_t unit) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  out += u"\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

}  // namespace

std::u16string escapeText(std::u16string_view text, Escapes escapes) {
  std::span<const Escape> table;
  switch (escapes) {
    case Escapes::XmlAttribute:
      table = kXmlAttribute;
      break;
    case Escapes::OneLine:
      table = kOneLine;
      break;
    case Escapes::QuotedString:
      table = kQuotedString;
      break;
  }
  const bool controls = escapes != Escapes::XmlAttribute;
  const bool surrogates = escapes == Escapes::QuotedString;
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (surrogates && isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
      out += unit;
      out += text[++i];
      continue;
    }
    const auto escape =
        std::find_if(table.begin(), table.end(), [&](const Escape& e) { return e.unit == unit; });
    if (escape != table.end()) {
      out += escape->text;
    } else if ((controls && (unit < 0x20 || unit == 0x7F)) ||
               (surrogates && (isHighSurrogate(unit) || isLowSurrogate(unit)))) {
      appendHexEscape(out, unit);
    } else {
      out += unit;
    }
  }
  return out;
}

}  // namespace qmv
