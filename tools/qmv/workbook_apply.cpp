// A workbook's sheet as a source and sink of cells: the cells stream from the package in
// file order, the cell rule runs on the text each visited constant shows, and only a cell
// whose text it changed gets a new <c> element; every other byte of the package stays.
// Value removals load the visited column into a sheet for the engine's value run and
// clear, in the file, the cells it cleared there.
#include <algorithm>
#include <ostream>
#include <unordered_set>
#include <vector>

#include "host/cell_text.hpp"
#include "host/text.hpp"
#include "tools/qmv/apply_run.hpp"
#include "tools/qmv/cell_rule.hpp"
#include "tools/qmv/pipeline.hpp"
#include "tools/qmv/report.hpp"
#include "tools/qmv/selection.hpp"
#include "tools/qmv/workbook_file.hpp"
#include "tools/xlsx/workbook.hpp"

namespace qmv::cli {
namespace {

int64_t keyOf(CellRef ref) { return ref.row * (kMaxColumns + 1) + ref.column; }

std::string sheetLabel(const xlsx::Workbook& book, std::size_t sheet) {
  return "sheet \"" + toUtf8(book.sheets()[sheet].name) + "\"";
}

// The names of the workbook's worksheets, quoted, for a message.
std::string worksheetNames(const xlsx::Workbook& book) {
  std::string names;
  for (const auto& sheet : book.sheets()) {
    if (!sheet.worksheet) continue;
    if (!names.empty()) names += ", ";
    names += '"';
    names += toUtf8(sheet.name);
    names += '"';
  }
  return names;
}

// The sheet the plan names, or the workbook's active one; when the active one is a chart
// sheet, the first worksheet, said on `warnings`. Throws UsageError for a sheet that does
// not exist or holds no cells, FileError for a workbook without worksheets.
std::size_t chosenSheet(const xlsx::Workbook& book, const Plan& plan, std::ostream& warnings) {
  const auto& sheets = book.sheets();
  const std::string names = worksheetNames(book);
  if (names.empty()) throw FileError(plan.file + ": the workbook has no worksheet, only charts");
  if (!plan.sheet) {
    const std::size_t active = book.activeSheet();
    if (sheets[active].worksheet) return active;
    const auto first = std::find_if(sheets.begin(), sheets.end(),
                                    [](const xlsx::SheetEntry& sheet) { return sheet.worksheet; });
    const auto index = static_cast<std::size_t>(first - sheets.begin());
    warnings << "qmv apply: the active sheet of " << plan.file << ", \""
             << toUtf8(sheets[active].name)
             << "\", is a chart sheet, which holds no cells; working on the first worksheet, "
             << sheetLabel(book, index) << " (--sheet picks another)\n";
    return index;
  }
  const auto found = book.findSheet(toUtf16(*plan.sheet));
  if (!found) {
    throw UsageError("--sheet: " + plan.file + " has no sheet \"" + *plan.sheet +
                     "\"; its worksheets are " + names);
  }
  if (!sheets[*found].worksheet) {
    throw UsageError("--sheet: " + sheetLabel(book, *found) + " of " + plan.file +
                     " is a chart or dialog sheet, which holds no cells; its worksheets are " +
                     names);
  }
  return *found;
}

// One workbook run: the run's shared part, the book, its sheet and how its values show as
// text.
struct BookRun {
  ApplyRun& run;
  const Plan& plan;
  ApplyStreams& streams;
  const xlsx::Workbook& book;
  std::size_t sheet;
  HostLocale locale;

  std::u16string shown(const Value& value) const {
    return cellText(value, locale).value_or(std::u16string());
  }

  // The <c> element of a cell whose text the rule changed, the new text as the cell stores
  // it, and the value the cell then holds. The one place a changed text meets the
  // workbook's storage.
  xlsx::Workbook::ChangedCell changedCell(const xlsx::SheetCell& cell,
                                          std::u16string_view text) const {
    return book.changedCell(cell, text, plan.resultsAsText);
  }

  // The value the cell holds once it stores `text`.
  Value storedValue(const xlsx::SheetCell& cell, std::u16string_view text) const {
    return book.changedValue(cell, text, plan.resultsAsText);
  }

  // The text the cell shows once it stores `text`.
  std::u16string storedText(const xlsx::SheetCell& cell, std::u16string_view text) const {
    return shown(storedValue(cell, text));
  }

