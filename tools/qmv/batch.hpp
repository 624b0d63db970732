// `qmv apply` with a recipe and over many files: the recipe the command line gives (a
// recipe file or a comma list), its steps in passes over each file, and the files in
// parallel with one report in the order they were given.
//
// Passes: consecutive steps that work on the same cells under the same text rules run as
// one rule in one pass over the file (the engine's chain of steps); a value removal is a
// pass of its own, and so is a run of steps whose cells or text rules differ from the
// ones before. Between passes the file goes through a private temporary folder; the
// target is written once, by the last pass, as a one-pass run writes it.
//
// Many files: FILE may be given several times, and a folder stands for the CSV, TSV and
// workbook files in it (--recursive: in its subfolders too; names starting with a dot are
// left out, links to folders are not followed). Each file's result goes to -o DIR (same
// name, the folder tree below a given folder kept) or replaces the file (--in-place), each
// file safely on its own. The report is the same whatever -j says: each file's lines, its
// summary and its errors prefixed with its name, in the order the files were given, then
// a total line; a progress bar over files and bytes is drawn on a terminal only. A file
// that fails does not stop the others; the exit status is the worst one (2, then 1, then
// 3, then 0).
#pragma once

#include "tools/qmv/apply.hpp"
#include "tools/qmv/plan.hpp"

namespace qmv::cli {

/// Whether runApply hands the request here: a recipe file, --print-recipe, -j, several
/// files or a folder.
bool wantsBatch(const ApplyRequest& request);

/// Runs the request and reports as runApply does (the status, lines on streams.err).
int runBatch(const ApplyRequest& request, ApplyStreams& streams);

/// The passes of a recipe (above), each a recipe of its own; the recipe must be checked.
std::vector<Recipe> recipePasses(const Recipe& recipe);

}  // namespace qmv::cli
