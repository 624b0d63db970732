// Which characters the character removals count as spaces, non-printable characters,
// letters and upper or lower case, and what one character is.
//
//   Classic  one character is one UTF-16 code unit; a space is U+0020 only, the
//            non-printable characters are the codes 0-31, the letters A-Z and a-z.
//   Unicode  one character is one code point (a surrogate pair is one character, for the
//            position cuts and the user's characters too); the spaces, non-printable
//            characters, letters and cases are the classes of engine/unicode_classes.hpp.
//            RLTE reduces an inner run of spaces to its first character.
//
// The choice is a per-user setting the host keeps for the add-in (Classic until stored).
#pragma once

#include <string>

namespace qmv {

class Application;
class RemovalSession;

/// The rules the character removals apply.
enum class TextRules { Classic, Unicode };

/// The name of the host setting that holds the rules, and its stored values.
inline constexpr char16_t kTextRulesSetting[] = u"UnicodeText";
inline constexpr char16_t kTextRulesOn[] = u"1";
inline constexpr char16_t kTextRulesOff[] = u"0";

/// The stored rules: Unicode when the setting holds "1", Classic otherwise (also when it was
/// never stored). Throws what the host throws.
TextRules textRulesSetting(Application& app);
/// The same, Classic when the host fails.
TextRules tryTextRulesSetting(Application& app);

/// The stored rules of the session's host; Classic while disconnected or when the host fails.
TextRules sessionTextRules(const RemovalSession& session);

/// Stores the rules; throws what the host throws.
void setTextRulesSetting(Application& app, TextRules rules);
/// The same, false when the host fails.
bool trySetTextRulesSetting(Application& app, TextRules rules);

}  // namespace qmv
