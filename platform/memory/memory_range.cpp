// Worksheets, workbooks and ranges of the in-memory host: reading and writing cells,
// typed input, SpecialCells, formats and hidden rows.
#include "platform/memory/memory_range.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "host/address.hpp"
#include "host/cell_text.hpp"
#include "host/host_error.hpp"
#include "host/number_format.hpp"
#include "host/text.hpp"

namespace qmv::memory::detail {
namespace {

/// True when typed input reads `text` as this very text, told by its first unit alone:
/// an ASCII letter other than t and f (TRUE, FALSE) starts no number, date, time or
/// Boolean, unless the locale makes it a separator. Any other text is read by
/// parseTypedInput.
bool readsAsItself(std::u16string_view text, const HostLocale& locale) {
  if (text.empty()) return false;
  const char16_t c = text.front();
  const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
  return letter && c != u't' && c != u'T' && c != u'f' && c != u'F' &&
         c != locale.decimalSeparator && c != locale.dateSeparator;
}

/// Cells of `areas` for which `pick` holds, as areas: area by area, and inside each row
/// by row, left to right (a column block that is alone in its rows stays one area).
/// `everyCell(column)` may tell that `pick` holds for every row of a column from its lo()
/// to its hi(), so that a single column needs no walk.
template <class Pick, class EveryCell>
std::vector<AreaRef> matchingAreas(const Sheet& sheet, const std::vector<AreaRef>& areas,
                                   Pick&& pick, EveryCell&& everyCell) {
  std::vector<AreaRef> out;
  const auto used = sheet.usedArea();
  if (!used) return out;
  for (const AreaRef& area : disjointAreas(areas)) {
    auto clipped = commonArea(area, *used);
    if (!clipped) continue;
    std::vector<std::pair<int64_t, const Column*>> cols;
    sheet.forEachColumn(clipped->first.column, clipped->last.column,
                        [&](int64_t c, const Column& col) { cols.emplace_back(c, &col); });
    if (cols.size() == 1) {
      // One column: the matching cells form runs of rows, each one area.
      const auto [c, col] = cols.front();
      if (everyCell(*col)) {
        const int64_t top = std::max(clipped->first.row, col->lo());
        const int64_t bottom = std::min(clipped->last.row, col->hi());
        if (top <= bottom) out.push_back({{top, c}, {bottom, c}});
        continue;
      }
      int64_t start = 0;  // first row of the current run; 0 outside one
      for (int64_t r = clipped->first.row; r <= clipped->last.row; ++r) {
        const Cell* cell = col->at(r);
        const bool hit = cell && pick(*cell);
        if (hit && start == 0) start = r;
        if (!hit && start != 0) {
          out.push_back({{start, c}, {r - 1, c}});
          start = 0;
        }
      }
      if (start != 0) out.push_back({{start, c}, {clipped->last.row, c}});
      continue;
    }
    std::optional<AreaRef> pending;  // a single-run block that may grow downwards
    std::vector<AreaRef> runs;
    for (int64_t r = clipped->first.row; r <= clipped->last.row; ++r) {
      runs.clear();
      for (const auto& [c, col] : cols) {
        const Cell* cell = col->at(r);
        if (!cell || !pick(*cell)) continue;
        if (!runs.empty() && runs.back().last.column == c - 1) {
          runs.back().last.column = c;
        } else {
          runs.push_back({{r, c}, {r, c}});
        }
      }
      if (runs.empty()) continue;
      if (runs.size() == 1 && pending && pending->last.row == r - 1 &&
          pending->first.column == runs[0].first.column &&
          pending->last.column == runs[0].last.column) {
        pending->last.row = r;
        continue;
      }
      if (pending) out.push_back(*pending);
      pending.reset();
      if (runs.size() == 1) {
        pending = runs[0];
      } else {
        out.insert(out.end(), runs.begin(), runs.end());
      }
    }
    if (pending) out.push_back(*pending);
  }
  return out;
}

}  // namespace

void checkOpen(const Sheet& sheet) {
  if (sheet.bookClosed || sheet.book.expired()) {
    throw HostError(kDisconnected, "The workbook was closed");
  }
}

void refuse(const char* what) { throw HostError(host_errors::kRefused, what); }

// ---- Worksheet ----------------------------------------------------------------------

void MemoryWorksheet::enter() {
  st_->hostCall();
  checkOpen(*sheet_);
}

std::u16string MemoryWorksheet::name() {
  enter();
  return sheet_->name;
}

void MemoryWorksheet::activate() {
  enter();
  auto book = sheet_->book.lock();
  for (std::size_t i = 0; i < book->sheets.size(); ++i) {
    if (book->sheets[i] == sheet_) book->activeSheet = i;
  }
  st_->activeBook = book;
}

void MemoryWorksheet::showAllData() {
  enter();
  const bool autoFiltered = sheet_->autoFilter && !sheet_->autoFilter->filters.empty();
  if (!sheet_->filterArea && !autoFiltered) {
    refuse("ShowAllData method of Worksheet class failed");
  }
  for (const std::optional<AreaRef>& area :
       {sheet_->filterArea,
        autoFiltered ? std::optional(sheet_->autoFilter->range) : std::optional<AreaRef>()}) {
    if (!area) continue;
    for (int64_t r = area->first.row; r <= area->last.row; ++r) sheet_->setRowHidden(r, false);
  }
  sheet_->filterArea.reset();
  if (sheet_->autoFilter) sheet_->autoFilter->filters.clear();
}

std::optional<AutoFilterState> MemoryWorksheet::autoFilter() {
  enter();
  return sheet_->autoFilter;
}

namespace {

// Whether a cell's value meets one criterion value of an AutoFilter.
bool meets(const Value& value, const Value& criterion, const HostLocale& locale) {
  const std::u16string shown = foldCase(cellText(value, locale).value_or(u""));
  const std::u16string wanted = foldCase(cellText(criterion, locale).value_or(u""));
  std::u16string_view rule = wanted;
  bool equal = true;
  if (rule.starts_with(u"<>")) {
    equal = false;
    rule.remove_prefix(2);
  } else if (rule.starts_with(u"=")) {
    rule.remove_prefix(1);
  }
  return (shown == rule) == equal;
}

bool meets(const Value& value, const FilterCriterion& criterion, const HostLocale& locale) {
  if (!criterion.list) return meets(value, criterion.values.front(), locale);
  const std::u16string shown = foldCase(cellText(value, locale).value_or(u""));
  return std::any_of(criterion.values.begin(), criterion.values.end(), [&](const Value& v) {
    return foldCase(cellText(v, locale).value_or(u"")) == shown;
  });
}

bool modelled(const ColumnFilter& filter) {
  const auto single = [](const std::optional<FilterCriterion>& c) {
    return c && !c->list && c->values.size() == 1;
  };
  switch (filter.op) {
    case 0:
      return single(filter.criteria1) && !filter.criteria2;
    case xl::kFilterAnd:
    case xl::kFilterOr:
      return single(filter.criteria1) && (!filter.criteria2 || single(filter.criteria2));
    case xl::kFilterValues:
      return filter.criteria1 && filter.criteria1->list && !filter.criteria2;
    default:
      return false;
  }
}

bool meets(const Value& value, const ColumnFilter& filter, const HostLocale& locale) {
  const bool first = meets(value, *filter.criteria1, locale);
  if (!filter.criteria2) return first;
  const bool second = meets(value, *filter.criteria2, locale);
  return filter.op == xl::kFilterOr ? first || second : first && second;
}

}  // namespace

void MemoryWorksheet::applyAutoFilter(const AutoFilterState& state) {
  enter();
  if (state.range.rows() < 1) refuse("AutoFilter method of Range class failed");
  for (const ColumnFilter& filter : state.filters) {
    if (filter.field < 1 || filter.field > state.range.columns() || !modelled(filter)) {
      refuse("AutoFilter method of Range class failed");
    }
  }
  sheet_->autoFilter = AutoFilterState{state.range, state.filters, true};
  // Every row of the list below its header is shown or hidden by the criteria, hidden by
  // hand or not.
  for (int64_t r = state.range.first.row + 1; r <= state.range.last.row; ++r) {
    bool shown = true;
    for (const ColumnFilter& filter : state.filters) {
      const CellRef at{r, state.range.first.column + filter.field - 1};
      shown = shown && meets(sheet_->content(at).value, filter, st_->locale);
    }
    sheet_->setRowHidden(r, !shown);
  }
}

RangePtr MemoryWorksheet::usedRange() {
  enter();
  const auto used = sheet_->usedArea();
  return std::make_shared<MemoryRange>(st_, sheet_, std::vector<AreaRef>{used.value_or(AreaRef{})});
}

RangePtr MemoryWorksheet::range(std::u16string_view reference) {
  enter();
  auto areas = parseReference(reference);
  if (!areas || areas->empty()) refuse("Method 'Range' of object '_Global' failed");
  return std::make_shared<MemoryRange>(st_, sheet_, std::move(*areas));
}

// ---- Workbook -----------------------------------------------------------------------

void MemoryWorkbook::enter() {
  st_->hostCall();
  if (!book_->open) throw HostError(kDisconnected, "The workbook was closed");
}

std::u16string MemoryWorkbook::name() {
  enter();
  return book_->name;
}

void MemoryWorkbook::activate() {
  enter();
  st_->activeBook = book_;
}

// ---- Range --------------------------------------------------------------------------

int64_t MemoryRange::count() {
  enter();
  return cellCount(areas_);
}
int64_t MemoryRange::rowsCount() {
  enter();
  return areas_[0].rows();
}
int64_t MemoryRange::columnsCount() {
  enter();
  return areas_[0].columns();
}
CellRef MemoryRange::topLeft() {
  enter();
  return areas_[0].first;
}
RangePtr MemoryRange::column(int64_t index) {
  enter();
  const AreaRef& a = areas_[0];
  const int64_t c = a.first.column + index - 1;
  if (index < 1 || c > kMaxColumns) refuse("Application-defined or object-defined error");
  return make({AreaRef{{a.first.row, c}, {a.last.row, c}}});
}
RangePtr MemoryRange::cell(int64_t row, int64_t column) {
  enter();
  const CellRef at{areas_[0].first.row + row - 1, areas_[0].first.column + column - 1};
  if (at.row < 1 || at.row > kMaxRows || at.column < 1 || at.column > kMaxColumns) {
    refuse("Application-defined or object-defined error");
  }
  return make({AreaRef{at, at}});
}
std::vector<RangePtr> MemoryRange::areas() {
  enter();
  std::vector<RangePtr> out;
  out.reserve(areas_.size());
  for (const auto& a : areas_) out.push_back(make({a}));
  return out;
}
std::vector<AreaRef> MemoryRange::areaRefs() {
  enter();
  return areas_;
}
std::u16string MemoryRange::address() {
  enter();
  return formatAddress(areas_);
}
WorksheetPtr MemoryRange::worksheet() {
  enter();
  return std::make_shared<MemoryWorksheet>(st_, sheet_);
}

Value MemoryRange::value() {
  enter();
  return sheet_->content(areas_[0].first).value;
}
void MemoryRange::setValue(const Value& value) {
  enter();
  const auto* text = std::get_if<std::u16string>(&value);
  if (text == nullptr || std::holds_alternative<std::u16string>(
                             typedResult(*text, st_->locale, st_->currentYear, u"General").value)) {
    writeAll(typedContent(value));
    return;
  }
  // A number, date or Boolean read from a text depends on each cell's format.
  if (cellCount(areas_) > kMaxCellsPerCall) refuse("Not enough memory to write the range");
  for (const auto& a : areas_) {
    for (int64_t r = a.first.row; r <= a.last.row; ++r) {
      for (int64_t c = a.first.column; c <= a.last.column; ++c) writeTypedCell({r, c}, value);
    }
  }
  st_->cellsChanged(*sheet_, areas_);
}
std::u16string MemoryRange::formula() {
  enter();
  return formulaText(sheet_->content(areas_[0].first));
}
void MemoryRange::setFormula(std::u16string_view formula) {
  enter();
  CellContent content;
  if (!formula.empty() && formula.front() == u'=') {
    if (formula.size() == 1) refuse("The formula is incomplete");
    content.formula = std::u16string(formula);
  } else if (auto error = parseErrorText(formula)) {
    content.value = *error;
  } else {
    // Formula notation follows the en-US conventions whatever the user's locale.
    content.value = parseTypedInput(formula, HostLocale{}, st_->currentYear);
  }
  writeAll(content);
}
void MemoryRange::setContent(const CellContent& content) {
  enter();
  if (const auto* d = std::get_if<double>(&content.value); d && !std::isfinite(*d)) {
    refuse("The value is not a number");
  }
  writeAll(content);
}
CellBlock MemoryRange::readBlock() {
  enter();
  CellBlock block;
  fillBlock(block);
  return block;
}
void MemoryRange::readBlockInto(CellBlock& block) {
  enter();
  fillBlock(block);
}

RangePtr MemoryRange::specialCells(int32_t type) {
  enter();
  std::vector<AreaRef> found;
  if (type == xl::kCellTypeConstants) {
    found = matchingAreas(
        *sheet_, areas_,
        [](const Cell& c) { return !(c.flags & kHasFormula) && c.value.index() != 0; },
        [](const Column& column) { return column.allConstants(); });
  } else if (type == xl::kCellTypeFormulas) {
    found = matchingAreas(
        *sheet_, areas_, [](const Cell& c) { return (c.flags & kHasFormula) != 0; },
        [](const Column&) { return false; });
  } else if (type == xl::kCellTypeVisible) {
    found = visibleAreas();
  } else {
    refuse("SpecialCells of this type is not available");
  }
  if (found.empty()) refuse("No cells were found.");
  return make(std::move(found));
}
void MemoryRange::clear() {
  enter();
  for (const auto& a : areas_) sheet_->clearArea(a, true);
  st_->cellsChanged(*sheet_, areas_);
}
CellFormats MemoryRange::formats() {
  enter();
  CellFormats first = sheet_->formats(areas_[0].first);
  for (const auto& a : areas_) {
    for (int64_t r = a.first.row; r <= a.last.row; ++r) {
      for (int64_t c = a.first.column; c <= a.last.column; ++c) {
        if (!(sheet_->formats({r, c}) == first)) refuse("The cells' formats differ");
      }
    }
  }
  return first;
}
std::vector<CellFormats> MemoryRange::cellFormats(std::span<const CellRef> cells) {
  enter();
  std::vector<CellFormats> out;
  out.reserve(cells.size());
  for (const CellRef& cell : cells) {
    if (cell.row < 1 || cell.row > kMaxRows || cell.column < 1 || cell.column > kMaxColumns) {
      refuse("Method 'Range' of object '_Worksheet' failed");
    }
    out.push_back(sheet_->formats(cell));
  }
  return out;
}
void MemoryRange::setFormats(const CellFormats& formats) {
  enter();
  for (const auto& a : areas_) {
    for (int64_t r = a.first.row; r <= a.last.row; ++r) {
      for (int64_t c = a.first.column; c <= a.last.column; ++c) {
        const CellRef cell{r, c};
        sheet_->setFormats(
            cell, formats.unknown == 0 ? formats : withKnownParts(sheet_->formats(cell), formats));
      }
    }
  }
}

namespace {

// The formats of an area's cells that have any, kept with the sheet they came from.
class KeptFormats final : public KeptCells {
 public:
  KeptFormats(std::shared_ptr<HostState> st, std::shared_ptr<Sheet> sheet, AreaRef area)
      : st_(std::move(st)), sheet_(std::move(sheet)), area_(area) {
    sheet_->forEachColumn(area.first.column, area.last.column, [&](int64_t c, const Column& col) {
      col.forEachLive(area.first.row, area.last.row, [&](int64_t r, const Cell& cell) {
        if (cell.flags & kHasFill) formats_.emplace(std::pair{r, c}, col.formats(r));
      });
    });
  }
  AreaRef area() const override { return area_; }
  void putBack(CellRef cell) override {
    st_->hostCall();
    checkOpen(*sheet_);
    if (!area_.contains(cell)) refuse("The cell was not kept");
    const auto kept = formats_.find(std::pair{cell.row, cell.column});
    sheet_->setFormats(cell, kept == formats_.end() ? CellFormats{} : kept->second);
  }

