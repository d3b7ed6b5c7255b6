// The filter graph manager on Linux: the filters of a graph under unique names, direct pin
// connections, state changes sent from the renderers up to the sources, and the event queue
// the filters feed through IMediaEventSink.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "media/posix/builtin_classes.h"
#include "media/posix/com_object.h"
#include "media/posix/pin_util.h"
#include "platform/event.h"
#include "platform/exception_guard.h"

namespace media {
namespace {

constexpr LONG AM_MEDIAEVENT_NONOTIFY = 0x01;
// A running graph starts its filters this far ahead of the clock, so all start together.
constexpr REFERENCE_TIME kStartLatency = 100000;  // 10 ms

class FilterGraph;

// A snapshot of the graph's filters.
using FilterEnum = RuntimeEnum<IEnumFilters, ComPtr<IBaseFilter>>;


struct GraphEvent {
  LONG code;
  LONG_PTR param1;
  LONG_PTR param2;
};

class FilterGraph final
    : public RuntimeComObject<IGraphBuilder, IMediaControl, IMediaEventEx, IMediaEventSink, IMediaFilter> {
 public:
  FilterGraph() : eventHandle_(platform::Event::CreateLocal(true, false)) {}
  ~FilterGraph() override {
    platform::GuardedVoid([&] {
      StopFilters();
      std::vector<Entry> filters;
      {
        std::lock_guard<std::recursive_mutex> hold(lock_);
        filters.swap(filters_);
      }
      for (Entry& e : filters) {
        DisconnectAll(e.filter.get());
        e.filter->JoinFilterGraph(nullptr, nullptr);
      }
    });
    std::lock_guard<std::mutex> hold(eventLock_);
    for (const GraphEvent& e : events_) FreeParams(e);
  }

  // ---- IFilterGraph ----

  HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* filter, LPCWSTR name) override {
    if (!filter) return E_POINTER;
    return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      for (const Entry& e : filters_) {
        if (e.filter.get() == filter) return VFW_E_DUPLICATE_NAME;
      }
      std::u16string wanted = name ? std::u16string(name) : std::u16string();
      if (wanted.size() > MAX_FILTER_NAME - 1) wanted.resize(MAX_FILTER_NAME - 1);
      bool renamed = false;
      std::u16string unique = UniqueName(wanted, &renamed);
      HRESULT hr = filter->JoinFilterGraph(static_cast<IFilterGraph*>(this), unique.c_str());
      if (FAILED(hr)) return hr;
      // The newest filter comes first in an enumeration, as in DirectShow.
      filters_.insert(filters_.begin(), Entry{ComPtr<IBaseFilter>(filter), unique});
      if (clock_) filter->SetSyncSource(clock_.get());
      return (renamed && name) ? VFW_S_DUPLICATE_NAME : S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* filter) override {
    if (!filter) return E_POINTER;
    return platform::Guarded(E_FAIL, [&]() -> HRESULT {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      auto it = std::find_if(filters_.begin(), filters_.end(), [&](const Entry& e) { return e.filter.get() == filter; });
      if (it == filters_.end()) return E_FAIL;
      ComPtr<IBaseFilter> keep = it->filter;
      if (state_ != State_Stopped) keep->Stop();
      DisconnectAll(keep.get());
      filters_.erase(it);
      keep->SetSyncSource(nullptr);
      keep->JoinFilterGraph(nullptr, nullptr);
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return platform::Guarded(E_OUTOFMEMORY, [&] {
      std::vector<ComPtr<IBaseFilter>> snapshot;
      {
        std::lock_guard<std::recursive_mutex> hold(lock_);
        for (const Entry& e : filters_) snapshot.push_back(e.filter);
      }
      return HandOut(new FilterEnum({std::move(snapshot), HandReferenced}), IID_IEnumFilters,
                     reinterpret_cast<void**>(out));
    });
  }

  HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR name, IBaseFilter** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!name) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    for (const Entry& e : filters_) {
      if (e.name == name) return e.filter.copyTo(out);
    }
    return VFW_E_NOT_FOUND;
  }

  HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override {
    if (!out || !in) return E_POINTER;
    return platform::Guarded(E_FAIL, [&]() -> HRESULT {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      if (!Contains(PinOwner(out).get()) || !Contains(PinOwner(in).get())) return VFW_E_NOT_IN_GRAPH;
      PIN_DIRECTION outDir{};
      PIN_DIRECTION inDir{};
      if (!PinDirection(out, &outDir) || !PinDirection(in, &inDir)) return E_FAIL;
      if (outDir != PINDIR_OUTPUT || inDir != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
      if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
      return out->Connect(in, mt);
    });
  }

  HRESULT STDMETHODCALLTYPE Reconnect(IPin* pin) override {
    if (!pin) return E_POINTER;
    return platform::Guarded(E_FAIL, [&]() -> HRESULT {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      ComPtr<IPin> peer = ConnectedPeer(pin);
      if (!peer) return VFW_E_NOT_CONNECTED;
      PIN_DIRECTION dir{};
      if (!PinDirection(pin, &dir)) return E_FAIL;
      ComPtr<IPin> self(pin);
      ComPtr<IPin> out = dir == PINDIR_OUTPUT ? self : peer;
      ComPtr<IPin> in = dir == PINDIR_OUTPUT ? peer : self;
      AM_MEDIA_TYPE mt{};
      const bool haveType = SUCCEEDED(out->ConnectionMediaType(&mt));
      out->Disconnect();
      in->Disconnect();
      HRESULT hr = ConnectDirect(out.get(), in.get(), haveType ? &mt : nullptr);
      if (haveType) FreeMediaType(mt);
      return hr;
    });
  }

  HRESULT STDMETHODCALLTYPE Disconnect(IPin* pin) override {
    if (!pin) return E_POINTER;
    return platform::Guarded(E_FAIL, [&] { return pin->Disconnect(); });
  }

  HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override {
    return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
      ComPtr<IReferenceClock> clock;
      HRESULT hr = CreateSystemClock(IID_IReferenceClock, clock.putVoid());
      if (FAILED(hr)) return hr;
      return SetSyncSource(clock.get());
    });
  }

  // ---- IGraphBuilder: no filter mapper here, so Connect is a direct connection. ----

