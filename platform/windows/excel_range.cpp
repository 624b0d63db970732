// Excel's ranges as the host's: their place, values and formulas read a block at a time,
// typed writes a column at a time, clears, searches answered from the value indexes, and
// the advanced filter. Their contents, formats and kept copies are the other excel_cell_*
// and excel_kept_cells files' (excel_range_parts.hpp).
#include <algorithm>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "host/address.hpp"
#include "host/cell_text.hpp"
#include "host/tolerant.hpp"
#include "platform/windows/click_events.hpp"
#include "platform/windows/column_index.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/excel_parts.hpp"
#include "platform/windows/excel_range_parts.hpp"
#include "platform/windows/guids.hpp"
#include "platform/windows/user_settings.hpp"
#include "platform/windows/variant_value.hpp"

namespace qmv::windows {

namespace {

// Excel's constants used here.
constexpr int32_t kXlFilterInPlace = 1;
constexpr int32_t kXlA1 = 1;

// Excel's Address stops at 255 characters: a text this long may not name the whole range.
constexpr std::size_t kTrustedAddressLength = 250;

}  // namespace

std::u16string escapeWildcards(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size() + 8);
  for (char16_t c : text) {
    if (c == u'~' || c == u'*' || c == u'?') out.push_back(u'~');
    out.push_back(c);
  }
  return out;
}

namespace {

// The text by which the advanced filter compares a cell of a record: its value's text,
// case folded; none for an error value, which repeats nothing.
std::optional<std::u16string> recordKey(const CellContent& cell) {
  if (std::holds_alternative<CellError>(cell.value)) return std::nullopt;
  return foldCase(cellText(cell.value, HostLocale{}).value_or(u""));
}

}  // namespace

// Whether a cell holds the text `text`, letter case aside: how the bridge compares values
// itself where Excel refuses a text that long.
bool holdsText(const CellContent& cell, const std::u16string& text) {
  const auto* held = std::get_if<std::u16string>(&cell.value);
  return held && held->size() == text.size() &&
         CompareStringOrdinal(reinterpret_cast<const wchar_t*>(held->data()),
                              static_cast<int>(held->size()),
                              reinterpret_cast<const wchar_t*>(text.data()),
                              static_cast<int>(text.size()), TRUE) == CSTR_EQUAL;
}

namespace {

// Where a range lies: its sheet as Excel's external address names it ("[Book1]Sheet1")
// and its areas.
struct Place {
  std::u16string sheet;
  std::vector<AreaRef> areas;
};

// A range's place, once asked: shared by the range and the cells taken from it.
struct PlaceSlot {
  bool asked = false;
  std::optional<Place> place;
};

// Whether the part of an external address before its "!" names one sheet: unquoted
// without a comma (which would part areas), or quoted whole with every quote inside
// doubled, as Excel quotes a book or sheet name holding spaces, commas and the like.
bool namesOneSheet(std::u16string_view sheet) {
  if (sheet.empty() || sheet.front() != u'\'') return sheet.find(u',') == std::u16string_view::npos;
  if (sheet.size() < 2 || sheet.back() != u'\'') return false;
  const std::u16string_view inside = sheet.substr(1, sheet.size() - 2);
  for (std::size_t i = 0; i < inside.size(); ++i) {
    if (inside[i] != u'\'') continue;
    if (i + 1 >= inside.size() || inside[i + 1] != u'\'') return false;
    ++i;
  }
  return true;
}

// The place of a range object from its external address (one call); none for a range of
// several areas or an address too long to trust, which the bridge then leaves to Excel.
// The areas follow the last "!": a comma before it belongs to a book or sheet name.
std::optional<Place> placeOf(IDispatch* range) {
  const std::u16string address = asText(get(range, L"Address", {true, true, kXlA1, true}));
  if (address.size() >= kTrustedAddressLength) return std::nullopt;
  const std::size_t bang = address.rfind(u'!');
  if (bang != std::u16string::npos && !namesOneSheet(std::u16string_view(address).substr(0, bang)))
    return std::nullopt;
  Place place;
  std::u16string_view refs = address;
  if (bang != std::u16string::npos) {
    place.sheet = address.substr(0, bang);
    refs.remove_prefix(bang + 1);
  }
  std::optional<std::vector<AreaRef>> areas = parseReference(refs);
  if (!areas || areas->size() != 1) return std::nullopt;
  place.areas = std::move(*areas);
  return place;
}

// The value indexes of this thread, which every clear and write through the bridge keeps
// true; a run's index lives as long as the range it counts in.
ValueIndexes& indexes() { return ValueIndexes::ofThisThread(); }

}  // namespace

