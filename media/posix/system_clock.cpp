// The reference clock the graph hands its filters: the monotonic system time in 100-ns
// units.
#include <chrono>

#include "media/posix/builtin_classes.h"
#include "media/posix/com_object.h"

namespace media {
namespace {

class SystemClock final : public ComObject<IReferenceClock> {
 public:
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* pTime) override {
    if (!pTime) return E_POINTER;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    *pTime = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
    return S_OK;
  }
  // Timed notifications would signal Windows event or semaphore handles; the filters of this
  // runtime pace themselves, so none is offered.
  HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR* cookie) override {
    if (cookie) *cookie = 0;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR* cookie) override {
    if (cookie) *cookie = 0;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR) override { return S_FALSE; }

 private:
  void* FindInterface(REFIID iid) override {
    if (iid == IID_IUnknown || iid == IID_IReferenceClock) return static_cast<IReferenceClock*>(this);
    return nullptr;
  }
};

}  // namespace

HRESULT CreateSystemClock(REFIID iid, void** ppv) { return HandOut(new SystemClock, iid, ppv); }

}  // namespace media
