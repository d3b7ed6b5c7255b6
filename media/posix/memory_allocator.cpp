// The memory allocator on Linux: a fixed set of samples over one block, handed out by
// GetBuffer (waiting while all are in use) and coming back when their last reference goes.
// Decommit wakes every waiter; the memory is freed once the last sample is back.
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "media/posix/builtin_classes.h"
#include "media/posix/com_object.h"
#include "media/media_type.h"
#include "platform/exception_guard.h"

namespace media {
namespace {

class MemoryAllocator;

class MediaSample final : public RuntimeObject, public IMediaSample {
 public:
  MediaSample(MemoryAllocator* owner, BYTE* buffer, LONG size) : owner_(owner), buffer_(buffer), size_(size) {}
  ~MediaSample() override { ClearProperties(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    return AnswerQuery(InterfaceIf<IMediaSample>(this, iid, {&IID_IUnknown, &IID_IMediaSample}), ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1) + 1; }
  // The last reference returns the sample to its allocator.
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override {
    if (!buffer) return E_POINTER;
    *buffer = buffer_;
    return S_OK;
  }
  LONG STDMETHODCALLTYPE GetSize() override { return size_; }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override {
    if (!start || !end) return E_POINTER;
    if (!hasStart_) return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = start_;
    if (!hasEnd_) {
      *end = start_ + 1;
      return VFW_S_NO_STOP_TIME;
    }
    *end = end_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override {
    hasStart_ = start != nullptr;
    hasEnd_ = start != nullptr && end != nullptr;
    start_ = start ? *start : 0;
    end_ = end ? *end : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return syncPoint_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL value) override {
    syncPoint_ = value != FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsPreroll() override { return preroll_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetPreroll(BOOL value) override {
    preroll_ = value != FALSE;
    return S_OK;
  }
  LONG STDMETHODCALLTYPE GetActualDataLength() override { return length_; }
  HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) override {
    if (length < 0 || length > size_) return VFW_E_BUFFER_OVERFLOW;
    length_ = length;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** type) override {
    if (!type) return E_POINTER;
    *type = nullptr;
    if (!mediaType_) return S_FALSE;
    *type = CreateMediaType(mediaType_.get());
    return *type ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE* type) override {
    if (!type) {
      mediaType_.reset();
      return S_OK;
    }
    UniqueMediaType copy = UniqueMediaType::Copy(*type);
    if (!copy) return E_OUTOFMEMORY;
    mediaType_ = std::move(copy);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return discontinuity_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL value) override {
    discontinuity_ = value != FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* start, LONGLONG* end) override {
    if (!start || !end) return E_POINTER;
    if (!hasMediaTime_) return VFW_E_MEDIA_TIME_NOT_SET;
    *start = mediaStart_;
    *end = mediaEnd_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* start, LONGLONG* end) override {
    if (!start || !end) {
      hasMediaTime_ = false;
      return S_OK;
    }
    hasMediaTime_ = true;
    mediaStart_ = *start;
    mediaEnd_ = *end;
    return S_OK;
  }

  // Back to a fresh sample before it is handed out again.
  void ClearProperties() {
    hasStart_ = hasEnd_ = hasMediaTime_ = false;
    syncPoint_ = preroll_ = discontinuity_ = false;
    length_ = 0;
    mediaType_.reset();
  }
  void Lend() { refs_.store(1); }

 private:
  MemoryAllocator* owner_;
  BYTE* buffer_;
  LONG size_;
  std::atomic<ULONG> refs_{0};
  bool hasStart_ = false;
  bool hasEnd_ = false;
  bool hasMediaTime_ = false;
  bool syncPoint_ = false;
  bool preroll_ = false;
  bool discontinuity_ = false;
  REFERENCE_TIME start_ = 0;
  REFERENCE_TIME end_ = 0;
  LONGLONG mediaStart_ = 0;
  LONGLONG mediaEnd_ = 0;
  LONG length_ = 0;
  UniqueMediaType mediaType_;
};

class MemoryAllocator final : public RuntimeComObject<IMemAllocator> {
 public:
  ~MemoryAllocator() override {
    committed_ = false;  // no sample is out: each holds a reference
    FreeMemory();
  }

  HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
    if (!request || !actual) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    if (committed_) return VFW_E_ALREADY_COMMITTED;
    if (outstanding_ > 0 || !samples_.empty()) return VFW_E_BUFFERS_OUTSTANDING;
    const LONG align = request->cbAlign;
    if (align <= 0 || (align & (align - 1)) != 0) return VFW_E_BADALIGN;
    if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0) return E_INVALIDARG;
    // Each buffer's prefix plus data is a whole number of alignment units.
    const long long unit = static_cast<long long>(request->cbBuffer) + request->cbPrefix;
    const long long rounded = (unit + align - 1) / align * align;
    if (rounded - request->cbPrefix > 0x7FFFFFFF) return E_OUTOFMEMORY;
    props_ = *request;
    props_.cbBuffer = static_cast<LONG>(rounded - request->cbPrefix);
    propsSet_ = true;
    *actual = props_;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* props) override {
    if (!props) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    *props = props_;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Commit() override {
    return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
      std::lock_guard<std::mutex> hold(lock_);
      if (committed_) return S_OK;
      if (!propsSet_ || props_.cBuffers <= 0 || props_.cbBuffer <= 0) return VFW_E_SIZENOTSET;
      if (samples_.empty()) {
        const size_t stride = static_cast<size_t>(props_.cbBuffer) + props_.cbPrefix;
        const size_t total = stride * static_cast<size_t>(props_.cBuffers);
        const size_t align = props_.cbAlign < 16 ? 16 : static_cast<size_t>(props_.cbAlign);
        memory_.reset(static_cast<BYTE*>(std::aligned_alloc(align, (total + align - 1) / align * align)));
        if (!memory_) return E_OUTOFMEMORY;
        for (LONG i = 0; i < props_.cBuffers; ++i) {
          auto* s = new MediaSample(this, memory_.get() + i * stride + props_.cbPrefix, props_.cbBuffer);
          samples_.push_back(s);
          free_.push_back(s);
        }
      }
      committed_ = true;
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE Decommit() override {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!committed_) return S_OK;
      committed_ = false;
      sampleFree_.notify_all();
    }
    FreeMemory();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** out, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                      DWORD flags) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    MediaSample* sample = nullptr;
    {
      std::unique_lock<std::mutex> hold(lock_);
      for (;;) {
        if (!committed_) return VFW_E_NOT_COMMITTED;
        if (!free_.empty()) break;
        if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
        sampleFree_.wait(hold);
      }
      sample = free_.back();
      free_.pop_back();
      ++outstanding_;
    }
    AddRef();  // a sample out keeps its allocator
    sample->Lend();
    sample->SetTime(start, end);
    *out = sample;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* buffer) override {
    if (!buffer) return E_POINTER;
    auto* sample = static_cast<MediaSample*>(buffer);
    {
      std::lock_guard<std::mutex> hold(lock_);
      bool ours = false;
      for (MediaSample* s : samples_) ours = ours || s == sample;
      if (!ours) return E_INVALIDARG;
      sample->ClearProperties();
      free_.push_back(sample);
      --outstanding_;
      sampleFree_.notify_one();
    }
    if (!IsCommitted()) FreeMemory();
    Release();  // the reference GetBuffer took
    return S_OK;
  }

