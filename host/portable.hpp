// Library features some of our compilers' standard libraries lack (the WebAssembly build's
// libc++ has no floating-point from_chars/to_chars, bit_cast or make_unique_for_overwrite),
// in one place that every build uses.
//
//   bitCast<To>(from)        std::bit_cast for trivially copyable types of one size
//   uninitialisedArray<T>(n) std::make_unique_for_overwrite<T[]>(n)
//   parseDecimal(text)       a finite or infinite double from "1.5", "-2e-3" ("C" notation,
//                            the whole text); no value for anything else
//   scientificText(x, p)     x as "d.ddde+XX" with p digits after the point, as
//                            std::to_chars(..., chars_format::scientific, p) writes it
#pragma once

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace qmv {

template <typename To, typename From>
To bitCast(const From& from) {
  static_assert(sizeof(To) == sizeof(From));
  static_assert(std::is_trivially_copyable_v<To> && std::is_trivially_copyable_v<From>);
  To to;
  std::memcpy(&to, &from, sizeof to);
  return to;
}

template <typename T>
std::unique_ptr<T[]> uninitialisedArray(std::size_t size) {
  return std::unique_ptr<T[]>(new T[size]);
}

std::optional<double> parseDecimal(std::string_view text);

std::string scientificText(double number, int precision);

}  // namespace qmv
