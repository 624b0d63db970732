#include "tools/qmv/plan.hpp"

#include <algorithm>
#include <cctype>

#include "engine/text_pattern.hpp"
#include "host/ascii.hpp"
#include "host/text.hpp"
#include "tools/qmv/file_format.hpp"

namespace qmv::cli {
namespace {

constexpr int kMaxPosition = 32767;

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::u16string utf16Option(const char* option, const std::string& text) {
  if (!isValidUtf8(text)) throw UsageError(std::string(option) + ": the text is not valid UTF-8");
  return toUtf16(text);
}

// ---- Names -----------------------------------------------------------------------------

// How a name picks the position removal: fixed, or by --before/--after and --all/--count.
enum class Family { Fixed, Before, After, Position };

struct NameEntry {
  std::string name;
  Family family;
  Operation operation;
  std::string meaning;
};

// The operation table's codes and names, then the names that pick a position removal by
// their options.
const std::vector<NameEntry>& nameTable() {
  static const std::vector<NameEntry> table = [] {
    std::vector<NameEntry> out;
    for (const OperationRow& row : operationTable()) {
      out.push_back({toUtf8(row.code), Family::Fixed, row.operation, std::string(row.meaning)});
    }
    for (const OperationRow& row : operationTable()) {
      if (row.name.empty()) continue;
      out.push_back({std::string(row.name), Family::Fixed, row.operation, toUtf8(row.code)});
    }
    const auto side = [](PositionSide at) {
      return toUtf8(operationCode(positionOperation(at, true))) + " with --all, " +
             toUtf8(operationCode(positionOperation(at, false))) + " with --count";
    };
    const Operation after = positionOperation(PositionSide::After, true);
    out.push_back({"before", Family::Before, positionOperation(PositionSide::Before, true),
                   side(PositionSide::Before)});
    out.push_back({"after", Family::After, after, side(PositionSide::After)});
    out.push_back(
        {"position", Family::Position, after, "--before or --after, with --all or --count"});
    return out;
  }();
  return table;
}

const NameEntry& findName(std::string_view name) {
  const std::string wanted = asciiLowered(name);
  for (const NameEntry& entry : nameTable()) {
    if (asciiLowered(entry.name) == wanted) return entry;
  }
  std::string codes;
  for (const OperationRow& row : operationTable()) {
    codes += codes.empty() ? "" : " ";
    codes += toUtf8(row.code);
  }
  throw UsageError("OPERATION: " + quoted(name) + " is not an operation; give a code (" + codes +
                   ") or a name such as digits (qmv apply --help lists them)");
}

// ---- Inputs ----------------------------------------------------------------------------

// One removal input: its option, which operations read it, and how its text is checked
// and kept. The position flags (before, after, all) only pick the operation.
struct InputRow {
  InputOption option;
  bool (*takes)(Operation operation);
  void (*read)(Removal& removal, const std::string& text);
};

bool readsStart(Operation op) { return usesStartPosition(op); }
bool readsCount(Operation op) { return usesCharCount(op); }
bool readsChars(Operation op) { return operationRow(op).inputs == OperationInputs::Characters; }
bool readsText(Operation op) { return operationRow(op).inputs == OperationInputs::Text; }
bool readsPattern(Operation op) { return operationRow(op).inputs == OperationInputs::Pattern; }
bool readsDelimiters(Operation op) {
  return operationRow(op).inputs == OperationInputs::Delimiters;
}

Occurrence occurrenceOf(const std::string& text) {
  const std::string word = asciiLowered(text);
  if (word == "1st") return {Occurrence::Kind::First, 1};
  if (word == "2nd") return {Occurrence::Kind::Nth, 2};
  if (word == "3rd") return {Occurrence::Kind::Nth, 3};
  if (word == "4th") return {Occurrence::Kind::Nth, 4};
  if (word == "last") return {Occurrence::Kind::Last, 1};
  const bool digits = !word.empty() && std::all_of(word.begin(), word.end(),
                                                   [](char c) { return c >= '0' && c <= '9'; });
  if (!digits) {
    throw UsageError("--occurrence: " + quoted(text) +
                     " is not an occurrence; give 1st, 2nd, 3rd, 4th, Last or a number from 1 to " +
                     std::to_string(kMaxPosition));
  }
  return {Occurrence::Kind::Nth,
          boundedNumber("--occurrence", word, 1, kMaxPosition, "occurrence")};
}

const std::vector<InputRow>& inputTable() {
  static const std::vector<InputRow> table = {
      {{"start", "N", "Start position N, 1 to 32767"},
       readsStart,
       [](Removal& r, const std::string& t) {
         r.start =
             static_cast<int16_t>(boundedNumber("--start", t, 1, kMaxPosition, "start position"));
       }},
      {{"count", "X", "Number of characters X, 0 to 32767"},
       readsCount,
       [](Removal& r, const std::string& t) {
         r.count = static_cast<int16_t>(
             boundedNumber("--count", t, 0, kMaxPosition, "number of characters"));
       }},
      {{"chars", "TEXT", "Characters to remove (RUDC)"},
       readsChars,
       [](Removal& r, const std::string& t) { r.chars = utf16Option("--chars", t); }},
      {{"text", "TEXT", "The text to remove, every occurrence (text)"},
       readsText,
       [](Removal& r, const std::string& t) { r.text = utf16Option("--text", t); }},
      {{"match-case", "", "The text must match in letter case too (text)"},
       readsText,
       [](Removal& r, const std::string&) { r.matchCase = true; }},
      {{"pattern", "REGEX",
        "A regular expression as Excel's REGEXREPLACE reads it (PCRE2, UTF; --unicode adds UCP); "
        "every match goes (pattern)"},
       readsPattern,
       [](Removal& r, const std::string& t) { r.pattern = utf16Option("--pattern", t); }},
      {{"any-case", "", "The pattern matches letters in any case (pattern)"},
       readsPattern,
       [](Removal& r, const std::string&) { r.matchCase = false; }},
      {{"open", "TEXT", "The opening delimiter (between)"},
       readsDelimiters,
       [](Removal& r, const std::string& t) { r.opening = utf16Option("--open", t); }},
      {{"close", "TEXT", "The closing delimiter (between)"},
       readsDelimiters,
       [](Removal& r, const std::string& t) { r.closing = utf16Option("--close", t); }},
      {{"separator", "C", "Start position at a separator character C, as the wizard takes it"},
       readsStart,
       [](Removal& r, const std::string& t) {
         const std::u16string c = utf16Option("--separator", t);
         const bool one = c.size() == 1 || (c.size() == 2 && c[0] >= 0xD800 && c[0] < 0xDC00);
         if (!one) throw UsageError("--separator: give exactly one character, not " + quoted(t));
         r.separator = c;
       }},
      {{"occurrence", "WHICH", "Which separator: 1st, 2nd, 3rd, 4th, Last or N (default 1st)"},
       readsStart,
       [](Removal& r, const std::string& t) { r.occurrence = occurrenceOf(t); }},
      {{"before", "", "Remove before the start position"}, readsStart, nullptr},
      {{"after", "", "Remove after the start position"}, readsStart, nullptr},
      {{"all", "", "Remove all the text before or after the start position"}, readsStart, nullptr},
  };
  return table;
}

bool given(const ApplyRequest& request, std::string_view name) {
  return request.inputs.contains(std::string(name));
}

// The position removal a name and the flags pick. Throws UsageError.
Operation positionOperation(const ApplyRequest& request, const NameEntry& entry,
                            const std::string& name) {
  const bool before = given(request, "before"), after = given(request, "after");
  const bool all = given(request, "all"), count = given(request, "count");
  if (before && after) throw UsageError("--before and --after exclude each other");
  bool toBefore = false;
  bool whole = false;
  const auto sideCheck = [&](bool removesBefore) {
    if (before && !removesBefore)
      throw UsageError("--before: " + name + " removes text after the start position");
    if (after && removesBefore)
      throw UsageError("--after: " + name + " removes text before the start position");
  };
  if (entry.family == Family::Fixed) {
    const OperationFacts& facts = operationRow(entry.operation).facts;
    toBefore = facts.side == PositionSide::Before;
    whole = facts.wholeSide;
    sideCheck(toBefore);
    const char* side = toBefore ? "before" : "after";
    // The removal of the same side that takes the other amount, named in the hint.
    const std::string other = toUtf8(operationCode(qmv::positionOperation(facts.side, !whole)));
    if (whole && count) {
      throw UsageError("--count: " + name + " removes all the text " + side +
                       " the start position; " + other + " removes a number of characters");
    }
    if (!whole && all) {
      throw UsageError("--all: " + name + " removes --count characters; " + other +
                       " removes all the text " + side + " the start position");
    }
    if (!whole && !count) {
      throw UsageError(name + ": give the number of characters with --count X (0 to " +
                       std::to_string(kMaxPosition) + ")");
    }
  } else {
    if (entry.family == Family::Position) {
      if (!before && !after) throw UsageError(name + ": give --before or --after");
      toBefore = before;
    } else {
      toBefore = entry.family == Family::Before;
      sideCheck(toBefore);
    }
    if (all && count) throw UsageError("--all and --count exclude each other");
    if (!all && !count) {
      throw UsageError(name +
                       ": give --all (all the text) or --count X (that many characters, 0 to " +
                       std::to_string(kMaxPosition) + ")");
    }
    whole = all;
  }
  return qmv::positionOperation(toBefore ? PositionSide::Before : PositionSide::After, whole);
}

// One removal of the list with the inputs it reads; `chain` when the list has several, so
// that each input goes to the removals that read it.
Removal planRemoval(const ApplyRequest& request, const std::string& name, bool chain) {
  const NameEntry& entry = findName(name);
  Removal removal;
  removal.operation = entry.family == Family::Fixed && !usesStartPosition(entry.operation)
                          ? entry.operation
                          : positionOperation(request, entry, name);
  // A pattern matches case unless told otherwise, as REGEXREPLACE does.
  removal.matchCase = readsPattern(removal.operation);
  for (const InputRow& row : inputTable()) {
    const auto found = request.inputs.find(std::string(row.option.name));
    if (found == request.inputs.end()) continue;
    if (!row.takes(removal.operation)) {
      if (chain) continue;
      throw UsageError(
          "--" + std::string(row.option.name) + ": " + name + " takes no " +
          std::string(
              row.option.name == "count"   ? "number of characters"
              : row.option.name == "chars" ? "characters"
              : row.option.name == "text" || row.option.name == "match-case"  ? "text to remove"
              : row.option.name == "pattern" || row.option.name == "any-case" ? "pattern"
              : row.option.name == "open" || row.option.name == "close"       ? "delimiters"
                                                                              : "start position"));
    }
    if (row.read) row.read(removal, found->second);
  }
  if (usesStartPosition(removal.operation)) {
    if (removal.start && removal.separator) {
      throw UsageError(
          "--start and --separator exclude each other (the separator gives the start position)");
    }
    if (!removal.start && !removal.separator) {
      throw UsageError(name + ": give the start position with --start N (1 to " +
                       std::to_string(kMaxPosition) + ") or with --separator C");
    }
    if (given(request, "occurrence") && !removal.separator) {
      throw UsageError(
          "--occurrence: give it with --separator (it picks an occurrence of the separator)");
    }
  }
  if (readsChars(removal.operation) && removal.chars.empty()) {
    throw UsageError(name + ": give the characters to remove with --chars TEXT");
  }
  if (readsText(removal.operation) && removal.text.empty()) {
    throw UsageError(name + ": give the text to remove with --text TEXT");
  }
  if (readsPattern(removal.operation)) {
    if (removal.pattern.empty()) {
      throw UsageError(name + ": give the regular expression with --pattern REGEX");
    }
    const TextRules rules = request.unicode ? TextRules::Unicode : TextRules::Classic;
    if (const auto error = patternError(removal.pattern, removal.matchCase, rules)) {
      throw UsageError("--pattern: " + toUtf8(*error));
    }
  }
  if (readsDelimiters(removal.operation) && (removal.opening.empty() || removal.closing.empty())) {
    throw UsageError(name + ": give both delimiters with --open TEXT and --close TEXT");
  }
  if (operationRow(removal.operation).inputs == OperationInputs::Count && !removal.count) {
    throw UsageError(name + ": give the number of characters with --count X (0 to " +
                     std::to_string(kMaxPosition) + ")");
  }
  return removal;
}

// ---- Lists -----------------------------------------------------------------------------

// "a,b" as {"a", "b"}; a double-quoted entry may hold commas ("last, first"), its quotes
// doubled inside.
std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> out(1);
  bool inQuotes = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"' && (inQuotes || out.back().empty() || out.back() == "!")) {
      if (inQuotes && i + 1 < text.size() && text[i + 1] == '"') {
        out.back() += '"';
        ++i;
      } else {
        inQuotes = !inQuotes;
      }
    } else if (c == ',' && !inQuotes) {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  if (inQuotes) throw UsageError("-c: " + quoted(text) + " has a quote that is not closed");
  return out;
}

void planRemovals(const ApplyRequest& request, Plan& plan) {
  std::vector<std::string> names;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = request.operation.find(',', from);
    names.push_back(request.operation.substr(from, comma - from));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  const bool chain = names.size() > 1;
  std::vector<bool> taken(inputTable().size(), false);
  for (const std::string& name : names) {
    const Removal removal = planRemoval(request, name, chain);
    if (!isCharacterOperation(removal.operation)) {
      if (chain) {
        throw UsageError("OPERATION: " + toUtf8(operationCode(removal.operation)) +
                         " clears values and runs alone, not in a list");
      }
      plan.value = removal.operation;
    } else {
      plan.removals.push_back(removal);
    }
    for (std::size_t i = 0; i < inputTable().size(); ++i) {
      if (inputTable()[i].takes(removal.operation)) taken[i] = true;
    }
    if (!plan.codes.empty()) plan.codes += ',';
    plan.codes += toUtf8(operationCode(removal.operation));
  }
  for (std::size_t i = 0; i < inputTable().size(); ++i) {
    const std::string name(inputTable()[i].option.name);
    if (chain && given(request, name) && !taken[i]) {
      throw UsageError("--" + name + ": no removal of " + quoted(request.operation) + " takes it");
    }
  }
}

// The steps of a recipe whose cells and text rules are the same (one pass over the file).
void planRecipeSteps(const ApplyRequest& request, Plan& plan) {
  const Recipe& recipe = *request.recipe;
  for (const InputRow& row : inputTable()) {
    if (given(request, row.option.name)) {
      throw UsageError("--" + std::string(row.option.name) +
                       ": a recipe gives each step its own inputs; leave it out");
    }
  }
  if (request.unicode) {
    throw UsageError("--unicode: a recipe gives each step its own text rules; leave it out");
  }
  plan.rules = recipe.steps.front().rules;
  for (const RecipeStep& step : recipe.steps) {
    if (!isCharacterOperation(step.operation)) {
      plan.value = step.operation;
    } else {
      Removal removal;
      removal.operation = step.operation;
      removal.start = step.start;
      removal.count = step.count;
      removal.chars = step.characters;
      removal.text = step.text;
      removal.matchCase = step.matchCase;
      removal.pattern = step.pattern;
      removal.opening = step.opening;
      removal.closing = step.closing;
      removal.separator = step.separator;
      removal.occurrence = step.occurrence;
      plan.removals.push_back(std::move(removal));
    }
    if (!plan.codes.empty()) plan.codes += ',';
    plan.codes += toUtf8(operationCode(step.operation));
  }
  if (plan.value && !plan.removals.empty()) {
    throw UsageError("--recipe: " + plan.codes + " clears values after rewriting them in one pass");
  }
}

// ---- Format and target -----------------------------------------------------------------

bool isTabExtension(const std::string& ext) { return ext == "tsv" || ext == "tab"; }

char planDelimiter(const ApplyRequest& request, const std::string& file) {
  if (request.tabs && request.delimiter) throw UsageError("-t and -d exclude each other");
  if (request.tabs) return '\t';
  if (!request.delimiter) return isTabExtension(extensionOf(file)) ? '\t' : ',';
  const std::string& d = *request.delimiter;
  const std::string text = d == "\\t" ? "\t" : d;
  if (text.size() != 1 || static_cast<unsigned char>(text[0]) >= 0x80 || text[0] == '"' ||
      text[0] == '\r' || text[0] == '\n') {
    throw UsageError("-d: " + quoted(d) +
                     " is not a delimiter; give one ASCII character other than a quote or a "
                     "line break, such as ';' or '|' (-t for tabs)");
  }
  return text[0];
}

// Devices and the like take whatever is written; a file's name says what it holds.
bool namedByExtension(const std::string& path) {
  return path != "-" && !path.starts_with("/dev/") && !path.starts_with("/proc/");
}

// Refuses an output name that says it holds another format than the one written: a
// workbook under a text name (or an .xlsm package under .xlsx), text under a workbook
// name, tabs under .csv or commas under .tsv.
void checkOutputName(const Plan& plan, const std::string& output) {
  if (!namedByExtension(output)) return;
  const std::string ext = extensionOf(output);
  if (plan.format == Format::Workbook) {
    std::string wanted = extensionOf(plan.file);
    if (wanted != "xlsx" && wanted != "xlsm") wanted = ext == "xlsm" ? "xlsm" : "xlsx";
    if (ext != wanted) {
      throw UsageError("-o: " + output + " would hold a workbook; give a name ending in ." +
                       wanted);
    }
    return;
  }
  if (isWorkbookExtension(ext)) {
    throw UsageError("-o: " + output + " names a workbook, and the result is " +
                     (plan.csv.delimiter == '\t' ? "tab-separated" : "CSV") +
                     " text; give a name ending in ." +
                     (plan.csv.delimiter == '\t' ? "tsv" : "csv") +
                     // Standard input is read as text: a workbook is read from its file.
                     (plan.file == "-" ? " (a workbook is read from its file, given as FILE, "
                                         "not from standard input)"
                                       : ""));
  }
  if (ext == "csv" && plan.csv.delimiter == '\t') {
    throw UsageError("-o: " + output +
                     " ends in .csv, and the result is tab-separated; give a "
                     "name ending in .tsv");
  }
  if (isTabExtension(ext) && plan.csv.delimiter != '\t') {
    throw UsageError("-o: " + output + " ends in ." + ext + ", and the result is separated by " +
                     quoted(std::string(1, plan.csv.delimiter)) + "; give -t or another name");
  }
}

void planTarget(const ApplyRequest& request, Plan& plan) {
  if (request.output && request.inPlace) throw UsageError("-o and --in-place exclude each other");
  if (request.output && request.output->empty()) throw UsageError("-o: give a file name");
  if (request.inPlace && plan.file == "-") {
    throw UsageError("--in-place: standard input cannot be replaced; give -o OUT");
  }
  if (request.force && !request.output && !request.inPlace) {
    throw UsageError("--force: give it with -o or --in-place");
  }
  plan.target.force = request.force;
  if (request.inPlace) {
    plan.target.standardOutput = false;
    plan.target.path = plan.file;
  } else if (request.output && *request.output != "-") {
    plan.target.standardOutput = false;
    plan.target.path = *request.output;
    checkOutputName(plan, plan.target.path);
  }
  if (plan.format == Format::Workbook && plan.target.standardOutput && !request.output &&
      !request.dryRun) {
    throw UsageError("a workbook's result is a file: give -o FILE, -o - or --in-place");
  }
}

// Refuses the options that mean nothing for the format, with the reason.
void refuseForFormat(const ApplyRequest& request, const Plan& plan) {
  const auto refuse = [](bool given, const char* option, const std::string& why) {
    if (given) throw UsageError(std::string(option) + ": " + why + "; leave it out");
  };
  if (plan.format == Format::Workbook) {
    const char* format = "a workbook has no delimiter, encoding or byte-order mark";
    refuse(request.delimiter || request.tabs || request.quotedTsv, "-d/-t/--quoted-tsv", format);
    refuse(request.encoding || request.outputEncoding || request.bom.has_value(), "-e/--bom",
           format);
    refuse(request.guardFormulas, "--guard-formulas",
           "a workbook keeps a text result as text, never as a formula");
    refuse(request.typed, "--typed", "a workbook's cells are read with the types Excel stored");
    return;
  }
  refuse(request.resultsAsText, "--results-as-text",
         plan.format == Format::Typed ? "--typed reads results as typed input, as the add-in does"
                                      : "the fields of CSV text are text already");
  if (request.sheet) throw UsageError("--sheet: " + plan.file + " is CSV, which has one sheet");
  if (plan.format == Format::Typed) {
    const std::string why =
        "--typed reads UTF-8 comma-separated files and runs one removal over a sheet";
    refuse(request.delimiter || request.tabs, "-d/-t", why);
    refuse(request.encoding || request.outputEncoding || request.bom.has_value(), "-e/--bom", why);
    refuse(request.guardFormulas, "--guard-formulas", why);
  }
}

void planCells(const ApplyRequest& request, Plan& plan) {
  if (request.columns && request.range) throw UsageError("-c and --range exclude each other");
  if (request.headerRow) {
    if (request.range) throw UsageError("--header-row: --range names its cells itself");
    if (request.noHeader) throw UsageError("--header-row and --no-header exclude each other");
    // The header needs a row of data below it.
    plan.cells.headerRow = boundedNumber("--header-row", *request.headerRow, 1,
                                         static_cast<int>(kMaxRows - 1), "header row");
  }
  // Without --range, a sheet's header stays as it is, as a CSV file's does: the first row
  // that holds a value (--header-row N, or none with --no-header).
  plan.cells.header = !request.noHeader && !request.range;
  if (request.range) {
    const auto areas = parseReference(utf16Option("--range", *request.range));
    if (!areas || areas->empty()) {
      throw UsageError("--range: " + quoted(*request.range) +
                       " is not a range; give A1 references such as B2:B6, B:B or 3:3, joined "
                       "by commas");
    }
    if (plan.value) {
      const int64_t column = areas->front().first.column;
      const bool oneColumn = std::all_of(areas->begin(), areas->end(), [&](const AreaRef& a) {
        return a.columns() == 1 && a.first.column == column;
      });
      if (!oneColumn) {
        throw UsageError("--range: " + plan.codes + " works on a single column; " +
                         quoted(*request.range) + " is not one (give, say, B:B or B2:B100)");
      }
    }
    plan.cells.range = *areas;
  }
  if (request.columns) {
    std::vector<ColumnPick> picks;
    for (std::string text : splitList(*request.columns)) {
      ColumnPick pick;
      if (text.starts_with('!')) {
        pick.exclude = true;
        text.erase(0, 1);
        if (text.size() >= 2 && text.front() == '"') text = text.substr(1, text.size() - 2);
      }
      if (text.empty()) throw UsageError("-c: " + quoted(*request.columns) + " names no column");
      pick.text = std::move(text);
      picks.push_back(std::move(pick));
    }
    plan.cells.columns = std::move(picks);
  }
}

}  // namespace

