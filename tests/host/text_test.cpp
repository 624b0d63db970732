// Escaping text for markup and for one line of a script or transcript.
#include "host/text.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qmv {
namespace {

using namespace std::string_literals;

TEST(Utf8, FirstInvalidByteByOffset) {
  struct Row {
    std::string bytes;
    std::optional<std::size_t> bad;
  };
  for (const Row& row :
       {Row{"", std::nullopt}, Row{"plain ascii text that is long", std::nullopt},
        Row{"0123456789abcdef\xC3\xA9", std::nullopt}, Row{"0123456789abcdef\xC3", 16},
        Row{"\xF0\x9F\x98\x80\xF0\x9F\x98", 4}, Row{"\xEF\xBF\xBF\xF4\x8F\xBF\xBF", std::nullopt},
        Row{"\xE0\x9F\xBF", 0}, Row{"\xF8\x88\x80\x80\x80", 0}, Row{"ab\xC0\xAF", 2},
        Row{"\xED\xA0\x80", 0}, Row{"\xF4\x90\x80\x80", 0}}) {
    SCOPED_TRACE(row.bytes);
    EXPECT_EQ(firstInvalidUtf8(row.bytes), row.bad);
    EXPECT_EQ(isValidUtf8(row.bytes), !row.bad);
    if (!row.bad) {
      EXPECT_EQ(toUtf8(toUtf16(row.bytes)), row.bytes);
    }
  }
}

// The bulk converters against the one-code-point encoders, over every scalar value (each
// between ASCII neighbours, so the short path is left and rejoined) and over broken input:
// a lone surrogate and each byte of a broken sequence become U+FFFD (the exact encoder refuses
// a lone surrogate).
TEST(Utf8, BulkConvertersMatchTheCodePointEncoders) {
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string utf8 = "a";
    appendUtf8(utf8, cp);
    utf8 += 'z';
    std::u16string utf16 = u"a";
    appendUtf16(utf16, cp);
    utf16 += u'z';
    std::string exactly;
    if (toUtf16(utf8) != utf16 || toUtf8(utf16) != utf8 || !toUtf8Exactly(utf16, exactly) ||
        exactly != utf8) {
      ADD_FAILURE() << "U+" << std::hex << static_cast<uint32_t>(cp);
      break;
    }
  }
  struct Row {
    const char* name;
    std::u16string utf16;
    std::string utf8;
  };
  for (const Row& row :
       {Row{"lone high", u"a\xD800", "a\xEF\xBF\xBD"},
        Row{"lone low then pair", u"\xDC00\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        Row{"high at the end", u"\xE9\xD83D", "\xC3\xA9\xEF\xBF\xBD"}}) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(toUtf8(row.utf16), row.utf8);
    std::string exactly;
    EXPECT_FALSE(toUtf8Exactly(row.utf16, exactly));  // the exact form refuses a lone surrogate
  }
  EXPECT_EQ(toUtf16("x\xC3"), u"x\xFFFD");
  EXPECT_EQ(toUtf16("\xF0\x9F\x98y"), u"\xFFFD\xFFFD\xFFFDy");
}

TEST(EscapeText, EachSetEscapesItsUnitsAndNoOther) {
  struct Row {
    const char* name;
    Escapes escapes;
    std::u16string text;
    std::u16string escaped;
  };
  constexpr Escapes kXml = Escapes::XmlAttribute;
  constexpr Escapes kLine = Escapes::OneLine;
  constexpr Escapes kQuoted = Escapes::QuotedString;
  const std::vector<Row> rows{
      {"xml: plain", kXml, u"Remove numbers", u"Remove numbers"},
      {"xml: empty", kXml, u"", u""},
      {"xml: markup", kXml, u"<a href=\"x\">&</a>", u"&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;"},
      {"xml: an entity stays literal", kXml, u"&amp;", u"&amp;amp;"},
      {"xml: apostrophe and controls as they are", kXml, u"it's\t\n", u"it's\t\n"},
      {"xml: backslash as it is", kXml, u"C:\\x", u"C:\\x"},
      {"xml: surrogates as they are", kXml, u"\U0001F600\xD800", u"\U0001F600\xD800"},
      {"line: plain", kLine, u"Done!", u"Done!"},
      {"line: line breaks and tab", kLine, u"a\nb\r\nc\td", u"a\\nb\\r\\nc\\td"},
      {"line: other controls in hex", kLine, u"\x01\x1F\x7F", u"\\u0001\\u001F\\u007F"},
      {"line: quotes and backslash as they are", kLine, u"say \"hi\" \\", u"say \"hi\" \\"},
      {"line: no-break space as it is", kLine, u"a\u00A0b", u"a\u00A0b"},
      {"line: markup as it is", kLine, u"<&>", u"<&>"},
      {"line: lone surrogate as it is", kLine, u"x\xDC00", u"x\xDC00"},
      {"quoted: plain", kQuoted, u"abc", u"abc"},
      {"quoted: quote and backslash", kQuoted, u"a\"b\\c", u"a\\\"b\\\\c"},
      {"quoted: line breaks and tab", kQuoted, u"\r\n\t", u"\\r\\n\\t"},
      {"quoted: controls in hex", kQuoted, u"\x00\x1B\x7F"s, u"\\u0000\\u001B\\u007F"},
      {"quoted: surrogate pair stays", kQuoted, u"\U0001F600", u"\U0001F600"},
      {"quoted: lone high surrogate", kQuoted, u"a\xD83D", u"a\\uD83D"},
      {"quoted: lone low surrogate", kQuoted, u"\xDE00z", u"\\uDE00z"},
      {"quoted: reversed pair", kQuoted, u"\xDE00\xD83D", u"\\uDE00\\uD83D"},
      {"quoted: high before a pair", kQuoted, u"\xD83D\xD83D\xDE00", u"\\uD83D\U0001F600"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(escapeText(row.text, row.escapes), row.escaped);
  }
}

}  // namespace
}  // namespace qmv
