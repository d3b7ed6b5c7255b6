// The capture graph builder on Linux: pins found by direction, category (asked through the
// pin's IKsPropertySet), major type, connection and index; interfaces found on a filter, its
// pins and what lies up- or downstream; streams rendered by direct connection, a preview
// through a Smart Tee when the filter has a capture pin only.
#include "media/posix/builtin_classes.h"
#include "media/posix/com_object.h"
#include "media/posix/pin_util.h"
#include "platform/exception_guard.h"

namespace media {
namespace {

// The pin's category from its property set, or GUID_NULL when it names none.
GUID PinCategory(IPin* pin) {
  ComPtr<IKsPropertySet> props;
  if (FAILED(pin->QueryInterface(IID_IKsPropertySet, props.putVoid())) || !props) return GUID_NULL;
  GUID category = GUID_NULL;
  DWORD returned = 0;
  if (FAILED(props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof(category),
                        &returned)) ||
      returned != sizeof(category)) {
    return GUID_NULL;
  }
  return category;
}

// Whether the pin offers a media type of that major type.
bool PinHasMajorType(IPin* pin, const GUID& major) {
  ComPtr<IEnumMediaTypes> types;
  if (FAILED(pin->EnumMediaTypes(types.put())) || !types) return false;
  types->Reset();
  for (;;) {
    UniqueMediaType mt;
    ULONG fetched = 0;
    if (types->Next(1, mt.put(), &fetched) != S_OK || fetched != 1 || !mt) return false;
    if (mt->majortype == major) return true;
  }
}

bool PinMatches(IPin* pin, PIN_DIRECTION dir, const GUID* category, const GUID* type, BOOL unconnected) {
  PIN_DIRECTION actual{};
  if (!PinDirection(pin, &actual) || actual != dir) return false;
  if (category && PinCategory(pin) != *category) return false;
  if (type && !PinHasMajorType(pin, *type)) return false;
  if (unconnected && ConnectedPeer(pin)) return false;
  return true;
}

// The `index`-th pin of `source` (a filter, or a pin standing for itself) that matches.
HRESULT FindMatchingPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category, const GUID* type,
                        BOOL unconnected, int index, ComPtr<IPin>* found) {
  if (!source) return E_POINTER;
  ComPtr<IBaseFilter> filter;
  if (FAILED(source->QueryInterface(IID_IBaseFilter, filter.putVoid())) || !filter) {
    ComPtr<IPin> pin;
    if (FAILED(source->QueryInterface(IID_IPin, pin.putVoid())) || !pin) return E_NOINTERFACE;
    if (index != 0 || !PinMatches(pin.get(), dir, category, type, unconnected)) return E_FAIL;
    *found = pin;
    return S_OK;
  }
  if (index < 0) return E_FAIL;
  int seen = 0;
  for (const ComPtr<IPin>& pin : FilterPins(filter.get())) {
    if (!PinMatches(pin.get(), dir, category, type, unconnected)) continue;
    if (seen++ == index) {
      *found = pin;
      return S_OK;
    }
  }
  return E_FAIL;
}

// Asks every pin of `filter` in direction `dir`, and then what each is connected to, on and
// on in that direction.
bool SearchFrom(IBaseFilter* filter, PIN_DIRECTION dir, REFIID iid, void** out, int depth = 0);

// Asks the pin, then its peer, the peer's filter and onwards.
bool SearchThroughPin(IPin* pin, PIN_DIRECTION dir, REFIID iid, void** out, int depth) {
  if (SUCCEEDED(pin->QueryInterface(iid, out)) && *out) return true;
  ComPtr<IPin> peer = ConnectedPeer(pin);
  if (!peer) return false;
  if (SUCCEEDED(peer->QueryInterface(iid, out)) && *out) return true;
  ComPtr<IBaseFilter> next = PinOwner(peer.get());
  if (!next) return false;
  if (SUCCEEDED(next->QueryInterface(iid, out)) && *out) return true;
  return SearchFrom(next.get(), dir, iid, out, depth + 1);
}

