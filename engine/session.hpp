// The removal session: what outlives one run (the host, the record of the last character
// run, the host's undo bindings) and how the user is told things. The add-in owns one per
// connection; a tool without forms derives its own.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/host.hpp"

namespace qmv {

struct UndoSnapshot;

/// Host modes a run changes and gives back as the user had them.
struct HostUserModes {
  std::optional<int32_t> calculation;  ///< none: automatic is restored
  std::optional<bool> events;          ///< none: events are left as they are
};

/// State shared by the runs and the undo command.
class RemovalSession {
 public:
  RemovalSession() = default;
  RemovalSession(const RemovalSession&) = delete;
  RemovalSession& operator=(const RemovalSession&) = delete;
  virtual ~RemovalSession() = default;

  /// The host's application; empty while disconnected.
  ApplicationPtr hostApp;
  /// The record of the last character run; null until a run recorded one.
  std::shared_ptr<UndoSnapshot> undoSnapshot;
  /// True once the host can run the undo macro; bindings are made only then.
  bool undoMacroRegistered = false;
  /// True while Control+Z is bound to the undo macro, so that disconnecting gives the key
  /// back to the host instead of leaving it on a macro that no longer does anything. The
  /// runs never bind it: Control+Z stays the host's Undo command.
  bool undoKeyBound = false;
  /// The host's change notices from the first run on: every change the add-in did not
  /// make is noted in the record, so that undo leaves the cells it touched alone; null
  /// before.
  std::unique_ptr<EventSubscription> cellWatch;
  /// Above zero while a run or the undo command changes cells: the host reports those
  /// changes like any other, and they must not count as the user's.
  int ownChanges = 0;
  /// The user's own host modes, read as a run puts the host into its run state and given
  /// back as it leaves it; none where the host could not tell.
  HostUserModes userModes;

  /// Tells the user `text` (a message box with an OK button and the default title, or
  /// whatever stands for one). May throw what the platform throws.
  virtual void tellUser(const std::u16string& text) = 0;
};

/// Marks the changes of cells made during its lifetime as the add-in's own.
class OwnChanges {
 public:
  explicit OwnChanges(RemovalSession& session) : session_(session) { ++session_.ownChanges; }
  ~OwnChanges() { --session_.ownChanges; }
  OwnChanges(const OwnChanges&) = delete;
  OwnChanges& operator=(const OwnChanges&) = delete;

 private:
  RemovalSession& session_;
};

}  // namespace qmv
