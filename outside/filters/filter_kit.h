// A small DirectShow filter kit for the stand-in filters: a base filter with state handling
// and JoinFilterGraph, pins with connection negotiation (ConnectDirect without a media type
// included), pin and media-type enumerators, output pins that agree an allocator with the
// downstream IMemInputPin, input pins with IMemInputPin::Receive, and a class factory.
// Every COM method that can throw runs under platform::Guarded: no exception leaves one.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "media/com_object.h"
#include "media/com_ptr.h"
#include "media/dshow.h"
#include "media/media_type.h"

namespace filters {

template <typename T>
using Ref = media::ComPtr<T>;

// The BITMAPINFOHEADER of a FORMAT_VideoInfo or FORMAT_VideoInfo2 block, or null.
inline const BITMAPINFOHEADER* VideoHeader(const AM_MEDIA_TYPE& type) {
  return media::VideoBitmapHeader(type);
}
// Whether `partial` (GUID_NULL fields match anything) admits `type`.
bool MatchesPartialType(const AM_MEDIA_TYPE* partial, const AM_MEDIA_TYPE& type);

// An owned media type.
class MediaType {
 public:
  MediaType() { Zero(); }
  ~MediaType() { FreeMediaType(mt_); }
  MediaType(const MediaType&) = delete;
  MediaType& operator=(const MediaType&) = delete;
  HRESULT Set(const AM_MEDIA_TYPE& src) {
    AM_MEDIA_TYPE copy;
    const HRESULT hr = CopyMediaType(&copy, &src);
    if (FAILED(hr)) return hr;
    FreeMediaType(mt_);
    mt_ = copy;
    return S_OK;
  }
  void Clear() {
    FreeMediaType(mt_);
    Zero();
  }
  const AM_MEDIA_TYPE& get() const { return mt_; }
  AM_MEDIA_TYPE* ptr() { return &mt_; }

 private:
  void Zero();
  AM_MEDIA_TYPE mt_;
};

class KitFilter;

class KitPin : public IPin {
 public:
  KitPin(KitFilter* filter, PIN_DIRECTION direction, const OLECHAR* name);
  virtual ~KitPin();
  KitPin(const KitPin&) = delete;
  KitPin& operator=(const KitPin&) = delete;

  // IUnknown: the pin lives as long as its filter.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
  HRESULT STDMETHODCALLTYPE EndOfStream() override;
  HRESULT STDMETHODCALLTYPE BeginFlush() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                       double rate) override;

  // What the pin accepts and offers.
  virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) = 0;
  // Type `index` the pin proposes: S_OK, or VFW_S_NO_MORE_ITEMS past the last.
  virtual HRESULT GetMediaType(int index, AM_MEDIA_TYPE* type);
  // Further interfaces of the pin (IMemInputPin, IKsPropertySet, ...): the pointer, or null.
  virtual void* FindExtra(REFIID riid);

  // Filter state changes, under the filter lock.
  virtual HRESULT Active() { return S_OK; }
  virtual void Inactive() {}

  bool IsConnected() const { return peer_.get() != nullptr; }
  PIN_DIRECTION Direction() const { return direction_; }
  IPin* Peer() const { return peer_.get(); }
  const AM_MEDIA_TYPE& Type() const { return type_.get(); }
  const std::u16string& Name() const { return name_; }
  KitFilter* Filter() const { return filter_; }

 protected:
  // After the peer accepted the connection (output side: allocator agreement). A failure
  // undoes it.
  virtual HRESULT CompleteConnect(IPin* peer);
  virtual void BreakConnect() {}
  HRESULT TryConnect(IPin* receivePin, const AM_MEDIA_TYPE& type);

  KitFilter* const filter_;
  const PIN_DIRECTION direction_;
  std::u16string name_;
  Ref<IPin> peer_;
  MediaType type_;
};

class KitOutputPin : public KitPin {
 public:
  KitOutputPin(KitFilter* filter, const OLECHAR* name) : KitPin(filter, PINDIR_OUTPUT, name) {}

