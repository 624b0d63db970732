// Letter case "without regard to case": Unicode's simple case folding (CaseFolding.txt,
// statuses C and S), the fold every comparison of the program that ignores case uses (the
// value removals, a literal text removal without Match case, the in-memory host's COUNTIF,
// Find and unique filter). Each code point folds to exactly one code point, and never
// across U+FFFF, so a folded UTF-16 text has the length and the positions of the text.
// The full foldings (ß to "ss") and the Turkic ones (I to dotless i) are not made: "ß" and
// "SS" stay different, and "I" folds to "i" in every language. A real Excel compares by its
// locale's collation, which may differ from this in such letters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qmv {

namespace detail {
// The generated table (scripts/gen_case_folding.py): code points from kFoldEnd on fold to
// themselves; below it, block c >> 8 adds kFoldDelta[kFoldBlockOf[c >> 8]][c & 0xFF].
extern const char32_t kFoldEnd;
extern const std::size_t kFoldMappings;
extern const char kFoldVersion[];
extern const uint8_t kFoldBlockOf[];
extern const int32_t kFoldDelta[][256];
}  // namespace detail

/// The simple case fold of a code point ('A' -> 'a', 'Ệ' -> 'ệ', U+10400 -> U+10428); a code
/// point without one, a surrogate and a value past U+10FFFF as it is.
inline char32_t foldCodePoint(char32_t c) {
  if (c < 0x80) return c >= U'A' && c <= U'Z' ? c + 32 : c;
  if (c >= detail::kFoldEnd) return c;
  const int32_t delta = detail::kFoldDelta[detail::kFoldBlockOf[c >> 8]][c & 0xFF];
  return static_cast<char32_t>(static_cast<int32_t>(c) + delta);
}

/// One UTF-16 unit folded; a surrogate unit as it is (a pair folds within a text).
inline char16_t foldCase(char16_t c) { return static_cast<char16_t>(foldCodePoint(c)); }

/// `text` folded code point by code point: a surrogate pair as the code point it makes, a
/// lone surrogate as it is. The result has the length of `text`.
std::u16string foldCase(std::u16string_view text);

/// The same written into `out`, reusing its storage.
void foldCaseInto(std::u16string& out, std::u16string_view text);

/// Appends `utf8` folded to `out`. Well-formed UTF-8 gives well-formed UTF-8 (its length
/// may change: 'K' U+212A folds to 'k'); a byte that is not part of a well-formed sequence
/// is copied as it is.
void appendFoldedUtf8(std::string& out, std::string_view utf8);

/// The Unicode version of the table ("15.0.0") and the number of its mappings.
std::string_view caseFoldVersion();
std::size_t caseFoldMappings();

}  // namespace qmv
