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
#include "platform/windows/guids.hpp"
#include "platform/windows/user_settings.hpp"
#include "platform/windows/variant_value.hpp"

namespace qmv::windows {

namespace {

// Excel's constants used here.
constexpr int32_t kXlFilterInPlace = 1;
// XlColorIndex: Interior.ColorIndex reads xlColorIndexNone for a cell without fill (its
// Color then reads white), Font.ColorIndex xlColorIndexAutomatic for the automatic colour
// (https://learn.microsoft.com/office/vba/api/excel.xlcolorindex).
constexpr int32_t kXlColorIndexAutomatic = -4105;
constexpr int32_t kXlColorIndexNone = -4142;
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

// Whether a cell holds the text `text`, letter case aside: how the bridge compares values
// itself where Excel refuses a text that long.
}  // namespace

bool holdsText(const CellContent& cell, const std::u16string& text) {
  const auto* held = std::get_if<std::u16string>(&cell.value);
  return held && held->size() == text.size() &&
         CompareStringOrdinal(reinterpret_cast<const wchar_t*>(held->data()),
                              static_cast<int>(held->size()),
                              reinterpret_cast<const wchar_t*>(text.data()),
                              static_cast<int>(text.size()), TRUE) == CSTR_EQUAL;
}

namespace {

// Whether Excel would take `text`, assigned as a cell's value, for a formula: "=...", or
// "+", "-" or "@" followed by anything that does not read as a number or a date (see
// Range.Formula and the implicit intersection operator "@" in Excel's documentation).
// Such a text is written with the apostrophe prefix, so that it stays the text it is.
bool readsAsFormula(const std::u16string& text) {
  if (text.empty()) return false;
  const char16_t first = text.front();
  if (first == u'=') return true;
  if (first != u'+' && first != u'-' && first != u'@') return false;
  // Assigned values are read in en-US, the locale of every call (kAutomationLocale).
  return std::holds_alternative<std::u16string>(parseTypedInput(text, HostLocale{}, 2000));
}

// The year Excel gives a date typed without one.
int yearNow() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return now.wYear;
}

// What to assign to a cell for a result read as the user's typing would be, and the number
// format to give the cell afterwards (empty: none). Excel reads an assigned text in en-US
// conventions whatever the user's (every call is made with LCID 1033: "Formatting Data in
// Excel with Various Regional Settings"), so the text is read here in the user's
// conventions (typedResult, the rule of every host): where Excel would read it the same,
// it goes as it is and Excel formats it as typed; otherwise a number, date or Boolean goes
// as its typed value, with the format typing would give it, and a text with the apostrophe
// prefix, which keeps it the text it is. A cell formatted as Text keeps the text as typed
// ("Available number formats in Excel": Text "displays the content exactly as you type
// it, even when you type numbers"); a typed date or number handed over would replace the
// format or the text (Range.Formula: a date changes the cell's format to a date format).
// `cellFormat` gives the cell's NumberFormat, none where its cells differ; it is asked
// only when Excel and the user would read the text differently. A leading apostrophe of the
// text itself is kept behind the prefix (Range.PrefixCharacter).
struct TypedWrite {
  Variant value;
  std::u16string numberFormat;
};

template <class CellFormat>
TypedWrite typedWrite(const std::u16string& text, const HostLocale& user, CellFormat&& cellFormat) {
  if (!text.empty() && text.front() == u'\'') return {Variant::fromText(u"'" + text), {}};
  const int year = yearNow();
  const Value mine = parseTypedInput(text, user, year);
  const Value excels = parseTypedInput(text, HostLocale{}, year);
  const bool formula = readsAsFormula(text);
  // Read alike, the text goes as it is, and Excel types it for the cell's format itself.
  if (!formula && excels == mine) return {Variant::fromText(text), {}};
  if (formula && std::holds_alternative<std::u16string>(mine)) {
    return {Variant::fromText(u"'" + text), {}};
  }
  const std::optional<std::u16string> format = cellFormat();
  if (format && isTextFormat(*format)) return {Variant::fromText(text), {}};
  if (std::holds_alternative<std::u16string>(mine)) return {Variant::fromText(u"'" + text), {}};
  const TypedCell typed = typedResult(text, user, year, format.value_or(u"General"));
  return {toVariant(typed.value), typed.numberFormat};
}

// Range.NumberFormat (https://learn.microsoft.com/office/vba/api/excel.range.numberformat):
// the code, or none for Null, which the page documents for cells whose formats differ.
std::optional<std::u16string> numberFormatOf(IDispatch* range, InterfaceIds* ids = nullptr) {
  const Variant code = get(range, L"NumberFormat", {}, ids);
  if (code.type() != VT_BSTR) return std::nullopt;
  return asText(code);
}

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

// The DISPIDs of Excel's Range interface and of its Areas collection, shared by every
// range object: Excel calls an add-in on its one thread.
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
}  // namespace

