// Reaching host objects that may be absent: an empty handle is the host's "Nothing",
// and using it is the host's "object variable not set" failure.
#pragma once

#include <memory>

#include "addin/addin_module.hpp"
#include "host/host.hpp"
#include "host/host_error.hpp"

namespace qmv {

/// The object behind `handle`; throws HostError 91 when the handle is empty. The reference
/// lives only as long as a handle to the object is held.
template <class T>
T& required(const std::shared_ptr<T>& handle) {
  if (!handle) throw HostError(host_errors::kObjectNotSet, "Object variable not set");
  return *handle;
}

/// The stored host application; throws HostError 91 while disconnected.
inline Application& hostApplication(AddinModule& module) { return required(module.hostApp); }

}  // namespace qmv
