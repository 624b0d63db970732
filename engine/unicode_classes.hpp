// The character classes of the Unicode text rules, and walking UTF-16 text by code point.
//
// The classes come from the Unicode character data at build time (one generated table for
// every platform):
//   Space         the space separators (category Zs) and the tab
//   NonPrintable  the controls (category Cc: U+0000-U+001F, U+007F-U+009F) and the
//                 zero-width characters U+200B-U+200D, U+2060 and U+FEFF
//   Letter        the letters of every script (categories Lu, Ll, Lt, Lm, Lo)
//   Upper, Lower  the upper-case (Lu) and lower-case (Ll) letters; title-case and
//                 case-less letters are neither
//   Mark          the combining marks (categories Mn, Mc, Me), as in a decomposed e acute
//   Digit         the decimal digits of every script (category Nd)
//   PunctuationOrSymbol  the punctuation (categories P*) and the symbols (S*)
// A lone surrogate is a code point of its own and belongs to no class.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qmv {

/// One class of characters.
enum class CharClass : uint8_t {
  Space,
  NonPrintable,
  Letter,
  Upper,
  Lower,
  Mark,
  Digit,
  PunctuationOrSymbol
};

inline constexpr int kCharClassCount = 8;

/// A closed range of code points.
struct CodeRange {
  char32_t first;
  char32_t last;
};

/// True when the code point belongs to the class; false above U+10FFFF.
bool inClass(char32_t codePoint, CharClass c);

/// The digest of the whole classification as this program computes it (FNV-1a over one
/// byte of class bits per code point, U+0000 to U+10FFFF, bit i for CharClass i).
uint32_t classificationDigest();

/// The same digest, computed from the character data when the tables were generated.
uint32_t generatedClassificationDigest();

/// One code point of UTF-16 text and the code units it takes.
struct CodePoint {
  char32_t value;
  std::size_t units;  ///< 1, or 2 for a surrogate pair
};

/// The code point that starts at `at` (< text.size()): a surrogate pair gives one code
/// point of two units; a lone surrogate stands for itself.
inline CodePoint codePointAt(std::u16string_view text, std::size_t at) {
  const char16_t high = text[at];
  if (high >= 0xD800 && high <= 0xDBFF && at + 1 < text.size()) {
    const char16_t low = text[at + 1];
    if (low >= 0xDC00 && low <= 0xDFFF) {
      return {0x10000 + ((char32_t{high} - 0xD800) << 10) + (char32_t{low} - 0xDC00), 2};
    }
  }
  return {high, 1};
}

/// The number of code points of the text.
std::size_t codePointCount(std::u16string_view text);

/// The offset in code units where the code point of 0-based index `index` starts; the text's
/// size when the text has no more than `index` code points.
std::size_t unitOffset(std::u16string_view text, std::size_t index);

/// A character whose full canonical decomposition is one base character and combining
/// marks: the base (U+00E9 e acute -> U+0065 e, U+212B ANGSTROM SIGN -> U+0041 A).
struct AccentBase {
  char32_t codePoint;
  char32_t base;
};

/// The base of a character whose canonical decomposition is a letter that takesAccents and
/// marks; the code point itself for every other one (a decomposition without marks, such as
/// OHM SIGN, does not count, nor one onto a letter whose marks are spelling: GA stays GA).
char32_t accentBase(char32_t codePoint);

/// True for a letter of a script whose combining marks are accents: the scripts whose
/// letters come in case pairs (Latin, Greek, Cyrillic, Armenian, Georgian, Coptic,
/// Glagolitic, Adlam, Cherokee, Deseret, Osage, Medefaidrin, Old Hungarian, Vithkuqi,
/// Warang Citi), after Scripts.txt. The marks of every other script (Indic vowel signs and
/// viramas, Thai, Japanese voicing marks, Arabic and Hebrew points) are spelling.
bool takesAccents(char32_t codePoint);

namespace unicode_data {
/// The generated ranges of a class, sorted and disjoint.
std::span<const CodeRange> ranges(CharClass c);
/// The generated bases, sorted by code point.
std::span<const AccentBase> accentBases();
/// The generated letters that take accents, sorted and disjoint.
std::span<const CodeRange> accentedLetters();
extern const uint32_t kDigest;
}  // namespace unicode_data

}  // namespace qmv
