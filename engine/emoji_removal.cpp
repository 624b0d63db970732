#include "engine/emoji_removal.hpp"

#include <vector>

#include "engine/unicode_classes.hpp"
#include "engine/unicode_text_data.hpp"

namespace qmv {

namespace {

using namespace unicode_data;

constexpr char32_t kZwj = 0x200D;
constexpr char32_t kTextSelector = 0xFE0E;
constexpr char32_t kEmojiSelector = 0xFE0F;
constexpr char32_t kKeycap = 0x20E3;

uint8_t bitsOf(char32_t c) {
  const std::span<const EmojiRange> ranges = emojiRanges();
  const auto at = std::upper_bound(ranges.begin(), ranges.end(), c,
                                   [](char32_t cp, const EmojiRange& r) { return cp < r.first; });
  if (at == ranges.begin()) return 0;
  const EmojiRange& range = *(at - 1);
  return c <= range.last ? range.bits : 0;
}

bool isRegionalIndicator(char32_t c) { return c >= 0x1F1E6 && c <= 0x1F1FF; }
bool isTag(char32_t c) { return c >= 0xE0020 && c <= 0xE007F; }
bool isKeycapBase(char32_t c) { return (c >= u'0' && c <= u'9') || c == u'#' || c == u'*'; }
bool isModifier(char32_t c) { return (bitsOf(c) & kEmojiModifier) != 0; }
bool isPictograph(char32_t c) { return (bitsOf(c) & (kEmoji | kExtendedPictographic)) != 0; }

// The text's code points with where each starts.
struct Point {
  char32_t value;
  std::size_t at;
  std::size_t units;
};

// The end (exclusive index into points) of the emoji sequence starting at i; i when none.
std::size_t sequenceEnd(const std::vector<Point>& p, std::size_t i) {
  const auto at = [&](std::size_t k) { return k < p.size() ? p[k].value : char32_t{0}; };
  const char32_t c = at(i);
  if (isRegionalIndicator(c)) return isRegionalIndicator(at(i + 1)) ? i + 2 : i + 1;
  if (isKeycapBase(c)) {
    if (at(i + 1) == kKeycap) return i + 2;
    if (at(i + 1) == kEmojiSelector && at(i + 2) == kKeycap) return i + 3;
    return i;
  }
  const uint8_t bits = bitsOf(c);
  const bool emojiDefault = (bits & kEmojiPresentation) != 0;
  const bool joined = at(i + 1) == kZwj && isPictograph(at(i + 2));
  const bool qualified =
      at(i + 1) == kEmojiSelector || at(i + 1) == kKeycap || isModifier(at(i + 1)) || joined;
  if (!(bits & (kEmoji | kExtendedPictographic)) || !(emojiDefault || qualified)) return i;
  std::size_t k = i + 1;
  for (;;) {
    const char32_t next = at(k);
    if (next == kEmojiSelector || next == kTextSelector || next == kKeycap || isModifier(next) ||
        isTag(next)) {
      ++k;
    } else if (next == kZwj && isPictograph(at(k + 1))) {
      k += 2;
    } else {
      return k;
    }
  }
}

}  // namespace

std::u16string removeEmojis(std::u16string_view text) {
  std::vector<Point> points;
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint cp = codePointAt(text, at);
    points.push_back({cp.value, at, cp.units});
    at += cp.units;
  }
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < points.size();) {
    const std::size_t end = sequenceEnd(points, i);
    if (end == i) {
      out.append(text.substr(points[i].at, points[i].units));
      ++i;
    } else {
      i = end;
    }
  }
  return out;
}

}  // namespace qmv