std::span<const InputOption> inputOptions() {
  static const std::vector<InputOption> options = [] {
    std::vector<InputOption> out;
    for (const InputRow& row : inputTable()) out.push_back(row.option);
    return out;
  }();
  return options;
}

const std::vector<OperationName>& operationNames() {
  static const std::vector<OperationName> names = [] {
    std::vector<OperationName> out;
    for (const NameEntry& entry : nameTable()) out.push_back({entry.name, entry.meaning});
    return out;
  }();
  return names;
}

int boundedNumber(const char* option, const std::string& text, int low, int high,
                  const char* what) {
  const std::string range = std::to_string(low) + " to " + std::to_string(high);
  const bool digitsOnly = !text.empty() && std::all_of(text.begin(), text.end(),
                                                       [](char c) { return c >= '0' && c <= '9'; });
  if (!digitsOnly) {
    throw UsageError(std::string(option) + ": " + quoted(text) + " is not a whole number; the " +
                     what + " is " + range);
  }
  const std::size_t first = text.find_first_not_of('0');
  const std::string significant = first == std::string::npos ? "0" : text.substr(first);
  if (significant.size() > 9 || std::stoi(significant) < low || std::stoi(significant) > high) {
    throw UsageError(std::string(option) + ": " + text + " is out of range; the " + what + " is " +
                     range);
  }
  return std::stoi(significant);
}

