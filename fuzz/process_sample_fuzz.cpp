// The frame pipeline: ProcessSample with any header, bytes and length, the output set to one
// of a few resolutions. The sample sits in a buffer of exactly its length.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "graph/rend_graph.h"

namespace {

constexpr uint32_t kOutputs[][2] = {{320, 240}, {176, 144}, {640, 480}, {2, 2}};

void Quiet(std::u16string_view) {}

}  // namespace

// Input: the output choice (1 byte), the 40-byte header, then the sample.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::PrivateDirectory();
  if (size < 1 + sizeof(BitmapInfoHeader)) return 0;
  static CVDRendGraphImpl* graph = [] {
    auto* g = new CVDRendGraphImpl();
    g->debugOutput = &Quiet;
    return g;
  }();
  const uint32_t* out = kOutputs[data[0] % 4];
  if (graph->PrepareOutputFormat(out[0], out[1]) != kSOk) __builtin_trap();
  graph->currentResolution.store(PackResolution(out[0], out[1]));
  graph->support3D = data[0] >> 7;
  BitmapInfoHeader header;
  std::memcpy(&header, data + 1, sizeof header);
  std::vector<uint8_t> sample(data + 1 + sizeof header, data + size);
  graph->ProcessSample(&header, sample.empty() ? nullptr : sample.data(), static_cast<uint32_t>(sample.size()));
  return 0;
}
