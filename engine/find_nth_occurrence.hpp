// Occurrence searches that give a start position from a separator.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qmv {

/// 1-based position of the nth occurrence of `separator` in `text`, comparing letters
/// without regard to case and every other character literally; 0 when there are fewer
/// than n occurrences, when n < 1 or when the separator is empty. Positions count UTF-16
/// code units.
int32_t FindNthOccurrence(std::u16string_view text, int32_t n, std::u16string_view separator);

/// 1-based position of the first exact occurrence of `separator`, or 0.
int32_t findFirstExact(std::u16string_view text, std::u16string_view separator);

/// 1-based position of the last exact occurrence of `separator`, or 0.
int32_t findLastExact(std::u16string_view text, std::u16string_view separator);

/// Which occurrence of a separator gives the start position.
struct Occurrence {
  enum class Kind {
    First,  ///< the first, compared exactly
    Nth,    ///< the nth, letters compared without regard to case (FindNthOccurrence)
    Last,   ///< the last, compared exactly
  };
  Kind kind = Kind::First;
  int32_t n = 1;  ///< Nth only
};

/// The start position at `occurrence` of `separator` in `text`: 0 when there is none, no
/// value when it lies beyond the 16-bit positions (above 32767).
std::optional<int16_t> separatorStart(std::u16string_view text, std::u16string_view separator,
                                      Occurrence occurrence);

}  // namespace qmv
