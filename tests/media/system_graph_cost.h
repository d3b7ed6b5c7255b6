// What the system's filter graph object keeps of itself when one is made and released, for
// usage checks that build many graphs: nothing on Windows, while Wine 8's quartz keeps an
// event and a 48-byte lock record of each graph. On Linux the runtime's graph is code under
// test, so nothing is excused there.
#pragma once

#include <algorithm>
#include <cstdint>

#include "media/com_ptr.h"
#include "media/dshow.h"
#include "platform/process_usage.h"
#include "platform/program.h"

namespace test {

struct SystemGraphCost {
  int64_t handles = 0, heapBytes = 0;
};

// Measured over `graphs` bare graphs made and released one after another.
inline SystemGraphCost MeasureSystemGraphCost(int graphs) {
  if (!platform::kWindowsBuild) return {};
  const int64_t handles = platform::ProcessHandleCount();
  const int64_t heap = static_cast<int64_t>(platform::HeapBytesInUse());
  for (int i = 0; i < graphs; ++i) {
    media::ComPtr<IGraphBuilder> graph;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                graph.putVoid())))
      return {};
  }
  return {std::max<int64_t>(0, platform::ProcessHandleCount() - handles),
          std::max<int64_t>(0, static_cast<int64_t>(platform::HeapBytesInUse()) - heap)};
}

}  // namespace test
