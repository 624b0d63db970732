// ASCII letter case for the program's own vocabularies (command words, file extensions, part
// names, number format codes): only A-Z change, whatever the C locale says, and every other
// byte or unit (UTF-8 of other scripts included) stays as it is.
#pragma once

#include <string>
#include <string_view>

namespace qmv {

/// 'A'-'Z' as 'a'-'z'; every other byte as it is.
constexpr char asciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

/// 'a'-'z' as 'A'-'Z'; every other byte as it is.
constexpr char asciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

/// u'A'-u'Z' as u'a'-u'z'; every other unit as it is.
constexpr char16_t asciiLower(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

/// `text` with asciiLower applied to each byte: "XLSX" -> "xlsx", "Ä" stays "Ä".
inline std::string asciiLowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = asciiLower(c);
  return out;
}

/// `text` with asciiLower applied to each unit: u"TRUE" -> u"true", u"ſ" stays u"ſ".
inline std::u16string asciiLowered(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = asciiLower(c);
  return out;
}

}  // namespace qmv
