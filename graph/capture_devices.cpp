// Capture device discovery: walks the video input category of the system device enumerator
// and keeps the devices that can be shared, in the enumerator's order.
#include "graph/capture_devices.h"

#include <string>

#include "graph/diagnostics.h"
#include "platform/exception_guard.h"
#include "platform/text.h"

namespace {

constexpr const char16_t* kOwnVirtualDevices[] = {
    u"Quillon Virtual Camera Driver",
    u"Lumen-x Virtual Capture",
    u"Quillon Velmora",
};

char16_t Fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

// The moniker's display name, cut to the device path's length; empty when it cannot be had.
void ReadDevicePath(IMoniker* moniker, char16_t* path) {
  LPOLESTR name = nullptr;
  path[0] = u'\0';
  if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &name)) && name) {
    platform::CopyCut(path, kDevicePathChars, media::AsUtf16(name));
  }
  CoTaskMemFree(name);
}

// "FriendlyName" from the moniker's property bag; empty when there is none.
void ReadDeviceFriendlyName(IMoniker* moniker, char16_t* friendly) {
  media::ComPtr<IPropertyBag> bag;
  if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid()))) bag.reset();
  ReadFriendlyName(bag.get(), friendly);
}

}  // namespace

void ReadFriendlyName(IPropertyBag* bag, char16_t* friendly) {
  friendly[0] = u'\0';
  if (!bag) return;
  VARIANT value;
  VariantInit(&value);  // sets vt only: the string slot is whatever the stack held
  value.vt = VT_BSTR;
  value.bstrVal = nullptr;  // a bag that fails leaves it, and VariantClear frees it
  if (SUCCEEDED(bag->Read(OLESTR("FriendlyName"), &value, nullptr)) && value.vt == VT_BSTR &&
      value.bstrVal) {
    platform::CopyCut(friendly, kDevicePathChars, media::AsUtf16(value.bstrVal));
  }
  VariantClear(&value);
}

bool ContainsIgnoreCase(const char16_t* text, const char16_t* part) {
  if (!text || !part) return false;
  if (!*part) return true;
  for (; *text; ++text) {
    size_t i = 0;
    while (part[i] && text[i] && Fold(text[i]) == Fold(part[i])) ++i;
    if (!part[i]) return true;
  }
  return false;
}

bool EqualsIgnoreCase(const char16_t* a, const char16_t* b) {
  if (!a || !b) return a == b;
  for (; *a && *b; ++a, ++b) {
    if (Fold(*a) != Fold(*b)) return false;
  }
  return *a == *b;
}

bool IsOwnVirtualDevice(const char16_t* friendlyName) {
  for (const char16_t* own : kOwnVirtualDevices) {
    if (EqualsIgnoreCase(friendlyName, own)) return true;
  }
  return false;
}

bool MatchesAllowList(const DeviceAllowList& allowList, const char16_t* path) {
  if (!path || !*path || !allowList.fragments) return false;
  for (const std::unique_ptr<char16_t[]>& fragment : *allowList.fragments) {
    if (fragment && fragment[0] && ContainsIgnoreCase(path, fragment.get())) return true;
  }
  return false;
}

bool IsDeviceAllowed(const DeviceAllowList& allowList, const char16_t* path) {
  return allowList.enabled ? MatchesAllowList(allowList, path) : true;
}

int ProbeCaptureDevice(IBaseFilter* filter) {
  media::ComPtr<IGraphBuilder> graph;
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                              graph.putVoid()))) {
    return 0;
  }
  media::ComPtr<ICaptureGraphBuilder2> builder;
  if (FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ICaptureGraphBuilder2, builder.putVoid()))) {
    return 1;
  }
  if (FAILED(builder->SetFiltergraph(graph.get()))) return 1;
  const bool added = platform::GuardedVoid([&] { graph->AddFilter(filter, OLESTR("Test Filter")); });
  if (!added) return 1;
  int answer = 0;
  media::ComPtr<IAMTVTuner> tuner;
  if (SUCCEEDED(builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, filter, IID_IAMTVTuner,
                                       tuner.putVoid())) &&
      tuner) {
    answer = 1;
  }
  tuner.reset();
  graph->RemoveFilter(filter);
  return answer;
}

bool EnumerateCaptureDevices(const DeviceAllowList& allowList,
                             std::vector<CaptureDeviceCandidate>& list) {
  list.clear();
  media::ComPtr<IEnumMoniker> devices;
  {
    media::ComPtr<ICreateDevEnum> deviceEnum;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, deviceEnum.putVoid()))) {
      return false;
    }
    const HRESULT hr = deviceEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory,
                                                         devices.put(), 0);
    if (hr != S_OK || !devices) return false;  // S_FALSE: the category is empty
  }
  devices->Reset();
  for (;;) {
    media::ComPtr<IMoniker> moniker;
    if (devices->Next(1, moniker.put(), nullptr) != S_OK || !moniker) break;
    CaptureDeviceCandidate candidate;
    ReadDevicePath(moniker.get(), candidate.devicePath);
    if (ContainsIgnoreCase(candidate.devicePath, u"device:sw") ||
        !ContainsIgnoreCase(candidate.devicePath, u"vid")) {
      continue;
    }
    if (!IsDeviceAllowed(allowList, candidate.devicePath)) continue;
    char16_t friendly[kDevicePathChars];
    ReadDeviceFriendlyName(moniker.get(), friendly);
    WriteLogLine(platform::Utf16ToUtf8(friendly).c_str());
    if (IsOwnVirtualDevice(friendly)) continue;
    media::ComPtr<IBaseFilter> filter;
    if (FAILED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.putVoid())) || !filter) {
      continue;
    }
    if (ProbeCaptureDevice(filter.get()) == 0) {
      candidate.filter = std::move(filter);
      list.push_back(std::move(candidate));
    }
  }
  return !list.empty();
}

HRESULT GetCaptureDevice(const DeviceAllowList& allowList, IBaseFilter** filter) {
  if (!filter) return E_POINTER;
  *filter = nullptr;
  std::vector<CaptureDeviceCandidate> list;
  HRESULT result = E_FAIL;
  if (EnumerateCaptureDevices(allowList, list)) {
    *filter = list.front().filter.get();
    (*filter)->AddRef();
    result = S_OK;
  }
  list.clear();
  return result;
}
