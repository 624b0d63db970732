#include "web/engine/chunk.hpp"

#include <type_traits>
#include <variant>

#include "engine/value_run.hpp"
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

void ChunkRule::contents(const CellChunk& chunk) {
  dateFormats_.assign(chunk.formats.size() + 1, std::nullopt);
  const auto isDate = [&](uint32_t format) {
    const std::size_t slot = format < chunk.formats.size() ? format : chunk.formats.size();
    std::optional<bool>& known = dateFormats_[slot];
    if (!known) known = isDateFormatCode(toUtf8(chunk.formatAt(slot)));
    return *known;
  };
  contents_.resize(chunk.size());
  for (std::size_t i = 0; i < chunk.size(); ++i) {
    const uint8_t kind = chunk.kinds[i];
    const bool number = static_cast<CellKind>(kind & ~kFormula) == CellKind::Number;
    cellContent(kind, chunk.numbers[i], chunk.texts.at(i), number && isDate(chunk.formatOf[i]),
                contents_[i]);
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
  contents(chunk);
  block_.keepBefore = keepBefore;
  results_.clear();
  ruleOverBlock(contents_, block_, results_);
  for (const CellResult& result : results_.cells()) {
    const bool changed = result.outcome == CellOutcome::Changed;
    out.cells.push_back(static_cast<uint32_t>(result.cell));
    out.outcomes.push_back(static_cast<uint8_t>(result.outcome));
    out.before.push(keepBefore ? std::u16string_view(result.before) : std::u16string_view());
    out.after.push(changed ? std::u16string_view(result.after) : std::u16string_view());
    if (changed) {
      addWrite(typedResult(result.after, block_.locale, currentYear_, chunk.formatAt(result.cell)),
               result.after, out);
    } else {
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
  contents(chunk);
  std::vector<Value> values;
  values.reserve(contents_.size());
  for (const CellContent& content : contents_) values.push_back(content.value);
  for (const bool clear : valueClears(row_.valueMode, values, block_.locale))
    out.push_back(clear ? 1 : 0);
}

}  // namespace qmv::web
