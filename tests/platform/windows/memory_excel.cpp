#include "memory_excel.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

#include "excel_rules.hpp"
#include "host/cell_text.hpp"
#include "host/host_error.hpp"
#include "host/tolerant.hpp"
#include "platform/memory/memory_range.hpp"
#include "platform/memory/memory_sheet.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/guids.hpp"
#include "platform/windows/variant_value.hpp"

namespace qmv::windows::fake {

namespace {

constexpr int32_t kXlWhole = 1;
constexpr int32_t kXlValues = -4163;
constexpr int32_t kXlFilterInPlace = 1;
constexpr int32_t kXlColorIndexAutomatic = -4105;
constexpr int32_t kXlColorIndexNone = -4142;
constexpr int32_t kXlCalculationManual = -4135;

Variant number(double d) { return Variant::fromDouble(d); }
Variant textVariant(const std::u16string& s) { return Variant::fromText(s); }

// A range's address as Excel gives it: a list of areas longer than 255 characters stops,
// without an error, after the last area that fits.
std::u16string excelAddress(const std::u16string& full) {
  constexpr std::size_t kLongest = 255;
  if (full.size() <= kLongest) return full;
  const std::size_t cut = full.rfind(u',', kLongest);
  return cut == std::u16string::npos ? full : full.substr(0, cut);
}
std::u16string textOf(const Variant& v) { return fromWide(text(v)); }

int64_t intOf(const Variant& v) { return static_cast<int64_t>(asDouble(v)); }

bool isOmitted(const Variant& v) { return v.type() == VT_EMPTY; }

template <class T>
std::shared_ptr<T> payloadOf(const Variant& v) {
  ComPtr<IDispatch> object = asObject(v);
  auto* fakeObject = object ? dynamic_cast<Object*>(object.get()) : nullptr;
  if (!fakeObject || !fakeObject->payload) throw Failure{424};  // object required
  return std::static_pointer_cast<T>(fakeObject->payload);
}

// Writes a value as Excel takes a typed input (typedEntry): a formula goes to the host as
// a formula, a leading apostrophe keeps the rest as text, any other text is read in en-US
// conventions whatever the user's, as Excel reads a text assigned through its object model.
// Through Range.Formula or Range.Value a formula is implicitly intersected; through
// Range.Formula2 it stays as written (implicitlyIntersected).
// The cell's number format follows the assignment as formatAfterAssignment says, and a
// Text cell keeps a typed text as it is (typedEntry with the cell's format).
void writeTyped(Range& cell, const Variant& v, bool formula2 = false) {
  CellFormats formats = cell.formats();
  CellContent stored;
  if (v.type() == VT_BSTR) {
    const std::u16string s = textOf(v);
    const std::optional<CellContent> typed = typedEntry(s, formats.numberFormat);
    if (!typed) throw Failure{1004};
    if (typed->isFormula()) {
      cell.setFormula(formula2 ? typed->formula : implicitlyIntersected(typed->formula));
      return;
    }
    stored = CellContent{typed->value, u""};
  } else {
    stored = CellContent{toValue(v.get()), u""};
  }
  cell.setContent(stored);
  const std::u16string after = formatAfterAssignment(v, stored, formats.numberFormat);
  if (after != formats.numberFormat) {
    formats.numberFormat = after;
    cell.setFormats(formats);
  }
}

// What a grid of cells is read as.
enum class Reading { Value, Value2, Formula, Formula2 };

// A 2-D array over a block's cells (or the one value of a single cell). Range.Value gives
// the numbers of the cells in `currency` as Currency (currencyOf); Value2 gives dates as
// serial numbers.
Variant gridOf(const CellBlock& block, Reading reading,
               const std::set<std::pair<int64_t, int64_t>>& currency = {}) {
  auto at = [&](const CellContent& content) {
    const std::size_t i = static_cast<std::size_t>(&content - block.cells.data());
    const int64_t columns = block.area.columns();
    const CellRef where{block.area.first.row + static_cast<int64_t>(i) / columns,
                        block.area.first.column + static_cast<int64_t>(i) % columns};
    switch (reading) {
      case Reading::Formula:
        return textVariant(content.isFormula() ? formulaDialect(content.formula)
                                               : formulaOf(content));
      case Reading::Formula2:
        return textVariant(formulaOf(content));
      case Reading::Value2:
        return value2Of(content.value);
      case Reading::Value:
        break;
    }
    if (const auto* d = std::get_if<double>(&content.value);
        d && currency.count({where.row, where.column})) {
      return currencyOf(*d);
    }
    return toVariant(content.value);
  };
  const int64_t rows = block.area.rows();
  const int64_t columns = block.area.columns();
  if (rows * columns == 1) return at(block.cells.front());
  SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows), 1}, {static_cast<ULONG>(columns), 1}};
  SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
  for (int64_t i = 0; i < rows; ++i) {
    for (int64_t j = 0; j < columns; ++j) {
      LONG index[2] = {static_cast<LONG>(i + 1), static_cast<LONG>(j + 1)};
      Variant v = at(block.cells[static_cast<std::size_t>(i * columns + j)]);
      SafeArrayPutElement(array, index, v.raw());
    }
  }
  Variant out;
  out.raw()->vt = VT_ARRAY | VT_VARIANT;
  out.raw()->parray = array;
  return out;
}

// Every cell of a range, area by area, row by row.
std::vector<RangePtr> cellsOf(const RangePtr& r) {
  std::vector<RangePtr> cells;
  for (const RangePtr& area : r->areas()) {
    for (int64_t i = 1; i <= area->rowsCount(); ++i) {
      for (int64_t j = 1; j <= area->columnsCount(); ++j) cells.push_back(area->cell(i, j));
    }
  }
  return cells;
}

// Null: what a property of several cells reads when they differ.
Variant nullVariant() {
  Variant null;
  null.raw()->vt = VT_NULL;
  return null;
}

// The colour every cell of the range has (none: no colour); none when they differ.
std::optional<std::optional<uint32_t>> sharedColour(
    const RangePtr& r, std::optional<uint32_t> CellFormats::*colour,
    const std::set<std::pair<int64_t, int64_t>>* mixed) {
  const std::vector<RangePtr> cells = cellsOf(r);
  if (mixed != nullptr) {
    for (const RangePtr& cell : cells) {
      const CellRef at = cell->topLeft();
      if (mixed->count({at.row, at.column})) return std::nullopt;
    }
  }
  const std::optional<uint32_t> first = cells.front()->formats().*colour;
  for (const RangePtr& cell : cells) {
    if (cell->formats().*colour != first) return std::nullopt;
  }
  return first;
}

uint32_t swapRedBlue(uint32_t colour) {
  return ((colour & 0xFFu) << 16) | (colour & 0xFF00u) | ((colour >> 16) & 0xFFu);
}

