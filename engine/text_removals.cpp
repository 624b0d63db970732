#include "engine/text_removals.hpp"

#include <algorithm>

#include "engine/unicode_classes.hpp"
#include "host/cell_text.hpp"
#include "host/text.hpp"

namespace qmv {

namespace {

bool asciiDigit(char32_t c) { return c >= U'0' && c <= U'9'; }
bool asciiLetter(char32_t c) { return (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z'); }
bool asciiSymbol(char32_t c) { return c > U' ' && c < 0x7F && !asciiDigit(c) && !asciiLetter(c); }

// One character under the rules: a code unit (Classic) or a code point (Unicode).
CodePoint characterAt(std::u16string_view text, std::size_t at, TextRules rules) {
  if (rules == TextRules::Unicode) return codePointAt(text, at);
  return {text[at], 1};
}

// Copies the characters for which `keep` holds.
template <class Keep>
std::u16string keepIf(std::u16string_view text, TextRules rules, Keep keep) {
  // Written through a pointer and cut to length once: a kept character is one or two units.
  std::u16string out(text.size(), u'\0');
  char16_t* kept = out.data();
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint c = characterAt(text, at, rules);
    if (keep(c.value)) {
      *kept++ = text[at];
      if (c.units == 2) *kept++ = text[at + 1];
    }
    at += c.units;
  }
  out.resize(static_cast<std::size_t>(kept - out.data()));
  return out;
}

bool lineBreak(char16_t c, TextRules rules) {
  if (c == u'\r' || c == u'\n') return true;
  return rules == TextRules::Unicode && (c == u'\u2028' || c == u'\u2029');
}

}  // namespace

std::u16string keepDigits(std::u16string_view text, TextRules rules) {
  if (rules == TextRules::Unicode) {
    return keepIf(text, rules, [](char32_t c) { return inClass(c, CharClass::Digit); });
  }
  return keepIf(text, rules, asciiDigit);
}

std::u16string keepLettersAndDigits(std::u16string_view text, TextRules rules) {
  if (rules == TextRules::Classic) {
    return keepIf(text, rules, [](char32_t c) { return asciiLetter(c) || asciiDigit(c); });
  }
  // A mark stays with the letter or digit it follows, so a decomposed e acute stays whole.
  bool keptBase = false;
  return keepIf(text, rules, [&keptBase](char32_t c) {
    if (inClass(c, CharClass::Mark)) return keptBase;
    keptBase = inClass(c, CharClass::Letter) || inClass(c, CharClass::Digit);
    return keptBase;
  });
}

std::u16string removePunctuationAndSymbols(std::u16string_view text, TextRules rules) {
  if (rules == TextRules::Unicode) {
    return keepIf(text, rules,
                  [](char32_t c) { return !inClass(c, CharClass::PunctuationOrSymbol); });
  }
  return keepIf(text, rules, [](char32_t c) { return !asciiSymbol(c); });
}

std::u16string removeText(std::u16string_view text, std::u16string_view what, bool matchCase) {
  if (what.empty()) return std::u16string(text);
  // Folding keeps every position, so without Match case the folded texts are searched.
  // The folded copies keep their storage from text to text.
  thread_local std::u16string foldedText;
  thread_local std::u16string foldedWhat;
  if (!matchCase) {
    foldCaseInto(foldedText, text);
    foldCaseInto(foldedWhat, what);
  }
  const std::u16string_view haystack = matchCase ? text : std::u16string_view(foldedText);
  const std::u16string_view needle = matchCase ? what : std::u16string_view(foldedWhat);
  std::u16string out;
  out.reserve(text.size());
  std::size_t at = 0;
  for (std::size_t found; (found = haystack.find(needle, at)) != text.npos;) {
    out.append(text.substr(at, found - at));
    at = found + what.size();
  }
  out.append(text.substr(at));
  return out;
}

std::u16string removeBetween(std::u16string_view text, std::u16string_view opening,
                             std::u16string_view closing) {
  if (opening.empty() || closing.empty()) return std::u16string(text);
  std::u16string out;
  out.reserve(text.size());
  std::size_t at = 0;
  for (std::size_t open; (open = text.find(opening, at)) != text.npos;) {
    // The closing that balances this opening: equal delimiters pair in order.
    std::size_t scan = open + opening.size();
    std::size_t end = text.npos;
    for (int depth = 1; scan < text.size();) {
      if (opening != closing && text.substr(scan).starts_with(opening)) {
        ++depth;
        scan += opening.size();
      } else if (text.substr(scan).starts_with(closing)) {
        scan += closing.size();
        if (--depth == 0) {
          end = scan;
          break;
        }
      } else {
        ++scan;
      }
    }
    if (end == text.npos) break;
    out.append(text.substr(at, open - at));
    at = end;
  }
  out.append(text.substr(at));
  return out;
}

std::u16string removeEnd(std::u16string_view text, bool fromEnd, int32_t count, TextRules rules) {
  if (count < 0) return std::u16string(text);
  const auto n = static_cast<std::size_t>(count);
  if (rules == TextRules::Classic) {
    if (n >= text.size()) return {};
    return std::u16string(fromEnd ? text.substr(0, text.size() - n) : text.substr(n));
  }
  const std::size_t characters = codePointCount(text);
  if (n >= characters) return {};
  const std::size_t cut = unitOffset(text, fromEnd ? characters - n : n);
  return std::u16string(fromEnd ? text.substr(0, cut) : text.substr(cut));
}

std::u16string joinLines(std::u16string_view text, TextRules rules) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    if (!lineBreak(text[at], rules)) {
      out.push_back(text[at++]);
      continue;
    }
    while (at < text.size() && lineBreak(text[at], rules)) ++at;
    const bool between = !out.empty() && at < text.size();
    if (between && out.back() != u' ' && text[at] != u' ') out.push_back(u' ');
  }
  return out;
}

std::u16string removeAccents(std::u16string_view text, TextRules rules) {
  std::u16string out;
  out.reserve(text.size());
  // Marks are accents only on a letter of a script whose marks are accents: on a symbol (=
  // and a stroke, a decomposed NOT EQUAL TO), at the start, or on a letter whose marks are
  // spelling (a Devanagari vowel sign, a Japanese voicing mark) they stay.
  bool onLetter = false;
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint c = characterAt(text, at, rules);
    if (inClass(c.value, CharClass::Mark)) {
      if (!onLetter) out.append(text.substr(at, c.units));
      at += c.units;
      continue;
    }
    at += c.units;
    const char32_t base = accentBase(c.value);
    onLetter = takesAccents(base);
    appendUtf16(out, base);
  }
  return out;
}

}  // namespace qmv
