// The capture profile file as Initialize reads it, and the device allow-list it yields
// applied to a device path.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "graph/capture_devices.h"
#include "graph/rend_graph.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::WriteInput("oruVCapture.pfg", data, size);
  CVDRendGraphImpl graph;
  graph.LoadCaptureProfile(path.c_str());
  const DeviceAllowList list{graph.allowListEnabled, &graph.allowList};
  IsDeviceAllowed(list, u"\\\\?\\usb#vid_046d&pid_0825&mi_00#6&2a1b&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global");
  return 0;
}