// Excel calls an add-in on its one thread: the DISPIDs are learnt once per thread.
InterfaceIds& rangeIds() {
  thread_local InterfaceIds ids;
  return ids;
}
InterfaceIds& areasIds() {
  thread_local InterfaceIds ids;
  return ids;
}
InterfaceIds& sheetIds() {
  thread_local InterfaceIds ids;
  return ids;
}

// A required object result; Nothing is the "object not set" error.
ComPtr<IDispatch> requiredObject(const Variant& v) {
  ComPtr<IDispatch> object = asObject(v);
  if (!object) throw HostError(host_errors::kObjectNotSet, "Object variable not set");
  return object;
}

namespace {

// A range over its automation object. A cell taken with cell() is reached through its
// parent range until an operation needs its own object, so that writing it is one call.
class ExcelRange final : public Range {
 public:
  explicit ExcelRange(ComPtr<IDispatch> range) : range_(std::move(range)) {}
  // Cells(row, column) of `parent`, whose place `parentPlace` holds once asked.
  ExcelRange(ComPtr<IDispatch> parent, std::shared_ptr<PlaceSlot> parentPlace,
             std::shared_ptr<std::optional<HostLocale>> parentLocale, int64_t row, int64_t column)
      : parent_(std::move(parent)),
        slot_(std::move(parentPlace)),
        locale_(std::move(parentLocale)),
        row_(row),
        column_(column) {}
  ~ExcelRange() override { ValueIndexes::releaseHeld(this); }
  ExcelRange(const ExcelRange&) = delete;
  ExcelRange& operator=(const ExcelRange&) = delete;

  IDispatch* object() {
    if (!range_) {
      range_ = requiredObject(
          get(parent_.get(), L"Item", {static_cast<double>(row_), static_cast<double>(column_)}));
    }
    return range_.get();
  }

  int64_t count() override {
    Variant n;
    try {
      n = get(object(), L"CountLarge");
    } catch (const HostError&) {
      n = get(object(), L"Count");
    }
    return static_cast<int64_t>(asDouble(n));
  }
  int64_t rowsCount() override {
    return static_cast<int64_t>(
        asDouble(get(requiredObject(get(object(), L"Rows")).get(), L"Count")));
  }
  int64_t columnsCount() override {
    return static_cast<int64_t>(
        asDouble(get(requiredObject(get(object(), L"Columns")).get(), L"Count")));
  }
  CellRef topLeft() override {
    // A cell of a range already placed is placed without asking Excel.
    if (parent_ && slot_->asked && slot_->place) return place()->areas.front().first;
    return {static_cast<int64_t>(asDouble(get(object(), L"Row"))),
            static_cast<int64_t>(asDouble(get(object(), L"Column")))};
  }
  // Collections are indexed through their Item member, which every automation client
  // reaches, rather than through arguments given to the property itself.
  // A column taken from Columns holds columns: Item with a row and a column fails there with
  // 1004 (https://learn.microsoft.com/office/vba/api/excel.range.item) and Count counts one.
  // Its Cells are the same cells as single cells, which cell() indexes
  // (https://learn.microsoft.com/office/vba/api/excel.range.cells).
  RangePtr column(int64_t index) override {
    ComPtr<IDispatch> columns = requiredObject(get(object(), L"Columns"));
    ComPtr<IDispatch> column =
        requiredObject(get(columns.get(), L"Item", {static_cast<double>(index)}));
    return wrapRange(requiredObject(get(column.get(), L"Cells")));
  }
  RangePtr cell(int64_t row, int64_t column) override {
    // A cell of a cell has a place of its own.
    return std::make_shared<ExcelRange>(ComPtr<IDispatch>(object()),
                                        parent_ ? std::make_shared<PlaceSlot>() : slot_, locale_,
                                        row, column);
  }
  std::vector<RangePtr> areas() override {
    ComPtr<IDispatch> areas = requiredObject(get(object(), L"Areas"));
    const int32_t n = asInt(get(areas.get(), L"Count"));
    std::vector<RangePtr> out;
    for (int32_t i = 1; i <= n; ++i) {
      out.push_back(wrapRange(requiredObject(get(areas.get(), L"Item", {i}))));
    }
    return out;
  }
  std::vector<AreaRef> areaRefs() override {
    // Address stops short of 255 characters after the last area that fits, and says
    // nothing of it: it speaks for the range only when it names every area.
    ComPtr<IDispatch> areas = requiredObject(get(object(), L"Areas"));
    const int32_t n = asInt(get(areas.get(), L"Count"));
    if (auto parsed = parseReference(address());
        parsed && parsed->size() == static_cast<std::size_t>(n)) {
      return *parsed;
    }
    std::vector<AreaRef> out;
    for (int32_t i = 1; i <= n; ++i) {
      ExcelRange area(requiredObject(get(areas.get(), L"Item", {i})));
      const CellRef first = area.topLeft();
      out.push_back(
          {first, {first.row + area.rowsCount() - 1, first.column + area.columnsCount() - 1}});
    }
    return out;
  }
  std::u16string address() override { return asText(get(object(), L"Address")); }
  WorksheetPtr worksheet() override {
    return wrapWorksheet(requiredObject(get(object(), L"Worksheet")));
  }

