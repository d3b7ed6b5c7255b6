// The four exports. A handle is used only while it names a live plug-in object in the table;
// a null, forged or destroyed handle is refused without being touched. No exception leaves
// an export: each runs inside the one boundary guard.
#include "plugin/frameport.h"

#include <memory>
#include <new>

#include "plugin/fanout_plugin.h"
#include "platform/exception_guard.h"

extern "C" uintptr_t Frameport_Initialize() {
  return platform::Guarded(uintptr_t{0}, []() -> uintptr_t {
    std::unique_ptr<CFanoutPlugin> plugin(new (std::nothrow) CFanoutPlugin(FrameportPipeName()));
    if (!plugin) return 0;
    const uintptr_t handle = CFanoutPlugin::LiveTable().Add(plugin.get());
    if (handle == 0) return 0;
    plugin.release()->StartServer();
    return handle;
  });
}

extern "C" int32_t Frameport_ProcessVideoFrame(uintptr_t handle, void* header, uint8_t* pixels) {
  return platform::Guarded(int32_t{0}, [&] {
    platform::LiveObjectTable::Pin pin = CFanoutPlugin::LiveTable().Acquire(handle);
    if (!pin) return int32_t{1};
    return static_cast<CFanoutPlugin*>(pin.get())->ProcessVideoFrame(header, pixels);
  });
}

extern "C" void Frameport_UnInitialize(uintptr_t handle) {
  platform::GuardedVoid([handle] {
    platform::LiveObjectTable::Pin pin = CFanoutPlugin::LiveTable().Acquire(handle);
    if (!pin) return;
    auto* plugin = static_cast<CFanoutPlugin*>(pin.get());
    // Wait until no other call uses it; only one caller gets past this.
    if (!CFanoutPlugin::LiveTable().Remove(pin.handle(), 1)) return;
    pin.reset();
    plugin->Shutdown();
    delete plugin;
  });
}

extern "C" void Frameport_Abort(uintptr_t handle) {
  platform::GuardedVoid([handle] {
    platform::LiveObjectTable::Pin pin = CFanoutPlugin::LiveTable().Acquire(handle);
    if (pin) static_cast<CFanoutPlugin*>(pin.get())->Abort();
  });
}