ComPtr<IDispatch> requiredObject(const Variant& v) {
  ComPtr<IDispatch> object = asObject(v);
  if (!object) throw HostError(host_errors::kObjectNotSet, "Object variable not set");
  return object;
}

namespace {

// The elements of a 2-D (1-based) SAFEARRAY result, row-major; a scalar is one element.
std::vector<Variant> arrayElements(const Variant& v, int64_t rows, int64_t columns) {
  std::vector<Variant> out;
  const VARIANT& raw = v.get();
  if (!(raw.vt & VT_ARRAY)) {
    out.push_back(Variant::copyOf(raw));
    return out;
  }
  SAFEARRAY* array = (raw.vt & VT_BYREF) ? *raw.pparray : raw.parray;
  if (!array || SafeArrayGetDim(array) != 2)
    throw HostError(host_errors::kTypeMismatch, "Type mismatch");
  LONG rowLow = 0, rowHigh = -1, colLow = 0, colHigh = -1;
  SafeArrayGetLBound(array, 1, &rowLow);
  SafeArrayGetUBound(array, 1, &rowHigh);
  SafeArrayGetLBound(array, 2, &colLow);
  SafeArrayGetUBound(array, 2, &colHigh);
  if (rowHigh - rowLow + 1 != rows || colHigh - colLow + 1 != columns) {
    throw HostError(host_errors::kTypeMismatch, "Unexpected array shape");
  }
  out.reserve(static_cast<std::size_t>(rows * columns));
  for (LONG r = rowLow; r <= rowHigh; ++r) {
    for (LONG c = colLow; c <= colHigh; ++c) {
      LONG index[2] = {r, c};
      Variant element;
      HRESULT hr = SafeArrayGetElement(array, index, element.raw());
      if (FAILED(hr)) throwHostError(hr, nullptr, L"SafeArrayGetElement");
      out.push_back(std::move(element));
    }
  }
  return out;
}

class ExcelRange;

// The values of an area in one call: Range.Value, which keeps dates; where it gives
// Currency, rounded to four decimal places, Range.Value2 (one more call) gives the exact
// number (https://learn.microsoft.com/office/vba/api/excel.range.value2).
std::vector<Value> readValues(IDispatch* area, int64_t rows, int64_t columns) {
  const std::vector<Variant> values =
      arrayElements(get(area, L"Value", {}, &rangeIds()), rows, columns);
  std::vector<Variant> exact;
  std::vector<Value> out;
  out.reserve(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i].type() == VT_CY) {
      if (exact.empty())
        exact = arrayElements(get(area, L"Value2", {}, &rangeIds()), rows, columns);
      out.push_back(toValue(exact[i].get()));
    } else {
      out.push_back(toValue(values[i].get()));
    }
  }
  return out;
}

