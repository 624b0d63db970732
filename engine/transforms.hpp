// The per-value text transforms of the character removals. Text is UTF-16 and positions
// count 16-bit code units, 1-based.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmv {

/// The fixed character sets, compared code unit by code unit (no case folding).
namespace charsets {
inline constexpr std::u16string_view kDigits = u"1234567890";
inline constexpr std::u16string_view kLetters =
    u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
inline constexpr std::u16string_view kUpperCase = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ";
inline constexpr std::u16string_view kLowerCase = u"abcdefghijklmnopqrstuvwxyz";
/// The one character the space removal removes (kSpace below).
inline constexpr std::u16string_view kSpaceOnly = u" ";
/// The sample text of the user-characters box: @ # $ % , and a double quote.
inline constexpr std::u16string_view kSampleUserChars = u"@#$%,\"";
}  // namespace charsets

/// The only character the space transforms treat as a space.
inline constexpr char16_t kSpace = u' ';

/// A character set prepared for repeated membership tests (ASCII by table, the rest by
/// search), so a run over many cells builds it once.
class CharacterSet {
 public:
  explicit CharacterSet(std::u16string_view members);
  bool contains(char16_t c) const {
    if (c < 128) return (ascii_[c >> 6] >> (c & 63)) & 1u;
    for (char16_t m : other_) {
      if (m == c) return true;
    }
    return false;
  }
  /// True when every member is below 128.
  bool asciiOnly() const { return other_.empty(); }
  /// The ASCII members as 16 bytes, one per low nibble, bit h set for the character
  /// 16 * h + nibble (a lookup table for vector code).
  const std::array<uint8_t, 16>& asciiByLowNibble() const { return byLowNibble_; }

 private:
  std::array<uint64_t, 2> ascii_{};
  std::array<uint8_t, 16> byLowNibble_{};
  std::vector<char16_t> other_;
};

/// The text without every character that occurs anywhere in `set`; the kept characters
/// keep their order. An empty set gives the text unchanged.
std::u16string RemoveChars(std::u16string_view text, std::u16string_view set);
/// The same with a prepared set.
std::u16string RemoveChars(std::u16string_view text, const CharacterSet& set);
/// The same into `out`, whose storage is reused: a caller over many cells allocates only
/// when a text is longer than any before it. `out` may not overlap `text`.
void RemoveCharsInto(std::u16string_view text, const CharacterSet& set, std::u16string& out);

/// What a position cut keeps of a text of `length` characters: those before the 0-based
/// index `prefixEnd` and those from `suffixStart` on (prefixEnd <= suffixStart <= length).
struct CutKeep {
  std::size_t prefixEnd;
  std::size_t suffixStart;
};

/// The characters CutAtPosition keeps, counted in whatever unit the caller counts
/// characters in, under the same rules and failures.
std::optional<CutKeep> cutKeep(std::size_t length, bool before, bool wholeRest, int16_t n,
                               int16_t x);

/// Cuts text at the 1-based position n, in 16-bit arithmetic:
///   before, wholeRest:      all text before n goes (n stays); fails for n <= 0.
///   !before, wholeRest:     all text after n goes (n stays); fails for n < 0.
///   before, !wholeRest:     the x characters just before n go; fails for n <= 0 or x > n - 1.
///   !before, !wholeRest:    the x characters just after n go; fails for n < 0 or when
///                           n + x reaches 32767.
/// x is ignored when wholeRest. A negative x (with !wholeRest) leaves the text unchanged.
/// No value on failure.
std::optional<std::u16string> CutAtPosition(std::u16string_view text, bool before, bool wholeRest,
                                            int16_t n, int16_t x);

/// The text with every U+0020 removed.
std::u16string removeSpaces(std::u16string_view text);

/// The text without its leading and trailing U+0020; inner spaces stay.
std::u16string trimEdges(std::u16string_view text);

/// The host's TRIM rule: no U+0020 at either end, and every inner run of them reduced to
/// one. Other space characters stay.
std::u16string trimExcessSpaces(std::u16string_view text);

/// The host's CLEAN rule: the text without the characters of codes 0 to 31.
std::u16string removeNonPrintable(std::u16string_view text);

}  // namespace qmv
