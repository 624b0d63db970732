#include "tools/qmv/workbook_file.hpp"

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <unordered_set>

#include "engine/operations.hpp"
#include "engine/unicode_transforms.hpp"
#include "host/cell_text.hpp"
#include "host/host.hpp"
#include "host/text.hpp"
#include "tools/qmv/file_plan.hpp"
#include "tools/qmv/files.hpp"
#include "tools/xlsx/workbook.hpp"

namespace qmv::cli {
namespace {

std::string extensionOf(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string out = path.substr(dot + 1);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

int64_t keyOf(CellRef ref) { return ref.row * (kMaxColumns + 1) + ref.column; }

std::string sheetLabel(const xlsx::Workbook& book, std::size_t sheet) {
  return "sheet \"" + toUtf8(book.sheets()[sheet].name) + "\"";
}

// The sheet the request names, or the workbook's active one. Throws UsageError.
std::size_t chosenSheet(const xlsx::Workbook& book, const ApplyRequest& request) {
  if (!request.sheet) return book.activeSheet();
  const auto found = book.findSheet(toUtf16(*request.sheet));
  if (!found) {
    std::string names;
    for (const auto& sheet : book.sheets()) {
      if (!names.empty()) names += ", ";
      names += '"';
      names += toUtf8(sheet.name);
      names += '"';
    }
    throw UsageError("--sheet: " + request.file + " has no sheet \"" + *request.sheet +
                     "\"; its sheets are " + names);
  }
  return *found;
}

// A cell as the in-memory workbook holds it: a formula keeps its cached value.
CellContent contentOf(const xlsx::Workbook& book, const xlsx::SheetCell& cell) {
  CellContent content{book.valueOf(cell), {}};
  if (cell.formula) {
    content.formula.reserve(cell.formulaText.size() + 1);
    content.formula.push_back(u'=');
    content.formula.append(cell.formulaText);
  }
  return content;
}

// A value as a dry run shows it: the text the cell shows, empty for an empty cell.
std::string shownText(const Value& value, const HostLocale& locale) {
  return toUtf8(cellText(value, locale).value_or(std::u16string()));
}

// The cells of the sheet a run visits: those of --range, the columns -c names, or every
// cell. With -c and a header, the header is the row --header-row names, else the first
// row of the sheet that holds a value (its used range's first row, blank formatted cells
// aside), and the columns are found in it. Cells come in file order, row after row, so
// the header row is whole when the first cell below it comes.
class SheetSelection {
 public:
  SheetSelection(const FilePlan& plan, const HostLocale& locale) : plan_(plan), locale_(locale) {
    if (plan.range) {
      selection_ = Selection(*plan.range);
      description_ = toUtf8(formatAddress(*plan.range));
    } else if (plan.columns && !plan.header) {
      resolve();
    } else if (!plan.columns) {
      description_ = "the used range";
    }
  }

  // Whether the run visits `cell`, which holds `value`; every cell of the sheet comes
  // here in file order. Throws UsageError for a column -c cannot find.
  bool visits(const xlsx::SheetCell& cell, const Value& value) {
    if (pending()) {
      if (cell.ref.row < headerRow_) return false;  // above a --header-row
      if (headerRow_ == 0 && (isEmpty(value) && !cell.formula)) return false;
      if (headerRow_ == 0) headerRow_ = cell.ref.row;
      if (cell.ref.row == headerRow_) {
        const auto column = static_cast<std::size_t>(cell.ref.column);
        if (header_.size() < column) header_.resize(column);
        header_[column - 1] = shownText(value, locale_);
        return false;
      }
      resolve();
    }
    return selection_.contains(cell.ref.row, cell.ref.column);
  }

  // Finds -c's columns when no cell came below the header. Throws UsageError.
  void finish() {
    if (pending()) resolve();
  }

  // The single column a value removal runs over, when --range or -c gives it.
  std::optional<AreaRef> area() const {
    if (plan_.range) return plan_.range->front();
    if (plan_.columns) return selection_.areas().front();
    return std::nullopt;
  }

  const std::string& description() const { return description_; }

 private:
  bool pending() const { return plan_.columns && plan_.header && !resolved_; }

  void resolve() {
    resolved_ = true;
    const int64_t row = plan_.header ? std::max<int64_t>(headerRow_, 1) : 0;
    const std::vector<int64_t> columns =
        resolveColumns(*plan_.columns, plan_.header ? &header_ : nullptr, row);
    selection_ = columnSelection(columns, row);
    description_ = describeColumns(*plan_.columns, columns, row);
  }

  const FilePlan& plan_;
  HostLocale locale_;
  Selection selection_;
  std::string description_;
  bool resolved_ = false;
  int64_t headerRow_ = plan_.headerRow.value_or(0);
  std::vector<std::string> header_;
};

struct Counts {
  int64_t visited = 0;
  int64_t changed = 0;
};

std::vector<CellRule> rulesOf(const FilePlan& plan, memory::MemoryApplication& host) {
  std::vector<CellRule> rules;
  for (const CharacterStep& step : plan.steps) {
    CellRule rule;
    rule.operation = step.operation;
    if (step.start) rule.startPosition = static_cast<int16_t>(*step.start);
    if (step.count) rule.charCount = static_cast<int16_t>(*step.count);
    rule.userChars = toUtf16(step.chars);
    rule.rules = step.rules;
    if (step.separator) {
      rule.separator = toUtf16(*step.separator);
      // Positions in a cell count UTF-16 units unless --unicode says characters; a
      // separator of two units would put the start position inside a pair.
      if (rule.separator->size() != 1 && rule.rules == TextRules::Classic) {
        throw UsageError(
            "--separator: in a workbook a character beyond U+FFFF counts as two "
            "positions; give --unicode to count it as one");
      }
      rule.occurrence = occurrenceOf(step.occurrence, step.occurrenceIsEntry);
    }
    rule.locale = host.locale();
    rule.currentYear = host.currentYear();
    rule.functions = &host.worksheetFunction();
    rules.push_back(std::move(rule));
  }
  return rules;
}

// The chain over one constant cell, each removal seeing the value the one before wrote:
// the same value as separate runs, each reading the file the last one wrote.
std::optional<Value> chainedValue(const std::vector<CellRule>& rules, const xlsx::Workbook& book,
                                  const xlsx::SheetCell& cell, Value value) {
  bool changed = false;
  for (const CellRule& rule : rules) {
    if (isEmpty(value)) break;
    const std::optional<Value> next = rewrittenValue(rule, value);
    if (!next || *next == value) continue;
    value = book.storedValue(*next, cell.style);
    changed = true;
  }
  if (!changed) return std::nullopt;
  return value;
}

// Writes the workbook with `edits` where the request asks, as the CSV side writes its
// result: a regular file is replaced once the whole package is built (keeping its mode and
// owner; a read-only one only with --force), a device or FIFO is written directly, "-" is
// standard output. `check` runs once the package is built, before anything is replaced.
void writeWorkbook(const xlsx::Workbook& book, const std::vector<xlsx::SheetEdit>& edits,
                   const ApplyRequest& request, std::ostream& out,
                   const std::function<void()>& check) {
  const std::string& target = request.inPlace ? request.file : *request.output;
  std::unique_ptr<OutputFile> file;
  if (target != "-") {
    file =
        std::make_unique<OutputFile>(target, request.force ? Overwrite::Force : Overwrite::Refuse);
  }
  const xlsx::TemporaryFile built(
      (std::filesystem::temp_directory_path() / "qmv-workbook.xlsx").string());
  book.save(built.path(), edits);
  check();
  InputFile package(built.path());
  std::vector<char> buffer(std::size_t{1} << 16);
  for (std::size_t got; (got = package.read(buffer.data(), buffer.size())) > 0;) {
    if (file) {
      file->write(std::string_view(buffer.data(), got));
    } else {
      out.write(buffer.data(), static_cast<std::streamsize>(got));
    }
  }
  if (file) {
    file->commit();
    return;
  }
  out.flush();
  if (!out) throw FileError("cannot write the result to standard output");
}

// One workbook run: the plan, the sheet and where its figures go.
struct WorkbookRun {
  const ApplyRequest& request;
  const FilePlan& plan;
  const xlsx::Workbook& book;
  std::size_t sheet;
  ApplyStreams& streams;
  HostLocale locale;

  void summary(const std::string& over, int64_t visited, int64_t changed) const {
    if (request.quiet) return;
    streams.err << summaryLine(plan.codes, over + " of " + sheetLabel(book, sheet), visited,
                               changed, request.dryRun);
  }
};

void applyCharacters(const WorkbookRun& run) {
  memory::MemoryApplication host;
  const std::vector<CellRule> rules = rulesOf(run.plan, host);
  SheetSelection selection(run.plan, run.locale);
  std::optional<ChangeReport> report;
  if (run.request.dryRun) {
    report.emplace(run.streams.out, OperationKind::CharacterLevel, run.plan.limit);
  }
  Counts counts;
  const xlsx::CellEditor editor = [&](const xlsx::SheetCell& cell) -> std::optional<std::string> {
    const Value before = run.book.valueOf(cell);
    if (!selection.visits(cell, before) || cell.formula || isEmpty(before)) return std::nullopt;
    ++counts.visited;
    const std::optional<Value> value = chainedValue(rules, run.book, cell, before);
    if (!value || *value == before) return std::nullopt;
    ++counts.changed;
    if (report) {
      report->add(cell.ref.row, cell.ref.column, shownText(before, run.locale),
                  shownText(*value, run.locale));
    }
    return xlsx::cellXml(cell.ref, cell.style, *value);
  };
  if (report) {
    run.book.forEachCell(run.sheet, [&](const xlsx::SheetCell& cell) { editor(cell); });
    selection.finish();
    report->finish();
  } else {
    writeWorkbook(run.book, {{run.sheet, editor}}, run.request, run.streams.out,
                  [&] { selection.finish(); });
  }
  run.summary(selection.description(), counts.visited, counts.changed);
}

// The value removals need the whole column before the first cell is decided: the column
// goes into an in-memory workbook, the add-in runs over it there, and the cells it cleared
// are cleared in the file.
int applyValues(const WorkbookRun& run, const AddinRun& runValues) {
  SheetSelection selection(run.plan, run.locale);
  auto app = std::make_shared<memory::MemoryApplication>();
  app->addWorkbook();
  std::vector<CellRef> loaded;
  std::vector<std::string> texts;  // a dry run's texts of the loaded cells
  int64_t firstColumn = 0, lastColumn = 0, firstRow = 0, lastRow = 0;
  run.book.forEachCell(run.sheet, [&](const xlsx::SheetCell& cell) {
    const CellContent content = contentOf(run.book, cell);
    if (!selection.visits(cell, content.value)) return;
    if (isEmpty(content.value) && !content.isFormula()) return;
    app->setCell(cell.ref, content);
    loaded.push_back(cell.ref);
    if (run.request.dryRun) texts.push_back(shownText(content.value, run.locale));
    firstColumn = firstColumn == 0 ? cell.ref.column : std::min(firstColumn, cell.ref.column);
    lastColumn = std::max(lastColumn, cell.ref.column);
    firstRow = firstRow == 0 ? cell.ref.row : std::min(firstRow, cell.ref.row);
    lastRow = std::max(lastRow, cell.ref.row);
  });
  selection.finish();
  std::optional<AreaRef> area = selection.area();
  if (!area) {
    if (firstColumn != lastColumn) {
      const std::string first = toUtf8(columnLetters(firstColumn));
      throw UsageError(
          "--range: " + run.plan.codes + " works on a single column, and the cells of " +
          sheetLabel(run.book, run.sheet) + " span columns " + first + " to " +
          toUtf8(columnLetters(lastColumn)) + "; pick one with -c or --range, say -c " + first);
    }
    area = loaded.empty() ? AreaRef{} : AreaRef{{firstRow, firstColumn}, {lastRow, lastColumn}};
  }
  const std::u16string range = formatAddress(*area);
  app->select(range);
  if (runValues(app, range, *run.plan.value)) {
    run.streams.err << "qmv apply: nothing written\n";
    return 1;
  }
  std::unordered_set<int64_t> cleared;
  std::optional<ChangeReport> report;
  if (run.request.dryRun) {
    report.emplace(run.streams.out, OperationKind::ValueLevel, run.plan.limit);
  }
  for (std::size_t i = 0; i < loaded.size(); ++i) {
    const CellContent after = app->cell(loaded[i]);
    if (!isEmpty(after.value) || after.isFormula()) continue;
    cleared.insert(keyOf(loaded[i]));
    if (report) report->add(loaded[i].row, loaded[i].column, texts[i], "");
  }
  if (report) {
    report->finish();
  } else {
    // A full clear: the value and the cell's format go, only the reference stays.
    writeWorkbook(run.book,
                  {{run.sheet,
                    [&](const xlsx::SheetCell& cell) -> std::optional<std::string> {
                      if (!cleared.contains(keyOf(cell.ref))) return std::nullopt;
                      return xlsx::cellXml(cell.ref, std::nullopt, std::monostate{});
                    }}},
                  run.request, run.streams.out, [] {});
  }
  run.summary(run.plan.columns ? selection.description() : toUtf8(range),
              static_cast<int64_t>(loaded.size()), static_cast<int64_t>(cleared.size()));
  return 0;
}

// The CSV options that have no meaning for a workbook, refused with the reason.
void refuseCsvOptions(const ApplyRequest& request) {
  const auto refuse = [](bool given, const char* option, const char* why) {
    if (given) throw UsageError(std::string(option) + ": " + why + "; leave it out");
  };
  const char* format = "a workbook has no delimiter, encoding or byte-order mark";
  refuse(request.delimiter || request.tabs, "-d/-t", format);
  refuse(request.encoding || request.outputEncoding || request.bom.has_value(), "-e/--bom", format);
  refuse(request.guardFormulas, "--guard-formulas",
         "a workbook keeps a text result as text, never as a formula");
  refuse(request.typed, "--typed", "a workbook's cells are read with the types Excel stored");
  if (!request.dryRun && !request.output && !request.inPlace) {
    throw UsageError("a workbook's result is a file: give -o FILE, -o - or --in-place");
  }
}

}  // namespace

FileKind fileKindOf(const std::string& path) {
  const std::string extension = extensionOf(path);
  if (extension == "xlsx" || extension == "xlsm") return FileKind::Workbook;
  if (extension == "xls" || extension == "xlsb") return FileKind::Refused;
  return FileKind::Csv;
}

std::string refusalOf(const std::string& path) {
  return path + ": qmv reads .xlsx and .xlsm workbooks (and CSV); save this " +
         (extensionOf(path) == "xls" ? "legacy .xls" : "binary .xlsb") +
         " workbook as .xlsx in Excel first";
}

// The one place the tool reaches the removal's per-cell rule outside a run through the
// add-in: what the character run does to each constant cell.
std::optional<Value> rewrittenValue(const CellRule& rule, const Value& value) {
  const std::optional<std::u16string> text = cellText(value, rule.locale);
  if (!text) return std::nullopt;
  CharacterInputs inputs{rule.startPosition, rule.charCount, rule.userChars, rule.rules};
  if (rule.separator) {
    // The wizard's start position: the separator's occurrence; none leaves the cell alone.
    std::optional<int16_t> start = separatorStart(*text, *rule.separator, rule.occurrence);
    if (!start || *start == 0) return std::nullopt;
    if (rule.rules == TextRules::Unicode) {
      start = static_cast<int16_t>(codePointPosition(*text, *start));
    }
    inputs.startPosition = start;
    if (!inputs.charCount) inputs.charCount = 1;
  }
  const auto result = transformText(rule.operation, *text, inputs, rule.functions);
  if (!result) return std::nullopt;
  return parseTypedInput(*result, rule.locale, rule.currentYear);
}

int runApplyWorkbook(const ApplyRequest& request, ApplyStreams& streams,
                     const AddinRun& runValues) {
  std::ostream& err = streams.err;
  try {
    refuseCsvOptions(request);
    const FilePlan plan = planFile(request);
    const auto book = xlsx::Workbook::open(request.file);
    const std::size_t sheet = chosenSheet(*book, request);
    if (!book->sheets()[sheet].worksheet) {
      err << "qmv apply: " << request.file << ": " << sheetLabel(*book, sheet)
          << " is a chart or dialog sheet, which holds no cells\n";
      return 1;
    }
    const WorkbookRun run{request, plan,    *book,
                          sheet,   streams, memory::MemoryApplication().locale()};
    int status = 0;
    if (plan.value) {
      status = applyValues(run, runValues);
    } else {
      applyCharacters(run);
    }
    if (status == 0 && streams.finish) streams.finish(0);
    return status;
  } catch (const UsageError& e) {
    err << "qmv apply: " << e.what() << '\n';
    return 2;
  } catch (const xlsx::XlsxError& e) {
    err << "qmv apply: " << e.what() << '\n';
  } catch (const FileError& e) {
    err << "qmv apply: " << e.what() << '\n';
  }
  return 1;
}

WorkbookSource loadWorkbookSheet(memory::MemoryApplication& app, const std::string& path) {
  const auto book = xlsx::Workbook::open(path);
  const std::size_t sheet = book->activeSheet();
  if (app.workbooksCount() == 0) app.addWorkbook();
  app.activeSheet()->usedRange()->clear();
  book->forEachCell(sheet, [&](const xlsx::SheetCell& cell) {
    const CellContent content = contentOf(*book, cell);
    if (isEmpty(content.value) && !content.isFormula()) return;
    app.setCell(cell.ref, content);
  });
  return {path, sheet, {app.activeSheetName(), app.activeWorkbookName()}};
}

void saveWorkbookSheet(memory::MemoryApplication& app, const WorkbookSource& source,
                       const std::string& target) {
  const auto book = xlsx::Workbook::open(source.path);
  // Cells the session added cannot go in without new rows; refused before anything is
  // written.
  std::unordered_set<int64_t> inFile;
  book->forEachCell(source.sheet,
                    [&](const xlsx::SheetCell& cell) { inFile.insert(keyOf(cell.ref)); });
  const bool active = app.activeSheetName() == source.into.sheet &&
                      app.activeWorkbookName() == source.into.workbook;
  const auto used = active ? parseReference(app.usedRangeAddress()) : std::nullopt;
  for (const AreaRef& area : used.value_or(std::vector<AreaRef>{})) {
    for (int64_t row = area.first.row; row <= area.last.row; ++row) {
      for (int64_t column = area.first.column; column <= area.last.column; ++column) {
        const CellContent now = app.cell(CellRef{row, column});
        if ((isEmpty(now.value) && !now.isFormula()) || inFile.contains(keyOf({row, column}))) {
          continue;
        }
        throw xlsx::XlsxError("cell " + xlsx::cellReference({row, column}) + " was empty in " +
                              source.path +
                              "; qmv rewrites the cells a workbook has and adds none");
      }
    }
  }
  const xlsx::CellEditor editor = [&](const xlsx::SheetCell& cell) -> std::optional<std::string> {
    const CellContent now = app.cell(source.into, cell.ref);
    if (now.isFormula()) {
      if (cell.formula) return std::nullopt;  // formulas are never rewritten
      throw xlsx::XlsxError("cell " + xlsx::cellReference(cell.ref) +
                            " now holds a formula; qmv writes values only");
    }
    if (cell.formula) {
      return xlsx::cellXml(cell.ref, isEmpty(now.value) ? std::nullopt : cell.style, now.value);
    }
    if (now.value == book->valueOf(cell)) return std::nullopt;
    return xlsx::cellXml(cell.ref, cell.style, now.value);
  };
  book->save(target, {{source.sheet, editor}});
}

}  // namespace qmv::cli