  // Writes the package with `editor` applied to the sheet: built in a private folder,
  // then handed to the target, which was opened (and locked) before the book was read.
  // Gives whether the workbook now asks for a full calculation when opened.
  bool write(const xlsx::CellEditor& editor, const std::function<void()>& check) const {
    ResultSink& sink = *run.sink();
    const TemporaryFolder folder;
    const std::string built = folder.path() + "/workbook.xlsx";
    const xlsx::Workbook::Saved saved = book.save(built, {{sheet, editor}});
    check();
    InputFile package(built);
    std::vector<char> buffer(std::size_t{1} << 16);
    for (std::size_t got; (got = package.read(buffer.data(), buffer.size())) > 0;) {
      sink.write(std::string_view(buffer.data(), got));
    }
    sink.commit();
    return saved.fullCalculation;
  }

  // The summary line, and a line when formulas are to be calculated again: a dry run tells
  // whether the written workbook would ask for it (`sheetFormulas`: a cell of the sheet,
  // read already, holds a formula).
  void summary(const std::string& over, int64_t typed, bool fullCalculation, bool sheetFormulas,
               int64_t pivotCells) const {
    run.finish(over + " of " + sheetLabel(book, sheet));
    if (plan.quiet) return;
    if (pivotCells > 0) {
      streams.err << "qmv apply: " << withThousands(pivotCells)
                  << (pivotCells == 1 ? " cell lies" : " cells lie") << " in a pivot table and "
                  << (pivotCells == 1 ? "was" : "were")
                  << " left alone: Excel refuses to change a pivot table's cells; change its "
                     "source data and refresh it\n";
    }
    const int64_t changed = run.changedCount();
    if (typed > 0) streams.err << typedResultsLine(typed, plan.dryRun);
    if (plan.dryRun) {
      const std::size_t read[] = {sheet};
      fullCalculation = changed > 0 && (sheetFormulas || book.holdsFormulasBeyond(read));
    }
    if (fullCalculation) streams.err << fullCalculationLine(plan.dryRun);
  }
};

// Whether the run visits `cell`, which shows `text` (the value's text); a header cell is
// also named by the text the workbook displays for it (TRUE, a date in its format).
bool visits(CellSelector& selector, const xlsx::Workbook& book, const xlsx::SheetCell& cell,
            const std::string& text, bool blank) {
  const bool visited = selector.visits(cell.ref, text, blank);
  if (!visited && !blank && cell.ref.row == selector.headerRow()) {
    if (auto displayed = book.displayedText(cell))
      selector.alsoShows(cell.ref, std::move(*displayed));
  }
  return visited;
}

// Reads a cell with `read`; a cell that cannot be read stops the run only when the run
// visits it (the error names the file, the sheet and the cell), and is passed by otherwise.
template <typename Read>
auto readable(CellSelector& selector, const xlsx::SheetCell& cell, Read read)
    -> std::optional<decltype(read())> {
  try {
    return read();
  } catch (const xlsx::XlsxError&) {
    if (selector.visits(cell.ref, std::string(), false)) throw;
    return std::nullopt;
  }
}

std::string describe(const CellSelector& selector) {
  if (!selector.description().empty()) return selector.description();
  return selector.headerRow() > 0
             ? "the used range below row " + std::to_string(selector.headerRow())
             : "the used range";
}

void applyCharacters(const BookRun& run) {
  const CellRule rule(run.plan.removals, run.plan.rules);
  CellSelector& selector = run.run.selector();
  int64_t typed = 0;
  int64_t pivotCells = 0;
  bool formulas = false;
  const xlsx::CellEditor editor = [&](const xlsx::SheetCell& cell) -> std::optional<std::string> {
    formulas = formulas || cell.formula;
    // A text is its own text: viewed where the sheet holds it, not copied (most cells of a
    // text removal hold one); any other value is read and shown as text.
    std::optional<std::u16string_view> text = run.book.textOf(cell);
    std::optional<std::u16string> otherText;
    bool empty = false;
    if (!text) {
      const std::optional<Value> read =
          readable(selector, cell, [&] { return run.book.valueOf(cell); });
      if (!read) return std::nullopt;
      empty = isEmpty(*read);
      otherText = cellText(*read, run.locale);
      if (otherText) text = *otherText;
    }
    const bool blank = empty && !cell.formula;
    const std::string shown = text && selector.readsText() ? toUtf8(*text) : std::string();
    if (!visits(selector, run.book, cell, shown, blank)) return std::nullopt;
    // A formula is never rewritten; an error value has no text to change.
    if (cell.formula || blank) return std::nullopt;
    if (run.book.inPivotTable(run.sheet, cell.ref)) {
      ++pivotCells;
      return std::nullopt;
    }
    run.run.visited();
    if (!text) return std::nullopt;
    // Between the removals of a list, the text goes through the cell as a run leaves it.
    const std::optional<std::u16string> after =
        rule.changed(*text, [&](std::u16string_view next) { return run.storedText(cell, next); });
    if (!after) return std::nullopt;
    xlsx::Workbook::ChangedCell changed = run.changedCell(cell, *after);
    // A result stored as a number, a date or a truth value rather than as the text it is.
    if (!isEmpty(changed.value) && !std::holds_alternative<std::u16string>(changed.value)) ++typed;
    run.run.changed(cell.ref, *text, *after);
    return std::move(changed.xml);
  };
  bool fullCalculation = false;
  if (run.run.sink() == nullptr) {
    run.book.forEachCell(run.sheet, [&](const xlsx::SheetCell& cell) { editor(cell); });
    selector.finish();
  } else {
    fullCalculation = run.write(editor, [&] { selector.finish(); });
  }
  run.streams.gaveUp += rule.gaveUp();
  run.summary(describe(selector), typed, fullCalculation, formulas, pivotCells);
}

void applyValues(const BookRun& run) {
  CellSelector& selector = run.run.selector();
  int64_t firstColumn = 0, lastColumn = 0, firstRow = 0, lastRow = 0;
  bool any = false;
  bool formulas = false;
  int64_t pivotCells = 0;
  run.book.forEachCell(run.sheet, [&](const xlsx::SheetCell& cell) {
    formulas = formulas || cell.formula;
    const std::optional<CellContent> read =
        readable(selector, cell, [&] { return sheetCellContent(run.book, cell); });
    if (!read) return;
    const CellContent& content = *read;
    const bool blank = isEmpty(content.value) && !content.isFormula();
    const std::string shown = selector.readsText() ? toUtf8(run.shown(content.value)) : "";
    if (!visits(selector, run.book, cell, shown, blank) || blank) return;
    if (run.book.inPivotTable(run.sheet, cell.ref)) {
      ++pivotCells;
      return;
    }
    run.run.load(cell.ref, content, run.plan.dryRun ? toUtf8(run.shown(content.value)) : "");
    any = true;
    firstColumn = firstColumn == 0 ? cell.ref.column : std::min(firstColumn, cell.ref.column);
    lastColumn = std::max(lastColumn, cell.ref.column);
    firstRow = firstRow == 0 ? cell.ref.row : std::min(firstRow, cell.ref.row);
    lastRow = std::max(lastRow, cell.ref.row);
  });
  selector.finish();
  LoadedColumns columns;
  if (firstColumn != lastColumn) {
    const std::string first = toUtf8(columnLetters(firstColumn));
    columns.spread = "the cells of " + sheetLabel(run.book, run.sheet) + " span columns " + first +
                     " to " + toUtf8(columnLetters(lastColumn));
    columns.suggestedColumn = first;
  }
  columns.column = any ? AreaRef{{firstRow, firstColumn}, {lastRow, lastColumn}} : AreaRef{};
  std::unordered_set<int64_t> cleared;
  for (const CellRef& ref : run.run.runValues(columns)) cleared.insert(keyOf(ref));
  bool fullCalculation = false;
  if (run.run.sink() != nullptr) {
    // A full clear: the value and the cell's format go, only the reference stays.
    fullCalculation = run.write(
        [&](const xlsx::SheetCell& cell) -> std::optional<std::string> {
          if (!cleared.contains(keyOf(cell.ref))) return std::nullopt;
          return xlsx::cellXml(cell.ref, std::nullopt, std::monostate{});
        },
        [] {});
  }
  run.summary(
      run.plan.cells.columns ? describe(selector) : toUtf8(formatAddress(run.run.valueAreas())), 0,
      fullCalculation, formulas, pivotCells);
}

}  // namespace

void applyWorkbook(const Plan& plan, ApplyStreams& streams) {
  ApplyRun shared(plan, streams, true);
  const auto book = xlsx::Workbook::open(plan.file);
  std::ostream null(nullptr);
  std::ostream& warnings = plan.quiet ? null : streams.err;
  const std::size_t sheet = chosenSheet(*book, plan, warnings);
  // A workbook's numbers and dates show as in the host's default locale.
  const BookRun run{shared, plan, streams, *book, sheet, HostLocale{}};
  if (plan.value) {
    applyValues(run);
  } else {
    applyCharacters(run);
  }
}

}  // namespace qmv::cli
