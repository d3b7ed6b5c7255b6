// The fan-out of each frame through the client chain, and the registration server that
// fills the client list.
#include "plugin/fanout_plugin.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <new>

#include "ipc/registration.h"
#include "pixel/frame_format.h"
#include "platform/debug_output.h"
#include "platform/exception_guard.h"
#include "platform/process_usage.h"
#include "platform/text.h"

namespace {

bool HasChannel(TetherHandle h) { return h != 0 && h != kTetherNoHandle; }

std::atomic<const char16_t*> g_pipeName{kRegistrationPipeName};

}  // namespace

void SetFrameportPipeName(const char16_t* pipeName) {
  g_pipeName.store(pipeName != nullptr ? pipeName : kRegistrationPipeName);
}

const char16_t* FrameportPipeName() { return g_pipeName.load(); }

CFanoutPlugin::CFanoutPlugin(const char16_t* pipeName)
    : stopEvent_(platform::Event::CreateLocal(true, false)), pipeName_(pipeName != nullptr ? pipeName : u"") {}

CFanoutPlugin::~CFanoutPlugin() { Shutdown(); }

platform::LiveObjectTable& CFanoutPlugin::LiveTable() {
  static platform::LiveObjectTable table;
  return table;
}

void CFanoutPlugin::StartServer() {
  stopEvent_.Reset();
  // Listening before the thread runs: a client that connects at once is queued, not refused.
  server_ = platform::MessagePipeServer::Create(pipeName_.c_str(), kRegistrationBufferBytes);
  Start();
}

uint32_t CFanoutPlugin::ThreadBody() {
  if (!stopEvent_.valid()) return 0;
  platform::GuardedVoid([this] { RunServer(); });
  return 0;
}

void CFanoutPlugin::RunServer() {
  bool reported = false;
  for (;;) {
    if (!server_) server_ = platform::MessagePipeServer::Create(pipeName_.c_str(), kRegistrationBufferBytes);
    if (!server_) {
      // Someone else listens under the name, or the pipe cannot be made: say so once.
      if (!reported)
        platform::DebugOutput(u"Frameport: cannot listen on " + pipeName_ + u"; clients cannot register until it can\n");
      reported = true;
      if (stopEvent_.Wait(kServerRetryMs) != platform::kWaitTimeout) return;
      continue;
    }
    if (reported) platform::DebugOutput(u"Frameport: listening on " + pipeName_ + u"\n");
    reported = false;
    if (server_->Serve(stopEvent_, &CFanoutPlugin::OnRequest, this)) return;
    // The pipe itself failed (no client can make it): a new one after a pause, so a pipe
    // that fails at once again does not spin.
    platform::DebugOutput(u"Frameport: the registration pipe failed; creating it anew\n");
    server_.reset();
    if (stopEvent_.Wait(kServerRetryMs) != platform::kWaitTimeout) return;
  }
}

uint32_t CFanoutPlugin::OnRequest(void* context, const uint8_t* request, uint32_t bytes, uint8_t* reply,
                                  uint32_t replyCapacity) {
  if (replyCapacity < 4) return 0;
  const uint32_t answer = platform::Guarded<uint32_t>(
      0, [&] { return static_cast<CFanoutPlugin*>(context)->HandleRequest(request, bytes); });
  std::memcpy(reply, &answer, 4);
  return 4;
}

uint32_t CFanoutPlugin::HandleRequest(const uint8_t* request, uint32_t bytes) {
  if (request == nullptr || bytes <= kRegistrationHeaderBytes) return 0;
  // Only the bytes that came are read; the fields a short request lacks are zeros. A
  // request no longer than its header carries nothing.
  RegistrationMessage m{};
  std::memcpy(&m, request, std::min<size_t>(bytes, sizeof m));
  if (m.totalLength != bytes) return 0;
  switch (m.command) {
    case kRegistrationRegister:
      return Register(m.name, m.orderingKey, m.capacity);
    case kRegistrationUnregister:
      return Unregister(m.name);
    default:
      return 0;
  }
}

