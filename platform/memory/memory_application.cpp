#include "platform/memory/memory_application.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <unordered_set>

#include "engine/transforms.hpp"
#include "host/address.hpp"
#include "host/cell_text.hpp"
#include "host/host_error.hpp"
#include "host/text.hpp"
#include "platform/memory/memory_state.hpp"

namespace qmv::memory {
namespace detail {
namespace {

/// Largest area read or written cell by cell in one call; beyond it the host refuses.
constexpr int64_t kMaxCellsPerCall = int64_t{1} << 24;

void checkOpen(const Sheet& sheet) {
  if (sheet.bookClosed || sheet.book.expired()) {
    throw HostError(kDisconnected, "The workbook was closed");
  }
}

[[noreturn]] void refuse(const char* what) { throw HostError(host_errors::kRefused, what); }

std::optional<AreaRef> overlap(const AreaRef& a, const AreaRef& b) {
  AreaRef r{{std::max(a.first.row, b.first.row), std::max(a.first.column, b.first.column)},
            {std::min(a.last.row, b.last.row), std::min(a.last.column, b.last.column)}};
  if (r.first.row > r.last.row || r.first.column > r.last.column) return std::nullopt;
  return r;
}

/// The parts of `a` outside `b`: above, left, right, below.
std::vector<AreaRef> subtract(const AreaRef& a, const AreaRef& b) {
  auto o = overlap(a, b);
  if (!o) return {a};
  std::vector<AreaRef> out;
  if (a.first.row < o->first.row) {
    out.push_back({a.first, {o->first.row - 1, a.last.column}});
  }
  if (a.first.column < o->first.column) {
    out.push_back({{o->first.row, a.first.column}, {o->last.row, o->first.column - 1}});
  }
  if (o->last.column < a.last.column) {
    out.push_back({{o->first.row, o->last.column + 1}, {o->last.row, a.last.column}});
  }
  if (o->last.row < a.last.row) {
    out.push_back({{o->last.row + 1, a.first.column}, a.last});
  }
  return out;
}

/// The areas with every cell already covered by an earlier area taken out, so that an
/// enumeration visits each cell once.
std::vector<AreaRef> disjoint(const std::vector<AreaRef>& areas) {
  constexpr std::size_t kChecked = 64;
  if (areas.size() < 2 || areas.size() > kChecked) return areas;
  bool any = false;
  for (std::size_t i = 0; i < areas.size() && !any; ++i) {
    for (std::size_t j = 0; j < i && !any; ++j) any = overlap(areas[i], areas[j]).has_value();
  }
  if (!any) return areas;
  std::vector<AreaRef> out;
  for (std::size_t i = 0; i < areas.size(); ++i) {
    std::vector<AreaRef> pieces{areas[i]};
    for (std::size_t j = 0; j < i; ++j) {
      std::vector<AreaRef> next;
      for (const auto& p : pieces) {
        auto rest = subtract(p, areas[j]);
        next.insert(next.end(), rest.begin(), rest.end());
      }
      pieces = std::move(next);
    }
    out.insert(out.end(), pieces.begin(), pieces.end());
  }
  return out;
}

int64_t totalCount(const std::vector<AreaRef>& areas) {
  int64_t n = 0;
  for (const auto& a : areas) n += a.count();
  return n;
}

class MemoryRange;

class MemoryWorksheet final : public Worksheet {
 public:
  MemoryWorksheet(std::shared_ptr<HostState> st, std::shared_ptr<Sheet> sheet)
      : st_(std::move(st)), sheet_(std::move(sheet)) {}
  std::u16string name() override {
    enter();
    return sheet_->name;
  }
  void activate() override {
    enter();
    auto book = sheet_->book.lock();
    for (std::size_t i = 0; i < book->sheets.size(); ++i) {
      if (book->sheets[i] == sheet_) book->activeSheet = i;
    }
    st_->activeBook = book;
  }
  RangePtr usedRange() override;
  void showAllData() override {
    enter();
    if (!sheet_->filterArea) refuse("ShowAllData method of Worksheet class failed");
    for (int64_t r = sheet_->filterArea->first.row; r <= sheet_->filterArea->last.row; ++r) {
      sheet_->setRowHidden(r, false);
    }
    sheet_->filterArea.reset();
  }
  RangePtr range(std::u16string_view reference) override;

