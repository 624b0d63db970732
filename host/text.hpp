// Conversions between UTF-8 (files, terminals) and the host's UTF-16 text, and the
// escaping of text written into markup or into one line of a script or transcript.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qmv {

/// Decodes UTF-8; each invalid byte sequence becomes U+FFFD.
std::u16string toUtf16(std::string_view utf8);

/// Encodes UTF-16; a lone surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view utf16);
/// Encodes UTF-16 into `out`, its storage reused; false, `out` then unspecified, when the
/// units hold a lone surrogate, which UTF-8 cannot carry.
bool toUtf8Exactly(std::u16string_view utf16, std::string& out);

/// True for a byte that goes on a UTF-8 sequence (10xxxxxx) rather than starting one.
constexpr bool isUtf8Continuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

/// True for a UTF-16 unit that opens a surrogate pair (U+D800-U+DBFF).
constexpr bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

/// True for a UTF-16 unit that closes a surrogate pair (U+DC00-U+DFFF).
constexpr bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

/// The code point of the surrogate pair `high`, `low` (the caller checked both).
constexpr char32_t pairCodePoint(char16_t high, char16_t low) {
  return 0x10000 + ((static_cast<char32_t>(high) - 0xD800) << 10) +
         (static_cast<char32_t>(low) - 0xDC00);
}

/// Appends the UTF-16 units of a code point: one below U+10000, else a surrogate pair.
void appendUtf16(std::u16string& out, char32_t c);

/// Decodes the code point of `utf8` at `i` and moves `i` past it; a sequence that is not
/// well-formed gives U+FFFD and moves `i` past one byte, so that decoding goes on.
char32_t decodeUtf8(std::string_view utf8, std::size_t& i);

/// Appends the UTF-8 bytes of a code point (a surrogate or a value past U+10FFFF is the
/// caller's fault: it is encoded as it stands).
inline void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

/// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

/// Offset of the first byte that is not part of well-formed UTF-8, if any.
std::optional<std::size_t> firstInvalidUtf8(std::string_view bytes);

/// The units escapeText writes otherwise, and how.
enum class Escapes {
  /// For an XML attribute value in double quotes: '&', '<', '>' and '"' as the entities
  /// "&amp;", "&lt;", "&gt;" and "&quot;".
  XmlAttribute,
  /// For one line of a transcript: line feed, carriage return and tab as "\n", "\r" and
  /// "\t", the other units below U+0020 and U+007F as "\u" and four upper-case hex digits.
  OneLine,
  /// For the body of a double-quoted script string: as OneLine, '"' and '\' each with a
  /// backslash before it, and a lone surrogate as "\u" and its four hex digits (a pair
  /// stays as it is), so that the string reads back to the same units.
  QuotedString,
};

/// `text` with the units `escapes` names written as their escapes; every other unit as it
/// stands.
std::u16string escapeText(std::u16string_view text, Escapes escapes);

}  // namespace qmv
