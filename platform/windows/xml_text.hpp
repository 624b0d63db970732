// Text for XML attribute values written by the add-in (the Ribbon's custom UI, the
// installer's WiX source).
#pragma once

#include <string>
#include <string_view>

namespace qmv::windows {

/// `text` with '&', '<', '>' and '"' written as entities, for a double-quoted attribute.
inline std::wstring xmlAttributeText(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (const wchar_t c : text) {
    switch (c) {
      case L'&':
        out += L"&amp;";
        break;
      case L'<':
        out += L"&lt;";
        break;
      case L'>':
        out += L"&gt;";
        break;
      case L'"':
        out += L"&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace qmv::windows
