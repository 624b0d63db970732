// The command line of qmv: `qmv apply` and `qmv play`, parsed with CLI11.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace qmv::cli {

/// Runs qmv with `args` (the program name first) and returns its exit status: 0 success,
/// 1 a failed run or expectation, 2 a usage or script error. Help and errors are single
/// clear lines on `err`; `errIsTerminal` allows progress display on it.
/// `finish`, when given, ends the process once a run's results are written (see
/// ApplyStreams::finish).
int runQmv(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err, bool errIsTerminal, std::function<void(int)> finish = {});

}  // namespace qmv::cli
