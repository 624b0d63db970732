// A chunk of cells as the page hands it to the engine, and the rule's results as the page
// takes them back: texts as UTF-16 in one buffer each, everything else in plain arrays, so
// that nothing is encoded or decoded per cell. The page writes a chunk straight into the
// module's memory (bindings.cpp, web/src/engine.ts); the native probe fills the same
// structures from its JSON requests (web_core.cpp), so both builds run the same code.
//
// Offers: TextList, CellKind, WriteKind, CellChunk, ChunkResults, ChunkRule.
// Edge cases: a text of a cell that is not a text or an error is ignored; an error cell's
// text that names no error value stands for #VALUE!; a format index past the chunk's
// formats reads as General.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/block_rule.hpp"
#include "engine/operations.hpp"
#include "host/locale.hpp"
#include "host/value.hpp"

namespace qmv::web {

/// UTF-16 texts back to back in one buffer; text i ends at ends[i] and starts where text
/// i - 1 ends.
struct TextList {
  std::vector<char16_t> units;
  std::vector<uint32_t> ends;

  std::size_t size() const { return ends.size(); }
  std::u16string_view at(std::size_t i) const {
    const uint32_t start = i == 0 ? 0 : ends[i - 1];
    return {units.data() + start, ends[i] - start};
  }
  void clear() {
    units.clear();
    ends.clear();
  }
  void push(std::u16string_view text) {
    units.insert(units.end(), text.begin(), text.end());
    ends.push_back(static_cast<uint32_t>(units.size()));
  }
  /// Makes the list `count` texts of `textAt(i)`, sized once (a push per text grows the
  /// buffer as it goes, which costs as much as the rule in WebAssembly).
  template <typename TextAt>
  void assign(std::size_t count, TextAt&& textAt) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i) total += textAt(i).size();
    units.resize(total);
    ends.resize(count);
    std::size_t at = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::u16string_view text = textAt(i);
      std::copy(text.begin(), text.end(), units.begin() + static_cast<std::ptrdiff_t>(at));
      at += text.size();
      ends[i] = static_cast<uint32_t>(at);
    }
  }
};

/// A cell's value as the page reads it from the Excel JavaScript API (valueTypes), with
/// kFormula added when the cell holds a formula.
enum class CellKind : uint8_t { Empty = 0, Text = 1, Number = 2, Boolean = 3, Error = 4 };
inline constexpr uint8_t kFormula = 0x80;

/// What typing a changed cell's new text stores (CellWrite.kind), with kOwnWriteText added
/// when the text stored is not the new text itself (it is then in ChunkResults::writeTexts).
enum class WriteKind : uint8_t { Text = 0, Number = 1, Date = 2, Boolean = 3, Empty = 4 };
inline constexpr uint8_t kOwnWriteText = 0x80;

/// The cells of a chunk, in the page's order (row by row).
struct CellChunk {
  std::vector<uint8_t> kinds;      ///< a CellKind, | kFormula
  std::vector<double> numbers;     ///< a Number's value; a Boolean's 1 or 0
  std::vector<uint32_t> formatOf;  ///< each cell's number format, an index into `formats`
  TextList texts;                  ///< one per cell: a Text's text, an Error's ("#N/A")
  TextList formats;                ///< the chunk's distinct number formats

  std::size_t size() const { return kinds.size(); }
  /// Sizes every per-cell array for `cells` cells (their contents are the caller's).
  void resize(std::size_t cells);
  std::u16string_view formatAt(std::size_t cell) const;
};

/// The cells of a chunk the rule does not keep, in the order of the cells.
struct ChunkResults {
  std::vector<uint32_t> cells;       ///< the cell's index in the chunk
  std::vector<uint8_t> outcomes;     ///< 1: changed, 2: gave up (CellOutcome)
  std::vector<uint8_t> writeKinds;   ///< a WriteKind | kOwnWriteText (changed only)
  std::vector<double> writeNumbers;  ///< a Number's or Date's serial, a Boolean's 1 or 0
  TextList before;                   ///< the text the cell shows (when asked for)
  TextList after;                    ///< the new text ("" for a cell given up on)
  TextList writeTexts;               ///< the text stored, where kOwnWriteText says so
  TextList writeFormats;             ///< the format typing gives the cell ("": its own)

  std::size_t size() const { return cells.size(); }
  void clear();
};

/// A removal made ready once for any number of chunks: a character removal's rule, or a
/// value removal's decision over its whole list. Keeps its working storage from chunk to
/// chunk. Not copyable: the request points into the texts it owns.
class ChunkRule {
 public:
  /// The texts the request's inputs point into.
  struct Texts {
    std::u16string characters, text, pattern, opening, closing, separator;
  };
  ChunkRule(const OperationRow& row, const HostLocale& locale, int currentYear);
  ChunkRule(const ChunkRule&) = delete;
  ChunkRule& operator=(const ChunkRule&) = delete;

  const OperationRow& row() const { return row_; }
  /// Filled once by whoever makes the rule ready: the texts first, then the request's
  /// inputs pointing into them.
  Texts& texts() { return texts_; }
  BlockRequest& request() { return block_; }

  /// A character removal over `chunk`: `results` holds its changed and given-up cells,
  /// each changed one with what typing its new text stores.
  void over(const CellChunk& chunk, bool keepBefore, ChunkResults& results);

  /// A value removal over its list `chunk`: 1 for each cell it clears, else 0.
  void clears(const CellChunk& chunk, std::vector<uint8_t>& out);

 private:
  /// The texts the rule reads of the chunk's cells, viewed where they are.
  void viewTexts(const CellChunk& chunk);
  bool isDate(const CellChunk& chunk, uint32_t format);

  const OperationRow& row_;
  Texts texts_;
  BlockRequest block_;
  int currentYear_;
  std::vector<std::optional<bool>> dateFormats_;
  BlockResults results_;
  std::vector<std::optional<std::u16string_view>> views_;
  TextList shown_;                 ///< the texts numbers and Booleans show
  std::vector<uint32_t> shownOf_;  ///< the cell of each of them
};

/// What undo writes back to a recorded cell (RestoreWrites::writes).
enum class RestoreWrite : uint8_t {
  None = 0,     ///< nothing: the cell changed since the run, and is left as it is
  Formula = 1,  ///< its formula notation
  Number = 2,   ///< its formula notation, and the number (a date's serial) through values
  Boolean = 3,  ///< its formula notation, and the Boolean through values
};

/// Undo's writes, one per recorded cell, in the order of the cells.
struct RestoreWrites {
  std::vector<uint8_t> writes;  ///< a RestoreWrite
  std::vector<double> numbers;  ///< the number, or the Boolean's 1 or 0
  TextList formulas;            ///< the content in formula notation (en-US); "" clears
  TextList formats;             ///< the number format it had

  void clear();
};

/// What puts back each recorded cell: `before` as the cell was (a formula cell's text is its
/// formula), `after` what the run left (a cleared cell: Empty; a date: its Number), `now` the
/// cell as it is. A cell is put back only where it still holds what the run left; a number
/// goes back through values too, exactly, as the formula notation keeps 15 digits. The three
/// chunks have the same cells; a shorter one's missing cells count as changed.
void restoreWrites(const CellChunk& before, const CellChunk& after, const CellChunk& now,
                   RestoreWrites& out);

/// The value a cell of the page's reads holds, as the engine reads a cell: a Number in a
/// date format is a date.
void cellContent(uint8_t kind, double number, std::u16string_view text, bool dateFormat,
                 CellContent& out);

}  // namespace qmv::web
