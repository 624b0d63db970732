// The host's side of a session script: the commands that set up the in-memory workbook
// and the checks of the host's own state. `qmv play` and the sessions played through the
// Windows add-in's COM path share them, so that a script means the same in both.
#pragma once

#include <optional>
#include <string>

#include "platform/memory/memory_application.hpp"
#include "tools/qmv/script.hpp"

namespace qmv::cli {

/// Carries out a command that sets up the workbook (workbook, close-workbooks, sheet, set,
/// column, fill, hide-row, sort-rows, insert-rows, autofilter, select, addin-item); a sort,
/// an insertion and a filter stand for the user's own, which the host reports as its cells
/// change. False for any other command. Throws std::runtime_error, with a message for the
/// script's reader, when it cannot apply.
bool applyHostCommand(memory::MemoryApplication& app, const Command& command);

/// A check that did not hold: what the script expected and what the host has.
struct Mismatch {
  std::string expected;
  std::string actual;
};

/// True for the checks of the host's state that checkHost answers.
bool isHostCheck(Op op);

/// Checks the host's settings, its Undo and key bindings, its command bars and add-in
/// items, its hidden rows and AutoFilter (expect host, bar, popup, addin, row,
/// autofilter). Precondition: isHostCheck(command.op).
std::optional<Mismatch> checkHost(const memory::MemoryApplication& app, const Command& command);

}  // namespace qmv::cli
