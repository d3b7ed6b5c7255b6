// The busy picture: any file read as the .bmp the worker loads, through the bitmap reader
// and the conversion that follows it.
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "graph/rend_graph.h"
#include "platform/bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::WriteInput("DevBusy.bmp", data, size);
  {
    // The reader alone: its bits copied into a buffer of exactly the size it describes.
    platform::BitmapFile bitmap;
    if (bitmap.Load(path.c_str())) {
      const platform::BitmapDescription& d = bitmap.description();
      const uint64_t bytes = uint64_t(d.widthBytes > 0 ? d.widthBytes : 0) * uint64_t(d.height > 0 ? d.height : 0);
      if (bytes <= (uint64_t{64} << 20)) {
        std::vector<uint8_t> bits(bytes);
        bitmap.GetBits(bits.data(), static_cast<long>(bits.size()));
      }
    }
  }
  CVDRendGraphImpl graph;
  graph.LoadBusyPicture(path.c_str());
  return 0;
}
