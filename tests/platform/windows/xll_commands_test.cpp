// A command Excel runs by name (the XLL's "undo_changes"): whatever its macro throws ends
// at the command, heard by the tolerant boundary, and Excel is told the command ran; a
// command without a macro, or withdrawn, does nothing.
#include "platform/windows/xll_commands.hpp"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host_error.hpp"
#include "host/tolerant.hpp"

extern "C" int WINAPI VandrelQmvUndoChanges();

namespace qmv::windows {

// The library's own path, which only xlAutoOpen asks for; linked here, this program's.
std::wstring dllPath() {
  std::wstring path(MAX_PATH, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

namespace {

TEST(XllCommands, AFailingMacroIsHeardAndNeverReachesExcel) {
  struct Row {
    const char* name;
    std::function<void()> macro;
    std::vector<std::string> heard;
  };
  const Row rows[] = {
      {"a macro that works", [] {}, {}},
      {"a host error", [] { throw HostError(1004, "the host refused"); }, {"the host refused"}},
      {"a programming error", [] { throw std::logic_error("a bug"); }, {"a bug"}},
      {"memory ran out", [] { throw std::bad_alloc(); }, {std::bad_alloc().what()}},
      {"no std::exception", [] { throw 42; }, {UnknownFailure().what()}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    int runs = 0;
    const uint64_t token = xllCommands().offer(u"undo_changes", [&] {
      ++runs;
      row.macro();
    });
    ASSERT_NE(token, 0u);
    std::vector<std::string> heard;
    {
      const ToleratedFailureWatch watch(
          [&](const std::exception& failure) { heard.emplace_back(failure.what()); });
      EXPECT_EQ(VandrelQmvUndoChanges(), 1);
    }
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(heard, row.heard);
    // Withdrawn, the command runs nothing.
    xllCommands().withdraw(u"undo_changes", token);
    EXPECT_EQ(VandrelQmvUndoChanges(), 1);
    EXPECT_EQ(runs, 1);
  }
  EXPECT_EQ(xllCommands().offer(u"no_such_command", [] {}), 0u);
}

}  // namespace
}  // namespace qmv::windows
