// The text transforms of the character removals under the Unicode text rules
// (engine/text_rules.hpp): one character is one code point, and spaces, non-printable
// characters, letters and cases are the classes of engine/unicode_classes.hpp. A lone
// surrogate is a character of its own, kept by every class removal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/operations.hpp"
#include "engine/unicode_classes.hpp"

namespace qmv {

/// The transform of a character operation under the Unicode rules (its row's); null when
/// the operation has none of its own (RNUM removes the digits 0-9 under both rules; the
/// position cuts read the rules of their inputs; value operations).
TextTransform unicodeTransform(Operation operation);

/// The text without every character of the class. A removed letter (Letter, Upper, Lower)
/// takes the combining marks that follow it along, so a decomposed e acute goes whole
/// instead of leaving its accent on the character before.
std::u16string removeClass(std::u16string_view text, CharClass c);

/// The text without every code point that occurs in `set` (a pair in the set removes that
/// pair; a lone surrogate in the set removes only the same lone surrogate). An empty set
/// gives the text unchanged.
std::u16string removeCodePoints(std::u16string_view text, std::u16string_view set);

/// The text without the Space characters at either end.
std::u16string trimSpaceClass(std::u16string_view text);

/// The text without the Space characters at either end, and every inner run of them
/// reduced to its first character.
std::u16string squeezeSpaceClass(std::u16string_view text);

/// CutAtPosition with positions and counts in code points: a pair is never split.
std::optional<std::u16string> cutAtCodePoint(std::u16string_view text, bool before, bool wholeRest,
                                             int16_t n, int16_t x);

/// The rows' transforms under the Unicode rules.
namespace unicode_rules {
template <CharClass kClass>
bool classRemoval(std::u16string_view text, const CharacterInputs&, WorksheetFunction*,
                  std::u16string& out) {
  out = removeClass(text, kClass);
  return true;
}
bool userCharacters(std::u16string_view text, const CharacterInputs& inputs, WorksheetFunction*,
                    std::u16string& out);
bool spaceEdges(std::u16string_view text, const CharacterInputs& inputs, WorksheetFunction*,
                std::u16string& out);
/// The host's TRIM knows only U+0020: computed here.
bool excessSpaces(std::u16string_view text, const CharacterInputs& inputs, WorksheetFunction*,
                  std::u16string& out);
}  // namespace unicode_rules

/// The 1-based position in code points of the character at the 1-based code-unit position
/// `unitPosition`; 0 stays 0.
int32_t codePointPosition(std::u16string_view text, int32_t unitPosition);

}  // namespace qmv
