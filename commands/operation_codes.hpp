// The operation codes: four capitals naming a removal, the vocabulary that the entry
// points, the dialog, the engines and the wizard share.
#pragma once

#include <optional>
#include <string_view>

namespace qmv {

/// The sixteen removals, in the order of their entry points.
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
};

inline constexpr int kOperationCount = 16;

/// The four-letter code: "RNUM" ... "RUDP".
std::u16string_view operationCode(Operation operation);

/// The operation named by a code, compared as a whole; no value for anything else.
std::optional<Operation> operationFromCode(std::u16string_view code);

/// True for the thirteen character-level removals (RNUM ... RLOC), false for RDPV, RADP
/// and RUDP.
bool isCharacterOperation(Operation operation);

/// The question the dialog asks before the operation runs.
std::u16string_view operationQuestion(Operation operation);

/// True when the operation reads the start position (RBSP, RASP, RNBP, RNAP).
bool usesStartPosition(Operation operation);
/// True when the operation reads the number of characters (RNBP, RNAP).
bool usesCharCount(Operation operation);

}  // namespace qmv
