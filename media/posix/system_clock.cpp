// The reference clock the graph hands its filters: the monotonic system time in 100-ns
// units. Advise requests signal a platform event (the HEVENT or HSEMAPHORE value is the
// platform::EventObject*) from the clock's own timer thread.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "media/posix/builtin_classes.h"
#include "media/posix/com_object.h"
#include "platform/event.h"
#include "platform/exception_guard.h"

namespace media {
namespace {

REFERENCE_TIME Now() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
}

void Signal(DWORD_PTR handle) {
  platform::Event event(reinterpret_cast<platform::EventObject*>(handle));
  event.Set();
  event.release();  // not ours to close
}

class SystemClock final : public RuntimeComObject<IReferenceClock> {
 public:
  ~SystemClock() override {
    {
      std::lock_guard<std::mutex> hold(lock_);
      ending_ = true;
      wake_.notify_all();
    }
    if (timer_.joinable()) timer_.join();
  }

  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* pTime) override {
    if (!pTime) return E_POINTER;
    *pTime = Now();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME base, REFERENCE_TIME stream, HEVENT event,
                                       DWORD_PTR* cookie) override {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!event || base < 0 || stream < 0 || base + stream <= 0) return E_INVALIDARG;
    return Add(base + stream, 0, event, cookie);
  }

  HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore,
                                           DWORD_PTR* cookie) override {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!semaphore || start < 0 || period <= 0) return E_INVALIDARG;
    return Add(start, period, semaphore, cookie);
  }

  HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR cookie) override {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto it = advises_.begin(); it != advises_.end(); ++it) {
      if (it->cookie == cookie) {
        advises_.erase(it);
        return S_OK;
      }
    }
    return S_FALSE;
  }

 private:
  struct Advise {
    DWORD_PTR cookie;
    REFERENCE_TIME due;
    REFERENCE_TIME period;  // 0: once
    DWORD_PTR handle;
  };

  void* InterfaceFor(REFIID iid) override {
    if (iid == IID_IUnknown || iid == IID_IReferenceClock) return static_cast<IReferenceClock*>(this);
    return nullptr;
  }

  HRESULT Add(REFERENCE_TIME due, REFERENCE_TIME period, DWORD_PTR handle, DWORD_PTR* cookie) {
    return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
      std::lock_guard<std::mutex> hold(lock_);
      if (!timer_.joinable()) timer_ = std::thread([this] { platform::GuardedVoid([this] { TimerLoop(); }); });
      advises_.push_back(Advise{nextCookie_++, due, period, handle});
      *cookie = advises_.back().cookie;
      wake_.notify_all();
      return S_OK;
    });
  }

  // Signals each advise when its time comes; periodic ones are rescheduled.
  void TimerLoop() {
    std::unique_lock<std::mutex> hold(lock_);
    while (!ending_) {
      const REFERENCE_TIME now = Now();
      REFERENCE_TIME next = -1;
      for (auto it = advises_.begin(); it != advises_.end();) {
        if (it->due <= now) {
          Signal(it->handle);
          if (it->period == 0) {
            it = advises_.erase(it);
            continue;
          }
          while (it->due <= now) it->due += it->period;
        }
        if (next < 0 || it->due < next) next = it->due;
        ++it;
      }
      if (next < 0) {
        wake_.wait(hold);
      } else {
        wake_.wait_for(hold, std::chrono::microseconds((next - now + 9) / 10));
      }
    }
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::vector<Advise> advises_;
  DWORD_PTR nextCookie_ = 1;
  bool ending_ = false;
  std::thread timer_;
};

}  // namespace

HRESULT CreateSystemClock(REFIID iid, void** ppv) { return HandOut(new SystemClock, iid, ppv); }

}  // namespace media
