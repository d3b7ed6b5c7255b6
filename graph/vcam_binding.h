// Binding of the virtual-camera control library: loaded by file name at run time, every
// entry point reached through a forwarder that answers E_FAIL while it is not bound.
#pragma once

#include "graph/vcam_api.h"
#include "platform/module.h"

class VirtualCameraLibrary {
 public:
  VirtualCameraLibrary() = default;
  VirtualCameraLibrary(const VirtualCameraLibrary&) = delete;
  VirtualCameraLibrary& operator=(const VirtualCameraLibrary&) = delete;
  ~VirtualCameraLibrary() { Unload(); }

  // Loads "OruVCapture.dll" and binds all 23 entry points. Logs "Can not load
  // OruVCapture.dll" or "No interface!" (and unloads) and answers false on failure.
  bool Load(const char* fileName = "OruVCapture.dll");

  // Frees the library and clears every entry point; safe when nothing is loaded.
  void Unload();

  bool IsLoaded() const { return module_ != nullptr; }

  // A frame pipeline's sink: OruVCapSetWebcamData of the library at `self`.
  static void TakeFrame(void* self, const BitmapInfoHeader* header, const uint8_t* pixels, uint32_t size) {
    static_cast<const VirtualCameraLibrary*>(self)->OruVCapSetWebcamData(header, pixels, size);
  }

#define ORU_VCAM_FORWARDER(name, params, args) \
  HResult name params const { return fn_##name ? fn_##name args : kEFail; }
  ORU_VCAM_ENTRY_POINTS(ORU_VCAM_FORWARDER)
#undef ORU_VCAM_FORWARDER

 private:
  platform::ModuleHandle module_ = nullptr;
#define ORU_VCAM_POINTER(name, params, args) HResult(*fn_##name) params = nullptr;
  ORU_VCAM_ENTRY_POINTS(ORU_VCAM_POINTER)
#undef ORU_VCAM_POINTER
};
