#include "engine/undo.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "engine/host_run_state.hpp"
#include "engine/session.hpp"
#include "host/host_error.hpp"
#include "host/portable.hpp"
#include "host/tolerant.hpp"

namespace qmv {

namespace {

constexpr std::size_t kFirstChunkUnits = 1024;
constexpr std::size_t kLargestChunkUnits = std::size_t{1} << 20;

// The rows of `area` that hold the entries [first, end) of a block, whose cells lie in
// `area` in row-major order.
AreaRef visitedPart(const UndoSnapshot::Block& block) {
  AreaRef part = block.area;
  part.first.row = block.topRow;
  part.last.row = block.bottomRow;
  return part;
}

// Later changes kept one by one; a user who makes more has changed too much to track.
constexpr std::size_t kMaxLaterChanges = 1024;

constexpr uint32_t kFillSet = 1u << 31;
constexpr uint32_t kFontColorSet = 1u << 30;
// The unknown parts (FormatPart bits but the other formats) sit below.
constexpr int kUnknownShift = 27;
constexpr uint32_t kUnknownBits = 7u << kUnknownShift;
constexpr uint32_t kFormatIdMask = (1u << kUnknownShift) - 1;

const CellContent& contentAt(const CellBlock& cells, CellRef cell) {
  return cells.at(cell.row - cells.area.first.row, cell.column - cells.area.first.column);
}

}  // namespace

std::u16string keptChangesText(std::size_t count) {
  const std::string digits = std::to_string(count);
  std::u16string text(digits.begin(), digits.end());
  text += count == 1 ? u" cell changed after the removal was left as it is."
                     : u" cells changed after the removal were left as they are.";
  return text;
}

// --- UndoSnapshot -------------------------------------------------------------------------

void UndoSnapshot::newChunk(std::size_t atLeast) {
  std::size_t size =
      chunkSizes_.empty() ? kFirstChunkUnits : std::min(chunkSizes_.back() * 2, kLargestChunkUnits);
  size = std::max(size, atLeast);
  chunks_.push_back(uninitialisedArray<char16_t>(size));
  chunkSizes_.push_back(size);
  chunk_ = chunks_.back().get();
  chunkUnits_ = size;
  chunkUsed_ = 0;
}

inline uint64_t UndoSnapshot::storeText(const std::u16string& text) {
  if (text.empty()) return 0;
  if (chunkUsed_ + text.size() > chunkUnits_) newChunk(text.size());
  std::memcpy(chunk_ + chunkUsed_, text.data(), text.size() * sizeof(char16_t));
  const uint64_t location = (static_cast<uint64_t>(chunks_.size() - 1) << 32) | chunkUsed_;
  chunkUsed_ += text.size();
  return location;
}

std::u16string_view UndoSnapshot::storedText(uint64_t location, uint32_t length) const {
  if (length == 0) return {};
  return {chunks_[location >> 32].get() + (location & 0xffffffffu), length};
}

uint64_t UndoSnapshot::textHash(std::u16string_view text) {
  // Four units at a time in two independent lanes: the run hashes every text it wrote,
  // so this is on its path. A change within one word always changes the hash.
  uint64_t a = 0x9E3779B97F4A7C15ull ^ text.size();
  uint64_t b = 0xC2B2AE3D27D4EB4Full;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t first;
    uint64_t second;
    std::memcpy(&first, text.data() + i, sizeof first);
    std::memcpy(&second, text.data() + i + 4, sizeof second);
    a = (a ^ first) * 0xbf58476d1ce4e5b9ull;
    b = (b ^ second) * 0x94d049bb133111ebull;
  }
  for (; i + 4 <= text.size(); i += 4) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, sizeof word);
    a = (a ^ word) * 0xbf58476d1ce4e5b9ull;
  }
  uint64_t tail = 0;
  for (; i < text.size(); ++i) tail = (tail << 16) | text[i];
  b = (b ^ tail) * 0x94d049bb133111ebull;
  uint64_t hash = a ^ ((b << 32) | (b >> 32));
  hash ^= hash >> 31;
  hash *= 0xbf58476d1ce4e5b9ull;
  return hash ^ (hash >> 29);
}

void UndoSnapshot::beginBlock(const AreaRef& area) {
  blocks_.push_back(Block{area, entries_.size(), entries_.size(), false, 0, 0});
}

