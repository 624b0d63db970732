// The Unicode character data of the case changes, the emoji removal, the look-alike repair
// and the character inspector, generated at build time from Debian's unicode-data
// (scripts/gen_unicode_text_data.py), so every platform compiles the same tables. Every
// table is sorted by its first code point.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

namespace qmv::unicode_data {

/// One code point mapped to one other (a simple case mapping, a width form's usual form).
struct CodeMapping {
  char32_t from;
  char32_t to;
};

/// A code point whose canonical combining class is not 0.
struct CombiningClass {
  char32_t codePoint;
  uint8_t value;
};

/// A code point's full compatibility decomposition: `length` code points of the pool from
/// `offset`.
struct DecompositionEntry {
  char32_t codePoint;
  uint32_t offset;
  uint8_t length;
};

/// A primary composite: `first` then `second` compose to `composite`.
struct Composition {
  char32_t first;
  char32_t second;
  char32_t composite;
};

/// The emoji property bits of a range of code points.
enum EmojiBit : uint8_t {
  kEmoji = 1,
  kEmojiPresentation = 2,
  kEmojiModifier = 4,
  kEmojiModifierBase = 8,
  kEmojiComponent = 16,
  kExtendedPictographic = 32,
};
struct EmojiRange {
  char32_t first;
  char32_t last;
  uint8_t bits;
};

/// A named character: its words are nameWordIndices() from `firstWord` up to the next
/// entry's.
struct NameEntry {
  char32_t codePoint;
  uint32_t firstWord;
};

/// A range whose characters have no name of their own in the data.
struct NamedRange {
  char32_t first;
  char32_t last;
  const char* label;
  bool numbered;  ///< the label, then the code point in hex ("CJK UNIFIED IDEOGRAPH-4E00")
  bool hangul;    ///< the label, then the syllable's jamo short names
};

std::span<const CodeMapping> upperMappings();
std::span<const CodeMapping> lowerMappings();
/// The simple title case mapping, or the upper case one where the data gives none.
std::span<const CodeMapping> titleMappings();
/// The fullwidth and halfwidth forms (decompositions tagged wide or narrow).
std::span<const CodeMapping> widthMappings();
std::span<const CombiningClass> combiningClasses();
std::span<const DecompositionEntry> decompositions();
std::span<const char32_t> decompositionPool();
/// Sorted by first, then second.
std::span<const Composition> compositions();
std::span<const EmojiRange> emojiRanges();
std::span<const char* const> nameWords();
std::span<const uint16_t> nameWordIndices();
std::span<const NameEntry> names();
std::span<const NamedRange> namedRanges();
std::span<const char* const> jamoLeads();
std::span<const char* const> jamoVowels();
std::span<const char* const> jamoTails();

/// The entry of `table` (sorted by its first member) for `codePoint`; null for none.
template <class Entry, class Key>
const Entry* findEntry(std::span<const Entry> table, char32_t codePoint, Key key) {
  const auto at = std::lower_bound(table.begin(), table.end(), codePoint,
                                   [&](const Entry& e, char32_t cp) { return key(e) < cp; });
  return at != table.end() && key(*at) == codePoint ? &*at : nullptr;
}

/// Appends one code point as UTF-16 (a lone surrogate as itself).
inline void appendCodePoint(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  }
}

/// The code point `table` maps `codePoint` to; the code point itself when it maps none.
inline char32_t mapped(std::span<const CodeMapping> table, char32_t codePoint) {
  const CodeMapping* found =
      findEntry(table, codePoint, [](const CodeMapping& m) { return m.from; });
  return found ? found->to : codePoint;
}

}  // namespace qmv::unicode_data