  HRESULT Active() override;
  void Inactive() override;

  // A free sample of the agreed allocator; blocks while every buffer is in use; fails once
  // the allocator is decommitted.
  HRESULT GetDeliveryBuffer(IMediaSample** sample);
  // Hands a sample to the connected input pin (IMemInputPin::Receive).
  HRESULT Deliver(IMediaSample* sample);
  HRESULT DeliverEndOfStream();

 protected:
  // Buffer count and size to ask of the allocator.
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  HRESULT CompleteConnect(IPin* peer) override;
  void BreakConnect() override;

 private:
  HRESULT TryAllocator(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& inputRequest);

  Ref<IMemInputPin> input_;
  Ref<IMemAllocator> allocator_;
};

class KitInputPin : public KitPin, public IMemInputPin {
 public:
  KitInputPin(KitFilter* filter, const OLECHAR* name) : KitPin(filter, PINDIR_INPUT, name) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return KitPin::QueryInterface(riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return KitPin::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return KitPin::Release(); }

  // IMemInputPin
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, LONG count,
                                            LONG* processed) override;
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

  void* FindExtra(REFIID riid) override;

 protected:
  // One sample, on the upstream filter's streaming thread.
  virtual HRESULT OnReceive(IMediaSample* sample) = 0;
  void BreakConnect() override;

 private:
  std::mutex allocatorLock_;
  Ref<IMemAllocator> allocator_;
};

class KitFilter : public media::ComObject<IBaseFilter> {
 public:
  KitFilter(const CLSID& clsid, std::string recordName);
  ~KitFilter() override;

  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
  // IMediaFilter
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;

  virtual int PinCount() = 0;
  virtual KitPin* PinAt(int index) = 0;

  FILTER_STATE State() const { return state_.load(); }
  // The graph the filter was added to (not referenced), or null.
  IFilterGraph* Graph() const { return graph_; }
  // Sends an event to the graph's IMediaEventSink; false outside a graph.
  bool NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);
  const std::string& RecordName() const { return recordName_; }
  void RecordCall(const std::string& what) const;

  std::recursive_mutex& Lock() { return lock_; }

 protected:
  // Further interfaces of the filter: the pointer, or null.
  virtual void* FindExtra(REFIID riid);
  void* InterfaceFor(REFIID riid) override;
  // Transitions, under the filter lock, after (Pause/Run) or before (Stop) the pins'.
  virtual HRESULT OnPause(FILTER_STATE from) {
    (void)from;
    return S_OK;
  }
  virtual HRESULT OnRun(REFERENCE_TIME start) {
    (void)start;
    return S_OK;
  }
  virtual void OnStop() {}
  // A live source answers VFW_S_CANT_CUE from GetState while paused (Pause itself: S_OK).
  virtual bool IsLiveSource() const { return false; }

  std::string recordName_;

 private:
  const CLSID clsid_;
  std::recursive_mutex lock_;
  std::mutex sinkLock_;
  std::atomic<FILTER_STATE> state_{State_Stopped};
  IFilterGraph* graph_ = nullptr;
  IMediaEventSink* sink_ = nullptr;
  std::u16string name_;
  Ref<IReferenceClock> clock_;
};

// The factory behind DllGetClassObject: `create` makes an object and hands it out.
HRESULT GetClassFactory(media::CreateInstanceFn create, REFIID riid, void** object);

// The answers of DllCanUnloadNow.
HRESULT CanUnloadNow();

// Counts the object for the module's live-object count and DllCanUnloadNow.
class ObjectCounter {
 public:
  ObjectCounter();
  ~ObjectCounter();
  ObjectCounter(const ObjectCounter&) = delete;
  ObjectCounter& operator=(const ObjectCounter&) = delete;
};

// OLECHAR text to UTF-8 and back.
std::string Narrow(const OLECHAR* text);
std::u16string Wide(const OLECHAR* text);

}  // namespace filters
