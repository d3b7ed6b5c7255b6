// The four exports. A handle is used only while it names a live instance in the table; a
// forged, stale or deleted handle gets the bad-handle result without being touched. No
// exception leaves an export: each runs inside the one boundary guard.
#include <memory>
#include <new>

#include "ipc/tether.h"
#include "ipc/tether_instance.h"
#include "platform/exception_guard.h"

namespace {

bool IsNullHandle(TetherHandle h) { return h == 0 || h == kTetherNoHandle; }

}  // namespace

extern "C" TetherHandle Tether_CreateInstance(TetherCreateParams params) {
  return platform::Guarded(kTetherNoHandle, [&params]() -> TetherHandle {
    std::unique_ptr<CTetherInstance> instance(new (std::nothrow) CTetherInstance);
    if (!instance) return kTetherNoHandle;
    if (!instance->Create(params)) return kTetherNoHandle;
    const uintptr_t handle = CTetherInstance::LiveTable().Add(instance.get());
    if (handle == 0) {
      instance->TearDown();
      return kTetherNoHandle;
    }
    instance.release();
    return static_cast<TetherHandle>(handle);
  });
}

extern "C" int32_t Tether_SendMessage(TetherHandle handle, void* buffer, uint32_t length, int32_t reply) {
  if (IsNullHandle(handle)) return kTetherNullHandle;
  return platform::Guarded(kTetherBadHandle, [&] {
    platform::LiveObjectTable::Pin pin = CTetherInstance::LiveTable().Acquire(static_cast<uintptr_t>(handle));
    if (!pin) return kTetherBadHandle;
    return static_cast<CTetherInstance*>(pin.get())->Send(buffer, length, reply != 0);
  });
}

extern "C" void Tether_DeleteInstance(TetherHandle handle) {
  if (IsNullHandle(handle)) return;
  platform::GuardedVoid([handle] {
    platform::LiveObjectTable::Pin pin = CTetherInstance::LiveTable().Acquire(static_cast<uintptr_t>(handle));
    if (!pin) return;
    auto* instance = static_cast<CTetherInstance*>(pin.get());
    // Release a send in progress on another thread, then wait until no call uses it.
    instance->Abort();
    if (!CTetherInstance::LiveTable().Remove(pin.handle(), 1)) return;  // another delete won
    pin.reset();
    instance->TearDown();
    delete instance;
  });
}

extern "C" void Tether_Abort(TetherHandle handle) {
  if (IsNullHandle(handle)) return;
  platform::GuardedVoid([handle] {
    platform::LiveObjectTable::Pin pin = CTetherInstance::LiveTable().Acquire(static_cast<uintptr_t>(handle));
    if (pin) static_cast<CTetherInstance*>(pin.get())->Abort();
  });
}
