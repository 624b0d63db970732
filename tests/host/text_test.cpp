// Escaping text for markup and for one line of a script or transcript.
#include "host/text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qmv {
namespace {

using namespace std::string_literals;

struct Row {
  const char* name;
  std::u16string text;
  std::u16string escaped;
};

void expectRows(const std::vector<Row>& rows, Escapes escapes) {
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(escapeText(row.text, escapes), row.escaped);
  }
}

TEST(EscapeText, XmlAttribute) {
  expectRows(
      {
          {"plain", u"Remove numbers", u"Remove numbers"},
          {"empty", u"", u""},
          {"markup", u"<a href=\"x\">&</a>", u"&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;"},
          {"an entity stays literal", u"&amp;", u"&amp;amp;"},
          {"apostrophe and controls as they are", u"it's\t\n", u"it's\t\n"},
          {"backslash as it is", u"C:\\x", u"C:\\x"},
          {"astral and lone surrogates as they are", u"\U0001F600\xD800", u"\U0001F600\xD800"},
      },
      Escapes::XmlAttribute);
}

TEST(EscapeText, OneLine) {
  expectRows(
      {
          {"plain", u"Done!", u"Done!"},
          {"line breaks and tab", u"a\nb\r\nc\td", u"a\\nb\\r\\nc\\td"},
          {"other controls in hex", u"\x01\x1F\x7F", u"\\u0001\\u001F\\u007F"},
          {"quotes and backslash as they are", u"say \"hi\" \\", u"say \"hi\" \\"},
          {"no-break space as it is", u"a\u00A0b", u"a\u00A0b"},
          {"markup as it is", u"<&>", u"<&>"},
          {"lone surrogate as it is", u"x\xDC00", u"x\xDC00"},
      },
      Escapes::OneLine);
}

TEST(EscapeText, QuotedString) {
  expectRows(
      {
          {"plain", u"abc", u"abc"},
          {"quote and backslash", u"a\"b\\c", u"a\\\"b\\\\c"},
          {"line breaks and tab", u"\r\n\t", u"\\r\\n\\t"},
          {"controls in hex", u"\x00\x1B\x7F"s, u"\\u0000\\u001B\\u007F"},
          {"surrogate pair stays", u"\U0001F600", u"\U0001F600"},
          {"lone high surrogate", u"a\xD83D", u"a\\uD83D"},
          {"lone low surrogate", u"\xDE00z", u"\\uDE00z"},
          {"reversed pair", u"\xDE00\xD83D", u"\\uDE00\\uD83D"},
          {"high before high then low", u"\xD83D\xD83D\xDE00", u"\\uD83D\U0001F600"},
      },
      Escapes::QuotedString);
}

}  // namespace
}  // namespace qmv
