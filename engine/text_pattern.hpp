// The pattern removal: every match of a regular expression goes, as Excel's
// REGEXREPLACE(text, pattern, "") gives it.
//
// The matcher is PCRE2's (16-bit library, UTF-16 text as it is), with its default options
// but these: PCRE2_UTF always (a character is a code point, an emoji one character; a lone
// surrogate matches nothing and fails no match, PCRE2_MATCH_INVALID_UTF; \C, which would
// cut a surrogate pair, does not compile, PCRE2_NEVER_BACKSLASH_C);
// TextRules::Unicode adds PCRE2_UCP (\d \w \s \b and [[:alpha:]] ... take every script;
// otherwise they are ASCII classes, while \p{..} and case folding are Unicode's either way);
// without `matchCase`, PCRE2_CASELESS. So "." matches anything but a line feed (CR and
// U+2028 included), "^" holds at the start of the text and "$" at its end or before a final
// line feed, and (?i) (?s) (?m) (?x) switch those within the pattern.
//
// Matching is PCRE2's JIT where the platform has it (natively and in the DLLs), its
// interpreter where it does not (WebAssembly), with the same results.
//
// Limits, so that no pattern holds the host up: a pattern longer than kMaxPatternLength
// does not compile; each search for the next match in a text may take kMatchStepBudget
// steps (PCRE2's match limit, which its depth limit follows; the JIT counts its steps its
// own way, but gives up on the same runaway backtracking) and 64 MiB of backtracking memory
// (the interpreter's heap, the JIT's stack). A text whose matching goes past a limit is
// left as it is.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "engine/text_rules.hpp"

namespace qmv {

inline constexpr std::size_t kMaxPatternLength = 1024;
inline constexpr std::size_t kMatchStepBudget = 4'000'000;

/// Why `pattern` cannot be used, in one line ("The pattern is not valid: missing closing
/// parenthesis at offset 3.", the offset counting characters before the place PCRE2 found
/// the fault); no value when it compiles. An empty pattern compiles (and removes nothing).
std::optional<std::u16string> patternError(std::u16string_view pattern, bool matchCase,
                                           TextRules rules);

/// Which of PCRE2's matchers runs: the JIT where it is available (the interpreter
/// otherwise), or the interpreter, which tests and benchmarks compare it with.
enum class PatternMatching { Fastest, Interpreter };

/// `text` without every match of `pattern`, found left to right without overlap (an empty
/// match removes nothing; after one, the next match may not be empty at the same place).
/// No value when the pattern does not compile or matching `text` goes past the limits. The last
/// compiled pattern is kept for the next call with the same pattern, case and rules.
std::optional<std::u16string> tryRemovePattern(std::u16string_view text,
                                               std::u16string_view pattern, bool matchCase,
                                               TextRules rules,
                                               PatternMatching matching = PatternMatching::Fastest);

/// True when this build's PCRE2 has its JIT (false in WebAssembly).
bool patternJitAvailable();

}  // namespace qmv
