// The object behind a Frameport handle: the client list, the per-frame fan-out and the
// registration server on its worker thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ipc/tether.h"
#include "platform/event.h"
#include "platform/live_objects.h"
#include "platform/message_pipe.h"
#include "platform/worker_thread.h"

inline constexpr uint32_t kFrameHeaderBytes = 40;
inline constexpr uint32_t kRegistrationBufferBytes = 1024;
inline constexpr uint32_t kClientChannelTimeoutMs = 500;
// The largest channel a client may ask for: a 7680x4320 YUY2 frame with its header. Anyone
// may ask, and a mapping of up to 4 GiB for a single request would exhaust the service.
inline constexpr uint32_t kMaxChannelCapacity = kFrameHeaderBytes + 7680u * 4320u * 2u;
// The most clients registered at once. Every client that registers is answered, so a burst
// of clients starting together must fit; only the highest level is served, and each client
// served costs its frame at least a 2 ms pause.
inline constexpr uint32_t kMaxClients = 64;
// What one registered client holds on Linux: its channel's mapping, events and mutex, and the
// events of the channel's watcher (11 measured, one spare).
inline constexpr uint32_t kDescriptorsPerClient = 12;
// Descriptors never given to clients: the host's own camera, plug-in, log and connections.
inline constexpr uint32_t kHostDescriptors = 64;

// The most clients at once in a process allowed `descriptorLimit` descriptors (0: no limit):
// kMaxClients, and no more than the descriptors left over the host's own.
constexpr uint32_t ClientLimit(uint32_t descriptorLimit) {
  if (descriptorLimit == 0) return kMaxClients;
  if (descriptorLimit <= kHostDescriptors) return 0;
  const uint32_t fit = (descriptorLimit - kHostDescriptors) / kDescriptorsPerClient;
  return fit < kMaxClients ? fit : kMaxClients;
}
// How soon the server tries again to listen when its pipe name is held by another process or
// its pipe failed: a freed name is taken within this, at no cost worth counting meanwhile.
inline constexpr uint32_t kServerRetryMs = 500;

struct ClientEntry {
  TetherHandle channel = 0;   // 0 or -1: no channel
  uint32_t orderingKey = 0;   // upper 16 bits: level
  char16_t name[64] = {};     // NUL-terminated, at most 63 characters
};

// The transport the next Frameport_Initialize listens on: the registration pipe unless a
// test named another one (null restores the default). Process-wide.
void SetFrameportPipeName(const char16_t* pipeName);
const char16_t* FrameportPipeName();

class CFanoutPlugin : public CWorkerThread {
 public:
  // `pipeName` is the registration transport the server listens on.
  explicit CFanoutPlugin(const char16_t* pipeName);
  ~CFanoutPlugin() override;

  // Creates the listening end and starts the worker thread. A failure of either is not
  // reported to the caller. Until the worker has the pipe's name, it says so on the debugger
  // output and tries again every kServerRetryMs; a failed pipe is created anew the same way.
  void StartServer();
  // The frame fan-out: see Frameport_ProcessVideoFrame.
  int32_t ProcessVideoFrame(const void* header, uint8_t* pixels);
  void Abort();
  // Stops the server and deletes every client's channel; a second call finds nothing to do.
  void Shutdown();

  // Registration commands; each answers 1, except that Register refuses (0) a new name whose
  // capacity is above kMaxChannelCapacity, that would be one client more than ClientLimit of
  // the process's descriptor limit, that would leave the process fewer than kHostDescriptors
  // free descriptors, or whose entry or channel cannot be made (nothing of it stays). `name`
  // holds 64 code units and need not be terminated: a name without a terminator is cut to
  // 63 characters.
  uint32_t Register(const char16_t* name, uint32_t orderingKey, uint32_t capacity);
  uint32_t Unregister(const char16_t* name);
  // The reply to one request of exactly the `bytes` bytes at `request`; fields beyond them
  // read as zeros.
  uint32_t HandleRequest(const uint8_t* request, uint32_t bytes);

  // Inspection for tests.
  size_t ClientCount();
  std::vector<std::u16string> ClientNames();
  uint32_t FrameBufferCapacity();

  static platform::LiveObjectTable& LiveTable();

 protected:
  uint32_t ThreadBody() override;

 private:
  static uint32_t OnRequest(void* context, const uint8_t* request, uint32_t bytes, uint8_t* reply,
                            uint32_t replyCapacity);
  // Listens and serves until the stop event, taking the pipe's name again whenever it is lost.
  void RunServer();

  std::recursive_mutex clientLock_;
  std::vector<std::unique_ptr<ClientEntry>> clients_;
  platform::Event stopEvent_;
  std::unique_ptr<uint8_t[]> frameBuffer_;
  uint32_t frameBufferCapacity_ = 0;
  std::u16string pipeName_;
  std::unique_ptr<platform::MessagePipeServer> server_;
};
