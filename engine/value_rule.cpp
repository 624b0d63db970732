#include "engine/value_rule.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "host/case_fold.hpp"
#include "host/cell_text.hpp"
#include "host/text.hpp"

namespace qmv {

namespace {

/// UTF-16 units of UTF-8 text: one per sequence, two for a code point past U+FFFF.
std::size_t utf16Units(std::string_view utf8) {
  std::size_t units = 0;
  for (const char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    if (!isUtf8Continuation(c)) units += b >= 0xF0 ? 2 : 1;
  }
  return units;
}

}  // namespace

bool textValueKey(std::string& out, std::string_view utf8, ValueMode mode) {
  out.clear();
  if (utf8.empty()) return false;
  // Three bytes are at most one unit each: only a longer text can be too long.
  if (mode != ValueMode::KeepFirst && utf8.size() > kMaxCriterionChars &&
      utf16Units(utf8) > kMaxCriterionChars) {
    return false;
  }
  appendFoldedUtf8(out, utf8);
  return true;
}

void foldedText(std::u16string& out, std::u16string_view text) { foldCaseInto(out, text); }

bool foldedValueText(std::u16string& out, const Value& value, const HostLocale& locale) {
  if (const auto* text = std::get_if<std::u16string>(&value)) {
    foldedText(out, *text);
    return true;
  }
  const std::optional<std::u16string> converted = cellText(value, locale);
  if (!converted) {
    out.clear();
    return false;
  }
  foldedText(out, *converted);
  return true;
}

bool foldsTo(std::u16string_view text, std::u16string_view folded) {
  if (text.size() != folded.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (isHighSurrogate(c) && i + 1 < text.size()) {
      // A pair folds as the code point it makes (a lone surrogate as it is).
      if (std::u16string_view pair = text.substr(i, 2); foldCase(pair) != folded.substr(i, 2)) {
        return false;
      }
      ++i;
      continue;
    }
    if (foldCase(c) != folded[i]) return false;
  }
  return true;
}

bool valueKey(std::string& out, const Value& value, const HostLocale& locale, ValueMode mode) {
  out.clear();
  std::u16string folded;
  if (!foldedValueText(folded, value, locale) || folded.empty()) return false;
  if (mode != ValueMode::KeepFirst && folded.size() > kMaxCriterionChars) return false;
  out = toUtf8(folded);
  return true;
}

std::optional<std::string> valueKey(const Value& value, const HostLocale& locale, ValueMode mode) {
  std::string key;
  if (!valueKey(key, value, locale, mode)) return std::nullopt;
  return key;
}

/// An open-addressing table of 8-byte slots over chunks of key bytes. A slot holds, from
/// the low bits: where its key starts in the chunks (plus one; 0 is a free slot), the key's
/// state, and a tag of the hash's high bits that spares most comparisons of bytes. A key is
/// stored as its length (7 bits a byte) and its bytes, never split between chunks.
struct ValueTally::Table {
  static constexpr unsigned kWhereBits = 38;
  static constexpr unsigned kStateBits = 2;
  static constexpr uint64_t kWhereMask = (uint64_t{1} << kWhereBits) - 1;
  static constexpr uint64_t kStateMask = (uint64_t{1} << kStateBits) - 1;
  static constexpr unsigned kTagShift = kWhereBits + kStateBits;
  static constexpr unsigned kChunkBits = 20;
  static constexpr std::size_t kChunkBytes = std::size_t{1} << kChunkBits;

  /// Counted once, twice or more, and (keep one) seen.
  static constexpr uint64_t kOnce = 1, kMany = 2, kSeen = 3;

  std::vector<uint64_t> slots = std::vector<uint64_t>(1024, 0);
  /// Chunks of kChunkBytes; a key longer than one takes a run of them, owned by its first.
  std::vector<std::unique_ptr<char[]>> owned;
  std::vector<char*> chunks;       ///< the start of each chunk, by offset >> kChunkBits
  std::size_t used = kChunkBytes;  ///< bytes used in the last chunk
  std::size_t keys = 0;

  static uint64_t hashOf(std::string_view key) { return std::hash<std::string_view>{}(key); }

  /// The key stored at offset `where`.
  std::string_view keyAt(uint64_t where) const {
    const char* p = chunks[where >> kChunkBits] + (where & (kChunkBytes - 1));
    std::size_t length = 0;
    unsigned shift = 0;
    for (;;) {
      const auto b = static_cast<unsigned char>(*p++);
      length |= static_cast<std::size_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) break;
      shift += 7;
    }
    return {p, length};
  }

  /// Stores `key`; its offset.
  uint64_t store(std::string_view key) {
    const std::size_t need = key.size() + 10;  // the length takes at most 10 bytes
    if (used + need > kChunkBytes) {
      const std::size_t run = (need + kChunkBytes - 1) / kChunkBytes;
      owned.push_back(std::make_unique<char[]>(run * kChunkBytes));
      for (std::size_t i = 0; i < run; ++i) chunks.push_back(owned.back().get() + i * kChunkBytes);
      // A key of its own run of chunks leaves the run full.
      used = run == 1 ? 0 : kChunkBytes;
      if (run > 1) {
        const uint64_t where = static_cast<uint64_t>(chunks.size() - run) << kChunkBits;
        write(chunks[chunks.size() - run], key);
        return where;
      }
    }
    const uint64_t where = (static_cast<uint64_t>(chunks.size() - 1) << kChunkBits) + used;
    used += write(chunks.back() + used, key);
    return where;
  }

