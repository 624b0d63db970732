// qmv: the command-line front end of Vandrel QMV over the in-memory workbook.
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "tools/qmv/cli.hpp"
#include "tools/qmv/files.hpp"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  qmv::cli::removeTemporariesOnSignals();
  const std::vector<std::string> args(argv, argv + argc);
  // Once a run's results are written the process ends without freeing the workbook cell by
  // cell.
  const auto finish = [](int status) {
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(status);
  };
  return qmv::cli::runQmv(args, std::cin, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1,
                          finish);
}