// An Interior or Font object over one colour of the range's formats: Color (Excel's byte
// order) and ColorIndex, whose `unset` index removes the colour. `shownUnset` is what Color
// reads while no colour is set.
// `mixed`: cells whose characters have colours of their own, over which both read Null.
ComPtr<Object> colourObject(const RangePtr& r, const wchar_t* type,
                            std::optional<uint32_t> CellFormats::*colour, int32_t unset,
                            uint32_t shownUnset,
                            const std::set<std::pair<int64_t, int64_t>>* mixed = nullptr) {
  auto o = Object::create(type);
  o->members[L"Color"] = [r, colour, shownUnset, mixed](Call& c) {
    if (c.isPut()) {
      for (const RangePtr& cell : cellsOf(r)) {
        CellFormats formats = cell->formats();
        formats.*colour = swapRedBlue(static_cast<uint32_t>(asDouble(c.value)) & 0xFFFFFFu);
        cell->setFormats(formats);
      }
      return Variant();
    }
    const std::optional<std::optional<uint32_t>> set = sharedColour(r, colour, mixed);
    if (!set) return nullVariant();
    return number(static_cast<double>(swapRedBlue(set->value_or(shownUnset))));
  };
  o->members[L"ColorIndex"] = [r, colour, unset, mixed](Call& c) {
    if (c.isPut()) {
      if (intOf(c.value) != unset) throw Failure{1004};  // palette indexes: not modelled
      for (const RangePtr& cell : cellsOf(r)) {
        CellFormats formats = cell->formats();
        formats.*colour = std::nullopt;
        cell->setFormats(formats);
      }
      return Variant();
    }
    // A set colour reads as the nearest palette entry; any index but `unset` tells it apart.
    const std::optional<std::optional<uint32_t>> set = sharedColour(r, colour, mixed);
    if (!set) return nullVariant();
    return Variant::fromInt(*set ? 1 : unset);
  };
  return o;
}

}  // namespace

struct MemoryExcel::Wrappers {
  MemoryExcel& excel;
  memory::MemoryApplication& host;

  ComPtr<Object> range(RangePtr r, RangeKind kind = RangeKind::Cells);
  ComPtr<Object> sheet(WorksheetPtr s);
  ComPtr<Object> book(WorkbookPtr b);
  ComPtr<Object> bars(CommandBarsPtr b);
  ComPtr<Object> bar(CommandBarPtr b);
  ComPtr<Object> controls(CommandBarControlsPtr c);
  ComPtr<Object> control(CommandBarControlPtr c);
  ComPtr<Object> addIn(AddInPtr a);
  ComPtr<Object> functions();
  ComPtr<Object> autoFilter(const WorksheetPtr& s, const AutoFilterState& state);
  void filterUnique(const RangePtr& list);
  // Whether `r` lies on a sheet of the user's workbooks, the sheets arrayCells describes.
  // Arrays in an add-in workbook (the add-in's scratch copies) are not modelled: there a
  // write forgets none of the user's arrays and HasArray reads False.
  static bool onUsersSheet(const RangePtr& r) {
    const auto* cells = dynamic_cast<const memory::detail::MemoryRange*>(r.get());
    const std::shared_ptr<memory::detail::Book> book =
        cells ? cells->sheet()->book.lock() : nullptr;
    return !book || !book->addin;
  }
  // A write over cells of an array formula ends their part in it.
  void forgetArrays(const RangePtr& r) {
    if (excel.arrayCells.empty() || !onUsersSheet(r)) return;
    for (const RangePtr& cell : cellsOf(r)) {
      const CellRef at = cell->topLeft();
      excel.arrayCells.erase({at.row, at.column});
    }
  }
  ComPtr<Object> workbooks();
  // Formula values (MemoryExcel::formulaResults) for the formulas of `r`.
  void calculate(const RangePtr& r) {
    if (excel.formulaResults.empty()) return;
    for (const RangePtr& area : r->areas()) {
      const CellBlock block = area->readBlock();
      for (std::size_t i = 0; i < block.cells.size(); ++i) {
        const CellContent& cell = block.cells[i];
        const auto result = excel.formulaResults.find(cell.formula);
        if (!cell.isFormula() || result == excel.formulaResults.end()) continue;
        if (cell.value == result->second) continue;
        const auto columns = static_cast<std::size_t>(block.area.columns());
        const CellRef at{block.area.first.row + static_cast<int64_t>(i / columns),
                         block.area.first.column + static_cast<int64_t>(i % columns)};
        r->worksheet()
            ->range(formatAddress(AreaRef{at, at}))
            ->setContent({result->second, cell.formula});
      }
    }
  }
  // After formulas were written into `r`: calculated at once only in automatic mode.
  void written(const RangePtr& r) {
    if (host.runSettings().calculation != kXlCalculationManual) calculate(r);
  }
};

