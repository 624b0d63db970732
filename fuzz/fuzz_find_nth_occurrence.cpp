// Checks the occurrence searches of the wizard on arbitrary UTF-16 texts (lone surrogates
// included), any n in the 16-bit range, and texts as long as a cell holds.
//
// Input: one byte (0xFF repeats the text up to 32,767 units), n and x as little-endian
// 16-bit numbers, one byte m (bits 0-1: the separator's length; bit 2: before; bit 3: all
// characters), then UTF-16 units: the first ones form the separator, the rest the text.
// Long texts are rare on purpose: each costs as much as hundreds of short ones.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/find_nth_occurrence.hpp"
#include "engine/transforms.hpp"
#include "host/cell_text.hpp"
#include "host/value.hpp"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

bool sameFolded(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (qmv::foldCase(a[i]) != qmv::foldCase(b[i])) return false;
  }
  return true;
}

// The nth occurrence in the folded texts, in wide arithmetic.
int64_t referenceNth(std::u16string_view text, int64_t n, std::u16string_view separator) {
  if (n < 1 || separator.empty()) return 0;
  const std::u16string folded = qmv::foldCase(text);
  const std::u16string foldedSeparator = qmv::foldCase(separator);
  int64_t count = 0;
  for (std::size_t at = folded.find(foldedSeparator); at != std::u16string::npos;
       at = folded.find(foldedSeparator, at + 1)) {
    if (++count == n) return static_cast<int64_t>(at) + 1;
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  const bool repeat = data[0] == 0xFF;
  const auto n = static_cast<int16_t>(data[1] | (data[2] << 8));
  const auto x = static_cast<int16_t>(data[3] | (data[4] << 8));
  const std::size_t m = data[5] % 4;
  const bool before = data[5] & 4;
  const bool whole = data[5] & 8;
  std::u16string units;
  for (std::size_t i = 6; i + 1 < size; i += 2) {
    units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  const std::u16string separator = units.substr(0, std::min(m, units.size()));
  // The long text keeps its buffer from run to run: allocating it afresh every time costs
  // more than the search.
  static std::u16string text;
  text.assign(units, separator.size());
  if (repeat && !text.empty()) {
    const std::size_t period = text.size();
    text.resize(qmv::kMaxCellChars);
    for (std::size_t i = period; i < text.size(); ++i) text[i] = text[i - period];
  }

  const int32_t found = qmv::FindNthOccurrence(text, n, separator);
  // The reference costs as much as the search; long texts are checked by the rest.
  if (!repeat) require(found == referenceNth(text, n, separator));
  if (found > 0) {
    require(static_cast<std::size_t>(found) + separator.size() - 1 <= text.size());
    require(sameFolded(std::u16string_view(text).substr(found - 1, separator.size()), separator));
  }
  if (n < 1 || separator.empty()) require(found == 0);

  const int32_t first = qmv::findFirstExact(text, separator);
  const int32_t last = qmv::findLastExact(text, separator);
  const std::size_t at = text.find(separator);
  const std::size_t lastAt = text.rfind(separator);
  if (separator.empty()) {
    require(first == 0 && last == 0);
  } else {
    require(first == (at == std::u16string::npos ? 0 : static_cast<int32_t>(at) + 1));
    require(last == (lastAt == std::u16string::npos ? 0 : static_cast<int32_t>(lastAt) + 1));
    // An exact occurrence is also an occurrence in any case, so the search without case
    // finds the first one no later.
    if (first > 0 && n == 1) require(found > 0 && found <= first);
  }

  // The position found cuts the text as the wizard would: never longer than the text, and
  // the character at the position stays.
  if (found > 0 && found <= INT16_MAX) {
    const auto sp = static_cast<int16_t>(found);
    const auto cut = qmv::CutAtPosition(text, before, whole, sp, x);
    if (cut) {
      require(cut->size() <= text.size());
      require(cut->find(text[static_cast<std::size_t>(sp) - 1]) != std::u16string::npos);
    }
  }
  return 0;
}
