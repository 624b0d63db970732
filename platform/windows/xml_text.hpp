// Text for XML attribute values written by the add-in (the Ribbon's custom UI, the
// installer's WiX source).
#pragma once

#include <string>
#include <string_view>

#include "host/text.hpp"
#include "platform/windows/com_support.hpp"

namespace qmv::windows {

/// `text` with '&', '<', '>' and '"' written as entities, for a double-quoted attribute.
inline std::wstring xmlAttributeText(std::wstring_view text) {
  return toWide(escapeText(fromWide(text), Escapes::XmlAttribute));
}

}  // namespace qmv::windows
