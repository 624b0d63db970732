#include "engine/transforms.hpp"

#include <algorithm>

namespace qmv {

namespace {

// substring(t, s, k) over a text of `length` characters: the 0-based range [begin, end) of
// the characters from position s on, at most k of them. No value when s < 1 or k < 0; an
// empty range at the end when s lies beyond it.
struct Span {
  std::size_t begin;
  std::size_t end;
};
std::optional<Span> substring(std::size_t length, int32_t s, int32_t k) {
  if (s < 1 || k < 0) return std::nullopt;
  const auto start = static_cast<std::size_t>(s - 1);
  if (start >= length) return Span{length, length};
  return Span{start, start + std::min(length - start, static_cast<std::size_t>(k))};
}

// 16-bit signed arithmetic: no value when the result does not fit.
std::optional<int16_t> fits16(int32_t v) {
  if (v < INT16_MIN || v > INT16_MAX) return std::nullopt;
  return static_cast<int16_t>(v);
}

int32_t toEnd(std::size_t length) {
  return static_cast<int32_t>(std::min<std::size_t>(length, INT32_MAX));
}

}  // namespace

CharacterSet::CharacterSet(std::u16string_view members) {
  for (char16_t c : members) {
    if (c < 128) {
      ascii_[c >> 6] |= uint64_t{1} << (c & 63);
    } else if (std::find(other_.begin(), other_.end(), c) == other_.end()) {
      other_.push_back(c);
    }
  }
}

void RemoveCharsInto(std::u16string_view text, const CharacterSet& set, std::u16string& out) {
  // Every character is copied and the write position advances past the kept ones only.
  out.resize(text.size());
  char16_t* const begin = out.data();
  char16_t* write = begin;
  for (char16_t c : text) {
    *write = c;
    write += set.contains(c) ? 0 : 1;
  }
  out.resize(static_cast<std::size_t>(write - begin));
}

std::u16string RemoveChars(std::u16string_view text, const CharacterSet& set) {
  std::u16string out;
  RemoveCharsInto(text, set, out);
  return out;
}

std::u16string RemoveChars(std::u16string_view text, std::u16string_view set) {
  if (set.empty()) return std::u16string(text);
  return RemoveChars(text, CharacterSet(set));
}

std::optional<CutKeep> cutKeep(std::size_t length, bool before, bool wholeRest, int16_t n,
                               int16_t x) {
  const CutKeep all{length, length};
  if (before && wholeRest) {
    auto rest = substring(length, n, toEnd(length));
    if (!rest) return std::nullopt;
    return CutKeep{0, rest->begin};
  }
  if (!before && wholeRest) {
    auto head = substring(length, 1, n);
    if (!head) return std::nullopt;
    return CutKeep{head->end, length};
  }
  if (before) {
    if (n <= 0) return std::nullopt;
    // A negative count would repeat characters instead of removing any.
    if (x < 0) return all;
    auto prefixLength = fits16(int32_t{n} - 1 - x);
    if (!prefixLength) return std::nullopt;
    auto prefix = substring(length, 1, *prefixLength);
    auto suffix = substring(length, n, toEnd(length));
    if (!prefix || !suffix) return std::nullopt;
    return CutKeep{prefix->end, suffix->begin};
  }
  if (n < 0) return std::nullopt;
  if (x < 0) return all;
  auto prefix = substring(length, 1, n);
  auto next = fits16(int32_t{n} + x);
  if (!next) return std::nullopt;
  auto start = fits16(int32_t{*next} + 1);
  if (!start) return std::nullopt;
  auto suffix = substring(length, *start, toEnd(length));
  if (!prefix || !suffix) return std::nullopt;
  return CutKeep{prefix->end, suffix->begin};
}

std::optional<std::u16string> CutAtPosition(std::u16string_view text, bool before, bool wholeRest,
                                            int16_t n, int16_t x) {
  const auto keep = cutKeep(text.size(), before, wholeRest, n, x);
  if (!keep) return std::nullopt;
  std::u16string out(text.substr(0, keep->prefixEnd));
  out.append(text.substr(keep->suffixStart));
  return out;
}

std::u16string removeSpaces(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c != kSpace) out.push_back(c);
  }
  return out;
}

std::u16string trimEdges(std::u16string_view text) {
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::u16string_view::npos) return {};
  const auto last = text.find_last_not_of(kSpace);
  return std::u16string(text.substr(first, last - first + 1));
}

std::u16string trimExcessSpaces(std::u16string_view text) {
  // Written through a pointer and cut to length once: the result is never longer.
  std::u16string out(text.size(), u'\0');
  char16_t* const first = out.data();
  char16_t* end = first;
  bool pendingSpace = false;
  for (const char16_t c : text) {
    if (c == kSpace) {
      pendingSpace = end != first;
      continue;
    }
    if (pendingSpace) *end++ = kSpace;
    pendingSpace = false;
    *end++ = c;
  }
  out.resize(static_cast<std::size_t>(end - first));
  return out;
}

std::u16string removeNonPrintable(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c >= 32) out += c;
  }
  return out;
}

}  // namespace qmv