// Excel's colours are RGB numbers with red in the low byte (the RGB function of VBA):
// 0xRRGGBB in the host contract is 0xBBGGRR to Excel.
uint32_t swapRedBlue(uint32_t colour) {
  return ((colour & 0xFFu) << 16) | (colour & 0xFF00u) | ((colour >> 16) & 0xFFu);
}
uint32_t rgbOfExcelColor(double colour) {
  return swapRedBlue(static_cast<uint32_t>(colour) & 0xFFFFFFu);
}
double excelColorOfRgb(uint32_t rgb) { return static_cast<double>(swapRedBlue(rgb)); }

// The format parts read through Excel's properties; the others are the kept copy's.
constexpr FormatPart kReadFormatParts[] = {kNumberFormatPart, kFillPart, kFontColorPart};

// The colour of a range's Interior or Font (`object`) into `colour`, none for `unset`
// (ColorIndex tells "no fill" and "automatic" apart from a colour). False when Excel
// answers Null, as a property of several cells does where they differ.
bool readColour(IDispatch* range, const wchar_t* object, int32_t unset,
                std::optional<uint32_t>& colour) {
  const ComPtr<IDispatch> part = requiredObject(get(range, object));
  const Variant index = get(part.get(), L"ColorIndex");
  if (index.type() == VT_NULL) return false;
  if (asDouble(index) == unset) {
    colour.reset();
    return true;
  }
  const Variant rgb = get(part.get(), L"Color");
  if (rgb.type() == VT_NULL) return false;
  colour = rgbOfExcelColor(asDouble(rgb));
  return true;
}

// One format part of a range into `out`: Range.NumberFormat "returns Null if all cells in
// the specified range don't have the same number format"
// (https://learn.microsoft.com/office/vba/api/excel.range.numberformat), and Interior and
// Font answer the same way (their Color and ColorIndex are Variants). False for Null.
bool readFormatPart(IDispatch* range, FormatPart part, CellFormats& out) {
  switch (part) {
    case kNumberFormatPart: {
      const Variant code = get(range, L"NumberFormat");
      if (code.type() == VT_NULL) return false;
      out.numberFormat = asText(code);
      return true;
    }
    case kFillPart:
      return readColour(range, L"Interior", kXlColorIndexNone, out.fill);
    case kFontColorPart:
      return readColour(range, L"Font", kXlColorIndexAutomatic, out.fontColor);
    default:
      return false;
  }
}

// A part of a single cell, read on its own: one Excel will not tell (Font.ColorIndex of a
// cell whose characters have colours of their own reads Null) is marked unknown.
void readCellPart(IDispatch* cell, FormatPart part, CellFormats& out) {
  if (!tolerantGet([&] { return readFormatPart(cell, part, out); }).value_or(false)) {
    out.unknown |= part;
  }
}

// A cell asked for by cellFormats: its row and its place in the answer.
struct AskedCell {
  int64_t row;
  std::size_t index;
};

// Reads `parts` of the asked cells of one column (`asked`, by row) over the one range from
// the first to the last, into their entries of `out`. Where a part reads Null the cells
// differ in it: the asked cells are halved and each half read for that part, down to single
// cells, so a column whose formats come in blocks costs a few calls per block.
void readSpanFormats(IDispatch* sheet, int64_t column, std::span<const AskedCell> asked,
                     uint8_t parts, std::vector<CellFormats>& out) {
  const AreaRef span{{asked.front().row, column}, {asked.back().row, column}};
  const ComPtr<IDispatch> range = requiredObject(get(sheet, L"Range", {formatAddress(span)}));
  CellFormats read;
  uint8_t differ = 0;
  for (const FormatPart part : kReadFormatParts) {
    if ((parts & part) == 0) continue;
    if (span.rows() == 1) {
      readCellPart(range.get(), part, read);
    } else if (!readFormatPart(range.get(), part, read)) {
      differ |= part;
    }
  }
  for (const AskedCell& cell : asked) {
    CellFormats& formats = out[cell.index];
    if (parts & kNumberFormatPart) formats.numberFormat = read.numberFormat;
    if (parts & kFillPart) formats.fill = read.fill;
    if (parts & kFontColorPart) formats.fontColor = read.fontColor;
    formats.unknown |= read.unknown & parts;
  }
  if (differ == 0) return;
  const std::size_t half = asked.size() / 2;
  readSpanFormats(sheet, column, asked.first(half), differ, out);
  readSpanFormats(sheet, column, asked.subspan(half), differ, out);
}

