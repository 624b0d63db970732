#include "host/cell_text.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <system_error>

#include "host/ascii.hpp"
#include "host/civil_date.hpp"
#include "host/portable.hpp"

namespace qmv {
namespace {

constexpr int kSignificantDigits = 15;

std::u16string ascii(std::string_view s) { return {s.begin(), s.end()}; }

void appendNumber(std::u16string& out, int64_t n, int minWidth) {
  std::string digits = std::to_string(n);
  for (int i = static_cast<int>(digits.size()); i < minWidth; ++i) out += u'0';
  out += ascii(digits);
}

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::u16string_view trimSpaces(std::u16string_view s) {
  while (!s.empty() && s.front() == u' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == u' ') s.remove_suffix(1);
  return s;
}

/// A run of 1 to `maxDigits` digits at the start of `s`, consumed.
std::optional<int64_t> takeDigits(std::u16string_view& s, std::size_t maxDigits,
                                  std::size_t* count = nullptr) {
  std::size_t n = 0;
  int64_t v = 0;
  while (n < s.size() && isDigit(s[n])) {
    if (n == maxDigits) return std::nullopt;
    v = v * 10 + (s[n] - u'0');
    ++n;
  }
  if (n == 0) return std::nullopt;
  if (count) *count = n;
  s.remove_prefix(n);
  return v;
}

/// How a typed number was written, which decides the format typing gives its cell.
struct NumberShape {
  bool percent = false;
  bool grouped = false;
  bool exponent = false;
  bool fraction = false;  ///< digits after the decimal separator
  bool currency = false;  ///< the locale's currency symbol on its side
  bool spaced = false;    ///< a space between the symbol and the digits
};

bool isTypedSpace(char16_t c) { return c == u' ' || c == u'\u00A0' || c == u'\u202F'; }

/// A typed number in `locale`: digits grouped by the locale's thousands separator only
/// (none when it has none, or when it is the decimal separator itself).
std::optional<double> parseNumber(std::u16string_view s, const HostLocale& locale,
                                  NumberShape* shape = nullptr) {
  const char16_t dec = locale.decimalSeparator;
  const char16_t group = locale.thousandsSeparator != dec ? locale.thousandsSeparator : 0;
  bool negative = false;
  bool percent = false;
  bool parens = false;
  if (!s.empty() && s.back() == u'%') {
    percent = true;
    s.remove_suffix(1);
  }
  if (!s.empty() && s.front() == u'(' && s.size() >= 2 && s.back() == u')') {
    parens = true;
    negative = true;
    s = s.substr(1, s.size() - 2);
  }
  bool sign = false;
  if (!parens && !s.empty() && (s.front() == u'-' || s.front() == u'+')) {
    negative = s.front() == u'-';
    sign = true;
    s.remove_prefix(1);
  }
  // The currency symbol on the locale's side ("$5", "-$5", "$-5", "($5)"; "5 €", "-5,50 €"),
  // one space at most between; never with a percent sign.
  bool currency = false;
  bool spaced = false;
  const std::u16string_view symbol = locale.currencySymbol;
  if (!percent && !symbol.empty() && symbol.find(u'"') == std::u16string_view::npos) {
    if (locale.currencyBefore && s.substr(0, symbol.size()) == symbol) {
      currency = true;
      s.remove_prefix(symbol.size());
      spaced = !s.empty() && isTypedSpace(s.front());
      if (spaced) s.remove_prefix(1);
      if (!parens && !sign && !s.empty() && (s.front() == u'-' || s.front() == u'+')) {
        negative = s.front() == u'-';
        s.remove_prefix(1);
      }
    } else if (!locale.currencyBefore && s.size() >= symbol.size() &&
               s.substr(s.size() - symbol.size()) == symbol) {
      currency = true;
      s.remove_suffix(symbol.size());
      spaced = !s.empty() && isTypedSpace(s.back());
      if (spaced) s.remove_suffix(1);
    }
  }
  if (s.empty()) return std::nullopt;

  std::string mantissa;
  int significant = 0;
  auto addDigit = [&](char16_t c) {
    if (c != u'0' || significant > 0) ++significant;
    mantissa += significant > kSignificantDigits ? '0' : static_cast<char>(c);
  };
  // Integer part, with thousands groups when they are written.
  std::size_t i = 0;
  std::size_t groupLen = 0;
  bool grouped = false;
  std::size_t firstGroup = 0;
  std::size_t intDigits = 0;
  while (i < s.size() && (isDigit(s[i]) || (group != 0 && s[i] == group))) {
    if (s[i] == group) {
      if (intDigits == 0) return std::nullopt;
      if (!grouped) {
        firstGroup = groupLen;
        if (firstGroup > 3) return std::nullopt;
      } else if (groupLen != 3) {
        return std::nullopt;
      }
      grouped = true;
      groupLen = 0;
    } else {
      addDigit(s[i]);
      ++groupLen;
      ++intDigits;
    }
    ++i;
  }
  if (grouped && groupLen != 3) return std::nullopt;
  std::size_t fracDigits = 0;
  if (i < s.size() && s[i] == dec) {
    mantissa += '.';
    ++i;
    while (i < s.size() && isDigit(s[i])) {
      addDigit(s[i]);
      ++fracDigits;
      ++i;
    }
  }
  if (intDigits + fracDigits == 0) return std::nullopt;
  bool exponent = false;
  if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
    exponent = true;
    mantissa += 'e';
    ++i;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) mantissa += static_cast<char>(s[i++]);
    std::size_t expDigits = 0;
    while (i < s.size() && isDigit(s[i])) {
      if (++expDigits > 4) return std::nullopt;
      mantissa += static_cast<char>(s[i++]);
    }
    if (expDigits == 0 || currency) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;
  const std::optional<double> parsed = parseDecimal(mantissa);
  if (!parsed || !std::isfinite(*parsed)) return std::nullopt;
  double value = *parsed;
  if (percent) value /= 100;
  if (negative) value = -value;
  if (shape) *shape = NumberShape{percent, grouped, exponent, fracDigits > 0, currency, spaced};
  return value + 0.0;  // no negative zero
}

std::optional<int64_t> yearOf(int64_t y, std::size_t digits) {
  if (digits <= 2) return y < 30 ? 2000 + y : 1900 + y;
  if (digits == 4 && y >= 1900 && y <= 9999) return y;
  return std::nullopt;
}

/// A date "M/D/YYYY", "M/D/YY" or "M/D" (in the locale's order); the serial day.
std::optional<int64_t> parseDate(std::u16string_view s, const HostLocale& locale, int currentYear) {
  char16_t sep = 0;
  std::array<int64_t, 3> field{};
  std::array<std::size_t, 3> width{};
  int fields = 0;
  while (true) {
    if (fields == 3) return std::nullopt;
    auto v = takeDigits(s, 4, &width[static_cast<std::size_t>(fields)]);
    if (!v) return std::nullopt;
    field[static_cast<std::size_t>(fields++)] = *v;
    if (s.empty()) break;
    const char16_t c = s.front();
    if (sep == 0 && (c == locale.dateSeparator || c == u'-')) sep = c;
    if (c != sep) return std::nullopt;
    s.remove_prefix(1);
  }
  if (fields < 2) return std::nullopt;
  int64_t y = currentYear;
  int64_t m = 0;
  int64_t d = 0;
  std::size_t yearWidth = 4;
  if (fields == 2) {
    if (width[0] > 2 || width[1] > 2) return std::nullopt;
    const bool dayFirst = locale.dateOrder == DateOrder::DayMonthYear;
    m = dayFirst ? field[1] : field[0];
    d = dayFirst ? field[0] : field[1];
  } else {
    switch (locale.dateOrder) {
      case DateOrder::MonthDayYear:
        m = field[0], d = field[1], y = field[2], yearWidth = width[2];
        if (width[0] > 2 || width[1] > 2) return std::nullopt;
        break;
      case DateOrder::DayMonthYear:
        d = field[0], m = field[1], y = field[2], yearWidth = width[2];
        if (width[0] > 2 || width[1] > 2) return std::nullopt;
        break;
      case DateOrder::YearMonthDay:
        y = field[0], m = field[1], d = field[2], yearWidth = width[0];
        if (width[1] > 2 || width[2] > 2) return std::nullopt;
        break;
    }
    auto year = yearOf(y, yearWidth);
    if (!year) return std::nullopt;
    y = *year;
  }
  if (y < 1900 || y > 9999 || !isCalendarDate(y, m, d)) {
    return std::nullopt;
  }
  return serialDayOf({y, m, d});
}

/// A time "15:04", "15:04:05", "3:04 PM", "3:04:05pm"; the fraction of a day.
std::optional<double> parseTime(std::u16string_view s) {
  auto h = takeDigits(s, 2);
  if (!h || s.empty() || s.front() != u':') return std::nullopt;
  s.remove_prefix(1);
  std::size_t w = 0;
  auto mi = takeDigits(s, 2, &w);
  if (!mi || *mi > 59) return std::nullopt;
  int64_t sec = 0;
  if (!s.empty() && s.front() == u':') {
    s.remove_prefix(1);
    auto se = takeDigits(s, 2);
    if (!se || *se > 59) return std::nullopt;
    sec = *se;
  }
  s = trimSpaces(s);
  int64_t hour = *h;
  if (s.empty()) {
    if (hour > 23) return std::nullopt;
  } else {
    const std::u16string marker = asciiLowered(s);
    if (marker != u"am" && marker != u"pm") return std::nullopt;
    if (hour > 12) return std::nullopt;
    if (hour == 12) hour = 0;
    if (marker == u"pm") hour += 12;
  }
  return static_cast<double>(hour * 3600 + *mi * 60 + sec) / 86400.0;
}

std::optional<DateTime> parseDateTime(std::u16string_view s, const HostLocale& locale,
                                      int currentYear) {
  if (auto time = parseTime(s)) return DateTime{*time};
  const std::size_t space = s.find(u' ');
  const std::u16string_view datePart = s.substr(0, space);
  auto day = parseDate(datePart, locale, currentYear);
  if (!day) return std::nullopt;
  double serial = static_cast<double>(*day);
  if (space != std::u16string_view::npos) {
    auto time = parseTime(trimSpaces(s.substr(space + 1)));
    if (!time) return std::nullopt;
    serial += *time;
  }
  return DateTime{serial};
}

constexpr std::array<std::pair<CellError, std::u16string_view>, 7> kErrorTexts{{
    {CellError::Null, u"#NULL!"},
    {CellError::Div0, u"#DIV/0!"},
    {CellError::Value, u"#VALUE!"},
    {CellError::Ref, u"#REF!"},
    {CellError::Name, u"#NAME?"},
    {CellError::Num, u"#NUM!"},
    {CellError::NA, u"#N/A"},
}};

const HostLocale kFormulaLocale{};

/// True when assigning `text` as a formula would not give back the same text.
bool needsApostrophe(const std::u16string& text) {
  if (text.empty() || text.front() == u'=' || parseErrorText(text)) return true;
  const Value typed = parseTypedInput(text, kFormulaLocale, 2000);
  const auto* back = std::get_if<std::u16string>(&typed);
  return back == nullptr || *back != text;
}

}  // namespace

std::u16string numberText(double number, char16_t decimalSeparator) {
  if (std::isnan(number)) return u"NaN";
  if (std::isinf(number)) return number < 0 ? u"-Infinity" : u"Infinity";
  if (number == 0) return u"0";
  const std::string scientific = scientificText(number, kSignificantDigits - 1);
  const std::string_view sci(scientific);
  const bool negative = sci.front() == '-';
  const std::size_t ePos = sci.find('e');
  std::string digits;
  for (char c : sci.substr(negative ? 1 : 0, ePos - (negative ? 1 : 0))) {
    if (c != '.') digits += c;
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int exponent = 0;
  std::string_view expText = sci.substr(ePos + 1);
  if (expText.front() == '+') expText.remove_prefix(1);
  std::from_chars(expText.data(), expText.data() + expText.size(), exponent);

  std::u16string out;
  if (negative) out += u'-';
  if (exponent >= kSignificantDigits || exponent < -4) {
    out += static_cast<char16_t>(digits[0]);
    if (digits.size() > 1) {
      out += decimalSeparator;
      out += ascii(std::string_view(digits).substr(1));
    }
    out += exponent < 0 ? u"E-" : u"E+";
    appendNumber(out, exponent < 0 ? -exponent : exponent, 2);
    return out;
  }
  if (exponent < 0) {
    out += u'0';
    out += decimalSeparator;
    out.append(static_cast<std::size_t>(-exponent - 1), u'0');
    out += ascii(digits);
    return out;
  }
  const std::size_t intLen = static_cast<std::size_t>(exponent) + 1;
  for (std::size_t i = 0; i < intLen; ++i) {
    out += i < digits.size() ? static_cast<char16_t>(digits[i]) : u'0';
  }
  if (digits.size() > intLen) {
    out += decimalSeparator;
    out += ascii(std::string_view(digits).substr(intLen));
  }
  return out;
}

namespace {

/// The host's calendar runs from 1 January 100 to 31 December 9999.
constexpr double kFirstDateSerial = -657434;
constexpr double kLastDateSerial = 2958466;  // exclusive: the day after 31 December 9999

bool inCalendar(DateTime date) {
  return date.serial >= kFirstDateSerial && date.serial < kLastDateSerial;
}

}  // namespace

std::u16string dateText(DateTime date, const HostLocale& locale) {
  // A serial outside the calendar has no date form; its number is all there is to show.
  if (!inCalendar(date)) return numberText(date.serial, locale.decimalSeparator);
  double whole = std::trunc(date.serial);
  int64_t seconds = std::llround(std::fabs(date.serial - whole) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    whole += date.serial < 0 ? -1 : 1;
  }
  std::u16string out;
  if (whole != 0) {
    const CivilDate c = civilDateOf(static_cast<int64_t>(whole));
    const char16_t sep = locale.dateSeparator;
    switch (locale.dateOrder) {
      case DateOrder::MonthDayYear:
        appendNumber(out, c.month, 1), out += sep, appendNumber(out, c.day, 1), out += sep;
        appendNumber(out, c.year, 4);
        break;
      case DateOrder::DayMonthYear:
        appendNumber(out, c.day, 2), out += sep, appendNumber(out, c.month, 2), out += sep;
        appendNumber(out, c.year, 4);
        break;
      case DateOrder::YearMonthDay:
        appendNumber(out, c.year, 4), out += sep, appendNumber(out, c.month, 2), out += sep;
        appendNumber(out, c.day, 2);
        break;
    }
    if (seconds == 0) return out;
    out += u' ';
  }
  const int64_t h = seconds / 3600;
  const int64_t m = seconds / 60 % 60;
  const int64_t s = seconds % 60;
  if (locale.dateOrder == DateOrder::MonthDayYear) {
    appendNumber(out, h % 12 == 0 ? 12 : h % 12, 1);
  } else {
    appendNumber(out, h, 2);
  }
  out += u':';
  appendNumber(out, m, 2);
  out += u':';
  appendNumber(out, s, 2);
  if (locale.dateOrder == DateOrder::MonthDayYear) out += h < 12 ? u" AM" : u" PM";
  return out;
}

std::optional<std::u16string> cellText(const Value& value, const HostLocale& locale) {
  struct Visitor {
    const HostLocale& locale;
    std::optional<std::u16string> operator()(std::monostate) const { return std::u16string(); }
    std::optional<std::u16string> operator()(double d) const {
      return numberText(d, locale.decimalSeparator);
    }
    std::optional<std::u16string> operator()(const std::u16string& s) const { return s; }
    std::optional<std::u16string> operator()(bool b) const {
      return std::u16string(b ? u"True" : u"False");
    }
    std::optional<std::u16string> operator()(DateTime d) const {
      // Like an error value, a date outside the calendar has no text: it is left alone.
      if (!inCalendar(d)) return std::nullopt;
      return dateText(d, locale);
    }
    std::optional<std::u16string> operator()(CellError) const { return std::nullopt; }
  };
  return std::visit(Visitor{locale}, value);
}

std::u16string errorText(CellError error) {
  for (const auto& [e, text] : kErrorTexts) {
    if (e == error) return std::u16string(text);
  }
  return u"#VALUE!";
}

std::optional<CellError> parseErrorText(std::u16string_view text) {
  const std::u16string folded = asciiLowered(text);
  for (const auto& [e, t] : kErrorTexts) {
    if (folded == asciiLowered(t)) return e;
  }
  return std::nullopt;
}

std::u16string formulaText(const CellContent& content) {
  if (content.isFormula()) return content.formula;
  struct Visitor {
    std::u16string operator()(std::monostate) const { return {}; }
    std::u16string operator()(double d) const { return numberText(d, u'.'); }
    std::u16string operator()(const std::u16string& s) const {
      return needsApostrophe(s) ? u"'" + s : s;
    }
    std::u16string operator()(bool b) const { return b ? u"TRUE" : u"FALSE"; }
    std::u16string operator()(DateTime d) const { return dateText(d, kFormulaLocale); }
    std::u16string operator()(CellError e) const { return errorText(e); }
  };
  return std::visit(Visitor{}, content.value);
}

namespace {

// What typing `text` (no leading apostrophe) gives when it is not the text itself; no value
// when the text stays as typed. Answers without copying the text, as most texts stay.
std::optional<Value> typedOtherThanText(std::u16string_view text, const HostLocale& locale,
                                        int currentYear) {
  if (text.empty()) return Value{};
  if (text.front() == u'=') return std::nullopt;
  const std::u16string_view s = trimSpaces(text);
  if (s.empty()) return std::nullopt;
  if (s.size() <= 5) {
    const std::u16string folded = asciiLowered(s);
    if (folded == u"true") return true;
    if (folded == u"false") return false;
  }
  // Every number and date has an ASCII digit: a text without one needs no parsing.
  if (std::none_of(s.begin(), s.end(),
                   [](char16_t c) { return static_cast<unsigned>(c - u'0') < 10U; })) {
    return std::nullopt;
  }
  if (auto number = parseNumber(s, locale)) return *number;
  if (auto date = parseDateTime(s, locale, currentYear)) return *date;
  return std::nullopt;
}

}  // namespace

Value parseTypedInput(std::u16string_view text, const HostLocale& locale, int currentYear) {
  if (!text.empty() && text.front() == u'\'') return std::u16string(text.substr(1));
  if (auto other = typedOtherThanText(text, locale, currentYear)) return *std::move(other);
  return std::u16string(text);
}

bool isTextFormat(std::u16string_view numberFormat) { return numberFormat == u"@"; }

namespace {

bool isGeneralFormat(std::u16string_view numberFormat) {
  return numberFormat.empty() || asciiLowered(numberFormat) == u"general";
}

// The format a General cell gets for a number typed in this shape. No Microsoft page
// tables what typing gives; these are Excel's built-in codes for each shape ("Number format
// codes", support.microsoft.com): whole percentages 0%, others 0.00%, grouped numbers
// #,##0 or #,##0.00, an exponent 0.00E+00; an amount in the user's currency the grouped
// code with the symbol as a quoted literal on its side ("$"#,##0.00, #,##0.00 "€"), which
// reads the same in every locale and keeps a symbol such as "CHF" from being read as codes.
std::u16string formatOfShape(const NumberShape& shape, const HostLocale& locale) {
  if (shape.currency) {
    const std::u16string digits = shape.fraction ? u"#,##0.00" : u"#,##0";
    const std::u16string symbol = u"\"" + locale.currencySymbol + u"\"";
    const std::u16string space = shape.spaced ? u" " : u"";
    return locale.currencyBefore ? symbol + space + digits : digits + space + symbol;
  }
  if (shape.percent) return shape.fraction ? u"0.00%" : u"0%";
  if (shape.exponent) return u"0.00E+00";
  if (shape.grouped) return shape.fraction ? u"#,##0.00" : u"#,##0";
  return {};
}

}  // namespace

TypedCell typeIntoCell(std::u16string_view text, const HostLocale& locale, int currentYear,
                       std::u16string_view cellFormat) {
  TypedCell out{parseTypedInput(text, locale, currentYear), {}};
  if (text.empty() || text.front() == u'\'' || std::holds_alternative<std::u16string>(out.value)) {
    return out;
  }
  if (isTextFormat(cellFormat)) {
    out.value = std::u16string(text);
    return out;
  }
  if (std::holds_alternative<double>(out.value) && isGeneralFormat(cellFormat)) {
    NumberShape shape;
    if (parseNumber(trimSpaces(text), locale, &shape))
      out.numberFormat = formatOfShape(shape, locale);
  }
  return out;
}

TypedCell typedResult(std::u16string_view text, const HostLocale& locale, int currentYear,
                      std::u16string_view cellFormat) {
  if (!text.empty() && text.front() == u'\'') return {Value(std::u16string(text)), {}};
  return typeIntoCell(text, locale, currentYear, cellFormat);
}

bool typedResultIsText(std::u16string_view text, const HostLocale& locale, int currentYear,
                       std::u16string_view cellFormat) {
  if (!text.empty() && text.front() == u'\'') return true;
  if (!text.empty() && isTextFormat(cellFormat)) return true;
  return !typedOtherThanText(text, locale, currentYear).has_value();
}

}  // namespace qmv
