// Workbook files (.xlsx, .xlsm) in `qmv`: `apply` streams the chosen sheet through the
// removal and writes a package in which only the changed cells differ; `play` loads a
// workbook's sheet into the in-memory workbook and saves it back over a copy of the file.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/find_nth_occurrence.hpp"
#include "host/locale.hpp"
#include "host/value.hpp"
#include "platform/memory/memory_application.hpp"
#include "tools/qmv/apply.hpp"

namespace qmv::cli {

/// How `qmv` treats a file by its extension (any case).
enum class FileKind {
  Csv,       ///< anything else
  Workbook,  ///< .xlsx, .xlsm
  Refused,   ///< .xls, .xlsb: formats qmv does not read
};

FileKind fileKindOf(const std::string& path);

/// The one-line refusal for a FileKind::Refused path.
std::string refusalOf(const std::string& path);

/// One character removal over one cell value, as the run rewrites a constant cell: the
/// value as text, the operation's transform, the new text read as typed input. No value
/// when the cell keeps its value untouched (an error value, a failing transform, no
/// occurrence of the separator).
struct CellRule {
  Operation operation = Operation::RNUM;
  std::optional<int16_t> startPosition;
  std::optional<int16_t> charCount;
  std::u16string userChars;
  /// When set, the start position is at this occurrence of the separator in each text,
  /// as the wizard finds it.
  std::optional<std::u16string> separator;
  Occurrence occurrence;
  HostLocale locale;
  int currentYear = 2000;
  WorksheetFunction* functions = nullptr;  ///< the host's TRIM and CLEAN (RLTE, RNPC)
  TextRules rules = TextRules::Classic;
};
std::optional<Value> rewrittenValue(const CellRule& rule, const Value& value);

/// Runs a value removal (RDPV, RADP, RUDP) over the selection of `app` through the add-in;
/// true when the add-in refused the run.
using AddinRun = std::function<bool(const std::shared_ptr<memory::MemoryApplication>& app,
                                    const std::u16string& range, Operation operation)>;

/// `qmv apply` over a workbook: the options of the CSV side where they mean something for
/// a sheet (a chain, -c, --dry-run, --limit, -q, --separator, --force, -o -). Exit status
/// as runApply.
int runApplyWorkbook(const ApplyRequest& request, ApplyStreams& streams, const AddinRun& runValues);

/// Where a sheet loaded by `play` came from.
struct WorkbookSource {
  std::string path;
  std::size_t sheet = 0;   ///< the sheet of the file
  memory::SheetName into;  ///< the in-memory sheet it went into
};

/// Loads the active sheet of the workbook at `path` into the (cleared) active sheet of
/// `app`: constants with their types, formulas with their cached values. Throws
/// xlsx::XlsxError.
WorkbookSource loadWorkbookSheet(memory::MemoryApplication& app, const std::string& path);

/// Writes `target`: the source workbook with the cells of its sheet that differ in `app`
/// rewritten. Throws xlsx::XlsxError, also for a changed formula or a cell added to the
/// sheet (only existing cells are rewritten).
void saveWorkbookSheet(memory::MemoryApplication& app, const WorkbookSource& source,
                       const std::string& target);

}  // namespace qmv::cli