// Excel's constants for the scratch workbook: Workbooks.Add(xlWBATWorksheet) makes a
// workbook of one worksheet (https://learn.microsoft.com/office/vba/api/excel.workbooks.add,
// https://learn.microsoft.com/office/vba/api/excel.xlwbatemplate).
constexpr int32_t kXlWBATWorksheet = -4167;

// A workbook of the add-in's own that the user never sees, made when a record first keeps
// cells in it: an add-in workbook (Workbook.IsAddin,
// https://learn.microsoft.com/office/vba/api/excel.workbook.isaddin: its window is not
// visible and Excel never prompts to save it), which the user's code does not meet in
// Workbooks ("The collection returned by the Workbooks property doesn't include open
// add-ins", https://learn.microsoft.com/office/vba/api/excel.application.workbooks). It
// also counts as saved (Workbook.Saved), and it is closed unsaved when the last copy kept
// in it goes (Workbook.Close SaveChanges:=False).
class ScratchBook {
 public:
  explicit ScratchBook(IDispatch* app) {
    // Workbooks.Add activates the new workbook: the user's window is made active again.
    const ComPtr<IDispatch> userWindow = asObject(get(app, L"ActiveWindow"));
    book_ = requiredObject(
        call(requiredObject(get(app, L"Workbooks")).get(), L"Add", {kXlWBATWorksheet}));
    try {
      put(book_.get(), L"IsAddin", true);
    } catch (...) {
      tolerant([&] { call(book_.get(), L"Close", {false}); });
      throw;
    }
    const ComPtr<IDispatch> sheets = requiredObject(get(book_.get(), L"Worksheets"));
    sheet_ = requiredObject(get(sheets.get(), L"Item", {1}));
    markSaved();
    if (userWindow) tolerant([&] { call(userWindow.get(), L"Activate"); });
  }
  ~ScratchBook() {
    tolerant([&] { call(book_.get(), L"Close", {false}); });
  }
  ScratchBook(const ScratchBook&) = delete;
  ScratchBook& operator=(const ScratchBook&) = delete;

  IDispatch* sheet() const { return sheet_.get(); }
  void markSaved() { put(book_.get(), L"Saved", true); }
  // The scratch sheet's cells at `area`'s address.
  ComPtr<IDispatch> range(const AreaRef& area) const {
    return requiredObject(get(sheet_.get(), L"Range", {formatAddress(area)}, &sheetIds()));
  }

  // The scratch book alive in this thread (Excel calls an add-in on its one thread), made
  // when none is.
  static std::shared_ptr<ScratchBook> shared(IDispatch* app) {
    std::shared_ptr<ScratchBook> book = live().lock();
    if (!book) {
      book = std::make_shared<ScratchBook>(app);
      live() = book;
    }
    return book;
  }

 private:
  static std::weak_ptr<ScratchBook>& live() {
    thread_local std::weak_ptr<ScratchBook> book;
    return book;
  }
  ComPtr<IDispatch> book_;
  ComPtr<IDispatch> sheet_;
};