// The name is looked for under the lock both before and after the channel is made: the
// channel is made outside the lock, so a slow creation never holds up a frame.
uint32_t CFanoutPlugin::Register(const char16_t* requested, uint32_t orderingKey, uint32_t capacity) {
  char16_t name[platform::kNameUnits];
  platform::CopyName(name, requested);
  const auto known = [&] {
    for (const auto& e : clients_)
      if (platform::SameName(e->name, name)) return true;
    return false;
  };
  const uint32_t descriptorLimit = platform::DescriptorLimit();
  const size_t limit = ClientLimit(descriptorLimit);
  {
    std::lock_guard<std::recursive_mutex> lock(clientLock_);
    if (known()) return 1;
    if (clients_.size() >= limit) return 0;
  }
  if (capacity > kMaxChannelCapacity) return 0;
  // The host's other work may hold descriptors too: a channel that would eat into its share
  // is refused rather than made to fail it (or itself) later.
  if (descriptorLimit != 0 &&
      uint64_t{platform::ProcessHandleCount()} + kDescriptorsPerClient + kHostDescriptors > descriptorLimit)
    return 0;

  // Nothing is half-registered: without its entry or its channel the request is refused, so
  // the client's creation fails and it may ask again (an entry without a channel would get
  // no frame, and asking again would only be answered "already registered").
  std::unique_ptr<ClientEntry> entry(new (std::nothrow) ClientEntry);
  if (!entry) return 0;
  // However this ends, a channel whose entry did not make it into the list goes with it,
  // also when the list cannot grow.
  struct DropUnlisted {
    std::unique_ptr<ClientEntry>& entry;
    ~DropUnlisted() {
      if (entry && HasChannel(entry->channel)) Tether_DeleteInstance(entry->channel);
    }
  } dropUnlisted{entry};
  TetherCreateParams params;
  std::memset(&params, 0, sizeof params);
  params.size = sizeof params;
  std::memcpy(params.name, name, sizeof name);
  params.capacity = capacity;
  params.role = kTetherRoleSender;
  params.timeoutMs = kClientChannelTimeoutMs;
  entry->channel = Tether_CreateInstance(params);
  if (!HasChannel(entry->channel)) return 0;
  entry->orderingKey = orderingKey;
  std::memcpy(entry->name, name, sizeof name);

  uint32_t answer = 1;
  {
    std::lock_guard<std::recursive_mutex> lock(clientLock_);
    if (known() || clients_.size() >= limit) {
      // Registered meanwhile (or the list filled up): the entry that is there stays.
      answer = known() ? 1 : 0;
    } else {
      clients_.push_back(std::move(entry));
      std::stable_sort(clients_.begin(), clients_.end(),
                       [](const std::unique_ptr<ClientEntry>& a, const std::unique_ptr<ClientEntry>& b) {
                         return a->orderingKey > b->orderingKey;
                       });
    }
  }
  return answer;
}

uint32_t CFanoutPlugin::Unregister(const char16_t* requested) {
  char16_t name[platform::kNameUnits];
  platform::CopyName(name, requested);
  std::lock_guard<std::recursive_mutex> lock(clientLock_);
  for (auto it = clients_.begin(); it != clients_.end(); ++it) {
    if (!platform::SameName((*it)->name, name)) continue;
    if (HasChannel((*it)->channel)) Tether_DeleteInstance((*it)->channel);
    (*it)->channel = 0;
    clients_.erase(it);
    break;
  }
  return 1;
}

int32_t CFanoutPlugin::ProcessVideoFrame(const void* header, uint8_t* pixels) {
  if (header == nullptr || pixels == nullptr) return 0;
  const uint32_t sizeImage = ReadLe32(static_cast<const uint8_t*>(header) + offsetof(BitmapInfoHeader, biSizeImage));
  // A size whose message length does not fit in 32 bits cannot be sent.
  if (sizeImage > UINT32_MAX - kFrameHeaderBytes) return 0;
  const uint32_t length = kFrameHeaderBytes + sizeImage;

  std::lock_guard<std::recursive_mutex> lock(clientLock_);
  if (clients_.empty()) return 0;
  const uint32_t level = clients_.front()->orderingKey >> 16;
  int32_t result = 0;
  for (const auto& e : clients_) {
    if ((e->orderingKey >> 16) != level) continue;
    if (frameBufferCapacity_ < length) {
      frameBuffer_.reset();
      frameBufferCapacity_ = 0;
      frameBuffer_.reset(new (std::nothrow) uint8_t[length]);
      if (!frameBuffer_) return result;
      frameBufferCapacity_ = length;
    }
    uint8_t* buffer = frameBuffer_.get();
    std::memcpy(buffer, header, kFrameHeaderBytes);
    std::memcpy(buffer + kFrameHeaderBytes, pixels, sizeImage);
    const int32_t sent = Tether_SendMessage(e->channel, buffer, length, 1);
    result = sent;
    // -1000: the send faulted (a client cut its block short, or worse) and the buffer may
    // hold part of a frame; the caller's pixels stay as they were.
    if (sent != 0 && sent != kTetherBadHandle) {
      // The client may have rewritten the header: never copy more than the caller's frame.
      uint32_t back = ReadLe32(buffer + offsetof(BitmapInfoHeader, biSizeImage));
      back = std::min(back, sizeImage);
      std::memcpy(pixels, buffer + kFrameHeaderBytes, back);
    }
  }
  return result;
}

void CFanoutPlugin::Abort() {
  std::lock_guard<std::recursive_mutex> lock(clientLock_);
  for (const auto& e : clients_)
    if (HasChannel(e->channel)) Tether_Abort(e->channel);
}

void CFanoutPlugin::Shutdown() {
  // Set even when the thread has not yet reported running, so a body about to serve still
  // sees the stop.
  stopEvent_.Set();
  ReleaseThread();
  server_.reset();
  std::lock_guard<std::recursive_mutex> lock(clientLock_);
  for (auto& e : clients_) {
    if (HasChannel(e->channel)) Tether_DeleteInstance(e->channel);
    e->channel = 0;
  }
  clients_.clear();
}

size_t CFanoutPlugin::ClientCount() {
  std::lock_guard<std::recursive_mutex> lock(clientLock_);
  return clients_.size();
}

std::vector<std::u16string> CFanoutPlugin::ClientNames() {
  std::lock_guard<std::recursive_mutex> lock(clientLock_);
  std::vector<std::u16string> names;
  for (const auto& e : clients_) names.emplace_back(e->name);
  return names;
}

uint32_t CFanoutPlugin::FrameBufferCapacity() {
  std::lock_guard<std::recursive_mutex> lock(clientLock_);
  return frameBufferCapacity_;
}
