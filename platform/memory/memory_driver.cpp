// The driver API of the in-memory host: what tests and `qmv play` sessions do as the user
// or ask of the host around the add-in (open workbooks and sheets, type and set cells,
// fills and formats, hide rows, select, press keys, choose Undo, click controls, run
// macros, change the locale) and what they inspect afterwards (cells, settings, bindings,
// command bars, add-ins, host errors), with fault injection. None of it counts as a host
// call.
#include <algorithm>
#include <stdexcept>

#include "host/address.hpp"
#include "host/cell_text.hpp"
#include "host/text.hpp"
#include "platform/memory/memory_application.hpp"
#include "platform/memory/memory_range.hpp"
#include "platform/memory/memory_state.hpp"

namespace qmv::memory {
namespace detail {
namespace {

class CountingAddInInstance final : public AddInInstance {
 public:
  CountingAddInInstance(std::shared_ptr<HostState> st, std::u16string progId)
      : st_(std::move(st)), progId_(std::move(progId)) {}
  std::u16string progId() override {
    st_->hostCall();
    return progId_;
  }

 private:
  std::shared_ptr<HostState> st_;
  std::u16string progId_;
};

void collectSnapshots(const ControlNode& node, ControlSnapshot& out) {
  out.type = node.type;
  out.caption = node.caption;
  out.tag = node.tag;
  out.onAction = node.onAction;
  out.parameter = node.parameter;
  out.tooltipText = node.tooltipText;
  out.beginGroup = node.beginGroup;
  out.visible = node.visible;
  out.faceId = node.faceId;
  out.style = node.style;
  out.builtIn = node.builtIn;
  out.temporaryArgument = node.temporaryArgument;
  out.subscriptions = static_cast<int>(node.subscribers.size());
  for (const auto& child : node.controls) {
    collectSnapshots(*child, out.controls.emplace_back());
  }
}

BarSnapshot snapshotOf(const BarNode& bar) {
  BarSnapshot out{bar.name, bar.visible, bar.builtIn, bar.position, {}};
  for (const auto& c : bar.controls) collectSnapshots(*c, out.controls.emplace_back());
  return out;
}

}  // namespace
}  // namespace detail

using detail::HostState;

namespace {

std::shared_ptr<detail::Book> newBook(HostState& st, std::u16string name) {
  auto book = std::make_shared<detail::Book>();
  book->name = std::move(name);
  book->sheets.push_back(std::make_shared<detail::Sheet>(u"Sheet1", book, &st.locale));
  return book;
}

std::shared_ptr<detail::Book> findBook(const HostState& st, const std::u16string& name) {
  if (name.empty()) {
    if (!st.activeBook) throw std::logic_error("no workbook is open");
    return st.activeBook;
  }
  for (const auto& b : st.books) {
    if (detail::sameName(b->name, name)) return b;
  }
  throw std::invalid_argument("no such workbook: " + toUtf8(name));
}

std::shared_ptr<detail::Sheet> findSheet(const HostState& st, const SheetName& which) {
  auto book = findBook(st, which.workbook);
  for (const auto& s : book->sheets) {
    if (detail::sameName(s->name, which.sheet)) return s;
  }
  throw std::invalid_argument("no such sheet: " + toUtf8(which.sheet));
}

std::shared_ptr<detail::Sheet> activeSheetOrThrow(const HostState& st) {
  auto sheet = st.activeSheet();
  if (!sheet) throw std::logic_error("no workbook is open");
  return sheet;
}

void checkCell(CellRef cell) {
  if (cell.row < 1 || cell.row > kMaxRows || cell.column < 1 || cell.column > kMaxColumns) {
    throw std::out_of_range("cell outside the sheet");
  }
}

}  // namespace

// ---- Driver API -------------------------------------------------------------------

std::u16string MemoryApplication::addWorkbook(const std::u16string& name) {
  std::u16string bookName = name;
  if (bookName.empty()) {
    bookName = u"Book" + toUtf16(std::to_string(state_->nextBookNumber++));
  }
  for (const auto& b : state_->books) {
    if (detail::sameName(b->name, bookName)) {
      throw std::invalid_argument("workbook name in use: " + toUtf8(bookName));
    }
  }
  auto book = newBook(*state_, bookName);
  state_->books.push_back(book);
  state_->activeBook = book;
  return bookName;
}

void MemoryApplication::addSheet(const std::u16string& name) {
  if (!state_->activeBook) addWorkbook();
  auto& book = *state_->activeBook;
  for (const auto& s : book.sheets) {
    if (detail::sameName(s->name, name)) {
      throw std::invalid_argument("sheet name in use: " + toUtf8(name));
    }
  }
  book.sheets.push_back(std::make_shared<detail::Sheet>(name, state_->activeBook, &state_->locale));
}

void MemoryApplication::activateSheet(const SheetName& sheet) {
  auto s = findSheet(*state_, sheet);
  auto book = s->book.lock();
  for (std::size_t i = 0; i < book->sheets.size(); ++i) {
    if (book->sheets[i] == s) book->activeSheet = i;
  }
  state_->activeBook = book;
}

// Application.Workbooks (https://learn.microsoft.com/office/vba/api/excel.application.workbooks):
// "The collection returned by the Workbooks property doesn't include open add-ins". Closing
// the user's workbooks leaves an add-in workbook open and uncounted, and never active.
void MemoryApplication::closeWorkbooks() {
  for (const auto& b : state_->books) {
    if (!b->addin) detail::markClosed(*b);
  }
  std::erase_if(state_->books, [](const auto& b) { return !b->addin; });
  state_->activeBook.reset();
}

void MemoryApplication::closeWorkbook(const std::u16string& name) {
  auto book = findBook(*state_, name);
  detail::markClosed(*book);
  std::erase(state_->books, book);
  if (state_->activeBook == book) {
    state_->activeBook.reset();
    for (const auto& b : state_->books) {
      if (b->addin) continue;
      state_->activeBook = b;
      break;
    }
  }
}

void MemoryApplication::setWorkbookIsAddin(const std::u16string& name, bool addin) {
  findBook(*state_, name)->addin = addin;
}

std::u16string MemoryApplication::activeWorkbookName() const {
  return state_->activeBook ? state_->activeBook->name : std::u16string();
}

std::u16string MemoryApplication::activeSheetName() const {
  auto sheet = state_->activeSheet();
  return sheet ? sheet->name : std::u16string();
}

void MemoryApplication::setCell(CellRef cell, const CellContent& content) {
  checkCell(cell);
  const auto sheet = activeSheetOrThrow(*state_);
  sheet->setContent(cell, content);
  state_->cellsChanged(*sheet, AreaRef{cell, cell});
}

void MemoryApplication::setCell(const SheetName& sheet, CellRef cell, const CellContent& content) {
  checkCell(cell);
  const auto target = findSheet(*state_, sheet);
  target->setContent(cell, content);
  state_->cellsChanged(*target, AreaRef{cell, cell});
}

void MemoryApplication::setColumn(CellRef top, const std::vector<Value>& values) {
  auto sheet = activeSheetOrThrow(*state_);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const CellRef at{top.row + static_cast<int64_t>(i), top.column};
    checkCell(at);
    sheet->setContent(at, CellContent{values[i], {}});
  }
  if (values.empty()) return;
  state_->cellsChanged(
      *sheet, AreaRef{top, {top.row + static_cast<int64_t>(values.size()) - 1, top.column}});
}

