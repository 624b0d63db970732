// The operation table: the operations, one row each, with everything the rest of the
// program derives from an operation (its code, its question, the inputs it reads, its kind,
// its text transforms under both text rules or its value mode, its Ribbon group and label,
// its menu button, its command-line name and help, its wizard entry).
//
// Adding an operation means adding its enumerator, its row in operations.cpp and, for a
// character operation, its transform; the dialog, the Ribbon, the menu, the entry points,
// the wizard's list, the engine's dispatch, the web engine and the command-line names and
// help all read the table.
//
// transformText works on one text without any host or form: a file tool may call it per
// cell value. RLTE and RNPC use the host's TRIM and CLEAN when given the host's worksheet
// functions, and the same rules computed here otherwise.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "engine/find_nth_occurrence.hpp"
#include "engine/text_rules.hpp"

namespace qmv {

class WorksheetFunction;

/// The operations: the sixteen removals of the entry points, in their order, then the
/// ones the Ribbon offers.
enum class Operation {
  RNUM,  ///< all digits
  RALP,  ///< all letters
  RNPC,  ///< non-printable characters
  RUDC,  ///< user-defined characters
  RALS,  ///< all spaces
  RLTS,  ///< leading and trailing spaces
  RLTE,  ///< leading, trailing and excessive spaces
  RBSP,  ///< all text before the start position
  RASP,  ///< all text after the start position
  RNBP,  ///< a number of characters before the start position
  RNAP,  ///< a number of characters after the start position
  RUPC,  ///< upper-case letters
  RLOC,  ///< lower-case letters
  RDPV,  ///< duplicate values, keeping the first
  RADP,  ///< every value that occurs more than once
  RUDP,  ///< every value that occurs once
  RNDG,  ///< everything but the digits
  RNAN,  ///< everything but the letters and digits
  RPSY,  ///< punctuation and symbols
  RTXT,  ///< every occurrence of a text
  RBTW,  ///< text between two delimiters, the delimiters included
  RFNC,  ///< the first characters
  RLNC,  ///< the last characters
  RLBR,  ///< line breaks, joined with a space
  RACC,  ///< accents, the letters kept
  RPAT,  ///< every match of a regular expression
  CUPR,  ///< the text to UPPER case
  CLWR,  ///< the text to lower case
  CPRP,  ///< the text to Proper case
  CSNT,  ///< the text to Sentence case
  REMJ,  ///< emojis, every sequence whole
  RLKA,  ///< look-alike characters to their usual forms
  RMOJ,  ///< broken encodings (UTF-8 read as Windows-1252) repaired
};

inline constexpr int kOperationCount = 33;

/// Whether an operation rewrites the text of each cell or clears whole values.
enum class OperationKind { CharacterLevel, ValueLevel };

/// The inputs an operation reads besides the cell text.
enum class OperationInputs {
  None,
  Characters,     ///< the characters to remove
  StartPosition,  ///< the start position
  StartAndCount,  ///< the start position and the number of characters
  Text,           ///< a text and whether its case must match
  Delimiters,     ///< an opening and a closing delimiter
  Count,          ///< the number of characters
  Pattern,        ///< a regular expression and whether its case must match
};

/// How a value removal picks the cells it clears (one column).
enum class ValueMode {
  KeepFirst,    ///< every repeat of a value; its first occurrence stays
  AllRepeated,  ///< every occurrence of every value that occurs more than once
  AllUnique,    ///< every value that occurs exactly once
};

/// The inputs of the position and user-character operations. An absent number did not
/// convert; the operations that need it then fail.
struct CharacterInputs {
  std::optional<int16_t> startPosition;
  std::optional<int16_t> charCount;
  std::u16string_view userChars;
  /// What counts as a character, a space, a letter; Classic unless the run asks otherwise.
  TextRules rules = TextRules::Classic;
  /// The text to remove, and whether its case (or the pattern's) must match.
  std::u16string_view text{};
  bool matchCase = false;
  /// The regular expression of the pattern removal (engine/text_pattern.hpp).
  std::u16string_view pattern{};
  /// The delimiters of the text-between removal.
  std::u16string_view opening{};
  std::u16string_view closing{};
  /// The operations that start at a separator: with a separator, the start position is
  /// that occurrence of it in each text (startPosition is then not read); a text without
  /// it is left as it is.
  std::optional<std::u16string_view> separator{};
  Occurrence occurrence{};
};

/// Writes the new text of one cell text into `out`, whose storage it may reuse; false
/// when the operation fails for the text (`out` then holds nothing of use). `out` may not
/// overlap `text`.
using TextTransform = bool (*)(std::u16string_view text, const CharacterInputs& inputs,
                               WorksheetFunction* functions, std::u16string& out);

/// A transform that makes a new text (no value on failure), as a TextTransform: the text
/// is moved into the caller's.
template <std::optional<std::u16string> (*kMakes)(std::u16string_view, const CharacterInputs&,
                                                  WorksheetFunction*)>
bool transformMakingText(std::u16string_view text, const CharacterInputs& inputs,
                         WorksheetFunction* functions, std::u16string& out) {
  std::optional<std::u16string> made = kMakes(text, inputs, functions);
  if (!made) return false;
  out = std::move(*made);
  return true;
}

/// Which side of the start position a position removal takes text from.
enum class PositionSide : uint8_t { None, Before, After };

/// What the rest of the program needs to know of an operation besides its transform.
struct OperationFacts {
  /// Drops single characters, each for what it is whatever stands around it (under the
  /// classic rules): a table decided on single characters holds for any text.
  bool dropsSingleCharacters = false;
  /// The position removals: the side of the start position they take text from.
  PositionSide side = PositionSide::None;
  /// The position removals: all the text on that side (else a number of characters).
  bool wholeSide = false;
  /// The start position may be taken from a separator in the text (the wizard's).
  bool startsAtSeparator = false;
  /// Reads characters as code points under both text rules (a character beyond U+FFFF must
  /// reach it as its surrogate pair): the case changes, emojis, look-alikes.
  bool readsCodePoints = false;
};

/// The Ribbon groups that hold operations, in the order the tab shows them.
enum class RibbonGroupId : uint8_t {
  None,
  Characters,
  Spaces,
  Positions,
  Case,
  Keep,
  Text,
  Ends,
  CleanUp,
  ChangeCase,
  Repair,
  Values,
};

/// One Ribbon group of operations: its buttons are the rows naming it, in table order.
struct OperationGroup {
  RibbonGroupId group;
  std::u16string_view id;
  std::u16string_view label;
  std::u16string_view keytip;  ///< also the first letter of its buttons' keytips
  uint32_t colour;             ///< background of its buttons' pictures, 0xRRGGBB
};

/// Where the Ribbon shows an operation.
struct RibbonFacts {
  RibbonGroupId group = RibbonGroupId::None;
  std::u16string_view label{};  ///< empty: the menu caption without its accelerator mark
};

/// The menu button that runs an operation (the menu offers only the entry points' sixteen).
struct MenuFacts {
  std::u16string_view tag{};  ///< the dispatch key ("QMV1"); empty: not on the menu
  std::u16string_view caption{};
  std::u16string_view onAction{};
  int32_t faceId = 0;
  std::u16string_view parameter{};  ///< empty: Parameter is left at the host's default
  bool beginGroup = false;          ///< a group separator above the button
};

/// One row of the table.
struct OperationRow {
  Operation operation;
  std::u16string_view code;      ///< "RNUM"
  std::u16string_view question;  ///< asked by the confirm-and-progress dialog
  OperationInputs inputs = OperationInputs::None;
  OperationKind kind = OperationKind::CharacterLevel;
  TextTransform transform = nullptr;  ///< character operations; null for value operations
  /// Under the Unicode text rules; null: `transform` reads the rules itself.
  TextTransform unicode = nullptr;
  ValueMode valueMode = ValueMode::KeepFirst;  ///< value operations
  bool usesHostFunctions = false;              ///< asks the host's TRIM or CLEAN when it can
  std::string_view name{};                     ///< command-line name ("digits"); empty for none
  std::string_view meaning{};                  ///< what it does, for help texts
  RibbonFacts ribbon{};
  MenuFacts menu{};
  std::u16string_view wizardEntry{};  ///< caption in the wizard's list; empty for none
  int wizardIndex = -1;               ///< place in the wizard's list; -1 for none
  OperationFacts facts{};
};

/// The rows, in the order of Operation.
std::span<const OperationRow> operationTable();

/// The row of an operation.
const OperationRow& operationRow(Operation operation);

/// The four-letter code: "RNUM" ... "RUDP".
std::u16string_view operationCode(Operation operation);

/// The operation named by a code, compared as a whole; no value for anything else.
std::optional<Operation> operationFromCode(std::u16string_view code);

/// True for the removals that rewrite each cell's text (the rows of kind CharacterLevel).
bool isCharacterOperation(Operation operation);

/// The question the dialog asks before the operation runs.
std::u16string_view operationQuestion(Operation operation);

/// True when the operation reads the start position (RBSP, RASP, RNBP, RNAP).
bool usesStartPosition(Operation operation);
/// True when the operation reads the number of characters (RNBP, RNAP, RFNC, RLNC).
bool usesCharCount(Operation operation);

/// The position removal of `side` that takes all the text there (`whole`) or a number of
/// characters.
Operation positionOperation(PositionSide side, bool whole);

/// The Ribbon's groups of operations, in the order the tab shows them.
std::span<const OperationGroup> operationGroups();

/// The Ribbon group that shows the operation; null for none.
const OperationGroup* operationRibbonGroup(Operation operation);

/// The label of the operation's Ribbon button: its own, or its menu caption without the
/// accelerator mark.
std::u16string operationRibbonLabel(Operation operation);

/// A menu caption without its accelerator mark; a doubled mark stays as one literal '&'.
std::u16string withoutAcceleratorMark(std::u16string_view caption);

/// The operation at `index` of the wizard's list; no value for an index the table does
/// not fill.
std::optional<Operation> wizardOperation(int index);

/// The new text of `text` under a character operation; no value when the operation fails
/// for it (a number that did not convert, a position outside the text's rules, a failing
/// host function) and for a value operation. With `functions`, RLTE and RNPC ask the host;
/// without, they apply the same rules here. Under the Unicode rules of `inputs` every
/// operation that has a Unicode transform (engine/unicode_transforms.hpp) applies it and
/// never asks the host.
std::optional<std::u16string> transformText(Operation operation, std::u16string_view text,
                                            const CharacterInputs& inputs,
                                            WorksheetFunction* functions = nullptr);

/// The same into `out`, whose storage is reused (a run over many cells allocates only for
/// a text longer than any before); false where transformText gives no value. `out` may
/// not overlap `text`.
bool transformTextInto(Operation operation, std::u16string_view text, const CharacterInputs& inputs,
                       WorksheetFunction* functions, std::u16string& out);

}  // namespace qmv