void UndoSnapshot::recordIn(Packed& p, CellRef cell, const CellContent& previous) {
  p.row = static_cast<uint32_t>(cell.row);
  p.column = static_cast<uint16_t>(cell.column);
  if (const auto* text = std::get_if<std::u16string>(&previous.value);
      text != nullptr && !previous.isFormula()) {
    p.before = Kind::Text;
    p.beforeLength = static_cast<uint32_t>(text->size());
    p.beforePayload = storeText(*text);
  } else if (previous.isFormula()) {
    p.before = Kind::Formula;
    p.beforeLength = static_cast<uint32_t>(previous.formula.size());
    p.beforePayload = storeText(previous.formula);
    if (!isEmpty(previous.value)) formulaValues_.emplace_back(entries_.size() - 1, previous.value);
  } else if (const auto* number = std::get_if<double>(&previous.value)) {
    p.before = Kind::Number;
    p.beforePayload = bitCast<uint64_t>(*number);
  } else if (const auto* flag = std::get_if<bool>(&previous.value)) {
    p.before = Kind::Boolean;
    p.beforePayload = *flag ? 1 : 0;
  } else if (const auto* date = std::get_if<DateTime>(&previous.value)) {
    p.before = Kind::Date;
    p.beforePayload = bitCast<uint64_t>(date->serial);
  } else if (const auto* error = std::get_if<CellError>(&previous.value)) {
    p.before = Kind::Error;
    p.beforePayload = static_cast<uint64_t>(static_cast<int32_t>(*error));
  }
}

std::size_t UndoSnapshot::record(CellRef cell, const CellContent& previous) {
  // Filled in place: a copy of a half-written entry would stall on the partial stores.
  recordIn(entries_.emplace_back(), cell, previous);
  if (blocks_.empty()) beginBlock(AreaRef{cell, cell});
  Block& block = blocks_.back();
  if (block.first == block.end) {
    block.topRow = cell.row;
    block.bottomRow = cell.row;
  } else {
    block.topRow = std::min(block.topRow, cell.row);
    block.bottomRow = std::max(block.bottomRow, cell.row);
  }
  block.end = entries_.size();
  return entries_.size() - 1;
}

std::size_t UndoSnapshot::recordBlock(const CellBlock& cells) {
  beginBlock(cells.area);
  const std::size_t first = entries_.size();
  const int64_t columns = cells.area.columns();
  CellRef cell = cells.area.first;
  for (const CellContent& previous : cells.cells) {
    recordIn(entries_.emplace_back(), cell, previous);
    if (++cell.column > cells.area.last.column) {
      cell.column = cells.area.first.column;
      ++cell.row;
    }
  }
  Block& block = blocks_.back();
  block.end = entries_.size();
  block.topRow = cells.area.first.row;
  block.bottomRow = cells.cells.empty()
                        ? block.topRow
                        : block.topRow + static_cast<int64_t>(cells.cells.size() - 1) / columns;
  return first;
}

void UndoSnapshot::dropEntriesFrom(std::size_t end) {
  if (blocks_.empty()) return;
  Block& block = blocks_.back();
  end = std::max(end, block.first);
  if (end >= entries_.size()) return;
  entries_.resize(end);
  while (!formulaValues_.empty() && formulaValues_.back().first >= end) formulaValues_.pop_back();
  while (!formats_.empty() && formats_.back().index >= end) formats_.pop_back();
  block.end = end;
  for (std::size_t i = block.first; i < block.end; ++i) {
    const int64_t row = entries_[i].row;
    block.topRow = i == block.first ? row : std::min(block.topRow, row);
    block.bottomRow = i == block.first ? row : std::max(block.bottomRow, row);
  }
}

UndoSnapshot::Block& UndoSnapshot::blockOf(std::size_t index) {
  // Entries are marked and noted while their block is among the last.
  auto block = blocks_.rbegin();
  while (std::next(block) != blocks_.rend() && index < block->first) ++block;
  return *block;
}

void UndoSnapshot::markWritten(std::size_t index) {
  Packed& p = entries_[index];
  if (p.after == Kind::Unknown) return;
  p.after = Kind::Unknown;
  Block& block = blockOf(index);
  block.anyWritten = true;
  ++block.unconfirmed;
}

void UndoSnapshot::markWritten(std::span<const std::size_t> indices) {
  if (indices.empty()) return;
  Block& block = blockOf(indices.front());
  for (const std::size_t index : indices) {
    Packed& p = entries_[index];
    if (p.after == Kind::Unknown) continue;
    p.after = Kind::Unknown;
    ++block.unconfirmed;
  }
  block.anyWritten = true;
}

void UndoSnapshot::noteResultValues(std::span<const std::size_t> indices,
                                    std::span<const Value> values) {
  if (indices.empty()) return;
  Block& block = blockOf(indices.front());
  for (std::size_t i = 0; i < values.size(); ++i) {
    Packed& p = entries_[indices[i]];
    if (p.after == Kind::Unknown) --block.unconfirmed;
    noteValueIn(p, values[i]);
  }
}

void UndoSnapshot::noteResult(std::size_t index, const CellContent& after) {
  Packed& p = entries_[index];
  if (p.after == Kind::Unknown) --blockOf(index).unconfirmed;
  noteResultIn(p, after);
}

void UndoSnapshot::noteResultValue(std::size_t index, const Value& value) {
  Packed& p = entries_[index];
  if (p.after == Kind::Unknown) --blockOf(index).unconfirmed;
  noteValueIn(p, value);
}

