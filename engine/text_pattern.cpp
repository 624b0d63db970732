// Boost.Regex rather than PCRE2 (the library behind Excel's regular expression functions):
// Boost's is header-only since 1.76 and Debian ships it (libboost1.81-dev), so the MinGW
// build of the DLL compiles the very same matcher as the native build, where Debian has no
// MinGW build of PCRE2. Its Perl syntax is the one PCRE2 reads; the compile flags below give
// a PCRE2 pattern's defaults. Boost's own Unicode support (u32regex) needs ICU, which the
// MinGW build lacks, so the character classes and case folding come from this program's
// tables through the traits class here, and a UTF-16 iterator makes a surrogate pair one
// character under the Unicode rules.
//
// Case: REGEXREPLACE matches case unless its case_sensitivity argument is 1
// (https://developer.mescius.com/spreadjs/docs/formulareference/FormulaFunctions/regex-functions/replace
// documents the Excel-compatible function: "0: Case-sensitive (default)").
#include "engine/text_pattern.hpp"

#include <boost/regex.hpp>
#include <cstdint>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "engine/unicode_classes.hpp"
#include "host/cell_text.hpp"

namespace qmv {

namespace {

namespace rc = boost::regex_constants;
namespace detail = boost::BOOST_REGEX_DETAIL_NS;

// The character classes a pattern can name, as bits.
constexpr uint32_t kAlpha = 1U << 0;
constexpr uint32_t kDigit = 1U << 1;
constexpr uint32_t kSpace = 1U << 2;
constexpr uint32_t kBlank = 1U << 3;
constexpr uint32_t kCntrl = 1U << 4;
constexpr uint32_t kPunct = 1U << 5;
constexpr uint32_t kUpper = 1U << 6;
constexpr uint32_t kLower = 1U << 7;
constexpr uint32_t kWord = 1U << 8;
constexpr uint32_t kGraph = 1U << 9;
constexpr uint32_t kPrint = 1U << 10;
constexpr uint32_t kXdigit = 1U << 11;
constexpr uint32_t kBeyondLatin1 = 1U << 12;
constexpr uint32_t kHorizontal = 1U << 13;
constexpr uint32_t kVertical = 1U << 14;

bool isVertical(char32_t c) {
  return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Classes, case and digits for Boost.Regex over char32_t, one object per compiled pattern;
// its "locale" is the text rules.
class PatternTraits {
 public:
  using char_type = char32_t;
  using size_type = std::size_t;
  using string_type = std::u32string;
  using locale_type = TextRules;
  using char_class_type = uint32_t;
  struct boost_extensions_tag {};

  static size_type length(const char_type* p) { return std::char_traits<char32_t>::length(p); }

  rc::syntax_type syntax_type(char_type c) const {
    return c > 0 && c < 0x7F ? detail::get_default_syntax_type(static_cast<char>(c))
                             : rc::syntax_char;
  }
  rc::escape_syntax_type escape_syntax_type(char_type c) const {
    return c > 0 && c < 0x7F ? detail::get_default_escape_syntax_type(static_cast<char>(c))
                             : rc::escape_type_identity;
  }
  char_type translate(char_type c) const { return c; }
  char_type translate_nocase(char_type c) const { return tolower(c); }
  char_type translate(char_type c, bool icase) const { return icase ? tolower(c) : c; }
  char_type tolower(char_type c) const {
    return c <= 0xFFFF ? foldCase(static_cast<char16_t>(c)) : c;
  }
  char_type toupper(char_type c) const { return c >= 'a' && c <= 'z' ? c - 0x20 : c; }
  string_type transform(const char_type* p1, const char_type* p2) const { return {p1, p2}; }
  string_type transform_primary(const char_type* p1, const char_type* p2) const {
    string_type folded(p1, p2);
    for (char32_t& c : folded) c = tolower(c);
    return folded;
  }

  char_class_type lookup_classname(const char_type* p1, const char_type* p2) const {
    // In the order of Boost's class names, after "none": alnum alpha blank cntrl d digit
    // graph h l lower print punct s space u unicode upper v w word xdigit.
    static constexpr char_class_type kMasks[] = {
        0,         kAlpha | kDigit, kAlpha,      kBlank, kCntrl,        kDigit,
        kDigit,    kGraph,          kHorizontal, kLower, kLower,        kPrint,
        kPunct,    kSpace,          kSpace,      kUpper, kBeyondLatin1, kUpper,
        kVertical, kWord,           kWord,       kXdigit};
    int id = detail::get_default_class_id(p1, p2);
    if (id < 0) {
      // \D \W \S name their class in capitals, as do [[:Alpha:]] and the like.
      string_type lowered(p1, p2);
      for (char32_t& c : lowered) c = c >= 'A' && c <= 'Z' ? c + 0x20 : c;
      id = detail::get_default_class_id(lowered.data(), lowered.data() + lowered.size());
    }
    return kMasks[id + 1];
  }
  string_type lookup_collatename(const char_type* p1, const char_type* p2) const {
    std::string name;
    for (const char_type* p = p1; p != p2; ++p) {
      if (*p > 0x7F) return p2 - p1 == 1 ? string_type(p1, p2) : string_type();
      name.push_back(static_cast<char>(*p));
    }
    const std::string found = detail::lookup_default_collate_name(name);
    if (!found.empty()) return {found.begin(), found.end()};
    return p2 - p1 == 1 ? string_type(p1, p2) : string_type();
  }

  bool isctype(char_type c, char_class_type f) const {
    return rules_ == TextRules::Unicode ? unicodeClasses(c, f) : asciiClasses(c, f);
  }

  std::intmax_t toi(const char_type*& p1, const char_type* p2, int radix) const {
    return detail::global_toi(p1, p2, radix, *this);
  }
  int value(char_type c, int radix) const {
    int v = -1;
    if (c >= '0' && c <= '9') v = static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') v = static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') v = static_cast<int>(c - 'A' + 10);
    return v < radix ? v : -1;
  }
  locale_type imbue(locale_type rules) { return std::exchange(rules_, rules); }
  locale_type getloc() const { return rules_; }
  std::string error_string(rc::error_type n) const { return detail::get_default_error_string(n); }

 private:
  // The C locale's classes: a unit above U+007F belongs to none but "unicode".
  static bool asciiClasses(char32_t c, char_class_type f) {
    const bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z';
    const bool digit = c >= '0' && c <= '9';
    const bool space = c == ' ' || (c >= 0x09 && c <= 0x0D);
    const bool graph = c > 0x20 && c < 0x7F;
    const char_class_type has =
        (upper || lower ? kAlpha : 0) | (digit ? kDigit : 0) | (space ? kSpace : 0) |
        (c == ' ' || c == '\t' ? kBlank | kHorizontal : 0) | (c < 0x20 || c == 0x7F ? kCntrl : 0) |
        (graph && !upper && !lower && !digit ? kPunct : 0) | (upper ? kUpper : 0) |
        (lower ? kLower : 0) | (upper || lower || digit || c == '_' ? kWord : 0) |
        (graph ? kGraph : 0) | (graph || c == ' ' ? kPrint : 0) |
        (digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ? kXdigit : 0) |
        (c >= 0x100 ? kBeyondLatin1 : 0) | (c >= 0x0A && c <= 0x0D ? kVertical : 0);
    return (has & f) != 0;
  }
  // The classes of the Unicode text rules.
  static bool unicodeClasses(char32_t c, char_class_type f) {
    const auto in = [c](CharClass k) { return inClass(c, k); };
    if ((f & (kAlpha | kWord)) && in(CharClass::Letter)) return true;
    if ((f & (kDigit | kWord | kXdigit)) && in(CharClass::Digit)) {
      if ((f & (kDigit | kWord)) || c <= '9') return true;
    }
    if ((f & kXdigit) && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return true;
    if ((f & kWord) && (c == '_' || in(CharClass::Mark))) return true;
    const bool blank = in(CharClass::Space);
    if ((f & (kBlank | kHorizontal)) && blank) return true;
    if ((f & kSpace) && (blank || isVertical(c))) return true;
    if ((f & kVertical) && isVertical(c)) return true;
    const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    if ((f & kCntrl) && control) return true;
    if ((f & kPunct) && in(CharClass::PunctuationOrSymbol)) return true;
    if ((f & kUpper) && in(CharClass::Upper)) return true;
    if ((f & kLower) && in(CharClass::Lower)) return true;
    const bool graph = !control && !blank && !isVertical(c) && c <= 0x10FFFF;
    if ((f & kGraph) && graph) return true;
    if ((f & kPrint) && (graph || blank)) return true;
    return (f & kBeyondLatin1) && c >= 0x100;
  }

  TextRules rules_ = TextRules::Classic;
};

using Pattern = boost::basic_regex<char32_t, PatternTraits>;

// Matching went past kMatchStepBudget.
struct StepBudgetSpent {};

// UTF-16 text as Boost walks it: code units (Classic) or code points (Unicode), each step
// counted against the budget of one text.
class TextIterator {
 public:
  using iterator_category = std::bidirectional_iterator_tag;
  using value_type = char32_t;
  using difference_type = std::ptrdiff_t;
  using pointer = const char32_t*;
  using reference = char32_t;

  TextIterator() = default;
  TextIterator(const char16_t* at, const char16_t* begin, const char16_t* end, bool pairs,
               std::size_t* steps)
      : at_(at), begin_(begin), end_(end), pairs_(pairs), steps_(steps) {}

  const char16_t* unit() const { return at_; }

  char32_t operator*() const {
    if (pairs_ && isHigh(*at_) && at_ + 1 < end_ && isLow(at_[1])) {
      return 0x10000 + ((char32_t{*at_} - 0xD800) << 10) + (char32_t{at_[1]} - 0xDC00);
    }
    return *at_;
  }
  TextIterator& operator++() {
    step();
    at_ += pairs_ && isHigh(*at_) && at_ + 1 < end_ && isLow(at_[1]) ? 2 : 1;
    return *this;
  }
  TextIterator operator++(int) {
    TextIterator before = *this;
    ++*this;
    return before;
  }
  TextIterator& operator--() {
    step();
    --at_;
    if (pairs_ && at_ > begin_ && isLow(*at_) && isHigh(at_[-1])) --at_;
    return *this;
  }
  TextIterator operator--(int) {
    TextIterator before = *this;
    --*this;
    return before;
  }
  bool operator==(const TextIterator& other) const { return at_ == other.at_; }

 private:
  static bool isHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
  static bool isLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
  void step() {
    if (++*steps_ > kMatchStepBudget) throw StepBudgetSpent{};
  }

  const char16_t* at_ = nullptr;
  const char16_t* begin_ = nullptr;
  const char16_t* end_ = nullptr;
  bool pairs_ = false;
  std::size_t* steps_ = nullptr;
};

// The pattern as the matcher reads it: code units or code points, as the text is read.
std::u32string patternCharacters(std::u16string_view pattern, TextRules rules) {
  std::u32string characters;
  characters.reserve(pattern.size());
  for (std::size_t at = 0; at < pattern.size();) {
    const CodePoint c =
        rules == TextRules::Unicode ? codePointAt(pattern, at) : CodePoint{pattern[at], 1};
    characters.push_back(c.value);
    at += c.units;
  }
  return characters;
}

// Perl syntax with a PCRE2 pattern's defaults: "." stops at line breaks, "^" and "$" hold at
// the ends of the text.
rc::syntax_option_type compileFlags(bool matchCase) {
  return rc::perl | rc::no_mod_s | rc::no_mod_m | (matchCase ? rc::normal : rc::icase);
}

// Compiles; throws boost::regex_error (or std::runtime_error) for an invalid pattern.
Pattern compile(std::u16string_view pattern, bool matchCase, TextRules rules) {
  if (pattern.size() > kMaxPatternLength) {
    throw std::length_error("longer than " + std::to_string(kMaxPatternLength) + " characters");
  }
  const std::u32string characters = patternCharacters(pattern, rules);
  Pattern compiled;
  compiled.imbue(rules);
  compiled.assign(characters.data(), characters.data() + characters.size(),
                  compileFlags(matchCase));
  return compiled;
}

// The last pattern compiled: a run asks for the same one cell after cell. Shared and
// locked rather than thread_local, whose destructors a DLL unloaded before its threads end
// could not run safely.
struct CompiledPattern {
  std::u16string source;
  bool matchCase = false;
  TextRules rules = TextRules::Classic;
  std::optional<Pattern> pattern;  // none when it does not compile
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
  try {
    compiled->pattern = compile(pattern, matchCase, rules);
  } catch (const std::exception&) {
    compiled->pattern.reset();  // patternError tells why
  }
  const std::lock_guard<std::mutex> lock(guard);
  last = compiled;
  return compiled;
}

std::u16string ascii(std::string_view text) { return {text.begin(), text.end()}; }

}  // namespace

std::optional<std::u16string> patternError(std::u16string_view pattern, bool matchCase,
                                           TextRules rules) {
  try {
    compile(pattern, matchCase, rules);
    return std::nullopt;
  } catch (const boost::regex_error& e) {
    // Boost's message ends in the pattern's text; keep the reason and say where it is.
    std::string reason = e.what();
    const std::size_t cut = reason.find("  The error occurred");
    if (cut != std::string::npos) reason.resize(cut);
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
    return u"The pattern is not valid: " + ascii(reason) + u" at character " +
           ascii(std::to_string(e.position() + 1)) + u".";
  } catch (const std::exception& e) {
    return u"The pattern is not valid: " + ascii(e.what()) + u".";
  }
}

std::optional<std::u16string> tryRemovePattern(std::u16string_view text,
                                               std::u16string_view pattern, bool matchCase,
                                               TextRules rules) {
  if (pattern.empty()) return std::u16string(text);
  const std::shared_ptr<const CompiledPattern> compiled =
      compiledPattern(pattern, matchCase, rules);
  if (!compiled->pattern) return std::nullopt;
  const char16_t* begin = text.data();
  const char16_t* end = begin + text.size();
  std::size_t steps = 0;
  const bool pairs = rules == TextRules::Unicode;
  const TextIterator first(begin, begin, end, pairs, &steps), last(end, begin, end, pairs, &steps);
  std::u16string kept;
  try {
    const char16_t* copied = begin;
    for (boost::regex_iterator<TextIterator, char32_t, PatternTraits>
             match(first, last, *compiled->pattern),
         none;
         match != none; ++match) {
      const char16_t* from = (*match)[0].first.unit();
      kept.append(copied, from);
      copied = (*match)[0].second.unit();
    }
    kept.append(copied, end);
  } catch (const StepBudgetSpent&) {
    return std::nullopt;
  } catch (const std::runtime_error&) {
    // Boost's complexity and stack bounds (error_complexity, error_stack).
    return std::nullopt;
  }
  return kept;
}

}  // namespace qmv
