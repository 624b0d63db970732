// `qmv inspect`: the characters of one cell a user cannot tell apart by looking, with
// their Unicode names and the removal that would take each out.
#pragma once

#include <iosfwd>
#include <string>

namespace qmv::cli {

/// Prints the inspection of the cell `cell` ("B2") of the CSV file or the workbook's
/// active sheet at `path` on `out`. Throws FileError for a file it cannot read, UsageError
/// for a reference that is not one cell.
void inspectCell(const std::string& path, const std::string& cell, std::ostream& out);

}  // namespace qmv::cli
