// The emoji removal: every emoji sequence goes whole, everything else stays.
//
// A sequence starts at a character shown as an emoji by default (Emoji_Presentation), at a
// text-default emoji character followed by the emoji selector U+FE0F, a skin-tone modifier,
// the keycap mark U+20E3 or a zero-width joiner and another pictograph, at a pair of
// regional indicators (a flag), or at 0-9, # or * followed by the keycap mark (with or
// without the selector). It goes on with variation selectors, skin-tone modifiers, the
// keycap mark, tag characters (U+E0020-U+E007F, the subdivision flags) and zero-width
// joiners each followed by another emoji character. A digit or # without the keycap mark,
// a text symbol such as (c) U+00A9 without the selector, a lone joiner: all stay.
#pragma once

#include <string>
#include <string_view>

namespace qmv {

/// The text without its emoji sequences.
std::u16string removeEmojis(std::u16string_view text);

}  // namespace qmv
