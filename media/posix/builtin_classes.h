// The classes the Linux COM runtime serves itself, before the registry is asked.
#pragma once

#include "media/dshow.h"

namespace media {

// Makes a new instance and hands it out as `iid`.
using CreateInstanceFn = HRESULT (*)(REFIID iid, void** ppv);

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