ComPtr<Object> MemoryExcel::Wrappers::range(RangePtr r, RangeKind kind) {
  if (!r) return {};
  auto o = Object::create(L"Range");
  o->interfaces.push_back(kIidExcelRange);
  o->payload = std::make_shared<RangePtr>(r);
  auto& m = o->members;
  // Count counts what the range holds: cells, columns or rows (rangeCount).
  m[L"Count"] = [r, kind](Call&) {
    return number(static_cast<double>(rangeCount(kind, r->areaRefs())));
  };
  m[L"CountLarge"] = m[L"Count"];
  m[L"Row"] = [r](Call&) { return number(static_cast<double>(r->topLeft().row)); };
  m[L"Column"] = [r](Call&) { return number(static_cast<double>(r->topLeft().column)); };
  // Range.Rows and Range.Columns (https://learn.microsoft.com/office/vba/api/excel.range.rows,
  // https://learn.microsoft.com/office/vba/api/excel.range.columns): the rows or columns of
  // the first area only; an index picks one, as Item does.
  const auto lines = [this, r](RangeKind of) {
    return [this, r, of](Call& c) {
      const RangePtr first = r->areas().front();
      const Variant index = c.arg(0, L"Index");
      if (isOmitted(index)) return Variant::fromDispatch(range(first, of).get());
      const RangeItem item = rangeItem(of, first->areaRefs().front(), intOf(index), std::nullopt);
      return Variant::fromDispatch(
          range(r->worksheet()->range(formatAddress(item.area)), item.kind).get());
    };
  };
  m[L"Rows"] = lines(RangeKind::Rows);
  m[L"Columns"] = lines(RangeKind::Columns);
  // Range.Cells (https://learn.microsoft.com/office/vba/api/excel.range.cells): the same
  // cells as single cells, "which allows to use the version of the Item with two parameters".
  m[L"Cells"] = [this, r](Call&) { return Variant::fromDispatch(range(r).get()); };
  m[L"Item"] = [this, r, kind](Call& c) {
    const Variant column = c.arg(1, L"ColumnIndex");
    const RangeItem item =
        rangeItem(kind, r->areaRefs().front(), intOf(c.arg(0, L"RowIndex")),
                  isOmitted(column) ? std::nullopt : std::optional<int64_t>(intOf(column)));
    RangePtr cells = r->worksheet()->range(formatAddress(item.area));
    if (c.isPut()) {
      forgetArrays(cells);
      writeTyped(*cells, c.value);
      written(cells);
      return Variant();
    }
    return Variant::fromDispatch(range(cells, item.kind).get());
  };
  m[L"Areas"] = [this, r](Call&) {
    auto areas = Object::create(L"Areas");
    const std::vector<RangePtr> list = r->areas();
    areas->props[L"Count"] = Variant::fromInt(static_cast<int32_t>(list.size()));
    areas->members[L"Item"] = [this, list](Call& c) {
      const int64_t i = intOf(c.arg(0, L"Index"));
      if (i < 1 || i > static_cast<int64_t>(list.size())) throw Failure{9};
      return Variant::fromDispatch(range(list[static_cast<std::size_t>(i - 1)]).get());
    };
    return Variant::fromDispatch(areas.get());
  };
  m[L"Address"] = [r](Call&) { return textVariant(excelAddress(r->address())); };
  m[L"Worksheet"] = [this, r](Call&) { return Variant::fromDispatch(sheet(r->worksheet()).get()); };
  m[L"Application"] = [this](Call&) { return Variant::fromDispatch(excel.application.get()); };
  auto putOrGet = [this, r](Reading reading) {
    return [this, r, reading](Call& c) {
      if (c.isPut() && (c.value.type() & VT_ARRAY)) {
        // An array goes to the cells of one area (ArrayAssignment), each as one cell's.
        const std::vector<RangePtr> areas = r->areas();
        if (areas.size() != 1) throw Failure{1004};
        const CellRef first = areas[0]->topLeft();
        const AreaRef area{
            first,
            {first.row + areas[0]->rowsCount() - 1, first.column + areas[0]->columnsCount() - 1}};
        const ArrayAssignment array(c.value, area);
        forgetArrays(r);
        for (int64_t i = 1; i <= area.rows(); ++i) {
          for (int64_t j = 1; j <= area.columns(); ++j)
            writeTyped(*areas[0]->cell(i, j), array.at(i - 1, j - 1), reading == Reading::Formula2);
        }
        written(r);
        return Variant();
      }
      if (c.isPut()) {
        forgetArrays(r);
        for (const RangePtr& area : r->areas()) {
          for (int64_t i = 1; i <= area->rowsCount(); ++i) {
            for (int64_t j = 1; j <= area->columnsCount(); ++j)
              writeTyped(*area->cell(i, j), c.value);
          }
        }
        written(r);
        return Variant();
      }
      return gridOf(r->readBlock(), reading, excel.currencyCells);
    };
  };
  m[L"Value"] = putOrGet(Reading::Value);
  m[L"Value2"] = putOrGet(Reading::Value2);
  m[L"Formula"] = putOrGet(Reading::Formula);
  // Range.Range (https://learn.microsoft.com/office/vba/api/excel.range.range): one A1
  // area relative to the range's top-left cell ("B1" of C3 is D3), dollar signs ignored.
  m[L"Range"] = [this, r](Call& c) {
    const std::optional<std::vector<AreaRef>> refs = parseReference(textOf(c.arg(0, L"Cell1")));
    if (!refs || refs->size() != 1) throw Failure{1004};
    const CellRef origin = r->topLeft();
    const AreaRef& relative = refs->front();
    const AreaRef absolute{
        {origin.row + relative.first.row - 1, origin.column + relative.first.column - 1},
        {origin.row + relative.last.row - 1, origin.column + relative.last.column - 1}};
    return Variant::fromDispatch(range(r->worksheet()->range(formatAddress(absolute))).get());
  };
  // Range.Formula2 (https://learn.microsoft.com/office/vba/api/excel.range.formula2): "Formulas
  // set using Range.Formula2 will always be evaluated as an array and may spill"; missing
  // from an Excel before dynamic arrays, as a member it does not know.
  // An array assigned to it goes to the cells of one area as Range.Value's does ("If the
  // range is a one- or two-dimensional range, you can set the formula to a Visual Basic
  // array of the same dimensions", https://learn.microsoft.com/office/vba/api/excel.range.formula).
  if (excel.formula2) {
    m[L"Formula2"] = [this, r, array = putOrGet(Reading::Formula2)](Call& c) {
      if (!c.isPut()) return gridOf(r->readBlock(), Reading::Formula2);
      if (c.value.type() & VT_ARRAY) return array(c);
      forgetArrays(r);
      for (const RangePtr& cell : cellsOf(r)) writeTyped(*cell, c.value, true);
      written(r);
      return Variant();
    };
  }
  // Range.FormulaArray (https://learn.microsoft.com/office/vba/api/excel.range.formulaarray):
  // the array formula of the range; Range.HasArray
  // (https://learn.microsoft.com/office/vba/api/excel.range.hasarray): whether a cell is
  // part of one, answered over several cells as HasFormula answers (True, False, Null).
  // "The FormulaArray property also has a character limit of 255": a longer formula is
  // refused (run-time error 1004).
  m[L"FormulaArray"] = [this, r](Call& c) {
    if (!c.isPut()) return gridOf(r->readBlock(), Reading::Formula2);
    const std::u16string formula = textOf(c.value);
    if (formula.empty() || formula.front() != u'=') throw Failure{1004};
    if (formula.size() > 255) throw Failure{1004};
    r->setFormula(formula);
    for (const RangePtr& cell : onUsersSheet(r) ? cellsOf(r) : std::vector<RangePtr>{}) {
      const CellRef at = cell->topLeft();
      excel.arrayCells.insert({at.row, at.column});
    }
    written(r);
    return Variant();
  };
  // Range.Calculate (https://learn.microsoft.com/office/vba/api/excel.range.calculate):
  // the range's formulas get their values, whatever the calculation mode.
  m[L"Calculate"] = [this, r](Call&) {
    calculate(r);
    return Variant();
  };
  m[L"HasArray"] = [this, r](Call&) {
    if (!onUsersSheet(r)) return Variant::fromBool(false);
    std::size_t inArrays = 0;
    const std::vector<RangePtr> cells = cellsOf(r);
    for (const RangePtr& cell : cells) {
      const CellRef at = cell->topLeft();
      inArrays += excel.arrayCells.count({at.row, at.column});
    }
    if (inArrays == 0) return Variant::fromBool(false);
    if (inArrays == cells.size()) return Variant::fromBool(true);
    return nullVariant();
  };
  // Range.Copy with a Destination (https://learn.microsoft.com/office/vba/api/excel.range.copy)
  // copies the first area whole, contents and every format, to the destination's top-left
  // cell and on, in any open workbook, without the clipboard.
  m[L"Copy"] = [this, r](Call& c) {
    const Variant destination = c.arg(0, L"Destination");
    if (isOmitted(destination)) throw Failure{1004};  // the clipboard is not modelled
    const RangePtr to = *payloadOf<RangePtr>(destination);
    const RangePtr from = r->areas().front();
    const CellBlock block = from->readBlock();
    const CellRef start = to->topLeft();
    const WorksheetPtr sheet = to->worksheet();
    for (int64_t i = 0; i < block.area.rows(); ++i) {
      for (int64_t j = 0; j < block.area.columns(); ++j) {
        const CellRef at{start.row + i, start.column + j};
        const RangePtr target = sheet->range(formatAddress(AreaRef{at, at}));
        target->setContent(block.at(i, j));
        target->setFormats(from->cell(i + 1, j + 1)->formats());
      }
    }
    return Variant();
  };
  // Range.ClearContents (https://learn.microsoft.com/office/vba/api/excel.range.clearcontents):
  // formulas and values go, formats stay.
  m[L"ClearContents"] = [this, r](Call&) {
    forgetArrays(r);
    r->setContent(CellContent{});
    return Variant();
  };
  m[L"HasFormula"] = [r](Call&) {
    const CellBlock block = r->readBlock();
    std::size_t formulas = 0;
    for (const CellContent& cell : block.cells) formulas += cell.isFormula() ? 1 : 0;
    if (formulas == 0) return Variant::fromBool(false);
    if (formulas == block.cells.size()) return Variant::fromBool(true);
    Variant mixed;
    mixed.raw()->vt = VT_NULL;
    return mixed;
  };
  m[L"SpecialCells"] = [this, r](Call& c) {
    return Variant::fromDispatch(
        range(r->specialCells(static_cast<int32_t>(intOf(c.arg(0, L"Type"))))).get());
  };
  m[L"Clear"] = [this, r](Call&) {
    forgetArrays(r);
    r->clear();
    return Variant();
  };
  // Range.Find with LookIn:=xlValues and LookAt:=xlWhole matches the shown text of a cell
  // (findMatches), by rows from the cell after After, wrapping round; After comes last.
  // Excel refuses to search for a text longer than 255 characters.
  // "The settings for LookIn, LookAt, SearchOrder, and MatchByte are saved each time you
  // use this method": every one given becomes the user's (MemoryExcel::findSettings).
  m[L"Find"] = [this, r](Call& c) {
    const auto remember = [&](std::size_t i, const wchar_t* name, int32_t& setting) {
      const Variant given = c.arg(i, name);
      if (!isOmitted(given)) setting = static_cast<int32_t>(intOf(given));
    };
    remember(2, L"LookIn", excel.findSettings.lookIn);
    remember(3, L"LookAt", excel.findSettings.lookAt);
    remember(4, L"SearchOrder", excel.findSettings.searchOrder);
    remember(7, L"MatchByte", excel.findSettings.matchByte);
    const std::u16string what = textOf(c.arg(0, L"What"));
    if (what.size() > 255) throw Failure{13};
    if (intOf(c.arg(2, L"LookIn")) != kXlValues || intOf(c.arg(3, L"LookAt")) != kXlWhole)
      throw Failure{5};
    const CellRef after = (*payloadOf<RangePtr>(c.arg(1, L"After")))->topLeft();
    std::vector<std::pair<CellRef, std::u16string>> order;
    for (const RangePtr& area : r->areas()) {
      const CellBlock block = area->readBlock();
      for (std::size_t i = 0; i < block.cells.size(); ++i) {
        const auto columns = static_cast<std::size_t>(block.area.columns());
        const CellRef at{block.area.first.row + static_cast<int64_t>(i / columns),
                         block.area.first.column + static_cast<int64_t>(i % columns)};
        const auto shown = excel.shownTexts.find({at.row, at.column});
        order.emplace_back(at, shown != excel.shownTexts.end() ? shown->second
                                                               : generalText(block.cells[i].value));
      }
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
      if (order[i].first == after) start = i;
    }
    for (std::size_t k = 1; k <= order.size(); ++k) {
      const auto& [at, shown] = order[(start + k) % order.size()];
      if (findMatches(what, shown)) {
        return Variant::fromDispatch(
            range(r->worksheet()->range(formatAddress(AreaRef{at, at}))).get());
      }
    }
    return Variant();
  };
  // Range.AutoFilter(Field, Criteria1, Operator, Criteria2)
  // (https://learn.microsoft.com/office/vba/api/excel.range.autofilter): with no argument
  // it toggles the arrows (taking them off is not modelled: Failure 5); otherwise it
  // filters column Field of the range, putting the arrows on first; Criteria1 omitted is
  // "All". An array criterion is a list of values.
  // Over a table's range it filters the table (MemoryExcel::tables), whose arrows show.
  m[L"AutoFilter"] = [this, r](Call& c) {
    const WorksheetPtr sheet = r->worksheet();
    const AreaRef area = r->areaRefs().front();
    MemoryExcel::Table* table = nullptr;
    for (MemoryExcel::Table& t : excel.tables) {
      if (t.range == area) table = &t;
    }
    const std::optional<AutoFilterState> state =
        table ? std::optional<AutoFilterState>(table->filter) : sheet->autoFilter();
    const Variant field = c.arg(0, L"Field");
    if (isOmitted(field)) {
      if (table) throw Failure{5};  // a table's arrows: not modelled
      if (state || !c.args.empty() || !c.named.empty()) throw Failure{5};
      sheet->applyAutoFilter(AutoFilterState{area, {}, true});
      return Variant::fromBool(true);
    }
    AutoFilterState next = state && state->range == area ? *state : AutoFilterState{area, {}, true};
    const int64_t column = intOf(field);
    std::erase_if(next.filters, [column](const ColumnFilter& f) { return f.field == column; });
    const auto criterionOf = [](const Variant& v) -> std::optional<FilterCriterion> {
      if (isOmitted(v)) return std::nullopt;
      if (!(v.type() & VT_ARRAY)) return FilterCriterion{{toValue(v.get())}, false};
      SAFEARRAY* array = v.get().parray;
      LONG low = 0, high = -1;
      SafeArrayGetLBound(array, 1, &low);
      SafeArrayGetUBound(array, 1, &high);
      FilterCriterion list{{}, true};
      for (LONG i = low; i <= high; ++i) {
        Variant element;
        SafeArrayGetElement(array, &i, element.raw());
        list.values.push_back(toValue(element.get()));
      }
      return list;
    };
    ColumnFilter filter{column, 0, criterionOf(c.arg(1, L"Criteria1")),
                        criterionOf(c.arg(3, L"Criteria2"))};
    const Variant op = c.arg(2, L"Operator");
    if (!isOmitted(op)) filter.op = static_cast<int32_t>(intOf(op));
    if (filter.criteria1 || filter.criteria2) next.filters.push_back(std::move(filter));
    std::sort(next.filters.begin(), next.filters.end(),
              [](const ColumnFilter& a, const ColumnFilter& b) { return a.field < b.field; });
    if (table) {
      table->filter = next;
    } else {
      sheet->applyAutoFilter(next);
    }
    return Variant::fromBool(true);
  };
  m[L"AdvancedFilter"] = [this, r](Call& c) {
    if (intOf(c.arg(0, L"Action")) != kXlFilterInPlace || !asBool(c.arg(3, L"Unique")))
      throw Failure{5};
    filterUnique(r);
    return Variant();
  };
  // Range.NumberFormat: the format code; Null when the cells' formats differ
  // (https://learn.microsoft.com/office/vba/api/excel.range.numberformat).
  m[L"NumberFormat"] = [this, r](Call& c) {
    if (c.isPut()) {
      for (const RangePtr& cell : cellsOf(r)) {
        CellFormats formats = cell->formats();
        formats.numberFormat = textOf(c.value);
        cell->setFormats(formats);
      }
      return Variant();
    }
    const std::vector<RangePtr> cells = cellsOf(r);
    if (excel.refuseFormatSpans && cells.size() > 1) throw Failure{1004};
    const std::u16string first = cells.front()->formats().numberFormat;
    for (const RangePtr& cell : cells) {
      if (cell->formats().numberFormat != first) return nullVariant();
    }
    return textVariant(first);
  };
  // Range.Interior and Range.Font: Color is an RGB number with red in the low byte
  // (https://learn.microsoft.com/office/vba/api/excel.interior.color,
  // https://learn.microsoft.com/office/vba/api/excel.font.color); ColorIndex reads
  // xlColorIndexNone (-4142) for no fill and xlColorIndexAutomatic (-4105) for the automatic
  // font colour, and takes them to remove a colour
  // (https://learn.microsoft.com/office/vba/api/excel.interior.colorindex,
  // https://learn.microsoft.com/office/vba/api/excel.font.colorindex). A cell without fill
  // reads white through Interior.Color; the automatic font colour reads black. Over cells
  // whose colours differ both read Null: those pages type them Variant without saying so,
  // and Null is the answer Range.NumberFormat documents for cells that differ; a common
  // value there would speak for cells that do not have it.
  m[L"Interior"] = [r](Call&) {
    return Variant::fromDispatch(
        colourObject(r, L"Interior", &CellFormats::fill, kXlColorIndexNone, 0xFFFFFF).get());
  };
  // Font.Color and Font.ColorIndex read Null where characters of a cell have colours of
  // their own, as a property of a range reads Null where its cells differ (Font.ColorIndex
  // page: a Variant; the Null answer for mixed formatting is the same as for a range).
  m[L"Font"] = [this, r](Call&) {
    return Variant::fromDispatch(colourObject(r, L"Font", &CellFormats::fontColor,
                                              kXlColorIndexAutomatic, 0x000000,
                                              &excel.richTextCells)
                                     .get());
  };
  m[L"EntireRow"] = [this, r](Call&) {
    auto row = Object::create(L"Range");
    const int64_t first = r->topLeft().row;
    const int64_t last = first + r->rowsCount() - 1;
    row->members[L"Hidden"] = [this, first, last](Call& c) {
      if (c.isPut()) {
        for (int64_t i = first; i <= last; ++i) host.setRowHidden(i, asBool(c.value));
        return Variant();
      }
      return Variant::fromBool(host.rowHidden(first));
    };
    return Variant::fromDispatch(row.get());
  };
  return o;
}

