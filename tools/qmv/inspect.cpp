#include "tools/qmv/inspect.hpp"

#include <ostream>

#include "engine/character_inspector.hpp"
#include "host/cell_text.hpp"
#include "host/text.hpp"
#include "platform/memory/memory_application.hpp"
#include "tools/qmv/errors.hpp"
#include "tools/qmv/file_format.hpp"
#include "tools/qmv/files.hpp"
#include "tools/qmv/sheet_csv.hpp"
#include "tools/qmv/workbook_file.hpp"
#include "tools/xlsx/package.hpp"

namespace qmv::cli {

void inspectCell(const std::string& path, const std::string& cell, std::ostream& out) {
  memory::MemoryApplication app;
  try {
    if (fileFormatOf(path) == FileFormat::Workbook) {
      loadWorkbookSheet(app, path);
    } else {
      app.addWorkbook();
      loadCsv(app, readWholeFile(path));
    }
  } catch (const xlsx::XlsxError& e) {
    throw FileError(path + ": " + e.what());
  } catch (const CsvLoadError& e) {
    throw FileError(path + ": " + e.what());
  }
  RangePtr range;
  try {
    range = app.range(toUtf16(cell));
  } catch (const std::exception&) {
    range = nullptr;
  }
  if (!range || range->count() != 1) throw UsageError("--range: " + cell + " is not one cell");
  const std::optional<std::u16string> text = cellText(range->value(), app.locale());
  out << cell << ": " << toUtf8(text.value_or(u"")) << '\n'
      << toUtf8(inspectionReport(text.value_or(u""), RemovalNaming::CommandLine)) << '\n';
}

}  // namespace qmv::cli
