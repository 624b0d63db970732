// The cells a value removal clears, kept whole for undo in a workbook of the add-in's own.
#include <memory>
#include <utility>

#include "host/tolerant.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/excel_parts.hpp"
#include "platform/windows/excel_range_parts.hpp"
#include "platform/windows/variant_value.hpp"

namespace qmv::windows {

namespace {

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

}  // namespace

std::unique_ptr<KeptCells> keepCellsAside(IDispatch* area, const AreaRef& where) {
  return std::make_unique<ExcelKeptCells>(requiredObject(get(area, L"Application")).get(), area,
                                          requiredObject(get(area, L"Worksheet")), where);
}

}  // namespace qmv::windows
