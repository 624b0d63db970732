#include "engine/find_nth_occurrence.hpp"

#include "host/cell_text.hpp"

namespace qmv {

namespace {

int32_t position(std::size_t index) { return static_cast<int32_t>(index) + 1; }

}  // namespace

int32_t FindNthOccurrence(std::u16string_view text, int32_t n, std::u16string_view separator) {
  if (n < 1 || separator.empty() || separator.size() > text.size()) return 0;
  int32_t count = 0;
  // Every start is tried once, left to right; an occurrence may overlap the one before.
  for (std::size_t start = 0; start + separator.size() <= text.size(); ++start) {
    bool match = true;
    for (std::size_t k = 0; k < separator.size() && match; ++k) {
      match = foldCase(text[start + k]) == foldCase(separator[k]);
    }
    if (match && ++count == n) return position(start);
  }
  return 0;
}

int32_t findFirstExact(std::u16string_view text, std::u16string_view separator) {
  if (separator.empty()) return 0;
  const std::size_t at = text.find(separator);
  return at == std::u16string_view::npos ? 0 : position(at);
}

int32_t findLastExact(std::u16string_view text, std::u16string_view separator) {
  if (separator.empty()) return 0;
  const std::size_t at = text.rfind(separator);
  return at == std::u16string_view::npos ? 0 : position(at);
}

std::optional<int16_t> separatorStart(std::u16string_view text, std::u16string_view separator,
                                      Occurrence occurrence) {
  int32_t found = 0;
  switch (occurrence.kind) {
    case Occurrence::Kind::First:
      found = findFirstExact(text, separator);
      break;
    case Occurrence::Kind::Nth:
      found = FindNthOccurrence(text, occurrence.n, separator);
      break;
    case Occurrence::Kind::Last:
      found = findLastExact(text, separator);
      break;
  }
  if (found > INT16_MAX) return std::nullopt;
  return static_cast<int16_t>(found);
}

}  // namespace qmv
