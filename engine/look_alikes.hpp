// The look-alike repair: characters that look like others and break lookups, to their
// usual forms.
#pragma once

#include <string>
#include <string_view>

namespace qmv {

/// The fullwidth and halfwidth forms to their usual forms ("１２" -> "12", "ｶ" -> "カ"),
/// each to the character its decomposition names; everything else stays.
std::u16string normalizeWidths(std::u16string_view text);

/// Unicode's NFKC: every compatibility form to its usual form (ligatures, superscripts,
/// circled digits, the width forms), the text composed. A lone surrogate stays as it is.
std::u16string normalizeCompatibility(std::u16string_view text);

}  // namespace qmv
