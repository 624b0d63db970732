#include "tools/qmv/file_plan.hpp"

#include <cstdio>
#include <ostream>
#include <utility>

#include "host/text.hpp"

namespace qmv::cli {
namespace {

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// A text as a dry run shows it: in double quotes, with \" \\ \n \r \t and \uXXXX for the
// other control characters.
std::string shown(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (b < 0x20 || b == 0x7F) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04X", b);
      out += buffer;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The request as one element of a chain sees it: the options it does not take left out
// (a chain's options go to the elements that take them).
ApplyRequest elementRequest(const ApplyRequest& request, const std::string& name, bool chain) {
  ApplyRequest element = request;
  element.operation = name;
  element.output.reset();
  element.inPlace = false;
  element.range.reset();
  if (!chain) return element;
  // An element that plans without options (RUDC with some characters) takes none of the
  // position options.
  std::optional<ApplyPlan> bare;
  for (const bool withChars : {false, true}) {
    ApplyRequest probe;
    probe.operation = name;
    if (withChars) probe.chars = "x";
    try {
      bare = planApply(probe);
      break;
    } catch (const UsageError&) {
      // A position removal needs its options; RUDC its characters.
    }
  }
  if (bare) {
    const bool takesChars = bare->operation == Operation::RUDC;
    ApplyRequest reduced;
    reduced.operation = name;
    if (takesChars) reduced.chars = request.chars;
    return reduced;
  }
  element.chars.reset();
  return element;
}

CharacterStep stepOf(const ApplyRequest& element, const ApplyPlan& plan) {
  CharacterStep step;
  step.operation = plan.operation;
  step.start = plan.start;
  step.count = plan.count;
  if (element.chars) step.chars = *element.chars;
  if (element.separator) step.separator = *element.separator;
  step.occurrence = plan.occurrence;
  step.occurrenceIsEntry = plan.occurrenceIsEntry;
  step.rules = plan.rules;
  return step;
}

void planRemovals(const ApplyRequest& request, FilePlan& plan) {
  const std::vector<std::string> names = splitList(request.operation);
  const bool chain = names.size() > 1;
  // Which options some element of a list takes.
  ApplyRequest used;
  for (const std::string& name : names) {
    ApplyRequest element = elementRequest(request, name, chain);
    // The add-in's wizard takes one UTF-16 unit as separator; here a character beyond
    // U+FFFF is one character too, so it is checked as a stand-in and kept as given.
    ApplyRequest checked = element;
    if (checked.separator && isOneWideCharacter(*checked.separator))
      checked.separator->assign(1, '-');
    const ApplyPlan one = planApply(checked);
    if (!isCharacterOperation(one.operation)) {
      if (chain) {
        throw UsageError("OPERATION: " + toUtf8(operationCode(one.operation)) +
                         " clears values and runs alone, not in a list");
      }
      plan.value = one.operation;
    } else {
      plan.steps.push_back(stepOf(element, one));
    }
    if (element.start) used.start = element.start;
    if (element.count) used.count = element.count;
    if (element.chars) used.chars = element.chars;
    if (element.separator) used.separator = element.separator;
    if (element.occurrence) used.occurrence = element.occurrence;
    used.before = used.before || element.before;
    used.after = used.after || element.after;
    used.all = used.all || element.all;
    if (!plan.codes.empty()) plan.codes += ',';
    plan.codes += toUtf8(operationCode(one.operation));
  }
  if (!chain) return;
  const struct {
    bool given;
    bool taken;
    const char* option;
  } options[] = {
      {request.start.has_value(), used.start.has_value(), "--start"},
      {request.count.has_value(), used.count.has_value(), "--count"},
      {request.chars.has_value(), used.chars.has_value(), "--chars"},
      {request.separator.has_value(), used.separator.has_value(), "--separator"},
      {request.occurrence.has_value(), used.occurrence.has_value(), "--occurrence"},
      {request.before, used.before, "--before"},
      {request.after, used.after, "--after"},
      {request.all, used.all, "--all"},
  };
  for (const auto& option : options) {
    if (option.given && !option.taken) {
      throw UsageError(std::string(option.option) + ": no removal of " + quoted(request.operation) +
                       " takes it");
    }
  }
}

// What a header row holds, for a name not found in it: "; it holds "id", "zip", ...".
std::string headerTexts(const std::vector<std::string>& header) {
  constexpr std::size_t kShown = 6;
  std::string out;
  std::size_t shownCount = 0;
  for (const std::string& text : header) {
    if (text.empty()) continue;
    if (shownCount == kShown) return out + ", ...";
    out += (shownCount++ == 0 ? "; it holds " : ", ") + quoted(text);
  }
  return shownCount == 0 ? "; it is empty" : out;
}

}  // namespace

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> out;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = text.find(',', from);
    out.push_back(text.substr(from, comma - from));
    if (comma == std::string::npos) return out;
    from = comma + 1;
  }
}

