// The case changes: UPPER, lower, Proper and Sentence case, with Unicode's simple case
// mappings (one character for one, as Excel's UPPER and LOWER keep the text's length).
// They read the same data under both text rules; a lone surrogate stays as it is.
#pragma once

#include <string>
#include <string_view>

namespace qmv {

/// Every character to its simple upper-case mapping.
std::u16string toUpperCase(std::u16string_view text);

/// Every character to its simple lower-case mapping.
std::u16string toLowerCase(std::u16string_view text);

/// Excel's PROPER: a letter after a character that is not a letter (or first in the text)
/// to its title case, every other letter to lower case ("o'neil" -> "O'Neil", "2-way" ->
/// "2-Way"). A combining mark belongs to the letter before it, so "e" with a combining
/// accent does not start a word.
std::u16string toProperCase(std::u16string_view text);

/// The first letter of the text and of every sentence to upper case, every other letter to
/// lower case. A sentence ends at '.', '!', '?', '…' or their fullwidth and ideographic
/// forms followed by a space or a line break, and at a line break.
std::u16string toSentenceCase(std::u16string_view text);

}  // namespace qmv