Recipe requestRecipe(const ApplyRequest& request) {
  if (request.recipe) return *request.recipe;
  Plan plan;
  plan.rules = request.unicode ? TextRules::Unicode : TextRules::Classic;
  planRemovals(request, plan);
  planCells(request, plan);
  std::vector<Removal> steps = plan.removals;
  Recipe recipe;
  const auto cells = [&](RecipeStep& step) {
    step.rules = plan.rules;
    if (request.columns) {
      for (const ColumnPick& pick : *plan.cells.columns) {
        step.columns.push_back((pick.exclude ? "!" : "") + pick.text);
      }
    }
    step.range = request.range;
  };
  for (const Removal& removal : steps) {
    RecipeStep step;
    step.operation = removal.operation;
    step.start = removal.start;
    step.count = removal.count;
    step.characters = removal.chars;
    step.text = removal.text;
    step.matchCase = removal.matchCase;
    step.pattern = removal.pattern;
    step.opening = removal.opening;
    step.closing = removal.closing;
    step.separator = removal.separator;
    step.occurrence = removal.occurrence;
    cells(step);
    recipe.steps.push_back(std::move(step));
  }
  if (plan.value) {
    RecipeStep step;
    step.operation = *plan.value;
    cells(step);
    recipe.steps.push_back(std::move(step));
  }
  return recipe;
}

