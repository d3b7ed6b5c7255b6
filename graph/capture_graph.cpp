// The capture graph of the render-graph object: camera, optional MJPEG decoder and the
// "VD Render" renderer that hands every sample to the frame pipeline; building, starting,
// stopping and tearing it down, and the diagnostic registration and graph file.
#include "graph/capture_graph.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "graph/capture_devices.h"
#include "graph/capture_format.h"
#include "graph/diagnostics.h"
#include "media/vd_filters.h"
#include "platform/exception_guard.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace {

constexpr DWORD kGraphContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr uint32_t kDecoderControlValue = 4;

static_assert(sizeof(BITMAPINFOHEADER) == sizeof(BitmapInfoHeader));


// Releases what `field` holds and nulls it, even when the release throws.
template <typename T>
void ReleaseField(media::ComPtr<T>& field) {
  T* held = field.detach();
  if (held) platform::GuardedVoid([&] { held->Release(); });
}

// Stops every filter of `graph` itself. Wine's filter graph leaves the filters that paused
// paused when another fails to pause in Run, and its Stop does nothing while its own state
// never left stopped; a paused filter refuses to disconnect, and Wine's graph, when released,
// retries removing such a filter forever. A filter already stopped ignores the call.
void StopEveryFilter(IGraphBuilder* graph) {
  if (!graph) return;
  media::ComPtr<IEnumFilters> filters;
  if (FAILED(graph->EnumFilters(filters.put())) || !filters) return;
  for (;;) {
    media::ComPtr<IBaseFilter> filter;
    if (filters->Next(1, filter.put(), nullptr) != S_OK || !filter) return;
    filter->Stop();
  }
}

}  // namespace

// ---- pins and filters ----

media::ComPtr<IGraphBuilder> GetFilterGraphBuilder(IBaseFilter* filter) {
  media::ComPtr<IGraphBuilder> builder;
  if (!filter) return builder;
  FILTER_INFO info{};
  if (FAILED(filter->QueryFilterInfo(&info))) return builder;
  if (info.pGraph) {
    info.pGraph->QueryInterface(IID_IGraphBuilder, builder.putVoid());
    info.pGraph->Release();
  }
  return builder;
}

HRESULT ConnectPinToFilter(IPin* outputPin, IBaseFilter* filter) {
  if (!outputPin || !filter) return E_INVALIDARG;
  media::ComPtr<IGraphBuilder> graph = GetFilterGraphBuilder(filter);
  if (!graph) return E_FAIL;
  media::ComPtr<IEnumPins> pins;
  const HRESULT hr = filter->EnumPins(pins.put());
  if (FAILED(hr)) return hr;
  if (!pins) return E_FAIL;
  for (;;) {
    media::ComPtr<IPin> pin;
    if (pins->Next(1, pin.put(), nullptr) != S_OK || !pin) break;
    PIN_DIRECTION direction;
    if (FAILED(pin->QueryDirection(&direction)) || direction == PINDIR_OUTPUT) continue;
    if (SUCCEEDED(graph->ConnectDirect(outputPin, pin.get(), nullptr))) return S_OK;
  }
  return E_FAIL;
}

int FindPinByDirection(IBaseFilter* filter, IPin** pin, PIN_DIRECTION direction) {
  if (!pin) return 0;
  *pin = nullptr;
  if (!filter) return 0;
  media::ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.put())) || !pins) return 0;
  pins->Reset();
  for (;;) {
    media::ComPtr<IPin> candidate;
    if (pins->Next(1, candidate.put(), nullptr) != S_OK || !candidate) return 0;
    PIN_DIRECTION d;
    if (SUCCEEDED(candidate->QueryDirection(&d)) && d == direction) {
      *pin = candidate.detach();
      return 1;
    }
  }
}

void RemoveFilterFromGraph(IBaseFilter* filter, IGraphBuilder* graph) {
  if (!filter || !graph) return;
  media::ComPtr<IEnumPins> pins;
  if (SUCCEEDED(filter->EnumPins(pins.put())) && pins) {
    for (;;) {
      media::ComPtr<IPin> pin;
      if (pins->Next(1, pin.put(), nullptr) != S_OK || !pin) break;
      media::ComPtr<IPin> peer;
      if (SUCCEEDED(pin->ConnectedTo(peer.put())) && peer) {
        graph->Disconnect(pin.get());
        graph->Disconnect(peer.get());
      }
    }
  }
  graph->RemoveFilter(filter);
}

