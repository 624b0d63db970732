// The owner of a Windows handle is the project's one handle owner (host/unique_handle.hpp).
// Each kind of handle is a one-line alias naming how it is closed (the aliases are in
// gdi_handles.hpp, registry_key.hpp and with their users); null is "no handle".
#pragma once

#include "host/unique_handle.hpp"

namespace qmv::windows {

template <class T, class Close>
using UniqueHandle = qmv::UniqueHandle<T, Close>;

}  // namespace qmv::windows