namespace {

// Data > Sort's order of keys: numbers, texts (case aside), logical values, errors; a
// blank key goes last in either direction.
int sortClass(const Value& value) {
  if (std::holds_alternative<double>(value) || std::holds_alternative<DateTime>(value)) return 0;
  if (std::holds_alternative<std::u16string>(value)) return 1;
  if (std::holds_alternative<bool>(value)) return 2;
  if (std::holds_alternative<CellError>(value)) return 3;
  return 4;
}

double sortNumber(const Value& value) {
  if (const auto* d = std::get_if<double>(&value)) return *d;
  if (const auto* date = std::get_if<DateTime>(&value)) return date->serial;
  if (const auto* flag = std::get_if<bool>(&value)) return *flag ? 1 : 0;
  return 0;
}

// True when key `a` sorts before key `b`.
bool sortsBefore(const Value& a, const Value& b, bool ascending) {
  const int ca = sortClass(a);
  const int cb = sortClass(b);
  if (ca == 4 || cb == 4) return ca != 4 && cb == 4;
  if (ca != cb) return ascending ? ca < cb : ca > cb;
  if (ca == 1) {
    const std::u16string fa = foldCase(std::get<std::u16string>(a));
    const std::u16string fb = foldCase(std::get<std::u16string>(b));
    return ascending ? fa < fb : fb < fa;
  }
  return ascending ? sortNumber(a) < sortNumber(b) : sortNumber(b) < sortNumber(a);
}

struct MovedCell {
  CellContent content;
  CellFormats formats;
};

}  // namespace

