#include "tools/qmv/apply.hpp"

#include <algorithm>
#include <chrono>
#include <memory>
#include <ostream>

#include "addin/addin_module.hpp"
#include "addin/connect.hpp"
#include "commands/entry_points.hpp"
#include "engine/character_run.hpp"
#include "engine/undo.hpp"
#include "host/text.hpp"
#include "platform/memory/headless_toolkit.hpp"
#include "platform/memory/memory_application.hpp"
#include "platform/memory/recorded_shell.hpp"
#include "tools/qmv/files.hpp"
#include "tools/qmv/sheet_csv.hpp"
#include "tools/qmv/workbook_file.hpp"

namespace qmv::cli {
namespace {

constexpr int kMaxPosition = 32767;

// How a name picks the position removal.
enum class Family { Fixed, Before, After, Position };

struct NameEntry {
  std::string_view name;
  Family family;
  Operation operation;
  std::string_view meaning;
};

const std::vector<NameEntry>& nameTable() {
  static const std::vector<NameEntry> table = {
      {"RNUM", Family::Fixed, Operation::RNUM, "all digits 0-9"},
      {"RALP", Family::Fixed, Operation::RALP, "all letters A-Z, a-z"},
      {"RNPC", Family::Fixed, Operation::RNPC, "non-printable characters (codes 0-31)"},
      {"RUDC", Family::Fixed, Operation::RUDC, "the characters of --chars"},
      {"RALS", Family::Fixed, Operation::RALS, "every space"},
      {"RLTS", Family::Fixed, Operation::RLTS, "leading and trailing spaces"},
      {"RLTE", Family::Fixed, Operation::RLTE, "leading, trailing and excessive spaces"},
      {"RBSP", Family::Fixed, Operation::RBSP, "all text before the start position"},
      {"RASP", Family::Fixed, Operation::RASP, "all text after the start position"},
      {"RNBP", Family::Fixed, Operation::RNBP, "--count characters before the start position"},
      {"RNAP", Family::Fixed, Operation::RNAP, "--count characters after the start position"},
      {"RUPC", Family::Fixed, Operation::RUPC, "upper-case letters A-Z"},
      {"RLOC", Family::Fixed, Operation::RLOC, "lower-case letters a-z"},
      {"RDPV", Family::Fixed, Operation::RDPV, "duplicate values, keeping the first (one column)"},
      {"RADP", Family::Fixed, Operation::RADP,
       "every value that occurs more than once (one column)"},
      {"RUDP", Family::Fixed, Operation::RUDP, "every value that occurs once (one column)"},
      {"digits", Family::Fixed, Operation::RNUM, "RNUM"},
      {"letters", Family::Fixed, Operation::RALP, "RALP"},
      {"nonprintable", Family::Fixed, Operation::RNPC, "RNPC"},
      {"chars", Family::Fixed, Operation::RUDC, "RUDC"},
      {"spaces", Family::Fixed, Operation::RALS, "RALS"},
      {"trim", Family::Fixed, Operation::RLTS, "RLTS"},
      {"squeeze", Family::Fixed, Operation::RLTE, "RLTE"},
      {"upper", Family::Fixed, Operation::RUPC, "RUPC"},
      {"lower", Family::Fixed, Operation::RLOC, "RLOC"},
      {"keep-one", Family::Fixed, Operation::RDPV, "RDPV"},
      {"duplicates", Family::Fixed, Operation::RADP, "RADP"},
      {"unique", Family::Fixed, Operation::RUDP, "RUDP"},
      {"before", Family::Before, Operation::RBSP, "RBSP with --all, RNBP with --count"},
      {"after", Family::After, Operation::RASP, "RASP with --all, RNAP with --count"},
      {"position", Family::Position, Operation::RASP, "--before or --after, with --all or --count"},
  };
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

// A whole number in [low, high] given to `option`.
int bounded(const char* option, const std::string& text, int low, int high, const char* what) {
  const std::string range = std::to_string(low) + " to " + std::to_string(high);
  const bool digitsOnly = !text.empty() && std::all_of(text.begin(), text.end(),
                                                       [](char c) { return c >= '0' && c <= '9'; });
  if (!digitsOnly) {
    throw UsageError(std::string(option) + ": " + quoted(text) + " is not a whole number; the " +
                     what + " is " + range);
  }
  std::size_t first = text.find_first_not_of('0');
  const std::string significant = first == std::string::npos ? "0" : text.substr(first);
  if (significant.size() > 6 || std::stoi(significant) < low || std::stoi(significant) > high) {
    throw UsageError(std::string(option) + ": " + text + " is out of range; the " + what + " is " +
                     range);
  }
  return std::stoi(significant);
}

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
    plan.count = bounded("--count", *request.count, 0, kMaxPosition, "number of characters");

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
    plan.start = bounded("--start", *request.start, 1, kMaxPosition, "start position");
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
  const int n = bounded("--occurrence", occurrence, 1, kMaxPosition, "occurrence");
  plan.occurrence = toUtf16(std::to_string(n));
  plan.occurrenceIsEntry = false;
}

using EntryPoint = void (*)(AddinModule&);

EntryPoint entryPointOf(Operation operation) {
  switch (operation) {
    case Operation::RNUM:
      return RemoveNumbers;
    case Operation::RALP:
      return RemoveAlphas;
    case Operation::RNPC:
      return RemoveNonPrintable;
    case Operation::RUDC:
      return RemoveUserChars;
    case Operation::RALS:
      return RemoveAllSpaces;
    case Operation::RLTS:
      return RemoveLeadTrailSpaces;
    case Operation::RLTE:
      return RemoveExcessSpaces;
    case Operation::RBSP:
      return RemoveTextBefore;
    case Operation::RASP:
      return RemoveTextAfter;
    case Operation::RNBP:
      return RemoveCharsBefore;
    case Operation::RNAP:
      return RemoveCharsAfter;
    case Operation::RUPC:
      return RemoveUpper;
    case Operation::RLOC:
      return RemoveLower;
    case Operation::RDPV:
      return RemoveDuplicatesKeepOne;
    case Operation::RADP:
      return RemoveAllDuplicates;
    case Operation::RUDP:
      return RemoveUniqueValues;
  }
  return RemoveNumbers;
}

bool hasControlCharacters(std::u16string_view text) {
  return std::any_of(text.begin(), text.end(), [](char16_t c) { return c < 0x20 || c == 0x7F; });
}

// Typed key by key like a user; text with control characters, which no key types, is
// pasted instead.
void enter(memory::QueuedUser& user, const char* control, const std::u16string& text) {
  if (hasControlCharacters(text)) {
    user.paste(control, text);
  } else {
    user.type(control, text);
  }
}

std::u16string digitsOf(int number) { return toUtf16(std::to_string(number)); }

// The dialog's answers: the inputs its operation shows, then Yes.
void answerDialog(const ApplyPlan& plan, memory::QueuedUser& user) {
  user.expectForm("frmPrgBar");
  if (plan.start) user.type("txtSP", digitsOf(*plan.start));
  if (plan.count) user.type("txtNOC", digitsOf(*plan.count));
  if (plan.operation == Operation::RUDC) enter(user, "txtUDC", plan.chars);
  user.press("CommandButton1");
}

// The wizard's answers in position mode with the start position at a separator.
void answerWizard(const ApplyPlan& plan, memory::QueuedUser& user) {
  user.expectForm("frmTextRemover");
  user.pick(removesBefore(plan.operation) ? "optRight" : "optLeft");
  if (removesAll(plan.operation)) {
    user.toggle("chkAllChars");
  } else {
    user.type("txtNoOfChars", digitsOf(plan.count.value_or(1)));
  }
  user.toggle("chkConSP");
  enter(user, "cmbSpChar", std::u16string(1, *plan.separator));
  if (plan.occurrenceIsEntry) {
    user.choose("cmbPos", plan.occurrence);
  } else {
    user.type("cmbPos", plan.occurrence);
  }
  user.press("CommandButton1");
}

// Shows the run's progress on a terminal once the run has taken a moment: the progress
// bar's value and maximum and the percentage label, as the form shows them.
class ProgressReporter : public FormObserver {
 public:
  explicit ProgressReporter(std::ostream& err) : err_(err) {}
  ProgressReporter(const ProgressReporter&) = delete;
  ProgressReporter& operator=(const ProgressReporter&) = delete;
  ~ProgressReporter() override { detachAll(); }

