// The one error type of `qmv apply`: a failure with the exit status it ends the run with.
// Whatever fails throws it (or a named kind of it), or a reader's own error (a malformed
// workbook, CSV or encoding), which `failureOf` turns into it: runApply calls that once,
// around the whole run, and prints the one line with its status.
#pragma once

#include <stdexcept>
#include <string>

namespace qmv::cli {

/// A failed run: status 2 for a bad option or operand (nothing was read or written), 1 for
/// a file that cannot be read, written or understood, or a run the add-in refused.
class ApplyError : public std::runtime_error {
 public:
  ApplyError(int status, const std::string& message)
      : std::runtime_error(message), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

/// A bad option or operand; the message names it and what it accepts. Status 2.
class UsageError : public ApplyError {
 public:
  explicit UsageError(const std::string& message) : ApplyError(2, message) {}
};

/// A file that cannot be read or written, or whose content is not what it should be; the
/// message names the file and the reason. Status 1.
class FileError : public ApplyError {
 public:
  explicit FileError(const std::string& message) : ApplyError(1, message) {}
};

/// The failure in flight (call it in a catch block) as an ApplyError: an ApplyError as it
/// is; a workbook the reader refuses (xlsx::XlsxError, whose message names the file), CSV
/// that is malformed or not in its encoding (the message gets `file`, "standard input" for
/// "-"), a lack of memory and any other std::exception ("failed: ...") with status 1.
/// What is not a std::exception is rethrown.
ApplyError failureOf(const std::string& file);

}  // namespace qmv::cli
