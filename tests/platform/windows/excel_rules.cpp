#include "excel_rules.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fake_excel.hpp"
#include "host/cell_text.hpp"
#include "platform/windows/variant_value.hpp"

namespace qmv::windows::fake {

namespace {

// Typed input and formula notation follow the en-US conventions in the fakes.
constexpr int kYear = 2026;

bool isNumeric(const Value& v) {
  return std::holds_alternative<double>(v) || std::holds_alternative<DateTime>(v);
}

double numberOf(const Value& v) {
  if (const auto* d = std::get_if<double>(&v)) return *d;
  return std::get<DateTime>(v).serial;
}

// One element of a wildcard pattern: a literal unit, "?" or "*".
struct Token {
  enum Kind { Literal, One, Any } kind;
  char16_t unit;
};

std::vector<Token> tokensOf(std::u16string_view pattern) {
  std::vector<Token> out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char16_t c = pattern[i];
    if (c == u'~' && i + 1 < pattern.size()) {
      out.push_back({Token::Literal, foldCase(pattern[++i])});
    } else if (c == u'?') {
      out.push_back({Token::One, 0});
    } else if (c == u'*') {
      out.push_back({Token::Any, 0});
    } else {
      out.push_back({Token::Literal, foldCase(c)});
    }
  }
  return out;
}

// Whole-text wildcard match, letter case ignored (greedy with one backtrack point).
bool wildcardMatch(std::u16string_view pattern, std::u16string_view text) {
  const std::vector<Token> tokens = tokensOf(pattern);
  std::size_t t = 0, s = 0, star = std::u16string_view::npos, mark = 0;
  while (s < text.size()) {
    if (t < tokens.size() && tokens[t].kind == Token::Any) {
      star = t++;
      mark = s;
    } else if (t < tokens.size() &&
               (tokens[t].kind == Token::One || tokens[t].unit == foldCase(text[s]))) {
      ++t;
      ++s;
    } else if (star != std::u16string_view::npos) {
      t = star + 1;
      s = ++mark;
    } else {
      return false;
    }
  }
  while (t < tokens.size() && tokens[t].kind == Token::Any) ++t;
  return t == tokens.size();
}

}  // namespace

std::optional<CellContent> typedEntry(std::u16string_view text) {
  CellContent content;
  if (text.empty()) return content;
  const char16_t first = text.front();
  if (first == u'\'') {
    content.value = std::u16string(text.substr(1));
    return content;
  }
  if (first == u'=') {
    if (text.size() == 1) return std::nullopt;  // an incomplete formula is refused
    content.formula = std::u16string(text);
    content.value = CellError::Name;
    return content;
  }
  const Value typed = parseTypedInput(text, HostLocale{}, kYear);
  if ((first == u'+' || first == u'-' || first == u'@') &&
      std::holds_alternative<std::u16string>(typed)) {
    if (text.size() == 1) return std::nullopt;
    content.formula = u"=" + std::u16string(text);
    content.value = CellError::Name;
    return content;
  }
  content.value = typed;
  return content;
}

std::optional<CellContent> typedEntry(std::u16string_view text, std::u16string_view numberFormat) {
  if (isTextFormat(numberFormat) && !text.empty() && text.front() != u'\'' &&
      text.front() != u'=') {
    CellContent content;
    content.value = std::u16string(text);
    return content;
  }
  return typedEntry(text);
}

namespace {

bool isDateOrTimeFormat(std::u16string_view numberFormat) {
  if (isTextFormat(numberFormat)) return false;
  bool quoted = false;
  for (char16_t c : numberFormat) {
    if (c == u'"') quoted = !quoted;
    const char16_t l = foldCase(c);
    if (!quoted && (l == u'd' || l == u'm' || l == u'y' || l == u'h' || l == u's')) return true;
  }
  return false;
}

constexpr std::u16string_view kShortDate = u"m/d/yyyy";

}  // namespace

std::u16string formatAfterAssignment(const Variant& assigned, const CellContent& stored,
                                     std::u16string_view numberFormat) {
  const bool date = std::holds_alternative<DateTime>(stored.value) && !stored.isFormula();
  if (date && !isDateOrTimeFormat(numberFormat)) return std::u16string(kShortDate);
  if (assigned.type() == VT_BSTR && !stored.isFormula()) {
    const std::u16string typed = fromWide(text(assigned));
    const TypedCell typing = typeIntoCell(typed, HostLocale{}, kYear, numberFormat);
    if (!typing.numberFormat.empty() && typing.value == stored.value) return typing.numberFormat;
  }
  return std::u16string(numberFormat);
}

ArrayAssignment::ArrayAssignment(const Variant& array, const AreaRef& area) {
  const VARIANT& raw = array.get();
  SAFEARRAY* data = (raw.vt & VT_BYREF) ? *raw.pparray : raw.parray;
  if (!data || SafeArrayGetDim(data) != 2) throw Failure{13};
  LONG rowLow = 0, rowHigh = -1, colLow = 0, colHigh = -1;
  SafeArrayGetLBound(data, 1, &rowLow);
  SafeArrayGetUBound(data, 1, &rowHigh);
  SafeArrayGetLBound(data, 2, &colLow);
  SafeArrayGetUBound(data, 2, &colHigh);
  rows_ = std::min<int64_t>(rowHigh - rowLow + 1, area.rows());
  columns_ = std::min<int64_t>(colHigh - colLow + 1, area.columns());
  elements_.reserve(static_cast<std::size_t>(std::max<int64_t>(0, rows_ * columns_)));
  for (int64_t r = 0; r < rows_; ++r) {
    for (int64_t c = 0; c < columns_; ++c) {
      LONG index[2] = {static_cast<LONG>(rowLow + r), static_cast<LONG>(colLow + c)};
      Variant element;
      if (FAILED(SafeArrayGetElement(data, index, element.raw()))) throw Failure{13};
      if (element.type() == VT_BSTR && !typedEntry(fromWide(text(element)))) throw Failure{1004};
      elements_.push_back(std::move(element));
    }
  }
}

