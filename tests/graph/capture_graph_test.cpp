// The capture graph: the fallback connection through RenderStream against a capture graph
// builder written here, then whole graphs built by the render-graph object on synthetic
// cameras, the renderer and the MJPEG decoder stand-ins through the system's DirectShow.
#include "graph/capture_graph.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Answers FindInterface and FindPin with failures and RenderStream as told, recording each call.
class FallbackBuilder final : public ICaptureGraphBuilder2 {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID*, LPCOLESTR, IBaseFilter**, IFileSinkFilter**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindInterface(const GUID* category, const GUID* type, IBaseFilter*, REFIID iid,
                                          void** out) override {
    *out = nullptr;
    calls.push_back(std::string("FindInterface ") + Name(category) + " " + Name(type) +
                    (IsEqualGUID(iid, IID_IAMStreamConfig) ? " IAMStreamConfig" : " ?"));
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE RenderStream(const GUID* category, const GUID* type, IUnknown*, IBaseFilter* compressor,
                                         IBaseFilter*) override {
    calls.push_back(std::string("RenderStream ") + Name(category) + " " + Name(type) +
                    (compressor ? " compressor" : ""));
    const HRESULT r = renderResults.empty() ? E_FAIL : renderResults.front();
    if (!renderResults.empty()) renderResults.erase(renderResults.begin());
    return r;
  }
  HRESULT STDMETHODCALLTYPE ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*, REFERENCE_TIME*,
                                          WORD, WORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR, DWORDLONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR, LPOLESTR, int, IAMCopyCaptureFileProgress*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindPin(IUnknown*, PIN_DIRECTION direction, const GUID* category, const GUID* type,
                                    BOOL unconnected, int index, IPin** pin) override {
    *pin = nullptr;
    calls.push_back(std::string("FindPin ") + (direction == PINDIR_OUTPUT ? "out " : "in ") + Name(category) +
                    " " + Name(type) + (unconnected ? " unconnected " : " any ") + std::to_string(index));
    return E_FAIL;
  }

  std::vector<std::string> calls;
  std::vector<HRESULT> renderResults;

 private:
  static const char* Name(const GUID* g) {
    if (!g) return "null";
    if (IsEqualGUID(*g, PIN_CATEGORY_CAPTURE)) return "capture";
    if (IsEqualGUID(*g, PIN_CATEGORY_PREVIEW)) return "preview";
    if (IsEqualGUID(*g, MEDIATYPE_Video)) return "video";
    if (IsEqualGUID(*g, MEDIATYPE_Interleaved)) return "interleaved";
    return "other";
  }
};

TEST(CaptureGraph, WithoutAPinTheStreamIsRenderedInterleavedThenAsVideo) {
  const HRESULT cannot = static_cast<HRESULT>(0x80040217L);  // VFW_E_CANNOT_CONNECT
  const HRESULT other = static_cast<HRESULT>(0x80040207L);
  const std::vector<std::string> searches = {
      "FindInterface capture video IAMStreamConfig",
      "FindPin out capture video unconnected 0",
      "FindPin out preview video unconnected 0",
  };
  struct Case {
    const char* name;
    std::vector<HRESULT> renderResults;
    std::vector<std::string> renders;
    HRESULT result;
  } cases[] = {
      {"interleaved connects", {S_OK}, {"RenderStream preview interleaved"}, S_OK},
      {"video after interleaved", {cannot, S_OK}, {"RenderStream preview interleaved", "RenderStream preview video"}, S_OK},
      {"both fail: the second result", {cannot, other}, {"RenderStream preview interleaved", "RenderStream preview video"}, other},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FallbackBuilder builder;
    builder.renderResults = c.renderResults;
    CVDRendGraphImpl graph;
    graph.captureBuilder = media::ComPtr<ICaptureGraphBuilder2>(&builder);
    EXPECT_EQ(graph.RenderCaptureStream(640, 480, 1), c.result);
    std::vector<std::string> expected = searches;
    expected.insert(expected.end(), c.renders.begin(), c.renders.end());
    EXPECT_EQ(builder.calls, expected);
    graph.captureBuilder.reset();
  }
}

TEST(CaptureGraph, RenderingWithoutACaptureGraphBuilderFails) {
  CVDRendGraphImpl graph;
  EXPECT_EQ(graph.RenderCaptureStream(640, 480, 1), E_FAIL);
}

TEST(CaptureGraph, PinAndGraphOperationsRejectNullArguments) {
  IPin* pin = reinterpret_cast<IPin*>(1);
  EXPECT_EQ(ConnectPinToFilter(nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(FindPinByDirection(nullptr, &pin, PINDIR_OUTPUT), 0);
  EXPECT_EQ(pin, nullptr);
  DWORD cookie = 7;
  EXPECT_EQ(AddGraphToRot(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(SaveGraphFile(u"C:\\VLM.grf", nullptr), 0);
  EXPECT_FALSE(GetFilterGraphBuilder(nullptr));
}

}  // namespace
