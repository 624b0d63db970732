// Reference counting for the DLL's COM objects, and the counts of live objects and server
// locks that DllCanUnloadNow reports.
#pragma once

#include <windows.h>

#include <atomic>

namespace qmv::windows {

/// Live COM objects of this DLL and IClassFactory::LockServer locks.
struct ServerCounts {
  std::atomic<long> objects{0};
  std::atomic<long> locks{0};
};
ServerCounts& serverCounts();

/// True when no object of the DLL is alive and the server is not locked.
inline bool serverCanUnload() {
  return serverCounts().objects.load() == 0 && serverCounts().locks.load() == 0;
}

// COM interfaces are released through Release, never deleted through a base pointer, so
// they have no virtual destructor.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

/// Base of every COM object the DLL hands out: a reference count starting at 1 and the
/// object's share of the live-object count. `Interfaces` are the COM interfaces it
/// implements; the derived class answers QueryInterface.
template <class... Interfaces>
class ComObject : public Interfaces... {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG remaining = --refs_;
    if (remaining == 0) delete this;
    return remaining;
  }

 protected:
  ComObject() { ++serverCounts().objects; }
  virtual ~ComObject() { --serverCounts().objects; }

 private:
  std::atomic<ULONG> refs_{1};
};

#pragma GCC diagnostic pop

}  // namespace qmv::windows
