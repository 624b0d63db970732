#include "host/text.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#ifdef __wasm_simd128__
#include <wasm_simd128.h>
#endif

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

namespace {

// The UTF-8 of `utf16` into `out`, its storage reused: a lone surrogate becomes U+FFFD or,
// when `strict`, ends the encoding with false.
bool encodeUtf8(std::u16string_view utf16, bool strict, std::string& out) {
  out.resize(utf16.size() * 3);
  auto* const begin = reinterpret_cast<unsigned char*>(out.data());
  auto* next = begin;
  for (std::size_t i = 0; i < utf16.size(); ++i) {
#ifdef __wasm_simd128__
    // Eight ASCII units at a time. Sixteen bytes are stored and eight kept: three bytes a
    // unit of what is left leave room for them.
    const v128_t notAscii = wasm_i16x8_splat(static_cast<int16_t>(0xff80));
    while (utf16.size() - i >= 8) {
      const v128_t eight = wasm_v128_load(utf16.data() + i);
      if (wasm_v128_any_true(wasm_v128_and(eight, notAscii))) break;
      wasm_v128_store(next, wasm_u8x16_narrow_i16x8(eight, eight));
      next += 8;
      i += 8;
    }
    if (i == utf16.size()) break;
#endif
    char32_t cp = utf16[i];
    if (cp < 0x80) {
      *next++ = static_cast<unsigned char>(cp);
      continue;
    }
    if (isHighSurrogate(utf16[i]) && i + 1 < utf16.size() && isLowSurrogate(utf16[i + 1])) {
      cp = pairCodePoint(utf16[i], utf16[i + 1]);
      ++i;
    } else if (isHighSurrogate(utf16[i]) || isLowSurrogate(utf16[i])) {
      if (strict) return false;
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
  out.resize(static_cast<std::size_t>(next - begin));
  return true;
}

}  // namespace

std::string toUtf8(std::u16string_view utf16) {
  std::string out;
  encodeUtf8(utf16, false, out);
  return out;
}

bool toUtf8Exactly(std::u16string_view utf16, std::string& out) {
  return encodeUtf8(utf16, true, out);
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
