// The checked plan of `qmv apply`: the command line read once into what to run (the
// removals with their inputs), which cells to visit, the options of the file's format and
// where the result goes. Every check of the command line happens here, before any file is
// opened for writing; the formats (csv_apply, workbook_apply, typed_apply) only read it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/find_nth_occurrence.hpp"
#include "engine/operations.hpp"
#include "engine/recipe.hpp"
#include "host/address.hpp"
#include "tools/qmv/errors.hpp"
#include "tools/qmv/text_encoding.hpp"

namespace qmv::cli {

/// The command line of `qmv apply`, as given (values unchecked).
struct ApplyRequest {
  std::string operation;
  /// FILE; absent reads standard input when it is not a terminal.
  std::optional<std::string> file;
  /// The inputs of the removals (inputOptions()), by option name without dashes: "start"
  /// -> "3". A flag's value is empty.
  std::map<std::string, std::string> inputs;
  std::optional<std::string> range;
  std::optional<std::string> sheet;  ///< workbooks only
  std::optional<std::string> output;
  bool inPlace = false;
  /// Read fields as typed input into a sheet (the cells of a workbook, made from CSV).
  bool typed = false;
  std::optional<std::string> delimiter;
  bool tabs = false;
  /// Tab-separated text with quoted fields, as CSV quotes them (tabs are read literally
  /// otherwise).
  bool quotedTsv = false;
  std::optional<std::string> encoding;
  std::optional<std::string> outputEncoding;
  std::optional<std::string> bom;
  std::optional<std::string> columns;
  bool noHeader = false;
  std::optional<std::string> headerRow;  ///< --header-row N, as typed
  bool force = false;
  bool dryRun = false;
  std::optional<std::string> limit;
  bool quiet = false;
  bool guardFormulas = false;
  bool unicode = false;
  bool resultsAsText = false;  ///< workbooks: store results as text, not as typed input

  // Recipes and many files (batch.hpp).
  /// Every FILE given, in order (`file` is the first); folders among them.
  std::vector<std::string> files;
  std::optional<std::string> recipeFile;  ///< --recipe FILE
  bool printRecipe = false;               ///< --print-recipe: write the recipe, run nothing
  bool recursive = false;                 ///< folders: their subfolders too
  std::optional<std::string> jobs;        ///< -j N, as typed
  /// The recipe whose steps the plan runs (they must share their cells and text rules):
  /// planApply then takes the steps' own inputs, and `operation` and the input options
  /// are not read.
  std::optional<Recipe> recipe;
};

/// An option that gives a removal one of its inputs. A new input of an operation is one
/// row of this table (and a field of Removal it fills).
struct InputOption {
  std::string_view name;   ///< "start", given as --start
  std::string_view value;  ///< "N" in the help; empty for a flag
  std::string_view help;
};

/// The removal inputs, in the order --help lists them.
std::span<const InputOption> inputOptions();

/// One name `qmv apply` accepts for an operation, and what it means.
struct OperationName {
  std::string_view name;
  std::string_view meaning;
};

/// The codes and readable names, in the order `--help` lists them.
const std::vector<OperationName>& operationNames();

/// One removal with the inputs a user gives its form. Strings are UTF-16 as a cell holds
/// them; a format that counts characters differently maps them as it maps its texts.
struct Removal {
  Operation operation = Operation::RNUM;
  std::optional<int16_t> start;  ///< start position (RBSP ... RNAP)
  std::optional<int16_t> count;  ///< number of characters (RNBP, RNAP)
  std::u16string chars;          ///< characters to remove (RUDC)
  std::u16string text;           ///< the text to remove (RTXT)
  bool matchCase = false;        ///< RTXT and RPAT compare letter case too
  std::u16string pattern;        ///< the regular expression of RPAT
  std::u16string opening;        ///< the delimiters of RBTW
  std::u16string closing;
  /// The start position taken from a separator in each text, as the wizard takes it; a
  /// text without that occurrence is left alone.
  std::optional<std::u16string> separator;
  Occurrence occurrence{Occurrence::Kind::First, 1};
};

/// How a file is read: streamed text fields, a workbook's sheet, or text fields read as
/// typed input into a sheet.
enum class Format { Csv, Workbook, Typed };

/// One entry of -c: a column by header name, letter or 1-based number, a range of them
/// (2-4, B:D), or an exclusion (!name).
struct ColumnPick {
  std::string text;  ///< as given, without the leading ! of an exclusion
  bool exclude = false;
};

/// The cells a run visits, before the file says where its header is.
struct CellPlan {
  std::optional<std::vector<AreaRef>> range;       ///< --range
  std::optional<std::vector<ColumnPick>> columns;  ///< -c
  /// Without --range, the header row stays as it is (--no-header: none); the format finds
  /// it (row 1 of CSV text, the first row of a sheet that holds a value) unless
  /// --header-row gives it. Rows above it are left alone.
  bool header = true;
  std::optional<int64_t> headerRow;
};

/// Where the result goes.
struct Target {
  bool standardOutput = true;
  std::string path;  ///< when not standard output: the file (FILE itself for --in-place)
  bool force = false;
};

/// The options of CSV text.
struct CsvPlan {
  char delimiter = ',';
  /// Fields may be quoted (RFC 4180). Tab-separated text is literal unless --quoted-tsv:
  /// a quote there is a character of the field, and every field is written unquoted.
  bool quoting = true;
  std::optional<Encoding> inputEncoding;
  std::optional<Encoding> outputEncoding;
  std::optional<bool> bom;
  bool guardFormulas = false;
};

/// The changes a dry run prints unless --limit says otherwise.
inline constexpr int64_t kDefaultLimit = 20;

/// A checked command line.
struct Plan {
  Format format = Format::Csv;
  std::string file;                ///< "-" for standard input
  std::vector<Removal> removals;   ///< character removals, run in order on each cell
  std::optional<Operation> value;  ///< or one value removal, alone
  std::string codes;               ///< "RNUM,RLTE", for the summary
  TextRules rules = TextRules::Classic;
  CellPlan cells;
  CsvPlan csv;
  std::optional<std::string> sheet;
  Target target;
  bool dryRun = false;  ///< print the changes, write nothing
  int64_t limit = kDefaultLimit;
  bool quiet = false;
  /// Workbooks: a changed cell stores its result as text, where it is read as typed input
  /// otherwise (00123 a number, 5/11/2017 a date).
  bool resultsAsText = false;
};

/// The whole number `text` given to `option`, which must lie in [low, high] (high below
/// 10^9); `what` names the value in the message. Leading zeros are allowed. Throws
/// UsageError: "--start: "x" is not a whole number; the start position is 1 to 32767".
int boundedNumber(const char* option, const std::string& text, int low, int high, const char* what);

/// The recipe the command line gives: --recipe's (`recipe`, read already), or the comma
/// list of OPERATION with the input options, -c or --range and --unicode given to each of
/// its steps. Throws UsageError as planApply does.
Recipe requestRecipe(const ApplyRequest& request);

/// Checks the whole command line for a file of `format` (as the file's content says).
/// Throws UsageError naming the option and what it accepts.
Plan planApply(const ApplyRequest& request, Format format);

}  // namespace qmv::cli
