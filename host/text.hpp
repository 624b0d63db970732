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

/// True for a byte that goes on a UTF-8 sequence (10xxxxxx) rather than starting one.
constexpr bool isUtf8Continuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

/// Appends the UTF-8 bytes of a code point (a surrogate or a value past U+10FFFF is the
/// caller's fault: it is encoded as it stands).
void appendUtf8(std::string& out, char32_t c);

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