void MemoryApplication::sortRows(std::u16string_view reference, int64_t keyColumn, bool ascending) {
  const auto areas = parseReference(reference);
  if (!areas || areas->size() != 1 || keyColumn < 1 || keyColumn > areas->front().columns()) {
    throw std::invalid_argument("not one area with that key column: " + toUtf8(reference));
  }
  const AreaRef area = areas->front();
  auto sheet = activeSheetOrThrow(*state_);
  std::vector<std::vector<MovedCell>> rows;
  for (int64_t r = area.first.row; r <= area.last.row; ++r) {
    std::vector<MovedCell>& row = rows.emplace_back();
    for (int64_t c = area.first.column; c <= area.last.column; ++c) {
      row.push_back(MovedCell{sheet->content({r, c}), sheet->formats({r, c})});
    }
  }
  const auto key = static_cast<std::size_t>(keyColumn - 1);
  std::stable_sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) {
    return sortsBefore(a[key].content.value, b[key].content.value, ascending);
  });
  sheet->clearArea(area, true);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (std::size_t j = 0; j < rows[i].size(); ++j) {
      const CellRef at{area.first.row + static_cast<int64_t>(i),
                       area.first.column + static_cast<int64_t>(j)};
      const MovedCell& moved = rows[i][j];
      if (!isEmpty(moved.content.value) || moved.content.isFormula()) {
        sheet->setContent(at, moved.content);
      }
      if (!(moved.formats == CellFormats{})) sheet->setFormats(at, moved.formats);
    }
  }
  state_->cellsChanged(*sheet, area);
}

void MemoryApplication::insertRows(int64_t row, int64_t count) {
  checkCell({row, 1});
  if (count < 1) throw std::invalid_argument("insert at least one row");
  auto sheet = activeSheetOrThrow(*state_);
  if (const std::optional<AreaRef> used = sheet->usedArea(); used && used->last.row >= row) {
    if (used->last.row + count > kMaxRows) throw std::invalid_argument("rows would fall off");
    for (int64_t r = used->last.row; r >= row; --r) {
      for (int64_t c = used->first.column; c <= used->last.column; ++c) {
        const CellContent content = sheet->content({r, c});
        const CellFormats formats = sheet->formats({r, c});
        sheet->clearArea(AreaRef{{r, c}, {r, c}}, true);
        if (!isEmpty(content.value) || content.isFormula()) {
          sheet->setContent({r + count, c}, content);
        }
        if (!(formats == CellFormats{})) sheet->setFormats({r + count, c}, formats);
      }
    }
  }
  state_->cellsChanged(*sheet, AreaRef{{row, 1}, {row + count - 1, kMaxColumns}});
}

