// Properties over random sheets and random runs, each drawn from a seeded generator (the
// seed is in the trace of every failure, so a failing case can be replayed alone):
//   - a character run never touches formulas, blank cells or cells outside the selection;
//     a run stopped after k cells equals the full run on its first k cells and left the
//     rest alone; undo afterwards restores the sheet exactly, cell by cell and kind by kind;
//   - the value runs clear exactly the cells the host's matching (cell text, any case)
//     says they clear, or a part of them when stopped, and touch nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "addin/entry_points.hpp"
#include "engine/undo.hpp"
#include "host/cell_text.hpp"
#include "tests/reliability/reliability_world.hpp"
#include "wizard/frm_text_remover.hpp"

namespace qmv::reliability {
namespace {

using Rng = std::mt19937;

int uniform(Rng& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
bool chance(Rng& rng, double p) { return std::bernoulli_distribution(p)(rng); }
template <class T>
const T& pick(Rng& rng, const std::vector<T>& items) {
  return items[static_cast<std::size_t>(uniform(rng, 0, static_cast<int>(items.size()) - 1))];
}

// ---- Random content --------------------------------------------------------------------

/// Texts of every kind the host may read differently when typed back.
std::u16string randomText(Rng& rng) {
  static const std::vector<std::u16string> shaped = {
      u"007",   u"1/2",  u"12:30", u"TRUE", u"false",
      u"50%",   u"1e3",  u"(5)",   u"'abc", u"=A1",
      u"",      u" ",    u"-",     u"1.5",  u"1/2/2007 3:04 PM",
      u"#N/A",  u"a1/2", u"x-12",  u"Ab 1", u"9 9",
      u"1,234", u"$5",   u"\t1\t", u"1 1/2"};
  static const std::u16string units =
      u"aAbBzZ019 5-@,.?/\\\t\n:%\u00e9\u00c9\u03a9\u0416\u3042\xFF0F";
  if (chance(rng, 0.3)) return pick(rng, shaped);
  std::u16string text;
  const int length = uniform(rng, 1, 12);
  for (int i = 0; i < length; ++i) {
    const int kind = uniform(rng, 0, 40);
    if (kind == 0) {
      text += u"\U0001F600";  // a surrogate pair
    } else if (kind == 1) {
      text += static_cast<char16_t>(0xD800 + uniform(rng, 0, 0x7FF));  // a lone surrogate
    } else {
      text += units[static_cast<std::size_t>(uniform(rng, 0, static_cast<int>(units.size()) - 1))];
    }
  }
  return text;
}

double randomNumber(Rng& rng) {
  switch (uniform(rng, 0, 5)) {
    case 0:
      return uniform(rng, -100, 100000);
    case 1:
      return uniform(rng, -800, 800) / 8.0;
    case 2:
      return 1e20;
    case 3:
      return 1.5e-7;
    case 4:
      return 1234.5;
    default:
      return 0.1 + 0.2;
  }
}

CellError randomError(Rng& rng) {
  static const std::vector<CellError> errors = {CellError::Null, CellError::Div0, CellError::Value,
                                                CellError::Ref,  CellError::Name, CellError::Num,
                                                CellError::NA};
  return pick(rng, errors);
}

/// Any content: blank, text, number, date, Boolean, error or formula.
CellContent randomContent(Rng& rng) {
  switch (uniform(rng, 0, 9)) {
    case 0:
    case 1:
    case 2:
      return {};
    case 3:
    case 4:
    case 5:
      return {Value{randomText(rng)}, {}};
    case 6:
      return {Value{randomNumber(rng)}, {}};
    case 7:
      return chance(rng, 0.5) ? CellContent{Value{DateTime{uniform(rng, 1, 60000) + 0.0}}, {}}
                              : CellContent{Value{DateTime{uniform(rng, 1, 60000) + 0.25}}, {}};
    case 8:
      return chance(rng, 0.5) ? CellContent{Value{chance(rng, 0.5)}, {}}
                              : CellContent{Value{randomError(rng)}, {}};
    default:
      return {chance(rng, 0.5) ? Value{randomText(rng)} : Value{randomNumber(rng)}, u"=A1&\"x\""};
  }
}

// ---- Sheets and selections -------------------------------------------------------------

constexpr int64_t kRows = 12;
constexpr int64_t kColumns = 6;

struct RandomSheet {
  std::vector<std::pair<CellRef, CellContent>> cells;
  std::vector<AreaRef> areas;
  std::u16string selection;
};

/// A sheet of random cells and a selection of one to three areas, which may overlap.
RandomSheet randomSheet(Rng& rng) {
  RandomSheet sheet;
  for (int64_t r = 1; r <= kRows; ++r) {
    for (int64_t c = 1; c <= kColumns; ++c) {
      if (chance(rng, 0.8)) sheet.cells.push_back({{r, c}, randomContent(rng)});
    }
  }
  const int areas = uniform(rng, 1, 3);
  for (int i = 0; i < areas; ++i) {
    const int r1 = uniform(rng, 1, kRows);
    const int c1 = uniform(rng, 1, kColumns);
    const AreaRef area{{r1, c1}, {uniform(rng, r1, kRows), uniform(rng, c1, kColumns)}};
    sheet.areas.push_back(area);
    if (!sheet.selection.empty()) sheet.selection += u',';
    sheet.selection += formatAddress(area);
  }
  return sheet;
}

void load(World& w, const RandomSheet& sheet) {
  w.module.hostApp = w.host;
  registerUndoMacro(w.module);
  for (const auto& [at, content] : sheet.cells) w.host->setCell(at, content);
  w.host->select(sheet.selection);
}

bool inSelection(const std::vector<AreaRef>& areas, CellRef cell) {
  return std::any_of(areas.begin(), areas.end(),
                     [&](const AreaRef& a) { return a.contains(cell); });
}

bool areasOverlap(const std::vector<AreaRef>& areas) {
  for (std::size_t i = 0; i < areas.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      const AreaRef& a = areas[i];
      const AreaRef& b = areas[j];
      if (a.first.row <= b.last.row && b.first.row <= a.last.row &&
          a.first.column <= b.last.column && b.first.column <= a.last.column) {
        return true;
      }
    }
  }
  return false;
}

bool isConstant(const CellContent& content) {
  return !content.isFormula() && !isEmpty(content.value);
}

/// The constant cells of separate areas in the order a run visits them: area by area,
/// row by row, left to right.
std::vector<CellRef> visitingOrder(const SheetPicture& before, const std::vector<AreaRef>& areas) {
  std::vector<CellRef> order;
  for (const AreaRef& a : areas) {
    for (int64_t r = a.first.row; r <= a.last.row; ++r) {
      for (int64_t c = a.first.column; c <= a.last.column; ++c) {
        if (isConstant(before.at({r, c}))) order.push_back({r, c});
      }
    }
  }
  return order;
}

// ---- Character runs --------------------------------------------------------------------

/// A character run as the user starts it: through the dialog or through the wizard.
struct CharacterRun {
  std::string description;
  std::function<void(World&)> start;
};

/// Box texts, well-formed or not.
std::u16string randomBoxText(Rng& rng) {
  static const std::vector<std::u16string> odd = {u"",    u".",     u"1.2.3", u"-1", u"2.5",
                                                  u"3.5", u"40000", u"0",     u"x"};
  if (chance(rng, 0.2)) return pick(rng, odd);
  return toUtf16(std::to_string(uniform(rng, 0, 14)));
}

CharacterRun randomDialogRun(Rng& rng) {
  struct Command {
    const char* code;
    void (*entry)(AddinModule&);
    bool start;
    bool count;
    bool chars;
  };
  static const std::vector<Command> commands = {
      {"RNUM", RemoveNumbers, false, false, false},
      {"RALP", RemoveAlphas, false, false, false},
      {"RNPC", RemoveNonPrintable, false, false, false},
      {"RUDC", RemoveUserChars, false, false, true},
      {"RALS", RemoveAllSpaces, false, false, false},
      {"RLTS", RemoveLeadTrailSpaces, false, false, false},
      {"RLTE", RemoveExcessSpaces, false, false, false},
      {"RBSP", RemoveTextBefore, true, false, false},
      {"RASP", RemoveTextAfter, true, false, false},
      {"RNBP", RemoveCharsBefore, true, true, false},
      {"RNAP", RemoveCharsAfter, true, true, false},
      {"RUPC", RemoveUpper, false, false, false},
      {"RLOC", RemoveLower, false, false, false},
  };
  const Command& command = pick(rng, commands);
  std::vector<std::pair<std::string, std::u16string>> boxes;
  if (command.start) boxes.emplace_back("txtSP", randomBoxText(rng));
  if (command.count) boxes.emplace_back("txtNOC", randomBoxText(rng));
  if (command.chars) boxes.emplace_back("txtUDC", randomText(rng));
  std::string description = std::string("dialog ") + command.code;
  for (const auto& [box, text] : boxes) description += " " + box + "='" + toUtf8(text) + "'";
  return {description, [command, boxes](World& w) {
            // The boxes are pasted into, so that any text gets in, as a user could paste it.
            for (const auto& [box, text] : boxes) w.user.clear(box).paste(box, text);
            w.user.press("CommandButton1");
            command.entry(w.module);
          }};
}

CharacterRun randomWizardRun(Rng& rng) {
  if (chance(rng, 0.4)) {
    // List mode, a character entry (the value entries are the other test's).
    int index = uniform(rng, 0, 8);
    if (index == 8) index = wizardIndexOf(Operation::RUDC);
    const std::u16string chars = index == wizardIndexOf(Operation::RUDC) ? u"a1 " : u"";
    return {"wizard list " + std::to_string(index), [index, chars](World& w) {
              if (!chars.empty()) w.toolkit.queueAnswer(chars);
              w.user.toggle("CheckBox1").choose("cmbAN", index).press("CommandButton1");
              ShowWizard(w.module);
            }};
  }
  const bool before = chance(rng, 0.5);
  const bool all = chance(rng, 0.5);
  const bool separator = chance(rng, 0.5);
  const int separatorEntry = uniform(rng, 0, 10);
  const int occurrence = uniform(rng, 0, 4);
  const std::u16string start = randomBoxText(rng);
  const std::u16string count = randomBoxText(rng);
  std::string description = "wizard position";
  description += before ? " before" : " after";
  description += all ? " all" : " count='" + toUtf8(count) + "'";
  description += separator ? " separator " + std::to_string(separatorEntry) + " occurrence " +
                                 std::to_string(occurrence)
                           : " start='" + toUtf8(start) + "'";
  return {description, [=](World& w) {
            if (before) w.user.pick("optRight");
            if (all) {
              w.user.toggle("chkAllChars");
            } else {
              w.user.clear("txtNoOfChars").paste("txtNoOfChars", count);
            }
            if (separator) {
              w.user.toggle("chkConSP")
                  .choose("cmbSpChar", separatorEntry)
                  .choose("cmbPos", occurrence);
            } else {
              w.user.clear("txtStartPos").paste("txtStartPos", start);
            }
            w.user.press("CommandButton1");
            ShowWizard(w.module);
          }};
}

void expectSame(const CellContent& expected, const CellContent& actual, int64_t row, int64_t column,
                const char* what) {
  EXPECT_TRUE(expected == actual) << what << ": " << cellName(row, column) << " holds "
                                  << describe(actual) << ", expected " << describe(expected);
}

TEST(CharacterRunProperties, RandomSheetsRandomRunsRandomStops) {
  constexpr uint32_t kSeeds = 400;
  // The draws must exercise the properties: runs that change cells, stops in mid-run.
  int changingRuns = 0;
  int midRunStops = 0;
  for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
    Rng rng(seed);
    const RandomSheet sheet = randomSheet(rng);
    const CharacterRun run = chance(rng, 0.6) ? randomDialogRun(rng) : randomWizardRun(rng);
    // Stop during the yield after cell k, or never (0).
    const int stopAt = chance(rng, 0.5) ? uniform(rng, 1, 10) : 0;
    SCOPED_TRACE("seed " + std::to_string(seed) + ": " + run.description + ", selection " +
                 toUtf8(sheet.selection) +
                 (stopAt > 0 ? ", stop after cell " + std::to_string(stopAt) : ", no stop"));

    World full;
    load(full, sheet);
    const SheetPicture before = picture(*full.host, kRows + 1, kColumns + 1);
    run.start(full);
    const SheetPicture done = picture(*full.host, kRows + 1, kColumns + 1);

    World stopped;
    load(stopped, sheet);
    if (stopAt > 0) stopped.toolkit.scheduleStop(static_cast<uint64_t>(stopAt));
    run.start(stopped);
    const SheetPicture partial = picture(*stopped.host, kRows + 1, kColumns + 1);
    changingRuns += done == before ? 0 : 1;
    midRunStops += partial == before || partial == done ? 0 : 1;

    for (World* w : {&full, &stopped}) {
      EXPECT_TRUE(w->toolkit.shownForms().empty());
      EXPECT_FALSE(w->toolkit.scriptEnded());
      EXPECT_EQ(w->host->runSettings().calculation, xl::kCalculationAutomatic);
      EXPECT_TRUE(w->host->runSettings().screenUpdating);
      EXPECT_TRUE(w->host->runSettings().statusBar.empty());
    }

    // (1) Formulas, blank cells and cells outside the selection are never touched.
    for (const auto& [at, old] : before) {
      if (isConstant(old) && inSelection(sheet.areas, {at.first, at.second})) continue;
      expectSame(old, done.at(at), at.first, at.second, "untouchable cell after a run");
      expectSame(old, partial.at(at), at.first, at.second, "untouchable cell after a stop");
    }

    // A stop after cell k: the first k cells as the full run left them, the rest as before.
    if (stopAt > 0 && !areasOverlap(sheet.areas)) {
      const std::vector<CellRef> order = visitingOrder(before, sheet.areas);
      for (std::size_t i = 0; i < order.size(); ++i) {
        const std::pair<int64_t, int64_t> at{order[i].row, order[i].column};
        const bool reached = i < static_cast<std::size_t>(stopAt);
        expectSame(reached ? done.at(at) : before.at(at), partial.at(at), at.first, at.second,
                   reached ? "a cell before the stop" : "a cell after the stop");
      }
    }

    // (2) Undo restores the sheet exactly, after a full run and after a stopped one.
    for (World* w : {&full, &stopped}) {
      UndoLastRun(w->module);
      const SheetPicture undone = picture(*w->host, kRows + 1, kColumns + 1);
      for (const auto& [at, old] : before) {
        expectSame(old, undone.at(at), at.first, at.second, "after undo");
      }
      for (const auto& message : w->toolkit.messages()) {
        EXPECT_NE(message.text, kUndoFailedText);
      }
    }
    if (HasFailure()) return;  // one seed tells the story
  }
  EXPECT_GT(changingRuns, static_cast<int>(kSeeds) / 3);
  EXPECT_GT(midRunStops, static_cast<int>(kSeeds) / 20);
}

// ---- Value runs ------------------------------------------------------------------------

/// The host's matching key of a cell: its cell text, folded; none for an error value or
/// an empty text, which the value runs never count.
std::optional<std::u16string> matchKey(const CellContent& content) {
  const std::optional<std::u16string> text = cellText(content.value, HostLocale{});
  if (!text || text->empty()) return std::nullopt;
  return foldCase(*text);
}

/// A value from a small pool, so that repeats by text in any case and kind are common.
CellContent randomPoolContent(Rng& rng) {
  switch (uniform(rng, 0, 12)) {
    case 0:
    case 1:
      return {};
    case 2:
      return {Value{randomError(rng)}, {}};
    case 3:
      return {Value{pick(rng, std::vector<double>{3, 7, 1.5, 39084})}, {}};
    case 4:
      return {Value{chance(rng, 0.5)}, {}};
    case 5:
      return {Value{DateTime{39084}}, {}};
    case 6:
      return {Value{std::u16string(u"x")}, u"=\"x\""};
    default:
      return {Value{pick(rng, std::vector<std::u16string>{u"x", u"X", u"y", u"Ab", u"aB", u"3",
                                                          u"007", u"TRUE", u"1/2/2007", u"",
                                                          u"\u00c9t\u00e9", u"\u00e9T\u00c9"})},
              {}};
  }
}

struct ValueMode {
  const char* name;
  std::function<void(World&)> start;
  enum class Rule { AllDuplicates, UniqueValues, KeepOne } rule;
};

const std::vector<ValueMode>& valueModes() {
  static const std::vector<ValueMode> modes = {
      {"dialog RADP",
       [](World& w) {
         w.user.press("CommandButton1");
         RemoveAllDuplicates(w.module);
       },
       ValueMode::Rule::AllDuplicates},
      {"dialog RUDP",
       [](World& w) {
         w.user.press("CommandButton1");
         RemoveUniqueValues(w.module);
       },
       ValueMode::Rule::UniqueValues},
      {"dialog RDPV",
       [](World& w) {
         w.user.press("CommandButton1");
         RemoveDuplicatesKeepOne(w.module);
       },
       ValueMode::Rule::KeepOne},
      {"wizard all duplicates",
       [](World& w) {
         w.user.toggle("CheckBox1").choose("cmbAN", wizardIndexOf(Operation::RADP));
         w.user.press("CommandButton1");
         ShowWizard(w.module);
       },
       ValueMode::Rule::AllDuplicates},
      {"wizard unique values",
       [](World& w) {
         w.user.toggle("CheckBox1").choose("cmbAN", wizardIndexOf(Operation::RUDP));
         w.user.press("CommandButton1");
         ShowWizard(w.module);
       },
       ValueMode::Rule::UniqueValues},
      {"wizard keep one",
       [](World& w) {
         w.user.toggle("CheckBox1").choose("cmbAN", wizardIndexOf(Operation::RDPV));
         w.user.press("CommandButton1");
         ShowWizard(w.module);
       },
       ValueMode::Rule::KeepOne},
  };
  return modes;
}

TEST(ValueRunProperties, RandomColumnsRandomModesRandomStops) {
  constexpr uint32_t kSeeds = 400;
  // The draws must exercise the properties: cells cleared by full and by stopped runs.
  int clearingRuns = 0;
  int clearingStoppedRuns = 0;
  for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
    Rng rng(seed);
    const ValueMode& mode = pick(rng, valueModes());
    const int64_t column = uniform(rng, 1, 3);
    const int64_t top = uniform(rng, 1, 3);
    const int64_t bottom = uniform(rng, static_cast<int>(top), kRows);
    std::vector<std::pair<CellRef, CellContent>> cells;
    for (int64_t r = top; r <= bottom; ++r) cells.push_back({{r, column}, randomPoolContent(rng)});
    // Neighbours the run must leave alone.
    for (int64_t r = 1; r <= kRows; ++r) {
      if (chance(rng, 0.3)) cells.push_back({{r, column + 1}, randomPoolContent(rng)});
      if (r < top && chance(rng, 0.5)) cells.push_back({{r, column}, randomPoolContent(rng)});
    }
    // The selection: the cells, or the column from `top` down to the end of the sheet.
    const std::u16string selection = chance(rng, 0.2)
                                         ? formatAddress(AreaRef{{top, column}, {kMaxRows, column}})
                                         : formatAddress(AreaRef{{top, column}, {bottom, column}});
    const int stopAt = chance(rng, 0.4) ? uniform(rng, 1, 25) : 0;
    SCOPED_TRACE("seed " + std::to_string(seed) + ": " + mode.name + ", selection " +
                 toUtf8(selection) +
                 (stopAt > 0 ? ", stop at step " + std::to_string(stopAt) : ", no stop"));

    World w;
    w.module.hostApp = w.host;
    for (const auto& [at, content] : cells) w.host->setCell(at, content);
    w.host->select(selection);
    const SheetPicture before = picture(*w.host, kRows + 1, kColumns);
    if (stopAt > 0) w.toolkit.scheduleStop(static_cast<uint64_t>(stopAt));
    mode.start(w);
    const SheetPicture after = picture(*w.host, kRows + 1, kColumns);
    if (!(after == before)) ++(stopAt > 0 ? clearingStoppedRuns : clearingRuns);

    EXPECT_TRUE(w.toolkit.shownForms().empty());
    EXPECT_FALSE(w.toolkit.scriptEnded());
    EXPECT_FALSE(w.host->filterActive()) << "the filter stays applied";
    for (int64_t r = 1; r <= kRows + 1; ++r) EXPECT_FALSE(w.host->rowHidden(r)) << "row " << r;
    EXPECT_EQ(w.host->runSettings().calculation, xl::kCalculationAutomatic);
    EXPECT_TRUE(w.host->runSettings().statusBar.empty());

    // How often each key occurs among the selected cells, and where it first occurs.
    std::map<std::u16string, int> occurrences;
    std::map<std::u16string, int64_t> firstRow;
    for (int64_t r = top; r <= bottom; ++r) {
      if (const auto key = matchKey(before.at({r, column}))) {
        ++occurrences[*key];
        firstRow.try_emplace(*key, r);
      }
    }

    for (const auto& [at, old] : before) {
      const CellContent& now = after.at(at);
      const bool selected = at.second == column && at.first >= top && at.first <= bottom;
      const std::optional<std::u16string> key = matchKey(old);
      bool clears = false;
      if (selected && key) {
        switch (mode.rule) {
          case ValueMode::Rule::AllDuplicates:
            clears = occurrences[*key] > 1;
            break;
          case ValueMode::Rule::UniqueValues:
            clears = occurrences[*key] == 1;
            break;
          case ValueMode::Rule::KeepOne:
            clears = firstRow[*key] != at.first;
            break;
        }
      }
      const bool cleared = now == CellContent{} && !(old == CellContent{});
      if (clears && stopAt == 0) {
        EXPECT_TRUE(cleared) << cellName(at.first, at.second) << " still holds " << describe(now);
      } else if (!clears) {
        // Cells without a key (errors, blanks, empty texts) and cells outside stay; a
        // blank cell may lose only its formats.
        EXPECT_TRUE(now == old) << cellName(at.first, at.second) << " holds " << describe(now)
                                << ", before " << describe(old);
      } else {
        EXPECT_TRUE(now == old || cleared)
            << cellName(at.first, at.second) << " holds " << describe(now);
      }
    }
    if (HasFailure()) return;
  }
  EXPECT_GT(clearingRuns, static_cast<int>(kSeeds) / 4);
  EXPECT_GT(clearingStoppedRuns, static_cast<int>(kSeeds) / 10);
}

}  // namespace
}  // namespace qmv::reliability
