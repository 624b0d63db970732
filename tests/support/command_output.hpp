// What a judge program prints: the whole standard output of a shell command, empty when it
// cannot be started (the caller's assertions on its lines then fail).
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace qmv::test {

inline std::string commandOutput(const std::string& command) {
  struct PipeClose {
    void operator()(FILE* pipe) const { pclose(pipe); }
  };
  std::unique_ptr<FILE, PipeClose> pipe(popen(command.c_str(), "r"));
  std::string text;
  if (pipe) {
    char buffer[1 << 16];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) {
      text.append(buffer, n);
    }
  }
  return text;
}

}  // namespace qmv::test
