#include "host/case_fold.hpp"

#include "host/text.hpp"

namespace qmv {

namespace {

bool highSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool lowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

void foldCaseInto(std::u16string& out, std::u16string_view text) {
  out.assign(text);
  const std::size_t n = out.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t u = out[i];
    if (u < 0x80) {
      if (u >= u'A' && u <= u'Z') out[i] = static_cast<char16_t>(u + 32);
      continue;
    }
    if (highSurrogate(u) && i + 1 < n && lowSurrogate(out[i + 1])) {
      const char32_t c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                         (static_cast<char32_t>(out[i + 1]) - 0xDC00);
      const char32_t f = foldCodePoint(c) - 0x10000;
      out[i] = static_cast<char16_t>(0xD800 + (f >> 10));
      out[i + 1] = static_cast<char16_t>(0xDC00 + (f & 0x3FF));
      ++i;
      continue;
    }
    out[i] = foldCase(u);
  }
}

std::u16string foldCase(std::u16string_view text) {
  std::u16string out;
  foldCaseInto(out, text);
  return out;
}

void appendFoldedUtf8(std::string& out, std::string_view utf8) {
  const std::size_t n = utf8.size();
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(utf8[k]); };
  const auto continuation = [&](std::size_t k) { return k < n && (byte(k) & 0xC0) == 0x80; };
  std::size_t i = 0;
  while (i < n) {
    // A run of ASCII is folded in place.
    const std::size_t from = i;
    while (i < n && byte(i) < 0x80) ++i;
    const std::size_t at = out.size();
    out.append(utf8.substr(from, i - from));
    for (std::size_t k = at; k < out.size(); ++k) {
      if (out[k] >= 'A' && out[k] <= 'Z') out[k] = static_cast<char>(out[k] + 32);
    }
    if (i >= n) break;
    const unsigned char b0 = byte(i);
    char32_t c = 0;
    std::size_t length = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF && continuation(i + 1)) {
      c = ((b0 & 0x1Fu) << 6) | (byte(i + 1) & 0x3Fu);
      length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF && continuation(i + 1) && continuation(i + 2)) {
      c = ((b0 & 0x0Fu) << 12) | ((byte(i + 1) & 0x3Fu) << 6) | (byte(i + 2) & 0x3Fu);
      length = c >= 0x800 && (c < 0xD800 || c > 0xDFFF) ? 3 : 0;
    } else if (b0 >= 0xF0 && b0 <= 0xF4 && continuation(i + 1) && continuation(i + 2) &&
               continuation(i + 3)) {
      c = ((b0 & 0x07u) << 18) | ((byte(i + 1) & 0x3Fu) << 12) | ((byte(i + 2) & 0x3Fu) << 6) |
          (byte(i + 3) & 0x3Fu);
      length = c >= 0x10000 && c <= 0x10FFFF ? 4 : 0;
    }
    if (length == 0) {
      out += utf8[i++];  // not well-formed: the byte as it is
      continue;
    }
    const char32_t f = foldCodePoint(c);
    if (f == c) {
      out.append(utf8.substr(i, length));
    } else {
      appendUtf8(out, f);
    }
    i += length;
  }
}

std::string_view caseFoldVersion() { return detail::kFoldVersion; }

std::size_t caseFoldMappings() { return detail::kFoldMappings; }

}  // namespace qmv
