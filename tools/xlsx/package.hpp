// A zip package (the container of an .xlsx or .xlsm workbook), read through libzip with
// limits against hostile archives, and written as a copy in which only named parts change.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tools/xlsx/handles.hpp"

struct z_stream_s;

namespace qmv::xlsx {

/// A workbook that cannot be read or written. The message is one line naming the file or
/// the part and the reason.
class XlsxError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// "cannot write PATH: REASON".
XlsxError writeError(const std::string& path, const std::string& reason);

/// Bounds on what reading a package may unpack. A part beyond them is refused before or
/// while it is inflated.
struct Limits {
  uint64_t maxPartBytes = uint64_t{2} << 30;   ///< one part, unpacked
  uint64_t maxTotalBytes = uint64_t{8} << 30;  ///< all parts together, unpacked
  uint64_t ratioFrom = uint64_t{1} << 20;      ///< the ratio applies to parts at least this big
  uint64_t maxRatio = 300;                     ///< unpacked size over packed size
};

/// One part of the package as listed in the zip directory.
struct PartEntry {
  std::string name;
  uint64_t index = 0;
  uint64_t size = 0;        ///< unpacked size the directory declares
  uint64_t packedSize = 0;  ///< compressed size
};

/// A package opened for reading. Opening checks the whole directory: an OLE compound file
/// (encrypted workbooks, legacy .xls) is refused, as are entries whose names are absolute
/// or climb out with "..", duplicate names (compared without case, as part names are),
/// encrypted entries, and entries beyond the limits.
class Package {
 public:
  /// Throws XlsxError.
  static std::unique_ptr<Package> open(const std::string& path, const Limits& limits = {});
  ~Package();
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;

  const std::string& path() const { return path_; }
  const std::vector<PartEntry>& parts() const { return parts_; }
  /// The part named `name` (without a leading "/", any case), or null.
  const PartEntry* find(std::string_view name) const;

  /// Streams the unpacked bytes of `part` to `sink` in chunks. Throws XlsxError when the
  /// part is damaged or inflates past its declared size or the limits.
  void read(const PartEntry& part, const std::function<void(std::string_view)>& sink) const;
  /// The whole part; for the small parts (relationships, workbook, styles).
  std::string readAll(const PartEntry& part) const;

 private:
  struct Archive;
  Package(std::string path, std::unique_ptr<Archive> archive, const Limits& limits);

  std::string path_;
  std::unique_ptr<Archive> archive_;
  Limits limits_;
  std::vector<PartEntry> parts_;
  std::unordered_map<std::string, std::size_t> byName_;
};

/// A temporary file next to `near` (same folder), removed when the object goes.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& near);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& path() const { return path_; }
  /// Keeps the file (it was renamed away).
  void release() { path_.clear(); }

 private:
  std::string path_;
};

/// A part's new content deflated as it is written (raw deflate at the fastest level, into a
/// temporary file next to `near`), with the checksum and sizes its zip entry records, so
/// that writePackage stores it without compressing it again. Throws XlsxError.
class DeflatedFile {
 public:
  explicit DeflatedFile(const std::string& near);
  ~DeflatedFile();
  DeflatedFile(const DeflatedFile&) = delete;
  DeflatedFile& operator=(const DeflatedFile&) = delete;

  void write(std::string_view bytes);
  /// Appends the bytes of the file at `path`.
  void writeFile(const std::string& path);
  /// Ends the stream; nothing is written after.
  void finish();
  /// Serves the packed bytes to libzip (a zip_source_callback's command).
  int64_t serve(void* data, uint64_t length, int command);

 private:
  void pump(const char* bytes, std::size_t length, bool last);
  void deflatePending();

  static constexpr std::size_t kGather = std::size_t{1} << 16;

  TemporaryFile packed_;
  UniqueStream file_;
  UniqueStream reader_;
  std::unique_ptr<z_stream_s> stream_;
  std::vector<unsigned char> out_;
  std::string pending_;  ///< written bytes not yet deflated
  uint64_t size_ = 0;
  uint64_t packedSize_ = 0;
  unsigned long crc_ = 0;
};

/// A part's new content: in a file, or already deflated.
struct PartReplacement {
  uint64_t index = 0;                ///< the part's index in the source package
  std::string contentPath;           ///< a file holding the part's new bytes
  DeflatedFile* deflated = nullptr;  ///< instead, finished deflated content
};

/// Writes `target` as a copy of the package file `source` in which only the parts of
/// `replacements` change and the parts at `removals` (indexes in the source) are left out:
/// every other entry keeps its packed bytes. The result is built in
/// a new file next to `target` and renamed over it, so a failure leaves `target` as it was.
/// Throws XlsxError.
void writePackage(const std::string& source, const std::string& target,
                  const std::vector<PartReplacement>& replacements,
                  const std::vector<uint64_t>& removals = {});

}  // namespace qmv::xlsx
