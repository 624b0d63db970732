#include "engine/unicode_transforms.hpp"

#include <algorithm>
#include <vector>

#include "engine/transforms.hpp"

namespace qmv {

namespace {

// Whether the combining marks after a removed character go with it.
enum class Marks { Stay, FollowTheirBase };

// Copies the code points of `text` for which `drop` is false.
template <class Drop>
std::u16string keepUnless(std::u16string_view text, Drop drop, Marks marks = Marks::Stay) {
  std::u16string out;
  out.reserve(text.size());
  bool dropped = false;  // the last base character was removed
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint cp = codePointAt(text, at);
    if (!(marks == Marks::FollowTheirBase && dropped && inClass(cp.value, CharClass::Mark))) {
      dropped = drop(cp.value);
    }
    if (!dropped) out.append(text.substr(at, cp.units));
    at += cp.units;
  }
  return out;
}

bool isSpace(char32_t c) { return inClass(c, CharClass::Space); }

}  // namespace

TextTransform unicodeTransform(Operation operation) { return operationRow(operation).unicode; }

namespace unicode_rules {
bool userCharacters(std::u16string_view t, const CharacterInputs& in, WorksheetFunction*,
                    std::u16string& out) {
  out = removeCodePoints(t, in.userChars);
  return true;
}
bool spaceEdges(std::u16string_view t, const CharacterInputs&, WorksheetFunction*,
                std::u16string& out) {
  out = trimSpaceClass(t);
  return true;
}
bool excessSpaces(std::u16string_view t, const CharacterInputs&, WorksheetFunction*,
                  std::u16string& out) {
  out = squeezeSpaceClass(t);
  return true;
}
}  // namespace unicode_rules

std::u16string removeClass(std::u16string_view text, CharClass c) {
  const bool letters = c == CharClass::Letter || c == CharClass::Upper || c == CharClass::Lower;
  return keepUnless(
      text, [c](char32_t cp) { return inClass(cp, c); },
      letters ? Marks::FollowTheirBase : Marks::Stay);
}

std::u16string removeCodePoints(std::u16string_view text, std::u16string_view set) {
  if (set.empty()) return std::u16string(text);
  std::vector<char32_t> members;
  for (std::size_t at = 0; at < set.size();) {
    const CodePoint cp = codePointAt(set, at);
    members.push_back(cp.value);
    at += cp.units;
  }
  std::sort(members.begin(), members.end());
  return keepUnless(
      text, [&](char32_t cp) { return std::binary_search(members.begin(), members.end(), cp); });
}

std::u16string trimSpaceClass(std::u16string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const CodePoint cp = codePointAt(text, begin);
    if (!isSpace(cp.value)) break;
    begin += cp.units;
  }
  // The end of the last character that is not a space.
  std::size_t end = begin;
  for (std::size_t at = begin; at < text.size();) {
    const CodePoint cp = codePointAt(text, at);
    at += cp.units;
    if (!isSpace(cp.value)) end = at;
  }
  return std::u16string(text.substr(begin, end - begin));
}

std::u16string squeezeSpaceClass(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::u16string_view pendingSpace;  // the first space of the run since the last character
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint cp = codePointAt(text, at);
    const std::u16string_view unit = text.substr(at, cp.units);
    at += cp.units;
    if (isSpace(cp.value)) {
      if (!out.empty() && pendingSpace.empty()) pendingSpace = unit;
      continue;
    }
    out.append(pendingSpace);
    pendingSpace = {};
    out.append(unit);
  }
  return out;
}

std::optional<std::u16string> cutAtCodePoint(std::u16string_view text, bool before, bool wholeRest,
                                             int16_t n, int16_t x) {
  const auto keep = cutKeep(codePointCount(text), before, wholeRest, n, x);
  if (!keep) return std::nullopt;
  const std::size_t prefixEnd = unitOffset(text, keep->prefixEnd);
  std::u16string out(text.substr(0, prefixEnd));
  out.append(text.substr(unitOffset(text, keep->suffixStart)));
  return out;
}

int32_t codePointPosition(std::u16string_view text, int32_t unitPosition) {
  if (unitPosition <= 0) return unitPosition;
  const auto units = std::min<std::size_t>(static_cast<std::size_t>(unitPosition) - 1, text.size());
  return static_cast<int32_t>(codePointCount(text.substr(0, units))) + 1;
}

}  // namespace qmv
