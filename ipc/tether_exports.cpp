// The four exports. A handle is used only while it names a live instance in the table; a
// forged, stale or deleted handle gets the bad-handle result without being touched.
#include <new>

#include "ipc/tether.h"
#include "ipc/tether_instance.h"

namespace {

bool IsNullHandle(TetherHandle h) { return h == 0 || h == kTetherNoHandle; }

}  // namespace

extern "C" TetherHandle Tether_CreateInstance(TetherCreateParams params) {
  try {
    auto* instance = new (std::nothrow) CTetherInstance;
    if (instance == nullptr) return kTetherNoHandle;
    if (!instance->Create(params)) {
      delete instance;
      return kTetherNoHandle;
    }
    if (!CTetherInstance::LiveTable().Add(instance)) {
      instance->TearDown();
      delete instance;
      return kTetherNoHandle;
    }
    return reinterpret_cast<TetherHandle>(instance);
  } catch (...) {
    return kTetherNoHandle;
  }
}

extern "C" int32_t Tether_SendMessage(TetherHandle handle, void* buffer, uint32_t length, int32_t reply) {
  if (IsNullHandle(handle)) return kTetherNullHandle;
  try {
    platform::LiveObjectTable::Pin pin = CTetherInstance::LiveTable().Acquire(static_cast<uintptr_t>(handle));
    if (!pin) return kTetherBadHandle;
    return static_cast<CTetherInstance*>(pin.get())->Send(buffer, length, reply != 0);
  } catch (...) {
    return kTetherBadHandle;
  }
}

extern "C" void Tether_DeleteInstance(TetherHandle handle) {
  if (IsNullHandle(handle)) return;
  try {
    platform::LiveObjectTable::Pin pin = CTetherInstance::LiveTable().Acquire(static_cast<uintptr_t>(handle));
    if (!pin) return;
    auto* instance = static_cast<CTetherInstance*>(pin.get());
    // Release a send in progress on another thread, then wait until no call uses it.
    instance->Abort();
    if (!CTetherInstance::LiveTable().Remove(instance, 1)) return;  // another delete won
    pin.reset();
    instance->TearDown();
    delete instance;
  } catch (...) {
  }
}

extern "C" void Tether_Abort(TetherHandle handle) {
  if (IsNullHandle(handle)) return;
  try {
    platform::LiveObjectTable::Pin pin = CTetherInstance::LiveTable().Acquire(static_cast<uintptr_t>(handle));
    if (pin) static_cast<CTetherInstance*>(pin.get())->Abort();
  } catch (...) {
  }
}
