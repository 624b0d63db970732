// The handles the package code opens, each owned by a UniqueHandle: file descriptors,
// C streams and libzip's archives, entries and sources.
#pragma once

#include <unistd.h>
#include <zip.h>

#include <cstdio>

#include "host/unique_handle.hpp"

namespace qmv::xlsx {

struct CloseDescriptor {
  void operator()(int fd) const noexcept { ::close(fd); }
};
struct NoDescriptor {
  int operator()() const noexcept { return -1; }
};
/// A file descriptor; -1 is none. A close whose failure matters (a written file's last
/// close) takes the descriptor with release() and checks it there.
using UniqueFd = UniqueHandle<int, CloseDescriptor, NoDescriptor>;

struct CloseStream {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
/// A C stream. A close whose failure matters takes it with release() and checks it there.
using UniqueStream = UniqueHandle<std::FILE*, CloseStream>;

struct DiscardZip {
  void operator()(zip_t* zip) const noexcept { zip_discard(zip); }
};
/// An open archive, discarded (nothing written) when the owner goes: a write is committed
/// by zip_close on the released archive, or on the held one, which stays open when it
/// fails.
using UniqueZip = UniqueHandle<zip_t*, DiscardZip>;

struct CloseZipFile {
  void operator()(zip_file_t* file) const noexcept { zip_fclose(file); }
};
/// An entry opened for reading.
using UniqueZipFile = UniqueHandle<zip_file_t*, CloseZipFile>;

struct FreeZipSource {
  void operator()(zip_source_t* source) const noexcept { zip_source_free(source); }
};
/// A source not yet handed to an archive: released once a call such as zip_file_replace
/// has taken it, which frees it with the archive.
using UniqueZipSource = UniqueHandle<zip_source_t*, FreeZipSource>;

}  // namespace qmv::xlsx
