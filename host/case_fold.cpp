#include "host/case_fold.hpp"

#include "host/text.hpp"

namespace qmv {

namespace {}  // namespace

void foldCaseInto(std::u16string& out, std::u16string_view text) {
  const std::size_t n = text.size();
  out.resize(n);
  // Most texts are ASCII: folded branch-free, which the compiler makes vector code of.
  char16_t any = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t u = text[i];
    any |= u;
    out[i] = static_cast<char16_t>(u + (static_cast<char16_t>(u - u'A') < 26 ? 32 : 0));
  }
  if (any < 0x80) return;
  text.copy(out.data(), n);
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t u = out[i];
    if (u < 0x80) {
      if (u >= u'A' && u <= u'Z') out[i] = static_cast<char16_t>(u + 32);
      continue;
    }
    if (isHighSurrogate(u) && i + 1 < n && isLowSurrogate(out[i + 1])) {
      const char32_t f = foldCodePoint(pairCodePoint(u, out[i + 1])) - 0x10000;
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
  std::size_t i = 0;
  while (i < n) {
    // A run of ASCII is folded in place.
    const std::size_t from = i;
    while (i < n && static_cast<unsigned char>(utf8[i]) < 0x80) ++i;
    const std::size_t at = out.size();
    out.append(utf8.substr(from, i - from));
    for (std::size_t k = at; k < out.size(); ++k) {
      if (out[k] >= 'A' && out[k] <= 'Z') out[k] = static_cast<char>(out[k] + 32);
    }
    if (i >= n) break;
    const std::size_t start = i;
    const char32_t c = decodeUtf8(utf8, i);
    if (c == 0xFFFD && utf8.substr(start, 3) != "\xEF\xBF\xBD") {
      out += utf8[start];  // not well-formed: the byte as it is
      continue;
    }
    const char32_t f = foldCodePoint(c);
    if (f == c) {
      out.append(utf8.substr(start, i - start));
    } else {
      appendUtf8(out, f);
    }
  }
}

std::string_view caseFoldVersion() { return detail::kFoldVersion; }

std::size_t caseFoldMappings() { return detail::kFoldMappings; }

}  // namespace qmv
