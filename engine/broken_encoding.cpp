#include "engine/broken_encoding.hpp"

#include <array>
#include <optional>

#include "engine/unicode_text_data.hpp"

namespace qmv {

namespace {

// Windows-1252's bytes 0x80-0x9F; 0 for the five it leaves unused.
constexpr std::array<char16_t, 32> kHigh1252{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

enum class Reading { Windows1252, Latin1 };

// The character a reading gives for a byte.
char16_t readByte(uint8_t byte, Reading reading) {
  if (reading == Reading::Windows1252 && byte >= 0x80 && byte <= 0x9F) {
    const char16_t c = kHigh1252[byte - 0x80];
    return c != 0 ? c : byte;
  }
  return byte;
}

// The byte the reading gave as `c`; none when it gives `c` for no byte.
std::optional<uint8_t> byteOf(char16_t c, Reading reading) {
  if (c < 0x80 || c > 0xFF) {
    if (c < 0x80) return static_cast<uint8_t>(c);
    if (reading == Reading::Latin1) return std::nullopt;
    for (std::size_t i = 0; i < kHigh1252.size(); ++i) {
      if (kHigh1252[i] == c) return static_cast<uint8_t>(0x80 + i);
    }
    return std::nullopt;
  }
  const auto byte = static_cast<uint8_t>(c);
  return readByte(byte, reading) == c ? std::optional<uint8_t>(byte) : std::nullopt;
}

// Strict UTF-8 decoding: no overlong form, no surrogate, nothing past U+10FFFF.
std::optional<std::u16string> decodeUtf8(const std::string& bytes) {
  std::u16string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<uint8_t>(bytes[i]);
    const int length = b < 0x80             ? 1
                       : (b & 0xE0) == 0xC0 ? 2
                       : (b & 0xF0) == 0xE0 ? 3
                       : (b & 0xF8) == 0xF0 ? 4
                                            : 0;
    if (length == 0 || i + length > bytes.size()) return std::nullopt;
    char32_t c = length == 1 ? b : b & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
      const auto next = static_cast<uint8_t>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (next & 0x3F);
    }
    constexpr std::array<char32_t, 5> kLeast{0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    unicode_data::appendCodePoint(out, c);
    i += length;
  }
  return out;
}

// One reading undone, when the whole text round-trips under it.
std::optional<std::u16string> undoReading(std::u16string_view text, Reading reading) {
  std::string bytes;
  bool beyondAscii = false;
  for (const char16_t c : text) {
    const std::optional<uint8_t> byte = byteOf(c, reading);
    if (!byte) return std::nullopt;
    beyondAscii = beyondAscii || *byte >= 0x80;
    bytes += static_cast<char>(*byte);
  }
  if (!beyondAscii) return std::nullopt;
  // byteOf gives only bytes the reading maps back to the same character: decoding them
  // strictly is the whole round trip.
  return decodeUtf8(bytes);
}

std::optional<std::u16string> undoOneReading(std::u16string_view text) {
  if (auto repaired = undoReading(text, Reading::Windows1252)) return repaired;
  return undoReading(text, Reading::Latin1);
}

}  // namespace

std::u16string repairBrokenEncoding(std::u16string_view text) {
  std::optional<std::u16string> once = undoOneReading(text);
  if (!once) return std::u16string(text);
  std::optional<std::u16string> twice = undoOneReading(*once);
  return twice ? std::move(*twice) : std::move(*once);
}

}  // namespace qmv
