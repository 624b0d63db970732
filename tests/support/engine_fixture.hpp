// A loaded add-in over the in-memory host and the headless toolkit, with one workbook
// open, for tests that drive the removal commands as a user would.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "addin/addin_module.hpp"
#include "engine/undo.hpp"
#include "platform/memory/headless_toolkit.hpp"
#include "platform/memory/memory_application.hpp"
#include "platform/memory/recorded_shell.hpp"
#include "support/recording_observer.hpp"

namespace qmv::testing {

/// Value shorthands.
inline Value text(std::u16string s) { return Value{std::move(s)}; }
inline Value number(double d) { return Value{d}; }
inline CellContent constant(Value v) { return CellContent{std::move(v), {}}; }

/// The add-in connected to an in-memory host with "Book1" open (Sheet1 active) and the
/// undo macro registered.
struct LoadedAddin {
  LoadedAddin() {
    module.hostApp = host;
    host->addWorkbook();
    registerUndoMacro(module);
  }
  LoadedAddin(const LoadedAddin&) = delete;
  LoadedAddin& operator=(const LoadedAddin&) = delete;

  /// The value shorthands, also as members for the tests' bodies.
  static Value text(std::u16string s) { return testing::text(std::move(s)); }
  static Value number(double d) { return testing::number(d); }
  static CellContent constant(Value v) { return testing::constant(std::move(v)); }

  /// The value of a cell of the active sheet.
  Value valueAt(int64_t row, int64_t column) const { return host->cell({row, column}).value; }

  /// Message texts shown so far.
  std::vector<std::u16string> messages() const {
    std::vector<std::u16string> out;
    for (const auto& m : toolkit.messages()) out.push_back(m.text);
    return out;
  }

  /// Presses Yes on the dialog that `command` shows.
  void runYes(void (*command)(AddinModule&)) {
    user.press("CommandButton1");
    command(module);
  }

  memory::QueuedUser user;
  memory::HeadlessToolkit toolkit{user};
  memory::RecordedShell shell;
  std::shared_ptr<memory::MemoryApplication> host = std::make_shared<memory::MemoryApplication>();
  AddinModule module{toolkit, shell};
};

/// A test with a loaded add-in.
class EngineFixture : public ::testing::Test, public LoadedAddin {};

}  // namespace qmv::testing
