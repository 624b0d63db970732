#include "web/engine/chunk.hpp"

#include <type_traits>
#include <variant>

#include "engine/value_rule.hpp"
#include "host/cell_text.hpp"
#include "host/number_format.hpp"
#include "host/text.hpp"

namespace qmv::web {

void CellChunk::resize(std::size_t cells) {
  kinds.resize(cells);
  numbers.resize(cells);
  formatOf.resize(cells);
  texts.ends.resize(cells);
}

std::u16string_view CellChunk::formatAt(std::size_t cell) const {
  const uint32_t format = formatOf[cell];
  return format < formats.size() ? formats.at(format) : std::u16string_view(u"General");
}

void ChunkResults::clear() {
  cells.clear();
  outcomes.clear();
  writeKinds.clear();
  writeNumbers.clear();
  before.clear();
  after.clear();
  writeTexts.clear();
  writeFormats.clear();
}

void cellContent(uint8_t kind, double number, std::u16string_view text, bool dateFormat,
                 CellContent& out) {
  // The rule only asks whether there is a formula, never what it says.
  if (kind & kFormula) {
    if (out.formula.empty()) out.formula = u"=";
  } else {
    out.formula.clear();
  }
  switch (static_cast<CellKind>(kind & ~kFormula)) {
    case CellKind::Empty:
      out.value = std::monostate{};
      return;
    case CellKind::Text:
      // A text reuses the storage of the text the same place held in the chunk before.
      if (auto* held = std::get_if<std::u16string>(&out.value)) {
        held->assign(text);
      } else {
        out.value.emplace<std::u16string>(text);
      }
      return;
    case CellKind::Number:
      if (dateFormat) {
        out.value = DateTime{number};
      } else {
        out.value = number;
      }
      return;
    case CellKind::Boolean:
      out.value = number != 0;
      return;
    case CellKind::Error:
      break;
  }
  out.value = parseErrorText(text).value_or(CellError::Value);
}

ChunkRule::ChunkRule(const OperationRow& row, const HostLocale& locale, int currentYear)
    : row_(row), currentYear_(currentYear) {
  block_.locale = locale;
}

bool ChunkRule::isDate(const CellChunk& chunk, uint32_t format) {
  const std::size_t slot = format < chunk.formats.size() ? format : chunk.formats.size();
  std::optional<bool>& known = dateFormats_[slot];
  if (!known) known = isDateFormatCode(toUtf8(chunk.formatAt(slot)));
  return *known;
}

void ChunkRule::viewTexts(const CellChunk& chunk) {
  dateFormats_.assign(chunk.formats.size() + 1, std::nullopt);
  // The texts of numbers and Booleans first, as the cells show them: the views into them
  // are taken once the list no longer grows.
  shown_.clear();
  shownOf_.clear();
  for (std::size_t i = 0; i < chunk.size(); ++i) {
    const uint8_t kind = chunk.kinds[i];
    if (kind & kFormula) continue;
    Value value;
    switch (static_cast<CellKind>(kind)) {
      case CellKind::Number:
        if (isDate(chunk, chunk.formatOf[i])) {
          value = DateTime{chunk.numbers[i]};
        } else {
          value = chunk.numbers[i];
        }
        break;
      case CellKind::Boolean:
        value = chunk.numbers[i] != 0;
        break;
      default:
        continue;
    }
    if (std::optional<std::u16string> text = cellText(value, block_.locale)) {
      shownOf_.push_back(static_cast<uint32_t>(i));
      shown_.push(*text);
    }
  }
  views_.assign(chunk.size(), std::nullopt);
  for (std::size_t k = 0; k < shownOf_.size(); ++k) views_[shownOf_[k]] = shown_.at(k);
  for (std::size_t i = 0; i < chunk.size(); ++i) {
    switch (static_cast<CellKind>(chunk.kinds[i])) {  // a formula's flag keeps it out
      case CellKind::Text:
        views_[i] = chunk.texts.at(i);
        break;
      case CellKind::Empty:
        views_[i] = std::u16string_view();
        break;
      default:
        break;
    }
  }
}

namespace {

// The value typing stores, in the results' arrays.
void addWrite(const TypedCell& typed, std::u16string_view after, ChunkResults& out) {
  WriteKind kind = WriteKind::Text;
  double number = 0;
  std::u16string_view text = after;
  std::u16string error;
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          kind = WriteKind::Empty;
        } else if constexpr (std::is_same_v<T, double>) {
          kind = WriteKind::Number;
          number = v;
        } else if constexpr (std::is_same_v<T, bool>) {
          kind = WriteKind::Boolean;
          number = v ? 1 : 0;
        } else if constexpr (std::is_same_v<T, DateTime>) {
          kind = WriteKind::Date;
          number = v.serial;
        } else if constexpr (std::is_same_v<T, std::u16string>) {
          text = v;
        } else {
          error = errorText(v);
          text = error;
        }
      },
      typed.value);
  uint8_t code = static_cast<uint8_t>(kind);
  if (kind == WriteKind::Text && text != after) {
    code |= kOwnWriteText;
    out.writeTexts.push(text);
  } else {
    out.writeTexts.push({});
  }
  out.writeKinds.push_back(code);
  out.writeNumbers.push_back(number);
  out.writeFormats.push(typed.numberFormat);
}

}  // namespace