  Value value() override {
    if (known_) return *known_;
    Variant v = get(object(), L"Value");
    if (v.type() & VT_ARRAY) {
      std::vector<Variant> first = arrayElements(v, rowsCount(), columnsCount());
      v = std::move(first.front());
    }
    // Value2 keeps the digits that Currency rounds away.
    if (v.type() == VT_CY) v = get(object(), L"Value2");
    if (v.type() & VT_ARRAY) {
      std::vector<Variant> first = arrayElements(v, rowsCount(), columnsCount());
      return toValue(first.front().get());
    }
    return toValue(v.get());
  }
  void setValue(const Value& value) override {
    const auto* text = std::get_if<std::u16string>(&value);
    if (!text) {
      write(toVariant(value));
      return;
    }
    bool mixed = false;
    TypedWrite typed = typedWrite(*text, userLocale(), [&] {
      std::optional<std::u16string> format = numberFormatOf(object());
      mixed = !format;
      return format;
    });
    if (mixed && count() > 1) {
      // Cells of different formats: each is typed as its own format says.
      for (const RangePtr& area : areas()) {
        for (int64_t r = 1; r <= area->rowsCount(); ++r) {
          for (int64_t c = 1; c <= area->columnsCount(); ++c) area->cell(r, c)->setValue(value);
        }
      }
      return;
    }
    write(typed.value);
    if (!typed.numberFormat.empty()) put(object(), L"NumberFormat", typed.numberFormat);
  }
  std::u16string formula() override {
    Variant v = get(object(), L"Formula");
    if (v.type() & VT_ARRAY) {
      std::vector<Variant> first = arrayElements(v, rowsCount(), columnsCount());
      return asText(first.front());
    }
    return asText(v);
  }
  void setFormula(std::u16string_view formula) override {
    // Through Formula2 (or FormulaArray), never as an assigned value, so that a formula
    // keeps its spill or its array.
    writeFormula(object(), formula);
    changed();
  }
  void setContent(const CellContent& content) override {
    if (content.isFormula()) {
      setFormula(content.formula);
    } else if (const auto* text = std::get_if<std::u16string>(&content.value)) {
      // A leading apostrophe keeps a text as text, whatever it looks like.
      std::u16string typed(1, u'\'');
      typed.append(*text);
      write(Variant::fromText(typed));
    } else {
      write(toVariant(content.value));
    }
  }
  CellBlock readBlock() override;
  void setColumnValues(int64_t row, int64_t column, std::span<const Value> values) override;
  void setColumnContents(int64_t row, int64_t column,
                         std::span<const CellContent> contents) override;
  // Range.Calculate (https://learn.microsoft.com/office/vba/api/excel.range.calculate)
  // calculates the range's formulas whatever the calculation mode.
  void calculate() override { call(object(), L"Calculate"); }