void RemoveDownstreamFilters(IGraphBuilder* graph, IBaseFilter* filter) {
  if (!graph || !filter) return;
  media::ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.put())) || !pins) return;
  pins->Reset();
  for (;;) {
    media::ComPtr<IPin> pin;
    if (pins->Next(1, pin.put(), nullptr) != S_OK || !pin) return;
    media::ComPtr<IPin> peer;
    if (FAILED(pin->ConnectedTo(peer.put())) || !peer) continue;
    PIN_INFO info{};
    if (FAILED(peer->QueryPinInfo(&info))) return;
    // Takes the reference QueryPinInfo added.
    media::ComPtr<IBaseFilter> downstream = media::ComPtr<IBaseFilter>::Attach(info.pFilter);
    if (info.dir != PINDIR_INPUT || !downstream) continue;
    RemoveDownstreamFilters(graph, downstream.get());
    graph->Disconnect(peer.get());
    graph->Disconnect(pin.get());
    graph->RemoveFilter(downstream.get());
  }
}

namespace {

// Disconnects `filter`'s input pins and removes every filter upstream of them, up to `source`,
// which stays.
void RemoveUpstreamFilters(IGraphBuilder* graph, IBaseFilter* filter, IBaseFilter* source, int depth = 0) {
  if (!graph || !filter) return;
  media::ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.put())) || !pins) return;
  for (;;) {
    media::ComPtr<IPin> pin;
    if (pins->Next(1, pin.put(), nullptr) != S_OK || !pin) return;
    PIN_DIRECTION direction;
    media::ComPtr<IPin> peer;
    if (FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_INPUT) continue;
    if (FAILED(pin->ConnectedTo(peer.put())) || !peer) continue;
    PIN_INFO info{};
    if (FAILED(peer->QueryPinInfo(&info))) continue;
    media::ComPtr<IBaseFilter> upstream = media::ComPtr<IBaseFilter>::Attach(info.pFilter);
    if (upstream && upstream.get() != source && depth < 16) {
      RemoveUpstreamFilters(graph, upstream.get(), source, depth + 1);
      RemoveFilterFromGraph(upstream.get(), graph);
    } else {
      graph->Disconnect(peer.get());
      graph->Disconnect(pin.get());
    }
  }
}

// False when the renderer's input is connected in a format the frame pipeline cannot take
// (or with no video header to describe the frames to it).
bool RendererFramesConvert(IBaseFilter* renderer) {
  media::ComPtr<IPin> input;
  if (!FindPinByDirection(renderer, input.put(), PINDIR_INPUT)) return true;
  AM_MEDIA_TYPE type{};
  if (FAILED(input->ConnectionMediaType(&type))) return true;  // not connected: nothing arrives
  const BITMAPINFOHEADER* header = media::VideoBitmapHeader(type);
  const bool converts =
      header && FramePipeline::ConvertsFrames(*reinterpret_cast<const BitmapInfoHeader*>(header));
  if (!converts) {
    LogMessage("VD Render connected with frames that cannot be converted!  biCompression=0x%x",
               header ? static_cast<unsigned>(header->biCompression) : 0u);
  }
  FreeMediaType(type);
  return converts;
}

}  // namespace

// ---- running object table and graph file ----

HRESULT AddGraphToRot(IUnknown* graph, DWORD* cookie) {
  if (!graph || !cookie) return E_POINTER;
  media::ComPtr<IRunningObjectTable> rot;
  if (FAILED(GetRunningObjectTable(0, rot.put())) || !rot) return E_FAIL;
  // The address with as many digits as a pointer has: 8 on 32-bit Windows, 16 on x86-64.
  constexpr int kAddressDigits = static_cast<int>(sizeof(uintptr_t) * 2);
  char name[64];
  std::snprintf(name, sizeof name, "FilterGraph %0*" PRIxPTR " pid %08x", kAddressDigits,
                reinterpret_cast<uintptr_t>(graph), static_cast<unsigned>(platform::CurrentProcessId()));
  const std::u16string wide = platform::Utf8ToUtf16(name);
  media::ComPtr<IMoniker> moniker;
  HRESULT hr = CreateItemMoniker(OLESTR("!"), media::AsOle(wide.c_str()), moniker.put());
  if (FAILED(hr)) return hr;
  return rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph, moniker.get(), cookie);
}