  HRESULT STDMETHODCALLTYPE Connect(IPin* out, IPin* in) override {
    HRESULT hr = ConnectDirect(out, in, nullptr);
    if (FAILED(hr) && hr != E_POINTER && hr != VFW_E_NOT_IN_GRAPH && hr != VFW_E_NOT_STOPPED) {
      return VFW_E_CANNOT_CONNECT;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Render(IPin*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Abort() override {
    aborted_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ShouldOperationContinue() override { return aborted_ ? S_FALSE : S_OK; }

  // ---- IMediaControl (and IMediaFilter's Stop and Pause, which are the same calls) ----

  HRESULT STDMETHODCALLTYPE Run() override {
    return platform::Guarded(E_FAIL, [&]() -> HRESULT {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      if (state_ == State_Running) return S_OK;
      ComPtr<IReferenceClock> clock = EnsureClock();
      REFERENCE_TIME start = 0;
      if (clock) clock->GetTime(&start);
      return RunAt(start + kStartLatency);
    });
  }
  HRESULT STDMETHODCALLTYPE Pause() override {
    return platform::Guarded(E_FAIL, [&]() -> HRESULT {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      if (state_ == State_Paused) return S_OK;
      EnsureClock();
      return ChangeState(State_Paused, 0);
    });
  }
  HRESULT STDMETHODCALLTYPE Stop() override {
    return platform::Guarded(E_FAIL, [&]() -> HRESULT {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      return StopFilters();
    });
  }
  HRESULT STDMETHODCALLTYPE GetState(LONG msTimeout, OAFilterState* state) override {
    if (!state) return E_POINTER;
    FILTER_STATE fs{};
    HRESULT hr = GetState(static_cast<DWORD>(msTimeout), &fs);
    *state = fs;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE RenderFile(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR, IDispatch** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE StopWhenReady() override {
    HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
    return Stop();
  }

  // ---- IDispatch: no type information is offered. ----

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  // ---- IMediaEvent / IMediaEventEx ----

  HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT* handle) override {
    if (!handle) return E_POINTER;
    *handle = reinterpret_cast<OAEVENT>(eventHandle_.get());
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG msTimeout) override {
    if (!code || !param1 || !param2) return E_POINTER;
    *code = 0;
    *param1 = 0;
    *param2 = 0;
    std::unique_lock<std::mutex> hold(eventLock_);
    auto ready = [&] { return !events_.empty(); };
    if (msTimeout < 0) {
      eventReady_.wait(hold, ready);
    } else if (!eventReady_.wait_for(hold, std::chrono::milliseconds(msTimeout), ready)) {
      return E_ABORT;
    }
    const GraphEvent e = events_.front();
    events_.pop_front();
    if (events_.empty()) eventHandle_.Reset();
    *code = e.code;
    *param1 = e.param1;
    *param2 = e.param2;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG msTimeout, LONG* code) override {
    if (!code) return E_POINTER;
    *code = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(msTimeout < 0 ? 0 : msTimeout);
    std::unique_lock<std::mutex> hold(eventLock_);
    for (;;) {
      auto it = std::find_if(events_.begin(), events_.end(), [](const GraphEvent& e) {
        return e.code == EC_COMPLETE || e.code == EC_USERABORT || e.code == EC_ERRORABORT;
      });
      if (it != events_.end()) {
        *code = it->code;
        FreeParams(*it);
        events_.erase(it);
        if (events_.empty()) eventHandle_.Reset();
        return S_OK;
      }
      if (msTimeout < 0) {
        eventReady_.wait(hold);
      } else if (eventReady_.wait_until(hold, deadline) == std::cv_status::timeout) {
        return E_ABORT;
      }
    }
  }

  // Every event reaches the application; nothing is handled on its behalf.
  HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG) override { return S_OK; }

  HRESULT STDMETHODCALLTYPE FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) override {
    FreeParams(GraphEvent{code, param1, param2});
    return S_OK;
  }

  // No windows on this platform to post to.
  HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND hwnd, LONG, LONG_PTR) override {
    return hwnd == 0 ? S_OK : E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG flags) override {
    if (flags & ~AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(eventLock_);
    notifyFlags_ = flags;
    if (flags & AM_MEDIAEVENT_NONOTIFY) {
      for (const GraphEvent& e : events_) FreeParams(e);
      events_.clear();
      eventHandle_.Reset();
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG* flags) override {
    if (!flags) return E_POINTER;
    std::lock_guard<std::mutex> hold(eventLock_);
    *flags = notifyFlags_;
    return S_OK;
  }

  // ---- IMediaEventSink ----

  HRESULT STDMETHODCALLTYPE Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override {
    return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
      std::lock_guard<std::mutex> hold(eventLock_);
      if (notifyFlags_ & AM_MEDIAEVENT_NONOTIFY) {
        FreeParams(GraphEvent{code, param1, param2});
        return S_OK;
      }
      events_.push_back(GraphEvent{code, param1, param2});
      eventHandle_.Set();
      eventReady_.notify_all();
      return S_OK;
    });
  }

  // ---- IMediaFilter / IPersist ----

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_FilterGraph;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override {
    return platform::Guarded(E_FAIL, [&]() -> HRESULT {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      EnsureClock();
      return RunAt(start);
    });
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD msTimeout, FILTER_STATE* state) override {
    if (!state) return E_POINTER;
    return platform::Guarded(E_FAIL, [&]() -> HRESULT {
      std::vector<ComPtr<IBaseFilter>> filters;
      {
        std::lock_guard<std::recursive_mutex> hold(lock_);
        *state = state_;
        for (const Entry& e : filters_) filters.push_back(e.filter);
      }
      HRESULT result = S_OK;
      for (const auto& f : filters) {
        FILTER_STATE fs{};
        HRESULT hr = f->GetState(msTimeout, &fs);
        if (FAILED(hr)) return hr;
        if (hr != S_OK && result == S_OK) result = hr;  // VFW_S_STATE_INTERMEDIATE, VFW_S_CANT_CUE
      }
      return result;
    });
  }
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override {
    return platform::Guarded(E_FAIL, [&]() -> HRESULT {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
      clock_ = ComPtr<IReferenceClock>(clock);
      clockChosen_ = true;
      for (const Entry& e : filters_) e.filter->SetSyncSource(clock);
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override {
    if (!clock) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return clock_.copyTo(clock);
  }

 private:
  struct Entry {
    ComPtr<IBaseFilter> filter;
    std::u16string name;
  };

  void* InterfaceFor(REFIID iid) override {
    if (iid == IID_IUnknown || iid == IID_IFilterGraph || iid == IID_IGraphBuilder) {
      return static_cast<IGraphBuilder*>(this);
    }
    if (iid == IID_IMediaControl || iid == IID_IDispatch) return static_cast<IMediaControl*>(this);
    if (iid == IID_IMediaEvent || iid == IID_IMediaEventEx) return static_cast<IMediaEventEx*>(this);
    if (iid == IID_IMediaEventSink) return static_cast<IMediaEventSink*>(this);
    if (iid == IID_IMediaFilter || iid == IID_IPersist) return static_cast<IMediaFilter*>(this);
    return nullptr;
  }

  bool Contains(IBaseFilter* filter) const {
    if (!filter) return false;
    return std::any_of(filters_.begin(), filters_.end(), [&](const Entry& e) { return e.filter.get() == filter; });
  }

  bool NameTaken(const std::u16string& name) const {
    return std::any_of(filters_.begin(), filters_.end(), [&](const Entry& e) { return e.name == name; });
  }

  // `wanted` itself when free; else (or for no name) with " 0001", " 0002", ... appended.
  std::u16string UniqueName(const std::u16string& wanted, bool* renamed) {
    *renamed = false;
    if (!wanted.empty() && !NameTaken(wanted)) return wanted;
    *renamed = true;
    for (unsigned n = 1;; ++n) {
      char suffix[16];
      std::snprintf(suffix, sizeof(suffix), "%04X", n);
      std::u16string candidate = wanted.empty() ? std::u16string() : wanted + u' ';
      const size_t room = MAX_FILTER_NAME - 1 - std::char_traits<char>::length(suffix);
      if (candidate.size() > room) candidate.resize(room);
      for (const char* p = suffix; *p; ++p) candidate.push_back(static_cast<char16_t>(*p));
      if (!NameTaken(candidate)) return candidate;
    }
  }

  static void DisconnectAll(IBaseFilter* filter) {
    for (const ComPtr<IPin>& pin : FilterPins(filter)) {
      if (ComPtr<IPin> peer = ConnectedPeer(pin.get())) {
        peer->Disconnect();
        pin->Disconnect();
      }
    }
  }

  // The filters in the order state changes reach them: every filter before the filters
  // upstream of it, so renderers go first and sources last.
  std::vector<ComPtr<IBaseFilter>> DownstreamFirst() const {
    const size_t n = filters_.size();
    std::vector<std::vector<size_t>> downstream(n);
    for (size_t i = 0; i < n; ++i) {
      for (const ComPtr<IPin>& pin : FilterPins(filters_[i].filter.get())) {
        PIN_DIRECTION dir{};
        if (!PinDirection(pin.get(), &dir) || dir != PINDIR_OUTPUT) continue;
        ComPtr<IBaseFilter> next = PinOwner(ConnectedPeer(pin.get()).get());
        for (size_t j = 0; j < n; ++j) {
          if (j != i && filters_[j].filter == next) downstream[i].push_back(j);
        }
      }
    }
    std::vector<ComPtr<IBaseFilter>> order;
    std::vector<bool> placed(n, false);
    while (order.size() < n) {
      bool progress = false;
      for (size_t i = 0; i < n; ++i) {
        if (placed[i]) continue;
        const bool ready = std::all_of(downstream[i].begin(), downstream[i].end(), [&](size_t j) { return placed[j]; });
        if (!ready) continue;
        placed[i] = true;
        order.push_back(filters_[i].filter);
        progress = true;
      }
      if (!progress) {  // a cycle: the rest in list order
        for (size_t i = 0; i < n; ++i) {
          if (!placed[i]) {
            placed[i] = true;
            order.push_back(filters_[i].filter);
          }
        }
      }
    }
    return order;
  }

  // The clock of the graph, made on first need unless the application chose "none".
  ComPtr<IReferenceClock> EnsureClock() {
    if (!clock_ && !clockChosen_) {
      ComPtr<IReferenceClock> clock;
      if (SUCCEEDED(CreateSystemClock(IID_IReferenceClock, clock.putVoid()))) {
        clock_ = clock;
        for (const Entry& e : filters_) e.filter->SetSyncSource(clock_.get());
      }
    }
    return clock_;
  }

  // Pause or Run every filter, renderers first. A filter that fails stops the whole graph
  // again and its result is returned.
  HRESULT ChangeState(FILTER_STATE target, REFERENCE_TIME start) {
    for (const ComPtr<IBaseFilter>& f : DownstreamFirst()) {
      const HRESULT hr = target == State_Running ? f->Run(start) : f->Pause();
      if (FAILED(hr)) {
        StopFilters();
        return hr;
      }
    }
    state_ = target;
    return S_OK;
  }

  HRESULT RunAt(REFERENCE_TIME start) {
    if (state_ == State_Stopped) {
      const HRESULT hr = ChangeState(State_Paused, 0);
      if (FAILED(hr)) return hr;
    }
    return ChangeState(State_Running, start);
  }

  // Stop every filter, renderers first; each filter's Stop returns once its streaming has
  // ended, so no sample is in flight afterwards. The first failure is reported.
  HRESULT StopFilters() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    HRESULT result = S_OK;
    for (const ComPtr<IBaseFilter>& f : DownstreamFirst()) {
      const HRESULT hr = f->Stop();
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    state_ = State_Stopped;
    return result;
  }

  static void FreeParams(const GraphEvent& e) {
    if (e.code == EC_OLE_EVENT) {
      SysFreeString(reinterpret_cast<BSTR>(e.param1));
      SysFreeString(reinterpret_cast<BSTR>(e.param2));
    }
  }

  std::recursive_mutex lock_;  // filters, connections, state and clock
  std::vector<Entry> filters_;
  FILTER_STATE state_ = State_Stopped;
  ComPtr<IReferenceClock> clock_;
  bool clockChosen_ = false;
  bool aborted_ = false;

  std::mutex eventLock_;
  std::condition_variable eventReady_;
  std::deque<GraphEvent> events_;
  LONG notifyFlags_ = 0;
  platform::Event eventHandle_;  // set while events wait, as GetEventHandle's handle
};

}  // namespace

HRESULT CreateFilterGraph(REFIID iid, void** ppv) { return HandOut(new FilterGraph, iid, ppv); }

}  // namespace media