// Excel's advanced filter in place with unique records: the first row of the list is its
// header, shown and never compared; of the rows below, repeats are hidden.
void MemoryExcel::Wrappers::filterUnique(const RangePtr& list) {
  excel.filteredLists.push_back(list->address());
  const CellRef first = list->topLeft();
  const int64_t rows = list->rowsCount();
  if (rows < 2) throw Failure{1004};
  const CellRef last{first.row + rows - 1, first.column + list->columnsCount() - 1};
  RangePtr records =
      list->worksheet()->range(formatAddress(AreaRef{{first.row + 1, first.column}, last}));
  records->advancedFilterUniqueInPlace();
}

// The AutoFilter object: its Range and its Filters, one Filter per column of the range
// (https://learn.microsoft.com/office/vba/api/excel.filters). Filter.On tells whether the
// column filters; Operator is 0 for one criterion alone (the Filters page's example
// reads Operator as a truth value); Criteria1 and Criteria2 give the criteria, a list of
// values as an array. A criterion that is not there is refused with 1004, the safe
// reading where the Filter page does not say.
ComPtr<Object> MemoryExcel::Wrappers::autoFilter(const WorksheetPtr& s,
                                                 const AutoFilterState& state) {
  auto o = Object::create(L"AutoFilter");
  o->members[L"Range"] = [this, s, state](Call&) {
    return Variant::fromDispatch(range(s->range(formatAddress(state.range))).get());
  };
  auto filters = Object::create(L"Filters");
  filters->props[L"Count"] = Variant::fromInt(static_cast<int32_t>(state.range.columns()));
  filters->members[L"Item"] = [this, state](Call& c) {
    const int64_t field = intOf(c.arg(0, L"Index"));
    if (field < 1 || field > state.range.columns()) throw Failure{9};
    std::optional<ColumnFilter> filter;
    for (const ColumnFilter& f : state.filters) {
      if (f.field == field) filter = f;
    }
    auto f = Object::create(L"Filter");
    f->props[L"On"] = Variant::fromBool(filter.has_value());
    const int32_t op = filter ? filter->op : 0;
    f->members[L"Operator"] = [this, op](Call&) {
      if (excel.refuseFilterOperators) throw Failure{1004};
      return Variant::fromInt(op);
    };
    const auto criterion = [filter](std::optional<FilterCriterion> ColumnFilter::*which) {
      return [filter, which](Call&) {
        if (!filter || !((*filter).*which)) throw Failure{1004};
        const FilterCriterion& got = *((*filter).*which);
        if (!got.list) return toVariant(got.values.front());
        SAFEARRAYBOUND bound{static_cast<ULONG>(got.values.size()), 1};
        SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
        for (std::size_t i = 0; i < got.values.size(); ++i) {
          LONG index = static_cast<LONG>(i) + 1;
          Variant element = toVariant(got.values[i]);
          SafeArrayPutElement(array, &index, element.raw());
        }
        Variant out;
        out.raw()->vt = VT_ARRAY | VT_VARIANT;
        out.raw()->parray = array;
        return out;
      };
    };
    f->members[L"Criteria1"] = criterion(&ColumnFilter::criteria1);
    f->members[L"Criteria2"] = criterion(&ColumnFilter::criteria2);
    return Variant::fromDispatch(f.get());
  };
  o->props[L"Filters"] = Variant::fromDispatch(filters.get());
  return o;
}