  RangePtr specialCells(int32_t type) override {
    return wrapRange(requiredObject(call(object(), L"SpecialCells", {type})));
  }
  // An Excel without Range.Formula2 writes an array formula back through FormulaArray
  // alone, which takes 255 characters (excel_cell_writes.cpp). The range itself is asked
  // whether it knows the member, in one call that reads no cell.
  std::optional<std::size_t> arrayFormulaLimit() override {
    try {
      InterfaceIds asked;
      asked.member(object(), L"Formula2");
      return std::nullopt;
    } catch (const HostError& error) {
      if (!noFormula2(error)) throw;
      return kFormulaArrayLimit;
    }
  }
  void clear() override {
    call(object(), L"Clear");
    known_.reset();
    if (indexes().empty()) return;
    const std::optional<Place> here = place();
    if (!here) {
      indexes().dropAll();  // a clear the indexes cannot place
      return;
    }
    for (const AreaRef& area : here->areas) indexes().cleared(here->sheet, area);
  }
  // Range("A2,A5,...").Clear on the range's sheet, as many cells to a call as an address
  // shorter than Excel trusts names (several areas by commas: "Refer to multiple ranges";
  // longer strings are cut short: "Passed strings longer than 255 characters are truncated
  // in Excel"). Two calls per batch, against two per cell one by one.
  void clearCells(const std::vector<CellRef>& cells) override {
    if (cells.empty()) return;
    const ComPtr<IDispatch> sheet = requiredObject(get(object(), L"Worksheet"));
    const std::optional<Place> here = place();
    std::u16string address;
    std::size_t first = 0;
    const auto clearBatch = [&](std::size_t end) {
      call(requiredObject(get(sheet.get(), L"Range", {address})).get(), L"Clear");
      for (std::size_t i = first; i < end && here; ++i) {
        indexes().cleared(here->sheet, AreaRef{cells[i], cells[i]});
      }
      address.clear();
      first = end;
    };
    for (std::size_t i = 0; i < cells.size(); ++i) {
      std::u16string one = formatAddress(cells[i]);
      std::erase(one, u'$');
      if (!address.empty() && address.size() + 1 + one.size() >= kTrustedAddressLength) {
        clearBatch(i);
      }
      if (!address.empty()) address += u',';
      address += one;
    }
    clearBatch(cells.size());
    if (!here) indexes().dropAll();  // clears the indexes cannot place
  }
  // The index of this range's values, read now in one call unless the range keeps one;
  // null for a range that is not one column of one area.
  ColumnIndex* valueIndex(const std::function<HostLocale()>& locale) {
    if (ColumnIndex* held = indexes().held(this)) return held;
    indexes().release(this);
    const std::optional<Place> here = place();
    if (!here || here->areas.front().columns() != 1) return nullptr;
    const AreaRef column = here->areas.front();
    return &indexes().hold(
        this, ColumnIndex(here->sheet, column, readValues(object(), column.rows(), 1), locale()));
  }
  RangePtr find(const std::u16string& what, Range& after) override {
    auto* afterRange = dynamic_cast<ExcelRange*>(&after);
    if (!afterRange) throw HostError(host_errors::kObjectRequired, "Object required");
    if (std::optional<RangePtr> found = findIndexed(what, *afterRange)) return *found;
    // Not Range.Find: "The settings for LookIn, LookAt, SearchOrder, and MatchByte are saved
    // each time you use this method" (https://learn.microsoft.com/office/vba/api/excel.range.find),
    // and Excel has no way to read the user's settings to put them back.
    return findHere(what, after.topLeft());
  }
  void advancedFilterUniqueInPlace() override {
    // Excel takes the first row of the list as its header: shown, and never compared with
    // the rows below. Excel filters those rows; then the one repeat of the first row that
    // it leaves shown (the first below it) is hidden here, so that every row of the range
    // counts as a record and a repeat of the first value goes like any other repeat.
    const int64_t rows = rowsCount();
    if (rows < 2) return;  // a single record repeats nothing
    call(object(), L"AdvancedFilter", {kXlFilterInPlace, Arg::omitted(), Arg::omitted(), true});
    const CellBlock block = readBlock();
    const int64_t columns = block.area.columns();
    std::vector<std::u16string> first;
    for (int64_t c = 0; c < columns; ++c) {
      const std::optional<std::u16string> key = recordKey(block.at(0, c));
      if (!key) return;  // an error value is never a repeat
      first.push_back(*key);
    }
    for (int64_t r = 1; r < block.area.rows(); ++r) {
      bool same = true;
      for (int64_t c = 0; c < columns && same; ++c) same = recordKey(block.at(r, c)) == first[c];
      if (same) {
        ComPtr<IDispatch> repeat =
            requiredObject(get(object(), L"Item", {static_cast<double>(r + 1), 1.0}));
        put(requiredObject(get(repeat.get(), L"EntireRow")).get(), L"Hidden", true);
        return;
      }
    }
  }
  bool entireRowHidden() override {
    return asBool(get(requiredObject(get(object(), L"EntireRow")).get(), L"Hidden"));
  }
  void setEntireRowHidden(bool hidden) override {
    put(requiredObject(get(object(), L"EntireRow")).get(), L"Hidden", hidden);
  }
  // Over several cells a Null part means they differ, a failure here; of one cell each
  // part is read on its own.
  CellFormats formats() override {
    return readFormats(object(), static_cast<bool>(parent_) || count() == 1);
  }
  // Each part over a whole column of the cells at once.
  std::vector<CellFormats> cellFormats(std::span<const CellRef> cells) override {
    if (cells.empty()) return {};
    return readCellFormats(requiredObject(get(object(), L"Worksheet")).get(), cells);
  }
  void setFormats(const CellFormats& formats) override { writeFormats(object(), formats); }
  // A copy of the first area in the scratch book.
  std::unique_ptr<KeptCells> keepAside() override {
    ComPtr<IDispatch> area(object());
    const ComPtr<IDispatch> areas = requiredObject(get(object(), L"Areas"));
    if (asInt(get(areas.get(), L"Count")) > 1)
      area = requiredObject(get(areas.get(), L"Item", {1}));
    ExcelRange first(area);
    const CellRef top = first.topLeft();
    const AreaRef where{top,
                        {top.row + first.rowsCount() - 1, top.column + first.columnsCount() - 1}};
    return keepCellsAside(area.get(), where);
  }

