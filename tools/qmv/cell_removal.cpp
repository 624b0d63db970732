#include "tools/qmv/cell_removal.hpp"

#include <cstdint>
#include <unordered_map>
#include <utility>

#include "engine/find_nth_occurrence.hpp"
#include "engine/operations.hpp"
#include "engine/unicode_transforms.hpp"
#include "host/cell_text.hpp"
#include "platform/memory/memory_application.hpp"

namespace qmv::cli {
namespace {

// Characters beyond U+FFFF stand for the transforms as one unit each, taken from the
// surrogate range: valid text never holds a lone surrogate, so these units mean nothing
// else. 2,048 distinct such characters fit in one text with --chars and --separator.
constexpr char16_t kFirstSlot = 0xD800;
constexpr std::size_t kSlots = 0x800;

// The occurrence entries of the wizard's list, by their index there.
int occurrenceEntryIndex(const std::u16string& entry) {
  if (entry == u"1st") return 0;
  if (entry == u"2nd") return 1;
  if (entry == u"3rd") return 2;
  if (entry == u"4th") return 3;
  return 4;  // "Last"
}

// One code point of valid UTF-8 at `i`, moving `i` past it.
char32_t nextCodePoint(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  if (b0 < 0xE0 && i + 1 < text.size()) {
    const char32_t c = ((b0 & 0x1Fu) << 6) | (byte(i + 1) & 0x3Fu);
    i += 2;
    return c;
  }
  if (b0 < 0xF0 && i + 2 < text.size()) {
    const char32_t c = ((b0 & 0x0Fu) << 12) | ((byte(i + 1) & 0x3Fu) << 6) | (byte(i + 2) & 0x3Fu);
    i += 3;
    return c;
  }
  if (i + 3 < text.size()) {
    const char32_t c = ((b0 & 0x07u) << 18) | ((byte(i + 1) & 0x3Fu) << 12) |
                       ((byte(i + 2) & 0x3Fu) << 6) | (byte(i + 3) & 0x3Fu);
    i += 4;
    return c;
  }
  ++i;
  return 0xFFFD;  // not reached for valid UTF-8
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-16 units of valid UTF-8.
std::size_t utf16Units(std::string_view text) {
  std::size_t units = 0;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b & 0xC0) != 0x80) units += b >= 0xF0 ? 2 : 1;
  }
  return units;
}

}  // namespace

// Texts with each character one unit, and the slots that stand for the characters beyond
// U+FFFF: those of the steps' inputs for the whole run, those of one text until the next.
struct CellRemover::Mapped {
  std::unordered_map<char32_t, char16_t> slotOf;
  std::vector<char32_t> codeOf;
  std::size_t fixedSlots = 0;
  std::vector<std::u16string> chars;       ///< each step's --chars, mapped
  std::vector<std::u16string> separators;  ///< each step's separator, mapped
  std::u16string text;
  /// Under the Unicode text rules the transforms see real surrogate pairs (they count a
  /// pair as one character and classify the code point), so no slots are used.
  bool pairs = false;
  memory::MemoryApplication host;
  WorksheetFunction* functions = nullptr;

  // Appends the mapped units of `utf8`; false when the slots run out.
  bool map(std::string_view utf8, std::u16string& out) {
    out.clear();
    for (std::size_t i = 0; i < utf8.size();) {
      const char32_t c = nextCodePoint(utf8, i);
      if (c < 0x10000) {
        out += static_cast<char16_t>(c);
        continue;
      }
      if (pairs) {
        out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        continue;
      }
      auto found = slotOf.find(c);
      if (found == slotOf.end()) {
        if (codeOf.size() >= kSlots) return false;
        const auto slot = static_cast<char16_t>(kFirstSlot + codeOf.size());
        found = slotOf.emplace(c, slot).first;
        codeOf.push_back(c);
      }
      out += found->second;
    }
    return true;
  }

