#include "host/address.hpp"

#include <algorithm>

#include "host/ascii.hpp"

namespace qmv {
namespace {

template <class Char>
std::optional<LeadingColumn> leadingLetters(std::basic_string_view<Char> text) {
  LeadingColumn out;
  for (; out.length < text.size(); ++out.length) {
    const char16_t c = asciiLower(static_cast<char16_t>(text[out.length]));
    if (c < u'a' || c > u'z') break;
    if (out.length == 3) return std::nullopt;
    out.column = out.column * 26 + (c - u'a' + 1);
  }
  if (out.column > kMaxColumns) return std::nullopt;
  return out;
}

struct Part {
  std::optional<int64_t> row;
  std::optional<int64_t> column;
};

// Parses "$AB$12", "AB", "12" (one side of a range). Gives no value on anything else.
std::optional<Part> parsePart(std::u16string_view s) {
  Part part;
  std::size_t i = 0;
  if (i < s.size() && s[i] == u'$') ++i;
  const std::optional<LeadingColumn> column = leadingLetters(s.substr(i));
  if (!column) return std::nullopt;
  const std::size_t letters = column->length;
  i += letters;
  if (letters > 0) part.column = column->column;
  if (i < s.size() && s[i] == u'$') {
    if (letters == 0) return std::nullopt;
    ++i;
  }
  int64_t row = 0;
  std::size_t digits = 0;
  while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
    row = row * 10 + (s[i] - u'0');
    if (++digits > 7) return std::nullopt;
    ++i;
  }
  if (i != s.size()) return std::nullopt;
  if (digits > 0) {
    if (row < 1 || row > kMaxRows) return std::nullopt;
    part.row = row;
  }
  if (!part.row && !part.column) return std::nullopt;
  return part;
}

std::u16string trimSpaces(std::u16string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && s[b] == u' ') ++b;
  while (e > b && s[e - 1] == u' ') --e;
  return std::u16string(s.substr(b, e - b));
}

std::u16string decimal(int64_t v) {
  std::u16string out;
  const std::string d = std::to_string(v);
  out.assign(d.begin(), d.end());
  return out;
}

}  // namespace

std::u16string columnLetters(int64_t column) {
  std::u16string out;
  while (column > 0) {
    const int64_t rem = (column - 1) % 26;
    out.insert(out.begin(), static_cast<char16_t>(u'A' + rem));
    column = (column - 1) / 26;
  }
  return out;
}

std::u16string formatAddress(CellRef cell) {
  return u"$" + columnLetters(cell.column) + u"$" + decimal(cell.row);
}

std::u16string formatAddress(const AreaRef& area) {
  if (area.first == area.last) return formatAddress(area.first);
  return formatAddress(area.first) + u":" + formatAddress(area.last);
}

std::u16string formatAddress(const std::vector<AreaRef>& areas) {
  std::u16string out;
  for (const auto& a : areas) {
    if (!out.empty()) out += u',';
    out += formatAddress(a);
  }
  return out;
}

std::optional<std::vector<AreaRef>> parseReference(std::u16string_view text) {
  std::vector<AreaRef> areas;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(u',', start);
    if (comma == std::u16string_view::npos) comma = text.size();
    const std::u16string item = trimSpaces(text.substr(start, comma - start));
    const std::size_t colon = item.find(u':');
    std::optional<Part> a;
    std::optional<Part> b;
    if (colon == std::u16string::npos) {
      a = parsePart(item);
      b = a;
      if (!a || !a->row || !a->column) return std::nullopt;
    } else {
      a = parsePart(std::u16string_view(item).substr(0, colon));
      b = parsePart(std::u16string_view(item).substr(colon + 1));
      if (!a || !b) return std::nullopt;
    }
    AreaRef area;
    if (a->row && a->column && b->row && b->column) {
      area = {{*a->row, *a->column}, {*b->row, *b->column}};
    } else if (!a->row && !b->row && a->column && b->column) {
      area = {{1, *a->column}, {kMaxRows, *b->column}};
    } else if (!a->column && !b->column && a->row && b->row) {
      area = {{*a->row, 1}, {*b->row, kMaxColumns}};
    } else {
      return std::nullopt;
    }
    if (area.first.row > area.last.row) std::swap(area.first.row, area.last.row);
    if (area.first.column > area.last.column) std::swap(area.first.column, area.last.column);
    areas.push_back(area);
    start = comma + 1;
    if (comma == text.size()) break;
  }
  if (areas.empty()) return std::nullopt;
  return areas;
}

std::optional<AreaRef> commonArea(const AreaRef& a, const AreaRef& b) {
  AreaRef r{{std::max(a.first.row, b.first.row), std::max(a.first.column, b.first.column)},
            {std::min(a.last.row, b.last.row), std::min(a.last.column, b.last.column)}};
  if (r.first.row > r.last.row || r.first.column > r.last.column) return std::nullopt;
  return r;
}

std::vector<AreaRef> areaMinus(const AreaRef& a, const AreaRef& b) {
  auto o = commonArea(a, b);
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

std::vector<AreaRef> disjointAreas(const std::vector<AreaRef>& areas) {
  // Pairs are checked one against another: bounded so that a long list stays cheap.
  constexpr std::size_t kChecked = 64;
  if (areas.size() < 2 || areas.size() > kChecked) return areas;
  bool any = false;
  for (std::size_t i = 0; i < areas.size() && !any; ++i) {
    for (std::size_t j = 0; j < i && !any; ++j) any = commonArea(areas[i], areas[j]).has_value();
  }
  if (!any) return areas;
  std::vector<AreaRef> out;
  for (std::size_t i = 0; i < areas.size(); ++i) {
    std::vector<AreaRef> pieces{areas[i]};
    for (std::size_t j = 0; j < i; ++j) {
      std::vector<AreaRef> next;
      for (const auto& p : pieces) {
        auto rest = areaMinus(p, areas[j]);
        next.insert(next.end(), rest.begin(), rest.end());
      }
      pieces = std::move(next);
    }
    out.insert(out.end(), pieces.begin(), pieces.end());
  }
  return out;
}

int64_t cellCount(const std::vector<AreaRef>& areas) {
  int64_t n = 0;
  for (const auto& a : areas) n += a.count();
  return n;
}

std::optional<LeadingColumn> leadingColumnLetters(std::string_view text) {
  return leadingLetters(text);
}

std::optional<LeadingColumn> leadingColumnLetters(std::u16string_view text) {
  return leadingLetters(text);
}

}  // namespace qmv
