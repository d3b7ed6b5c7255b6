// The built-in class table: one line per class, each naming the function that makes an
// instance (declared in builtin_classes.h).
#include "media/posix/builtin_classes.h"

#include "media/device_enum.h"

namespace media {

const BuiltinClass* BuiltinClasses() {
  static const BuiltinClass kClasses[] = {
      {&CLSID_FilterGraph, CreateFilterGraph},
      {&CLSID_CaptureGraphBuilder2, CreateCaptureGraphBuilder},
      {&CLSID_MemoryAllocator, CreateMemoryAllocator},
      {&CLSID_SystemClock, CreateSystemClock},
      {&CLSID_SmartTee, CreateSmartTee},
      {&CLSID_SystemDeviceEnum, ::CreateSystemDeviceEnum},
      {nullptr, nullptr},
  };
  return kClasses;
}

}  // namespace media
