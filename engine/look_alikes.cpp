#include "engine/look_alikes.hpp"

#include <algorithm>
#include <vector>

#include "engine/unicode_classes.hpp"
#include "engine/unicode_text_data.hpp"

namespace qmv {

namespace {

using namespace unicode_data;

// The Hangul syllables' arithmetic (The Unicode Standard, section 3.12).
constexpr char32_t kSBase = 0xAC00, kLBase = 0x1100, kVBase = 0x1161, kTBase = 0x11A7;
constexpr char32_t kLCount = 19, kVCount = 21, kTCount = 28, kNCount = kVCount * kTCount,
                   kSCount = kLCount * kNCount;

uint8_t combiningClass(char32_t c) {
  const CombiningClass* found =
      findEntry(combiningClasses(), c, [](const CombiningClass& e) { return e.codePoint; });
  return found ? found->value : 0;
}

void decompose(char32_t c, std::vector<char32_t>& out) {
  if (c >= kSBase && c < kSBase + kSCount) {
    const char32_t s = c - kSBase;
    out.push_back(kLBase + s / kNCount);
    out.push_back(kVBase + (s % kNCount) / kTCount);
    if (s % kTCount != 0) out.push_back(kTBase + s % kTCount);
    return;
  }
  const DecompositionEntry* found =
      findEntry(decompositions(), c, [](const DecompositionEntry& e) { return e.codePoint; });
  if (!found) {
    out.push_back(c);
    return;
  }
  const auto pool = decompositionPool().subspan(found->offset, found->length);
  out.insert(out.end(), pool.begin(), pool.end());
}

// The primary composite of a pair; 0 for none.
char32_t compose(char32_t first, char32_t second) {
  if (first >= kLBase && first < kLBase + kLCount && second >= kVBase &&
      second < kVBase + kVCount) {
    return kSBase + ((first - kLBase) * kVCount + (second - kVBase)) * kTCount;
  }
  if (first >= kSBase && first < kSBase + kSCount && (first - kSBase) % kTCount == 0 &&
      second > kTBase && second < kTBase + kTCount) {
    return first + (second - kTBase);
  }
  const std::span<const Composition> table = compositions();
  const auto at = std::lower_bound(table.begin(), table.end(), std::pair{first, second},
                                   [](const Composition& c, std::pair<char32_t, char32_t> key) {
                                     return std::pair{c.first, c.second} < key;
                                   });
  return at != table.end() && at->first == first && at->second == second ? at->composite : 0;
}

void appendAll(std::u16string& out, const std::vector<char32_t>& points) {
  for (const char32_t c : points) appendCodePoint(out, c);
}

}  // namespace

std::u16string normalizeWidths(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint cp = codePointAt(text, at);
    if (cp.value >= 0xD800 && cp.value <= 0xDFFF) {
      out += static_cast<char16_t>(cp.value);
    } else {
      appendCodePoint(out, mapped(widthMappings(), cp.value));
    }
    at += cp.units;
  }
  return out;
}

std::u16string normalizeCompatibility(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::vector<char32_t> run;  // decomposed code points since the last lone surrogate
  const auto flush = [&] {
    // Canonical order: each run of marks sorted by class, stably.
    for (std::size_t i = 0; i < run.size();) {
      if (combiningClass(run[i]) == 0) {
        ++i;
        continue;
      }
      std::size_t end = i;
      while (end < run.size() && combiningClass(run[end]) != 0) ++end;
      std::stable_sort(run.begin() + static_cast<std::ptrdiff_t>(i),
                       run.begin() + static_cast<std::ptrdiff_t>(end), [](char32_t a, char32_t b) {
                         return combiningClass(a) < combiningClass(b);
                       });
      i = end;
    }
    // Canonical composition.
    std::vector<char32_t> composed;
    std::ptrdiff_t starter = -1;
    uint8_t lastClass = 0;
    for (const char32_t c : run) {
      const uint8_t cc = combiningClass(c);
      if (starter >= 0) {
        const bool blocked = !composed.empty() &&
                             static_cast<std::ptrdiff_t>(composed.size()) - 1 != starter &&
                             (lastClass == 0 || lastClass >= cc);
        const char32_t composite =
            blocked ? 0 : compose(composed[static_cast<std::size_t>(starter)], c);
        if (composite != 0) {
          composed[static_cast<std::size_t>(starter)] = composite;
          continue;
        }
      }
      if (cc == 0) starter = static_cast<std::ptrdiff_t>(composed.size());
      lastClass = cc;
      composed.push_back(c);
    }
    appendAll(out, composed);
    run.clear();
  };
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint cp = codePointAt(text, at);
    at += cp.units;
    if (cp.value >= 0xD800 && cp.value <= 0xDFFF) {
      flush();
      out += static_cast<char16_t>(cp.value);
      continue;
    }
    decompose(cp.value, run);
  }
  flush();
  return out;
}

}  // namespace qmv
