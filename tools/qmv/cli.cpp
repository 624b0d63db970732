#include "tools/qmv/cli.hpp"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <memory>
#include <sstream>

#include "engine/recipe.hpp"
#include "tools/qmv/apply.hpp"
#include "tools/qmv/errors.hpp"
#include "tools/qmv/files.hpp"
#include "tools/qmv/inspect.hpp"
#include "tools/qmv/plan.hpp"
#include "tools/qmv/player.hpp"

#ifndef QMV_VERSION
#define QMV_VERSION "unknown"
#endif

namespace qmv::cli {
namespace {

constexpr const char* kPlayHelp =
    R"(One command per line; blank lines and lines starting with # are ignored.
Strings are in double quotes with \" \\ \t \n \r and \uXXXX. A VALUE is "text", a number,
TRUE, FALSE, empty, date:2007-01-02[T15:04:05], error:#N/A or formula "=A1+1" VALUE.

Host:   workbook | close-workbooks | sheet NAME | set CELL VALUE | column CELL VALUE...
        fill CELL RRGGBB|none | hide-row N | select REF | load FILE | save FILE
        number-format CELL "CODE" | font-colour CELL RRGGBB|none (automatic)
        style CELL "TOKEN" (the cell's other formats: borders, fonts, notes)
        addin-item "NAME" [TRUE|FALSE] | connect | disconnect
        sort-rows REF KEY [ascending|descending] | insert-rows N [COUNT]
        autofilter REF FIELD "CRITERION" (the user's own sort, insertion and filter)
        unicode on|off (the user's stored choice of Unicode text rules)
User:   click TAG | key ^z | host-undo | recipe FILE (runs a recipe file through the dialog)
        while a form is shown: type CONTROL "TEXT" | paste CONTROL "TEXT" | clear CONTROL
        press CONTROL | toggle CONTROL | pick CONTROL | choose CONTROL INDEX|"ENTRY"
        mousedown [CONTROL] | close
Queued: answer "TEXT" | answer-cancel | stop-at N (the Nth yield from now)
        answer-file FILE (the file picked at the next question for one: Run Recipe...)
Checks: expect CELL VALUE | expect column CELL VALUE... | expect fill CELL RRGGBB|none
        expect row N hidden|shown | expect autofilter FIELD "CRITERION"|all | ... none
        expect number-format CELL "CODE" | expect font-colour CELL RRGGBB|none
        expect style CELL "TOKEN"
        expect message "TEXT" | expect no-message
        expect control FORM.CONTROL caption|text|visible|enabled|value|listindex|
                       listcount|tooltip|max VALUE, or ... list INDEX VALUE
        expect form FORM shown|loaded|unloaded
        expect preview "TEXT" (the preview line of the shown dialog or wizard)
        expect host statusbar|screenupdating|calculation|cancelkey VALUE
        expect host onundo "TEXT" "MACRO"|none | expect host onkey "KEY" "MACRO"|none
        expect bar "NAME" present|absent | expect popup "CAPTION" count N
        expect addin "NAME" installed VALUE | expect browsed "ADDRESS" | print REF
load and save find relative paths beside the script. FILE is CSV, or an .xlsx/.xlsm
workbook: load reads its active sheet, save writes that workbook with the changed cells.

Exit status: 0 every expectation held, 1 an expectation failed, 2 a script error.)";

constexpr const char* kApplyNotes = R"(
Cells: row 1 is a header and stays as it is (--no-header makes it data, --header-row N
puts it in row N); --range B2:B6 names the cells itself, -c picks whole columns below the
header. Without FILE, a pipe on standard input is read.
Fields are text: a field the removal leaves alone is written back byte for byte (quotes,
line breaks, byte-order mark), and a result is written as the text the removal produced.
A field may be of any length (the 32,767 characters of a cell bound value removals only).
Tab-separated text (.tsv, .tab, -t) is read literally, as its media type defines it: no
field is quoted, and "Best" TV keeps its quotes; --quoted-tsv reads quotes as CSV does.
The result goes to standard output unless -o or --in-place is given. A list such as
digits,squeeze runs the removals in order on each cell, as separate runs would.
Characters: a character beyond U+FFFF (an emoji, say) counts as one character for --start,
--count, --chars and --separator, so it is always kept or removed whole.
Value removals (RDPV, RADP, RUDP) work on one column, compare texts without regard to case,
never clear an empty field, and read the file twice (standard input is kept in a temporary
file); RADP and RUDP count texts of up to 255 characters only, as Excel's COUNTIF does.
Results that start with =, +, - or @ where the field did not are counted on standard error.
Encodings: UTF-8, UTF-16LE, UTF-16BE, WINDOWS-1252, ISO-8859-1 and whatever else iconv
converts; the output keeps the input's encoding and byte-order mark unless told otherwise.
Targets: a regular file is replaced only when the whole result is written; a device or
FIFO (and standard output) is written as the result is produced.
--typed reads each field as Excel reads what is typed into a cell (12 a number, 1/2 a date
of this year, 50% 0.5, TRUE a Boolean; a leading apostrophe or = keeps text), runs the
removal through the add-in on a sheet of at most 1,048,576 rows, and writes the typed
values back; it takes one removal of a UTF-8 comma-separated file.
Workbooks (.xlsx, .xlsm): the result is a file (-o FILE, -o - or --in-place) in which only
the changed cells differ. Cells keep the types Excel stored, results are read as typed input
(00123 trimmed becomes the number 123; the summary counts such results, --results-as-text
stores them as text), and positions count UTF-16 units as in Excel (a separator beyond
U+FFFF needs --unicode). When cells change in a workbook that holds formulas, the workbook
asks to be calculated again when opened (fullCalcOnLoad), so that totals follow the cells.
With a chart sheet active, the first worksheet is used (--sheet picks another); a cell
that cannot be read stops the run only when the run visits it.
Lists, -c, --dry-run, --limit, -q, --separator and --force work as for CSV, the header
included: unless --range names the cells, the header is the first row of the sheet that
holds a value and stays as it is; --header-row N names another (a title above the header),
and --no-header starts at row 1. -c matches a header cell's value text (3/15/2024, True)
or the text the sheet displays (2024-03-15 in a yyyy-mm-dd format, TRUE).
A value removal that clears a formula cell takes it out of the calculation chain.
Recipes (--recipe FILE, a JSON file; qmv recipe FILE checks one): each step has its own
inputs, text rules and cells (columns, range); steps on the same cells with the same text
rules run as one rule in one pass, a value removal (the last step only) in a pass of its own.
Several FILEs or folders (-r: their subfolders too) run -j at a time, each written to -o DIR
under its own name (the folder tree kept) or in place; each file's lines carry its name, in
the order given whatever -j says, then a total line; the exit status is the worst.
)";

constexpr const char* kApplyExamples = R"(
Examples:
  qmv apply digits contacts.csv                        # result on standard output
  qmv apply trim contacts.csv -c Name,Phone -o clean.csv
  qmv apply after contacts.csv -c Phone --separator - --occurrence Last --all
  qmv apply keep-one contacts.csv -c 2 --dry-run       # show what would change
  qmv apply digits,squeeze notes.tsv --in-place        # two removals, in order; tabs
  cat contacts.csv | qmv apply RNUM -c '!Name' > out.csv
  qmv apply digits inventory.xlsx --range B2:B4 -o clean.xlsx
  qmv apply trim,non-digits -c Phone --print-recipe > phones.json   # a list as a recipe
  qmv apply --recipe phones.json exports/ -r -o clean/ # every CSV, TSV and workbook below
)";

bool isCode(std::string_view name) {
  return name.size() == 4 &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// The codes with their readable names, then the names that pick a code by their options.
std::string operationsHelp() {
  const auto& names = operationNames();
  std::ostringstream out;
  out << "OPERATION (any case):\n";
  for (const auto& code : names) {
    if (!isCode(code.name)) continue;
    std::string aliases;
    for (const auto& alias : names) {
      if (!isCode(alias.name) && alias.meaning == code.name) {
        aliases += (aliases.empty() ? "" : ", ") + std::string(alias.name);
      }
    }
    // Two spaces at least before the meaning: the bash completion reads the names up to them.
    std::string line = "  " + std::string(code.name) + "  " + aliases;
    line.resize(std::max<std::size_t>(line.size() + 2, 22), ' ');
    out << line << code.meaning << '\n';
  }
  for (const auto& name : names) {
    if (isCode(name.name) || isCode(name.meaning)) continue;
    std::string line = "  " + std::string(name.name);
    line.resize(std::max<std::size_t>(line.size() + 2, 22), ' ');
    out << line << name.meaning << '\n';
  }
  out << kApplyNotes;
  out << "\nExit status: 0 done, 1 the file could not be read or written or the add-in refused\n"
         "the run, 2 a bad option (nothing is written), 3 done but the removal gave up on some\n"
         "cells (a pattern past its budget), which were left as they were.\n";
  out << kApplyExamples;
  return out.str();
}

// `qmv recipe FILE`: the recipe's name, description and steps, or why it cannot be read.
int runRecipeCheck(const std::string& file, std::ostream& out, std::ostream& err) {
  std::string text;
  try {
    text = readWholeFile(file);
  } catch (const ApplyError& e) {
    err << "qmv recipe: " << e.what() << '\n';
    return 1;
  }
  std::string error;
  const std::optional<Recipe> recipe = tryParseRecipe(text, error);
  if (!recipe) {
    err << "qmv recipe: " << file << ": " << error << '\n';
    return 2;
  }
  if (!recipe->name.empty()) out << recipe->name << '\n';
  if (!recipe->description.empty()) out << recipe->description << '\n';
  out << recipeSteps(*recipe);
  return 0;
}

// Keeps an option's text when it was given at all.
std::optional<std::string> given(const CLI::Option* option, const std::string& value) {
  if (option->count() == 0) return std::nullopt;
  return value;
}

}  // namespace

int runQmv(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err, bool errIsTerminal, std::function<void(int)> finish) {
  CLI::App app{
      "Vandrel QMV: removes text from the cells of CSV files and replays sessions of the add-in "
      "on an in-memory workbook.",
      "qmv"};
  app.set_version_flag("--version", QMV_VERSION);
  app.require_subcommand(0, 1);

  ApplyRequest request;
  std::string range, output, sheet;
  std::string columns, delimiter, encoding, outputEncoding, bom, limit, headerRow;
  CLI::App* apply = app.add_subcommand("apply",
                                       "Run a removal (or a comma list of them, in order) over a "
                                       "CSV file or an .xlsx/.xlsm workbook");
  apply->footer(operationsHelp());
  apply->add_option("OPERATION", request.operation,
                    "Removal code or name (listed below), or a comma list of them; none with "
                    "--recipe");
  std::vector<std::string> files;
  apply->add_option(
      "FILE", files,
      "CSV or TSV files (RFC 4180), - for standard input (the default when it is a pipe), "
      "workbooks (.xlsx, .xlsm) or folders of them");
  std::string recipeFile, jobs;
  auto* recipeOption = apply->add_option(
      "--recipe", recipeFile, "Run the steps of a recipe file (JSON), each with its own inputs");
  apply->add_flag("--print-recipe", request.printRecipe,
                  "Write the recipe of OPERATION and its options as JSON, and run nothing");
  apply->add_flag("-r,--recursive", request.recursive, "Folders: their subfolders' files too");
  auto* jobsOption =
      apply->add_option("-j,--jobs", jobs, "Files run at once (default: the number of processors)");
  auto* rangeOption = apply->add_option(
      "--range", range, "Cells to work on, like B2:B6 or B:B (default: every field below row 1)");
  auto* sheetOption = apply->add_option(
      "--sheet", sheet, "Workbook only: the sheet to work on (default: the active sheet)");
  // The removals' inputs, from their one table; a flag is kept with an empty value.
  std::vector<std::pair<std::string, CLI::Option*>> inputs;
  std::vector<std::unique_ptr<std::string>> inputValues;
  std::vector<std::unique_ptr<bool>> inputFlags;
  for (const InputOption& option : inputOptions()) {
    const std::string name = "--" + std::string(option.name);
    if (option.value.empty()) {
      inputFlags.push_back(std::make_unique<bool>(false));
      inputs.emplace_back(option.name,
                          apply->add_flag(name, *inputFlags.back(), std::string(option.help)));
    } else {
      inputValues.push_back(std::make_unique<std::string>());
      inputs.emplace_back(option.name,
                          apply->add_option(name, *inputValues.back(), std::string(option.help))
                              ->type_name(std::string(option.value)));
    }
  }
  auto* outputOption =
      apply->add_option("-o,--output", output, "Write the result to OUT (- for standard output)");
  apply->add_flag("--in-place", request.inPlace, "Replace FILE with the result (safely)");
  apply->add_flag("--force", request.force,
                  "Replace a read-only OUT, one whose owner cannot be kept, or one name of a "
                  "hard-linked OUT (its other names keep the old content)");
  auto* columnsOption = apply->add_option(
      "-c,--columns", columns,
      "Whole columns by header name, letter or number: zip,C,3, ranges B:D or 2-4, "
      "exclusions !name; \"a, b\" for a name with a comma");
  apply->add_flag("--no-header", request.noHeader, "Row 1 is data, not a header");
  auto* headerRowOption = apply->add_option("--header-row", headerRow,
                                            "The header is row N; rows above it are left alone");
  auto* delimiterOption = apply->add_option(
      "-d,--delimiter", delimiter,
      "Field delimiter: one ASCII character (default , or a tab for .tsv and .tab)");
  apply->add_flag("-t,--tabs", request.tabs,
                  "Tab-separated input (-d '\\t'): fields are read literally, a quote is a "
                  "character like any other");
  apply->add_flag("--quoted-tsv", request.quotedTsv,
                  "Tab-separated input whose fields may be quoted as in CSV (\"a<TAB>b\")");
  auto* encodingOption = apply->add_option(
      "-e,--encoding", encoding, "Input encoding (default UTF-8, or as its byte-order mark says)");
  auto* outputEncodingOption = apply->add_option("--output-encoding", outputEncoding,
                                                 "Output encoding (default: the input's)");
  auto* bomOption =
      apply->add_option("--bom", bom, "Byte-order mark: yes or no (default: the input's)");
  apply->add_flag("--dry-run", request.dryRun,
                  "Write nothing (also with -o or --in-place); print the changes as B2: "
                  "\"before\" -> \"after\"");
  auto* limitOption =
      apply->add_option("--limit", limit, "With --dry-run: print the first N changes (default 20)");
  apply->add_flag("--guard-formulas", request.guardFormulas,
                  "Write results that start with = + - @ with a leading apostrophe");
  apply->add_flag("-q,--quiet", request.quiet,
                  "Nothing on standard error but errors: no summary, progress or warnings");
  apply->add_flag("--typed", request.typed,
                  "Read fields as Excel reads typed input, as cells of a sheet (below)");
  apply->add_flag("--results-as-text", request.resultsAsText,
                  "Workbook only: store each result as text, so that 00123 stays 00123 "
                  "(default: read as typed input, a number or a date where it reads as one)");
  apply->add_flag("--unicode", request.unicode,
                  "Unicode text: every kind of space, invisible character and letter counts; "
                  "an emoji is one character");

  std::string recipeToCheck;
  CLI::App* recipe = app.add_subcommand("recipe", "Check a recipe file and print its steps");
  recipe->add_option("FILE", recipeToCheck, "Recipe file (JSON)")->required();

  std::string script;
  bool echo = false;
  CLI::App* play = app.add_subcommand("play", "Replay a session script against the add-in");
  play->footer(kPlayHelp);
  play->add_option("SCRIPT", script, "Session script, or - for standard input")->required();
  play->add_flag("--echo", echo, "Echo every command into the transcript");

  std::string inspectFile, inspectRange;
  CLI::App* inspect = app.add_subcommand(
      "inspect",
      "List the invisible and non-ASCII characters of one cell, with their Unicode names and "
      "the removal that takes each out");
  inspect->add_option("FILE", inspectFile, "CSV file or workbook (.xlsx, .xlsm)")->required();
  inspect->add_option("--range", inspectRange, "The cell, like B2")->required();

  std::vector<const char*> argv;
  argv.reserve(args.size());
  for (const auto& arg : args) argv.push_back(arg.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::CallForHelp&) {
    const CLI::App* target = apply->parsed()     ? apply
                             : play->parsed()    ? play
                             : inspect->parsed() ? inspect
                             : recipe->parsed()  ? recipe
                                                 : &app;
    out << (target == &app ? app.help() : target->help("qmv"));
    return 0;
  } catch (const CLI::CallForVersion&) {
    out << QMV_VERSION << '\n';
    return 0;
  } catch (const CLI::ParseError& e) {
    const std::string where = apply->parsed()     ? "qmv apply: "
                              : play->parsed()    ? "qmv play: "
                              : inspect->parsed() ? "qmv inspect: "
                              : recipe->parsed()  ? "qmv recipe: "
                                                  : "qmv: ";
    // An option given twice: CLI11 says "--output: At Most 1 required but received 2".
    const std::string what = e.what();
    const std::size_t colon = what.find(": At Most 1 required but received ");
    if (colon != std::string::npos) {
      err << where << what.substr(0, colon) << ": given more than once; give it once\n";
      return 2;
    }
    err << where << what << " (see --help)\n";
    return 2;
  }

  const auto dispatch = [&]() -> int {
    if (apply->parsed()) {
      // With --recipe every operand is a file.
      request.recipeFile = given(recipeOption, recipeFile);
      if (request.recipeFile && !request.operation.empty()) {
        files.insert(files.begin(), request.operation);
        request.operation.clear();
      }
      if (!request.recipeFile && request.operation.empty()) {
        err << "qmv apply: OPERATION: give a removal such as digits, a comma list of them, or "
               "--recipe FILE (see --help)\n";
        return 2;
      }
      request.files = files;
      request.file = files.empty() ? std::nullopt : std::optional<std::string>(files.front());
      request.jobs = given(jobsOption, jobs);
      request.range = given(rangeOption, range);
      request.output = given(outputOption, output);
      request.columns = given(columnsOption, columns);
      request.delimiter = given(delimiterOption, delimiter);
      request.encoding = given(encodingOption, encoding);
      request.outputEncoding = given(outputEncodingOption, outputEncoding);
      request.bom = given(bomOption, bom);
      request.limit = given(limitOption, limit);
      request.headerRow = given(headerRowOption, headerRow);
      request.sheet = given(sheetOption, sheet);
      for (std::size_t i = 0; i < inputs.size(); ++i) {
        const auto& [name, option] = inputs[i];
        if (option->count() == 0) continue;
        request.inputs[name] =
            inputOptions()[i].value.empty() ? std::string() : option->as<std::string>();
      }
      ApplyStreams streams{out, err, errIsTerminal, std::move(finish), ::isatty(STDIN_FILENO) == 1};
      return runApply(request, streams);
    }
    if (inspect->parsed()) {
      try {
        inspectCell(inspectFile, inspectRange, out);
        return 0;
      } catch (const ApplyError& e) {
        err << "qmv inspect: " << e.what() << '\n';
        return e.status();
      }
    }
    if (recipe->parsed()) return runRecipeCheck(recipeToCheck, out, err);
    if (play->parsed()) {
      PlayStreams streams{out, err};
      return runPlay(script, echo, in, streams);
    }
    out << app.help();
    return 0;
  };
  // apply and play word their own failures; this names the command of any other.
  const char* const where = apply->parsed()     ? "qmv apply: "
                            : play->parsed()    ? "qmv play: "
                            : inspect->parsed() ? "qmv inspect: "
                            : recipe->parsed()  ? "qmv recipe: "
                                                : "qmv: ";
  try {
    return dispatch();
  } catch (const std::bad_alloc&) {
    err << where << "not enough memory\n";
  } catch (const std::exception& e) {
    err << where << "failed: " << e.what() << '\n';
  }
  return 1;
}

}  // namespace qmv::cli