void UndoSnapshot::noteBlockResults(const Block& block, const CellBlock& cells) {
  Block& mine = blocks_[static_cast<std::size_t>(&block - blocks_.data())];
  // One walk over the block's entries: indexing a deque entry by entry costs more.
  auto entry = entries_.begin() + static_cast<std::ptrdiff_t>(block.first);
  for (std::size_t i = block.first; i < block.end; ++i, ++entry) {
    if (entry->after == Kind::Same) continue;
    const CellRef cell{entry->row, entry->column};
    if (!cells.area.contains(cell)) continue;
    if (entry->after == Kind::Unknown) --mine.unconfirmed;
    noteResultIn(*entry, contentAt(cells, cell));
  }
}

void UndoSnapshot::noteResultIn(Packed& p, const CellContent& after) {
  if (!after.isFormula()) {
    noteValueIn(p, after.value);
    return;
  }
  p.after = Kind::Formula;
  p.afterLength = static_cast<uint32_t>(after.formula.size());
  p.afterPayload = textHash(after.formula);
}

void UndoSnapshot::noteValueIn(Packed& p, const Value& value) {
  p.afterLength = 0;
  p.afterPayload = 0;
  if (const auto* number = std::get_if<double>(&value)) {
    p.after = Kind::Number;
    p.afterPayload = bitCast<uint64_t>(*number);
  } else if (const auto* text = std::get_if<std::u16string>(&value)) {
    p.after = Kind::Text;
    p.afterLength = static_cast<uint32_t>(text->size());
    p.afterPayload = textHash(*text);
  } else if (const auto* flag = std::get_if<bool>(&value)) {
    p.after = Kind::Boolean;
    p.afterPayload = *flag ? 1 : 0;
  } else if (const auto* date = std::get_if<DateTime>(&value)) {
    p.after = Kind::Date;
    p.afterPayload = bitCast<uint64_t>(date->serial);
  } else if (const auto* error = std::get_if<CellError>(&value)) {
    p.after = Kind::Error;
    p.afterPayload = static_cast<uint64_t>(static_cast<int32_t>(*error));
  } else {
    p.after = Kind::Empty;
  }
}

UndoSnapshot::PackedFormats UndoSnapshot::packFormats(std::size_t index,
                                                      const CellFormats& formats) {
  auto [id, added] = numberFormatIds_.try_emplace(formats.numberFormat,
                                                  static_cast<uint32_t>(numberFormats_.size()));
  if (added) numberFormats_.push_back(formats.numberFormat);
  PackedFormats p;
  p.index = static_cast<uint32_t>(index);
  p.numberFormat = id->second & kFormatIdMask;
  p.numberFormat |= (static_cast<uint32_t>(formats.unknown) << kUnknownShift) & kUnknownBits;
  if (formats.fill) {
    p.numberFormat |= kFillSet;
    p.fill = *formats.fill;
  }
  if (formats.fontColor) {
    p.numberFormat |= kFontColorSet;
    p.fontColor = *formats.fontColor;
  }
  return p;
}

CellFormats UndoSnapshot::unpackFormats(const PackedFormats& p) const {
  CellFormats formats;
  formats.numberFormat = numberFormats_[p.numberFormat & kFormatIdMask];
  if (p.numberFormat & kFillSet) formats.fill = p.fill;
  if (p.numberFormat & kFontColorSet) formats.fontColor = p.fontColor;
  formats.unknown =
      static_cast<uint8_t>(((p.numberFormat & kUnknownBits) >> kUnknownShift) | kOtherFormatsPart);
  return formats;
}

void UndoSnapshot::insertByEntry(std::deque<PackedFormats>& list, const PackedFormats& p) {
  // Entries mostly come in order (a character run records a band's columns one after the
  // other): the place is searched from the end.
  if (list.empty() || list.back().index < p.index) {
    list.push_back(p);
    return;
  }
  const auto at =
      std::lower_bound(list.begin(), list.end(), p.index,
                       [](const PackedFormats& q, uint32_t wanted) { return q.index < wanted; });
  if (at != list.end() && at->index == p.index) {
    *at = p;
  } else {
    list.insert(at, p);
  }
}

const UndoSnapshot::PackedFormats* UndoSnapshot::findEntry(const std::deque<PackedFormats>& list,
                                                           std::size_t index) {
  const auto it =
      std::lower_bound(list.begin(), list.end(), index,
                       [](const PackedFormats& p, std::size_t wanted) { return p.index < wanted; });
  if (it == list.end() || it->index != index) return nullptr;
  return &*it;
}

void UndoSnapshot::recordFormats(std::size_t index, const CellFormats& formats) {
  insertByEntry(formats_, packFormats(index, formats));
}

std::optional<CellFormats> UndoSnapshot::formats(std::size_t index) const {
  const PackedFormats* p = findEntry(formats_, index);
  if (p == nullptr) return std::nullopt;
  return unpackFormats(*p);
}