 private:
  bool isParentCell() const { return !range_ && parent_; }

  // Where this range lies; a cell taken from a range is placed from its parent's place.
  std::optional<Place> place() {
    if (!slot_->asked) {
      // A range Excel cannot place is left to Excel's own counting and searching.
      slot_->place = tolerantGet([&] {
                       return placeOf(parent_ ? parent_.get() : object());
                     }).value_or(std::nullopt);
      slot_->asked = true;
    }
    if (!slot_->place || !parent_) return slot_->place;
    const CellRef first = slot_->place->areas.front().first;
    const CellRef at{first.row + row_ - 1, first.column + column_ - 1};
    return Place{slot_->place->sheet, {AreaRef{at, at}}};
  }

  // The used range of this range's sheet, once asked; none when it cannot be placed.
  std::optional<AreaRef> usedArea() {
    if (!used_) {
      // Unknown when Excel cannot tell: the search is then left to Excel.
      const std::optional<Place> used =
          tolerantGet([&] {
            ComPtr<IDispatch> sheet = requiredObject(get(object(), L"Worksheet"));
            return placeOf(requiredObject(get(sheet.get(), L"UsedRange")).get());
          }).value_or(std::nullopt);
      used_ = used ? std::optional<AreaRef>(used->areas.front()) : std::nullopt;
    }
    return *used_;
  }

