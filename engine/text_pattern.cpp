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
struct JitStackFree {
  void operator()(pcre2_jit_stack* stack) const { pcre2_jit_stack_free(stack); }
};
using Code = std::unique_ptr<pcre2_code, CodeFree>;
using MatchData = std::unique_ptr<pcre2_match_data, MatchDataFree>;
using MatchContext = std::unique_ptr<pcre2_match_context, MatchContextFree>;
using JitStack = std::unique_ptr<pcre2_jit_stack, JitStackFree>;

// Backtracking frames may take this much memory (KiB) for one text, the interpreter's
// heap or the JIT's stack alike; the step budget rather than this bounds an ordinary
// pattern.
constexpr uint32_t kMatchHeapKiB = 64 * 1024;
// The JIT's stack starts at the 32 KiB it would take on the machine stack.
constexpr std::size_t kJitStackStart = 32 * 1024;

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
// What one match at a time needs: the limits, the JIT's stack (one thread's at a time) and
// the match data.
struct Matcher {
  MatchContext context;
  JitStack stack;  // null where the pattern has no JIT code
  MatchData data;
};

Matcher matcherFor(const pcre2_code* code, bool jitted) {
  Matcher m;
  m.context.reset(pcre2_match_context_create(nullptr));
  m.data.reset(pcre2_match_data_create_from_pattern(code, nullptr));
  if (!m.context || !m.data) throw std::bad_alloc();
  pcre2_set_match_limit(m.context.get(), static_cast<uint32_t>(kMatchStepBudget));
  pcre2_set_heap_limit(m.context.get(), kMatchHeapKiB);
  if (jitted) {
    m.stack.reset(
        pcre2_jit_stack_create(kJitStackStart, std::size_t{kMatchHeapKiB} * 1024, nullptr));
    if (!m.stack) throw std::bad_alloc();
    pcre2_jit_stack_assign(m.context.get(), nullptr, m.stack.get());
  }
  return m;
}

struct CompiledPattern {
  std::u16string source;
  bool matchCase = false;
  TextRules rules = TextRules::Classic;
  Code code;            // null when the pattern does not compile
  bool jitted = false;  // the JIT compiled it (never in WebAssembly, whose PCRE2 has no JIT)
  mutable std::mutex inUse;
  mutable Matcher matcher;
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
    // Where PCRE2 has no JIT (WebAssembly) or the JIT cannot take the pattern, the
    // interpreter matches.
    compiled->jitted = pcre2_jit_compile(compiled->code.get(), PCRE2_JIT_COMPLETE) == 0;
    compiled->matcher = matcherFor(compiled->code.get(), compiled->jitted);
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
// `interpret` keeps the JIT out. (A retry after an empty match, anchored, is always the
// interpreter's: the JIT takes no PCRE2_ANCHORED at match time.)
std::optional<std::u16string> removeMatches(const pcre2_code* code, const Matcher& matcher,
                                            std::u16string_view text, bool interpret) {
  std::u16string kept;
  std::size_t copied = 0;
  std::size_t at = 0;
  uint32_t options = 0;
  const uint32_t engine = interpret ? PCRE2_NO_JIT : 0U;
  pcre2_match_data* data = matcher.data.get();
  while (at <= text.size()) {
    const int found = pcre2_match(code, units(text), text.size(), at, options | engine, data,
                                  matcher.context.get());
    if (found == PCRE2_ERROR_NOMATCH) {
      if (options == 0 || at == text.size()) break;
      // No non-empty match where the empty one was: look again one character on.
      at += characterUnits(text, at);
      options = 0;
      continue;
    }
    if (found < 0) return std::nullopt;  // a limit: match, depth, memory or the JIT's stack
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
                                               TextRules rules, PatternMatching matching) {
  if (pattern.empty()) return std::u16string(text);
  const std::shared_ptr<const CompiledPattern> compiled =
      compiledPattern(pattern, matchCase, rules);
  if (!compiled->code) return std::nullopt;
  const bool interpret = matching == PatternMatching::Interpreter;
  // The JIT's stack and the match data serve one match at a time: a call that finds them
  // in use takes its own.
  std::unique_lock<std::mutex> own(compiled->inUse, std::try_to_lock);
  if (own.owns_lock()) {
    return removeMatches(compiled->code.get(), compiled->matcher, text, interpret);
  }
  const Matcher mine = matcherFor(compiled->code.get(), compiled->jitted && !interpret);
  return removeMatches(compiled->code.get(), mine, text, interpret);
}

bool patternJitAvailable() {
  uint32_t jit = 0;
  return pcre2_config(PCRE2_CONFIG_JIT, &jit) >= 0 && jit == 1;
}

}  // namespace qmv