bool isOneWideCharacter(const std::string& text) {
  return text.size() == 4 && isValidUtf8(text) && static_cast<unsigned char>(text[0]) >= 0xF0;
}

FilePlan planFile(const ApplyRequest& request) {
  FilePlan plan;
  if (request.output && request.inPlace) throw UsageError("-o and --in-place exclude each other");
  if (request.output && request.output->empty()) throw UsageError("-o: give a file name");
  if (request.inPlace && request.file == "-") {
    throw UsageError("--in-place: standard input cannot be replaced; give -o OUT");
  }
  if (request.force && !request.output && !request.inPlace) {
    throw UsageError("--force: give it with -o or --in-place");
  }
  if (request.dryRun && (request.output || request.inPlace)) {
    throw UsageError("--dry-run writes nothing; leave out -o and --in-place");
  }
  if (request.limit && !request.dryRun) throw UsageError("--limit: give it with --dry-run");
  if (request.limit) {
    const std::string& l = *request.limit;
    const bool digits = !l.empty() && l.size() <= 9 && std::all_of(l.begin(), l.end(), [](char c) {
      return c >= '0' && c <= '9';
    });
    if (!digits) throw UsageError("--limit: " + quoted(l) + " is not a whole number of changes");
    plan.limit = std::stoll(l);
  }
  if (request.columns && request.range) throw UsageError("-c and --range exclude each other");
  if (request.noHeader && !request.columns) {
    throw UsageError("--no-header: give it with -c (without -c no row is a header)");
  }
  if (request.headerRow) {
    if (!request.columns) throw UsageError("--header-row: give it with -c");
    if (request.noHeader) throw UsageError("--header-row and --no-header exclude each other");
    // The header needs a row of data below it.
    plan.headerRow = boundedNumber("--header-row", *request.headerRow, 1,
                                   static_cast<int>(kMaxRows - 1), "header row");
  }
  planRemovals(request, plan);
  if (request.range) {
    ApplyRequest rangeOnly;
    rangeOnly.operation = plan.value ? toUtf8(operationCode(*plan.value)) : "RNUM";
    rangeOnly.range = request.range;
    plan.range = planApply(rangeOnly).range;
  }
  if (request.columns) {
    plan.columns = splitList(*request.columns);
    for (const std::string& column : *plan.columns) {
      if (column.empty()) throw UsageError("-c: " + quoted(*request.columns) + " names no column");
    }
    if (plan.value && plan.columns->size() != 1) {
      throw UsageError("-c: " + plan.codes + " works on a single column; give one");
    }
    plan.header = !request.noHeader;
  }
  return plan;
}

