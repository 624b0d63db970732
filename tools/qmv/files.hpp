// Reading whole files and replacing files safely: a result is written to a new file next
// to its target and renamed over it, so that a failure never leaves a half-written file.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace qmv::cli {

/// A file that cannot be read or written; the message names the file and the reason.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The whole content of a regular file. Throws FileError ("cannot read F: reason").
std::string readWholeFile(const std::string& path);

/// Replaces (or creates) `path` with `content`: writes a temporary file in the same folder,
/// flushes it to disk, gives it the permissions of the file it replaces, and renames it
/// over `path` (over the file a link names, when `path` is a link). On failure the temporary
/// file is removed and `path` is untouched. Throws FileError ("cannot write F: reason").
void replaceFile(const std::string& path, std::string_view content);

}  // namespace qmv::cli