void RemoveGraphFromRot(DWORD cookie) {
  media::ComPtr<IRunningObjectTable> rot;
  if (SUCCEEDED(GetRunningObjectTable(0, rot.put())) && rot) rot->Revoke(cookie);
}

int SaveGraphFile(const char16_t* path, IGraphBuilder* graph) {
  if (!graph || !path) return 0;
  const DWORD mode = STGM_TRANSACTED | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
  media::ComPtr<IStorage> storage;
  HRESULT hr = StgOpenStorage(media::AsOle(path), nullptr, mode, nullptr, 0, storage.put());
  if (hr == STG_E_FILENOTFOUND) hr = StgCreateDocfile(media::AsOle(path), mode | STGM_CREATE, 0, storage.put());
  if (FAILED(hr) || !storage) return 0;
  media::ComPtr<IStream> stream;
  hr = storage->CreateStream(OLESTR("ActiveMovieGraph"), STGM_WRITE | STGM_CREATE | STGM_SHARE_EXCLUSIVE,
                             0, 0, stream.put());
  if (FAILED(hr) || !stream) return 0;
  media::ComPtr<IPersistStream> persist;
  if (FAILED(graph->QueryInterface(IID_IPersistStream, persist.putVoid())) || !persist) return 0;
  if (FAILED(persist->Save(stream.get(), TRUE))) return 0;
  return SUCCEEDED(storage->Commit(0 /* STGC_DEFAULT */)) ? 1 : 0;
}

// ---- the object's graph ----

DeviceAllowList CVDRendGraphImpl::AllowList() const { return {allowListEnabled, &allowList}; }

HResult CVDRendGraphImpl::GetCaptureDevice(IBaseFilter** filter) {
  return ::GetCaptureDevice(AllowList(), filter);
}

HResult CVDRendGraphImpl::AddMjpegDecoder() {
  if (!graph) return E_FAIL;
  decoderFilter.reset();
  HRESULT hr = CoCreateInstance(vd::kClsidMjpegDecoder, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IBaseFilter, decoderFilter.putVoid());
  if (FAILED(hr) || !decoderFilter) {
    decoderFilter.reset();
    hr = CoCreateInstance(vd::kClsidMjpegDecoder2, nullptr, CLSCTX_INPROC_SERVER,
                          IID_IBaseFilter, decoderFilter.putVoid());
    if (FAILED(hr)) return hr;
    if (!decoderFilter) return E_FAIL;
  }
  hr = graph->AddFilter(decoderFilter.get(), OLESTR("Quillon MJPEG Decoder"));
  if (FAILED(hr)) return hr;
  media::ComPtr<IMjpegDecoderControl> control;
  hr = decoderFilter->QueryInterface(vd::kIidMjpegDecoderControl, control.putVoid());
  if (FAILED(hr) || !control) {
    control.reset();
    hr = decoderFilter->QueryInterface(vd::kIidMjpegDecoderControl2, control.putVoid());
    if (FAILED(hr)) return hr;
    if (!control) return E_NOINTERFACE;
  }
  return control->SetOption(kDecoderControlValue);
}