void UndoSnapshot::noteLookAfterRun(std::size_t index, const CellFormats& formats) {
  insertByEntry(looksAfter_, packFormats(index, formats));
}

std::optional<CellFormats> UndoSnapshot::lookAfterRun(std::size_t index) const {
  const PackedFormats* p = findEntry(looksAfter_, index);
  if (p == nullptr) return std::nullopt;
  return unpackFormats(*p);
}

std::vector<std::size_t> UndoSnapshot::formattedEntries() const {
  std::vector<std::size_t> out;
  out.reserve(formats_.size());
  for (const PackedFormats& p : formats_) out.push_back(p.index);
  return out;
}

void UndoSnapshot::keepAside(std::shared_ptr<KeptCells> copy) {
  if (copy) kept_.emplace_back(runs_.size() - 1, std::move(copy));
}

std::size_t UndoSnapshot::runOf(std::size_t index) const {
  std::size_t run = runs_.size() - 1;
  while (run > 0 && index < runs_[run].firstEntry) --run;
  return run;
}

KeptCells* UndoSnapshot::keptCopy(std::size_t index) const {
  if (kept_.empty()) return nullptr;
  const std::size_t run = runOf(index);
  const CellRef at = cell(index);
  for (const auto& [keptBy, copy] : kept_) {
    if (keptBy == run && copy->area().contains(at)) return copy.get();
  }
  return nullptr;
}

void UndoSnapshot::beginFollowingRun() {
  runs_.push_back(RunStart{blocks_.size(), entries_.size()});
}

CellRef UndoSnapshot::cell(std::size_t index) const {
  const Packed& p = entries_[index];
  return CellRef{p.row, p.column};
}

CellContent UndoSnapshot::previous(std::size_t index) const {
  const Packed& p = entries_[index];
  CellContent content;
  switch (p.before) {
    case Kind::Number:
      content.value = bitCast<double>(p.beforePayload);
      break;
    case Kind::Text:
      content.value = std::u16string(storedText(p.beforePayload, p.beforeLength));
      break;
    case Kind::Boolean:
      content.value = p.beforePayload != 0;
      break;
    case Kind::Date:
      content.value = DateTime{bitCast<double>(p.beforePayload)};
      break;
    case Kind::Error:
      content.value = static_cast<CellError>(static_cast<int32_t>(p.beforePayload));
      break;
    case Kind::Formula: {
      content.formula = std::u16string(storedText(p.beforePayload, p.beforeLength));
      const auto shown = std::lower_bound(formulaValues_.begin(), formulaValues_.end(), index,
                                          [](const std::pair<std::size_t, Value>& v,
                                             std::size_t wanted) { return v.first < wanted; });
      if (shown != formulaValues_.end() && shown->first == index) content.value = shown->second;
      break;
    }
    default:
      break;
  }
  return content;
}

void UndoSnapshot::noteLaterChange(const CellsChange& change) {
  if ((!change.sheet.empty() && !worksheetName.empty() && change.sheet != worksheetName) ||
      (!change.workbook.empty() && !workbookName.empty() && change.workbook != workbookName)) {
    return;
  }
  if (change.areas.empty() || laterChanges_.size() + change.areas.size() > kMaxLaterChanges) {
    everythingChanged_ = true;
    laterChanges_.clear();
    return;
  }
  if (!everythingChanged_) {
    laterChanges_.insert(laterChanges_.end(), change.areas.begin(), change.areas.end());
  }
}

bool UndoSnapshot::changedAfterRun(CellRef cell) const {
  if (everythingChanged_) return true;
  return std::any_of(laterChanges_.begin(), laterChanges_.end(), [&](const AreaRef& area) {
    if (area.first.column == 1 && area.last.column == kMaxColumns)
      return cell.row >= area.first.row;
    if (area.first.row == 1 && area.last.row == kMaxRows) {
      return cell.column >= area.first.column;
    }
    return area.contains(cell);
  });
}

UndoEntry UndoSnapshot::entry(std::size_t index) const {
  return UndoEntry{formatAddress(cell(index)), previous(index)};
}

bool UndoSnapshot::holdsPrevious(std::size_t index, const CellContent& current) const {
  const Packed& p = entries_[index];
  if (current.isFormula()) {
    return p.before == Kind::Formula &&
           storedText(p.beforePayload, p.beforeLength) == current.formula;
  }
  if (p.before == Kind::Formula) return false;
  return previous(index) == current;
}

