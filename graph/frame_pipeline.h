// The frame pipeline: every sample from the renderer becomes one YUY2 frame of the size the
// virtual camera asked for, is shown to the plug-in and handed on.
//
// Threads: the worker thread calls PrepareOutputFormat and ReleaseBuffers, and changes what
// the links point to, only while no graph streams (before IMediaControl Run, after Stop).
// The streaming thread calls SampleCallback, ProcessSample and DeliverFrame; they take no
// lock and allocate nothing per frame (the conversion buffer only grows when a larger frame
// arrives). The 3D settings are the one input written (by atomic exchange) while frames flow.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "graph/frame_types.h"
#include "graph/plugin_binding.h"
#include "platform/program.h"

class FramePipeline {
 public:
  // Where a finished frame goes (the render-graph object: the virtual camera).
  using FrameSink = void (*)(void* context, const BitmapInfoHeader* header, const uint8_t* pixels,
                             uint32_t size);

  // What the pipeline reads from its owner on every frame. Only `resolution` is required.
  struct Links {
    const std::atomic<uint32_t>* resolution = nullptr;  // packed size asked for; 0 drops frames
    const uint32_t* support3D = nullptr;
    const std::atomic<uint32_t>* settings3D = nullptr;  // the first is the 3D-on flag
    void (*const* debugOutput)(std::u16string_view text) = nullptr;  // told "3D\n" per 3D frame
    const PluginBinding* plugin = nullptr;
    FrameSink sink = nullptr;
    void* sinkContext = nullptr;
  };

  explicit FramePipeline(const Links& links) : links_(links) {}
  FramePipeline(const FramePipeline&) = delete;
  FramePipeline& operator=(const FramePipeline&) = delete;

  // Worker thread. Sizes outputBuffer (grows only) and fills outputHeader for a YUY2 frame of
  // width x height. E_FAIL when the frame would exceed 2 GiB or cannot be allocated.
  HResult PrepareOutputFormat(uint32_t width, uint32_t height);
  // Worker thread: frees the conversion and output buffers and clears their headers.
  void ReleaseBuffers();

  // What the renderer calls for every sample; `context` is the pipeline. Streaming thread.
  static int32_t PLATFORM_STDCALL SampleCallback(const BitmapInfoHeader* header, const uint8_t* data,
                                                 uint32_t length, void* context);
  HResult ProcessSample(const BitmapInfoHeader* header, const uint8_t* data, uint32_t length);
  // Whether ProcessSample takes frames of this code and bit count (converted or as they are).
  static bool ConvertsFrames(const BitmapInfoHeader& header);
  void EnsureConversionBuffer(const BitmapInfoHeader* header);
  void FreeConversionBuffer();
  int32_t DeliverFrame(const BitmapInfoHeader* header, const uint8_t* data, uint32_t length);

  // Written only by the operations above; read by anyone.
  BitmapInfoHeader cachedHeader{};
  std::unique_ptr<uint8_t[]> conversionBuffer;
  uint32_t conversionSize = 0;
  uint32_t conversionCapacity = 0;
  std::unique_ptr<uint8_t[]> outputBuffer;
  uint32_t outputCapacity = 0;
  BitmapInfoHeader outputHeader{};

 private:
  const Links links_;
};
