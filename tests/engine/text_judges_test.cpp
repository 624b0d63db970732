// The case changes, the emoji removal, the look-alike repair and the repair of broken
// encodings and the inspector's names, each over its judge's whole table: Python's unicodedata over
// every code point, Unicode's NormalizationTest and emoji-test, Python's codecs over Debian's word
// lists (tests/engine/text_judges.py writes the tables).
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/broken_encoding.hpp"
#include "engine/change_case.hpp"
#include "engine/character_inspector.hpp"
#include "engine/emoji_removal.hpp"
#include "engine/look_alikes.hpp"
#include "engine/operations.hpp"
#include "engine/unicode_classes.hpp"
#include "engine/unicode_text_data.hpp"
#include "host/text.hpp"
#include "support/command_output.hpp"

namespace qmv {
namespace {

std::u16string fromHex(const std::string& field) {
  std::u16string out;
  std::istringstream points(field);
  for (std::string cp; points >> cp;) {
    unicode_data::appendCodePoint(out, static_cast<char32_t>(std::stoul(cp, nullptr, 16)));
  }
  return out;
}

struct Case {
  std::u16string given;
  std::u16string expected;
};

// The judges' tables by judge.
const std::map<std::string, std::vector<Case>>& judged() {
  static const std::map<std::string, std::vector<Case>> tables = [] {
    const std::string command = std::string(QMV_PYTHON3) + " " + QMV_SOURCE_DIR +
                                "/tests/engine/text_judges.py /usr/share/unicode /usr/share/dict";
    const std::string text = test::commandOutput(command);
    std::map<std::string, std::vector<Case>> out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      const std::size_t tab = line.find('\t');
      const std::size_t second = line.find('\t', tab + 1);
      if (tab == std::string::npos || second == std::string::npos) continue;
      std::string judge = line.substr(0, tab);
      if (judge.starts_with("clean-")) judge = "clean";
      if (judge.starts_with("mojibake-")) judge = "mojibake";
      out[judge].push_back(
          {fromHex(line.substr(tab + 1, second - tab - 1)), fromHex(line.substr(second + 1))});
    }
    return out;
  }();
  return tables;
}

struct JudgeRow {
  const char* judge;
  std::u16string (*transform)(std::u16string_view);
  std::size_t atLeast;  ///< the table must be this long: a judge that said nothing fails
};

TEST(TextJudges, EachOperationGivesWhatItsJudgeSaysOverItsWholeTable) {
  const JudgeRow rows[] = {
      {"upper", toUpperCase, 250000},
      {"lower", toLowerCase, 250000},
      {"nfkc", normalizeCompatibility, 250000},
      {"nfkc-conformance", normalizeCompatibility, 90000},
      {"widths", normalizeWidths, 250000},
      {"emoji", removeEmojis, 4000},
      {"mojibake", repairBrokenEncoding, 1000000},
      {"clean", repairBrokenEncoding, 1300000},
      {"name",
       [](std::u16string_view c) { return toUtf16(characterName(codePointAt(c, 0).value)); },
       130000},
  };
  for (const JudgeRow& row : rows) {
    SCOPED_TRACE(row.judge);
    const auto found = judged().find(row.judge);
    ASSERT_NE(found, judged().end());
    EXPECT_GE(found->second.size(), row.atLeast);
    std::size_t wrong = 0;
    for (const Case& c : found->second) {
      const std::u16string got = row.transform(c.given);
      if (got == c.expected) continue;
      if (++wrong <= 5) {
        ADD_FAILURE() << toUtf8(c.given) << " gave " << toUtf8(got) << ", not "
                      << toUtf8(c.expected);
      }
    }
    EXPECT_EQ(wrong, 0u);
  }
}

struct RuleRow {
  const char* name;
  Operation operation;
  std::u16string given;
  std::u16string expected;
};

// Proper as Microsoft documents PROPER, Sentence case as its rule says, the Ribbon's
// operations through the table.
TEST(TextJudges, ProperAndSentenceCaseFollowTheirRules) {
  const RuleRow rows[] = {
      {"PROPER's first example", Operation::CPRP, u"this is a TITLE", u"This Is A Title"},
      {"PROPER's second example", Operation::CPRP, u"2-way street", u"2-Way Street"},
      {"PROPER's third example", Operation::CPRP, u"76BudGet", u"76Budget"},
      {"an apostrophe starts a word", Operation::CPRP, u"o'neil", u"O'Neil"},
      {"a combining accent stays in its word", Operation::CPRP, u"e\u0301cole", u"E\u0301cole"},
      {"a digraph to its title case", Operation::CPRP, u"\u01C6emal", u"\u01C5emal"},
      {"each sentence", Operation::CSNT, u"HELLO. HOW ARE YOU? fine!",
       u"Hello. How are you? Fine!"},
      {"an end mark without a space", Operation::CSNT, u"version 2.0ABC", u"Version 2.0abc"},
      {"a closing quote after the end mark", Operation::CSNT, u"\"yes.\" no", u"\"Yes.\" No"},
      {"a line break", Operation::CSNT, u"one\ntwo", u"One\nTwo"},
      {"digits first", Operation::CSNT, u"3 APPLES", u"3 Apples"},
  };
  for (const RuleRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(transformText(row.operation, row.given, {}), row.expected);
  }
}

}  // namespace
}  // namespace qmv