  void attach(Form& form) {
    if (std::find(forms_.begin(), forms_.end(), &form) != forms_.end()) return;
    form.setObserver(this);
    forms_.push_back(&form);
  }
  void detachAll() {
    for (Form* form : forms_) form->setObserver(nullptr);
    forms_.clear();
    if (shown_) err_ << '\n' << std::flush;
    shown_ = false;
  }

  void controlChanged(Control& control, ControlProperty property) override {
    if (property != ControlProperty::Caption || control.name() != "lblPer") return;
    if (control.caption() == last_) return;
    last_ = control.caption();
    if (!shown_ && std::chrono::steady_clock::now() - started_ < std::chrono::milliseconds(300)) {
      return;
    }
    const Control* bar = control.form().find("ProgressBar1");
    if (bar == nullptr) return;
    err_ << "\rqmv apply: " << static_cast<long long>(bar->value()) << " of "
         << static_cast<long long>(bar->max()) << " (" << toUtf8(last_) << ")   " << std::flush;
    shown_ = true;
  }
  void formChanged(Form&) override {}
  void formDestroyed(Form& form) override { std::erase(forms_, &form); }

 private:
  std::ostream& err_;
  std::vector<Form*> forms_;
  std::u16string last_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

// Answers the forms from a queue; attaches the progress display to every form it sees.
class ApplyUser : public memory::HeadlessUser {
 public:
  ApplyUser(memory::QueuedUser& queue, ProgressReporter* progress)
      : queue_(queue), progress_(progress) {}
  bool act(memory::HeadlessToolkit& toolkit, Form& shown) override {
    if (progress_ != nullptr) progress_->attach(shown);
    return queue_.act(toolkit, shown);
  }

