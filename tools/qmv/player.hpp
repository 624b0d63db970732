// `qmv play`: replays a session script against the in-memory host with the add-in
// connected as the host connects it, and prints a transcript: every form shown, loaded
// and unloaded, every message and input box, every scripted stop, every failed
// expectation ("line N: expected ... but was ...") and every print.
//
// The player is the headless user: while a modal form is shown it reads the next script
// lines itself, runs checks, prints and queued answers at once and performs the form
// actions on the shown form, until the form closes; then the lines go on at the top.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

namespace qmv::cli {

/// Where a session reports.
struct PlayStreams {
  std::ostream& out;  ///< the transcript
  std::ostream& err;  ///< script errors and the closing count of failed expectations
};

/// How a session runs.
struct PlayOptions {
  /// The script's name in messages ("-" for standard input).
  std::string scriptName = "-";
  /// Folder that relative paths of load and save start from; empty for the working folder.
  std::string baseFolder;
  /// Echo every command into the transcript ("> click QMV1").
  bool echo = false;
};

/// Plays a script. Exit status: 0 every expectation held, 1 at least one failed (the
/// script went on), 2 a script error (nothing runs after it; the line is named).
int playScript(std::string_view script, const PlayOptions& options, PlayStreams& streams);

/// `qmv play PATH` (or "-" for `in`): reads the script and plays it, with relative paths
/// starting from the script's folder.
int runPlay(const std::string& path, bool echo, std::istream& in, PlayStreams& streams);

}  // namespace qmv::cli