  /// Writes the length and bytes of `key` at `p`; the bytes written.
  static std::size_t write(char* p, std::string_view key) {
    char* const start = p;
    std::size_t length = key.size();
    do {
      const auto b = static_cast<unsigned char>(length & 0x7F);
      length >>= 7;
      *p++ = static_cast<char>(length != 0 ? (b | 0x80) : b);
    } while (length != 0);
    std::memcpy(p, key.data(), key.size());
    return static_cast<std::size_t>(p - start) + key.size();
  }

  /// The slot of `key`; null when there is none.
  const uint64_t* find(std::string_view key) const {
    const uint64_t hash = hashOf(key);
    const uint64_t tag = hash >> kTagShift;
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = static_cast<std::size_t>(hash) & mask; slots[i] != 0; i = (i + 1) & mask) {
      if ((slots[i] >> kTagShift) == tag && keyAt((slots[i] & kWhereMask) - 1) == key) {
        return &slots[i];
      }
    }
    return nullptr;
  }

  /// The slot of `key`, made with state `state` when there is none; `made` tells which.
  uint64_t& slotOf(std::string_view key, uint64_t state, bool& made) {
    if ((keys + 1) * 4 > slots.size() * 3) grow();
    const uint64_t hash = hashOf(key);
    const uint64_t tag = hash >> kTagShift;
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
      uint64_t& slot = slots[i];
      if (slot == 0) {
        const uint64_t where = store(key);
        if (where + 1 > kWhereMask) throw std::length_error("value removal: too many values");
        slot = (tag << kTagShift) | (state << kWhereBits) | (where + 1);
        ++keys;
        made = true;
        return slot;
      }
      if ((slot >> kTagShift) == tag && keyAt((slot & kWhereMask) - 1) == key) {
        made = false;
        return slot;
      }
    }
  }

  void grow() {
    std::vector<uint64_t> old(slots.size() * 2, 0);
    old.swap(slots);
    const std::size_t mask = slots.size() - 1;
    for (const uint64_t slot : old) {
      if (slot == 0) continue;
      const uint64_t hash = hashOf(keyAt((slot & kWhereMask) - 1));
      std::size_t i = static_cast<std::size_t>(hash) & mask;
      while (slots[i] != 0) i = (i + 1) & mask;
      slots[i] = slot;
    }
  }

  static uint64_t stateOf(uint64_t slot) { return (slot >> kWhereBits) & kStateMask; }
  static void setState(uint64_t& slot, uint64_t state) {
    slot = (slot & ~(kStateMask << kWhereBits)) | (state << kWhereBits);
  }
};

ValueTally::ValueTally(ValueMode mode) : mode_(mode), table_(std::make_unique<Table>()) {}
ValueTally::ValueTally(ValueTally&&) noexcept = default;
ValueTally& ValueTally::operator=(ValueTally&&) noexcept = default;
ValueTally::~ValueTally() = default;

void ValueTally::count(std::string_view key) {
  if (mode_ == ValueMode::KeepFirst) return;
  bool made = false;
  uint64_t& slot = table_->slotOf(key, Table::kOnce, made);
  if (!made) Table::setState(slot, Table::kMany);
}

bool ValueTally::clears(std::string_view key) {
  bool made = false;
  switch (mode_) {
    case ValueMode::KeepFirst: {
      table_->slotOf(key, Table::kSeen, made);
      return !made;
    }
    case ValueMode::AllRepeated:
    case ValueMode::AllUnique: {
      // A key the first read did not count occurs once, and is not kept.
      const uint64_t* slot = table_->find(key);
      const uint64_t state = slot != nullptr ? Table::stateOf(*slot) : Table::kOnce;
      return mode_ == ValueMode::AllRepeated ? state == Table::kMany : state == Table::kOnce;
    }
  }
  return false;
}

std::size_t ValueTally::distinct() const { return table_->keys; }

std::vector<bool> valueListClears(ValueMode mode,
                                  const std::vector<std::optional<std::string>>& keys) {
  ValueTally tally(mode);
  for (const std::optional<std::string>& key : keys) {
    if (key) tally.count(*key);
  }
  std::vector<bool> clears(keys.size(), false);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i]) clears[i] = tally.clears(*keys[i]);
  }
  return clears;
}

std::vector<bool> valueClears(ValueMode mode, std::span<const Value> column,
                              const HostLocale& locale) {
  std::vector<std::optional<std::string>> keys;
  keys.reserve(column.size());
  for (const Value& value : column) keys.push_back(valueKey(value, locale, mode));
  return valueListClears(mode, keys);
}

}  // namespace qmv
