// The repair of broken encodings (mojibake): text that was UTF-8 and was read as
// Windows-1252 or Latin-1 ("NumÃ©ro" for "Numéro", "â€™" for "’"), once or twice.
#pragma once

#include <string>
#include <string_view>

namespace qmv {

/// The text as it was before one or two wrong readings. A reading is undone only when the
/// whole text round-trips: every character is one byte under Windows-1252 (its five unused
/// bytes read as the C1 controls, as Windows reads them) or under Latin-1, the bytes are
/// valid UTF-8 with at least one character beyond ASCII, and reading that UTF-8 the same
/// way gives back the text exactly. Any other text stays as it is.
std::u16string repairBrokenEncoding(std::u16string_view text);

}  // namespace qmv
