// Session scripts (the `qmv play` language) played through the add-in's COM path: the
// in-memory workbook behind the test automation object, the add-in created as the COM
// object Orvik.Connect, its forms as real windows driven by window messages.
//
// The calling thread is Excel's user-interface thread: it owns the host, the add-in and
// the windows, and pumps messages. A second thread reads the script like a user: it
// starts clicks, acts on the shown form and checks what the host and the windows show,
// always through tasks that the user-interface thread runs between its messages.
// Message boxes and input boxes are answered on the user-interface thread as they open.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qmv::windows::test {

/// How a session runs.
struct ComSessionOptions {
  /// Folder (Windows path) for a picture of each form, taken the first time it is shown
  /// and idle, as <form name>.bmp; empty for none.
  std::wstring screenshotFolder;
  /// False: the XLL interface refuses every command registration.
  bool xllRegistrations = true;
  /// Folder (Windows path) that `load` and `save` take relative file names from.
  std::wstring baseFolder;
  /// True: once the script has run, Excel unloads the XLL (as on closing, before it asks
  /// to save changes) while the add-in stays connected.
  bool unloadXllAtEnd = false;
};

/// What a session did.
struct ComSessionResult {
  /// "line N: expected ... but was ..." for each failed expectation.
  std::vector<std::string> failures;
  /// A script error or a command that cannot run through COM; empty when none.
  std::string error;
  /// Forms pictured, by name.
  std::vector<std::string> screenshots;
  /// Number of expectations checked.
  int checks = 0;
  /// DllCanUnloadNow after the add-in was released at the end.
  bool unloadable = false;
  /// With unloadXllAtEnd: the macro Control+Z runs after the unload; empty when the key
  /// does Excel's own action.
  std::string controlZAfterUnload;
};

/// Plays a script. Requires Orvik.Connect to be registered and a display.
ComSessionResult playThroughCom(std::string_view script, const ComSessionOptions& options = {});

/// In a program started by the shell to open an address while a session records them:
/// records the address and returns true. False in any other start of the program.
bool recordBrowsedAddress();

/// Saves a picture of `window` as it shows on the screen, as a 24-bit BMP file.
bool saveWindowPicture(void* window, const std::wstring& path);

}  // namespace qmv::windows::test