HResult CVDRendGraphImpl::RenderCaptureStream(uint32_t width, uint32_t height, int32_t allowExplicit) {
  if (!captureBuilder) return E_FAIL;
  // The builder's FindInterface and FindPin need a source (Wine's dereference it).
  if (!captureFilter) return E_POINTER;
  int32_t isMjpg = 0;
  media::ComPtr<IAMStreamConfig> config;
  HRESULT r = captureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, captureFilter.get(),
                                            IID_IAMStreamConfig, config.putVoid());
  if (SUCCEEDED(r) && config) {
    r = SetCaptureFormat(config.get(), static_cast<int32_t>(width), static_cast<int32_t>(height),
                         frameInterval, &isMjpg);
  }
  config.reset();
  if (allowExplicit) {
    media::ComPtr<IPin> cameraPin;
    HRESULT found = captureBuilder->FindPin(captureFilter.get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE,
                                            &MEDIATYPE_Video, TRUE, 0, cameraPin.put());
    if (FAILED(found) || !cameraPin) {
      cameraPin.reset();
      found = captureBuilder->FindPin(captureFilter.get(), PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW,
                                      &MEDIATYPE_Video, TRUE, 0, cameraPin.put());
    }
    if (SUCCEEDED(found) && cameraPin) {
      if (isMjpg) {
        r = AddMjpegDecoder();
        if (SUCCEEDED(r)) r = ConnectPinToFilter(cameraPin.get(), decoderFilter.get());
        if (SUCCEEDED(r)) {
          media::ComPtr<IPin> decoded;
          if (FindPinByDirection(decoderFilter.get(), decoded.put(), PINDIR_OUTPUT)) {
            r = ConnectPinToFilter(decoded.get(), renderFilter.get());
          } else {
            RemoveFilterFromGraph(decoderFilter.get(), graph.get());
            r = E_FAIL;
          }
        }
      } else {
        r = ConnectPinToFilter(cameraPin.get(), renderFilter.get());
      }
      if (SUCCEEDED(r)) return r;
    }
  } else if (SUCCEEDED(r)) {
    return r;
  }
  r = captureBuilder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Interleaved, captureFilter.get(),
                                   nullptr, renderFilter.get());
  if (FAILED(r)) {
    r = captureBuilder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, captureFilter.get(),
                                     nullptr, renderFilter.get());
  }
  // The builder may have connected the renderer through a Smart Tee in the camera's own
  // format; frames the pipeline would drop make no graph.
  if (SUCCEEDED(r) && renderFilter && !RendererFramesConvert(renderFilter.get())) {
    RemoveUpstreamFilters(graph.get(), renderFilter.get(), captureFilter.get());
    r = E_FAIL;
  }
  return r;
}

HResult CVDRendGraphImpl::BuildGraph(uint32_t width, uint32_t height) {
  if (captureGraph) return captureGraph->BuildGraph(*this, width, height);
  StopGraph();
  HRESULT hr = S_OK;
  {
    std::lock_guard lock(graphLock);
    hr = ConstructGraph(width, height);
  }
  rotCookie = 0;
  if (FAILED(hr) || !IsLogEnabled()) return hr;
  DWORD cookie = 0;
  const HRESULT registered = AddGraphToRot(graph.get(), &cookie);
  LogMessage("AddGraphToRot!  hr=0x%x", static_cast<unsigned>(registered));
  if (FAILED(registered)) {
    LogMessage("Failed to register filter graph with ROT!  hr=0x%x", static_cast<unsigned>(registered));
    cookie = 0;
  }
  rotCookie = cookie;
  SaveGraphFile(graphFilePath, graph.get());
  return registered;
}

