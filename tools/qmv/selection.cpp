#include "tools/qmv/selection.hpp"

#include <set>

#include "host/text.hpp"

namespace qmv::cli {
namespace {

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// What a header row holds, for a name not found in it: "; it holds "id", "zip", ...".
std::string headerTexts(const std::vector<std::string>& header) {
  constexpr std::size_t kShown = 6;
  std::string out;
  std::size_t shownCount = 0;
  for (const std::string& text : header) {
    if (text.empty()) continue;
    if (shownCount == kShown) return out + ", ...";
    out += (shownCount++ == 0 ? "; it holds " : ", ") + quoted(text);
  }
  return shownCount == 0 ? "; it is empty" : out;
}

std::optional<int64_t> columnNumber(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const int64_t n = std::stoll(std::string(text));
    if (n < 1 || n > kMaxColumns) return std::nullopt;
    return n;
  }
  if (text.size() > 3 || !std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
      })) {
    return std::nullopt;
  }
  const auto areas = parseReference(toUtf16(std::string(text) + ":" + std::string(text)));
  if (!areas || areas->size() != 1) return std::nullopt;
  return areas->front().first.column;
}

// A letter, a number, or a range of them: B, 2, B:D, 2-4.
std::optional<std::pair<int64_t, int64_t>> columnSpan(const std::string& text) {
  for (const char joint : {':', '-'}) {
    const std::size_t at = text.find(joint);
    if (at == std::string::npos) continue;
    const auto first = columnNumber(std::string_view(text).substr(0, at));
    const auto last = columnNumber(std::string_view(text).substr(at + 1));
    if (!first || !last || *first > *last) return std::nullopt;
    return std::pair{*first, *last};
  }
  const auto one = columnNumber(text);
  if (!one) return std::nullopt;
  return std::pair{*one, *one};
}

}  // namespace

std::optional<int64_t> Selection::singleColumn() const {
  if (all_ || areas_.empty()) return std::nullopt;
  const int64_t column = areas_.front().first.column;
  for (const AreaRef& a : areas_) {
    if (a.columns() != 1 || a.first.column != column) return std::nullopt;
  }
  return column;
}

int64_t Selection::leadingColumnsFrom(int64_t row) const {
  if (all_) return row >= firstRow_ ? kMaxColumns : 0;
  int64_t leading = 0;
  for (bool grew = true; grew;) {
    grew = false;
    for (const AreaRef& a : areas_) {
      // An area that reaches the sheet's last row goes on past it.
      const bool below = row >= a.first.row && a.last.row == kMaxRows;
      if (below && a.first.column <= leading + 1 && a.last.column > leading) {
        leading = a.last.column;
        grew = true;
      }
    }
  }
  return leading;
}

std::vector<int64_t> resolveColumns(const std::vector<ColumnPick>& picks,
                                    const std::vector<std::string>* header, int64_t headerRow,
                                    int64_t lastColumn, const std::vector<std::string>* shown) {
  std::vector<int64_t> included;
  std::set<int64_t> excluded;
  std::set<int64_t> beyond;
  bool anyIncluded = false;
  for (const ColumnPick& pick : picks) {
    std::vector<int64_t> matches;
    for (std::size_t i = 0; header != nullptr && i < header->size(); ++i) {
      const bool displayed =
          shown != nullptr && i < shown->size() && !(*shown)[i].empty() && (*shown)[i] == pick.text;
      if ((*header)[i] == pick.text || displayed) matches.push_back(static_cast<int64_t>(i) + 1);
    }
    if (matches.size() > 1) {
      throw UsageError("-c: " + quoted(pick.text) + " names columns " +
                       toUtf8(columnLetters(matches[0])) + " and " +
                       toUtf8(columnLetters(matches[1])) + "; give the column's letter");
    }
    if (matches.empty()) {
      const auto span = columnSpan(pick.text);
      if (!span) {
        // The header as the user sees it.
        std::vector<std::string> seen = header ? *header : std::vector<std::string>();
        for (std::size_t i = 0; shown != nullptr && i < shown->size() && i < seen.size(); ++i) {
          if (!(*shown)[i].empty()) seen[i] = (*shown)[i];
        }
        throw UsageError("-c: no column is named " + quoted(pick.text) +
                         (header ? " in row " + std::to_string(headerRow) + headerTexts(seen) +
                                       " (--header-row N reads the names from row N)"
                                 : std::string(" (--no-header: give column letters or numbers)")));
      }
      for (int64_t c = span->first; c <= span->second; ++c) {
        matches.push_back(c);
        if (lastColumn > 0 && c > lastColumn) beyond.insert(c);
      }
    }
    if (pick.exclude) {
      excluded.insert(matches.begin(), matches.end());
    } else {
      anyIncluded = true;
      for (const int64_t c : matches) {
        if (std::find(included.begin(), included.end(), c) == included.end()) included.push_back(c);
      }
    }
  }
  if (!anyIncluded) {
    const int64_t last = std::max<int64_t>(lastColumn, excluded.empty() ? 1 : *excluded.rbegin());
    for (int64_t c = 1; c <= last; ++c) included.push_back(c);
  }
  std::erase_if(included, [&](int64_t c) { return excluded.contains(c); });
  // A column the header does not reach is a mistake, as a header name that does not
  // exist is: the run would visit nothing there.
  for (const int64_t c : beyond) {
    if (excluded.contains(c)) continue;
    throw UsageError("-c: column " + toUtf8(columnLetters(c)) + " (" + std::to_string(c) +
                     ") is beyond the last column of the header row, " +
                     toUtf8(columnLetters(lastColumn)) + " (" + std::to_string(lastColumn) +
                     "); give a column up to it (--no-header counts columns without one)");
  }
  if (included.empty()) throw UsageError("-c: the list leaves no column to work on");
  return included;
}