// An area copied into the scratch book at its own address, its contents cleared there: its
// formats, comments, notes, links, validation and the like stay, since Range.Copy with a
// Destination copies "the range to the specified range" whole
// (https://learn.microsoft.com/office/vba/api/excel.range.copy), without the clipboard, and
// Range.ClearContents clears only formulas and values
// (https://learn.microsoft.com/office/vba/api/excel.range.clearcontents). Putting a cell
// back copies it over the user's cell the same way.
class ExcelKeptCells final : public KeptCells {
 public:
  ExcelKeptCells(IDispatch* app, IDispatch* area, ComPtr<IDispatch> userSheet, AreaRef where)
      : book_(ScratchBook::shared(app)), userSheet_(std::move(userSheet)), area_(where) {
    const ComPtr<IDispatch> copy = book_->range(area_);
    call(area, L"Copy", {copy.get()});
    call(copy.get(), L"ClearContents");
    book_->markSaved();
  }
  AreaRef area() const override { return area_; }
  void putBack(CellRef cell) override {
    if (!area_.contains(cell)) throw HostError(host_errors::kRefused, "The cell was not kept");
    const AreaRef one{cell, cell};
    const ComPtr<IDispatch> user =
        requiredObject(get(userSheet_.get(), L"Range", {formatAddress(one)}));
    // A copy from the scratch book leaves it as it was: still saved.
    call(book_->range(one).get(), L"Copy", {user.get()});
  }
  // A run of cells in one Range.Copy.
  void putBackArea(const AreaRef& cells) override {
    if (!area_.contains(cells.first) || !area_.contains(cells.last)) {
      throw HostError(host_errors::kRefused, "The cells were not kept");
    }
    const ComPtr<IDispatch> user =
        requiredObject(get(userSheet_.get(), L"Range", {formatAddress(cells)}, &sheetIds()));
    call(book_->range(cells).get(), L"Copy", {user.get()}, &rangeIds());
  }

 private:
  std::shared_ptr<ScratchBook> book_;
  ComPtr<IDispatch> userSheet_;
  AreaRef area_;
};

// Formula2 keeps a formula as dynamic-array Excel has it, where Formula would put
// implicit intersection into it and stop it spilling ("Range.Formula vs Range.Formula2",
// https://learn.microsoft.com/office/vba/excel/concepts/cells-and-ranges/range-formula-vs-formula2);
// Excel before dynamic arrays has no Formula2, and only Formula is used there.
bool noFormula2(const HostError& error) { return error.number() == host_errors::kNotSupported; }
// One column of values as the two-dimensional array Range.Value and Formula take: element
// (i, 1) is the i-th in memory. The elements are moved into it (a detached VARIANT moves its
// string).
Variant columnArray(std::vector<Variant>& elements) {
  SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(elements.size()), 1}, {1, 1}};
  Variant array;
  array.raw()->parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
  if (!array.get().parray) throwHostError(E_OUTOFMEMORY, nullptr, L"SafeArrayCreate");
  array.raw()->vt = VT_ARRAY | VT_VARIANT;
  VARIANT* data = nullptr;
  const HRESULT access = SafeArrayAccessData(array.get().parray, reinterpret_cast<void**>(&data));
  if (FAILED(access)) throwHostError(access, nullptr, L"SafeArrayAccessData");
  for (std::size_t i = 0; i < elements.size(); ++i) data[i] = elements[i].detach();
  SafeArrayUnaccessData(array.get().parray);
  return array;
}

Variant readFormulas(IDispatch* range, InterfaceIds* ids = nullptr) {
  try {
    return get(range, L"Formula2", {}, ids);
  } catch (const HostError& error) {
    if (!noFormula2(error)) throw;
  }
  return get(range, L"Formula", {}, ids);
}
// Range.FormulaArray: "The FormulaArray property also has a character limit of 255".
constexpr std::size_t kFormulaArrayLimit = 255;

