// The four exports. A handle is used only while it names a live plug-in object in the table;
// a null, forged or destroyed handle is refused without being touched.
#include "plugin/frameport.h"

#include <new>

#include "plugin/fanout_plugin.h"

extern "C" uintptr_t Frameport_Initialize() {
  try {
    auto* plugin = new (std::nothrow) CFanoutPlugin(FrameportPipeName());
    if (plugin == nullptr) return 0;
    if (!CFanoutPlugin::LiveTable().Add(plugin)) {
      delete plugin;
      return 0;
    }
    plugin->StartServer();
    return reinterpret_cast<uintptr_t>(plugin);
  } catch (...) {
    return 0;
  }
}

extern "C" int32_t Frameport_ProcessVideoFrame(uintptr_t handle, void* header, uint8_t* pixels) {
  try {
    platform::LiveObjectTable::Pin pin = CFanoutPlugin::LiveTable().Acquire(handle);
    if (!pin) return 1;
    return static_cast<CFanoutPlugin*>(pin.get())->ProcessVideoFrame(header, pixels);
  } catch (...) {
    return 0;
  }
}

extern "C" void Frameport_UnInitialize(uintptr_t handle) {
  try {
    platform::LiveObjectTable::Pin pin = CFanoutPlugin::LiveTable().Acquire(handle);
    if (!pin) return;
    auto* plugin = static_cast<CFanoutPlugin*>(pin.get());
    // Wait until no other call uses it; only one caller gets past this.
    if (!CFanoutPlugin::LiveTable().Remove(plugin, 1)) return;
    pin.reset();
    plugin->Shutdown();
    delete plugin;
  } catch (...) {
  }
}

extern "C" void Frameport_Abort(uintptr_t handle) {
  try {
    platform::LiveObjectTable::Pin pin = CFanoutPlugin::LiveTable().Acquire(handle);
    if (pin) static_cast<CFanoutPlugin*>(pin.get())->Abort();
  } catch (...) {
  }
}
