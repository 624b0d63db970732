// Number format codes, as a cell's NumberFormat property gives them.
#pragma once

#include <string_view>

namespace qmv {

/// True for a format code that shows a date or a time: a day, month, year, hour or second
/// placeholder (d m y h s, either case) outside quoted text, escapes ("\\d", "_d", "*d") and
/// brackets, or an elapsed time ([h], [mm], [ss]). "General", "0.00", "@", "[Red]0" and
/// "\"day\" 0" are not; "d/m/yyyy", "[$-409]h:mm AM/PM" and "[h]:mm" are.
bool isDateFormatCode(std::string_view code);

}  // namespace qmv
