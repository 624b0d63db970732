// Texts for the benchmarks: mixed 16-character texts of letters, digits, spaces and
// punctuation in varying order, starting with a letter so that none reads as a number or
// a date. The same seed gives the same texts in every benchmark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qmv::bench {

/// `count` texts; without digits, each digit is replaced by a letter.
inline std::vector<std::u16string> mixedTexts(int64_t count, bool withDigits) {
  static constexpr char16_t kAlphabet[] = u"ABCxyz0123456789 -./#Qq";
  constexpr std::size_t kAlphabetSize = sizeof(kAlphabet) / sizeof(kAlphabet[0]) - 1;
  std::vector<std::u16string> texts;
  texts.reserve(static_cast<std::size_t>(count));
  uint64_t seed = 0x9E3779B97F4A7C15ull;
  for (int64_t i = 0; i < count; ++i) {
    std::u16string text(16, u' ');
    for (auto& c : text) {
      seed ^= seed << 13;
      seed ^= seed >> 7;
      seed ^= seed << 17;
      c = kAlphabet[seed % kAlphabetSize];
      if (!withDigits && c >= u'0' && c <= u'9') c = static_cast<char16_t>(u'a' + (c - u'0'));
    }
    text[0] = u'K';
    texts.push_back(std::move(text));
  }
  return texts;
}

}  // namespace qmv::bench