  // Find answered from a live index that holds every value this one-column range can
  // match: the cells of the range outside the index lie outside the sheet's used range,
  // so they are empty. None when no index can answer; a null range when nothing matches.
  std::optional<RangePtr> findIndexed(const std::u16string& what, ExcelRange& after) {
    if (what.empty() || indexes().empty()) return std::nullopt;
    const std::optional<Place> here = place();
    const std::optional<Place> start = after.place();
    if (!here || !start || start->sheet != here->sheet) return std::nullopt;
    const AreaRef area = here->areas.front();
    if (area.columns() != 1) return std::nullopt;
    const std::optional<AreaRef> used = usedArea();
    if (!used) return std::nullopt;
    const ColumnIndex* index = indexes().answering(here->sheet, area, *used);
    if (index == nullptr) return std::nullopt;
    const std::optional<int64_t> row = index->next(what, start->areas.front().first.row);
    if (!row) return RangePtr{};
    auto found = std::make_shared<ExcelRange>(ComPtr<IDispatch>(object()), slot_, locale_,
                                              *row - area.first.row + 1, 1);
    found->known_ = index->valueAt(*row);
    return found;
  }

  // After a write: the value known from an index no longer holds, and the live indexes
  // may no longer hold either.
  void changed() {
    known_.reset();
    indexes().dropAll();
  }
  // The search Find makes, done here over the values as the index compares them (each
  // value's text in the user's conventions, letter case aside): the first cell holding
  // `what` after `after`, row by row, around to `after` itself.
  RangePtr findHere(const std::u16string& what, CellRef after) {
    std::optional<CellRef> first;  // the first match of the range
    std::optional<CellRef> next;   // the first match after `after`
    bool passedAfter = false;
    const std::u16string wanted = foldCase(what);
    if (wanted.empty()) return nullptr;
    const HostLocale& locale = userLocale();
    for (const RangePtr& area : areas()) {
      const CellBlock block = area->readBlock();
      for (int64_t r = 0; r < block.area.rows() && !next; ++r) {
        for (int64_t c = 0; c < block.area.columns() && !next; ++c) {
          const CellRef at{block.area.first.row + r, block.area.first.column + c};
          const Value& value = block.at(r, c).value;
          const bool match = !std::holds_alternative<CellError>(value) &&
                             foldCase(cellText(value, locale).value_or(u"")) == wanted;
          if (match && !first) first = at;
          if (match && passedAfter) next = at;
          if (at == after) passedAfter = true;
        }
      }
      if (next) break;
    }
    const std::optional<CellRef> found = next ? next : first;
    if (!found) return nullptr;
    return worksheet()->range(formatAddress(AreaRef{*found, *found}));
  }

  // The user's conventions, asked once for the range and the cells taken from it; en-US,
  // Excel's own reading, when Excel cannot tell them.
  const HostLocale& userLocale() {
    if (!*locale_) {
      *locale_ = tolerantGet([&] {
                   return excelLocale(requiredObject(get(object(), L"Application")).get());
                 }).value_or(HostLocale{});
    }
    return **locale_;
  }

  // Assigns a value as typed input, through the parent in one call when possible.
  void write(const Variant& value) {
    if (isParentCell()) {
      invoke(parent_.get(), L"Item", InvokeKind::Put,
             {static_cast<double>(row_), static_cast<double>(column_), value}, &rangeIds());
    } else {
      put(object(), L"Value", value);
    }
    changed();
  }