 private:
  std::shared_ptr<HostState> st_;
  std::shared_ptr<Sheet> sheet_;
  AreaRef area_;
  std::map<std::pair<int64_t, int64_t>, CellFormats> formats_;  ///< by (row, column)
};

}  // namespace

std::unique_ptr<KeptCells> MemoryRange::keepAside() {
  enter();
  return std::make_unique<KeptFormats>(st_, sheet_, areas_.front());
}
void MemoryRange::setCellValue(int64_t row, int64_t column, const Value& value) {
  enter();
  const CellRef at{areas_[0].first.row + row - 1, areas_[0].first.column + column - 1};
  if (at.row < 1 || at.row > kMaxRows || at.column < 1 || at.column > kMaxColumns) {
    refuse("Application-defined or object-defined error");
  }
  writeTypedCell(at, value);
  st_->cellsChanged(*sheet_, AreaRef{at, at});
}
void MemoryRange::setColumnValues(int64_t row, int64_t column, std::span<const Value> values) {
  writeColumn(row, column, values, nullptr);
}
void MemoryRange::setColumnValuesReported(int64_t row, int64_t column,
                                          std::span<const Value> values, WriteReport& report) {
  writeColumn(row, column, values, &report);
}
void MemoryRange::writeColumn(int64_t row, int64_t column, std::span<const Value> values,
                              WriteReport* report) {
  enter();
  if (values.empty()) return;
  const auto count = static_cast<int64_t>(values.size());
  const CellRef first{areas_[0].first.row + row - 1, areas_[0].first.column + column - 1};
  if (first.row < 1 || count > kMaxRows || first.row > kMaxRows - count + 1 || first.column < 1 ||
      first.column > kMaxColumns) {
    refuse("Application-defined or object-defined error");
  }
  // The cells written before a refused one are reported changed all the same.
  int64_t written = 0;
  const auto notice = [&] {
    if (written > 0) {
      st_->cellsChanged(*sheet_, AreaRef{first, {first.row + written - 1, first.column}});
    }
  };
  // Texts that typed input keeps as they stand go to the sheet a run at a time; the
  // others one by one, typed.
  const std::size_t plainEnd = values.size();
  const auto plainRun = [&](std::size_t from) {
    std::size_t end = from;
    while (end < plainEnd && storedAsItself(values[end])) ++end;
    return end;
  };
  bool allPlain = true;
  try {
    while (written < count) {
      const auto from = static_cast<std::size_t>(written);
      const std::size_t end = plainRun(from);
      if (end == from) {
        allPlain = false;
        writeTypedCell({first.row + written, first.column}, values[from]);
        ++written;
        continue;
      }
      std::size_t done = 0;
      try {
        sheet_->setConstants({first.row + written, first.column}, values.subspan(from, end - from),
                             done);
      } catch (...) {
        written += static_cast<int64_t>(done);
        throw;
      }
      written += static_cast<int64_t>(done);
    }
  } catch (...) {
    notice();
    throw;
  }
  notice();
  if (!report) return;
  if (allPlain) {
    report->holdsAsWritten(0, values);
    return;
  }
  // What the sheet holds now, as a read would return it: a text kept as it stands is the
  // value written; the typing of any other decided there, an empty result leaving no cell.
  const Column* stored = static_cast<const Sheet&>(*sheet_).column(first.column);
  for (std::size_t i = 0; i < values.size();) {
    if (const std::size_t end = plainRun(i); end > i) {
      report->holdsAsWritten(i, values.subspan(i, end - i));
      i = end;
      continue;
    }
    const Cell* cell = stored ? stored->at(first.row + static_cast<int64_t>(i)) : nullptr;
    if (!cell || !Column::isLive(*cell)) {
      report->holds(i, Value{});
    } else if (!(cell->flags & kHasFormula)) {
      report->holds(i, cell->value);
    }
    ++i;
  }
}
bool MemoryRange::storedAsItself(const Value& value) const {
  const auto* text = std::get_if<std::u16string>(&value);
  return text != nullptr && text->size() <= kMaxCellChars && readsAsItself(*text, st_->locale);
}
void MemoryRange::writeTypedCell(CellRef at, const Value& value) {
  if (const auto* text = std::get_if<std::u16string>(&value);
      text != nullptr && readsAsItself(*text, st_->locale)) {
    // The text is stored as it stands, straight from the caller's value.
    if (text->size() > kMaxCellChars) refuse("A cell holds at most 32,767 characters");
    sheet_->setConstant(at, value);
    return;
  }
  const auto* text = std::get_if<std::u16string>(&value);
  if (text == nullptr) {
    const CellContent content = typedContent(value);
    checkLength(content);
    sheet_->setContent(at, content);
    giveDateFormat(*sheet_, at, content);
    return;
  }
  const TypedCell typed = typedInto(at, *text);
  const CellContent content{typed.value, {}};
  checkLength(content);
  sheet_->setContent(at, content);
  if (!typed.numberFormat.empty()) {
    CellFormats formats = sheet_->formats(at);
    formats.numberFormat = typed.numberFormat;
    sheet_->setFormats(at, formats);
  }
  giveDateFormat(*sheet_, at, content);
}
TypedCell MemoryRange::typedInto(CellRef at, const std::u16string& text) const {
  // A result that stays text is text in every format; only the others ask the cell's.
  TypedCell typed = typedResult(text, st_->locale, st_->currentYear, u"General");
  if (std::holds_alternative<std::u16string>(typed.value)) return typed;
  return typedResult(text, st_->locale, st_->currentYear, sheet_->formats(at).numberFormat);
}
bool MemoryRange::entireRowHidden() {
  enter();
  return sheet_->rowHidden(areas_[0].first.row);
}
void MemoryRange::setEntireRowHidden(bool hidden) {
  enter();
  for (const auto& a : areas_) {
    for (int64_t r = a.first.row; r <= a.last.row; ++r) sheet_->setRowHidden(r, hidden);
  }
}

void MemoryRange::enter() {
  st_->hostCall();
  checkOpen(*sheet_);
}

CellContent MemoryRange::typedContent(const Value& value) const {
  CellContent content;
  if (const auto* text = std::get_if<std::u16string>(&value)) {
    content.value = typedResult(*text, st_->locale, st_->currentYear, u"General").value;
  } else if (const auto* d = std::get_if<double>(&value); d && !std::isfinite(*d)) {
    refuse("The value is not a number");
  } else {
    content.value = value;
  }
  return content;
}

void MemoryRange::checkLength(const CellContent& content) {
  const auto* text = std::get_if<std::u16string>(&content.value);
  if ((text && text->size() > kMaxCellChars) || content.formula.size() > kMaxCellChars) {
    refuse("A cell holds at most 32,767 characters");
  }
}

void MemoryRange::fillBlock(CellBlock& block) const {
  const AreaRef& a = areas_[0];
  if (a.count() > kMaxCellsPerCall) refuse("Not enough memory to read the area");
  block.area = a;
  block.cells.resize(static_cast<std::size_t>(a.count()));
  if (a.columns() == 1) {
    if (const Column* col = sheet_->column(a.first.column)) {
      col->contentsInto(a.first.row, a.last.row, block.cells.data());
      return;
    }
  }
  for (CellContent& out : block.cells) {
    out.value = Value{};
    out.formula.clear();
  }
  sheet_->forEachColumn(a.first.column, a.last.column, [&](int64_t c, const Column& col) {
    col.forEachLive(a.first.row, a.last.row, [&](int64_t r, const Cell&) {
      col.contentInto(r, block.cells[static_cast<std::size_t>((r - a.first.row) * a.columns() + c -
                                                              a.first.column)]);
    });
  });
}

std::vector<AreaRef> MemoryRange::visibleAreas() const {
  std::vector<AreaRef> out;
  for (const AreaRef& a : disjointAreas(areas_)) {
    int64_t start = 0;
    for (int64_t r = a.first.row; r <= a.last.row + 1; ++r) {
      const bool shown = r <= a.last.row && !sheet_->rowHidden(r);
      if (shown && start == 0) start = r;
      if (!shown && start != 0) {
        out.push_back({{start, a.first.column}, {r - 1, a.last.column}});
        start = 0;
      }
    }
  }
  return out;
}

void MemoryRange::writeAll(const CellContent& content) {
  checkLength(content);
  if (content.value.index() == 0 && !content.isFormula()) {
    for (const auto& a : areas_) sheet_->clearArea(a, false);
    st_->cellsChanged(*sheet_, areas_);
    return;
  }
  if (cellCount(areas_) > kMaxCellsPerCall) refuse("Not enough memory to write the range");
  for (const auto& a : areas_) {
    for (int64_t r = a.first.row; r <= a.last.row; ++r) {
      for (int64_t c = a.first.column; c <= a.last.column; ++c) {
        sheet_->setContent({r, c}, content);
        giveDateFormat(*sheet_, {r, c}, content);
      }
    }
  }
  st_->cellsChanged(*sheet_, areas_);
}

// Range.Formula (https://learn.microsoft.com/office/vba/api/excel.range.formula): "If you
// set the value or formula of a cell to a date, Microsoft Excel verifies that cell is
// already formatted with one of the date or time number formats. If not, Excel changes the
// number format to the default short date number format." The same holds for a date typed
// in, and for a time, which the page does not single out: the harder reading.
void giveDateFormat(Sheet& sheet, CellRef at, const CellContent& content) {
  if (content.isFormula() || !std::holds_alternative<DateTime>(content.value)) return;
  CellFormats formats = sheet.formats(at);
  if (isDateFormatCode(toUtf8(formats.numberFormat))) return;
  formats.numberFormat = u"m/d/yyyy";
  sheet.setFormats(at, formats);
}

MemoryRange& asMemoryRange(Range& range) {
  auto* r = dynamic_cast<MemoryRange*>(&range);
  if (!r) throw HostError(host_errors::kObjectRequired, "Object required");
  checkOpen(*r->sheet());
  return *r;
}

}  // namespace qmv::memory::detail