void MemoryApplication::typeInto(CellRef cell, std::u16string_view text) {
  checkCell(cell);
  const auto sheet = activeSheetOrThrow(*state_);
  CellFormats formats = sheet->formats(cell);
  const TypedCell typed =
      typeIntoCell(text, state_->locale, state_->currentYear, formats.numberFormat);
  if (!typed.numberFormat.empty()) {
    formats.numberFormat = typed.numberFormat;
    sheet->setFormats(cell, formats);
  }
  setCell(cell, CellContent{typed.value, {}});
  detail::giveDateFormat(*sheet, cell, CellContent{typed.value, {}});
}

CellContent MemoryApplication::cell(CellRef cell) const {
  checkCell(cell);
  return activeSheetOrThrow(*state_)->content(cell);
}

CellContent MemoryApplication::cell(const SheetName& sheet, CellRef cell) const {
  checkCell(cell);
  return findSheet(*state_, sheet)->content(cell);
}

std::vector<Value> MemoryApplication::columnValues(CellRef top, int64_t count) const {
  auto sheet = activeSheetOrThrow(*state_);
  std::vector<Value> out;
  for (int64_t i = 0; i < count; ++i) {
    const CellRef at{top.row + i, top.column};
    checkCell(at);
    out.push_back(sheet->content(at).value);
  }
  return out;
}

void MemoryApplication::setFill(CellRef cell, std::optional<uint32_t> colour) {
  checkCell(cell);
  activeSheetOrThrow(*state_)->setFill(cell, colour);
  state_->undo.reset();  // an action of the undo list, as setFormats
}

void MemoryApplication::setFill(const SheetName& sheet, CellRef cell,
                                std::optional<uint32_t> colour) {
  checkCell(cell);
  findSheet(*state_, sheet)->setFill(cell, colour);
  state_->undo.reset();
}

std::optional<uint32_t> MemoryApplication::fill(CellRef cell) const {
  checkCell(cell);
  return activeSheetOrThrow(*state_)->fill(cell);
}

std::optional<uint32_t> MemoryApplication::fill(const SheetName& sheet, CellRef cell) const {
  checkCell(cell);
  return findSheet(*state_, sheet)->fill(cell);
}

void MemoryApplication::setFormats(CellRef cell, const CellFormats& formats) {
  checkCell(cell);
  activeSheetOrThrow(*state_)->setFormats(cell, formats);
  // Formatting is an action of the host's undo list, like an edit, though it raises no
  // change notice: the procedure OnUndo bound is no longer the last action.
  state_->undo.reset();
}

CellFormats MemoryApplication::formats(CellRef cell) const {
  checkCell(cell);
  return activeSheetOrThrow(*state_)->formats(cell);
}

void MemoryApplication::setRowHidden(int64_t row, bool hidden) {
  checkCell({row, 1});
  activeSheetOrThrow(*state_)->setRowHidden(row, hidden);
}

bool MemoryApplication::rowHidden(int64_t row) const {
  return activeSheetOrThrow(*state_)->rowHidden(row);
}

bool MemoryApplication::filterActive() const {
  return activeSheetOrThrow(*state_)->filterArea.has_value();
}

void MemoryApplication::autoFilter(std::u16string_view reference, int64_t field,
                                   const std::u16string& criterion) {
  const auto areas = parseReference(reference);
  if (!areas || areas->size() != 1 || field < 1 || field > areas->front().columns()) {
    throw std::invalid_argument("not one area with that field: " + toUtf8(reference));
  }
  auto sheet = activeSheetOrThrow(*state_);
  AutoFilterState state{areas->front(), {}, true};
  if (sheet->autoFilter && sheet->autoFilter->range == state.range) state = *sheet->autoFilter;
  std::erase_if(state.filters, [&](const ColumnFilter& f) { return f.field == field; });
  state.filters.push_back(ColumnFilter{field, 0, FilterCriterion{{Value(criterion)}, false}, {}});
  std::sort(state.filters.begin(), state.filters.end(),
            [](const ColumnFilter& a, const ColumnFilter& b) { return a.field < b.field; });
  detail::MemoryWorksheet(state_, sheet).applyAutoFilter(state);
}

