// The POSIX handles qmv opens, each owned by a UniqueHandle: file descriptors and iconv
// converters.
#pragma once

#include <iconv.h>
#include <unistd.h>

#include "host/unique_handle.hpp"

namespace qmv::cli {

struct CloseDescriptor {
  void operator()(int fd) const noexcept { ::close(fd); }
};
struct NoDescriptor {
  int operator()() const noexcept { return -1; }
};
/// A file descriptor; -1 is none. A close whose failure matters (a written file's last
/// close) takes the descriptor with release() and checks it there.
using UniqueFd = UniqueHandle<int, CloseDescriptor, NoDescriptor>;

struct CloseConverter {
  void operator()(iconv_t handle) const noexcept { ::iconv_close(handle); }
};
struct NoConverter {
  // iconv_open's failure value.
  iconv_t operator()() const noexcept { return reinterpret_cast<iconv_t>(-1); }
};
/// An iconv conversion descriptor; iconv_open's (iconv_t)-1 is none.
using UniqueIconv = UniqueHandle<iconv_t, CloseConverter, NoConverter>;

}  // namespace qmv::cli
