// Whole numbers typed into the input boxes (start position, number of characters).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qmv {

/// Reads a box's text as a 16-bit signed whole number: optional spaces around, an
/// optional sign, digits with at most one decimal point ("." ) and at least one digit.
/// A fraction is rounded to the nearest whole number, halves to even (2.5 -> 2, 1.5 -> 2).
/// No value for "", ".", "1.2.3", letters, or a result outside -32768..32767.
std::optional<int16_t> boxNumber(std::u16string_view text);

}  // namespace qmv