bool UndoSnapshot::holdsRunResult(std::size_t index, const CellContent& current) const {
  const Packed& p = entries_[index];
  switch (p.after) {
    case Kind::Same:
      return holdsPrevious(index, current);
    case Kind::Unknown:
      return true;
    case Kind::Formula:
      return current.isFormula() && current.formula.size() == p.afterLength &&
             textHash(current.formula) == p.afterPayload;
    default:
      break;
  }
  if (current.isFormula()) return false;
  if (const auto* text = std::get_if<std::u16string>(&current.value)) {
    return p.after == Kind::Text && text->size() == p.afterLength &&
           textHash(*text) == p.afterPayload;
  }
  if (const auto* number = std::get_if<double>(&current.value)) {
    return p.after == Kind::Number && bitCast<uint64_t>(*number) == p.afterPayload;
  }
  if (const auto* flag = std::get_if<bool>(&current.value)) {
    return p.after == Kind::Boolean && (*flag ? 1u : 0u) == p.afterPayload;
  }
  if (const auto* date = std::get_if<DateTime>(&current.value)) {
    return p.after == Kind::Date && bitCast<uint64_t>(date->serial) == p.afterPayload;
  }
  if (const auto* error = std::get_if<CellError>(&current.value)) {
    return p.after == Kind::Error &&
           static_cast<uint64_t>(static_cast<int32_t>(*error)) == p.afterPayload;
  }
  return p.after == Kind::Empty;
}

std::size_t UndoSnapshot::entryBytes() const {
  // A deque keeps its elements in 512-byte nodes reached through a map of pointers.
  constexpr std::size_t kPerNode = 512 / sizeof(Packed);
  const std::size_t nodes = entries_.size() / kPerNode + 1;
  constexpr std::size_t kFormatsPerNode = 512 / sizeof(PackedFormats);
  const auto nodesOf = [](const std::deque<PackedFormats>& list) -> std::size_t {
    return list.empty() ? 0 : list.size() / kFormatsPerNode + 1;
  };
  const std::size_t formatNodes = nodesOf(formats_) + nodesOf(looksAfter_);
  return nodes * 512 + nodes * sizeof(void*) + formatNodes * (512 + sizeof(void*)) +
         blocks_.capacity() * sizeof(Block) + sizeof(UndoSnapshot);
}

std::size_t UndoSnapshot::textBytes() const {
  std::size_t units = 0;
  for (std::size_t size : chunkSizes_) units += size;
  std::size_t formatTexts = numberFormats_.capacity() * sizeof(std::u16string);
  for (const std::u16string& format : numberFormats_) {
    // Each distinct format is held twice: in the list and as the key of its position.
    formatTexts += 2 * (format.capacity() + 1) * sizeof(char16_t) + 4 * sizeof(void*);
  }
  return units * sizeof(char16_t) + chunks_.capacity() * sizeof(void*) +
         chunkSizes_.capacity() * sizeof(std::size_t) + formatTexts;
}

// --- Recording ----------------------------------------------------------------------------

UndoSnapshot& BeginUndoSnapshot(RemovalSession& session) {
  session.undoSnapshot = std::make_shared<UndoSnapshot>();
  UndoSnapshot& snapshot = *session.undoSnapshot;
  if (session.hostApp) {
    Application& app = *session.hostApp;
    tolerant([&] { snapshot.workbook = app.activeWorkbook(); });
    tolerant([&] { snapshot.worksheet = app.activeSheet(); });
    // Names to tell this sheet's change notices from other sheets'; without them every
    // notice counts.
    if (snapshot.workbook) tolerant([&] { snapshot.workbookName = snapshot.workbook->name(); });
    if (snapshot.worksheet) tolerant([&] { snapshot.worksheetName = snapshot.worksheet->name(); });
  }
  return snapshot;
}

std::size_t RecordUndoEntry(UndoSnapshot& snapshot, CellRef cell, const CellContent& previous) {
  return snapshot.record(cell, previous);
}

std::size_t RecordClearedCell(UndoSnapshot& snapshot, CellRef cell, const CellContent& previous,
                              const std::optional<CellFormats>& formats) {
  const std::size_t index = snapshot.record(cell, previous);
  if (formats) snapshot.recordFormats(index, *formats);
  return index;
}

void markCleared(UndoSnapshot& snapshot, std::size_t index) {
  snapshot.markWritten(index);
  snapshot.noteResult(index, CellContent{});
}

