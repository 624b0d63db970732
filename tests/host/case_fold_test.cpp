// The case fold over every code point, held to the rule as Python's str and unicodedata
// work it out (tests/host/case_fold_rule.py): each assigned code point folds alike as a code
// point, as UTF-16 (a pair as its code point) and as UTF-8. Python's Unicode version may
// differ from that of Debian's CaseFolding.txt, which the build's table comes from: only
// code points Python assigns are compared.
#include "host/case_fold.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/text.hpp"
#include "support/command_output.hpp"

namespace qmv {
namespace {

struct FoldLine {
  char32_t codePoint;
  char32_t fold;
};

std::vector<FoldLine> foldsFromPython(std::string& version) {
  const std::string command =
      std::string(QMV_PYTHON3) + " " + QMV_SOURCE_DIR + "/tests/host/case_fold_rule.py";
  const std::string text = test::commandOutput(command);
  std::istringstream lines(text);
  std::getline(lines, version);
  std::vector<FoldLine> out;
  for (std::string cp, fold; lines >> cp >> fold;) {
    out.push_back({static_cast<char32_t>(std::stoul(cp, nullptr, 16)),
                   static_cast<char32_t>(std::stoul(fold, nullptr, 16))});
  }
  return out;
}

std::u16string utf16(char32_t c) {
  if (c < 0x10000) return std::u16string(1, static_cast<char16_t>(c));
  const char32_t v = c - 0x10000;
  return {static_cast<char16_t>(0xD800 + (v >> 10)), static_cast<char16_t>(0xDC00 + (v & 0x3FF))};
}

TEST(CaseFold, EveryAssignedCodePointFoldsAsPythonFoldsIt) {
  std::string version;
  const std::vector<FoldLine> rule = foldsFromPython(version);
  SCOPED_TRACE(version + " against CaseFolding " + std::string(caseFoldVersion()));
  // Unicode 14 assigns about 144,000 code points, some 1,400 of which fold to another.
  ASSERT_GT(rule.size(), 140'000U);
  std::size_t folding = 0;
  for (const FoldLine& line : rule) folding += line.fold != line.codePoint ? 1 : 0;
  EXPECT_GT(folding, 1'400U);
  EXPECT_LE(folding, caseFoldMappings());

  // Each code point alone, and between an upper-case ASCII letter and a supplementary
  // capital, so that the neighbours' folds show that units are not mixed up.
  const std::u16string before = u"Q";
  const std::u16string after = utf16(0x10400);  // DESERET CAPITAL LETTER LONG I
  const std::u16string foldedAfter = utf16(0x10428);
  int wrong = 0;
  for (const FoldLine& line : rule) {
    std::u16string text = before;
    text.append(utf16(line.codePoint)).append(after);
    std::u16string expected = u"q";
    expected.append(utf16(line.fold)).append(foldedAfter);
    std::string folded8;
    appendFoldedUtf8(folded8, toUtf8(text));
    const bool same =
        foldCodePoint(line.codePoint) == line.fold && foldCase(text) == expected &&
        folded8 == toUtf8(expected) &&
        (line.codePoint > 0xFFFF || foldCase(static_cast<char16_t>(line.codePoint)) == line.fold);
    if (!same && ++wrong <= 10) {
      ADD_FAILURE() << std::hex << "U+" << static_cast<uint32_t>(line.codePoint)
                    << ": Python folds it to U+" << static_cast<uint32_t>(line.fold)
                    << ", the table to U+" << static_cast<uint32_t>(foldCodePoint(line.codePoint));
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST(CaseFold, TextThatIsNotWellFormedKeepsItsOddUnitsAndBytes) {
  struct Row {
    const char* name;
    std::u16string text;
    std::u16string folded;
  };
  const Row rows[] = {
      {"a lone high surrogate", u"A\xD801Z", u"a\xD801z"},
      {"a lone low surrogate", u"\xDC00\u00C9", u"\xDC00\u00E9"},
      {"a pair turned round", u"\xDC00\xD801", u"\xDC00\xD801"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(foldCase(row.text), row.folded);
  }
  struct ByteRow {
    const char* name;
    std::string text;
    std::string folded;
  };
  const ByteRow byteRows[] = {
      {"a stray continuation byte", "A\x80Z", "a\x80z"},
      {"an encoded surrogate", "\xED\xA0\x80\xC3\x89", "\xED\xA0\x80\xC3\xA9"},
      {"a sequence cut short", "\xC3", "\xC3"},
      {"an overlong A", "\xC1\x81", "\xC1\x81"},
  };
  for (const ByteRow& row : byteRows) {
    SCOPED_TRACE(row.name);
    std::string out;
    appendFoldedUtf8(out, row.text);
    EXPECT_EQ(out, row.folded);
  }
}

}  // namespace
}  // namespace qmv
