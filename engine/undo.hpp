// Undo of the last run: an in-memory record of the cells a run visited or cleared, what
// each held before and what the run left in it.
//
// The record is compact (a fixed 32 bytes per visited cell plus the old texts, and for a
// cleared cell, or one whose result typing gave a number format, its formats and the look
// the run left in 16 bytes each, with each distinct number format kept once),
// grows with the cells actually visited, and restores each cell's exact content (a text
// "007" stays a text) and recorded formats. Where the host keeps a copy of the cleared
// areas aside (Range::keepAside), a cleared cell gets back from it everything the clear
// removed, its borders, fonts, comments and the like included. A formula comes back with the value
// it showed, for a host that cannot calculate it, and is calculated by a host that can. A cell
// that was changed after the run is never overwritten; a cell the host refuses to take back is
// counted, and the others are restored all the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/address.hpp"
#include "host/host.hpp"
#include "host/value.hpp"

namespace qmv {

class RemovalSession;

/// Message texts of the undo command.
inline constexpr char16_t kNothingToUndoText[] = u"Nothing to Undo!";
inline constexpr char16_t kUndoFailedText[] = u"Undo Command Failed!";

/// "N cells changed after the removal were left as they are." ("1 cell ... was ... it is.")
std::u16string keptChangesText(std::size_t count);
/// "N cells could not be restored." ("1 cell ..."), and how many of them hold a formula the
/// host would not take back (an array formula over the host's length limit, for one).
std::u16string unrestoredText(std::size_t count, std::size_t formulas);

/// One recorded cell: its address and its formula-or-value before the run.
struct UndoEntry {
  std::u16string address;  ///< absolute, without sheet name: "$B$3"
  CellContent formula;     ///< the content before the run, with its type
};

/// The record of the last run.
struct UndoSnapshot {
  /// The workbook and sheet that were active when the run started, and their names.
  WorkbookPtr workbook;
  WorksheetPtr worksheet;
  std::u16string workbookName;
  std::u16string worksheetName;

  /// Notes a change of cells the user made after the run (a change notice of the host).
  /// A notice for another sheet is ignored; one that names no cells counts as a change of
  /// every cell. Entire rows changed (inserted, deleted) count for every row below them
  /// too, since those rows moved; entire columns likewise for the columns to their right.
  void noteLaterChange(const CellsChange& change);
  /// True when cell `cell` may have been changed or moved since the run.
  bool changedAfterRun(CellRef cell) const;

  /// Number of recorded cells.
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  /// Entry `index` (0-based, in visiting order).
  UndoEntry entry(std::size_t index) const;
  CellRef cell(std::size_t index) const;
  /// The content the cell held before the run; a formula with the value it showed.
  CellContent previous(std::size_t index) const;

  /// Starts a block of visited cells that lie in `area` (the area is read and written
  /// again in one call at the end of the run and by the undo).
  void beginBlock(const AreaRef& area);
  /// Appends the next visited cell; returns its index. Call beginBlock first.
  std::size_t record(CellRef cell, const CellContent& previous);
  /// Starts a block over `cells.area` and appends every cell of `cells` (row-major) as the
  /// next entries, in one pass: a run records a band ahead of visiting it. Returns the
  /// index of the first.
  std::size_t recordBlock(const CellBlock& cells);
  /// Forgets the entries of the last block from `end` on (never an earlier block's): the
  /// cells it recorded ahead that the run did not visit. They must not be marked written.
  void dropEntriesFrom(std::size_t end);
  /// Marks cell `index` as rewritten by the run; what it holds now is learnt by
  /// captureResults (or given by noteResult).
  void markWritten(std::size_t index);
  /// markWritten for each of `indices`, entries of one block.
  void markWritten(std::span<const std::size_t> indices);
  /// True when the run rewrote cell `index`.
  bool written(std::size_t index) const { return entries_[index].after != Kind::Same; }
  /// True when the run left cell `index` empty (a cleared cell).
  bool leftEmpty(std::size_t index) const { return entries_[index].after == Kind::Empty; }
  /// Records what the run left in cell `index`.
  void noteResult(std::size_t index, const CellContent& after);
  /// noteResult for a cell the run rewrote that holds the constant `value`, no formula.
  void noteResultValue(std::size_t index, const Value& value);
  /// noteResultValue(indices[i], values[i]) for each of `values`, entries of one block.
  void noteResultValues(std::span<const std::size_t> indices, std::span<const Value> values);
  /// Records the formats cell `index` had before the run, for undo to put back; the parts
  /// marked unknown are left as undo finds them. Entries may come in any order; a second
  /// record of an entry replaces the first.
  void recordFormats(std::size_t index, const CellFormats& formats);
  /// The formats recorded for cell `index`; none when none were recorded. The parts the
  /// host could not tell are marked unknown; the host's other formats always are.
  std::optional<CellFormats> formats(std::size_t index) const;
  /// Records the look the run left in cell `index` (a cell with recorded formats), read
  /// back once the run ended: undo tells by it a look the user gave the cell since.
  void noteLookAfterRun(std::size_t index, const CellFormats& formats);
  /// The look noted for cell `index`; none when none was noted.
  std::optional<CellFormats> lookAfterRun(std::size_t index) const;
  /// The entries with recorded formats, ascending.
  std::vector<std::size_t> formattedEntries() const;
  /// Keeps the host's copy of cells about to be cleared, for undo to put back.
  void keepAside(std::shared_ptr<KeptCells> copy);
  /// The copy kept by the run of entry `index` that holds its cell; null when none does
  /// (a copy holds the cells as that run found them, not as an earlier run did).
  KeptCells* keptCopy(std::size_t index) const;

