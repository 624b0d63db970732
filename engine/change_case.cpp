#include "engine/change_case.hpp"

#include "engine/unicode_classes.hpp"
#include "engine/unicode_text_data.hpp"

namespace qmv {

namespace {

using unicode_data::appendCodePoint;
using unicode_data::mapped;

// Maps each code point; `map` sees the code point and returns its new one.
template <class Map>
std::u16string eachCodePoint(std::u16string_view text, Map map) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint cp = codePointAt(text, at);
    if (cp.value >= 0xD800 && cp.value <= 0xDFFF) {
      out += static_cast<char16_t>(cp.value);  // a lone surrogate
    } else {
      appendCodePoint(out, map(cp.value));
    }
    at += cp.units;
  }
  return out;
}

bool isLetter(char32_t c) { return inClass(c, CharClass::Letter); }
bool isMark(char32_t c) { return inClass(c, CharClass::Mark); }
bool isLineBreak(char32_t c) { return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029; }
bool endsSentence(char32_t c) {
  return c == u'.' || c == u'!' || c == u'?' || c == 0x2026 || c == 0x3002 || c == 0xFF01 ||
         c == 0xFF0E || c == 0xFF1F;
}

}  // namespace

std::u16string toUpperCase(std::u16string_view text) {
  return eachCodePoint(text, [](char32_t c) { return mapped(unicode_data::upperMappings(), c); });
}

std::u16string toLowerCase(std::u16string_view text) {
  return eachCodePoint(text, [](char32_t c) { return mapped(unicode_data::lowerMappings(), c); });
}

std::u16string toProperCase(std::u16string_view text) {
  bool afterLetter = false;
  return eachCodePoint(text, [&](char32_t c) {
    if (isMark(c)) return c;  // keeps the state of its letter
    const bool letter = isLetter(c);
    const char32_t out = !letter       ? c
                         : afterLetter ? mapped(unicode_data::lowerMappings(), c)
                                       : mapped(unicode_data::titleMappings(), c);
    afterLetter = letter;
    return out;
  });
}

std::u16string toSentenceCase(std::u16string_view text) {
  bool starting = true;     // the next letter starts a sentence
  bool terminated = false;  // a sentence's end mark was seen; a space or break ends it
  return eachCodePoint(text, [&](char32_t c) {
    if (isLetter(c)) {
      const char32_t out = starting ? mapped(unicode_data::upperMappings(), c)
                                    : mapped(unicode_data::lowerMappings(), c);
      starting = terminated = false;
      return out;
    }
    if (isLineBreak(c) || (terminated && inClass(c, CharClass::Space))) {
      starting = true;
    } else if (endsSentence(c)) {
      terminated = true;
    } else if (!isMark(c) && !starting) {
      // Closing quotes and brackets may stand between the end mark and the space.
      const bool closing = c == u'"' || c == u'\'' || c == u')' || c == u']' || c == 0x201D ||
                           c == 0x2019 || c == 0xBB;
      terminated = terminated && closing;
    }
    return c;
  });
}

}  // namespace qmv
