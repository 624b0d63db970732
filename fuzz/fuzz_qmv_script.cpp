// Checks the reader of `qmv play` scripts on arbitrary bytes: a script is read whole or
// refused with a ScriptError naming a line of it, and nothing else escapes. Every value a
// script sets, written back in script notation, reads as the same value.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tools/qmv/script.hpp"
#include "tools/qmv/values.hpp"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) +
                            static_cast<std::size_t>(std::count(text.begin(), text.end(), '\r')) +
                            1;
  std::vector<qmv::cli::Command> commands;
  try {
    commands = qmv::cli::parseScript(text);
  } catch (const qmv::cli::ScriptError& error) {
    require(error.line() >= 1 && error.line() <= lines);
    require(!error.message().empty());
    return 0;
  }
  for (const auto& command : commands) {
    require(command.line >= 1 && command.line <= lines);
    for (const auto& value : command.values) {
      const std::string notation = qmv::cli::formatContent(value);
      const std::vector<qmv::cli::ScriptLine> split = qmv::cli::splitScript(notation);
      require(split.size() == 1);
      std::size_t index = 0;
      const qmv::CellContent back = qmv::cli::parseValue(split.front().tokens, index, 1);
      require(index == split.front().tokens.size());
      require(qmv::cli::sameContent(back, value));
    }
  }
  return 0;
}
