// The one error type of `qmv apply`: a failure with the exit status it ends the run with.
// Whatever fails throws it (or a named kind of it); runApply turns it into one line on
// standard error and its status, in one place.
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

}  // namespace qmv::cli
