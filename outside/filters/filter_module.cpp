// The exports of one filter module: DllGetClassObject over the module's class table
// (KESTREL_FILTER_MODULE picks it: 1 camera, 2 renderer, 3 decoder), DllCanUnloadNow and
// the KestrelFilters_ test controls.
#include "media/vd_filters.h"
#include "outside/filters/filter_exports.h"
#include "outside/filters/filter_kit.h"
#include "outside/filters/record.h"
#include "outside/filters/stand_ins.h"
#include "platform/exception_guard.h"

namespace {

struct ClassEntry {
  const CLSID* clsid;
  media::CreateInstanceFn create;
};

#if KESTREL_FILTER_MODULE == 1
const ClassEntry kClasses[] = {{&filters::kClsidKestrelCam, &filters::CreateCamera}};
#elif KESTREL_FILTER_MODULE == 2
const ClassEntry kClasses[] = {{&vd::kClsidVDRender, &filters::CreateRenderer}};
#else
const ClassEntry kClasses[] = {{&vd::kClsidMjpegDecoder, &filters::CreateDecoder},
                               {&vd::kClsidMjpegDecoder2, &filters::CreateDecoder2}};
#endif

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  for (const ClassEntry& entry : kClasses)
    if (clsid == *entry.clsid) return filters::GetClassFactory(entry.create, riid, object);
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return filters::CanUnloadNow(); }

extern "C" uint32_t KestrelFilters_RecordCount() { return filters::RecordCount(); }

extern "C" uint32_t KestrelFilters_ReadRecord(uint32_t index, char* buffer, uint32_t capacity) {
  return platform::Guarded<uint32_t>(0, [&] { return filters::ReadRecord(index, buffer, capacity); });
}

extern "C" void KestrelFilters_ResetRecord() { platform::GuardedVoid([] { filters::ResetRecord(); }); }

extern "C" int32_t KestrelFilters_ObjectCount() { return static_cast<int32_t>(filters::LiveObjectCount()); }

extern "C" uint64_t KestrelFilters_FramesSent() { return filters::FramesDone(); }

extern "C" int32_t KestrelFilters_FrameSent(uint64_t number, uint64_t* found, int64_t* sentNs, uint32_t* width,
                                            uint32_t* height) {
  return platform::Guarded<int32_t>(
      0, [&] { return filters::FindFrameSent(number, found, sentNs, width, height) ? 1 : 0; });
}