Variant ArrayAssignment::at(int64_t row, int64_t column) const {
  if (row >= rows_ || column >= columns_) {
    Variant missing;
    missing.raw()->vt = VT_ERROR;
    missing.raw()->scode = cellErrorCode(CellError::NA);
    return missing;
  }
  return elements_[static_cast<std::size_t>(row * columns_ + column)];
}

double significant15(double number) {
  if (number == 0 || !std::isfinite(number)) return number;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.14e", number);
  return std::strtod(buffer, nullptr);
}

bool countIfMatches(const Value& value, std::u16string_view criterion) {
  if (!criterion.empty() && (criterion.front() == u'<' || criterion.front() == u'>')) {
    throw Failure{5};  // comparisons are not modelled
  }
  if (!criterion.empty() && criterion.front() == u'=') criterion.remove_prefix(1);
  if (criterion.empty()) return isEmpty(value);
  const Value wanted = parseTypedInput(criterion, HostLocale{}, kYear);
  if (isNumeric(wanted)) {
    const double target = significant15(numberOf(wanted));
    if (isNumeric(value)) return significant15(numberOf(value)) == target;
    if (const auto* text = std::get_if<std::u16string>(&value)) {
      const Value read = parseTypedInput(*text, HostLocale{}, kYear);
      return isNumeric(read) && significant15(numberOf(read)) == target;
    }
    return false;
  }
  if (const auto* b = std::get_if<bool>(&wanted)) {
    const auto* held = std::get_if<bool>(&value);
    return held && *held == *b;
  }
  const auto* text = std::get_if<std::u16string>(&value);
  return text && wildcardMatch(criterion, *text);
}

bool findMatches(std::u16string_view what, std::u16string_view shown) {
  return !what.empty() && wildcardMatch(what, shown);
}

std::u16string formulaOf(const CellContent& content) {
  if (content.isFormula()) return content.formula;
  if (const auto* text = std::get_if<std::u16string>(&content.value)) return *text;
  return formulaText(content);
}

std::u16string generalText(const Value& value) {
  if (const auto* e = std::get_if<CellError>(&value)) return errorText(*e);
  return cellText(value, HostLocale{}).value_or(u"");
}

Variant currencyOf(double number) {
  Variant out;
  out.raw()->vt = VT_CY;
  if (FAILED(VarCyFromR8(number, &out.raw()->cyVal))) throw Failure{6};  // overflow
  return out;
}

RangeItem rangeItem(RangeKind kind, const AreaRef& first, int64_t rowIndex,
                    std::optional<int64_t> columnIndex) {
  if (rowIndex < 1 || (columnIndex && *columnIndex < 1)) throw Failure{1004};
  const CellRef top = first.first;
  if (columnIndex) {
    if (kind != RangeKind::Cells) throw Failure{1004};
    const CellRef at{top.row + rowIndex - 1, top.column + *columnIndex - 1};
    return {{at, at}, RangeKind::Cells};
  }
  switch (kind) {
    case RangeKind::Columns: {
      const int64_t column = top.column + rowIndex - 1;
      return {{{top.row, column}, {first.last.row, column}}, RangeKind::Columns};
    }
    case RangeKind::Rows: {
      const int64_t row = top.row + rowIndex - 1;
      return {{{row, top.column}, {row, first.last.column}}, RangeKind::Rows};
    }
    case RangeKind::Cells:
      break;
  }
  // Left to right, then down, as if the first area went on below its last row.
  const int64_t width = first.columns();
  const CellRef at{top.row + (rowIndex - 1) / width, top.column + (rowIndex - 1) % width};
  return {{at, at}, RangeKind::Cells};
}

int64_t rangeCount(RangeKind kind, const std::vector<AreaRef>& areas) {
  int64_t count = 0;
  for (const AreaRef& area : areas) {
    count += kind == RangeKind::Columns ? area.columns()
             : kind == RangeKind::Rows  ? area.rows()
                                        : area.rows() * area.columns();
  }
  return count;
}

Variant value2Of(const Value& value) {
  if (const auto* d = std::get_if<DateTime>(&value)) return Variant::fromDouble(d->serial);
  return toVariant(value);
}

std::u16string implicitlyIntersected(std::u16string_view formula) {
  if (formula.size() < 2 || formula.front() != u'=' || formula[1] == u'@') {
    return std::u16string(formula);
  }
  return u"=@" + std::u16string(formula.substr(1));
}

std::u16string formulaDialect(std::u16string_view formula2) {
  std::u16string out;
  bool quoted = false;
  for (char16_t c : formula2) {
    if (c == u'"') quoted = !quoted;
    if (c == u'@' && !quoted) continue;
    out.push_back(c);
  }
  return out;
}

}  // namespace qmv::windows::fake
