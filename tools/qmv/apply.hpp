// `qmv apply`: a removal, or a chain of them, over a CSV file or an Excel workbook.
// The command line is checked into a plan with the limits the dialog applies to its
// boxes, and the plan becomes the engine's run request directly: no form is shown and no
// control is named. A CSV file is streamed record by record, its untouched fields kept
// byte for byte; `--typed` CSV and workbooks run the request over a sheet of an in-memory
// workbook and write back only what changed.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/operations.hpp"
#include "host/address.hpp"

namespace qmv::cli {

/// A bad option or operand; the message names it and what it accepts.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The command line of `qmv apply`, as given (values unchecked).
struct ApplyRequest {
  std::string operation;
  std::string file;
  std::optional<std::string> range;
  std::optional<std::string> sheet;  ///< workbooks only
  std::optional<std::string> start;
  std::optional<std::string> count;
  std::optional<std::string> chars;
  std::optional<std::string> separator;
  std::optional<std::string> occurrence;
  bool before = false;
  bool after = false;
  bool all = false;
  std::optional<std::string> output;
  bool inPlace = false;
  /// Read fields as typed input and run through the add-in on a sheet (the workbook path).
  bool typed = false;
  std::optional<std::string> delimiter;
  bool tabs = false;
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
};

/// One name `qmv apply` accepts for an operation.
struct OperationName {
  std::string_view name;
  std::string_view meaning;
};

/// The codes and readable names, in the order `--help` lists them.
const std::vector<OperationName>& operationNames();

/// A checked request: what to run and how to answer the form.
struct ApplyPlan {
  Operation operation = Operation::RNUM;
  /// The range to select; none for the used range.
  std::optional<std::vector<AreaRef>> range;
  /// Start position typed into the form; none when a separator gives it.
  std::optional<int> start;
  /// Number of characters (RNBP, RNAP).
  std::optional<int> count;
  /// Characters to remove (RUDC).
  std::u16string chars;
  /// The wizard's separator; when set, the wizard runs the removal in position mode.
  std::optional<char16_t> separator;
  /// The occurrence: an entry of the wizard's list ("1st" ... "Last") or a typed number.
  std::u16string occurrence = u"1st";
  bool occurrenceIsEntry = true;
  TextRules rules = TextRules::Classic;

  bool usesWizard() const { return separator.has_value(); }
};

/// The whole number `text` given to `option`, which must lie in [low, high] (high below
/// 10^9); `what` names the value in the message. Leading zeros are allowed. Throws
/// UsageError: "--start: "x" is not a whole number; the start position is 1 to 32767".
int boundedNumber(const char* option, const std::string& text, int low, int high, const char* what);

/// Checks every option against the operation. Throws UsageError naming the option and the
/// accepted values.
ApplyPlan planApply(const ApplyRequest& request);

/// Where `qmv apply` reports.
struct ApplyStreams {
  std::ostream& out;      ///< the result when no output file is given
  std::ostream& err;      ///< errors, the add-in's messages, progress and the summary
  bool progress = false;  ///< show the run's progress (standard error is a terminal)
  /// Called with the exit status once everything is written, before the workbook is
  /// freed; a command-line process ends here (freeing a million cells one by one takes
  /// longer than the run). Empty: runApply returns normally.
  std::function<void(int status)> finish;
};

/// Runs `qmv apply`. Exit status: 0 done; 1 the file could not be read or written, is not
/// CSV, or the add-in refused the run; 2 a bad option (nothing written).
int runApply(const ApplyRequest& request, ApplyStreams& streams);

}  // namespace qmv::cli
