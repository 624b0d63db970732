// The pattern removal: every match of a regular expression goes, as Excel's
// REGEXREPLACE(text, pattern, "") gives it.
//
// Syntax: Perl's, as Boost.Regex reads it (the library both the native build and the
// MinGW build compile, header-only), with the defaults of a PCRE2 pattern: "." does not
// match a line feed, "^" and "$" match at the ends of the text only, (?i) (?s) (?m) (?x)
// switch those within the pattern. Text is UTF-16. Under TextRules::Classic a character is
// one code unit and \d \w \s [[:alpha:]] ... are ASCII classes; under TextRules::Unicode a
// character is one code point (a surrogate pair whole, a lone surrogate a character of its
// own) and the classes are those of engine/unicode_classes.hpp. Without `matchCase` letters
// compare folded as the value removals fold them (host/cell_text.hpp foldCase).
//
// Limits, so that no pattern holds the host up: a pattern longer than kMaxPatternLength
// does not compile; matching one text may step through it at most kMatchStepBudget times
// (backtracking included), and Boost's own complexity bound applies too. A text whose
// matching goes past either limit is left as it is.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "engine/text_rules.hpp"

namespace qmv {

inline constexpr std::size_t kMaxPatternLength = 1024;
inline constexpr std::size_t kMatchStepBudget = 4'000'000;

/// Why `pattern` cannot be used, in one line ("The pattern is not valid: ... at offset
/// 3."); no value when it compiles. An empty pattern compiles (and removes nothing).
std::optional<std::u16string> patternError(std::u16string_view pattern, bool matchCase,
                                           TextRules rules);

/// `text` without every match of `pattern`, found left to right without overlap (an empty
/// match removes nothing). No value when the pattern does not compile or matching `text`
/// goes past the limits. The last compiled pattern is kept for the next call with the same
/// pattern, case and rules.
std::optional<std::u16string> tryRemovePattern(std::u16string_view text,
                                               std::u16string_view pattern, bool matchCase,
                                               TextRules rules);

}  // namespace qmv
