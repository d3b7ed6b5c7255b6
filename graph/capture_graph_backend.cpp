// The object's side of the capture graph: forwarding to the installed backend, the output
// format, and the backend used while no camera can be opened.
#include "graph/rend_graph.h"

#include <new>

#include "graph/diagnostics.h"

namespace {

class NoCamera final : public CaptureGraphBackend {
 public:
  HResult BuildGraph(CVDRendGraphImpl& owner, uint32_t, uint32_t) override {
    owner.StopGraph();
    std::lock_guard lock(owner.graphLock);
    LogMessage("Failed to get capture device!  hr=0x%x", static_cast<unsigned>(kEFail));
    return kEFail;
  }
  void StopGraph(CVDRendGraphImpl& owner) override {
    std::lock_guard lock(owner.graphLock);
    owner.vcam.OruVCapSetDevicePinObj(0);
    owner.currentResolution.store(0);
  }
  uint32_t QueryPhysicalDeviceStatus(CVDRendGraphImpl& owner) override {
    std::lock_guard lock(owner.graphLock);
    return 0;
  }
};

}  // namespace

CaptureGraphBackend& NoCameraBackend() {
  static NoCamera backend;
  return backend;
}

HResult CVDRendGraphImpl::BuildGraph(uint32_t width, uint32_t height) {
  return captureGraph->BuildGraph(*this, width, height);
}

void CVDRendGraphImpl::StopGraph() { captureGraph->StopGraph(*this); }

uint32_t CVDRendGraphImpl::QueryPhysicalDeviceStatus() {
  return captureGraph->QueryPhysicalDeviceStatus(*this);
}

HResult CVDRendGraphImpl::PrepareOutputFormat(uint32_t width, uint32_t height) {
  const uint64_t stride = ((static_cast<uint64_t>(width) * 16 + 31) / 32) * 4;
  const uint64_t size = stride * height;
  // A packed resolution can ask for up to 65535 x 65535, which no 32-bit size holds.
  if (size > 0x7FFFFFFFu) return kEFail;
  if (outputCapacity < size) {
    outputBuffer.reset();
    outputCapacity = 0;
    outputBuffer.reset(new (std::nothrow) uint8_t[size]);
    if (!outputBuffer) {
      outputHeader = {};
      return kEFail;
    }
    outputCapacity = static_cast<uint32_t>(size);
  }
  outputHeader = {};
  outputHeader.biSize = 40;
  outputHeader.biWidth = static_cast<int32_t>(width);
  outputHeader.biHeight = static_cast<int32_t>(height);
  outputHeader.biBitCount = 16;
  outputHeader.biCompression = kFourccYUY2;
  outputHeader.biSizeImage = static_cast<uint32_t>(size);
  return kSOk;
}
