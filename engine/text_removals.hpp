// The transforms of the removals that keep a class, cut whole texts or the ends of a text,
// join lines and drop accents. Text is UTF-16; under TextRules::Classic a character is one
// code unit and the classes are ASCII ones, under TextRules::Unicode a character is one
// code point (a surrogate pair whole, a lone surrogate a character of its own) and the
// classes are those of engine/unicode_classes.hpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/text_rules.hpp"

namespace qmv {

/// Only the digits: 0-9 (Classic) or every decimal digit, category Nd (Unicode).
std::u16string keepDigits(std::u16string_view text, TextRules rules);

/// Only the letters and digits: A-Z, a-z, 0-9 (Classic) or every letter and decimal digit
/// with the combining marks that follow them (Unicode). Spaces go too.
std::u16string keepLettersAndDigits(std::u16string_view text, TextRules rules);

/// The text without punctuation and symbols: the printable ASCII characters that are not
/// letters, digits or the space (Classic), or categories P* and S* (Unicode). Letters,
/// digits, spaces and every other character stay.
std::u16string removePunctuationAndSymbols(std::u16string_view text, TextRules rules);

/// The text without every occurrence of `what`, found left to right without overlap. Without
/// `matchCase` the comparison folds case as the value removals do (host/case_fold.hpp:
/// Unicode's simple case folding, a surrogate pair as its code point); `*`, `?` and `~` are
/// characters like any other. An empty `what` gives the text unchanged.
std::u16string removeText(std::u16string_view text, std::u16string_view what, bool matchCase);

/// The text without every span from `opening` to its `closing`, both included. With
/// different delimiters spans nest ("(a (b) c)" goes whole); with equal ones they pair in
/// order. An opening without its closing leaves the rest of the text alone, as does a
/// closing without an opening; either delimiter empty gives the text unchanged.
std::u16string removeBetween(std::u16string_view text, std::u16string_view opening,
                             std::u16string_view closing);

/// The text without its first (`fromEnd` false) or last `count` characters; all of it goes
/// when it has no more; a negative count leaves it unchanged.
std::u16string removeEnd(std::u16string_view text, bool fromEnd, int32_t count, TextRules rules);

/// The text with its line breaks joined: CR, LF and CRLF (and U+2028, U+2029 under the
/// Unicode rules). A run of breaks between two other characters becomes one space, or
/// nothing when a space already borders it; a run at either end goes.
std::u16string joinLines(std::u16string_view text, TextRules rules);

/// The text without accents: every character whose canonical decomposition is a letter
/// followed by combining marks becomes the letter (e acute -> e, n tilde -> n, A ring -> A),
/// and the combining marks that follow a letter go, for the letters that takesAccents
/// (unicode_classes.hpp: Latin, Greek, Cyrillic and the other cased scripts). A symbol keeps
/// its marks, precomposed or not (NOT EQUAL TO stays, as does = followed by a combining
/// stroke), and so do a mark with no letter before it and the marks of every other script,
/// which are spelling (Devanagari, Bengali, Tamil and Thai vowel signs, Japanese voicing
/// marks). Under the Classic rules surrogate pairs stay as they are.
std::u16string removeAccents(std::u16string_view text, TextRules rules);

}  // namespace qmv