 private:
  struct FreeDeleter {
    void operator()(BYTE* p) const { std::free(p); }
  };

  void* InterfaceFor(REFIID iid) override {
    if (iid == IID_IUnknown || iid == IID_IMemAllocator) return static_cast<IMemAllocator*>(this);
    return nullptr;
  }

  bool IsCommitted() {
    std::lock_guard<std::mutex> hold(lock_);
    return committed_;
  }

  // Drops the samples and their memory once none is out and the allocator is decommitted.
  void FreeMemory() {
    std::vector<MediaSample*> samples;
    std::unique_ptr<BYTE, FreeDeleter> memory;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (committed_ || outstanding_ > 0) return;
      samples.swap(samples_);
      free_.clear();
      memory = std::move(memory_);
    }
    for (MediaSample* s : samples) delete s;
  }

  std::mutex lock_;
  std::condition_variable sampleFree_;
  ALLOCATOR_PROPERTIES props_{0, 0, 1, 0};
  bool propsSet_ = false;
  bool committed_ = false;
  int outstanding_ = 0;
  std::vector<MediaSample*> samples_;
  std::vector<MediaSample*> free_;
  std::unique_ptr<BYTE, FreeDeleter> memory_;
};

ULONG STDMETHODCALLTYPE MediaSample::Release() {
  const ULONG left = refs_.fetch_sub(1) - 1;
  if (left == 0) owner_->ReleaseBuffer(this);
  return left;
}

}  // namespace

HRESULT CreateMemoryAllocator(REFIID iid, void** ppv) { return HandOut(new MemoryAllocator, iid, ppv); }

}  // namespace media