std::vector<int64_t> resolveColumns(const std::vector<std::string>& names,
                                    const std::vector<std::string>* header, int64_t headerRow) {
  std::vector<int64_t> out;
  for (const std::string& name : names) {
    std::vector<int64_t> matches;
    for (std::size_t i = 0; header != nullptr && i < header->size(); ++i) {
      if ((*header)[i] == name) matches.push_back(static_cast<int64_t>(i) + 1);
    }
    if (matches.size() > 1) {
      throw UsageError("-c: " + quoted(name) + " names columns " +
                       toUtf8(columnLetters(matches[0])) + " and " +
                       toUtf8(columnLetters(matches[1])) + "; give the column's letter");
    }
    if (matches.empty()) {
      std::string whole = name;
      whole += ':';
      whole += name;
      const auto areas = parseReference(toUtf16(whole));
      const bool letters = std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
      });
      if (!letters || !areas || areas->size() != 1) {
        throw UsageError("-c: no column is named " + quoted(name) +
                         (header ? " in row " + std::to_string(headerRow) + headerTexts(*header) +
                                       " (--header-row N reads the names from row N)"
                                 : std::string(" (--no-header: give column letters)")));
      }
      matches.push_back(areas->front().first.column);
    }
    out.push_back(matches.front());
  }
  return out;
}

Selection columnSelection(const std::vector<int64_t>& columns, int64_t headerRow) {
  std::vector<AreaRef> areas;
  for (const int64_t c : columns) areas.push_back(AreaRef{{headerRow + 1, c}, {kMaxRows, c}});
  return Selection(std::move(areas));
}

std::string describeColumns(const std::vector<std::string>& names,
                            const std::vector<int64_t>& columns, int64_t headerRow) {
  std::string out;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::string letters = toUtf8(columnLetters(columns[i]));
    out += (i > 0 ? ", " : "") + (names[i] == letters ? letters : names[i] + " (" + letters + ")");
  }
  return out + (headerRow > 0 ? " below row " + std::to_string(headerRow) : std::string());
}

std::string withThousands(int64_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const std::size_t left = digits.size() - i;
    if (i > 0 && left % 3 == 0 && digits[i - 1] != '-') out += ',';
    out += digits[i];
  }
  return out;
}

std::string summaryLine(std::string_view codes, std::string_view over, int64_t visited,
                        int64_t changed, bool dryRun) {
  return "qmv apply: " + std::string(codes) + " over " + std::string(over) + ": " +
         withThousands(visited) + (visited == 1 ? " cell" : " cells") + " visited, " +
         withThousands(changed) + (dryRun ? " would change" : " changed") + "\n";
}

Occurrence occurrenceOf(std::u16string_view occurrence, bool isEntry) {
  if (!isEntry) return {Occurrence::Kind::Nth, std::stoi(toUtf8(occurrence))};
  if (occurrence == u"1st") return {Occurrence::Kind::First, 1};
  if (occurrence == u"2nd") return {Occurrence::Kind::Nth, 2};
  if (occurrence == u"3rd") return {Occurrence::Kind::Nth, 3};
  if (occurrence == u"4th") return {Occurrence::Kind::Nth, 4};
  return {Occurrence::Kind::Last, 1};
}

ChangeReport::ChangeReport(std::ostream& out, OperationKind kind, int64_t limit)
    : out_(out), preview_(kind, INT64_MAX), limit_(limit) {}

void ChangeReport::add(int64_t row, int64_t column, std::string_view before,
                       std::string_view after) {
  ++changes_;
  if (preview_.wantsSample()) {
    preview_.add(toUtf16(before), toUtf16(after));
  } else {
    preview_.count();
  }
  if (changes_ > limit_) return;
  out_ << toUtf8(columnLetters(column)) << row << ": " << shown(before) << " -> " << shown(after)
       << '\n';
}

void ChangeReport::finish() {
  if (changes_ > limit_) out_ << "... and " << withThousands(changes_ - limit_) << " more\n";
  out_ << toUtf8(previewText(Preview{PreviewState::Ready, preview_})) << " (nothing written)\n";
}

}  // namespace qmv::cli
