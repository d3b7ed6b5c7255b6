// The frame pipeline: ProcessSample with any header, bytes and length, the output set to one
// of a few resolutions. The sample sits in a buffer of exactly its length.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "graph/frame_pipeline.h"

namespace {

constexpr uint32_t kOutputs[][2] = {{320, 240}, {176, 144}, {640, 480}, {2, 2}};

void Quiet(std::u16string_view) {}

std::atomic<uint32_t> g_resolution{0};
uint32_t g_support3D = 0;
std::atomic<uint32_t> g_settings3D[3] = {0, 0, 0};
void (*g_debugOutput)(std::u16string_view) = &Quiet;

}  // namespace

// Input: the output choice (1 byte), the 40-byte header, then the sample.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::PrivateDirectory();
  if (size < 1 + sizeof(BitmapInfoHeader)) return 0;
  static FramePipeline* pipeline = [] {
    FramePipeline::Links links;
    links.resolution = &g_resolution;
    links.support3D = &g_support3D;
    links.settings3D = g_settings3D;
    links.debugOutput = &g_debugOutput;
    return new FramePipeline(links);
  }();
  const uint32_t* out = kOutputs[data[0] % 4];
  if (pipeline->PrepareOutputFormat(out[0], out[1]) != kSOk) __builtin_trap();
  g_resolution.store(PackResolution(out[0], out[1]));
  g_support3D = data[0] >> 7;
  BitmapInfoHeader header;
  std::memcpy(&header, data + 1, sizeof header);
  std::vector<uint8_t> sample(data + 1 + sizeof header, data + size);
  pipeline->ProcessSample(&header, sample.empty() ? nullptr : sample.data(), static_cast<uint32_t>(sample.size()));
  return 0;
}