ComPtr<Object> MemoryExcel::Wrappers::sheet(WorksheetPtr s) {
  if (!s) return {};
  auto o = Object::create(L"Worksheet");
  o->payload = std::make_shared<WorksheetPtr>(s);
  o->members[L"Name"] = [s](Call&) { return textVariant(s->name()); };
  o->members[L"Activate"] = [s](Call&) {
    s->activate();
    return Variant();
  };
  o->members[L"UsedRange"] = [this, s](Call&) {
    return Variant::fromDispatch(range(s->usedRange()).get());
  };
  // Worksheet.ShowAllData (https://learn.microsoft.com/office/vba/api/excel.worksheet.showalldata):
  // "Makes all rows of the currently filtered list visible. If AutoFilter is in use, this
  // method changes the arrows to 'All'." Whether a table's filter goes too is not said: it
  // does here, the safer reading for a caller that must set it again.
  o->members[L"ShowAllData"] = [this, s](Call&) {
    bool tableFiltered = false;
    for (MemoryExcel::Table& table : excel.tables) {
      tableFiltered = tableFiltered || !table.filter.filters.empty();
      table.filter.filters.clear();
    }
    if (!tableFiltered) {
      s->showAllData();
    } else if (s->autoFilter()) {
      tolerant([&] { s->showAllData(); });
    }
    return Variant();
  };
  // Worksheet.ListObjects and ListObject.AutoFilter
  // (https://learn.microsoft.com/office/vba/api/excel.listobject.autofilter): each table's
  // own filter (MemoryExcel::tables).
  o->members[L"ListObjects"] = [this, s](Call&) {
    auto tables = Object::create(L"ListObjects");
    tables->props[L"Count"] = Variant::fromInt(static_cast<int32_t>(excel.tables.size()));
    tables->members[L"Item"] = [this, s](Call& item) {
      const int64_t i = intOf(item.arg(0, L"Index"));
      if (i < 1 || i > static_cast<int64_t>(excel.tables.size())) throw Failure{9};
      const MemoryExcel::Table& table = excel.tables[static_cast<std::size_t>(i - 1)];
      auto list = Object::create(L"ListObject");
      list->props[L"AutoFilter"] = Variant::fromDispatch(autoFilter(s, table.filter).get());
      return Variant::fromDispatch(list.get());
    };
    return Variant::fromDispatch(tables.get());
  };
  // Worksheet.AutoFilterMode: True while the AutoFilter's arrows show
  // (https://learn.microsoft.com/office/vba/api/excel.worksheet.autofiltermode); the
  // AutoFilter, Nothing without one (https://learn.microsoft.com/office/vba/api/excel.autofilter).
  o->members[L"AutoFilterMode"] = [s](Call&) {
    return Variant::fromBool(s->autoFilter().has_value());
  };
  o->members[L"AutoFilter"] = [this, s](Call&) {
    const std::optional<AutoFilterState> state = s->autoFilter();
    return Variant::fromDispatch(state ? autoFilter(s, *state).get() : nullptr);
  };
  // Worksheet.Range takes several areas separated by commas ("Refer to multiple ranges",
  // learn.microsoft.com/office/vba/excel/concepts/cells-and-ranges/refer-to-multiple-ranges).
  // A longer string than 255 characters may be cut short or refused (support article
  // "Passed strings longer than 255 characters are truncated in Excel"): refused here,
  // the safer of the two for a caller.
  o->members[L"Range"] = [this, s](Call& c) {
    const std::u16string reference = textOf(c.arg(0, L"Cell1"));
    if (reference.size() > 255) throw Failure{1004};
    if (excel.refuseAreaLists && reference.find(u',') != std::u16string::npos) throw Failure{1004};
    return Variant::fromDispatch(range(s->range(reference)).get());
  };
  return o;
}