 private:
  memory::QueuedUser& queue_;
  ProgressReporter* progress_;
};

// Cells the run visited and changed.
struct RunCount {
  int64_t visited = 0;
  int64_t changed = 0;
};

int64_t countNonEmpty(memory::MemoryApplication& app, const std::u16string& range) {
  return static_cast<int64_t>(app.worksheetFunction().countA(*app.range(range)));
}

RunCount countCharacterRun(memory::MemoryApplication& app, const AddinModule& module) {
  RunCount count;
  if (!module.undoSnapshot) return count;
  const UndoSnapshot& snapshot = *module.undoSnapshot;
  count.visited = static_cast<int64_t>(snapshot.size());
  for (std::size_t i = 0; i < snapshot.size(); ++i) {
    if (!snapshot.holdsPrevious(i, app.cell(snapshot.cell(i)))) ++count.changed;
  }
  return count;
}

std::string withThousands(int64_t number) {
  const std::string digits = std::to_string(number);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const std::size_t left = digits.size() - i;
    if (i > 0 && left % 3 == 0 && digits[i - 1] != '-') out += ',';
    out += digits[i];
  }
  return out;
}

// What a run through the add-in came to.
struct RunOutcome {
  bool refused = false;  ///< the add-in refused the run or the form could not be answered
  RunCount count;
};

// Connects the add-in to `app` as the host connects it, runs the plan's command over the
// selection with a headless user answering its form, and disconnects.
RunOutcome runThroughAddin(const std::shared_ptr<memory::MemoryApplication>& app,
                           const ApplyPlan& plan, const std::u16string& range,
                           ApplyStreams& streams) {
  memory::QueuedUser answers;
  if (plan.usesWizard()) {
    answerWizard(plan, answers);
  } else {
    answerDialog(plan, answers);
  }
  ProgressReporter progress(streams.err);
  ApplyUser user(answers, streams.progress ? &progress : nullptr);
  memory::HeadlessToolkit toolkit(user);
  memory::RecordedShell shell;
  AddinModule module(toolkit, shell);
  Connect connect(module);
  const auto instance = app->makeAddInInstance(u"Orvik.Connect");
  connect.AddinInstance_OnConnection(app, instance.get());

  const bool values = isValueOperation(plan.operation);
  const int64_t nonEmptyBefore = values ? countNonEmpty(*app, range) : 0;
  std::string failure;
  try {
    if (plan.usesWizard()) {
      ShowWizard(module);
    } else {
      entryPointOf(plan.operation)(module);
    }
  } catch (const memory::ScriptEndedWhileShown& e) {
    failure = "the form " + e.formName() + " stayed open after its inputs were given";
  } catch (const std::exception& e) {
    failure = std::string("the form could not be answered: ") + e.what();
  }
  progress.detachAll();
  if (failure.empty() && answers.pending() > 0) {
    failure = "the form closed before its inputs were given";
  }

  RunOutcome outcome;
  outcome.refused = !failure.empty();
  for (const auto& message : toolkit.messages()) {
    streams.err << "qmv apply: the add-in says: " << toUtf8(message.text) << '\n';
    if (message.text != kEmptySelectionText) outcome.refused = true;
  }
  if (!failure.empty()) streams.err << "qmv apply: " << failure << '\n';
  if (values) {
    outcome.count.visited = nonEmptyBefore;
    outcome.count.changed = nonEmptyBefore - countNonEmpty(*app, range);
  } else {
    outcome.count = countCharacterRun(*app, module);
  }
  connect.AddinInstance_OnDisconnection();
  return outcome;
}

// Writes the result where the request asks. Throws FileError.
void writeResult(const ApplyRequest& request, const std::string& result, std::ostream& out) {
  if (request.inPlace) {
    replaceFile(request.file, result);
  } else if (request.output) {
    replaceFile(*request.output, result);
  } else {
    out.write(result.data(), static_cast<std::streamsize>(result.size()));
    out.flush();
    if (!out) throw FileError("cannot write the result to standard output");
  }
}

}  // namespace

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

int runApply(const ApplyRequest& request, ApplyStreams& streams) {
  std::ostream& err = streams.err;
  ApplyPlan plan;
  try {
    plan = planApply(request);
  } catch (const UsageError& e) {
    err << "qmv apply: " << e.what() << '\n';
    return 2;
  }

  switch (fileKindOf(request.file)) {
    case FileKind::Refused:
      err << "qmv apply: " << refusalOf(request.file) << '\n';
      return 1;
    case FileKind::Workbook:
      return runApplyWorkbook(
          request, plan, streams,
          [&](const std::shared_ptr<memory::MemoryApplication>& book, const std::u16string& range) {
            return runThroughAddin(book, plan, range, streams).refused;
          });
    case FileKind::Csv:
      break;
  }
  if (request.sheet) {
    err << "qmv apply: --sheet: " << request.file << " is CSV, which has one sheet\n";
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

  const RunOutcome outcome = runThroughAddin(app, plan, range, streams);
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
  err << "qmv apply: " << toUtf8(operationCode(plan.operation)) << " over " << toUtf8(range) << ": "
      << withThousands(count.visited) << (count.visited == 1 ? " cell" : " cells") << " visited, "
      << withThousands(count.changed) << " changed\n";
  if (streams.finish) streams.finish(0);
  return 0;
}

}  // namespace qmv::cli
