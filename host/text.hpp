// Conversions between UTF-8 (files, terminals) and the host's UTF-16 text.
#pragma once

#include <string>
#include <string_view>

namespace qmv {

/// Decodes UTF-8; each invalid byte sequence becomes U+FFFD.
std::u16string toUtf16(std::string_view utf8);

/// Encodes UTF-16; a lone surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view utf16);

/// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

}  // namespace qmv