 private:
  void enter() {
    st_->hostCall();
    checkOpen(*sheet_);
  }
  std::shared_ptr<HostState> st_;
  std::shared_ptr<Sheet> sheet_;
};

class MemoryWorkbook final : public Workbook {
 public:
  MemoryWorkbook(std::shared_ptr<HostState> st, std::shared_ptr<Book> book)
      : st_(std::move(st)), book_(std::move(book)) {}
  std::u16string name() override {
    enter();
    return book_->name;
  }
  void activate() override {
    enter();
    st_->activeBook = book_;
  }

 private:
  void enter() {
    st_->hostCall();
    if (!book_->open) throw HostError(kDisconnected, "The workbook was closed");
  }
  std::shared_ptr<HostState> st_;
  std::shared_ptr<Book> book_;
};

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
template <class Pick>
std::vector<AreaRef> matchingAreas(const Sheet& sheet, const std::vector<AreaRef>& areas,
                                   Pick&& pick) {
  std::vector<AreaRef> out;
  const auto used = sheet.usedArea();
  if (!used) return out;
  for (const AreaRef& area : disjoint(areas)) {
    auto clipped = overlap(area, *used);
    if (!clipped) continue;
    std::vector<std::pair<int64_t, const Column*>> cols;
    sheet.forEachColumn(clipped->first.column, clipped->last.column,
                        [&](int64_t c, const Column& col) { cols.emplace_back(c, &col); });
    if (cols.size() == 1) {
      // One column: the matching cells form runs of rows, each one area.
      const auto [c, col] = cols.front();
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

class MemoryRange final : public Range {
 public:
  MemoryRange(std::shared_ptr<HostState> st, std::shared_ptr<Sheet> sheet,
              std::vector<AreaRef> areas)
      : st_(std::move(st)), sheet_(std::move(sheet)), areas_(std::move(areas)) {}

  const std::shared_ptr<Sheet>& sheet() const { return sheet_; }
  const std::vector<AreaRef>& refs() const { return areas_; }

  int64_t count() override {
    enter();
    return totalCount(areas_);
  }
  int64_t rowsCount() override {
    enter();
    return areas_[0].rows();
  }
  int64_t columnsCount() override {
    enter();
    return areas_[0].columns();
  }
  CellRef topLeft() override {
    enter();
    return areas_[0].first;
  }
  RangePtr column(int64_t index) override {
    enter();
    const AreaRef& a = areas_[0];
    const int64_t c = a.first.column + index - 1;
    if (index < 1 || c > kMaxColumns) refuse("Application-defined or object-defined error");
    return make({AreaRef{{a.first.row, c}, {a.last.row, c}}});
  }
  RangePtr cell(int64_t row, int64_t column) override {
    enter();
    const CellRef at{areas_[0].first.row + row - 1, areas_[0].first.column + column - 1};
    if (at.row < 1 || at.row > kMaxRows || at.column < 1 || at.column > kMaxColumns) {
      refuse("Application-defined or object-defined error");
    }
    return make({AreaRef{at, at}});
  }
  std::vector<RangePtr> areas() override {
    enter();
    std::vector<RangePtr> out;
    out.reserve(areas_.size());
    for (const auto& a : areas_) out.push_back(make({a}));
    return out;
  }
  std::vector<AreaRef> areaRefs() override {
    enter();
    return areas_;
  }
  std::u16string address() override {
    enter();
    return formatAddress(areas_);
  }
  WorksheetPtr worksheet() override {
    enter();
    return std::make_shared<MemoryWorksheet>(st_, sheet_);
  }

  Value value() override {
    enter();
    return sheet_->content(areas_[0].first).value;
  }
  void setValue(const Value& value) override {
    enter();
    writeAll(typedContent(value));
  }
  std::u16string formula() override {
    enter();
    return formulaText(sheet_->content(areas_[0].first));
  }
  void setFormula(std::u16string_view formula) override {
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
  void setContent(const CellContent& content) override {
    enter();
    if (const auto* d = std::get_if<double>(&content.value); d && !std::isfinite(*d)) {
      refuse("The value is not a number");
    }
    writeAll(content);
  }
  CellBlock readBlock() override {
    enter();
    CellBlock block;
    fillBlock(block);
    return block;
  }
  void readBlockInto(CellBlock& block) override {
    enter();
    fillBlock(block);
  }

  RangePtr specialCells(int32_t type) override {
    enter();
    std::vector<AreaRef> found;
    if (type == xl::kCellTypeConstants) {
      found = matchingAreas(*sheet_, areas_, [](const Cell& c) {
        return !(c.flags & kHasFormula) && c.value.index() != 0;
      });
    } else if (type == kCellTypeFormulas) {
      found = matchingAreas(*sheet_, areas_,
                            [](const Cell& c) { return (c.flags & kHasFormula) != 0; });
    } else if (type == xl::kCellTypeVisible) {
      found = visibleAreas();
    } else {
      refuse("SpecialCells of this type is not available");
    }
    if (found.empty()) refuse("No cells were found.");
    return make(std::move(found));
  }
  void clear() override {
    enter();
    for (const auto& a : areas_) sheet_->clearArea(a, true);
    st_->cellsChanged();
  }
  CellFormats formats() override {
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
  void setFormats(const CellFormats& formats) override {
    enter();
    for (const auto& a : areas_) {
      for (int64_t r = a.first.row; r <= a.last.row; ++r) {
        for (int64_t c = a.first.column; c <= a.last.column; ++c)
          sheet_->setFormats({r, c}, formats);
      }
    }
  }
  void setCellValue(int64_t row, int64_t column, const Value& value) override {
    enter();
    const CellRef at{areas_[0].first.row + row - 1, areas_[0].first.column + column - 1};
    if (at.row < 1 || at.row > kMaxRows || at.column < 1 || at.column > kMaxColumns) {
      refuse("Application-defined or object-defined error");
    }
    if (const auto* text = std::get_if<std::u16string>(&value);
        text != nullptr && readsAsItself(*text, st_->locale)) {
      // The text is stored as it stands, straight from the caller's value.
      if (text->size() > kMaxCellChars) refuse("A cell holds at most 32,767 characters");
      sheet_->setConstant(at, value);
      st_->cellsChanged();
      return;
    }
    const CellContent content = typedContent(value);
    checkLength(content);
    sheet_->setContent(at, content);
    st_->cellsChanged();
  }
  RangePtr find(const std::u16string& what, Range& after) override;
  void advancedFilterUniqueInPlace() override;
  bool entireRowHidden() override {
    enter();
    return sheet_->rowHidden(areas_[0].first.row);
  }
  void setEntireRowHidden(bool hidden) override {
    enter();
    for (const auto& a : areas_) {
      for (int64_t r = a.first.row; r <= a.last.row; ++r) sheet_->setRowHidden(r, hidden);
    }
  }

  RangePtr make(std::vector<AreaRef> areas) const {
    return std::make_shared<MemoryRange>(st_, sheet_, std::move(areas));
  }

 private:
  static constexpr int32_t kCellTypeFormulas = -4123;

  void enter() {
    st_->hostCall();
    checkOpen(*sheet_);
  }

  /// A value assigned as the user would type it.
  CellContent typedContent(const Value& value) const {
    CellContent content;
    if (const auto* text = std::get_if<std::u16string>(&value)) {
      content.value = parseTypedInput(*text, st_->locale, st_->currentYear);
    } else if (const auto* d = std::get_if<double>(&value); d && !std::isfinite(*d)) {
      refuse("The value is not a number");
    } else {
      content.value = value;
    }
    return content;
  }

  static void checkLength(const CellContent& content) {
    const auto* text = std::get_if<std::u16string>(&content.value);
    if ((text && text->size() > kMaxCellChars) || content.formula.size() > kMaxCellChars) {
      refuse("A cell holds at most 32,767 characters");
    }
  }

  /// The values and formulas of the first area into `block`; the strings it holds keep
  /// their storage wherever a text replaces a text.
  void fillBlock(CellBlock& block) const {
    const AreaRef& a = areas_[0];
    if (a.count() > kMaxCellsPerCall) refuse("Not enough memory to read the area");
    block.area = a;
    block.cells.resize(static_cast<std::size_t>(a.count()));
    if (a.columns() == 1) {
      const Column* col = sheet_->column(a.first.column);
      for (int64_t r = a.first.row; r <= a.last.row; ++r) {
        CellContent& out = block.cells[static_cast<std::size_t>(r - a.first.row)];
        const Cell* c = col ? col->at(r) : nullptr;
        if (c && Column::isLive(*c)) {
          col->contentInto(r, out);
        } else {
          out.value = Value{};
          out.formula.clear();
        }
      }
      return;
    }
    for (CellContent& out : block.cells) {
      out.value = Value{};
      out.formula.clear();
    }
    sheet_->forEachColumn(a.first.column, a.last.column, [&](int64_t c, const Column& col) {
      col.forEachLive(a.first.row, a.last.row, [&](int64_t r, const Cell&) {
        col.contentInto(r, block.cells[static_cast<std::size_t>((r - a.first.row) * a.columns() +
                                                                c - a.first.column)]);
      });
    });
  }

  /// The cells of rows that are not hidden, as row blocks of each area.
  std::vector<AreaRef> visibleAreas() const {
    std::vector<AreaRef> out;
    for (const AreaRef& a : disjoint(areas_)) {
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

  void writeAll(const CellContent& content) {
    checkLength(content);
    if (content.value.index() == 0 && !content.isFormula()) {
      for (const auto& a : areas_) sheet_->clearArea(a, false);
      st_->cellsChanged();
      return;
    }
    if (totalCount(areas_) > kMaxCellsPerCall) refuse("Not enough memory to write the range");
    for (const auto& a : areas_) {
      for (int64_t r = a.first.row; r <= a.last.row; ++r) {
        for (int64_t c = a.first.column; c <= a.last.column; ++c) {
          sheet_->setContent({r, c}, content);
        }
      }
    }
    st_->cellsChanged();
  }

  /// First cell in `area` between `from` and `to` (row-major, inclusive) whose folded
  /// text is `key`.
  std::optional<CellRef> firstMatch(const AreaRef& area, const KeyText& key, CellRef from,
                                    CellRef to) const {
    std::optional<CellRef> best;
    sheet_->forEachColumn(area.first.column, area.last.column, [&](int64_t c, const Column& col) {
      const int64_t r1 = c >= from.column ? from.row : from.row + 1;
      const int64_t r2 = c <= to.column ? to.row : to.row - 1;
      if (r1 > r2) return;
      auto r = col.firstKeyRow(key, r1, r2, st_->locale);
      if (r && (!best || *r < best->row)) best = CellRef{*r, c};
    });
    return best;
  }

  std::shared_ptr<HostState> st_;
  std::shared_ptr<Sheet> sheet_;
  std::vector<AreaRef> areas_;
};

RangePtr MemoryRange::find(const std::u16string& what, Range& after) {
  enter();
  if (what.empty()) return nullptr;
  const std::u16string folded = foldCase(what);
  const KeyText key = keyText(folded);
  std::optional<CellRef> start;
  if (auto* a = dynamic_cast<MemoryRange*>(&after); a && a->sheet_ == sheet_) {
    start = a->areas_[0].first;
  }
  std::size_t idx = areas_.size();
  if (start) {
    for (std::size_t i = 0; i < areas_.size(); ++i) {
      if (areas_[i].contains(*start)) {
        idx = i;
        break;
      }
    }
  }
  auto whole = [&](std::size_t i) {
    return firstMatch(areas_[i], key, areas_[i].first, areas_[i].last);
  };
  auto found = [&](CellRef c) { return make({AreaRef{c, c}}); };
  if (idx == areas_.size()) {
    for (std::size_t i = 0; i < areas_.size(); ++i) {
      if (auto c = whole(i)) return found(*c);
    }
    return nullptr;
  }
  const AreaRef& home = areas_[idx];
  CellRef next = *start;
  if (next.column < home.last.column) {
    ++next.column;
  } else {
    ++next.row;
    next.column = home.first.column;
  }
  if (next.row <= home.last.row) {
    if (auto c = firstMatch(home, key, next, home.last)) return found(*c);
  }
  for (std::size_t i = idx + 1; i < areas_.size(); ++i) {
    if (auto c = whole(i)) return found(*c);
  }
  for (std::size_t i = 0; i < idx; ++i) {
    if (auto c = whole(i)) return found(*c);
  }
  if (auto c = firstMatch(home, key, home.first, *start)) return found(*c);
  return nullptr;
}

void MemoryRange::advancedFilterUniqueInPlace() {
  enter();
  const AreaRef& area = areas_[0];
  const auto used = sheet_->usedArea();
  std::optional<AreaRef> rows = used ? overlap(area, AreaRef{{used->first.row, area.first.column},
                                                             {used->last.row, area.last.column}})
                                     : std::nullopt;
  if (!rows) {
    sheet_->filterArea = area;
    return;
  }
  // Every row is a record; the first row is data like any other.
  if (area.columns() == 1) {
    const Column* col = sheet_->column(area.first.column);
    // Keys are small numbers: a flag per key tells which were seen.
    std::vector<uint32_t> keys(static_cast<std::size_t>(rows->rows()), 0);
    const std::size_t limit =
        col ? col->keysOf(rows->first.row, rows->last.row, st_->locale, keys) : 1;
    std::vector<bool> seen(limit, false);
    for (int64_t r = rows->first.row; r <= rows->last.row; ++r) {
      const Cell* c = col ? col->at(r) : nullptr;
      bool repeat = false;
      if (!c || !std::holds_alternative<CellError>(c->value)) {
        const uint32_t key = keys[static_cast<std::size_t>(r - rows->first.row)];
        repeat = seen[key];
        seen[key] = true;
      }
      sheet_->setRowHidden(r, repeat);
    }
  } else {
    std::unordered_set<std::u16string> seen;
    for (int64_t r = rows->first.row; r <= rows->last.row; ++r) {
      std::u16string record;
      bool hasError = false;
      for (int64_t c = area.first.column; c <= area.last.column; ++c) {
        const auto text = cellText(sheet_->content({r, c}).value, st_->locale);
        if (!text) {
          hasError = true;
          break;
        }
        const std::u16string folded = foldCase(*text);
        record += toUtf16(std::to_string(folded.size()));
        record += u':';
        record += folded;
      }
      sheet_->setRowHidden(r, !hasError && !seen.insert(record).second);
    }
  }
  sheet_->filterArea = *rows;
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

MemoryRange& asMemoryRange(Range& range) {
  auto* r = dynamic_cast<MemoryRange*>(&range);
  if (!r) throw HostError(host_errors::kObjectRequired, "Object required");
  checkOpen(*r->sheet());
  return *r;
}

class MemoryAddIn final : public AddIn {
 public:
  MemoryAddIn(std::shared_ptr<HostState> st, std::shared_ptr<AddInItem> item)
      : st_(std::move(st)), item_(std::move(item)) {}
  bool installed() override {
    st_->hostCall();
    return item_->installed;
  }
  void setInstalled(bool installed) override {
    st_->hostCall();
    item_->installed = installed;
  }

 private:
  std::shared_ptr<HostState> st_;
  std::shared_ptr<AddInItem> item_;
};

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

std::u16string boolText(bool b) { return b ? u"True" : u"False"; }

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

int yearNow() {
  const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
  return static_cast<int>(std::chrono::year_month_day{today}.year());
}

}  // namespace

double MemoryWorksheetFunction::countA(Range& range) {
  st_->hostCall();
  MemoryRange& r = asMemoryRange(range);
  int64_t n = 0;
  for (const auto& a : r.refs()) {
    r.sheet()->forEachColumn(a.first.column, a.last.column, [&](int64_t, const Column& col) {
      n += col.countNonEmpty(a.first.row, a.last.row);
    });
  }
  return static_cast<double>(n);
}

double MemoryWorksheetFunction::countIf(Range& range, const std::u16string& text) {
  st_->hostCall();
  MemoryRange& r = asMemoryRange(range);
  int64_t n = 0;
  if (text.empty()) {
    // The empty criterion counts blank cells and cells showing the empty text.
    for (const auto& a : r.refs()) {
      int64_t filled = 0;
      r.sheet()->forEachColumn(a.first.column, a.last.column, [&](int64_t, const Column& col) {
        col.forEachLive(a.first.row, a.last.row, [&](int64_t, const Cell& c) {
          const auto* s = std::get_if<std::u16string>(&c.value);
          const bool blank =
              (c.value.index() == 0 && !(c.flags & kHasFormula)) || (s && s->empty());
          if (!blank) ++filled;
        });
      });
      n += a.count() - filled;
    }
    return static_cast<double>(n);
  }
  foldInto(scratch_, text);
  for (const auto& a : r.refs()) {
    r.sheet()->forEachColumn(a.first.column, a.last.column, [&](int64_t, const Column& col) {
      n += col.countKey(scratch_, a.first.row, a.last.row, st_->locale);
    });
  }
  return static_cast<double>(n);
}

// CLEAN removes the characters of codes 0 to 31 ("CLEAN function", support.microsoft.com);
// TRIM removes the ASCII space (32) at both ends and reduces inner runs of it to one, and
// leaves the non-breaking space (160) alone ("WorksheetFunction.Trim Method (Excel)",
// learn.microsoft.com). The engine computes the same rules without a host.
std::u16string MemoryWorksheetFunction::clean(const std::u16string& text) {
  st_->hostCall();
  return removeNonPrintable(text);
}

std::u16string MemoryWorksheetFunction::trim(const std::u16string& text) {
  st_->hostCall();
  return trimExcessSpaces(text);
}

void HostState::cellsChanged() {
  // Excel drops the procedure bound by OnUndo at the next change of cells, whoever makes it.
  undo.reset();
  if (cellWatchers.empty()) return;
  // A copy, so that a subscriber may end its own or another subscription.
  const auto watchers = cellWatchers;
  for (const auto& [id, handler] : watchers) {
    try {
      (*handler)();
    } catch (const std::exception& e) {
      hostErrors.push_back(u"The SheetChange handler failed: " + toUtf16(e.what()));
    } catch (...) {
      hostErrors.push_back(u"The SheetChange handler failed.");
    }
  }
}

}  // namespace detail

using detail::HostState;
using detail::MemoryRange;

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

void logSetting(HostState& st, std::u16string_view name, std::u16string_view value) {
  std::u16string entry(name);
  entry += u'=';
  entry += value;
  st.settingsLog.push_back(std::move(entry));
}

}  // namespace

MemoryApplication::MemoryApplication()
    : state_(std::make_shared<HostState>()),
      functions_(std::make_unique<detail::MemoryWorksheetFunction>(state_)) {
  state_->currentYear = detail::yearNow();
  detail::addBuiltInBars(*state_);
}

MemoryApplication::~MemoryApplication() {
  // Handlers and macros may hold handles of this host; dropping them breaks the cycles.
  for (const auto& bar : state_->bars) {
    detail::forEachControl(bar->controls, [](const auto& c) { c->subscribers.clear(); });
  }
  state_->macros.clear();
}

int64_t MemoryApplication::workbooksCount() {
  state_->hostCall();
  return static_cast<int64_t>(state_->books.size());
}

WorkbookPtr MemoryApplication::activeWorkbook() {
  state_->hostCall();
  if (!state_->activeBook) return nullptr;
  return std::make_shared<detail::MemoryWorkbook>(state_, state_->activeBook);
}

WorksheetPtr MemoryApplication::activeSheet() {
  state_->hostCall();
  auto sheet = state_->activeSheet();
  if (!sheet) return nullptr;
  return std::make_shared<detail::MemoryWorksheet>(state_, sheet);
}

RangePtr MemoryApplication::selection() {
  state_->hostCall();
  auto sheet = state_->activeSheet();
  if (!sheet) throw HostError(host_errors::kObjectNotSet, "Object variable not set");
  if (!sheet->selectionIsCells) throw HostError(host_errors::kTypeMismatch, "Type mismatch");
  return std::make_shared<MemoryRange>(state_, sheet, sheet->selection);
}

RangePtr MemoryApplication::intersect(Range& a, Range& b) {
  state_->hostCall();
  MemoryRange& ra = detail::asMemoryRange(a);
  MemoryRange& rb = detail::asMemoryRange(b);
  if (ra.sheet() != rb.sheet()) {
    throw HostError(host_errors::kRefused, "Method 'Intersect' of object '_Application' failed");
  }
  std::vector<AreaRef> out;
  for (const auto& x : detail::disjoint(ra.refs())) {
    for (const auto& y : rb.refs()) {
      if (auto o = detail::overlap(x, y)) out.push_back(*o);
    }
  }
  if (out.empty()) return nullptr;
  return ra.make(std::move(out));
}

RangePtr MemoryApplication::range(std::u16string_view reference) {
  state_->hostCall();
  auto sheet = state_->activeSheet();
  if (!sheet) throw HostError(host_errors::kRefused, "Method 'Range' of object '_Global' failed");
  auto areas = parseReference(reference);
  if (!areas || areas->empty()) {
    throw HostError(host_errors::kRefused, "Method 'Range' of object '_Global' failed");
  }
  return std::make_shared<MemoryRange>(state_, sheet, std::move(*areas));
}

WorksheetFunction& MemoryApplication::worksheetFunction() {
  state_->hostCall();
  return *functions_;
}

HostLocale MemoryApplication::locale() {
  state_->hostCall();
  return state_->locale;
}

void MemoryApplication::setScreenUpdating(bool on) {
  state_->hostCall();
  state_->settings.screenUpdating = on;
  logSetting(*state_, u"ScreenUpdating", detail::boolText(on));
}

void MemoryApplication::setCalculation(int32_t mode) {
  state_->hostCall();
  if (mode != xl::kCalculationManual && mode != xl::kCalculationAutomatic && mode != 2) {
    throw HostError(host_errors::kRefused, "Unable to set the Calculation property");
  }
  state_->settings.calculation = mode;
  logSetting(*state_, u"Calculation", toUtf16(std::to_string(mode)));
}

void MemoryApplication::setEnableCancelKey(int32_t mode) {
  state_->hostCall();
  if (mode < 0 || mode > 2) throw HostError(host_errors::kInvalidCall, "Invalid argument");
  state_->settings.enableCancelKey = mode;
  logSetting(*state_, u"EnableCancelKey", toUtf16(std::to_string(mode)));
}

void MemoryApplication::setStatusBar(const std::u16string& text) {
  state_->hostCall();
  state_->settings.statusBar = text;
  logSetting(*state_, u"StatusBar", text);
}

void MemoryApplication::onUndo(const std::u16string& text, const std::u16string& macro) {
  state_->hostCall();
  state_->undo = UndoBinding{text, macro};
}

void MemoryApplication::clearOnUndo() {
  state_->hostCall();
  state_->undo.reset();
}

void MemoryApplication::onKey(const std::u16string& key, const std::u16string& macro) {
  state_->hostCall();
  if (key.empty()) throw HostError(host_errors::kRefused, "Method 'OnKey' failed");
  state_->keys[key] = macro;
}

void MemoryApplication::resetKey(const std::u16string& key) {
  state_->hostCall();
  if (key.empty()) throw HostError(host_errors::kRefused, "Method 'OnKey' failed");
  state_->keys.erase(key);
}

namespace {

class CellWatch final : public EventSubscription {
 public:
  CellWatch(std::weak_ptr<HostState> state, uint64_t id) : state_(std::move(state)), id_(id) {}
  ~CellWatch() override {
    if (auto state = state_.lock()) {
      std::erase_if(state->cellWatchers, [&](const auto& w) { return w.first == id_; });
    }
  }

 private:
  std::weak_ptr<HostState> state_;
  uint64_t id_;
};

}  // namespace

std::unique_ptr<EventSubscription> MemoryApplication::subscribeSheetChange(
    CellsChangedHandler handler) {
  state_->hostCall();
  const uint64_t id = state_->nextCellWatcher++;
  state_->cellWatchers.emplace_back(id, std::make_shared<CellsChangedHandler>(std::move(handler)));
  return std::make_unique<CellWatch>(state_, id);
}

bool MemoryApplication::registerMacro(const std::u16string& name, std::function<void()> macro) {
  state_->hostCall();
  for (auto& [n, m] : state_->macros) {
    if (detail::sameName(n, name)) {
      m = std::move(macro);
      return true;
    }
  }
  state_->macros.emplace_back(name, std::move(macro));
  return true;
}

CommandBarsPtr MemoryApplication::commandBars() {
  state_->hostCall();
  return detail::makeCommandBars(state_);
}

AddInPtr MemoryApplication::addIn(const std::u16string& name) {
  state_->hostCall();
  for (const auto& item : state_->addIns) {
    if (detail::sameName(item->name, name)) {
      return std::make_shared<detail::MemoryAddIn>(state_, item);
    }
  }
  throw HostError(host_errors::kRefused, "Unable to get the Item property of the AddIns class");
}

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

void MemoryApplication::closeWorkbooks() {
  for (const auto& b : state_->books) detail::markClosed(*b);
  state_->books.clear();
  state_->activeBook.reset();
}

void MemoryApplication::closeWorkbook(const std::u16string& name) {
  auto book = findBook(*state_, name);
  detail::markClosed(*book);
  std::erase(state_->books, book);
  if (state_->activeBook == book) {
    state_->activeBook = state_->books.empty() ? nullptr : state_->books.front();
  }
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
  activeSheetOrThrow(*state_)->setContent(cell, content);
  state_->cellsChanged();
}

void MemoryApplication::setCell(const SheetName& sheet, CellRef cell, const CellContent& content) {
  checkCell(cell);
  findSheet(*state_, sheet)->setContent(cell, content);
  state_->cellsChanged();
}

void MemoryApplication::setColumn(CellRef top, const std::vector<Value>& values) {
  auto sheet = activeSheetOrThrow(*state_);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const CellRef at{top.row + static_cast<int64_t>(i), top.column};
    checkCell(at);
    sheet->setContent(at, CellContent{values[i], {}});
  }
  state_->cellsChanged();
}

void MemoryApplication::typeInto(CellRef cell, std::u16string_view text) {
  setCell(cell, CellContent{parseTypedInput(text, state_->locale, state_->currentYear), {}});
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
}

void MemoryApplication::setFill(const SheetName& sheet, CellRef cell,
                                std::optional<uint32_t> colour) {
  checkCell(cell);
  findSheet(*state_, sheet)->setFill(cell, colour);
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
  if (it == state_->keys.end() || it->second.empty()) return false;
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