namespace {

// The look the run left in the rewritten cells whose formats were recorded, read block by
// block in one host call each. A clear leaves every cell it clears the same look, read once
// from the first: between cleared cells lie cells that keep their own formats, and a read
// over both would be split down to single cells.
void captureRunLooks(UndoSnapshot& snapshot) {
  const std::vector<std::size_t> formatted = snapshot.formattedEntries();
  // An earlier run's looks were read when it ended; what it left may since be cleared.
  auto next = std::lower_bound(formatted.begin(), formatted.end(), snapshot.lastRunEntry());
  std::vector<CellRef> cells;
  std::vector<std::size_t> entries;
  std::vector<std::size_t> cleared;
  std::optional<CellFormats> clearedLook;
  bool clearedLookAsked = false;
  const auto& blocks = snapshot.blocks();
  for (std::size_t b = snapshot.lastRunBlock(); b < blocks.size(); ++b) {
    const UndoSnapshot::Block& block = blocks[b];
    cells.clear();
    entries.clear();
    cleared.clear();
    while (next != formatted.end() && *next < block.end) {
      if (*next >= block.first && snapshot.written(*next)) {
        if (snapshot.leftEmpty(*next)) {
          cleared.push_back(*next);
        } else {
          cells.push_back(snapshot.cell(*next));
          entries.push_back(*next);
        }
      }
      ++next;
    }
    if (cells.empty() && cleared.empty()) continue;
    const RangePtr range = tolerantGet([&] {
                             return snapshot.worksheet->range(formatAddress(visitedPart(block)));
                           }).value_or(nullptr);
    if (!range) continue;
    if (!cleared.empty() && !clearedLookAsked) {
      clearedLookAsked = true;
      const CellRef first = snapshot.cell(cleared.front());
      const auto look = tolerantGet([&] { return range->cellFormats({&first, 1}); });
      if (look && look->size() == 1) clearedLook = look->front();
    }
    if (clearedLook) {
      for (const std::size_t index : cleared) snapshot.noteLookAfterRun(index, *clearedLook);
    }
    if (cells.empty()) continue;
    tolerant([&] {
      const std::vector<CellFormats> looks = range->cellFormats(cells);
      if (looks.size() != cells.size()) return;
      for (std::size_t i = 0; i < looks.size(); ++i)
        snapshot.noteLookAfterRun(entries[i], looks[i]);
    });
  }
}

}  // namespace

void captureRunResults(UndoSnapshot& snapshot) {
  if (!snapshot.worksheet) return;
  // One block read into again and again: its texts keep their storage.
  CellBlock cells;
  const auto& blocks = snapshot.blocks();
  for (std::size_t b = snapshot.lastRunBlock(); b < blocks.size(); ++b) {
    const UndoSnapshot::Block& block = blocks[b];
    if (block.unconfirmed == 0 || block.first == block.end) continue;
    tolerant([&] {
      snapshot.worksheet->range(formatAddress(visitedPart(block)))->readBlockInto(cells);
      snapshot.noteBlockResults(block, cells);
    });
  }
  captureRunLooks(snapshot);
}

// --- The undo command ---------------------------------------------------------------------

namespace {

// What one undo did not do: cells left alone because the user changed them after the run,
// and cells the host would not take back, formulas among them.
struct RestoreTally {
  std::size_t kept = 0;
  std::size_t refused = 0;
  std::size_t refusedFormulas = 0;
};

// A recorded cell that undo writes back.
struct Pending {
  std::size_t index = 0;
  CellRef cell;
  KeptCells* copy = nullptr;  ///< the kept copy to put back first; null without one
  bool putBack = false;       ///< the copy came back
  bool keepLook = false;      ///< the cell's formats stay as they are
};

// Whether two looks agree in every part both tell.
bool sameLook(const CellFormats& a, const CellFormats& b) {
  const auto both = [&](FormatPart part) { return a.known(part) && b.known(part); };
  return (!both(kNumberFormatPart) || a.numberFormat == b.numberFormat) &&
         (!both(kFillPart) || a.fill == b.fill) &&
         (!both(kFontColorPart) || a.fontColor == b.fontColor);
}

// Marks the cells of `todo` whose formats stay: those whose look now differs from the one
// the run left (the user formatted them since, which raises no change notice: their look
// is the user's), and those without a kept copy that show their recorded formats already.
// Where the looks cannot be read, the recorded formats go back.
void keepLooks(const UndoSnapshot& snapshot, Range& range, std::vector<Pending>& todo) {
  std::vector<CellRef> cells;
  std::vector<std::size_t> which;
  for (std::size_t k = 0; k < todo.size(); ++k) {
    if (!snapshot.lookAfterRun(todo[k].index)) continue;
    cells.push_back(todo[k].cell);
    which.push_back(k);
  }
  if (cells.empty()) return;
  const std::optional<std::vector<CellFormats>> now =
      tolerantGet([&] { return range.cellFormats(cells); });
  if (!now || now->size() != cells.size()) return;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    Pending& p = todo[which[i]];
    const std::optional<CellFormats> before = snapshot.formats(p.index);
    if (!sameLook((*now)[i], *snapshot.lookAfterRun(p.index)) ||
        (p.copy == nullptr && before && sameLook((*now)[i], *before))) {
      p.copy = nullptr;
      p.keepLook = true;
    }
  }
}