std::optional<AutoFilterState> MemoryApplication::autoFilterState() const {
  return activeSheetOrThrow(*state_)->autoFilter;
}

void MemoryApplication::setAutoFilterState(const AutoFilterState& state) {
  activeSheetOrThrow(*state_)->autoFilter = state;
}

std::u16string MemoryApplication::usedRangeAddress() const {
  return formatAddress(activeSheetOrThrow(*state_)->usedArea().value_or(AreaRef{}));
}

void MemoryApplication::select(std::u16string_view reference) {
  auto areas = parseReference(reference);
  if (!areas || areas->empty()) {
    throw std::invalid_argument("not a reference: " + toUtf8(reference));
  }
  auto sheet = activeSheetOrThrow(*state_);
  sheet->selection = std::move(*areas);
  sheet->selectionIsCells = true;
}

void MemoryApplication::selectNonCells() { activeSheetOrThrow(*state_)->selectionIsCells = false; }

std::u16string MemoryApplication::selectionAddress() const {
  auto sheet = state_->activeSheet();
  if (!sheet || !sheet->selectionIsCells) return {};
  return formatAddress(sheet->selection);
}

const RunSettings& MemoryApplication::runSettings() const { return state_->settings; }

const std::vector<std::u16string>& MemoryApplication::settingsLog() const {
  return state_->settingsLog;
}

std::optional<UndoBinding> MemoryApplication::undoBinding() const { return state_->undo; }

std::optional<std::u16string> MemoryApplication::keyBinding(const std::u16string& key) const {
  auto it = state_->keys.find(key);
  if (it == state_->keys.end()) return std::nullopt;
  return it->second;
}

bool MemoryApplication::runMacro(const std::u16string& name) {
  std::function<void()> macro;
  for (const auto& [n, m] : state_->macros) {
    if (detail::sameName(n, name)) macro = m;
  }
  if (!macro) {
    state_->hostErrors.push_back(u"Cannot run the macro '" + name + u"'.");
    return false;
  }
  try {
    macro();
    return true;
  } catch (const std::exception& e) {
    state_->hostErrors.push_back(u"The macro '" + name + u"' failed: " + toUtf16(e.what()));
  } catch (...) {
    state_->hostErrors.push_back(u"The macro '" + name + u"' failed.");
  }
  return false;
}

bool MemoryApplication::pressKey(const std::u16string& key) {
  auto it = state_->keys.find(key);
  if (it == state_->keys.end()) {
    // A key no macro holds does the host's own action: Control+Z chooses its Undo command,
    // which runs the procedure OnUndo bound while that is still the last action.
    return detail::sameName(key, u"^z") && hostUndo();
  }
  if (it->second.empty()) return false;
  const std::u16string macro = it->second;
  return runMacro(macro);
}

bool MemoryApplication::hostUndo() {
  if (!state_->undo || state_->undo->macro.empty()) return false;
  const std::u16string macro = state_->undo->macro;
  return runMacro(macro);
}

const std::vector<std::u16string>& MemoryApplication::hostErrors() const {
  return state_->hostErrors;
}

void MemoryApplication::setLocale(const HostLocale& locale) {
  state_->locale = locale;
  for (const auto& book : state_->books) {
    for (const auto& sheet : book->sheets) sheet->dropIndexes();
  }
}

void MemoryApplication::setCurrentYear(int year) { state_->currentYear = year; }

int MemoryApplication::currentYear() const { return state_->currentYear; }

