#include "tools/qmv/workbook_file.hpp"

#include <algorithm>
#include <ostream>
#include <unordered_set>

#include "engine/operations.hpp"
#include "host/cell_text.hpp"
#include "host/host.hpp"
#include "host/text.hpp"
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

// True when the selection holds `ref`. A cell in two overlapping areas is still one cell of
// the selection's constants and is visited once.
bool selects(const std::optional<std::vector<AreaRef>>& areas, CellRef ref) {
  return !areas || std::any_of(areas->begin(), areas->end(),
                               [&](const AreaRef& area) { return area.contains(ref); });
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

struct Counts {
  int64_t visited = 0;
  int64_t changed = 0;
};

CellRule ruleOf(const ApplyPlan& plan, memory::MemoryApplication& host) {
  CellRule rule;
  rule.operation = plan.operation;
  if (plan.start) rule.startPosition = static_cast<int16_t>(*plan.start);
  if (plan.count) rule.charCount = static_cast<int16_t>(*plan.count);
  rule.userChars = plan.chars;
  rule.locale = host.locale();
  rule.currentYear = host.currentYear();
  rule.functions = &host.worksheetFunction();
  rule.rules = plan.rules;
  return rule;
}

Counts applyCharacters(const xlsx::Workbook& book, std::size_t sheet, const ApplyPlan& plan,
                       const std::string& target) {
  memory::MemoryApplication host;
  const CellRule rule = ruleOf(plan, host);
  Counts counts;
  const xlsx::CellEditor editor = [&](const xlsx::SheetCell& cell) -> std::optional<std::string> {
    if (cell.formula) return std::nullopt;
    const Value before = book.valueOf(cell);
    if (isEmpty(before)) return std::nullopt;
    if (!selects(plan.range, cell.ref)) return std::nullopt;
    ++counts.visited;
    const std::optional<Value> value = rewrittenValue(rule, before);
    if (!value) return std::nullopt;
    if (*value == before) return std::nullopt;
    ++counts.changed;
    return xlsx::cellXml(cell.ref, cell.style, *value);
  };
  book.save(target, {{sheet, editor}});
  return counts;
}

// The value removals need the whole column before the first cell is decided: the column
// goes into an in-memory workbook, the add-in runs over it there, and the cells it cleared
// are cleared in the file.
int applyValues(const xlsx::Workbook& book, std::size_t sheet, const ApplyRequest& request,
                const ApplyPlan& plan, const std::string& target, ApplyStreams& streams,
                const AddinRun& runValues) {
  std::optional<AreaRef> area;
  if (plan.range) area = plan.range->front();
  auto app = std::make_shared<memory::MemoryApplication>();
  app->addWorkbook();
  std::vector<CellRef> loaded;
  int64_t firstColumn = 0, lastColumn = 0, firstRow = 0, lastRow = 0;
  book.forEachCell(sheet, [&](const xlsx::SheetCell& cell) {
    if (area && !area->contains(cell.ref)) return;
    const CellContent content = contentOf(book, cell);
    if (isEmpty(content.value) && !content.isFormula()) return;
    app->setCell(cell.ref, content);
    loaded.push_back(cell.ref);
    firstColumn = firstColumn == 0 ? cell.ref.column : std::min(firstColumn, cell.ref.column);
    lastColumn = std::max(lastColumn, cell.ref.column);
    firstRow = firstRow == 0 ? cell.ref.row : std::min(firstRow, cell.ref.row);
    lastRow = std::max(lastRow, cell.ref.row);
  });
  if (!area) {
    if (firstColumn != lastColumn) {
      streams.err << "qmv apply: --range: " << request.operation
                  << " works on a single column, and the cells of " << sheetLabel(book, sheet)
                  << " span columns " << toUtf8(columnLetters(firstColumn)) << " to "
                  << toUtf8(columnLetters(lastColumn)) << "; pick one with --range, say "
                  << toUtf8(columnLetters(firstColumn)) << ':' << toUtf8(columnLetters(firstColumn))
                  << '\n';
      return 2;
    }
    area = loaded.empty() ? AreaRef{} : AreaRef{{firstRow, firstColumn}, {lastRow, lastColumn}};
  }
  const std::u16string range = formatAddress(*area);
  app->select(range);
  if (runValues(app, range)) {
    streams.err << "qmv apply: nothing written\n";
    return 1;
  }
  std::unordered_set<int64_t> cleared;
  for (CellRef ref : loaded) {
    const CellContent after = app->cell(ref);
    if (isEmpty(after.value) && !after.isFormula()) cleared.insert(keyOf(ref));
  }
  // A full clear: the value and the cell's format go, only the reference stays.
  book.save(target, {{sheet, [&](const xlsx::SheetCell& cell) -> std::optional<std::string> {
                        if (!cleared.contains(keyOf(cell.ref))) return std::nullopt;
                        return xlsx::cellXml(cell.ref, std::nullopt, std::monostate{});
                      }}});
  streams.err << "qmv apply: " << toUtf8(operationCode(plan.operation)) << " over " << toUtf8(range)
              << " of " << sheetLabel(book, sheet) << ": " << loaded.size()
              << (loaded.size() == 1 ? " cell" : " cells") << " visited, " << cleared.size()
              << " changed\n";
  return 0;
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
  const CharacterInputs inputs{rule.startPosition, rule.charCount, rule.userChars, rule.rules};
  const auto result = transformText(rule.operation, *text, inputs, rule.functions);
  if (!result) return std::nullopt;
  return parseTypedInput(*result, rule.locale, rule.currentYear);
}

int runApplyWorkbook(const ApplyRequest& request, const ApplyPlan& plan, ApplyStreams& streams,
                     const AddinRun& runValues) {
  std::ostream& err = streams.err;
  // The CSV side's safe targets (--force), --dry-run, -q and operation chains plug in here:
  // the target is chosen below and each operation is one pass of the editor.
  if (!request.output && !request.inPlace) {
    err << "qmv apply: a workbook's result is a file: give -o FILE or --in-place\n";
    return 2;
  }
  if (plan.usesWizard()) {
    err << "qmv apply: --separator: not available for workbooks; give --start N\n";
    return 2;
  }
  const std::string target = request.inPlace ? request.file : *request.output;
  try {
    const auto book = xlsx::Workbook::open(request.file);
    const std::size_t sheet = chosenSheet(*book, request);
    if (!book->sheets()[sheet].worksheet) {
      err << "qmv apply: " << request.file << ": " << sheetLabel(*book, sheet)
          << " is a chart or dialog sheet, which holds no cells\n";
      return 1;
    }
    int status = 0;
    if (isCharacterOperation(plan.operation)) {
      const Counts counts = applyCharacters(*book, sheet, plan, target);
      err << "qmv apply: " << toUtf8(operationCode(plan.operation)) << " over "
          << (plan.range ? toUtf8(formatAddress(*plan.range)) : std::string("the used range"))
          << " of " << sheetLabel(*book, sheet) << ": " << counts.visited
          << (counts.visited == 1 ? " cell" : " cells") << " visited, " << counts.changed
          << " changed\n";
    } else {
      status = applyValues(*book, sheet, request, plan, target, streams, runValues);
    }
    if (status == 0 && streams.finish) streams.finish(0);
    return status;
  } catch (const UsageError& e) {
    err << "qmv apply: " << e.what() << '\n';
    return 2;
  } catch (const xlsx::XlsxError& e) {
    err << "qmv apply: " << e.what() << '\n';
    return 1;
  }
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