CellSelector::CellSelector(const CellPlan& plan, bool headerAtFirstValue) : plan_(plan) {
  if (plan.range) {
    selection_ = Selection(*plan.range);
    description_ = toUtf8(formatAddress(*plan.range));
    resolved_ = true;
  } else if (!plan.header) {
    if (plan.columns) {
      resolve();
    } else {
      resolved_ = true;
    }
  } else {
    headerRow_ = plan.headerRow.value_or(headerAtFirstValue ? 0 : 1);
  }
}

bool CellSelector::pendingVisits(CellRef ref, std::string_view shown, bool blank) {
  if (ref.row < headerRow_) return false;  // above a --header-row
  if (headerRow_ == 0) {
    if (blank) return false;
    headerRow_ = ref.row;
  }
  if (ref.row == headerRow_) {
    const auto column = static_cast<std::size_t>(ref.column);
    if (header_.size() < column) header_.resize(column);
    header_[column - 1] = shown;
    return false;
  }
  resolve();
  return selection_.contains(ref.row, ref.column);
}

void CellSelector::alsoShows(CellRef ref, std::string displayed) {
  if (resolved_ || ref.row != headerRow_) return;
  const auto column = static_cast<std::size_t>(ref.column);
  if (headerShown_.size() < column) headerShown_.resize(column);
  headerShown_[column - 1] = std::move(displayed);
}

void CellSelector::finish() {
  if (!resolved_) resolve();
}

void CellSelector::resolve() {
  resolved_ = true;
  const int64_t row = plan_.header ? std::max<int64_t>(headerRow_, 1) : 0;
  headerRow_ = row;
  if (!plan_.columns) {
    selection_ = Selection(row + 1);
    return;
  }
  // Without a header, no width is known before the columns are needed.
  const auto lastColumn = static_cast<int64_t>(header_.size());
  const std::vector<int64_t> columns = resolveColumns(
      *plan_.columns, plan_.header ? &header_ : nullptr, row, lastColumn, &headerShown_);
  std::vector<AreaRef> areas;
  for (const int64_t c : columns) areas.push_back(AreaRef{{row + 1, c}, {kMaxRows, c}});
  selection_ = Selection(std::move(areas));
  std::string out;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::string letters = toUtf8(columnLetters(columns[i]));
    // A column as -c named it, with its letter when it was named otherwise.
    std::string name;
    for (const ColumnPick& pick : *plan_.columns) {
      if (!pick.exclude && pick.text.find_first_of(":-") == std::string::npos &&
          resolveColumns({pick}, plan_.header ? &header_ : nullptr, row, 0, &headerShown_)
                  .front() == columns[i]) {
        name = pick.text;
        break;
      }
    }
    if (i > 0) out += ", ";
    if (name.empty() || name == letters) {
      out += letters;
    } else {
      out += name;
      out += " (";
      out += letters;
      out += ')';
    }
  }
  if (row > 0) {
    out += " below row ";
    out += std::to_string(row);
  }
  description_ = std::move(out);
}

}  // namespace qmv::cli