bool SearchFrom(IBaseFilter* filter, PIN_DIRECTION dir, REFIID iid, void** out, int depth) {
  if (depth > 64) return false;  // a graph deeper than this is a loop
  for (const ComPtr<IPin>& pin : FilterPins(filter)) {
    PIN_DIRECTION actual{};
    if (!PinDirection(pin.get(), &actual) || actual != dir) continue;
    if (SearchThroughPin(pin.get(), dir, iid, out, depth)) return true;
  }
  return false;
}

class CaptureGraphBuilder final : public RuntimeComObject<ICaptureGraphBuilder2> {
 public:
  HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder* graph) override {
    if (!graph) return E_POINTER;
    if (graph_) return E_UNEXPECTED;
    graph_ = ComPtr<IGraphBuilder>(graph);
    return S_OK;
  }

  // Without a graph set, one is made on first need.
  HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder** graph) override {
    if (!graph) return E_POINTER;
    *graph = nullptr;
    return platform::Guarded(E_OUTOFMEMORY, [&]() -> HRESULT {
      HRESULT hr = EnsureGraph();
      if (FAILED(hr)) return hr;
      return graph_.copyTo(graph);
    });
  }

  HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID*, LPCOLESTR, IBaseFilter** filter,
                                              IFileSinkFilter** sink) override {
    if (filter) *filter = nullptr;
    if (sink) *sink = nullptr;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID iid,
                                          void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!filter) return E_POINTER;
    return platform::Guarded(E_FAIL, [&]() -> HRESULT {
      if (category && *category == LOOK_UPSTREAM_ONLY) {
        return SearchFrom(filter, PINDIR_INPUT, iid, out) ? S_OK : E_NOINTERFACE;
      }
      if (category && *category == LOOK_DOWNSTREAM_ONLY) {
        return SearchFrom(filter, PINDIR_OUTPUT, iid, out) ? S_OK : E_NOINTERFACE;
      }
      if (SUCCEEDED(filter->QueryInterface(iid, out)) && *out) return S_OK;
      *out = nullptr;
      if (category) {
        // The pin of that category (any direction), then downstream of it.
        for (PIN_DIRECTION dir : {PINDIR_OUTPUT, PINDIR_INPUT}) {
          ComPtr<IPin> pin;
          if (FAILED(FindMatchingPin(filter, dir, category, type, FALSE, 0, &pin))) continue;
          if (SearchThroughPin(pin.get(), dir, iid, out, 0)) return S_OK;
        }
        return E_NOINTERFACE;
      }
      if (SearchFrom(filter, PINDIR_OUTPUT, iid, out)) return S_OK;
      return SearchFrom(filter, PINDIR_INPUT, iid, out) ? S_OK : E_NOINTERFACE;
    });
  }

  // A preview asked of a filter without a preview pin is rendered from its capture pin
  // through a Smart Tee (VFW_S_NOPREVIEWPIN); the tee leaves again when that fails.
  HRESULT STDMETHODCALLTYPE RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                         IBaseFilter* intermediate, IBaseFilter* sink) override {
    if (!source) return E_POINTER;
    return platform::Guarded(E_FAIL, [&]() -> HRESULT {
      HRESULT hr = EnsureGraph();
      if (FAILED(hr)) return hr;
      ComPtr<IPin> out;
      ComPtr<IBaseFilter> tee;
      hr = FindMatchingPin(source, PINDIR_OUTPUT, category, type, TRUE, 0, &out);
      if (hr == E_POINTER) return hr;
      if (FAILED(hr)) {
        if (!category || *category != PIN_CATEGORY_PREVIEW) return E_FAIL;
        hr = InsertSmartTee(source, type, &tee, &out);
        if (FAILED(hr)) return hr;
      }
      hr = ConnectOnwards(out.get(), intermediate, sink);
      if (tee) {
        if (FAILED(hr)) graph_->RemoveFilter(tee.get());
        return FAILED(hr) ? hr : VFW_S_NOPREVIEWPIN;
      }
      return hr;
    });
  }

  HRESULT STDMETHODCALLTYPE ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*, REFERENCE_TIME*,
                                          WORD, WORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR, DWORDLONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR, LPOLESTR, int, IAMCopyCaptureFileProgress*) override {
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category, const GUID* type,
                                    BOOL unconnected, int index, IPin** pin) override {
    if (!pin) return E_POINTER;
    *pin = nullptr;
    if (!source) return E_POINTER;
    return platform::Guarded(E_FAIL, [&]() -> HRESULT {
      ComPtr<IPin> found;
      HRESULT hr = FindMatchingPin(source, dir, category, type, unconnected, index, &found);
      if (FAILED(hr)) return hr;
      *pin = found.detach();
      return S_OK;
    });
  }

 private:
  void* InterfaceFor(REFIID iid) override {
    if (iid == IID_IUnknown || iid == IID_ICaptureGraphBuilder2) return static_cast<ICaptureGraphBuilder2*>(this);
    return nullptr;
  }

  HRESULT EnsureGraph() {
    if (graph_) return S_OK;
    return CreateFilterGraph(IID_IGraphBuilder, graph_.putVoid());
  }

  // From `out` through `intermediate` (if any) to `sink`; without a sink, the graph's choice.
  HRESULT ConnectOnwards(IPin* out, IBaseFilter* intermediate, IBaseFilter* sink) {
    if (!sink) return graph_->Render(out);
    ComPtr<IPin> next(out);
    if (intermediate) {
      HRESULT hr = ConnectToFirstFreeInput(out, intermediate);
      if (FAILED(hr)) return hr;
      hr = FindMatchingPin(intermediate, PINDIR_OUTPUT, nullptr, nullptr, TRUE, 0, &next);
      if (FAILED(hr)) return E_FAIL;
    }
    return ConnectToFirstFreeInput(next.get(), sink);
  }

  // A Smart Tee added behind the unconnected capture pin of `source` (a filter), with its
  // preview pin in *preview. E_FAIL without such a pin.
  HRESULT InsertSmartTee(IUnknown* source, const GUID* type, ComPtr<IBaseFilter>* tee, ComPtr<IPin>* preview) {
    ComPtr<IBaseFilter> filter;
    if (FAILED(source->QueryInterface(IID_IBaseFilter, filter.putVoid())) || !filter) return E_FAIL;
    ComPtr<IPin> capture;
    if (FAILED(FindMatchingPin(filter.get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, type, TRUE, 0, &capture))) {
      return E_FAIL;
    }
    ComPtr<IBaseFilter> made;
    HRESULT hr = CreateSmartTee(IID_IBaseFilter, made.putVoid());
    if (FAILED(hr)) return hr;
    hr = graph_->AddFilter(made.get(), u"Smart Tee");
    if (FAILED(hr)) return hr;
    ComPtr<IPin> input, out;
    hr = made->FindPin(u"Input", input.put());
    if (SUCCEEDED(hr)) hr = graph_->ConnectDirect(capture.get(), input.get(), nullptr);
    if (SUCCEEDED(hr)) hr = made->FindPin(u"Preview", out.put());
    if (FAILED(hr)) {
      graph_->RemoveFilter(made.get());
      return hr;
    }
    *tee = made;
    *preview = out;
    return S_OK;
  }

  // Direct connection to the first unconnected input pin of `filter` that accepts it.
  HRESULT ConnectToFirstFreeInput(IPin* out, IBaseFilter* filter) {
    HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
    for (const ComPtr<IPin>& in : FilterPins(filter)) {
      if (!PinMatches(in.get(), PINDIR_INPUT, nullptr, nullptr, TRUE)) continue;
      last = graph_->ConnectDirect(out, in.get(), nullptr);
      if (SUCCEEDED(last)) return last;
    }
    return last;
  }

  ComPtr<IGraphBuilder> graph_;
};

}  // namespace

HRESULT CreateCaptureGraphBuilder(REFIID iid, void** ppv) { return HandOut(new CaptureGraphBuilder, iid, ppv); }

}  // namespace media
