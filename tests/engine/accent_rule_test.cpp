// The removal of accents over every code point, held to the rule as Python's unicodedata
// works it out (tests/engine/accent_rule.py): a character whose NFD is a letter and marks
// becomes the letter, a mark after a letter goes, everything else stays. Python's Unicode
// version may differ from that of Debian's unicode-data, which the build's tables come
// from: only code points assigned in both are compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/operations.hpp"

namespace qmv {
namespace {

struct RuleLine {
  char32_t codePoint;
  bool mark;
  std::optional<char32_t> base;
};

struct PipeClose {
  void operator()(FILE* pipe) const { pclose(pipe); }
};

// The script's lines, after its first ("unicodedata VERSION"), which `version` takes.
std::vector<RuleLine> ruleFromPython(std::string& version) {
  const std::string command = std::string(QMV_PYTHON3) + " " + QMV_SOURCE_DIR +
                              "/tests/engine/accent_rule.py " + QMV_UNICODE_DATA;
  std::unique_ptr<FILE, PipeClose> pipe(popen(command.c_str(), "r"));
  std::string text;
  if (pipe) {
    char buffer[1 << 16];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) {
      text.append(buffer, n);
    }
  }
  std::istringstream lines(text);
  std::getline(lines, version);
  std::vector<RuleLine> rule;
  for (std::string cp, mark, base; lines >> cp >> mark >> base;) {
    rule.push_back(
        {static_cast<char32_t>(std::stoul(cp, nullptr, 16)), mark == "M",
         base == "-" ? std::nullopt : std::optional<char32_t>(std::stoul(base, nullptr, 16))});
  }
  return rule;
}

std::u16string utf16(char32_t cp) {
  if (cp < 0x10000) return std::u16string(1, static_cast<char16_t>(cp));
  cp -= 0x10000;
  return {static_cast<char16_t>(0xD800 + (cp >> 10)), static_cast<char16_t>(0xDC00 + (cp & 0x3FF))};
}

std::string hex(const std::u16string& text) {
  std::string out;
  char unit[8];
  for (char16_t c : text) {
    std::snprintf(unit, sizeof unit, "%s%04X", out.empty() ? "" : " ", static_cast<unsigned>(c));
    out += unit;
  }
  return out;
}

TEST(AccentRule, EveryCodePointAsPythonsUnicodedataHasIt) {
  std::string version;
  const std::vector<RuleLine> rule = ruleFromPython(version);
  ASSERT_EQ(version.rfind("unicodedata ", 0), 0U) << "the script did not run: " << version;
  // Unicode 14 assigns about 144,000 code points, and some 900 letters with accents.
  ASSERT_GT(rule.size(), 140'000U);
  EXPECT_GT(std::count_if(rule.begin(), rule.end(), [](const RuleLine& l) { return l.base; }), 900);

  struct Context {
    const char* name;
    std::u16string before;  ///< the text before the code point
    bool marksGo;           ///< whether a mark after it is an accent
  };
  const Context contexts[] = {
      {"alone", u"", false}, {"after a letter", u"a", true}, {"after a symbol", u"=", false}};
  for (const TextRules rules : {TextRules::Classic, TextRules::Unicode}) {
    for (const Context& context : contexts) {
      SCOPED_TRACE(std::string(context.name) +
                   (rules == TextRules::Unicode ? ", Unicode" : ", classic"));
      CharacterInputs inputs;
      inputs.rules = rules;
      int wrong = 0;
      for (const RuleLine& line : rule) {
        const std::u16string character = utf16(line.codePoint);
        const std::u16string text = context.before + character;
        std::u16string expected = text;
        // Under the Classic rules a character is a code unit: pairs stay as they are.
        if (rules == TextRules::Unicode || line.codePoint < 0x10000) {
          if (line.mark && context.marksGo) {
            expected = context.before;
          } else if (line.base) {
            expected = context.before + utf16(*line.base);
          }
        }
        const std::optional<std::u16string> got = transformText(Operation::RACC, text, inputs);
        if (got != expected && ++wrong <= 20) {
          ADD_FAILURE() << "U+" << hex(character) << ": got " << (got ? hex(*got) : "no value")
                        << ", expected " << hex(expected) << " (" << version << ")";
        }
      }
      EXPECT_EQ(wrong, 0) << "code points the removal gets wrong";
    }
  }
}

}  // namespace
}  // namespace qmv
