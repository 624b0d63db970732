// The wizard's Unicode text box: it shows the stored rules, stores a change, and its run
// counts code points and Unicode classes.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/text_rules.hpp"
#include "wizard/wizard_fixture.hpp"

namespace qmv::testing {
namespace {

class WizardUnicode : public WizardFixture {};

TEST_F(WizardUnicode, TheBoxShowsAndStoresTheSetting) {
  struct Row {
    const char* name;
    std::optional<std::u16string> stored;
    bool toggled;
    bool shown;
    TextRules after;
  };
  const Row rows[] = {
      {"never stored: clear", std::nullopt, false, false, TextRules::Classic},
      {"stored on: checked", u"1", false, true, TextRules::Unicode},
      {"stored off: clear", u"0", false, false, TextRules::Classic},
      {"something else: clear", u"yes", false, false, TextRules::Classic},
      {"checking it stores on", u"0", true, false, TextRules::Unicode},
      {"clearing it stores off", u"1", true, true, TextRules::Classic},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.stored) host->setAddinSetting(kTextRulesSetting, *row.stored);
    if (row.toggled) user.toggle("chkUnicode");
    user.close();
    openWizard();
    // The box as it was shown, before the queued toggle: the toggle flips it.
    EXPECT_EQ(control("chkUnicode").checked(), row.shown != row.toggled);
    EXPECT_EQ(textRulesSetting(*host), row.after);
  }
}

TEST_F(WizardUnicode, ThePreviewFollowsTheBox) {
  column({u"a\u00A0b", u"c d"});
  std::vector<std::u16string> seen;
  const auto look = [&seen](memory::HeadlessToolkit&, Form& form) {
    seen.push_back(form.control("lblPreview").caption());
  };
  // "Remove all spaces" in list mode, then the box checked and cleared again.
  user.toggle("CheckBox1").choose("cmbAN", 2).then(look);
  user.toggle("chkUnicode").then(look).toggle("chkUnicode").then(look).close();
  openWizard();
  const std::u16string classic = u"1 cell would change: \"c d\" -> \"cd\"";
  EXPECT_EQ(seen, (std::vector<std::u16string>{
                      classic, u"2 cells would change: \"a\u00A0b\" -> \"ab\"; \"c d\" -> \"cd\"",
                      classic}));
  EXPECT_EQ(textRulesSetting(*host), TextRules::Classic);
}

struct ListRow {
  const char* name;
  int operation;
  std::u16string text;
  std::u16string classic;
  std::u16string unicode;
};

TEST_F(WizardUnicode, ListModeUnderBothRules) {
  const ListRow rows[] = {
      {"all alphabet", 1, u"\u00C9t\u00E9 1-", u"\u00C9\u00E9 1-", u" 1-"},
      {"all spaces", 2, u"a\u00A0b\u3000c", u"a\u00A0b\u3000c", u"abc"},
      {"non-printable", 5, u"a\u200Bb\u0085c", u"a\u200Bb\u0085c", u"abc"},
      {"upper case", 6, u"\u03A9\u03C9", u"\u03A9\u03C9", u"\u03C9"},
  };
  for (const ListRow& row : rows) {
    SCOPED_TRACE(row.name);
    for (bool unicode : {false, true}) {
      SCOPED_TRACE(unicode ? "unicode" : "classic");
      column({row.text});
      if (unicode) user.toggle("chkUnicode");
      user.toggle("CheckBox1").choose("cmbAN", row.operation).press("CommandButton1");
      openWizard();
      EXPECT_EQ(textAt(1), unicode ? row.unicode : row.classic);
      setTextRulesSetting(*host, TextRules::Classic);
    }
  }
}

TEST_F(WizardUnicode, ASeparatorAfterAPairGivesACharacterPosition) {
  // Two characters before the first hyphen; the pair is one of them under Unicode rules.
  for (bool unicode : {false, true}) {
    SCOPED_TRACE(unicode ? "unicode" : "classic");
    column({u"a\U0001F600-bc"});
    if (unicode) user.toggle("chkUnicode");
    separatorMode().choose("cmbSpChar", 3).choose("cmbPos", 0);
    cut(true, u"2").press("CommandButton1");
    openWizard();
    EXPECT_EQ(textAt(1), unicode ? u"-bc" : u"a-bc");
    setTextRulesSetting(*host, TextRules::Classic);
  }
}

}  // namespace
}  // namespace qmv::testing

namespace qmv::testing {
namespace {

// The separator box takes one character as the rules count them: an emoji is one under
// the Unicode rules and two under the classic ones, where the box refuses it; the run then
// does not start with the box's design text, whose last letter no one chose.
TEST_F(WizardUnicode, TheSeparatorBoxTakesOneCharacter) {
  const std::u16string emoji = u"\U0001F600";
  struct Row {
    const char* name;
    bool unicode;
    std::vector<std::u16string> typed;
    std::u16string box;
    std::u16string expected;
    std::vector<std::u16string> told;
  };
  const std::u16string text = u"bar" + emoji + u"ber";
  const Row rows[] = {
      {"an emoji, Unicode rules", true, {emoji}, emoji, u"bar" + emoji, {}},
      {"an emoji, classic rules",
       false,
       {emoji},
       kSeparatorPlaceholder,
       text,
       {kSeparatorRefusedText}},
      {"a second letter is refused", true, {u"e", u"r"}, u"e", u"bar" + emoji + u"be", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::size_t shown = messages().size();
    host->setAddinSetting(kTextRulesSetting, row.unicode ? u"1" : u"0");
    column({text});
    separatorMode();
    for (const std::u16string& key : row.typed) user.type("cmbSpChar", key);
    user.choose("cmbPos", 0);
    cut(false, std::nullopt).press("CommandButton1");
    if (!row.told.empty()) user.close();
    openWizard();
    EXPECT_EQ(control("cmbSpChar").text(), row.box);
    EXPECT_EQ(textAt(1), row.expected);
    const std::vector<std::u16string> all = messages();
    EXPECT_EQ(
        std::vector<std::u16string>(all.begin() + static_cast<std::ptrdiff_t>(shown), all.end()),
        row.told);
  }
}

}  // namespace
}  // namespace qmv::testing