ComPtr<Object> MemoryExcel::Wrappers::book(WorkbookPtr b) {
  if (!b) return {};
  auto o = Object::create(L"Workbook");
  o->members[L"Name"] = [b](Call&) { return textVariant(b->name()); };
  // Workbook.Activate (https://learn.microsoft.com/office/vba/api/excel.workbook.activate):
  // "Activates the first window associated with the workbook".
  o->members[L"Activate"] = [this, b](Call&) {
    b->activate();
    excel.activeWindow = 1;
    return Variant();
  };
  // Workbook.IsAddin (https://learn.microsoft.com/office/vba/api/excel.workbook.isaddin):
  // an add-in workbook's window is not visible, and Workbooks no longer counts it ("The
  // collection returned by the Workbooks property doesn't include open add-ins",
  // https://learn.microsoft.com/office/vba/api/excel.application.workbooks): the host keeps
  // it open when the user closes the workbooks.
  o->members[L"IsAddin"] = [this, b](Call& c) {
    const std::u16string name = b->name();
    if (!c.isPut()) return Variant::fromBool(excel.addinWorkbooks.count(name) != 0);
    const bool addin = asBool(c.value);
    host.setWorkbookIsAddin(name, addin);
    if (addin) {
      excel.addinWorkbooks.insert(name);
      excel.hiddenWorkbooks.insert(name);
    } else {
      excel.addinWorkbooks.erase(name);
    }
    return Variant();
  };
  return o;
}

// Workbooks: Count, and Add (https://learn.microsoft.com/office/vba/api/excel.workbooks.add),
// which opens a new workbook, makes it the active one and returns it. Only the template
// xlWBATWorksheet (one worksheet) is modelled. The new workbook offers its Worksheets, its
// one window (Window.Visible: https://learn.microsoft.com/office/vba/api/excel.window.visible),
// Saved (https://learn.microsoft.com/office/vba/api/excel.workbook.saved) and Close
// (https://learn.microsoft.com/office/vba/api/excel.workbook.close), which leaves another
// workbook's window active as it was.
ComPtr<Object> MemoryExcel::Wrappers::workbooks() {
  auto o = Object::create(L"Workbooks");
  // Application.Workbooks (https://learn.microsoft.com/office/vba/api/excel.application.workbooks):
  // "The collection returned by the Workbooks property doesn't include open add-ins".
  o->members[L"Count"] = [this](Call&) {
    return number(static_cast<double>(host.workbooksCount()));
  };
  o->members[L"Add"] = [this](Call& c) {
    if (intOf(c.arg(0, L"Template")) != -4167) throw Failure{1004};
    const std::u16string name = host.addWorkbook();
    ComPtr<Object> added = book(host.activeWorkbook());
    const ComPtr<Object> first = sheet(host.activeSheet());
    auto sheets = Object::create(L"Sheets");
    sheets->members[L"Item"] = [first](Call& item) {
      if (intOf(item.arg(0, L"Index")) != 1) throw Failure{9};
      return Variant::fromDispatch(first.get());
    };
    added->props[L"Worksheets"] = Variant::fromDispatch(sheets.get());
    auto window = Object::create(L"Window");
    window->members[L"Visible"] = [this, name](Call& v) {
      if (!v.isPut()) return Variant::fromBool(excel.hiddenWorkbooks.count(name) == 0);
      if (asBool(v.value)) {
        excel.hiddenWorkbooks.erase(name);
      } else {
        excel.hiddenWorkbooks.insert(name);
      }
      return Variant();
    };
    auto windows = Object::create(L"Windows");
    windows->members[L"Item"] = [window](Call& item) {
      if (intOf(item.arg(0, L"Index")) != 1) throw Failure{9};
      return Variant::fromDispatch(window.get());
    };
    added->props[L"Windows"] = Variant::fromDispatch(windows.get());
    added->props[L"Saved"] = Variant::fromBool(false);
    added->members[L"Close"] = [this, name](Call&) {
      const WorkbookPtr active = host.activeWorkbook();
      host.closeWorkbook(name);
      if (active && active->name() != name) active->activate();
      excel.hiddenWorkbooks.erase(name);
      excel.addinWorkbooks.erase(name);
      return Variant();
    };
    return Variant::fromDispatch(added.get());
  };
  return o;
}

ComPtr<Object> MemoryExcel::Wrappers::functions() {
  auto o = Object::create(L"WorksheetFunction");
  WorksheetFunction* f = &host.worksheetFunction();
  o->members[L"CountA"] = [f](Call& c) {
    return number(f->countA(**payloadOf<RangePtr>(c.arg(0, L"Arg1"))));
  };
  // COUNTIF as Excel counts (countIfMatches): cell by cell over the range, numbers to 15
  // significant digits; a criterion over 255 characters is refused.
  o->members[L"CountIf"] = [](Call& c) {
    const std::u16string criterion = textOf(c.arg(1, L"Criteria"));
    if (criterion.size() > 255) throw Failure{1004};
    double n = 0;
    for (const RangePtr& area : (*payloadOf<RangePtr>(c.arg(0, L"Range")))->areas()) {
      for (const CellContent& cell : area->readBlock().cells)
        n += countIfMatches(cell.value, criterion) ? 1 : 0;
    }
    return number(n);
  };
  o->members[L"Clean"] = [f](Call& c) { return textVariant(f->clean(textOf(c.arg(0, L"Arg1")))); };
  o->members[L"Trim"] = [f](Call& c) { return textVariant(f->trim(textOf(c.arg(0, L"Arg1")))); };
  return o;
}

ComPtr<Object> MemoryExcel::Wrappers::bars(CommandBarsPtr b) {
  auto o = Object::create(L"CommandBars");
  o->members[L"Item"] = [this, b](Call& c) {
    return Variant::fromDispatch(bar(b->item(textOf(c.arg(0, L"Index")))).get());
  };
  o->members[L"Add"] = [this, b](Call& c) {
    const Variant position = c.arg(1, L"Position");
    return Variant::fromDispatch(
        bar(b->add(textOf(c.arg(0, L"Name")),
                   isOmitted(position) ? xl::kBarTop : static_cast<int32_t>(intOf(position))))
            .get());
  };
  // CommandBars.FindControls(Type, Id, Tag, Visible) gives Nothing when no control fits
  // (https://learn.microsoft.com/office/vba/api/office.commandbars.findcontrols).
  o->members[L"FindControls"] = [this, b](Call& c) {
    const std::vector<CommandBarControlPtr> found = b->findControls(textOf(c.arg(2, L"Tag")));
    if (found.empty()) return Variant::fromDispatch(nullptr);
    auto list = Object::create(L"CommandBarControls");
    list->members[L"Count"] = [found](Call&) {
      return Variant::fromInt(static_cast<int32_t>(found.size()));
    };
    list->members[L"Item"] = [this, found](Call& item) {
      const int64_t index = intOf(item.arg(0, L"Index"));
      if (index < 1 || index > static_cast<int64_t>(found.size())) throw Failure{5};
      return Variant::fromDispatch(control(found[static_cast<std::size_t>(index - 1)]).get());
    };
    return Variant::fromDispatch(list.get());
  };
  return o;
}

ComPtr<Object> MemoryExcel::Wrappers::bar(CommandBarPtr b) {
  auto o = Object::create(L"CommandBar");
  o->members[L"Name"] = [b](Call&) { return textVariant(b->name()); };
  o->members[L"Visible"] = [b](Call& c) {
    if (c.isPut()) {
      b->setVisible(asBool(c.value));
      return Variant();
    }
    return Variant::fromBool(b->visible());
  };
  o->members[L"Controls"] = [this, b](Call&) {
    return Variant::fromDispatch(controls(b->controls()).get());
  };
  o->members[L"Delete"] = [b](Call&) {
    b->remove();
    return Variant();
  };
  return o;
}

