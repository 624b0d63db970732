// Checks the text transforms against their rules on arbitrary texts and positions.
//
// Input: one byte of flags (before, wholeRest), n and x as little-endian 16-bit numbers,
// one byte m, then UTF-16 units: the first m form a character set, the rest the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "engine/transforms.hpp"

namespace {

using qmv::CharacterSet;
using qmv::CutAtPosition;
using qmv::RemoveChars;

void require(bool condition) {
  if (!condition) std::abort();
}

// substring(t, s, k) in wide arithmetic.
std::optional<std::u16string> substring(const std::u16string& t, int32_t s, int32_t k) {
  if (s < 1 || k < 0) return std::nullopt;
  if (static_cast<std::size_t>(s) > t.size()) return std::u16string();
  return t.substr(static_cast<std::size_t>(s - 1), static_cast<std::size_t>(k));
}

std::optional<std::u16string> join(const std::optional<std::u16string>& a,
                                   const std::optional<std::u16string>& b) {
  if (!a || !b) return std::nullopt;
  return *a + *b;
}

// The cut rules, computed in 32 bits with the 16-bit limits checked explicitly.
std::optional<std::u16string> referenceCut(const std::u16string& t, bool before, bool whole,
                                           int32_t n, int32_t x) {
  const auto len = static_cast<int32_t>(t.size());
  if (before && whole) return substring(t, n, len);
  if (!before && whole) return substring(t, 1, n);
  if (before) {
    if (n <= 0) return std::nullopt;
    if (x < 0) return t;
    return join(substring(t, 1, n - 1 - x), substring(t, n, len));
  }
  if (n < 0) return std::nullopt;
  if (x < 0) return t;
  if (n + x + 1 > 32767) return std::nullopt;
  return join(substring(t, 1, n), substring(t, n + x + 1, len));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  const bool before = data[0] & 1;
  const bool whole = data[0] & 2;
  const auto n = static_cast<int16_t>(data[1] | (data[2] << 8));
  const auto x = static_cast<int16_t>(data[3] | (data[4] << 8));
  const std::size_t m = data[5];
  std::u16string units;
  for (std::size_t i = 6; i + 1 < size; i += 2) {
    units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  const std::u16string set = units.substr(0, std::min(m, units.size()));
  const std::u16string text = units.substr(set.size());

  // RemoveChars keeps exactly the non-members, in order.
  const std::u16string kept = RemoveChars(text, set);
  std::u16string expected;
  for (char16_t c : text) {
    if (set.find(c) == std::u16string::npos) expected.push_back(c);
  }
  require(kept == expected);
  require(RemoveChars(text, CharacterSet(set)) == kept);

  const auto cut = CutAtPosition(text, before, whole, n, x);
  require(cut == referenceCut(text, before, whole, n, x));
  if (cut) require(cut->size() <= text.size());

  const std::u16string noSpaces = qmv::removeSpaces(text);
  require(noSpaces == RemoveChars(text, u" "));
  const std::u16string trimmed = qmv::trimEdges(text);
  require(trimmed.empty() || (trimmed.front() != u' ' && trimmed.back() != u' '));
  require(text.find(trimmed) != std::u16string::npos);
  require(qmv::removeSpaces(trimmed) == noSpaces);
  return 0;
}