ClickOutcome MemoryApplication::click(CommandBarControl& control) {
  ClickOutcome outcome;
  auto node = detail::controlNodeOf(control);
  if (!node || node->deleted) return outcome;
  // Office raises Click on every button that shares the clicked button's tag.
  std::vector<detail::Subscriber> subscribers;
  for (const auto& bar : state_->bars) {
    detail::forEachControl(bar->controls, [&](const std::shared_ptr<detail::ControlNode>& c) {
      if (c == node || (!node->tag.empty() && c->tag == node->tag)) {
        subscribers.insert(subscribers.end(), c->subscribers.begin(), c->subscribers.end());
      }
    });
  }
  std::sort(subscribers.begin(), subscribers.end(),
            [](const auto& x, const auto& y) { return x.id < y.id; });
  auto clicked = detail::makeControlHandle(state_, node);
  for (const auto& s : subscribers) {
    ++outcome.handlersCalled;
    try {
      (*s.handler)(*clicked, outcome.cancelDefault);
    } catch (const std::exception& e) {
      state_->hostErrors.push_back(u"The Click handler failed: " + toUtf16(e.what()));
    } catch (...) {
      state_->hostErrors.push_back(u"The Click handler failed.");
    }
  }
  if (!outcome.cancelDefault && !node->onAction.empty()) {
    outcome.onActionRun = node->onAction;
    state_->onActionsRun.push_back(node->onAction);
  }
  return outcome;
}

const std::vector<std::u16string>& MemoryApplication::onActionsRun() const {
  return state_->onActionsRun;
}

std::vector<BarSnapshot> MemoryApplication::bars() const {
  std::vector<BarSnapshot> out;
  for (const auto& b : state_->bars) out.push_back(detail::snapshotOf(*b));
  return out;
}

std::optional<BarSnapshot> MemoryApplication::bar(const std::u16string& name) const {
  for (const auto& b : state_->bars) {
    if (detail::sameName(b->name, name)) return detail::snapshotOf(*b);
  }
  return std::nullopt;
}

int MemoryApplication::barCount(const std::u16string& name) const {
  return static_cast<int>(
      std::count_if(state_->bars.begin(), state_->bars.end(),
                    [&](const auto& b) { return detail::sameName(b->name, name); }));
}

CommandBarControlPtr MemoryApplication::findControlByTag(const std::u16string& tag) const {
  std::shared_ptr<detail::ControlNode> found;
  for (const auto& bar : state_->bars) {
    detail::forEachControl(bar->controls, [&](const std::shared_ptr<detail::ControlNode>& c) {
      if (!found && c->tag == tag) found = c;
    });
  }
  return found ? detail::makeControlHandle(state_, found) : nullptr;
}

int MemoryApplication::subscriptionCount() const {
  int n = 0;
  for (const auto& bar : state_->bars) {
    detail::forEachControl(bar->controls,
                           [&](const auto& c) { n += static_cast<int>(c->subscribers.size()); });
  }
  return n;
}

void MemoryApplication::addAddIn(const std::u16string& name, bool installed) {
  for (const auto& item : state_->addIns) {
    if (detail::sameName(item->name, name)) {
      item->installed = installed;
      return;
    }
  }
  state_->addIns.push_back(std::make_shared<detail::AddInItem>(detail::AddInItem{name, installed}));
}

std::optional<bool> MemoryApplication::addInInstalled(const std::u16string& name) const {
  for (const auto& item : state_->addIns) {
    if (detail::sameName(item->name, name)) return item->installed;
  }
  return std::nullopt;
}

std::shared_ptr<AddInInstance> MemoryApplication::makeAddInInstance(const std::u16string& progId) {
  return std::make_shared<detail::CountingAddInInstance>(state_, progId);
}

void MemoryApplication::armFault(uint64_t n, int32_t number) {
  state_->faultAt = n == 0 ? 0 : state_->calls + n;
  state_->faultNumber = number;
}

void MemoryApplication::disarmFault() { state_->faultAt = 0; }

uint64_t MemoryApplication::hostCallCount() const { return state_->calls; }

}  // namespace qmv::memory