// The cells of `block` that undo writes back, in ascending column, then row, so that
// consecutive cells of a column lie next to each other; counts those left alone.
std::vector<Pending> cellsToRestore(const UndoSnapshot& snapshot, const UndoSnapshot::Block& block,
                                    const CellBlock& cells, RestoreTally& tally) {
  std::vector<Pending> todo;
  for (std::size_t i = block.first; i < block.end; ++i) {
    const CellRef cell = snapshot.cell(i);
    const CellContent& current = contentAt(cells, cell);
    const bool hasFormats = snapshot.written(i) && snapshot.formats(i).has_value();
    KeptCells* const copy = snapshot.written(i) ? snapshot.keptCopy(i) : nullptr;
    const bool wasBlank = isEmpty(current.value) && !current.isFormula();
    if (snapshot.changedAfterRun(cell)) {
      // Changed or moved by the user (typed over, sorted, rows inserted): whatever it
      // holds is no longer the run's to take back.
      if (!snapshot.holdsPrevious(i, current)) ++tally.kept;
      continue;
    }
    if (snapshot.holdsPrevious(i, current)) {
      // A cleared cell that was blank before still has its formats to get back.
      if ((!hasFormats && copy == nullptr) || !wasBlank) continue;
    } else if (!snapshot.holdsRunResult(i, current)) {
      ++tally.kept;
      continue;
    }
    todo.push_back(Pending{i, cell, copy, false, false});
  }
  std::stable_sort(todo.begin(), todo.end(), [](const Pending& a, const Pending& b) {
    return a.cell.column != b.cell.column ? a.cell.column < b.cell.column : a.cell.row < b.cell.row;
  });
  return todo;
}

// Calls `write(first, end)` for each run [first, end) of `todo` whose cells lie in
// consecutive rows of one column and satisfy `together` pairwise with their neighbour.
template <class Together, class Write>
void forEachColumnRun(const std::vector<Pending>& todo, Together together, Write write) {
  std::size_t first = 0;
  for (std::size_t i = 1; i <= todo.size(); ++i) {
    if (i < todo.size() && todo[i].cell.column == todo[i - 1].cell.column &&
        todo[i].cell.row == todo[i - 1].cell.row + 1 && together(todo[i - 1], todo[i])) {
      continue;
    }
    if (first < i) write(first, i);
    first = i;
  }
}

// Restores the cells of one block: the kept copies, the contents and the recorded formats,
// each run of a column in one host call where the host allows it. A write the host refuses
// is tried again cell by cell; a cell it still refuses is counted and the others go on.
void restoreBlock(const UndoSnapshot& snapshot, const UndoSnapshot::Block& block, Worksheet& sheet,
                  RestoreTally& tally) {
  const AreaRef part = visitedPart(block);
  RangePtr range;
  CellBlock cells;
  if (!tolerant([&] {
        range = sheet.range(formatAddress(part));
        range->readBlockInto(cells);
      })) {
    // Unreadable: nothing tells which cells still hold the run's result.
    for (std::size_t i = block.first; i < block.end; ++i) {
      if (!snapshot.written(i)) continue;
      ++tally.refused;
      if (snapshot.previous(i).isFormula()) ++tally.refusedFormulas;
    }
    return;
  }
  std::vector<Pending> todo = cellsToRestore(snapshot, block, cells, tally);
  if (todo.empty()) return;
  keepLooks(snapshot, *range, todo);

  // The kept copies bring back everything the clear removed but the content, which the
  // record holds exactly.
  forEachColumnRun(
      todo, [](const Pending& a, const Pending& b) { return a.copy && a.copy == b.copy; },
      [&](std::size_t first, std::size_t end) {
        KeptCells* const copy = todo[first].copy;
        if (copy == nullptr) return;
        const AreaRef area{todo[first].cell, todo[end - 1].cell};
        if (tolerant([&] { copy->putBackArea(area); })) {
          for (std::size_t k = first; k < end; ++k) todo[k].putBack = true;
          return;
        }
        for (std::size_t k = first; k < end; ++k) {
          todo[k].putBack = tolerant([&] { copy->putBack(todo[k].cell); });
        }
      });

  bool anyFormula = false;
  std::vector<CellContent> contents;
  const auto writeOne = [&](const Pending& p, const CellContent& content) {
    const bool written = tolerant([&] {
      range->cell(p.cell.row - part.first.row + 1, p.cell.column - part.first.column + 1)
          ->setContent(content);
    });
    if (written) return;
    ++tally.refused;
    if (content.isFormula()) ++tally.refusedFormulas;
  };
  forEachColumnRun(
      todo,
      // An array formula goes back on its own (its own host call, its own limits).
      [&](const Pending& a, const Pending& b) {
        return !snapshot.previous(a.index).isArrayFormula() &&
               !snapshot.previous(b.index).isArrayFormula();
      },
      [&](std::size_t first, std::size_t end) {
        contents.clear();
        for (std::size_t k = first; k < end; ++k) {
          contents.push_back(snapshot.previous(todo[k].index));
          anyFormula = anyFormula || contents.back().isFormula();
        }
        if (contents.size() > 1 || !contents.front().isArrayFormula()) {
          const CellRef top = todo[first].cell;
          if (tolerant([&] {
                range->setColumnContents(top.row - part.first.row + 1,
                                         top.column - part.first.column + 1, contents);
              })) {
            return;
          }
        }
        for (std::size_t k = first; k < end; ++k) writeOne(todo[k], contents[k - first]);
      });

  // Without a copy, the formats the record holds, each cell on its own.
  for (const Pending& p : todo) {
    if (p.putBack || p.keepLook) continue;
    const std::optional<CellFormats> formats = snapshot.formats(p.index);
    if (!formats) continue;
    tolerant([&] {
      range->cell(p.cell.row - part.first.row + 1, p.cell.column - part.first.column + 1)
          ->setFormats(*formats);
    });
  }
  // A formula written while calculation is manual waits for the next calculation: it is
  // calculated now, so that it shows its value whatever mode the user works in.
  if (anyFormula) tolerant([&] { range->calculate(); });
}

