// Every host call of a run, made to fail in turn: for each scenario the host calls of a
// clean run are counted, then the scenario is repeated on a fresh host for every N up to
// that count and for several error numbers, with the Nth host call failing. Whatever
// fails, no exception leaves the handler, the host's settings come back, the form closes,
// every cell holds what it held or what the clean run left in it, and undo still brings
// back the sheet.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "addin/cb_events.hpp"
#include "addin/command_table.hpp"
#include "addin/entry_points.hpp"
#include "dialog/frm_prg_bar.hpp"
#include "engine/host_run_state.hpp"
#include "engine/undo.hpp"
#include "host/host_error.hpp"
#include "tests/reliability/reliability_world.hpp"
#include "wizard/frm_text_remover.hpp"

namespace qmv::reliability {
namespace {

constexpr int32_t kErrorNumbers[] = {host_errors::kObjectNotSet, host_errors::kRefused,
                                     host_errors::kTypeMismatch, 440};

// The part of the sheet the scenarios use.
constexpr int64_t kRows = 10;
constexpr int64_t kColumns = 5;

/// What a scenario's handler does, which decides the checks after it.
enum class Kind {
  CharacterRun,  ///< rewrites cells; undo must bring every one back
  ValueRun,      ///< clears cells
  Undo,          ///< restores the last character run
  Connect,
  Disconnect,
  Other  ///< changes no cell
};

/// One attempt: a fresh world and what the click, if any, reported.
struct Trial : World {
  std::optional<memory::ClickOutcome> click;
};

struct Scenario {
  std::string name;
  Kind kind = Kind::Other;
  /// Prepares a fresh world: sheet, selection, connection, earlier runs. Its host calls
  /// are not counted.
  std::function<void(Trial&)> prepare;
  /// Queues the user's actions and runs the handler under test.
  std::function<void(Trial&)> act;
};

void PrintTo(const Scenario& scenario, std::ostream* os) { *os << scenario.name; }

// ---- Sheets ---------------------------------------------------------------------------

CellContent constant(Value v) { return CellContent{std::move(v), {}}; }
CellContent formula(Value v, std::u16string f) { return CellContent{std::move(v), std::move(f)}; }

/// Two areas of mixed cells for the character runs, calculation manual beforehand.
void characterSheet(Trial& t) {
  auto& h = *t.host;
  h.setCell({1, 1}, constant(u"ab12 cd"));
  h.setCell({1, 2}, constant(1234.5));
  h.setCell({2, 1}, formula(7.0, u"=LEN(A1)"));
  h.setCell({2, 2}, constant(u"  a  b  "));
  h.setCell({3, 2}, constant(true));
  h.setCell({4, 1}, constant(DateTime{39084.5}));
  h.setCell({4, 2}, constant(CellError::Div0));
  h.setCell({5, 1}, constant(u"007"));
  h.setCell({5, 2}, constant(u"Tel:\t0123-456"));
  h.setCell({1, 4}, constant(u"McDonald"));
  h.setCell({2, 4}, constant(u"x-y-z"));
  h.setCell({3, 4}, constant(u"a@b,c\""));
  h.setCell({6, 1}, constant(u"outside the selection 12"));
  h.select(u"A1:B5,D1:D3");
  h.setCalculation(xl::kCalculationManual);
}

/// One column with repeats (by text, whatever the case or kind), a blank, an error value
/// and a formula, for the value runs.
void valueSheet(Trial& t) {
  auto& h = *t.host;
  h.setCell({1, 1}, constant(u"x"));
  h.setCell({2, 1}, constant(u"y"));
  h.setCell({3, 1}, constant(u"X"));
  h.setCell({5, 1}, constant(3.0));
  h.setCell({6, 1}, constant(u"3"));
  h.setCell({7, 1}, constant(u"z"));
  h.setCell({8, 1}, formula(u"y", u"=A2"));
  h.setCell({9, 1}, constant(CellError::NA));
  h.setCell({3, 3}, constant(u"x"));
  h.setFill({3, 1}, 0xFF0000);
  h.select(u"A1:A9");
  h.setCalculation(xl::kCalculationManual);
}

/// The add-in loaded on the host without a connection: the host stored, the undo macro
/// registered; then `sheet`.
std::function<void(Trial&)> loaded(const std::function<void(Trial&)>& sheet) {
  return [sheet](Trial& t) {
    t.module.hostApp = t.host;
    registerUndoMacro(t.module);
    sheet(t);
  };
}

// ---- Acts -----------------------------------------------------------------------------

/// A removal command whose dialog the user answers with Yes after typing `inputs`.
std::function<void(Trial&)> dialogRun(
    void (*command)(AddinModule&),
    const std::vector<std::pair<std::string, std::u16string>>& inputs = {}) {
  return [command, inputs](Trial& t) {
    for (const auto& [box, text] : inputs) t.user.type(box, text);
    t.user.press("CommandButton1");
    command(t.module);
  };
}

/// Queues a wizard run in list mode with operation `index`.
void queueWizardList(Trial& t, int index) {
  t.user.toggle("CheckBox1").choose("cmbAN", index).press("CommandButton1");
}

/// Queues a wizard run in position mode: everything after position 3.
void queueWizardFixedPosition(Trial& t) {
  t.user.type("txtStartPos", u"3").toggle("chkAllChars").press("CommandButton1");
}

/// Queues a wizard run in position mode: everything before the last hyphen.
void queueWizardSeparator(Trial& t) {
  t.user.toggle("chkConSP")
      .choose("cmbSpChar", 3)
      .choose("cmbPos", 4)
      .pick("optRight")
      .toggle("chkAllChars")
      .press("CommandButton1");
}

/// Clicks the control with `tag` through the host.
void clickTag(Trial& t, const std::u16string& tag) {
  const CommandBarControlPtr control = t.host->findControlByTag(tag);
  ASSERT_NE(control, nullptr) << "no control tagged " << toUtf8(tag);
  t.click = t.host->click(*control);
}

// ---- Scenarios ------------------------------------------------------------------------

std::vector<Scenario> dialogScenarios() {
  std::vector<Scenario> out;
  const auto add = [&](std::string name, std::function<void(Trial&)> act) {
    out.push_back({std::move(name), Kind::CharacterRun, loaded(characterSheet), std::move(act)});
  };
  add("dialog RNUM", dialogRun(RemoveNumbers));
  add("dialog RALP", dialogRun(RemoveAlphas));
  add("dialog RNPC", dialogRun(RemoveNonPrintable));
  add("dialog RUDC", dialogRun(RemoveUserChars));
  add("dialog RLTE", dialogRun(RemoveExcessSpaces));
  add("dialog RUPC", dialogRun(RemoveUpper));
  add("dialog RNAP", dialogRun(RemoveCharsAfter, {{"txtSP", u"2"}, {"txtNOC", u"2"}}));
  add("dialog RBSP", dialogRun(RemoveTextBefore, {{"txtSP", u"3"}}));
  return out;
}

std::vector<Scenario> valueScenarios() {
  return {
      {"dialog RDPV", Kind::ValueRun, loaded(valueSheet), dialogRun(RemoveDuplicatesKeepOne)},
      {"dialog RADP", Kind::ValueRun, loaded(valueSheet), dialogRun(RemoveAllDuplicates)},
      {"dialog RUDP", Kind::ValueRun, loaded(valueSheet), dialogRun(RemoveUniqueValues)},
      {"wizard keep one", Kind::ValueRun, loaded(valueSheet),
       [](Trial& t) {
         queueWizardList(t, wizardIndexOf(Operation::RDPV));
         ShowWizard(t.module);
       }},
      {"wizard all duplicates", Kind::ValueRun, loaded(valueSheet),
       [](Trial& t) {
         queueWizardList(t, wizardIndexOf(Operation::RADP));
         ShowWizard(t.module);
       }},
      {"wizard unique values", Kind::ValueRun, loaded(valueSheet),
       [](Trial& t) {
         queueWizardList(t, wizardIndexOf(Operation::RUDP));
         ShowWizard(t.module);
       }},
  };
}

std::vector<Scenario> wizardScenarios() {
  return {
      {"wizard list digits", Kind::CharacterRun, loaded(characterSheet),
       [](Trial& t) {
         queueWizardList(t, wizardIndexOf(Operation::RNUM));
         ShowWizard(t.module);
       }},
      {"wizard list excess spaces", Kind::CharacterRun, loaded(characterSheet),
       [](Trial& t) {
         queueWizardList(t, wizardIndexOf(Operation::RLTE));
         ShowWizard(t.module);
       }},
      {"wizard list non-printable", Kind::CharacterRun, loaded(characterSheet),
       [](Trial& t) {
         queueWizardList(t, wizardIndexOf(Operation::RNPC));
         ShowWizard(t.module);
       }},
      {"wizard position fixed", Kind::CharacterRun, loaded(characterSheet),
       [](Trial& t) {
         queueWizardFixedPosition(t);
         ShowWizard(t.module);
       }},
      {"wizard position separator", Kind::CharacterRun, loaded(characterSheet),
       [](Trial& t) {
         queueWizardSeparator(t);
         ShowWizard(t.module);
       }},
  };
}

std::vector<Scenario> undoScenarios() {
  const auto afterRun = [](void (*command)(AddinModule&)) {
    return [command](Trial& t) {
      loaded(characterSheet)(t);
      t.user.press("CommandButton1");
      command(t.module);
    };
  };
  const auto undo = [](Trial& t) { UndoLastRun(t.module); };
  return {
      {"undo after RNUM", Kind::Undo, afterRun(RemoveNumbers), undo},
      {"undo after RLTE", Kind::Undo, afterRun(RemoveExcessSpaces), undo},
      {"undo with nothing recorded", Kind::Other, loaded(characterSheet), undo},
      {"undo through Control+Z", Kind::Undo, [afterRun](Trial& t) { afterRun(RemoveAlphas)(t); },
       [](Trial& t) { t.host->pressKey(u"^z"); }},
  };
}

std::vector<Scenario> connectionScenarios() {
  return {
      {"connect", Kind::Connect, [](Trial&) {}, [](Trial& t) { t.connectAddin(); }},
      {"reconnect", Kind::Connect, [](Trial& t) { t.connectAddin(); },
       [](Trial& t) { t.connectAddin(); }},
      {"disconnect", Kind::Disconnect, [](Trial& t) { t.connectAddin(); },
       [](Trial& t) { t.connect.AddinInstance_OnDisconnection(); }},
  };
}

std::vector<Scenario> clickScenarios() {
  std::vector<Scenario> out;
  for (const CommandRow& row : commandTable()) {
    const std::u16string tag(row.tag);
    Scenario s;
    s.name = "click " + toUtf8(tag);
    s.kind = Kind::Other;
    std::function<void(Trial&)> queue = [](Trial& t) { t.user.press("CommandButton1"); };
    if (tag == u"QMV8" || tag == u"QMV9") {
      queue = [](Trial& t) { t.user.type("txtSP", u"3").press("CommandButton1"); };
    } else if (tag == u"QMV10" || tag == u"QMV11") {
      queue = [](Trial& t) {
        t.user.type("txtSP", u"3").type("txtNOC", u"1").press("CommandButton1");
      };
    }
    std::function<void(Trial&)> sheet = characterSheet;
    if (tag == u"QMV0") {
      s.kind = Kind::CharacterRun;
      queue = [](Trial& t) { queueWizardList(t, wizardIndexOf(Operation::RALP)); };
    } else if (tag == u"QMV16") {
      s.kind = Kind::Undo;
      queue = [](Trial&) {};
      sheet = [](Trial& t) {
        characterSheet(t);
        t.user.press("CommandButton1");
        clickTag(t, u"QMV1");
      };
    } else if (tag == u"QMV18" || tag == u"QMV19" || tag == u"QMV20") {
      s.kind = Kind::ValueRun;
      sheet = valueSheet;
    } else if (tag == u"QMV21") {
      queue = [](Trial& t) { t.user.close(); };
    } else if (tag == u"QMV15" || tag == u"QMV17") {
      queue = [](Trial&) {};
    } else {
      s.kind = Kind::CharacterRun;
    }
    s.prepare = [sheet](Trial& t) {
      t.host->addAddIn(u"Vandrel QMV", true);
      t.connectAddin();
      sheet(t);
    };
    s.act = [queue, tag](Trial& t) {
      queue(t);
      clickTag(t, tag);
    };
    out.push_back(std::move(s));
  }
  out.push_back({"click toolbar", Kind::CharacterRun,
                 [](Trial& t) {
                   t.connectAddin();
                   characterSheet(t);
                 },
                 [](Trial& t) {
                   queueWizardList(t, wizardIndexOf(Operation::RUPC));
                   clickTag(t, u"Text_Remover");
                 }});
  return out;
}

// ---- Checks ---------------------------------------------------------------------------

/// The settings writes made since `from`.
std::vector<std::u16string> settingsSince(const memory::MemoryApplication& host, std::size_t from) {
  const auto& log = host.settingsLog();
  return {log.begin() + static_cast<std::ptrdiff_t>(std::min(from, log.size())), log.end()};
}

bool touched(const std::vector<std::u16string>& writes, std::u16string_view setting) {
  return std::any_of(writes.begin(), writes.end(), [&](const std::u16string& w) {
    return w.size() > setting.size() && w.starts_with(setting) && w[setting.size()] == u'=';
  });
}

/// Every setting the handler touched ends in its normal state, the calculation mode the
/// user's (manual on every sheet here), even when the failing call was the very write that
/// restores it (that write is retried once).
void checkSettings(const memory::MemoryApplication& host,
                   const std::vector<std::u16string>& faulty) {
  const memory::RunSettings& s = host.runSettings();
  if (touched(faulty, u"Calculation")) {
    EXPECT_EQ(s.calculation, xl::kCalculationManual) << "the user's calculation mode not back";
  }
  if (touched(faulty, u"StatusBar")) {
    EXPECT_TRUE(s.statusBar.empty()) << "status bar left at '" << toUtf8(s.statusBar) << "'";
  }
  if (touched(faulty, u"ScreenUpdating")) {
    EXPECT_TRUE(s.screenUpdating) << "screen updating left off";
  }
}

/// No form is left shown or loaded, and no form waited for a user who had nothing left.
void checkForms(const Trial& t) {
  EXPECT_TRUE(t.toolkit.shownForms().empty()) << "a form is still shown";
  EXPECT_FALSE(t.toolkit.scriptEnded()) << "a form stayed open after the run";
  if (t.module.prgBar) {
    EXPECT_FALSE(t.module.prgBar->loaded()) << "the dialog stayed loaded";
  }
  if (t.module.textRemover) {
    EXPECT_FALSE(t.module.textRemover->loaded()) << "the wizard stayed loaded";
  }
}

/// Undo's count of the cells the host would not take back (unrestoredText).
bool tellsUnrestoredCells(const std::u16string& text) {
  for (std::size_t count = 1; count <= static_cast<std::size_t>(kRows * kColumns); ++count) {
    for (std::size_t formulas = 0; formulas <= count; ++formulas) {
      if (text == unrestoredText(count, formulas)) return true;
    }
  }
  return false;
}

/// Every message is one of the add-in's own texts.
void checkMessages(const Trial& t, std::size_t from) {
  static const std::set<std::u16string> known = {
      u"Please add a New Workbook!", u"Selection is Empty!", u"Please Select Single Column!",
      kNothingToUndoText, kUndoFailedText};
  const auto& messages = t.toolkit.messages();
  for (std::size_t i = from; i < messages.size(); ++i) {
    EXPECT_TRUE(known.contains(messages[i].text) || tellsUnrestoredCells(messages[i].text))
        << "message: " << toUtf8(messages[i].text);
  }
}

/// Every cell holds what it held before or what the clean run left in it.
void checkCells(const SheetPicture& before, const SheetPicture& cleanAfter,
                const SheetPicture& now) {
  for (const auto& [at, content] : now) {
    const CellContent& old = before.at(at);
    const CellContent& done = cleanAfter.at(at);
    EXPECT_TRUE(content == old || content == done)
        << cellName(at.first, at.second) << " holds " << describe(content) << "; before "
        << describe(old) << ", after a clean run " << describe(done);
  }
}

void checkPicture(const SheetPicture& expected, const SheetPicture& now, const char* what) {
  for (const auto& [at, content] : now) {
    EXPECT_TRUE(content == expected.at(at))
        << what << ": " << cellName(at.first, at.second) << " holds " << describe(content)
        << ", expected " << describe(expected.at(at));
  }
}

/// The toolbar and the popup, each at most once, and none once disconnected.
int popupCount(const memory::MemoryApplication& host) {
  int count = 0;
  if (const auto bar = host.bar(u"Worksheet Menu Bar")) {
    for (const auto& control : bar->controls) count += control.caption == u"&Vandrel QMV";
  }
  return count;
}

void checkNoSurfaceLeft(Trial& t) {
  EXPECT_EQ(t.host->barCount(u"Dolvanis"), 0);
  EXPECT_EQ(popupCount(*t.host), 0);
  EXPECT_EQ(t.host->subscriptionCount(), 0);
  EXPECT_EQ(t.module.hostApp, nullptr);
  EXPECT_TRUE(t.module.buttonHandlers.empty());
  EXPECT_EQ(t.module.currentHandler, nullptr);
  EXPECT_FALSE(t.connect.CBarCtl);
}

/// A clean connection afterwards builds exactly one complete surface; a clean
/// disconnection then removes it all.
void checkReconnectAndDisconnect(Trial& t) {
  t.connectAddin();
  EXPECT_EQ(t.host->barCount(u"Dolvanis"), 1);
  EXPECT_EQ(popupCount(*t.host), 1);
  if (const auto bar = t.host->bar(u"Worksheet Menu Bar")) {
    for (const auto& control : bar->controls) {
      if (control.caption == u"&Vandrel QMV") {
        EXPECT_EQ(control.controls.size(), 21u);
      }
    }
  }
  EXPECT_EQ(t.module.buttonHandlers.size(), 21u);
  t.connect.AddinInstance_OnDisconnection();
  checkNoSurfaceLeft(t);
}

// ---- The walk -------------------------------------------------------------------------

struct CleanRun {
  uint64_t calls = 0;
  SheetPicture before;
  SheetPicture after;
};

CleanRun runClean(const Scenario& scenario) {
  Trial t;
  scenario.prepare(t);
  CleanRun clean;
  clean.before = picture(*t.host, kRows, kColumns);
  const uint64_t start = t.host->hostCallCount();
  scenario.act(t);
  clean.calls = t.host->hostCallCount() - start;
  clean.after = picture(*t.host, kRows, kColumns);
  EXPECT_TRUE(t.toolkit.shownForms().empty());
  EXPECT_FALSE(t.toolkit.scriptEnded());
  return clean;
}

void attempt(const Scenario& scenario, const CleanRun& clean, uint64_t n, int32_t number) {
  Trial t;
  scenario.prepare(t);
  const SheetPicture before = picture(*t.host, kRows, kColumns);
  const std::size_t log = t.host->settingsLog().size();
  const std::size_t messages = t.toolkit.messages().size();
  const int popupsBefore = popupCount(*t.host);

  t.host->armFault(n, number);
  EXPECT_NO_THROW(scenario.act(t)) << "an exception left the handler";
  t.host->disarmFault();

  EXPECT_TRUE(t.host->hostErrors().empty())
      << "the host saw a failure: " << toUtf8(t.host->hostErrors().front());
  if (t.click && scenario.name != "click toolbar") {
    EXPECT_TRUE(t.click->cancelDefault) << "the click did not cancel the default action";
  }
  checkSettings(*t.host, settingsSince(*t.host, log));
  checkForms(t);
  checkMessages(t, messages);
  const SheetPicture now = picture(*t.host, kRows, kColumns);
  checkCells(before, clean.after, now);

  switch (scenario.kind) {
    case Kind::CharacterRun:
      // Undo brings back every cell the interrupted run changed.
      UndoLastRun(t.module);
      checkPicture(before, picture(*t.host, kRows, kColumns), "after undo");
      break;
    case Kind::Undo: {
      const std::set<std::u16string> allowed =
          number == host_errors::kObjectNotSet ? std::set<std::u16string>{kNothingToUndoText}
          : number == host_errors::kRefused    ? std::set<std::u16string>{}
                                               : std::set<std::u16string>{kUndoFailedText};
      for (std::size_t i = messages; i < t.toolkit.messages().size(); ++i) {
        const std::u16string& text = t.toolkit.messages()[i].text;
        EXPECT_TRUE(allowed.contains(text) || tellsUnrestoredCells(text))
            << "error " << number << " showed " << toUtf8(text);
      }
      // A second undo finishes what the interrupted one left.
      UndoLastRun(t.module);
      checkPicture(clean.after, picture(*t.host, kRows, kColumns), "after a second undo");
      break;
    }
    case Kind::Connect:
      // A failure may keep an earlier copy of the menu from being deleted, never more.
      EXPECT_LE(t.host->barCount(u"Dolvanis"), 1);
      EXPECT_LE(popupCount(*t.host), popupsBefore + 1);
      t.connect.AddinInstance_OnDisconnection();
      checkNoSurfaceLeft(t);
      checkReconnectAndDisconnect(t);
      break;
    case Kind::Disconnect:
      EXPECT_EQ(t.host->subscriptionCount(), 0);
      EXPECT_EQ(t.module.hostApp, nullptr);
      EXPECT_TRUE(t.module.buttonHandlers.empty());
      EXPECT_EQ(t.module.currentHandler, nullptr);
      EXPECT_FALSE(t.connect.CBarCtl);
      checkReconnectAndDisconnect(t);
      break;
    case Kind::ValueRun:
    case Kind::Other:
      break;
  }
}

class FaultInjection : public ::testing::TestWithParam<Scenario> {};

TEST_P(FaultInjection, EveryFailingHostCallLeavesTheWorkbookSound) {
  const Scenario& scenario = GetParam();
  const CleanRun clean = runClean(scenario);
  ASSERT_GT(clean.calls, 0u);
  if (scenario.kind == Kind::CharacterRun || scenario.kind == Kind::ValueRun ||
      scenario.kind == Kind::Undo) {
    ASSERT_FALSE(clean.before == clean.after) << "the clean run must change the sheet";
  }
  for (uint64_t n = 1; n <= clean.calls; ++n) {
    for (const int32_t number : kErrorNumbers) {
      SCOPED_TRACE(scenario.name + ": host call " + std::to_string(n) + " of " +
                   std::to_string(clean.calls) + " fails with error " + std::to_string(number));
      attempt(scenario, clean, n, number);
      // One failing attempt tells the story; the rest would repeat it.
      if (HasFailure()) return;
    }
  }
}

std::vector<Scenario> allScenarios() {
  std::vector<Scenario> all;
  for (auto part : {dialogScenarios(), valueScenarios(), wizardScenarios(), undoScenarios(),
                    connectionScenarios(), clickScenarios()}) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

std::string scenarioName(const ::testing::TestParamInfo<Scenario>& info) {
  std::string name;
  for (char c : info.param.name) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultInjection, ::testing::ValuesIn(allScenarios()),
                         scenarioName);

}  // namespace
}  // namespace qmv::reliability
