// The searching and counting of the in-memory host, as the worksheet functions and the
// range methods of Excel that the add-in calls: COUNTA, COUNTIF with a text criterion,
// CLEAN, TRIM, Range.Find (whole-cell, case-insensitive, by rows after a cell, wrapping
// round) and the unique-records advanced filter in place. Cells compare by their folded
// text through each column's key index.
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/transforms.hpp"
#include "engine/value_rule.hpp"
#include "host/cell_text.hpp"
#include "host/host_error.hpp"
#include "host/text.hpp"
#include "platform/memory/memory_range.hpp"
#include "platform/memory/memory_state.hpp"

namespace qmv::memory::detail {

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
  foldedText(scratch_, text);
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

RangePtr MemoryRange::find(const std::u16string& what, Range& after) {
  enter();
  if (what.empty()) return nullptr;
  std::u16string folded;
  foldedText(folded, what);
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
  std::optional<AreaRef> rows = used
                                    ? commonArea(area, AreaRef{{used->first.row, area.first.column},
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
      std::u16string folded;
      for (int64_t c = area.first.column; c <= area.last.column; ++c) {
        if (!foldedValueText(folded, sheet_->content({r, c}).value, st_->locale)) {
          hasError = true;
          break;
        }
        record += toUtf16(std::to_string(folded.size()));
        record += u':';
        record += folded;
      }
      sheet_->setRowHidden(r, !hasError && !seen.insert(record).second);
    }
  }
  sheet_->filterArea = *rows;
}

std::optional<CellRef> MemoryRange::firstMatch(const AreaRef& area, const KeyText& key,
                                               CellRef from, CellRef to) const {
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

}  // namespace qmv::memory::detail
