// Loading and binding of the virtual-camera control library.
#include "graph/vcam_binding.h"

#include "graph/diagnostics.h"

bool VirtualCameraLibrary::Load(const char* fileName) {
  Unload();
  module_ = platform::LoadModule(fileName);
  if (!module_) {
    LogMessage("Can not load OruVCapture.dll");
    return false;
  }
  bool complete = true;
#define ORU_VCAM_BIND(name, params, args) \
  complete = platform::BindModuleSymbol(module_, #name, &fn_##name) && complete;
  ORU_VCAM_ENTRY_POINTS(ORU_VCAM_BIND)
#undef ORU_VCAM_BIND
  if (!complete) {
    LogMessage("No interface!");
    Unload();
    return false;
  }
  return true;
}

void VirtualCameraLibrary::Unload() {
#define ORU_VCAM_CLEAR(name, params, args) fn_##name = nullptr;
  ORU_VCAM_ENTRY_POINTS(ORU_VCAM_CLEAR)
#undef ORU_VCAM_CLEAR
  platform::UnloadModule(std::exchange(module_, nullptr));
}
