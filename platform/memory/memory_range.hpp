// The host objects the in-memory application hands out: worksheets, workbooks and ranges
// over the shared host state. Every interface call counts as one host call (and may meet an
// armed fault); a call on an object of a closed workbook throws HostError.
// memory_range.cpp holds the reads and writes of cells; the searches (Find, the unique
// filter) live with the worksheet functions in memory_functions.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/cell_text.hpp"
#include "host/host.hpp"
#include "platform/memory/memory_sheet.hpp"
#include "platform/memory/memory_state.hpp"

namespace qmv::memory::detail {

/// Largest area read or written cell by cell in one call; beyond it the host refuses.
inline constexpr int64_t kMaxCellsPerCall = int64_t{1} << 24;

/// Throws HostError (the object was closed) for a sheet of a closed workbook.
void checkOpen(const Sheet& sheet);

/// Throws HostError 1004 with `what`, as the host does for a call it refuses.
[[noreturn]] void refuse(const char* what);

class MemoryWorksheet final : public Worksheet {
 public:
  MemoryWorksheet(std::shared_ptr<HostState> st, std::shared_ptr<Sheet> sheet)
      : st_(std::move(st)), sheet_(std::move(sheet)) {}
  std::u16string name() override;
  void activate() override;
  RangePtr usedRange() override;
  /// Shows the rows an advanced filter or the AutoFilter hid, the AutoFilter kept but
  /// filtering by nothing; refused when nothing is filtered.
  void showAllData() override;
  std::optional<AutoFilterState> autoFilter() override;
  /// Filters by one criterion per column, or two joined by and / or, each "=TEXT",
  /// "<>TEXT", "TEXT" (equal), "=" (blank) or "<>" (not blank), letter case aside; or by a
  /// list of values. Any other operator is refused, the AutoFilter left as it was.
  void applyAutoFilter(const AutoFilterState& state) override;
  RangePtr range(std::u16string_view reference) override;

 private:
  void enter();
  std::shared_ptr<HostState> st_;
  std::shared_ptr<Sheet> sheet_;
};

class MemoryWorkbook final : public Workbook {
 public:
  MemoryWorkbook(std::shared_ptr<HostState> st, std::shared_ptr<Book> book)
      : st_(std::move(st)), book_(std::move(book)) {}
  std::u16string name() override;
  void activate() override;

 private:
  void enter();
  std::shared_ptr<HostState> st_;
  std::shared_ptr<Book> book_;
};

class MemoryRange final : public Range {
 public:
  MemoryRange(std::shared_ptr<HostState> st, std::shared_ptr<Sheet> sheet,
              std::vector<AreaRef> areas)
      : st_(std::move(st)), sheet_(std::move(sheet)), areas_(std::move(areas)) {}

  const std::shared_ptr<Sheet>& sheet() const { return sheet_; }
  const std::vector<AreaRef>& refs() const { return areas_; }
  /// Another range of the same sheet.
  RangePtr make(std::vector<AreaRef> areas) const {
    return std::make_shared<MemoryRange>(st_, sheet_, std::move(areas));
  }

  int64_t count() override;
  int64_t rowsCount() override;
  int64_t columnsCount() override;
  CellRef topLeft() override;
  RangePtr column(int64_t index) override;
  RangePtr cell(int64_t row, int64_t column) override;
  std::vector<RangePtr> areas() override;
  std::vector<AreaRef> areaRefs() override;
  std::u16string address() override;
  WorksheetPtr worksheet() override;

  Value value() override;
  void setValue(const Value& value) override;
  std::u16string formula() override;
  void setFormula(std::u16string_view formula) override;
  void setContent(const CellContent& content) override;
  CellBlock readBlock() override;
  void readBlockInto(CellBlock& block) override;

  RangePtr specialCells(int32_t type) override;
  void clear() override;
  CellFormats formats() override;
  /// One host call for all the cells.
  std::vector<CellFormats> cellFormats(std::span<const CellRef> cells) override;
  /// Leaves the parts marked unknown as each cell has them.
  void setFormats(const CellFormats& formats) override;
  /// A copy of the first area's formats, other formats included, held in memory.
  std::unique_ptr<KeptCells> keepAside() override;
  void setCellValue(int64_t row, int64_t column, const Value& value) override;
  /// One host call for the whole run of cells; a cell it refuses ends the call, the cells
  /// before it written.
  void setColumnValues(int64_t row, int64_t column, std::span<const Value> values) override;
  /// The same, then every cell reported from what the sheet stored.
  void setColumnValuesReported(int64_t row, int64_t column, std::span<const Value> values,
                               WriteReport& report) override;
  RangePtr find(const std::u16string& what, Range& after) override;
  void advancedFilterUniqueInPlace() override;
  bool entireRowHidden() override;
  void setEntireRowHidden(bool hidden) override;

 private:
  void enter();
  /// A value assigned as the user would type it, into a General cell.
  CellContent typedContent(const Value& value) const;
  static void checkLength(const CellContent& content);
  /// True for a text that typed input stores as it stands, its length within a cell's.
  bool storedAsItself(const Value& value) const;
  /// Writes one cell as setCellValue types it, without the call's count or change notice.
  void writeTypedCell(CellRef at, const Value& value);
  /// What the result `text` gives the cell at `at` (typedResult with the cell's format).
  TypedCell typedInto(CellRef at, const std::u16string& text) const;
  /// The values and formulas of the first area into `block`; the strings it holds keep
  /// their storage wherever a text replaces a text.
  void fillBlock(CellBlock& block) const;
  /// The cells of rows that are not hidden, as row blocks of each area.
  std::vector<AreaRef> visibleAreas() const;
  void writeAll(const CellContent& content);
  void writeColumn(int64_t row, int64_t column, std::span<const Value> values, WriteReport* report);
  /// First cell in `area` between `from` and `to` (row-major, inclusive) whose folded
  /// text is `key`.
  std::optional<CellRef> firstMatch(const AreaRef& area, const KeyText& key, CellRef from,
                                    CellRef to) const;

  std::shared_ptr<HostState> st_;
  std::shared_ptr<Sheet> sheet_;
  std::vector<AreaRef> areas_;
};

/// The memory range behind `range`; throws HostError 424 for a range of another host and
/// HostError when its workbook was closed.
MemoryRange& asMemoryRange(Range& range);

/// Gives the cell at `at` of `sheet`, just written with `content`, the short date format
/// where a date went into a cell without a date or time format, as Excel does.
void giveDateFormat(Sheet& sheet, CellRef at, const CellContent& content);

}  // namespace qmv::memory::detail
