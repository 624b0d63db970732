// The removals of `qmv apply` on the text of one field, through the add-in's own per-cell
// transforms (and the in-memory host's TRIM and CLEAN), and the way value removals compare
// texts. This is the one place the file tool reaches the removal engine.
//
// Characters: a character outside the Basic Multilingual Plane (a surrogate pair in
// UTF-16) counts as one character for start positions and numbers of characters, for
// --chars and for --separator, so that a pair is always kept whole or removed whole and a
// removal never writes a character that was not in its input.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/operations.hpp"

namespace qmv {
class WorksheetFunction;
}

namespace qmv::cli {

/// One removal of a chain with the inputs a user would give its form.
struct CharacterStep {
  Operation operation = Operation::RNUM;  ///< one of the thirteen character codes
  std::optional<int> start;               ///< start position (RBSP ... RNAP), typed
  std::optional<int> count;               ///< number of characters (RNBP, RNAP)
  std::string chars;                      ///< characters to remove (RUDC), UTF-8
  /// The start position taken from a separator character (UTF-8, one character), as the
  /// wizard takes it: "1st" and "Last" match exactly, the 2nd to 4th and a typed nth
  /// occurrence match letters without regard to case.
  std::optional<std::string> separator;
  std::u16string occurrence = u"1st";
  bool occurrenceIsEntry = true;
  TextRules rules = TextRules::Classic;  ///< positions count code points under Unicode
};

/// Applies a chain of character removals to field texts, in order.
class CellRemover {
 public:
  /// Text longer than a cell holds (in UTF-16 units).
  static constexpr std::size_t kMaxCellUnits = 32767;

  /// The steps run under the text rules of the first.
  explicit CellRemover(std::vector<CharacterStep> steps);
  ~CellRemover();
  CellRemover(const CellRemover&) = delete;
  CellRemover& operator=(const CellRemover&) = delete;

  /// What became of one text.
  enum class Outcome { Unchanged, Changed, TooLong };

  /// Runs the chain over `text` (valid UTF-8); on Changed, `out` holds the new text. A step
  /// whose transform fails leaves the text as that step found it, as a run leaves a cell.
  Outcome apply(std::string_view text, std::string& out);

 private:
  struct Mapped;
  std::vector<CharacterStep> steps_;
  std::unique_ptr<Mapped> mapped_;
};

/// The key by which value removals compare texts (valid UTF-8): its UTF-16 units with
/// letters folded as the host folds them for its counts, searches and filters, into `out`.
void valueKey(std::string_view text, std::u16string& out);

/// The longest key the host's COUNTIF takes as a criterion; a longer text is never
/// counted, so the counting removals (RADP, RUDP) never clear it.
inline constexpr std::size_t kMaxCriterionUnits = 255;

}  // namespace qmv::cli
