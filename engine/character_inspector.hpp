// The character inspector: the characters of a text a user cannot tell apart by looking
// (the invisible ones, and everything beyond ASCII), each with its position, its Unicode
// name and the operation that would take it out.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/operations.hpp"

namespace qmv {

/// One character the inspector shows.
struct InspectedCharacter {
  std::size_t position = 0;  ///< 1-based, in characters (a surrogate pair is one)
  char32_t codePoint = 0;
  std::string name;  ///< "NO-BREAK SPACE"; "<unnamed>" for an unassigned code point
  /// The operation that picks this character out: of those without inputs that change it
  /// alone and leave "A", "a", "0", "-" and "." alone, one that removes it before one that
  /// replaces it, the classic rules before the Unicode ones, then the table's order; none
  /// where no operation picks it out.
  std::optional<Operation> removal;
  bool underUnicodeRules = false;  ///< the removal needs the Unicode text rules
};

/// The Unicode name of a code point: its name in the character data, a control's Unicode 1
/// name, an ideograph's or Hangul syllable's derived name; "<unnamed>" for none.
std::string characterName(char32_t codePoint);

/// The characters of `text` below U+0020, U+007F and every one beyond ASCII, in order.
std::vector<InspectedCharacter> inspectCharacters(std::u16string_view text);

/// How a host names the removal of a character.
enum class RemovalNaming {
  CommandLine,  ///< "qmv apply spaces --unicode"
  Ribbon,       ///< "Remove all Spaces in Selection (Unicode text)"
};

/// One line per inspected character: "3  U+00A0  NO-BREAK SPACE  -> <removal>"; a text
/// with none gives "No invisible or non-ASCII characters."
std::u16string inspectionReport(std::u16string_view text, RemovalNaming naming);

}  // namespace qmv
