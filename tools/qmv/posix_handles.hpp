// The POSIX handles qmv opens, each owned by a UniqueHandle: file descriptors and iconv
// converters.
#pragma once

#include <iconv.h>

#include "host/unique_handle.hpp"
#include "tools/xlsx/handles.hpp"

namespace qmv::cli {

/// A file descriptor; -1 is none (the package code's own, one rule for both).
using UniqueFd = xlsx::UniqueFd;

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
