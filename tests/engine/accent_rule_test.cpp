// The removal of accents over every code point, held to the rule as Python's unicodedata
// and Debian's Scripts.txt work it out (tests/engine/accent_rule.py): a character whose NFD
// is a letter of a script whose marks are accents (the README's list) and marks becomes the
// letter, a mark after such a letter goes, everything else stays; every script's letter is
// tried before every mark, and every letter before an acute. Python's Unicode version may
// differ from that of Debian's unicode-data, which the build's tables come from: only code
// points assigned in both are compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/operations.hpp"
#include "support/command_output.hpp"

namespace qmv {
namespace {

struct RuleLine {
  char32_t codePoint;
  char kind;  ///< 'M' a mark, 'A' a letter taking accents, 'L' another letter, '-'
  std::optional<char32_t> base;
  std::string script;
};

// The script's lines, after its first ("unicodedata VERSION"), which `version` takes.
std::vector<RuleLine> ruleFromPython(std::string& version) {
  const std::string command = std::string(QMV_PYTHON3) + " " + QMV_SOURCE_DIR +
                              "/tests/engine/accent_rule.py " + QMV_UNICODE_DATA + " " +
                              QMV_UNICODE_SCRIPTS;
  const std::string text = test::commandOutput(command);
  std::istringstream lines(text);
  std::getline(lines, version);
  std::vector<RuleLine> rule;
  for (std::string cp, kind, base, script; lines >> cp >> kind >> base >> script;) {
    rule.push_back(
        {static_cast<char32_t>(std::stoul(cp, nullptr, 16)), kind.at(0),
         base == "-" ? std::nullopt : std::optional<char32_t>(std::stoul(base, nullptr, 16)),
         script});
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

// What the rule makes of `first` (when given) followed by `second`.
std::u16string expectedOf(const RuleLine* first, const RuleLine& second, TextRules rules) {
  // Under the Classic rules a character is a code unit: pairs stay as they are.
  const auto whole = [rules](const RuleLine& l) {
    return rules == TextRules::Unicode || l.codePoint < 0x10000;
  };
  const auto alone = [&](const RuleLine& l) {
    return utf16(l.base && whole(l) ? *l.base : l.codePoint);
  };
  std::u16string out = first ? alone(*first) : u"";
  const bool onLetter = first && first->kind == 'A' && whole(*first);
  if (second.kind == 'M' && onLetter && whole(second)) return out;
  return out + (second.kind == 'M' ? utf16(second.codePoint) : alone(second));
}

TEST(AccentRule, EveryCodePointAsPythonsUnicodedataHasIt) {
  std::string version;
  const std::vector<RuleLine> rule = ruleFromPython(version);
  ASSERT_EQ(version.rfind("unicodedata ", 0), 0U) << "the script did not run: " << version;
  // Unicode 14 assigns about 144,000 code points, and some 780 letters with accents of
  // the cased scripts.
  ASSERT_GT(rule.size(), 140'000U);
  EXPECT_GT(std::count_if(rule.begin(), rule.end(), [](const RuleLine& l) { return l.base; }), 700);

  const auto line = [&rule](char32_t cp) {
    return &*std::find_if(rule.begin(), rule.end(),
                          [cp](const RuleLine& l) { return l.codePoint == cp; });
  };
  struct Context {
    std::string name;
    const RuleLine* before;  ///< the code point before, if any
    bool marksOnly;          ///< tried before the marks only
  };
  std::vector<Context> contexts = {{"alone", nullptr, false},
                                   {"after a letter", line(U'a'), false},
                                   {"after a symbol", line(U'='), false}};
  // The first letter of each script, before every mark.
  for (const RuleLine& l : rule) {
    if (l.kind != 'A' && l.kind != 'L') continue;
    const bool seen = std::any_of(contexts.begin(), contexts.end(), [&](const Context& c) {
      return c.before && c.before->script == l.script && c.marksOnly;
    });
    if (!seen) contexts.push_back({"after a letter of " + l.script, &l, true});
  }
  ASSERT_GT(contexts.size(), 150U) << "scripts with letters";
  for (const TextRules rules : {TextRules::Classic, TextRules::Unicode}) {
    CharacterInputs inputs;
    inputs.rules = rules;
    const std::string rulesName = rules == TextRules::Unicode ? ", Unicode" : ", classic";
    int wrong = 0;
    const auto check = [&](const RuleLine* first, const RuleLine& second) {
      const std::u16string text = (first ? utf16(first->codePoint) : u"") + utf16(second.codePoint);
      const std::u16string expected = expectedOf(first, second, rules);
      const std::optional<std::u16string> got = transformText(Operation::RACC, text, inputs);
      if (got != expected && ++wrong <= 20) {
        ADD_FAILURE() << hex(text) << ": got " << (got ? hex(*got) : "no value") << ", expected "
                      << hex(expected) << " (" << version << ")";
      }
    };
    for (const Context& context : contexts) {
      SCOPED_TRACE(context.name + rulesName);
      wrong = 0;
      for (const RuleLine& l : rule) {
        if (!context.marksOnly || l.kind == 'M') check(context.before, l);
      }
      EXPECT_EQ(wrong, 0) << "code points the removal gets wrong";
    }
    SCOPED_TRACE("every letter before an acute" + rulesName);
    wrong = 0;
    const RuleLine* acute = line(0x301);
    for (const RuleLine& l : rule) {
      if (l.kind == 'A' || l.kind == 'L') check(&l, *acute);
    }
    EXPECT_EQ(wrong, 0) << "letters the removal gets wrong";
  }
}

}  // namespace
}  // namespace qmv