void ChunkRule::over(const CellChunk& chunk, bool keepBefore, ChunkResults& out) {
  out.clear();
  if (row_.kind != OperationKind::CharacterLevel) return;
  viewTexts(chunk);
  block_.keepBefore = keepBefore;
  results_.clear();
  ruleOverTexts(views_, block_, results_);
  const std::size_t count = results_.cells().size();
  out.cells.reserve(count);
  out.outcomes.reserve(count);
  out.writeKinds.reserve(count);
  out.writeNumbers.reserve(count);
  const std::span<const CellResult> found = results_.cells();
  out.before.assign(count, [&](std::size_t r) {
    return keepBefore ? std::u16string_view(found[r].before) : std::u16string_view();
  });
  out.after.assign(count, [&](std::size_t r) {
    return found[r].outcome == CellOutcome::Changed ? std::u16string_view(found[r].after)
                                                    : std::u16string_view();
  });
  for (const CellResult& result : found) {
    const bool changed = result.outcome == CellOutcome::Changed;
    out.cells.push_back(static_cast<uint32_t>(result.cell));
    out.outcomes.push_back(static_cast<uint8_t>(result.outcome));
    const std::u16string_view format = chunk.formatAt(result.cell);
    if (changed && !typedResultIsText(result.after, block_.locale, currentYear_, format)) {
      addWrite(typedResult(result.after, block_.locale, currentYear_, format), result.after, out);
    } else {
      // A text stored as it is, or a cell given up on: nothing more to say.
      out.writeKinds.push_back(static_cast<uint8_t>(WriteKind::Text));
      out.writeNumbers.push_back(0);
      out.writeTexts.push({});
      out.writeFormats.push({});
    }
  }
}

void ChunkRule::clears(const CellChunk& chunk, std::vector<uint8_t>& out) {
  out.clear();
  if (row_.kind != OperationKind::ValueLevel) return;
  dateFormats_.assign(chunk.formats.size() + 1, std::nullopt);
  // Each cell's key straight from the chunk, through one cell's content reused: a value
  // removal reads the value, whether a formula gave it or not.
  std::vector<std::optional<std::string>> keys(chunk.size());
  CellContent content;
  std::string key;
  for (std::size_t i = 0; i < chunk.size(); ++i) {
    const uint8_t kind = chunk.kinds[i];
    const bool number = static_cast<CellKind>(kind & ~kFormula) == CellKind::Number;
    cellContent(kind, chunk.numbers[i], chunk.texts.at(i),
                number && isDate(chunk, chunk.formatOf[i]), content);
    if (valueKey(key, content.value, block_.locale, row_.valueMode)) keys[i] = key;
  }
  for (const bool clear : valueListClears(row_.valueMode, keys)) out.push_back(clear ? 1 : 0);
}

void RestoreWrites::clear() {
  writes.clear();
  numbers.clear();
  formulas.clear();
  formats.clear();
}

namespace {

// Whether cell i still holds what the run left in it. A date and a number compare alike: both
// are the serial the run wrote.
bool stillAsLeft(const CellChunk& after, const CellChunk& now, std::size_t i) {
  const uint8_t held = now.kinds[i];
  if (held & kFormula) return false;
  const auto left = static_cast<CellKind>(after.kinds[i] & ~kFormula);
  if (static_cast<CellKind>(held) != left) return false;
  switch (left) {
    case CellKind::Empty:
      return true;
    case CellKind::Text:
      return now.texts.at(i) == after.texts.at(i);
    case CellKind::Number:
      return now.numbers[i] == after.numbers[i];
    case CellKind::Boolean:
      return (now.numbers[i] != 0) == (after.numbers[i] != 0);
    case CellKind::Error:
      break;
  }
  return false;
}

}  // namespace

void restoreWrites(const CellChunk& before, const CellChunk& after, const CellChunk& now,
                   RestoreWrites& out) {
  out.clear();
  const std::size_t cells = before.size();
  CellContent content;
  for (std::size_t i = 0; i < cells; ++i) {
    if (i >= after.size() || i >= now.size() || !stillAsLeft(after, now, i)) {
      out.writes.push_back(static_cast<uint8_t>(RestoreWrite::None));
      out.numbers.push_back(0);
      out.formulas.push({});
      out.formats.push({});
      continue;
    }
    const uint8_t kind = before.kinds[i];
    const std::u16string_view format = before.formatAt(i);
    RestoreWrite write = RestoreWrite::Formula;
    double number = 0;
    if (kind & kFormula) {
      out.formulas.push(before.texts.at(i));
    } else {
      const bool isNumber = static_cast<CellKind>(kind) == CellKind::Number;
      cellContent(kind, before.numbers[i], before.texts.at(i),
                  isNumber && isDateFormatCode(toUtf8(format)), content);
      out.formulas.push(formulaText(content));
      if (isNumber) {
        write = RestoreWrite::Number;
        number = before.numbers[i];
      } else if (static_cast<CellKind>(kind) == CellKind::Boolean) {
        write = RestoreWrite::Boolean;
        number = before.numbers[i] != 0 ? 1 : 0;
      }
    }
    out.writes.push_back(static_cast<uint8_t>(write));
    out.numbers.push_back(number);
    out.formats.push(format);
  }
}

}  // namespace qmv::web
