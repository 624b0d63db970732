// What a file holds, told once for every command that opens one: `qmv apply` and `qmv
// play`'s load and save.
#pragma once

#include <string>
#include <string_view>

namespace qmv::cli {

/// The kinds of file qmv reads and writes.
enum class FileFormat {
  Text,      ///< CSV or tab-separated text
  Workbook,  ///< an .xlsx or .xlsm package
};

/// The format of the file at `path`, by its content first (a zip package is a workbook
/// whatever its name; an OLE compound file, encrypted or legacy, goes to the workbook
/// reader, which says which), then by its name; a path that names no regular file (a new
/// target, standard input's "-", a FIFO) by its name alone. Throws FileError naming the
/// file and what to do for the formats qmv does not read: legacy .xls, binary .xlsb, Excel
/// templates (.xltx, .xltm) and OpenDocument spreadsheets (.ods, or such a package).
FileFormat fileFormatOf(const std::string& path);

/// True for the extension (in lower case, as extensionOf gives it) of a spreadsheet
/// file: the workbooks qmv reads (xlsx, xlsm) and those fileFormatOf refuses.
bool isWorkbookExtension(std::string_view ext);

/// The file name's extension after its last dot, in lower case ASCII; empty when it has
/// none (a dot in a folder's name does not count).
std::string extensionOf(const std::string& path);

}  // namespace qmv::cli