ComPtr<Object> MemoryExcel::Wrappers::controls(CommandBarControlsPtr list) {
  auto o = Object::create(L"CommandBarControls");
  o->members[L"Count"] = [list](Call&) { return Variant::fromInt(list->count()); };
  o->members[L"Item"] = [this, list](Call& c) {
    const Variant index = c.arg(0, L"Index");
    CommandBarControlPtr found = index.type() == VT_BSTR
                                     ? list->item(textOf(index))
                                     : list->item(static_cast<int32_t>(intOf(index)));
    return Variant::fromDispatch(control(found).get());
  };
  o->members[L"Add"] = [this, list](Call& c) {
    const Variant type = c.arg(0, L"Type");
    const Variant temporary = c.arg(4, L"Temporary");
    const auto kind = static_cast<ControlType>(isOmitted(type) ? 1 : intOf(type));
    std::optional<bool> temp;
    if (!isOmitted(temporary)) temp = asBool(temporary);
    return Variant::fromDispatch(control(list->add(kind, temp)).get());
  };
  return o;
}

ComPtr<Object> MemoryExcel::Wrappers::control(CommandBarControlPtr ctl) {
  auto o = Object::create(L"CommandBarControl");
  o->payload = std::make_shared<CommandBarControlPtr>(ctl);
  auto& m = o->members;
  auto textProperty = [&m, ctl](const wchar_t* name, std::u16string (CommandBarControl::*get)(),
                                void (CommandBarControl::*set)(const std::u16string&)) {
    m[name] = [ctl, get, set](Call& c) {
      if (c.isPut()) {
        ((*ctl).*set)(textOf(c.value));
        return Variant();
      }
      return textVariant(((*ctl).*get)());
    };
  };
  textProperty(L"Caption", &CommandBarControl::caption, &CommandBarControl::setCaption);
  textProperty(L"Tag", &CommandBarControl::tag, &CommandBarControl::setTag);
  textProperty(L"OnAction", &CommandBarControl::onAction, &CommandBarControl::setOnAction);
  textProperty(L"Parameter", &CommandBarControl::parameter, &CommandBarControl::setParameter);
  textProperty(L"TooltipText", &CommandBarControl::tooltipText, &CommandBarControl::setTooltipText);
  m[L"Type"] = [ctl](Call&) { return Variant::fromInt(static_cast<int32_t>(ctl->type())); };
  m[L"BeginGroup"] = [ctl](Call& c) {
    if (c.isPut()) {
      ctl->setBeginGroup(asBool(c.value));
      return Variant();
    }
    return Variant::fromBool(ctl->beginGroup());
  };
  m[L"Visible"] = [ctl](Call& c) {
    if (c.isPut()) {
      ctl->setVisible(asBool(c.value));
      return Variant();
    }
    return Variant::fromBool(ctl->visible());
  };
  m[L"FaceId"] = [ctl](Call& c) {
    if (c.isPut()) {
      ctl->setFaceId(asInt(c.value));
      return Variant();
    }
    return Variant::fromInt(ctl->faceId());
  };
  m[L"Style"] = [ctl](Call& c) {
    if (c.isPut()) {
      ctl->setStyle(asInt(c.value));
      return Variant();
    }
    return Variant::fromInt(ctl->style());
  };
  m[L"Controls"] = [this, ctl](Call&) {
    return Variant::fromDispatch(controls(ctl->controls()).get());
  };
  m[L"Delete"] = [ctl](Call&) {
    ctl->remove();
    return Variant();
  };
  // Click events: every advised sink becomes a subscription of the host control.
  o->clickEvents = ctl->type() == ControlType::Button;
  auto subscriptions = std::make_shared<std::map<DWORD, std::unique_ptr<EventSubscription>>>();
  o->onAdvise = [this, ctl, subscriptions](DWORD cookie, IDispatch* sink) {
    ComPtr<IDispatch> events(sink);
    (*subscriptions)[cookie] =
        ctl->subscribeClick([this, events](CommandBarControl& clicked, bool& cancelDefault) {
          // The clicked control as the sink sees it, valid while the event runs.
          ComPtr<Object> wrapper =
              control(CommandBarControlPtr(&clicked, [](CommandBarControl*) {}));
          VARIANT_BOOL cancel = cancelDefault ? VARIANT_TRUE : VARIANT_FALSE;
          VARIANT args[2];
          args[1].vt = VT_DISPATCH;
          args[1].pdispVal = static_cast<IDispatch*>(wrapper.get());
          args[0].vt = VT_BOOL | VT_BYREF;
          args[0].pboolVal = &cancel;
          DISPPARAMS params{args, nullptr, 2, 0};
          EXCEPINFO info{};
          events->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, &info,
                         nullptr);
          SysFreeString(info.bstrDescription);
          SysFreeString(info.bstrSource);
          SysFreeString(info.bstrHelpFile);
          cancelDefault = cancel != VARIANT_FALSE;
        });
  };
  o->onUnadvise = [subscriptions](DWORD cookie) { subscriptions->erase(cookie); };
  return o;
}

ComPtr<Object> MemoryExcel::Wrappers::addIn(AddInPtr a) {
  auto o = Object::create(L"AddIn");
  o->members[L"Installed"] = [a](Call& c) {
    if (c.isPut()) {
      a->setInstalled(asBool(c.value));
      return Variant();
    }
    return Variant::fromBool(a->installed());
  };
  return o;
}