  ComPtr<IDispatch> range_;
  ComPtr<IDispatch> parent_;
  std::shared_ptr<PlaceSlot> slot_ = std::make_shared<PlaceSlot>();
  std::shared_ptr<std::optional<HostLocale>> locale_ =
      std::make_shared<std::optional<HostLocale>>();
  int64_t row_ = 0;
  int64_t column_ = 0;
  std::optional<Value> known_;                  ///< the value an index gave at Find
  std::optional<std::optional<AreaRef>> used_;  ///< the sheet's used range, once asked
};

CellBlock ExcelRange::readBlock() {
  InterfaceIds* const ids = &rangeIds();
  ComPtr<IDispatch> area(object());
  Variant areas = get(object(), L"Areas", {}, ids);
  ComPtr<IDispatch> areasObject = asObject(areas);
  if (areasObject && asInt(get(areasObject.get(), L"Count", {}, &areasIds())) > 1) {
    area = requiredObject(get(areasObject.get(), L"Item", {1}, &areasIds()));
  }
  const CellRef first{static_cast<int64_t>(asDouble(get(area.get(), L"Row", {}, ids))),
                      static_cast<int64_t>(asDouble(get(area.get(), L"Column", {}, ids)))};
  // Rows and Columns are ranges too.
  const int64_t rows = static_cast<int64_t>(
      asDouble(get(requiredObject(get(area.get(), L"Rows", {}, ids)).get(), L"Count", {}, ids)));
  const int64_t columns = static_cast<int64_t>(
      asDouble(get(requiredObject(get(area.get(), L"Columns", {}, ids)).get(), L"Count", {}, ids)));
  CellBlock block;
  block.area = {first, {first.row + rows - 1, first.column + columns - 1}};
  std::vector<Value> values = readValues(area.get(), rows, columns);
  std::vector<Variant> formulas = arrayElements(readFormulas(area.get(), ids), rows, columns);
  // HasArray of the area, asked at its first formula: True or False for all its cells
  // alike, read the way HasFormula answers (the HasArray page speaks of one cell only);
  // anything else, each formula cell.
  std::optional<Variant> hasArray;
  // HasFormula answers True, False or Null (mixed) for the whole area; only a mixed area
  // leaves cells whose formula text could also be a constant text to ask one by one.
  Variant hasFormula = get(area.get(), L"HasFormula", {}, ids);
  block.cells.reserve(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    CellContent content;
    content.value = std::move(values[i]);
    std::u16string formula = asText(formulas[i]);
    bool isFormula = false;
    if (!formula.empty() && formula.front() == u'=') {
      if (hasFormula.type() == VT_BOOL) {
        isFormula = hasFormula.get().boolVal != VARIANT_FALSE;
      } else {
        const auto* text = std::get_if<std::u16string>(&content.value);
        isFormula = !text || *text != formula;
        if (!isFormula) {
          const auto row = static_cast<double>(static_cast<int64_t>(i) / columns + 1);
          const auto column = static_cast<double>(static_cast<int64_t>(i) % columns + 1);
          ComPtr<IDispatch> cell = requiredObject(get(area.get(), L"Item", {row, column}));
          isFormula = asBool(get(cell.get(), L"HasFormula"));
        }
      }
    }
    if (isFormula) {
      if (!hasArray) hasArray = get(area.get(), L"HasArray", {}, ids);
      bool inArray = hasArray->type() == VT_BOOL && hasArray->get().boolVal != VARIANT_FALSE;
      if (hasArray->type() != VT_BOOL) {
        const auto row = static_cast<double>(static_cast<int64_t>(i) / columns + 1);
        const auto column = static_cast<double>(static_cast<int64_t>(i) % columns + 1);
        ComPtr<IDispatch> cell = requiredObject(get(area.get(), L"Item", {row, column}));
        inArray = asBool(get(cell.get(), L"HasArray"));
      }
      content.formula = inArray ? u"{" + formula + u"}" : std::move(formula);
    }
    block.cells.push_back(std::move(content));
  }
  return block;
}

// One assignment of a 2-D array of n rows and one column to the run's cells, taken with
// Range.Range relative to this range ("When applied to a Range object, the property is
// relative to the Range object", https://learn.microsoft.com/office/vba/api/excel.range.range):
// "Assigning a 2-dim array to the Value property will copy the values to the range in one
// operation" (https://learn.microsoft.com/office/vba/api/excel.range.value). Each element
// is the VARIANT a one-cell assignment would pass, so each cell is typed as setValue types it.
void ExcelRange::setColumnValues(int64_t row, int64_t column, std::span<const Value> values) {
  if (values.size() == 1) {
    setCellValue(row, column, values.front());
    return;
  }
  if (values.empty()) return;
  if (values.size() > static_cast<std::size_t>(kMaxRows)) {
    throw HostError(host_errors::kRefused, "Too many cells for one column");
  }
  std::u16string cells = formatAddress(
      AreaRef{{row, column}, {row + static_cast<int64_t>(values.size()) - 1, column}});
  std::erase(cells, u'$');
  const ComPtr<IDispatch> target = requiredObject(get(object(), L"Range", {cells}, &rangeIds()));
  // The cells' number format, asked once for the column where a result's typing depends on
  // it, and cell by cell where the cells differ.
  std::optional<std::optional<std::u16string>> columnFormat;
  std::vector<std::pair<std::size_t, std::u16string>> typedFormats;
  std::vector<Variant> elements;
  elements.reserve(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto* text = std::get_if<std::u16string>(&values[i]);
    if (!text) {
      elements.push_back(toVariant(values[i]));
      continue;
    }
    TypedWrite typed = typedWrite(*text, userLocale(), [&]() -> std::optional<std::u16string> {
      if (!columnFormat) columnFormat = numberFormatOf(target.get(), &rangeIds());
      if (*columnFormat) return *columnFormat;
      const ComPtr<IDispatch> cell = requiredObject(
          get(target.get(), L"Item", {static_cast<double>(i + 1), 1.0}, &rangeIds()));
      return numberFormatOf(cell.get(), &rangeIds());
    });
    if (!typed.numberFormat.empty()) typedFormats.emplace_back(i, std::move(typed.numberFormat));
    elements.push_back(std::move(typed.value));
  }
  put(target.get(), L"Value", columnArray(elements), &rangeIds());
  changed();
  for (const auto& [i, format] : typedFormats) {
    const ComPtr<IDispatch> cell =
        requiredObject(get(target.get(), L"Item", {static_cast<double>(i + 1), 1.0}, &rangeIds()));
    put(cell.get(), L"NumberFormat", format, &rangeIds());
  }
}

// Exact contents of a column of cells through Formula2 (Formula before dynamic arrays) as
// one array: "If the range is a one- or two-dimensional range, you can set the formula to
// a Visual Basic array of the same dimensions"
// (https://learn.microsoft.com/office/vba/api/excel.range.formula). Each element is what
// setContent writes into one cell: a formula as it stands, a text behind the apostrophe
// that keeps it text, a constant as its own type. An array formula cannot share the
// array; it goes on its own through FormulaArray.
void ExcelRange::setColumnContents(int64_t row, int64_t column,
                                   std::span<const CellContent> contents) {
  const bool anyArray = std::any_of(contents.begin(), contents.end(),
                                    [](const CellContent& c) { return c.isArrayFormula(); });
  if (contents.size() < 2 || anyArray || contents.size() > static_cast<std::size_t>(kMaxRows)) {
    Range::setColumnContents(row, column, contents);
    return;
  }
  std::vector<Variant> elements;
  elements.reserve(contents.size());
  for (const CellContent& content : contents) {
    if (content.isFormula()) {
      elements.push_back(Variant::fromText(content.formula));
    } else if (const auto* text = std::get_if<std::u16string>(&content.value)) {
      elements.push_back(Variant::fromText(u"'" + *text));
    } else {
      elements.push_back(toVariant(content.value));
    }
  }
  Variant array = columnArray(elements);

  std::u16string cells = formatAddress(
      AreaRef{{row, column}, {row + static_cast<int64_t>(contents.size()) - 1, column}});
  std::erase(cells, u'$');
  const ComPtr<IDispatch> target = requiredObject(get(object(), L"Range", {cells}, &rangeIds()));
  try {
    put(target.get(), L"Formula2", array, &rangeIds());
  } catch (const HostError& error) {
    if (!noFormula2(error)) throw;
    put(target.get(), L"Formula", std::move(array), &rangeIds());
  }
  changed();
}

}  // namespace

RangePtr wrapRange(ComPtr<IDispatch> range) {
  return std::make_shared<ExcelRange>(std::move(range));
}

IDispatch* rangeObject(Range& range) {
  auto* excel = dynamic_cast<ExcelRange*>(&range);
  if (!excel) throw HostError(host_errors::kObjectRequired, "Object required");
  return excel->object();
}

std::vector<AreaRef> areaRefsOf(ComPtr<IDispatch> range) {
  return ExcelRange(std::move(range)).areaRefs();
}

std::optional<double> indexedCount(Range& range, const std::u16string& text,
                                   const std::function<HostLocale()>& locale) {
  auto* excel = dynamic_cast<ExcelRange*>(&range);
  if (excel == nullptr || text.empty()) return std::nullopt;
  ColumnIndex* index = excel->valueIndex(locale);
  if (index == nullptr) return std::nullopt;
  return index->count(text);
}

}  // namespace qmv::windows
