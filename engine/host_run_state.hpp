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

/// Puts the host into its run state: records the user's calculation mode and events
/// switch in `user` (each tolerant: none where the host cannot tell), then cancel key 2,
/// status bar "Processing...!", screen updating off, calculation manual, in that order,
/// and events off where the host told them (tolerant). A failing call of the four
/// propagates (callers decide whether these steps are tolerant).
void enterHostRunState(Application& app, HostUserModes& user);

/// The same steps, each tolerant: a failing step is skipped and the next one runs.
void enterHostRunStateTolerant(Application& app, HostUserModes& user);

/// Restores the host after a run, each step tolerant: the user's calculation mode
/// (automatic where it was not told), the user's events switch where it was told, status
/// bar given back to the host, screen updating on. The cancel key stays at 2.
void leaveHostRunState(Application& app, const HostUserModes& user) noexcept;

/// Watches the host's cell changes (once per session) and binds the host's Undo entry to the
/// undo macro, each step tolerant, the Undo entry last of all calls. Control+Z stays the
/// host's own key (its Undo command, which runs the entry while the run is the last action);
/// a binding of it left by an earlier version of the session is given back. Every change made
/// outside OwnChanges is noted in the session's record (undo then leaves those cells alone).
/// Binds nothing when the host could not register the macro (an unbound name would make
/// the Undo entry fail).
void bindUndoCommands(RemovalSession& session);

/// At disconnection: ends the watch of cell changes, gives Control+Z back to the host if a
/// run bound it, and the Undo entry back to the host's own list now rather than at the
/// next change of cells; each step tolerant.
void releaseUndoCommands(RemovalSession& session) noexcept;

}  // namespace qmv