// The construction steps under the graph lock; the first failure ends them.
HResult CVDRendGraphImpl::ConstructGraph(uint32_t width, uint32_t height) {
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, kGraphContext, IID_IGraphBuilder, graph.putVoid());
  if (FAILED(hr)) {
    LogMessage("Couldn't create IGraphBuilder!  hr=0x%x", static_cast<unsigned>(hr));
    return hr;
  }
  hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, kGraphContext, IID_ICaptureGraphBuilder2,
                        captureBuilder.putVoid());
  if (FAILED(hr)) {
    LogMessage("Couldn't create ICaptureGraphBuilder2!  hr=0x%x", static_cast<unsigned>(hr));
    return hr;
  }
  hr = captureBuilder->SetFiltergraph(graph.get());
  if (FAILED(hr)) {
    LogMessage("Couldn't SetFiltergraph!  hr=0x%x", static_cast<unsigned>(hr));
    return hr;
  }
  hr = GetCaptureDevice(captureFilter.put());
  if (FAILED(hr)) {
    LogMessage("Failed to get capture device!  hr=0x%x", static_cast<unsigned>(hr));
    return hr;
  }
  hr = CoCreateInstance(vd::kClsidVDRender, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, renderFilter.putVoid());
  if (FAILED(hr)) {
    LogMessage("Failed to create VDRender!  hr=0x%x", static_cast<unsigned>(hr));
    return hr;
  }
  hr = graph->AddFilter(captureFilter.get(), OLESTR("Video Capture"));
  if (FAILED(hr)) {
    LogMessage("Failed to add Video Capture to graph!  hr=0x%x", static_cast<unsigned>(hr));
    return hr;
  }
  hr = graph->AddFilter(renderFilter.get(), OLESTR("VD Render"));
  if (FAILED(hr)) {
    LogMessage("Failed to add VD Render to graph!  hr=0x%x", static_cast<unsigned>(hr));
    return hr;
  }
  hr = RenderCaptureStream(width, height, 1);
  if (FAILED(hr)) {
    LogMessage("Couldn't render the video capture stream.  hr=0x%x\r\nThe capture device may already be in "
               "use by another application.\r\n\r\nThe sample will now close.",
               static_cast<unsigned>(hr));
    return hr;
  }
  {
    media::ComPtr<IVDRenderCallback> callback;
    if (SUCCEEDED(renderFilter->QueryInterface(vd::kIidVDRenderCallback, callback.putVoid())) && callback) {
      // The same arguments and calling convention: the pipeline takes the samples itself.
      callback->SetCallback(reinterpret_cast<VDSampleCallback>(&FramePipeline::SampleCallback), &pipeline);
    }
  }
  // The output buffer cannot hold a frame this large: nothing could be delivered.
  hr = pipeline.PrepareOutputFormat(width, height);
  if (FAILED(hr)) return hr;
  media::ComPtr<IMediaControl> control;
  hr = graph->QueryInterface(IID_IMediaControl, control.putVoid());
  if (FAILED(hr) || !control) return FAILED(hr) ? hr : E_NOINTERFACE;
  hr = control->Run();
  if (FAILED(hr)) {
    control->Stop();
    return hr;
  }
  graph->QueryInterface(IID_IMediaEvent, mediaEvent.putVoid());
  media::ComPtr<IKsObject> ksObject;
  hr = captureFilter->QueryInterface(IID_IKsObject, ksObject.putVoid());
  if (SUCCEEDED(hr) && ksObject) {
    vcam.OruVCapSetDevicePinObj(reinterpret_cast<uintptr_t>(ksObject->KsGetObjectHandle()));
  }
  return hr;
}

HResult CVDRendGraphImpl::StopRunningGraph() {
  if (!graph) return S_OK;
  HRESULT hr = S_OK;
  media::ComPtr<IMediaControl> control;
  if (SUCCEEDED(graph->QueryInterface(IID_IMediaControl, control.putVoid())) && control) {
    hr = control->Stop();
    control.reset();
    if (SUCCEEDED(hr)) AbortFramePlugin();
  }
  frameInterval = kDefaultFrameInterval;
  return hr;
}

void CVDRendGraphImpl::TearDownGraph() {
  if (rotCookie != 0) {
    RemoveGraphFromRot(rotCookie);
    rotCookie = 0;
  }
  StopRunningGraph();
  platform::GuardedVoid([&] { StopEveryFilter(graph.get()); });
  renderFilter.reset();
  mediaEvent.reset();
  platform::GuardedVoid([&] { RemoveDownstreamFilters(graph.get(), captureFilter.get()); });
  ReleaseField(graph);
  ReleaseField(captureBuilder);
  captureFilter.reset();
  decoderFilter.reset();
  currentResolution.store(0);
}

void CVDRendGraphImpl::StopGraph() {
  if (captureGraph) {
    captureGraph->StopGraph(*this);
    return;
  }
  std::lock_guard lock(graphLock);
  vcam.OruVCapSetDevicePinObj(0);
  TearDownGraph();
}

uint32_t CVDRendGraphImpl::QueryPhysicalDeviceStatus() {
  if (captureGraph) return captureGraph->QueryPhysicalDeviceStatus(*this);
  std::lock_guard lock(graphLock);
  uint32_t status = 0;
  const bool completed = platform::GuardedVoid([&] {
    media::ComPtr<IBaseFilter> filter;
    const HRESULT hr = graph ? graph->FindFilterByName(OLESTR("Video Capture"), filter.put())
                             : GetCaptureDevice(filter.put());
    status = SUCCEEDED(hr) && filter ? 1 : 0;
    LogMessage("Physical device status: %u!", status);
  });
  if (!completed) LogMessage("Exception happened when query physical device status!");
  return status;
}
