// The registration server's side of a request: a run of requests as they arrive on the pipe,
// parsed and acted on (channels made and deleted) by one fan-out object. Each request is
// given in a buffer of exactly its length, so a read past it is seen.
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "plugin/fanout_plugin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::PrivateDirectory();
  CFanoutPlugin plugin(u"kestrel-fuzz-registration");
  // The input is a run of requests, each a 2-byte little-endian length and its bytes.
  size_t at = 0;
  for (int n = 0; n < 40 && at + 2 <= size; ++n) {
    size_t length = data[at] | (size_t{data[at + 1]} << 8);
    at += 2;
    if (length > size - at) length = size - at;
    std::vector<uint8_t> request(data + at, data + at + length);
    plugin.HandleRequest(request.data(), static_cast<uint32_t>(length));
    at += length;
  }
  if (plugin.ClientCount() > kMaxClients) __builtin_trap();
  plugin.Shutdown();
  return 0;
}
