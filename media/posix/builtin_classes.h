// The classes the Linux COM runtime serves itself, before the registry is asked.
#pragma once

#include "media/com_object.h"

namespace media {

struct BuiltinClass {
  const CLSID* clsid;
  CreateInstanceFn create;
};

// The table, ended by a null entry.
const BuiltinClass* BuiltinClasses();

HRESULT CreateFilterGraph(REFIID iid, void** ppv);
HRESULT CreateCaptureGraphBuilder(REFIID iid, void** ppv);
HRESULT CreateMemoryAllocator(REFIID iid, void** ppv);
HRESULT CreateSystemClock(REFIID iid, void** ppv);
HRESULT CreateSmartTee(REFIID iid, void** ppv);

}  // namespace media
