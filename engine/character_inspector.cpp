#include "engine/character_inspector.hpp"

#include <cstdio>

#include "engine/unicode_classes.hpp"
#include "engine/unicode_text_data.hpp"
#include "host/text.hpp"

namespace qmv {

namespace {

using namespace unicode_data;

std::string hexOf(char32_t c) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04X", static_cast<unsigned>(c));
  return buffer;
}

std::string rangeName(const NamedRange& range, char32_t c) {
  std::string name = range.label;
  if (range.numbered) return name + hexOf(c);
  if (range.hangul) {
    // The Unicode Standard, section 3.12: the syllable's jamo, lead, vowel and tail.
    const char32_t s = c - 0xAC00;
    name += jamoLeads()[s / (21 * 28)];
    name += jamoVowels()[(s % (21 * 28)) / 28];
    name += jamoTails()[s % 28];
  }
  return name;
}

// What an operation does to a character alone, under the rules.
enum class Effect { Keeps, Replaces, Removes };

Effect effectOn(const OperationRow& row, std::u16string_view c, TextRules rules) {
  CharacterInputs inputs;
  inputs.rules = rules;
  const std::optional<std::u16string> out = transformText(row.operation, c, inputs);
  if (!out || *out == c) return Effect::Keeps;
  return out->empty() ? Effect::Removes : Effect::Replaces;
}

// The ordinary characters a pointer must leave alone, so that it picks the character out
// (removing every letter takes an e acute too, but is no answer).
constexpr std::u16string_view kOrdinary = u"Aa0-.";

bool leavesOrdinaryAlone(const OperationRow& row, TextRules rules) {
  for (std::size_t i = 0; i < kOrdinary.size(); ++i) {
    if (effectOn(row, kOrdinary.substr(i, 1), rules) != Effect::Keeps) return false;
  }
  return true;
}

// The operation that takes `c` out: one that removes it before one that replaces it, the
// classic rules before the Unicode ones, then the table's order.
void pointToOperation(InspectedCharacter& shown, std::u16string_view c) {
  for (const Effect wanted : {Effect::Removes, Effect::Replaces}) {
    for (const TextRules rules : {TextRules::Classic, TextRules::Unicode}) {
      for (const OperationRow& row : operationTable()) {
        if (row.kind != OperationKind::CharacterLevel || row.inputs != OperationInputs::None) {
          continue;
        }
        if (effectOn(row, c, rules) != wanted || !leavesOrdinaryAlone(row, rules)) continue;
        shown.removal = row.operation;
        shown.underUnicodeRules = rules == TextRules::Unicode;
        return;
      }
    }
  }
}

}  // namespace

std::string characterName(char32_t c) {
  const std::span<const NameEntry> table = names();
  const auto at =
      std::lower_bound(table.begin(), table.end(), c,
                       [](const NameEntry& e, char32_t cp) { return e.codePoint < cp; });
  if (at != table.end() && at->codePoint == c) {
    const std::size_t end = at + 1 == table.end() ? nameWordIndices().size() : (at + 1)->firstWord;
    std::string name;
    for (std::size_t w = at->firstWord; w < end; ++w) {
      if (!name.empty()) name += ' ';
      name += nameWords()[nameWordIndices()[w]];
    }
    return name;
  }
  for (const NamedRange& range : namedRanges()) {
    if (c >= range.first && c <= range.last) return rangeName(range, c);
  }
  return "<unnamed>";
}

std::vector<InspectedCharacter> inspectCharacters(std::u16string_view text) {
  std::vector<InspectedCharacter> out;
  std::size_t position = 0;
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint cp = codePointAt(text, at);
    const std::u16string_view alone = text.substr(at, cp.units);
    at += cp.units;
    ++position;
    if (cp.value >= 0x20 && cp.value < 0x7F) continue;
    InspectedCharacter shown;
    shown.position = position;
    shown.codePoint = cp.value;
    shown.name = characterName(cp.value);
    pointToOperation(shown, alone);
    out.push_back(std::move(shown));
  }
  return out;
}

std::u16string inspectionReport(std::u16string_view text, RemovalNaming naming) {
  const std::vector<InspectedCharacter> shown = inspectCharacters(text);
  if (shown.empty()) return u"No invisible or non-ASCII characters.";
  std::string out;
  for (const InspectedCharacter& c : shown) {
    if (!out.empty()) out += '\n';
    out += std::to_string(c.position) + "  U+" + hexOf(c.codePoint) + "  " + c.name;
    if (!c.removal) continue;
    const OperationRow& row = operationRow(*c.removal);
    if (naming == RemovalNaming::CommandLine) {
      out += "  -> qmv apply " + std::string(row.name.empty() ? toUtf8(row.code) : row.name) +
             (c.underUnicodeRules ? " --unicode" : "");
    } else {
      out += "  -> " + toUtf8(operationRibbonLabel(row.operation)) +
             (c.underUnicodeRules ? " (Unicode text)" : "");
    }
  }
  return toUtf16(out);
}

}  // namespace qmv