  void unmap(std::u16string_view units, std::string& out) const {
    out.clear();
    if (pairs) {
      for (std::size_t at = 0; at < units.size();) {
        const CodePoint cp = codePointAt(units, at);
        appendUtf8(out,
                   cp.units == 1 && cp.value >= 0xD800 && cp.value < 0xE000 ? 0xFFFD : cp.value);
        at += cp.units;
      }
      return;
    }
    for (const char16_t u : units) {
      const bool slot = u >= kFirstSlot && u < kFirstSlot + kSlots;
      appendUtf8(out, slot ? codeOf[static_cast<std::size_t>(u - kFirstSlot)] : u);
    }
  }

  // Forgets the slots of the last text.
  void release() {
    for (std::size_t i = fixedSlots; i < codeOf.size(); ++i) slotOf.erase(codeOf[i]);
    codeOf.resize(fixedSlots);
  }
};

CellRemover::CellRemover(std::vector<CharacterStep> steps)
    : steps_(std::move(steps)), mapped_(std::make_unique<Mapped>()) {
  Mapped& m = *mapped_;
  m.pairs = !steps_.empty() && steps_.front().rules == TextRules::Unicode;
  for (const CharacterStep& step : steps_) {
    m.chars.emplace_back();
    m.separators.emplace_back();
    m.map(step.chars, m.chars.back());
    if (step.separator) m.map(*step.separator, m.separators.back());
    if (operationRow(step.operation).usesHostFunctions && m.functions == nullptr) {
      m.functions = &m.host.worksheetFunction();
    }
  }
  m.fixedSlots = m.codeOf.size();
}

CellRemover::~CellRemover() = default;

CellRemover::Outcome CellRemover::apply(std::string_view text, std::string& out) {
  if (utf16Units(text) > kMaxCellUnits) return Outcome::TooLong;
  Mapped& m = *mapped_;
  struct Release {
    Mapped& m;
    ~Release() { m.release(); }
  } release{m};
  if (!m.map(text, m.text)) return Outcome::Unchanged;  // a run's slots are full: left alone
  bool changed = false;
  for (std::size_t i = 0; i < steps_.size(); ++i) {
    const CharacterStep& step = steps_[i];
    CharacterInputs inputs;
    inputs.userChars = m.chars[i];
    inputs.rules = step.rules;
    if (step.count) inputs.charCount = static_cast<int16_t>(*step.count);
    if (step.separator) {
      // The wizard's start position: the separator's occurrence, none leaving the text.
      const std::u16string& separator = m.separators[i];
      int32_t found = 0;
      if (step.occurrenceIsEntry) {
        const int entry = occurrenceEntryIndex(step.occurrence);
        found = entry == 0   ? findFirstExact(m.text, separator)
                : entry == 4 ? findLastExact(m.text, separator)
                             : FindNthOccurrence(m.text, entry + 1, separator);
      } else {
        found = FindNthOccurrence(
            m.text, std::stoi(std::string(step.occurrence.begin(), step.occurrence.end())),
            separator);
      }
      if (step.rules == TextRules::Unicode) found = codePointPosition(m.text, found);
      if (found == 0 || found > INT16_MAX) continue;
      inputs.startPosition = static_cast<int16_t>(found);
      // The wizard's box for the number of characters holds 1 unless one is given.
      if (!inputs.charCount) inputs.charCount = 1;
    } else if (step.start) {
      inputs.startPosition = static_cast<int16_t>(*step.start);
    }
    std::optional<std::u16string> result =
        transformText(step.operation, m.text, inputs, m.functions);
    if (!result || *result == m.text) continue;
    m.text = std::move(*result);
    changed = true;
  }
  if (!changed) return Outcome::Unchanged;
  m.unmap(m.text, out);
  return out == text ? Outcome::Unchanged : Outcome::Changed;
}

void valueKey(std::string_view text, std::u16string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = nextCodePoint(text, i);
    if (c < 0x10000) {
      out += foldCase(static_cast<char16_t>(c));
    } else {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
}

}  // namespace qmv::cli