  /// Starts a further run in this record: a recipe's value step after its character steps,
  /// which one undo takes back together. Its blocks and entries follow the earlier run's;
  /// captureRunResults reads back this run's only; undo restores blocks last first, so
  /// that a cell both runs changed comes back through what it held in between.
  void beginFollowingRun();
  /// The first block and the first entry of the last run (0 and 0 with a single run).
  std::size_t lastRunBlock() const { return runs_.back().firstBlock; }
  std::size_t lastRunEntry() const { return runs_.back().firstEntry; }

  /// True when `current` is exactly what the cell held before the run.
  bool holdsPrevious(std::size_t index, const CellContent& current) const;
  /// True when `current` is what the run left in the cell (a cell that the run did not
  /// rewrite was left with its previous content).
  bool holdsRunResult(std::size_t index, const CellContent& current) const;

  /// A block of entries [first, end) lying in `area`.
  struct Block {
    AreaRef area;
    std::size_t first = 0;
    std::size_t end = 0;
    bool anyWritten = false;
    std::size_t unconfirmed = 0;  ///< rewritten entries whose result is not known yet
    int64_t topRow = 0;           ///< the highest row of its entries (they may come in any order)
    int64_t bottomRow = 0;        ///< the lowest
  };
  const std::vector<Block>& blocks() const { return blocks_; }
  /// noteResult for every rewritten cell of `block` that lies in `cells`, from its content
  /// there.
  void noteBlockResults(const Block& block, const CellBlock& cells);

  /// Memory held for the entries (fixed part) and for the recorded old texts.
  std::size_t entryBytes() const;
  std::size_t textBytes() const;

 private:
  enum class Kind : uint8_t { Empty, Number, Text, Boolean, Date, Error, Formula, Unknown, Same };
  struct Packed {
    uint32_t row = 0;
    uint16_t column = 0;
    Kind before = Kind::Empty;
    Kind after = Kind::Same;  ///< Same: not rewritten; Unknown: rewritten, result not read
    uint32_t beforeLength = 0;
    uint32_t afterLength = 0;
    uint64_t beforePayload = 0;  ///< number bits, Boolean, error code, or text location
    uint64_t afterPayload = 0;   ///< number bits, Boolean, error code, or text hash
  };
  static_assert(sizeof(Packed) == 32);
  void recordIn(Packed& p, CellRef cell, const CellContent& previous);
  static void noteResultIn(Packed& p, const CellContent& after);
  static void noteValueIn(Packed& p, const Value& after);
  /// The block holding entry `index`.
  Block& blockOf(std::size_t index);
  struct PackedFormats {
    uint32_t index = 0;         ///< the entry
    uint32_t numberFormat = 0;  ///< position in numberFormats_
    uint32_t fill = 0;
    uint32_t fontColor = 0;
    // Whether fill and font colour are set, and which parts were unknown, ride in the top
    // bits of numberFormat.
  };
  static_assert(sizeof(PackedFormats) == 16);
  PackedFormats packFormats(std::size_t index, const CellFormats& formats);
  CellFormats unpackFormats(const PackedFormats& p) const;
  /// Puts `p` in `list` by its entry, replacing one of the same entry.
  static void insertByEntry(std::deque<PackedFormats>& list, const PackedFormats& p);
  static const PackedFormats* findEntry(const std::deque<PackedFormats>& list, std::size_t index);