Plan planApply(const ApplyRequest& request, Format format) {
  Plan plan;
  plan.format = format;
  plan.file = request.file.value_or("-");
  plan.rules = request.unicode ? TextRules::Unicode : TextRules::Classic;
  refuseForFormat(request, plan);
  if (request.recipe) {
    planRecipeSteps(request, plan);
  } else {
    planRemovals(request, plan);
  }
  if (format == Format::Typed && plan.removals.size() > 1) {
    throw UsageError("OPERATION: --typed runs one removal over a sheet; give one");
  }
  if (format != Format::Csv && plan.rules == TextRules::Classic) {
    for (const Removal& removal : plan.removals) {
      // Positions in a cell count UTF-16 units unless --unicode says characters; a
      // separator of two units would put the start position inside a pair.
      if (removal.separator && removal.separator->size() != 1) {
        throw UsageError(
            "--separator: in a sheet a character beyond U+FFFF counts as two positions; give "
            "--unicode to count it as one");
      }
    }
  }
  if (format != Format::Workbook) {
    plan.csv.delimiter = format == Format::Typed ? ',' : planDelimiter(request, plan.file);
    if (request.quotedTsv && plan.csv.delimiter != '\t') {
      throw UsageError("--quoted-tsv: " + plan.file +
                       " is read as comma-separated text, whose fields may be quoted anyway; "
                       "give it with tab-separated text (.tsv, .tab or -t)");
    }
    plan.csv.quoting = plan.csv.delimiter != '\t' || request.quotedTsv;
    if (request.encoding) plan.csv.inputEncoding = namedEncoding("-e", *request.encoding);
    if (request.outputEncoding) {
      plan.csv.outputEncoding = namedEncoding("--output-encoding", *request.outputEncoding);
    }
    if (request.bom) {
      if (*request.bom != "yes" && *request.bom != "no") {
        throw UsageError("--bom: give yes or no, not " + quoted(*request.bom));
      }
      plan.csv.bom = *request.bom == "yes";
    }
    plan.csv.guardFormulas = request.guardFormulas;
  }
  plan.sheet = request.sheet;
  planTarget(request, plan);
  if (request.limit && !request.dryRun) throw UsageError("--limit: give it with --dry-run");
  if (request.limit) {
    const std::string& l = *request.limit;
    const bool digits = !l.empty() && l.size() <= 9 && std::all_of(l.begin(), l.end(), [](char c) {
      return c >= '0' && c <= '9';
    });
    if (!digits) throw UsageError("--limit: " + quoted(l) + " is not a whole number of changes");
    plan.limit = std::stoll(l);
  }
  plan.dryRun = request.dryRun;
  plan.quiet = request.quiet;
  plan.resultsAsText = request.resultsAsText;
  planCells(request, plan);
  return plan;
}

}  // namespace qmv::cli