// Last block first: a cell recorded by both runs of a recipe (changed by its character steps,
// then cleared by its value step) goes back through what it held in between.
RestoreTally restoreCells(const UndoSnapshot& snapshot) {
  RestoreTally tally;
  const auto& blocks = snapshot.blocks();
  for (auto block = blocks.rbegin(); block != blocks.rend(); ++block) {
    if (block->first != block->end) restoreBlock(snapshot, *block, *snapshot.worksheet, tally);
  }
  return tally;
}

// Activates the run's workbook and sheet where they are not the active ones already:
// Workbook.Activate would switch the user's window of a workbook open in several to its
// first window.
void showRunsSheet(Application& app, const UndoSnapshot& snapshot) {
  const auto activeName = [](auto object) -> std::optional<std::u16string> {
    if (!object) return std::nullopt;
    return tolerantGet([&] { return object->name(); });
  };
  const std::optional<std::u16string> book =
      activeName(tolerantGet([&] { return app.activeWorkbook(); }).value_or(nullptr));
  const bool bookActive = book && !snapshot.workbookName.empty() && *book == snapshot.workbookName;
  if (!bookActive) snapshot.workbook->activate();
  const std::optional<std::u16string> sheet =
      activeName(tolerantGet([&] { return app.activeSheet(); }).value_or(nullptr));
  if (!bookActive || !sheet || snapshot.worksheetName.empty() || *sheet != snapshot.worksheetName) {
    snapshot.worksheet->activate();
  }
}

}  // namespace

std::u16string unrestoredText(std::size_t count, std::size_t formulas) {
  const auto number = [](std::size_t n) {
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
  };
  std::u16string text = number(count);
  text += count == 1 ? u" cell could not be restored." : u" cells could not be restored.";
  if (formulas == 1 && count == 1) {
    text += u" Its formula was not taken back.";
  } else if (formulas > 0) {
    text += u' ';
    text += number(formulas);
    text += formulas == 1 ? u" of them holds a formula that was not taken back."
                          : u" of them hold formulas that were not taken back.";
  }
  return text;
}

void UndoLastRun(RemovalSession& session) {
  const OwnChanges own(session);
  if (!session.hostApp) {
    session.tellUser(kNothingToUndoText);
    return;
  }
  Application& app = *session.hostApp;
  const std::shared_ptr<UndoSnapshot> snapshot = session.undoSnapshot;
  // The run state of a run: the user's modes go back afterwards, automatic calculation
  // where the host cannot tell.
  HostUserModes user;
  const auto books = tolerantGet([&] { return app.workbooksCount(); });
  if (books && *books == 0) {
    user.calculation = tolerantGet([&] { return app.calculation(); });
    session.tellUser(kNothingToUndoText);
  } else {
    try {
      if (!books) app.workbooksCount();  // let the failure reach the error exit
      enterHostRunState(app, user);
      if (!snapshot || !snapshot->workbook || !snapshot->worksheet) {
        throw HostError(host_errors::kObjectNotSet, "Object variable not set");
      }
      showRunsSheet(app, *snapshot);
      const RestoreTally tally = restoreCells(*snapshot);
      std::u16string message;
      if (tally.refused > 0) message = unrestoredText(tally.refused, tally.refusedFormulas);
      if (tally.kept > 0) {
        if (!message.empty()) message += u' ';
        message += keptChangesText(tally.kept);
      }
      if (!message.empty()) session.tellUser(message);
    } catch (const HostError& error) {
      if (error.number() == host_errors::kObjectNotSet) {
        session.tellUser(kNothingToUndoText);
      } else if (error.number() != host_errors::kRefused) {
        session.tellUser(kUndoFailedText);
      }
    } catch (...) {
      session.tellUser(kUndoFailedText);
    }
  }
  leaveHostRunState(app, user);
}

bool registerUndoMacro(RemovalSession& session) {
  session.undoMacroRegistered = false;
  if (!session.hostApp) return false;
  RemovalSession* target = &session;
  const auto accepted = tolerantGet([&] {
    return session.hostApp->registerMacro(kUndoMacro, [target] { UndoLastRun(*target); });
  });
  session.undoMacroRegistered = accepted.value_or(false);
  return session.undoMacroRegistered;
}

}  // namespace qmv