// An array formula entered with Control+Shift+Enter is written in braces, as the formula
// bar shows it, and goes back through Range.FormulaArray
// (https://learn.microsoft.com/office/vba/api/excel.range.formulaarray). One longer than
// FormulaArray takes goes through Formula2 instead: a formula set so "will always be
// evaluated as an array" (https://learn.microsoft.com/office/vba/api/excel.range.formula2),
// as a Control+Shift+Enter formula was ("Range.Formula vs Range.Formula2": array
// evaluation was used for "CSE Array formulas"), so the one cell (the only kind a removal
// clears: Excel refuses to change part of an array) calculates as it did. Excel before
// dynamic arrays has no Formula2, and refuses such a formula as before.
void writeFormula(IDispatch* range, std::u16string_view formula) {
  if (formula.size() > 2 && formula.front() == u'{' && formula.back() == u'}') {
    const std::u16string_view inner = formula.substr(1, formula.size() - 2);
    if (inner.size() <= kFormulaArrayLimit) {
      put(range, L"FormulaArray", inner);
    } else {
      put(range, L"Formula2", inner);
    }
    return;
  }
  try {
    put(range, L"Formula2", formula);
    return;
  } catch (const HostError& error) {
    if (!noFormula2(error)) throw;
  }
  put(range, L"Formula", formula);
}

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
  // part is read on its own (readCellPart).
  CellFormats formats() override {
    const bool oneCell = static_cast<bool>(parent_) || count() == 1;
    CellFormats out;
    out.unknown = kOtherFormatsPart;
    for (const FormatPart part : kReadFormatParts) {
      if (oneCell) {
        readCellPart(object(), part, out);
      } else if (!readFormatPart(object(), part, out)) {
        throw HostError(host_errors::kTypeMismatch, "The formats differ");
      }
    }
    return out;
  }
  // Each part over a whole column of the cells at once, halved where it reads Null
  // (readSpanFormats).
  std::vector<CellFormats> cellFormats(std::span<const CellRef> cells) override {
    std::vector<CellFormats> out(cells.size());
    if (cells.empty()) return out;
    std::vector<AskedCell> sorted;
    sorted.reserve(cells.size());
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (cells[i].row < 1 || cells[i].row > kMaxRows || cells[i].column < 1 ||
          cells[i].column > kMaxColumns) {
        throw HostError(host_errors::kRefused, "No such cell");
      }
      out[i].unknown = kOtherFormatsPart;
    }
    std::vector<std::size_t> order(cells.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return std::pair{cells[a].column, cells[a].row} < std::pair{cells[b].column, cells[b].row};
    });
    const ComPtr<IDispatch> sheet = requiredObject(get(object(), L"Worksheet"));
    uint8_t all = 0;
    for (const FormatPart part : kReadFormatParts) all |= part;
    for (std::size_t from = 0; from < order.size();) {
      const int64_t column = cells[order[from]].column;
      sorted.clear();
      std::size_t to = from;
      for (; to < order.size() && cells[order[to]].column == column; ++to) {
        sorted.push_back(AskedCell{cells[order[to]].row, order[to]});
      }
      readSpanFormats(sheet.get(), column, sorted, all, out);
      from = to;
    }
    return out;
  }
  void setFormats(const CellFormats& formats) override {
    if (formats.known(kNumberFormatPart)) put(object(), L"NumberFormat", formats.numberFormat);
    if (formats.known(kFillPart)) {
      const ComPtr<IDispatch> interior = requiredObject(get(object(), L"Interior"));
      if (formats.fill) {
        put(interior.get(), L"Color", excelColorOfRgb(*formats.fill));
      } else {
        put(interior.get(), L"ColorIndex", kXlColorIndexNone);
      }
    }
    if (formats.known(kFontColorPart)) {
      const ComPtr<IDispatch> font = requiredObject(get(object(), L"Font"));
      if (formats.fontColor) {
        put(font.get(), L"Color", excelColorOfRgb(*formats.fontColor));
      } else {
        put(font.get(), L"ColorIndex", kXlColorIndexAutomatic);
      }
    }
  }
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
    return std::make_unique<ExcelKeptCells>(requiredObject(get(area.get(), L"Application")).get(),
                                            area.get(),
                                            requiredObject(get(area.get(), L"Worksheet")), where);
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
  const bool anyArray = std::any_of(contents.begin(), contents.end(), [](const CellContent& c) {
    return c.formula.size() > 2 && c.formula.front() == u'{' && c.formula.back() == u'}';
  });
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