  uint64_t storeText(const std::u16string& text);
  /// Starts a chunk of at least `atLeast` units for the texts.
  void newChunk(std::size_t atLeast);
  std::u16string_view storedText(uint64_t location, uint32_t length) const;
  static uint64_t textHash(std::u16string_view text);

  std::deque<Packed> entries_;
  std::deque<PackedFormats> formats_;
  std::deque<PackedFormats> looksAfter_;  ///< by entry, as formats_
  /// The values recorded formulas showed, by entry, in ascending order of entry.
  std::deque<std::pair<std::size_t, Value>> formulaValues_;
  std::vector<std::u16string> numberFormats_;
  std::unordered_map<std::u16string, uint32_t> numberFormatIds_;
  std::vector<Block> blocks_;
  struct RunStart {
    std::size_t firstBlock = 0;
    std::size_t firstEntry = 0;
  };
  std::vector<RunStart> runs_{RunStart{}};
  /// The run (index into runs_) the entry belongs to.
  std::size_t runOf(std::size_t index) const;
  /// Each kept copy with the run that kept it.
  std::vector<std::pair<std::size_t, std::shared_ptr<KeptCells>>> kept_;
  /// The areas changed after the run; past kMaxLaterChanges, every cell counts.
  std::vector<AreaRef> laterChanges_;
  bool everythingChanged_ = false;
  std::vector<std::unique_ptr<char16_t[]>> chunks_;
  std::vector<std::size_t> chunkSizes_;
  std::size_t chunkUsed_ = 0;
  char16_t* chunk_ = nullptr;   ///< the last chunk
  std::size_t chunkUnits_ = 0;  ///< its size
};

/// Starts a new snapshot for a run, discarding the previous one, and remembers the active
/// workbook and sheet (each step tolerant). Call only when the selection holds a
/// non-empty cell.
UndoSnapshot& BeginUndoSnapshot(RemovalSession& session);

/// Records the next visited cell with its content before the change; returns its index.
std::size_t RecordUndoEntry(UndoSnapshot& snapshot, CellRef cell, const CellContent& previous);

/// Records a cell that a value run is about to clear: its content and, when `formats`
/// holds them, its formats. Returns its index; markCleared after the clear succeeded.
std::size_t RecordClearedCell(UndoSnapshot& snapshot, CellRef cell, const CellContent& previous,
                              const std::optional<CellFormats>& formats);
/// Notes that cell `index` was cleared: it now holds nothing.
void markCleared(UndoSnapshot& snapshot, std::size_t index);

/// Reads back, block by block, what the last run of the record left in the cells it
/// rewrote (tolerant: a
/// block that cannot be read keeps its cells unconfirmed, and undo then restores them as
/// long as they do not hold their old content already), and the look it left in the cells
/// whose formats were recorded (tolerant: without it, undo puts their formats back).
void captureRunResults(UndoSnapshot& snapshot);

/// The undo command: restores the cells of the last run on its workbook and sheet, except
/// cells changed since the run, which it counts and reports in one message. A cell whose
/// look (number format, fill, font colour) differs from the look the run left keeps the
/// user's look: its content comes back, its recorded formats do not. A cell the host
/// refuses to take back is counted too, and every other cell is still restored; the message
/// says how many could not be. Runs in the host run state of a run (events off, calculation
/// manual, the user's modes given back afterwards), writes consecutive cells of a column in
/// one call, calculates the formulas it wrote, and activates the run's workbook and sheet
/// only where they are not active already. "Nothing to Undo!" without a snapshot or without
/// an open workbook; other host failures by error number (91 "Nothing to Undo!", 1004
/// silent, others "Undo Command Failed!"). Undo twice equals undo once.
void UndoLastRun(RemovalSession& session);

/// Makes the host macro "undo_changes" run UndoLastRun and records in
/// session.undoMacroRegistered whether the host accepted it. Returns that.
bool registerUndoMacro(RemovalSession& session);

}  // namespace qmv
