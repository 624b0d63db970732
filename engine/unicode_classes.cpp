#include "engine/unicode_classes.hpp"

#include <algorithm>
#include <array>

namespace qmv {

namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;

// The class bits of the first 256 code points, so Latin-1 text needs no search.
std::array<uint8_t, 256> latin1Bits() {
  std::array<uint8_t, 256> bits{};
  for (int c = 0; c < kCharClassCount; ++c) {
    for (const CodeRange& r : unicode_data::ranges(static_cast<CharClass>(c))) {
      for (char32_t cp = r.first; cp <= r.last && cp < 256; ++cp) {
        bits[cp] = static_cast<uint8_t>(bits[cp] | (1u << c));
      }
    }
  }
  return bits;
}

bool searchRanges(std::span<const CodeRange> ranges, char32_t cp) {
  const auto it = std::upper_bound(ranges.begin(), ranges.end(), cp,
                                   [](char32_t v, const CodeRange& r) { return v < r.first; });
  return it != ranges.begin() && cp <= std::prev(it)->last;
}

}  // namespace

bool inClass(char32_t codePoint, CharClass c) {
  static const std::array<uint8_t, 256> kLatin1 = latin1Bits();
  if (codePoint < 256) return (kLatin1[codePoint] >> static_cast<int>(c)) & 1u;
  if (codePoint > kMaxCodePoint) return false;
  return searchRanges(unicode_data::ranges(c), codePoint);
}

uint32_t classificationDigest() {
  uint32_t h = 0x811C9DC5u;
  for (char32_t cp = 0; cp <= kMaxCodePoint; ++cp) {
    uint32_t bits = 0;
    for (int c = 0; c < kCharClassCount; ++c) {
      if (inClass(cp, static_cast<CharClass>(c))) bits |= 1u << c;
    }
    h = (h ^ bits) * 0x01000193u;
  }
  return h;
}

char32_t accentBase(char32_t codePoint) {
  const std::span<const AccentBase> bases = unicode_data::accentBases();
  const auto it = std::lower_bound(bases.begin(), bases.end(), codePoint,
                                   [](const AccentBase& b, char32_t v) { return b.codePoint < v; });
  return it != bases.end() && it->codePoint == codePoint ? it->base : codePoint;
}

bool takesAccents(char32_t codePoint) {
  // A-Z and a-z, the common case, without a search.
  if (codePoint < 0x80) return ((codePoint | 0x20) - U'a') < 26;
  return searchRanges(unicode_data::accentedLetters(), codePoint);
}

uint32_t generatedClassificationDigest() { return unicode_data::kDigest; }

std::size_t codePointCount(std::u16string_view text) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size(); at += codePointAt(text, at).units) ++count;
  return count;
}

std::size_t unitOffset(std::u16string_view text, std::size_t index) {
  std::size_t at = 0;
  for (; at < text.size() && index > 0; --index) at += codePointAt(text, at).units;
  return at;
}

}  // namespace qmv
