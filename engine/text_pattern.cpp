// PCRE2, the library behind Excel's regular expression functions: "All regular
// expressions for this function, as well as REGEXEXTRACT and REGEXREPLACE use the PCRE2
// 'flavor' of regex", and a match is case-sensitive unless case_sensitivity is 1
// (https://support.microsoft.com/en-us/excel/regextest-function). Its 16-bit library reads
// the engine's UTF-16 text as it is: Debian's libpcre2-dev natively, the same release built
// from Debian's source package for the MinGW builds.
#include "engine/text_pattern.hpp"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <string>

namespace qmv {

namespace {

static_assert(sizeof(PCRE2_UCHAR) == sizeof(char16_t));

struct CodeFree {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataFree {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct MatchContextFree {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
using Code = std::unique_ptr<pcre2_code, CodeFree>;
using MatchData = std::unique_ptr<pcre2_match_data, MatchDataFree>;
using MatchContext = std::unique_ptr<pcre2_match_context, MatchContextFree>;

// Backtracking frames may take this much memory (KiB) for one text; the step budget
// rather than this bounds an ordinary pattern.
constexpr uint32_t kMatchHeapKiB = 64 * 1024;

PCRE2_SPTR units(std::u16string_view text) { return reinterpret_cast<PCRE2_SPTR>(text.data()); }

// A text is always UTF-16 (an emoji is one character, a lone surrogate matches nothing and
// fails no match), so \C, which matches one code unit and would cut a surrogate pair in
// two, is refused; the Unicode rules give \d \w \s \b and the POSIX classes every script.
uint32_t compileOptions(bool matchCase, TextRules rules) {
  return PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_NEVER_BACKSLASH_C |
         (rules == TextRules::Unicode ? PCRE2_UCP : 0U) | (matchCase ? 0U : PCRE2_CASELESS);
}

struct Compiled {
  Code code;           // null when the pattern does not compile
  int error = 0;       // PCRE2's error code, or 0 for a pattern too long
  std::size_t at = 0;  // where the error was found, in code units
};

Compiled compile(std::u16string_view pattern, bool matchCase, TextRules rules) {
  Compiled out;
  if (pattern.size() > kMaxPatternLength) return out;
  int error = 0;
  PCRE2_SIZE at = 0;
  out.code.reset(pcre2_compile(units(pattern), pattern.size(), compileOptions(matchCase, rules),
                               &error, &at, nullptr));
  if (!out.code) {
    out.error = error;
    out.at = std::min<std::size_t>(at, pattern.size());
  }
  return out;
}

// The last pattern compiled: a run asks for the same one cell after cell. Shared and
// locked rather than thread_local, whose destructors a DLL unloaded before its threads end
// could not run safely. Its match data serves one call at a time; a call that finds it in
// use takes data of its own.
struct CompiledPattern {
  std::u16string source;
  bool matchCase = false;
  TextRules rules = TextRules::Classic;
  Code code;  // null when the pattern does not compile
  MatchContext context;
  mutable std::mutex dataInUse;
  MatchData data;
};

std::shared_ptr<const CompiledPattern> compiledPattern(std::u16string_view pattern, bool matchCase,
                                                       TextRules rules) {
  static std::mutex guard;
  static std::shared_ptr<const CompiledPattern> last;
  {
    const std::lock_guard<std::mutex> lock(guard);
    if (last && last->source == pattern && last->matchCase == matchCase && last->rules == rules) {
      return last;
    }
  }
  auto compiled = std::make_shared<CompiledPattern>();
  compiled->source = std::u16string(pattern);
  compiled->matchCase = matchCase;
  compiled->rules = rules;
  compiled->code = compile(pattern, matchCase, rules).code;
  if (compiled->code) {
    compiled->context.reset(pcre2_match_context_create(nullptr));
    compiled->data.reset(pcre2_match_data_create_from_pattern(compiled->code.get(), nullptr));
    if (!compiled->context || !compiled->data) throw std::bad_alloc();
    pcre2_set_match_limit(compiled->context.get(), static_cast<uint32_t>(kMatchStepBudget));
    pcre2_set_heap_limit(compiled->context.get(), kMatchHeapKiB);
  }
  const std::lock_guard<std::mutex> lock(guard);
  last = compiled;
  return compiled;
}

std::u16string ascii(std::string_view text) { return {text.begin(), text.end()}; }

// Characters before code unit `at`: a surrogate pair counts once.
std::size_t charactersBefore(std::u16string_view text, std::size_t at) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < at; ++i) {
    const bool pairEnd = i > 0 && text[i] >= 0xDC00 && text[i] <= 0xDFFF && text[i - 1] >= 0xD800 &&
                         text[i - 1] <= 0xDBFF;
    if (!pairEnd) ++count;
  }
  return count;
}

// Code units of the character at `at` (a surrogate pair is one).
std::size_t characterUnits(std::u16string_view text, std::size_t at) {
  const bool pair = at + 1 < text.size() && text[at] >= 0xD800 && text[at] <= 0xDBFF &&
                    text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF;
  return pair ? 2 : 1;
}

// Every match of `code` in `text` removed, left to right (Perl's global substitution: after
// an empty match the next may not be empty at the same place). No value when a match gave
// up on a limit.
std::optional<std::u16string> removeMatches(const pcre2_code* code, pcre2_match_data* data,
                                            pcre2_match_context* context,
                                            std::u16string_view text) {
  std::u16string kept;
  std::size_t copied = 0;
  std::size_t at = 0;
  uint32_t options = 0;
  while (at <= text.size()) {
    const int found = pcre2_match(code, units(text), text.size(), at, options, data, context);
    if (found == PCRE2_ERROR_NOMATCH) {
      if (options == 0 || at == text.size()) break;
      // No non-empty match where the empty one was: look again one character on.
      at += characterUnits(text, at);
      options = 0;
      continue;
    }
    if (found < 0) return std::nullopt;  // a limit: match, depth or memory
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
    const std::size_t from = ovector[0];
    const std::size_t to = std::max(ovector[0], ovector[1]);
    kept.append(text.substr(copied, from - copied));
    copied = to;
    at = to;
    options = from == to ? PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED : 0;
  }
  kept.append(text.substr(copied));
  return kept;
}

}  // namespace

std::optional<std::u16string> patternError(std::u16string_view pattern, bool matchCase,
                                           TextRules rules) {
  const Compiled compiled = compile(pattern, matchCase, rules);
  if (compiled.code) return std::nullopt;
  if (compiled.error == 0) {
    return u"The pattern is not valid: longer than " + ascii(std::to_string(kMaxPatternLength)) +
           u" characters.";
  }
  PCRE2_UCHAR message[256] = {};
  const int length = pcre2_get_error_message(compiled.error, message, std::size(message));
  std::u16string reason(reinterpret_cast<const char16_t*>(message),
                        length > 0 ? static_cast<std::size_t>(length) : 0);
  while (!reason.empty() && (reason.back() == u'.' || reason.back() == u' ')) reason.pop_back();
  return u"The pattern is not valid: " + reason + u" at offset " +
         ascii(std::to_string(charactersBefore(pattern, compiled.at))) + u".";
}

std::optional<std::u16string> tryRemovePattern(std::u16string_view text,
                                               std::u16string_view pattern, bool matchCase,
                                               TextRules rules) {
  if (pattern.empty()) return std::u16string(text);
  const std::shared_ptr<const CompiledPattern> compiled =
      compiledPattern(pattern, matchCase, rules);
  if (!compiled->code) return std::nullopt;
  std::unique_lock<std::mutex> own(compiled->dataInUse, std::try_to_lock);
  MatchData mine;
  pcre2_match_data* data = compiled->data.get();
  if (!own.owns_lock()) {
    mine.reset(pcre2_match_data_create_from_pattern(compiled->code.get(), nullptr));
    if (!mine) throw std::bad_alloc();
    data = mine.get();
  }
  return removeMatches(compiled->code.get(), data, compiled->context.get(), text);
}

}  // namespace qmv