MemoryExcel::MemoryExcel(std::shared_ptr<memory::MemoryApplication> host)
    : host_(std::move(host)), wrappers_(new Wrappers{*this, *host_}) {
  application = Object::create(L"Application");
  application->interfaces.push_back(kIidExcelApplication);
  Wrappers* w = wrappers_.get();
  memory::MemoryApplication* h = host_.get();
  auto& m = application->members;
  // Application.SheetChange for every change of cells in the host, Target "the changed
  // range" (https://learn.microsoft.com/office/vba/api/excel.application.sheetchange); a
  // change the host does not place has the sheet's used range as Target. The page names no
  // range for the user's sort or row insertion: the host's own, the sorted area and the
  // inserted entire rows, are what Excel is seen to give, and every moved row is in them
  // or below them.
  application->applicationEvents = true;
  auto watch = std::make_shared<std::unique_ptr<EventSubscription>>();
  Object* app = application.get();
  application->onAdvise = [w, h, watch, app](DWORD, IDispatch*) {
    if (*watch) return;  // one watch of the host raises the event on every sink
    *watch = h->subscribeCellsChanged([w, h, app](const CellsChange& change) {
      if (!w->excel.enableEvents) return;
      ComPtr<Object> sheet;
      ComPtr<Object> target;
      if (const WorksheetPtr active = h->activeSheet()) {
        sheet = w->sheet(active);
        target = w->range(change.areas.empty() ? active->usedRange()
                                               : active->range(formatAddress(change.areas)));
      }
      app->raiseSheetChange(sheet.get(), target.get());
    });
  };
  // Told before the sink goes: the last one ends the watch.
  application->onUnadvise = [watch, app](DWORD) {
    if (app->sinks.size() <= 1) watch->reset();
  };
  m[L"Workbooks"] = [w](Call&) { return Variant::fromDispatch(w->workbooks().get()); };
  // Application.ActiveWindow: the active window of the active workbook, its Index among the
  // workbook's windows (MemoryExcel::activeWindow); Window.Activate makes it the active one
  // again.
  m[L"ActiveWindow"] = [this, h](Call&) {
    const WorkbookPtr book = h->activeWorkbook();
    if (!book) return Variant();
    auto window = Object::create(L"Window");
    const int index = activeWindow;
    window->props[L"Index"] = Variant::fromInt(index);
    window->members[L"Activate"] = [this, book, index](Call&) {
      book->activate();
      activeWindow = index;
      return Variant();
    };
    return Variant::fromDispatch(window.get());
  };
  m[L"ActiveWorkbook"] = [w, h](Call&) {
    return Variant::fromDispatch(w->book(h->activeWorkbook()).get());
  };
  m[L"ActiveSheet"] = [w, h](Call&) {
    return Variant::fromDispatch(w->sheet(h->activeSheet()).get());
  };
  m[L"Selection"] = [w, h](Call&) {
    try {
      return Variant::fromDispatch(w->range(h->selection()).get());
    } catch (const HostError&) {
      // Something that is not cells, such as a shape.
      return Variant::fromDispatch(Object::create(L"Shape").get());
    }
  };
  m[L"Intersect"] = [w, h](Call& c) {
    RangePtr a = *payloadOf<RangePtr>(c.arg(0, L"Arg1"));
    RangePtr b = *payloadOf<RangePtr>(c.arg(1, L"Arg2"));
    RangePtr common = h->intersect(*a, *b);
    return common ? Variant::fromDispatch(w->range(common).get()) : Variant();
  };
  m[L"Range"] = [w, h](Call& c) {
    return Variant::fromDispatch(w->range(h->range(textOf(c.arg(0, L"Cell1")))).get());
  };
  auto functions = w->functions();
  m[L"WorksheetFunction"] = [functions](Call&) { return Variant::fromDispatch(functions.get()); };
  m[L"International"] = [h](Call& c) {
    const HostLocale locale = h->locale();
    switch (intOf(c.arg(0, L"Index"))) {
      case 3:
        return textVariant(std::u16string(1, locale.decimalSeparator));
      // xlThousandsSeparator, "Zero or thousands separator"
      // (https://learn.microsoft.com/dotnet/api/microsoft.office.interop.excel.xlapplicationinternational):
      // empty where numbers have no groups.
      case 4:
        return textVariant(locale.thousandsSeparator == 0
                               ? std::u16string()
                               : std::u16string(1, locale.thousandsSeparator));
      case 17:
        return textVariant(std::u16string(1, locale.dateSeparator));
      // xlCurrencyCode, "Currency symbol"; xlCurrencyBefore, "True if the currency symbol
      // precedes the currency values; False if it follows them".
      case 25:
        return textVariant(locale.currencySymbol);
      case 37:
        return Variant::fromBool(locale.currencyBefore);
      case 32:
        return Variant::fromInt(locale.dateOrder == DateOrder::DayMonthYear   ? 1
                                : locale.dateOrder == DateOrder::YearMonthDay ? 2
                                                                              : 0);
      default:
        throw Failure{5};
    }
  };
  m[L"ScreenUpdating"] = [h](Call& c) {
    if (c.isPut()) h->setScreenUpdating(asBool(c.value));
    return c.isPut() ? Variant() : Variant::fromBool(h->runSettings().screenUpdating);
  };
  // Calculation back to automatic: "Excel controls recalculation" (XlCalculation,
  // https://learn.microsoft.com/office/vba/api/excel.xlcalculation), so the formulas left
  // waiting under manual calculation get their values (those of the active sheet here).
  m[L"Calculation"] = [w, h](Call& c) {
    if (c.isPut()) {
      h->setCalculation(asInt(c.value));
      if (asInt(c.value) != kXlCalculationManual) {
        if (const WorksheetPtr active = h->activeSheet()) w->calculate(active->usedRange());
      }
    }
    return c.isPut() ? Variant() : Variant::fromInt(h->runSettings().calculation);
  };
  m[L"EnableCancelKey"] = [h](Call& c) {
    if (c.isPut()) h->setEnableCancelKey(asInt(c.value));
    return c.isPut() ? Variant() : Variant::fromInt(h->runSettings().enableCancelKey);
  };
  m[L"StatusBar"] = [h](Call& c) {
    if (c.isPut()) h->setStatusBar(c.value.type() == VT_BOOL ? u"" : textOf(c.value));
    return c.isPut() ? Variant() : textVariant(h->runSettings().statusBar);
  };
  // Application.EnableEvents
  // (https://learn.microsoft.com/office/vba/api/excel.application.enableevents): while
  // False, Excel raises no events, the user's Worksheet_Change included.
  m[L"EnableEvents"] = [this](Call& c) {
    if (c.isPut()) enableEvents = asBool(c.value);
    return c.isPut() ? Variant() : Variant::fromBool(enableEvents);
  };
  // Application.OnUndo (https://learn.microsoft.com/office/vba/api/excel.application.onundo):
  // "The procedure must use the OnRepeat and OnUndo methods last". Excel does not say what
  // a later call does; here a later setting of the application gives the Undo entry back
  // to Excel, the stricter reading.
  for (const wchar_t* setting :
       {L"ScreenUpdating", L"Calculation", L"EnableCancelKey", L"StatusBar", L"EnableEvents"}) {
    m[setting] = [h, member = m[setting]](Call& c) {
      if (c.isPut()) h->clearOnUndo();
      return member(c);
    };
  }
  m[L"OnUndo"] = [h](Call& c) {
    h->onUndo(textOf(c.arg(0, L"Text")), textOf(c.arg(1, L"Procedure")));
    return Variant();
  };
  m[L"OnKey"] = [h](Call& c) {
    const Variant procedure = c.arg(1, L"Procedure");
    if (procedure.type() == VT_EMPTY) {
      h->resetKey(textOf(c.arg(0, L"Key")));
    } else {
      h->onKey(textOf(c.arg(0, L"Key")), textOf(procedure));
    }
    return Variant();
  };
  // GetOpenFilename opens nothing: the name the user chose, or False on Cancel
  // (https://learn.microsoft.com/office/vba/api/excel.application.getopenfilename); the
  // in-memory host answers from the session.
  m[L"GetOpenFilename"] = [h](Call& c) {
    const Variant title = c.arg(2, L"Title");
    const std::optional<std::u16string> chosen = h->askOpenFileName(
        textOf(c.arg(0, L"FileFilter")), isOmitted(title) ? u"Open" : textOf(title));
    return chosen ? Variant::fromText(*chosen) : Variant::fromBool(false);
  };
  m[L"CommandBars"] = [w, h](Call&) {
    return Variant::fromDispatch(w->bars(h->commandBars()).get());
  };
  m[L"AddIns"] = [w, h](Call& c) {
    const Variant index = c.arg(0, L"Index");
    if (!isOmitted(index)) return Variant::fromDispatch(w->addIn(h->addIn(textOf(index))).get());
    auto addIns = Object::create(L"AddIns");
    addIns->members[L"Item"] = [w, h](Call& item) {
      return Variant::fromDispatch(w->addIn(h->addIn(textOf(item.arg(0, L"Index")))).get());
    };
    return Variant::fromDispatch(addIns.get());
  };
  // ON.KEY from an XLL changes the host's key assignments as OnKey does.
  xll.onKey = [h](const std::wstring& key, const std::wstring* macro) {
    if (macro) {
      h->onKey(fromWide(key), fromWide(*macro));
    } else {
      h->resetKey(fromWide(key));
    }
  };
  // The library's commands become macros of the host, which runs them through the XLL.
  m[L"RegisterXLL"] = [this, h](Call& c) {
    if (!xll.registerXll(text(c.arg(0, L"Filename")))) return Variant::fromBool(false);
    for (const auto& [name, command] : xll.commands) {
      const std::wstring macro = name;
      h->registerMacro(fromWide(name), [this, macro] { xll.run(macro); });
    }
    return Variant::fromBool(true);
  };

  comAddIn = Object::create(L"COMAddIn");
  comAddIn->props[L"ProgId"] = Variant::fromText(u"Orvik.Connect");
  // The user's Worksheet_Change macro runs for every change of cells while events are on.
  userMacro_ = h->subscribeSheetChange([this] {
    if (enableEvents) ++userMacroRuns;
  });
}

MemoryExcel::~MemoryExcel() = default;

}  // namespace qmv::windows::fake
