#include "tools/qmv/apply.hpp"

#include <algorithm>
#include <chrono>
#include <memory>
#include <ostream>

#include "engine/find_nth_occurrence.hpp"
#include "engine/operations.hpp"
#include "engine/run.hpp"
#include "engine/undo.hpp"
#include "engine/unicode_transforms.hpp"
#include "host/text.hpp"
#include "platform/memory/memory_application.hpp"
#include "tools/qmv/file_plan.hpp"
#include "tools/qmv/files.hpp"
#include "tools/qmv/sheet_csv.hpp"
#include "tools/qmv/text_apply.hpp"
#include "tools/qmv/workbook_file.hpp"
#include "ui/progress_display.hpp"

namespace qmv::cli {
namespace {

constexpr int kMaxPosition = 32767;

// How a name picks the position removal.
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
    out.push_back(
        {"before", Family::Before, Operation::RBSP, "RBSP with --all, RNBP with --count"});
    out.push_back({"after", Family::After, Operation::RASP, "RASP with --all, RNAP with --count"});
    out.push_back({"position", Family::Position, Operation::RASP,
                   "--before or --after, with --all or --count"});
    return out;
  }();
  return table;
}

std::string lowered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

const NameEntry* findName(std::string_view name) {
  const std::string wanted = lowered(name);
  for (const NameEntry& entry : nameTable()) {
    if (lowered(entry.name) == wanted) return &entry;
  }
  return nullptr;
}

