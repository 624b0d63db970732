// A cell's formats through Excel's properties: its number format, fill and font colour,
// read a column of cells at a time and written part by part.
#include <algorithm>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "host/tolerant.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/excel_parts.hpp"
#include "platform/windows/excel_range_parts.hpp"
#include "platform/windows/variant_value.hpp"

namespace qmv::windows {

namespace {

// XlColorIndex: Interior.ColorIndex reads xlColorIndexNone for a cell without fill (its
// Color then reads white), Font.ColorIndex xlColorIndexAutomatic for the automatic colour
// (https://learn.microsoft.com/office/vba/api/excel.xlcolorindex).
constexpr int32_t kXlColorIndexAutomatic = -4105;
constexpr int32_t kXlColorIndexNone = -4142;

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

}  // namespace

CellFormats readFormats(IDispatch* range, bool oneCell) {
  CellFormats out;
  out.unknown = kOtherFormatsPart;
  for (const FormatPart part : kReadFormatParts) {
    if (oneCell) {
      readCellPart(range, part, out);
    } else if (!readFormatPart(range, part, out)) {
      throw HostError(host_errors::kTypeMismatch, "The formats differ");
    }
  }
  return out;
}

std::vector<CellFormats> readCellFormats(IDispatch* sheet, std::span<const CellRef> cells) {
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
  uint8_t all = 0;
  for (const FormatPart part : kReadFormatParts) all |= part;
  for (std::size_t from = 0; from < order.size();) {
    const int64_t column = cells[order[from]].column;
    sorted.clear();
    std::size_t to = from;
    for (; to < order.size() && cells[order[to]].column == column; ++to) {
      sorted.push_back(AskedCell{cells[order[to]].row, order[to]});
    }
    readSpanFormats(sheet, column, sorted, all, out);
    from = to;
  }
  return out;
}

void writeFormats(IDispatch* range, const CellFormats& formats) {
  if (formats.known(kNumberFormatPart)) put(range, L"NumberFormat", formats.numberFormat);
  if (formats.known(kFillPart)) {
    const ComPtr<IDispatch> interior = requiredObject(get(range, L"Interior"));
    if (formats.fill) {
      put(interior.get(), L"Color", excelColorOfRgb(*formats.fill));
    } else {
      put(interior.get(), L"ColorIndex", kXlColorIndexNone);
    }
  }
  if (formats.known(kFontColorPart)) {
    const ComPtr<IDispatch> font = requiredObject(get(range, L"Font"));
    if (formats.fontColor) {
      put(font.get(), L"Color", excelColorOfRgb(*formats.fontColor));
    } else {
      put(font.get(), L"ColorIndex", kXlColorIndexAutomatic);
    }
  }
}

}  // namespace qmv::windows
