// The video plug-in "Frameport.dll" as the render-graph object binds it: its module, its
// instance and its four entry points, loaded on Initialize and released on Uninitialize.
// Load, Abort and Unload run on the host's or the worker thread; ProcessFrame on the
// streaming thread, which only reads the binding (it changes only while no graph streams).
#pragma once

#include <atomic>
#include <cstdint>

#include "graph/frame_types.h"
#include "platform/module.h"

// Plug-in entry points.
using FramePluginInitialize = uintptr_t (*)();
using FramePluginProcessVideoFrame = int32_t (*)(uintptr_t instance, BitmapInfoHeader* header,
                                                 uint8_t* pixels);
using FramePluginUnInitialize = void (*)(uintptr_t instance);
using FramePluginAbort = void (*)(uintptr_t instance);

class PluginBinding {
 public:
  enum class LoadResult {
    Unbound,  // not found, or an entry point missing (what was loaded stays until Unload)
    Refused,  // Frameport_Initialize gave no instance: everything released again
    Ready,
  };

  PluginBinding() = default;
  PluginBinding(const PluginBinding&) = delete;
  PluginBinding& operator=(const PluginBinding&) = delete;

  // Loads the plug-in, binds its entry points and creates its instance.
  LoadResult Load(const char* fileName);
  // Frameport_Abort at a graph stop; nothing without an instance.
  void Abort() const;
  // Abort and Frameport_UnInitialize when there is an instance, then frees the module and
  // clears every entry point. Safe when nothing is loaded.
  void Unload();
  // Shows the plug-in one frame, which it may rewrite in place; nothing without an instance.
  void ProcessFrame(BitmapInfoHeader* header, uint8_t* pixels) const;

  platform::ModuleHandle pluginModule = nullptr;
  std::atomic<uintptr_t> pluginInstance{0};
  FramePluginInitialize pfnInitialize = nullptr;
  FramePluginProcessVideoFrame pfnProcessVideoFrame = nullptr;
  FramePluginUnInitialize pfnUnInitialize = nullptr;
  FramePluginAbort pfnAbort = nullptr;
};
