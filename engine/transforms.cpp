#include "engine/transforms.hpp"

#include <algorithm>
#include <utility>

#ifdef __wasm_simd128__
#include <wasm_simd128.h>
#endif

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
      byLowNibble_[c & 15] |= static_cast<uint8_t>(1u << (c >> 4));
    } else if (std::find(other_.begin(), other_.end(), c) == other_.end()) {
      other_.push_back(c);
    }
  }
}

namespace {

#ifdef __wasm_simd128__
// For each mask of eight lanes (bit set: the lane goes), the byte shuffle that moves the
// kept 16-bit lanes to the front, in order.
struct KeepShuffles {
  alignas(16) uint8_t bytes[256][16] = {};
  constexpr KeepShuffles() {
    for (unsigned mask = 0; mask < 256; ++mask) {
      unsigned at = 0;
      for (unsigned lane = 0; lane < 8; ++lane) {
        if ((mask >> lane) & 1u) continue;
        bytes[mask][at++] = static_cast<uint8_t>(2 * lane);
        bytes[mask][at++] = static_cast<uint8_t>(2 * lane + 1);
      }
    }
  }
};
constexpr KeepShuffles kKeepShuffles;

// Eight code units at a time, without a branch: the members' lanes found by two table
// lookups on the units' nibbles, the kept ones moved to the front by a shuffle and stored
// together. Units of 128 and up are never members of an ASCII set; a set with other members
// takes such a block unit by unit. Returns where the vector part stopped reading and writing.
std::pair<const char16_t*, char16_t*> removeBlocks(const char16_t* read, const char16_t* end,
                                                   char16_t* write, const CharacterSet& set) {
  const v128_t byLow = wasm_v128_load(set.asciiByLowNibble().data());
  // The bit of each high nibble: none for 8 and up, so bytes of 128 and up are never members.
  const v128_t highBit = wasm_i8x16_const(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0);
  const v128_t lowNibble = wasm_i8x16_splat(0x0f);
  const v128_t byteMax = wasm_i16x8_splat(0xff);
  const v128_t none = wasm_i8x16_splat(0);
  const bool asciiOnly = set.asciiOnly();
  for (; end - read >= 8; read += 8) {
    const v128_t units = wasm_v128_load(read);
    // Units above 255 become 255 (the narrowing reads its lanes as signed, so clamp first).
    const v128_t clamped = wasm_u16x8_min(units, byteMax);
    const v128_t bytes = wasm_u8x16_narrow_i16x8(clamped, clamped);
    const v128_t member = wasm_v128_and(wasm_i8x16_swizzle(byLow, wasm_v128_and(bytes, lowNibble)),
                                        wasm_i8x16_swizzle(highBit, wasm_u8x16_shr(bytes, 4)));
    const uint32_t gone = wasm_i8x16_bitmask(wasm_i8x16_ne(member, none)) & 0xffu;
    if (!asciiOnly && (wasm_i8x16_bitmask(bytes) & 0xffu) != 0) {
      for (int k = 0; k < 8; ++k) {
        *write = read[k];
        write += set.contains(read[k]) ? 0 : 1;
      }
      continue;
    }
    wasm_v128_store(write, wasm_i8x16_swizzle(units, wasm_v128_load(kKeepShuffles.bytes[gone])));
    write += 8 - __builtin_popcount(gone);
  }
  return {read, write};
}
#else
std::pair<const char16_t*, char16_t*> removeBlocks(const char16_t* read, const char16_t*,
                                                   char16_t* write, const CharacterSet&) {
  return {read, write};
}
#endif

}  // namespace

void RemoveCharsInto(std::u16string_view text, const CharacterSet& set, std::u16string& out) {
  // Every character is copied and the write position advances past the kept ones only.
  out.resize(text.size());
  char16_t* const begin = out.data();
  auto [read, write] = removeBlocks(text.data(), text.data() + text.size(), begin, set);
  for (; read != text.data() + text.size(); ++read) {
    *write = *read;
    write += set.contains(*read) ? 0 : 1;
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
