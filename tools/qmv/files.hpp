// Reading files and standard input, and writing results safely: a regular file is replaced
// by a new file written beside it and renamed over it, so that a failure never leaves a
// half-written file; devices and FIFOs are written directly, never renamed over.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tools/qmv/errors.hpp"
#include "tools/qmv/posix_handles.hpp"

namespace qmv::cli {

/// The whole content of a regular file. Throws FileError ("cannot read F: reason").
std::string readWholeFile(const std::string& path);

/// Whether a read-only target may be replaced, one whose owner cannot be kept, and one
/// with other names (hard links), whose other names then keep the old content.
enum class Overwrite { Refuse, Force };

/// Throws FileError (one line: why, and what to do) when `path` cannot be replaced by its
/// result (--in-place): a named pipe, a socket, a device, anything under /dev or /proc.
/// A missing file or a folder is left to the reading's own message.
void checkReplaceable(const std::string& path);

/// Replaces (or creates) `path` with `content`, as OutputFile does. Throws FileError.
void replaceFile(const std::string& path, std::string_view content,
                 Overwrite overwrite = Overwrite::Refuse);

/// Makes a caught SIGINT, SIGTERM or SIGHUP remove the temporary files and folders of the
/// run (OutputFile's new file, TemporaryFolder) before the process ends by that signal;
/// SIGXFSZ is ignored, so that a write past the file-size limit fails with EFBIG and the
/// run ends through its error, removing them as well. Call once, early in main.
void removeTemporariesOnSignals();

/// A private folder for intermediate files, in $TMPDIR (or /tmp when $TMPDIR is unset or
/// not a folder one can write to), removed with its files when the object goes and on a
/// caught signal. Throws FileError when no folder can be made.
class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/// Input read piece by piece: a file, or standard input for "-". Owns its descriptor.
class InputFile {
 public:
  /// Opens `path`. Throws FileError ("cannot read F: reason"), also for a folder.
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  /// Reads up to `capacity` bytes; 0 at the end. Throws FileError.
  std::size_t read(char* out, std::size_t capacity);
  /// Makes the input readable a second time with rewind(): standard input, a FIFO or a
  /// device is first copied to an unnamed temporary file. Call before the first read.
  void makeRereadable();
  /// Reads again from the start (after makeRereadable, or of a regular file).
  void rewind();
  /// The name errors give: the path, or "standard input".
  const std::string& name() const { return name_; }
  /// Whether it is a regular file (one that --in-place can replace).
  bool regular() const { return regular_; }

 private:
  [[noreturn]] void fail(int error) const;

  std::string name_;
  UniqueFd owned_;  ///< the descriptor opened here (none for standard input)
  int fd_ = -1;     ///< the descriptor read: owned_'s, or standard input's
  bool regular_ = false;
};

/// An output written as it is produced. A character device, a FIFO, a socket or a path
/// under /dev or /proc is opened and written in place; any other path gets a new file in
/// its folder, which commit() gives the permissions and owner of the file it replaces,
/// flushes to disk when it replaces one, and renames over it (over the file a link names,
/// when `path` is a link, also one that names no file yet).
/// Without commit() the new file is removed and the target is untouched.
///
/// An existing regular target is locked (flock, exclusive) from construction until the
/// object goes: a second run writing the same file meanwhile is refused at once with a
/// FileError, before it reads anything, so that neither run's work is lost. Runs that
/// do not take the lock (other programs) are not stopped.
class OutputFile {
 public:
  /// Throws FileError ("cannot write F: reason"): a folder, a missing folder, or an
  /// existing read-only file unless `overwrite` is Force.
  OutputFile(const std::string& path, Overwrite overwrite);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Throws FileError.
  void write(std::string_view bytes);
  /// Finishes the output. Throws FileError, also when the owner of the replaced file
  /// cannot be kept and `overwrite` is Refuse.
  void commit();
  /// Whether the target is written in place (a device or a FIFO).
  bool direct() const { return direct_; }

 private:
  [[noreturn]] void fail(int error) const;
  void flushBuffer();
  void lock();

  std::string given_;
  std::string path_;  ///< the file replaced, links followed
  Overwrite overwrite_;
  bool direct_ = false;
  bool exists_ = false;
  unsigned mode_ = 0;
  unsigned owner_ = 0;
  unsigned group_ = 0;
  std::string temporary_;
  UniqueFd fd_;
  UniqueFd lockFd_;
  bool committed_ = false;
  std::string buffer_;
};

}  // namespace qmv::cli