bool isPosition(Operation operation) { return usesStartPosition(operation); }
bool isValueOperation(Operation operation) { return !isCharacterOperation(operation); }
bool removesBefore(Operation operation) {
  return operation == Operation::RBSP || operation == Operation::RNBP;
}
bool removesAll(Operation operation) {
  return operation == Operation::RBSP || operation == Operation::RASP;
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::u16string utf16Option(const char* option, const std::string& text) {
  if (!isValidUtf8(text)) throw UsageError(std::string(option) + ": the text is not valid UTF-8");
  return toUtf16(text);
}

void planPosition(const ApplyRequest& request, const NameEntry& entry, ApplyPlan& plan) {
  const std::string& name = request.operation;
  if (request.before && request.after) {
    throw UsageError("--before and --after exclude each other");
  }
  bool before = false;
  bool whole = false;
  if (entry.family == Family::Fixed) {
    before = removesBefore(entry.operation);
    whole = removesAll(entry.operation);
    const char* side = before ? "before" : "after";
    if (request.before && !before)
      throw UsageError("--before: " + name + " removes text after the start position");
    if (request.after && before)
      throw UsageError("--after: " + name + " removes text before the start position");
    if (whole && request.count) {
      throw UsageError("--count: " + name + " removes all the text " + side +
                       " the start position; " + (before ? "RNBP" : "RNAP") +
                       " removes a number of characters");
    }
    if (!whole && request.all) {
      throw UsageError("--all: " + name + " removes --count characters; " +
                       (before ? "RBSP" : "RASP") + " removes all the text " + side +
                       " the start position");
    }
    if (!whole && !request.count) {
      throw UsageError(name + ": give the number of characters with --count X (0 to " +
                       std::to_string(kMaxPosition) + ")");
    }
  } else {
    if (entry.family == Family::Position) {
      if (!request.before && !request.after) throw UsageError(name + ": give --before or --after");
      before = request.before;
    } else {
      before = entry.family == Family::Before;
      if (request.before && !before)
        throw UsageError("--before: " + name + " removes text after the start position");
      if (request.after && before)
        throw UsageError("--after: " + name + " removes text before the start position");
    }
    if (request.all && request.count) throw UsageError("--all and --count exclude each other");
    if (!request.all && !request.count) {
      throw UsageError(name +
                       ": give --all (all the text) or --count X (that many characters, 0 to " +
                       std::to_string(kMaxPosition) + ")");
    }
    whole = request.all;
  }
  plan.operation = whole ? (before ? Operation::RBSP : Operation::RASP)
                         : (before ? Operation::RNBP : Operation::RNAP);
  if (!whole)
    plan.count = boundedNumber("--count", *request.count, 0, kMaxPosition, "number of characters");

  if (request.start && request.separator) {
    throw UsageError(
        "--start and --separator exclude each other (the separator gives the start position)");
  }
  if (!request.start && !request.separator) {
    throw UsageError(name + ": give the start position with --start N (1 to " +
                     std::to_string(kMaxPosition) + ") or with --separator C");
  }
  if (request.occurrence && !request.separator) {
    throw UsageError(
        "--occurrence: give it with --separator (it picks an occurrence of the separator)");
  }
  if (request.start) {
    plan.start = boundedNumber("--start", *request.start, 1, kMaxPosition, "start position");
    return;
  }
  const std::u16string separator = utf16Option("--separator", *request.separator);
  if (separator.size() != 1) {
    throw UsageError("--separator: give exactly one character, not " + quoted(*request.separator));
  }
  plan.separator = separator.front();
  if (!request.occurrence) return;
  const std::string occurrence = lowered(*request.occurrence);
  static const std::vector<std::pair<std::string, std::u16string>> kEntries = {
      {"1st", u"1st"}, {"2nd", u"2nd"}, {"3rd", u"3rd"}, {"4th", u"4th"}, {"last", u"Last"}};
  for (const auto& [word, entryText] : kEntries) {
    if (occurrence == word) {
      plan.occurrence = entryText;
      plan.occurrenceIsEntry = true;
      return;
    }
  }
  const bool digitsOnly =
      !occurrence.empty() && std::all_of(occurrence.begin(), occurrence.end(),
                                         [](char c) { return c >= '0' && c <= '9'; });
  if (!digitsOnly) {
    throw UsageError("--occurrence: " + quoted(*request.occurrence) +
                     " is not an occurrence; give 1st, 2nd, 3rd, 4th, Last or a number from 1 to " +
                     std::to_string(kMaxPosition));
  }
  const int n = boundedNumber("--occurrence", occurrence, 1, kMaxPosition, "occurrence");
  plan.occurrence = toUtf16(std::to_string(n));
  plan.occurrenceIsEntry = false;
}

// The start position of one cell: the fixed --start, or the occurrence of --separator.
std::optional<int16_t> startOf(const ApplyPlan& plan, std::u16string_view text) {
  if (plan.start) return static_cast<int16_t>(*plan.start);
  const std::u16string_view separator(&*plan.separator, 1);
  return separatorStart(text, separator, occurrenceOf(plan.occurrence, plan.occurrenceIsEntry));
}

// The run request of a plan: the operation and, for those that read them, the inputs the
// options gave (the start position found again in every cell when a separator gives it).
RunRequest requestOf(const ApplyPlan& plan) {
  RunRequest request;
  request.operation = plan.operation;
  request.rules = plan.rules;
  const OperationInputs inputs = operationRow(plan.operation).inputs;
  if (inputs == OperationInputs::None) return request;
  request.inputs = [&plan, inputs](std::u16string_view text) -> std::optional<CellRequest> {
    CellRequest cell{plan.operation, {}};
    if (inputs == OperationInputs::Characters) {
      cell.inputs.userChars = plan.chars;
      return cell;
    }
    cell.inputs.startPosition = startOf(plan, text);
    if (plan.separator && plan.rules == TextRules::Unicode && cell.inputs.startPosition) {
      cell.inputs.startPosition =
          static_cast<int16_t>(codePointPosition(text, *cell.inputs.startPosition));
    }
    // No occurrence of the separator leaves the text as it is.
    if (!cell.inputs.startPosition || *cell.inputs.startPosition == 0) return std::nullopt;
    if (inputs == OperationInputs::StartAndCount) {
      cell.inputs.charCount = static_cast<int16_t>(plan.count.value_or(1));
    }
    return cell;
  };
  return request;
}

// A session without forms: what the engine tells the user is kept for the report.
class ApplySession : public RemovalSession {
 public:
  void tellUser(const std::u16string& text) override { told.push_back(text); }
  std::vector<std::u16string> told;
};

// Hears the run: keeps its messages and, once the run has taken a moment, shows its
// progress on a terminal (steps done, the maximum and the percentage).
class ApplyObserver : public RunObserver {
 public:
  ApplyObserver(std::ostream& err, bool showProgress) : err_(err), showProgress_(showProgress) {}
  ApplyObserver(const ApplyObserver&) = delete;
  ApplyObserver& operator=(const ApplyObserver&) = delete;

  void started() override {}
  void setMaximum(float maximum) override { max_ = maximum; }
  void yield() override {}
  void progress(float step) override {
    if (!showProgress_) return;
    const int64_t percent = percentOf(step, max_);
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    if (!shown_ && std::chrono::steady_clock::now() - started_ < std::chrono::milliseconds(300)) {
      return;
    }
    err_ << "\rqmv apply: " << static_cast<long long>(step) << " of "
         << static_cast<long long>(max_) << " (" << toUtf8(percentText(step, max_)) << ")   "
         << std::flush;
    shown_ = true;
  }
  bool stopRequested() override { return false; }
  void message(const std::u16string& text) override { messages.push_back(text); }
  void finish() override {
    if (shown_) err_ << '\n' << std::flush;
    shown_ = false;
  }

  std::vector<std::u16string> messages;

 private:
  std::ostream& err_;
  bool showProgress_;
  float max_ = 0;
  int64_t lastPercent_ = -1;
  bool shown_ = false;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

// Cells the run visited and changed.
struct RunCount {
  int64_t visited = 0;
  int64_t changed = 0;
};

int64_t countNonEmpty(memory::MemoryApplication& app, const std::u16string& range) {
  return static_cast<int64_t>(app.worksheetFunction().countA(*app.range(range)));
}

RunCount countCharacterRun(memory::MemoryApplication& app, const RemovalSession& session) {
  RunCount count;
  if (!session.undoSnapshot) return count;
  const UndoSnapshot& snapshot = *session.undoSnapshot;
  count.visited = static_cast<int64_t>(snapshot.size());
  for (std::size_t i = 0; i < snapshot.size(); ++i) {
    if (!snapshot.holdsPrevious(i, app.cell(snapshot.cell(i)))) ++count.changed;
  }
  return count;
}

// What a run came to.
struct RunOutcome {
  bool refused = false;  ///< the engine refused the run
  RunCount count;
};

// Runs the plan's removal over the selection of `app` through the run API, as the
// add-in's dialog or wizard runs it, without forms.
RunOutcome runRemovalOn(const std::shared_ptr<memory::MemoryApplication>& app,
                        const ApplyPlan& plan, const std::u16string& range, ApplyStreams& streams) {
  ApplySession session;
  session.hostApp = app;
  ApplyObserver observer(streams.err, streams.progress);

  const bool values = isValueOperation(plan.operation);
  const int64_t nonEmptyBefore = values ? countNonEmpty(*app, range) : 0;
  runRemoval(session, requestOf(plan), observer);

  RunOutcome outcome;
  for (const auto& message : observer.messages) {
    streams.err << "qmv apply: the add-in says: " << toUtf8(message) << '\n';
    if (message != kEmptySelectionText) outcome.refused = true;
  }
  if (values) {
    outcome.count.visited = nonEmptyBefore;
    outcome.count.changed = nonEmptyBefore - countNonEmpty(*app, range);
  } else {
    outcome.count = countCharacterRun(*app, session);
  }
  return outcome;
}

// Writes the result where the request asks. Throws FileError.
void writeResult(const ApplyRequest& request, const std::string& result, std::ostream& out) {
  const Overwrite overwrite = request.force ? Overwrite::Force : Overwrite::Refuse;
  if (request.inPlace) {
    replaceFile(request.file, result, overwrite);
  } else if (request.output && *request.output != "-") {
    replaceFile(*request.output, result, overwrite);
  } else {
    out.write(result.data(), static_cast<std::streamsize>(result.size()));
    out.flush();
    if (!out) throw FileError("cannot write the result to standard output");
  }
}

}  // namespace

int boundedNumber(const char* option, const std::string& text, int low, int high,
                  const char* what) {
  const std::string range = std::to_string(low) + " to " + std::to_string(high);
  const bool digitsOnly = !text.empty() && std::all_of(text.begin(), text.end(),
                                                       [](char c) { return c >= '0' && c <= '9'; });
  if (!digitsOnly) {
    throw UsageError(std::string(option) + ": " + quoted(text) + " is not a whole number; the " +
                     what + " is " + range);
  }
  std::size_t first = text.find_first_not_of('0');
  const std::string significant = first == std::string::npos ? "0" : text.substr(first);
  if (significant.size() > 9 || std::stoi(significant) < low || std::stoi(significant) > high) {
    throw UsageError(std::string(option) + ": " + text + " is out of range; the " + what + " is " +
                     range);
  }
  return std::stoi(significant);
}

const std::vector<OperationName>& operationNames() {
  static const std::vector<OperationName> names = [] {
    std::vector<OperationName> out;
    for (const NameEntry& entry : nameTable()) out.push_back({entry.name, entry.meaning});
    return out;
  }();
  return names;
}

ApplyPlan planApply(const ApplyRequest& request) {
  const NameEntry* entry = findName(request.operation);
  if (entry == nullptr) {
    throw UsageError("OPERATION: " + quoted(request.operation) +
                     " is not an operation; give a code RNUM ... RUDP or a name such as digits "
                     "(qmv apply --help lists them)");
  }
  if (request.output && request.inPlace) throw UsageError("-o and --in-place exclude each other");
  if (request.output && request.output->empty()) throw UsageError("-o: give a file name");

  ApplyPlan plan;
  plan.rules = request.unicode ? TextRules::Unicode : TextRules::Classic;
  plan.operation = entry->operation;
  if (request.range) {
    auto areas = parseReference(utf16Option("--range", *request.range));
    if (!areas || areas->empty()) {
      throw UsageError("--range: " + quoted(*request.range) +
                       " is not a range; give A1 references such as B2:B6, B:B or 3:3, joined "
                       "by commas");
    }
    plan.range = std::move(*areas);
  }

  const bool position = entry->family != Family::Fixed || isPosition(entry->operation);
  if (position) {
    planPosition(request, *entry, plan);
  } else {
    const std::string takes = request.operation + " takes no start position";
    if (request.start) throw UsageError("--start: " + takes);
    if (request.separator) throw UsageError("--separator: " + takes);
    if (request.occurrence) throw UsageError("--occurrence: " + takes);
    if (request.count)
      throw UsageError("--count: " + request.operation + " takes no number of characters");
    if (request.before) throw UsageError("--before: " + takes);
    if (request.after) throw UsageError("--after: " + takes);
    if (request.all) throw UsageError("--all: " + takes);
  }

  if (plan.operation == Operation::RUDC) {
    if (!request.chars || request.chars->empty()) {
      throw UsageError(request.operation + ": give the characters to remove with --chars TEXT");
    }
    plan.chars = utf16Option("--chars", *request.chars);
  } else if (request.chars) {
    throw UsageError("--chars: only RUDC (chars) removes the characters of --chars");
  }

  if (isValueOperation(plan.operation) && plan.range) {
    const auto& areas = *plan.range;
    if (areas.size() != 1 || areas.front().columns() != 1) {
      throw UsageError("--range: " + request.operation + " works on a single column; " +
                       quoted(*request.range) + " is not one (give, say, B:B or B2:B100)");
    }
  }
  return plan;
}

// Refuses the options of the text path that a run over a sheet does not take; `why` says
// what that run reads instead.
void refuseTextOptions(const ApplyRequest& request, const std::string& why) {
  const auto refuse = [&why](bool given, const char* option) {
    if (given) throw UsageError(std::string(option) + ": " + why + "; leave it out");
  };
  refuse(request.delimiter || request.tabs, "-d/-t");
  refuse(request.encoding || request.outputEncoding || request.bom.has_value(), "-e/--bom");
  refuse(request.columns || request.noHeader || request.headerRow, "-c");
  refuse(request.dryRun || request.limit, "--dry-run");
  refuse(request.guardFormulas, "--guard-formulas");
  refuse(request.operation.find(',') != std::string::npos, "OPERATION");
  if (request.inPlace && request.file == "-") {
    throw UsageError("--in-place: standard input cannot be replaced; give -o OUT");
  }
}

int runApply(const ApplyRequest& request, ApplyStreams& streams) {
  std::ostream& err = streams.err;
  const FileKind kind = fileKindOf(request.file);
  if (kind == FileKind::Refused) {
    err << "qmv apply: " << refusalOf(request.file) << '\n';
    return 1;
  }
  if (request.sheet && kind != FileKind::Workbook) {
    err << "qmv apply: --sheet: " << request.file << " is CSV, which has one sheet\n";
    return 2;
  }
  if (kind == FileKind::Csv && !request.typed) return runTextApply(request, streams);
  if (kind == FileKind::Workbook) {
    return runApplyWorkbook(request, streams,
                            [&](const std::shared_ptr<memory::MemoryApplication>& book,
                                const std::u16string& range, Operation operation) {
                              ApplyPlan values;
                              values.operation = operation;
                              values.rules =
                                  request.unicode ? TextRules::Unicode : TextRules::Classic;
                              return runRemovalOn(book, values, range, streams).refused;
                            });
  }

  ApplyPlan plan;
  try {
    refuseTextOptions(request,
                      "--typed reads UTF-8 comma-separated files and runs one removal over a "
                      "sheet");
    plan = planApply(request);
  } catch (const UsageError& e) {
    err << "qmv apply: " << e.what() << '\n';
    return 2;
  }
  auto app = std::make_shared<memory::MemoryApplication>();
  app->addWorkbook();
  CsvLayout layout;
  try {
    layout = loadCsv(*app, readWholeFile(request.file));
  } catch (const FileError& e) {
    err << "qmv apply: " << e.what() << '\n';
    return 1;
  } catch (const CsvLoadError& e) {
    err << "qmv apply: " << request.file << ": " << e.what() << '\n';
    return 1;
  }

  const std::u16string range = plan.range ? formatAddress(*plan.range) : app->usedRangeAddress();
  if (isValueOperation(plan.operation) && !plan.range) {
    const auto used = parseReference(range);
    if (used && used->front().columns() != 1) {
      err << "qmv apply: --range: " << request.operation
          << " works on a single column, and the cells of " << request.file << " span "
          << used->front().columns() << " columns (" << toUtf8(range)
          << "); pick one with --range, say B:B\n";
      return 2;
    }
  }
  app->select(range);

  const RunOutcome outcome = runRemovalOn(app, plan, range, streams);
  if (outcome.refused) {
    err << "qmv apply: nothing written\n";
    return 1;
  }
  try {
    const CsvWriteOptions options{',', layout.lineBreak, layout.byteOrderMark};
    writeResult(request, sheetCsv(*app, &layout, options), streams.out);
  } catch (const FileError& e) {
    err << "qmv apply: " << e.what() << '\n';
    return 1;
  }
  const RunCount& count = outcome.count;
  if (!request.quiet)
    err << "qmv apply: " << toUtf8(operationCode(plan.operation)) << " over " << toUtf8(range)
        << ": " << withThousands(count.visited) << (count.visited == 1 ? " cell" : " cells")
        << " visited, " << withThousands(count.changed) << " changed\n";
  if (streams.finish) streams.finish(0);
  return 0;
}

}  // namespace qmv::cli
