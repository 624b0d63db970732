// Steps shared by every run: the host's run state and the undo bindings.
#pragma once

#include "engine/session.hpp"
#include "host/host.hpp"

namespace qmv {

/// Texts and names of the host run state and the undo bindings.
inline constexpr char16_t kProcessingText[] = u"Processing...!";
inline constexpr char16_t kUndoText[] = u"VandrelQMV_Undo";
inline constexpr char16_t kUndoMacro[] = u"undo_changes";
inline constexpr char16_t kUndoKey[] = u"^z";

/// Puts the host into its run state: cancel key 2, status bar "Processing...!", screen
/// updating off, calculation manual, in that order. A failing call propagates (callers
/// decide whether these steps are tolerant).
void enterHostRunState(Application& app);

/// The same four steps, each tolerant: a failing step is skipped and the next one runs.
void enterHostRunStateTolerant(Application& app) noexcept;

/// Restores the host after a run, each step tolerant: calculation automatic (whatever it
/// was before), status bar empty, screen updating on. The cancel key stays at 2.
void leaveHostRunState(Application& app) noexcept;

/// Binds the host's Undo entry and Control+Z to the undo macro, each step tolerant.
/// Does nothing when the host could not register the macro (an unbound name would make
/// every Control+Z fail).
void bindUndoCommands(RemovalSession& session) noexcept;

/// Gives Control+Z back to the host if a run bound it; tolerant.
void releaseUndoKey(RemovalSession& session) noexcept;

}  // namespace qmv
