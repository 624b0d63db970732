// The removal session: what outlives one run (the host, the record of the last character
// run, the host's undo bindings) and how the user is told things. The add-in owns one per
// connection; a tool without forms derives its own.
#pragma once

#include <memory>
#include <string>

#include "host/host.hpp"

namespace qmv {

struct UndoSnapshot;

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
  /// back to the host instead of leaving it on a macro that no longer does anything.
  bool undoKeyBound = false;

  /// Tells the user `text` (a message box with an OK button and the default title, or
  /// whatever stands for one). May throw what the platform throws.
  virtual void tellUser(const std::u16string& text) = 0;
};

}  // namespace qmv
