// The channel: kernel objects named from the channel name, and the lock, write and
// unlock-and-signal steps of the send and receive protocol.
#include "ipc/tether_channel.h"

#include <cstring>

#include "platform/debug_output.h"
#include "platform/thread.h"

namespace {

constexpr uint32_t kHeaderBytes = sizeof(TetherMessageHeader);

// dst = a + b (+ c), cut to fit `cap` units including the terminator; false when cut.
bool Compose(char16_t* dst, size_t cap, const char16_t* a, const char16_t* b, const char16_t* c = u"") {
  size_t n = 0;
  for (const char16_t* part : {a, b, c})
    for (; *part; ++part) {
      if (n + 1 >= cap) {
        dst[n] = 0;
        return false;
      }
      dst[n++] = *part;
    }
  dst[n] = 0;
  return true;
}

}  // namespace

CTetherChannel::~CTetherChannel() { Close(); }

bool CTetherChannel::Open(uint32_t capacity, const char16_t* name) {
  if (name == nullptr) return false;
  capacity_ = capacity;
  // Base name: prefix, "_", channel name.
  if (!Compose(baseName_, 260, kTetherObjectPrefix, u"_", name)) return false;
  char16_t objectName[300];

  mapping_.reset();
  mapping_.Unmap();
  view_ = nullptr;
  Compose(objectName, 300, baseName_, u"_Event");
  dataEvent_ = platform::Event::OpenNamed(objectName);
  if (!dataEvent_.valid()) dataEvent_ = platform::Event::CreateNamed(objectName, true, false);
  dataEvent_.Reset();

  Compose(objectName, 300, baseName_, u"_Event_Read");
  ackEvent_ = platform::Event::OpenNamed(objectName);
  if (!ackEvent_.valid()) ackEvent_ = platform::Event::CreateNamed(objectName, true, false);
  ackEvent_.Set();

  Compose(objectName, 300, baseName_, u"_Mutex");
  mutex_ = platform::NamedMutex::OpenNamed(objectName);
  if (!mutex_.valid()) mutex_ = platform::NamedMutex::CreateNamed(objectName);
  if (!dataEvent_.valid() || !ackEvent_.valid() || !mutex_.valid()) return false;

  // The mapping last: the other end counts its handles as peers and sends as soon as it
  // sees one, so the events must already be reset and set, or its first message would be
  // wiped out here and its acknowledgement faked.
  mapping_ = platform::SharedMemory::OpenNamed(baseName_);
  if (!mapping_.valid()) {
    const uint64_t bytes = uint64_t{capacity} + kHeaderBytes;
    if (bytes <= 0xFFFFFFFFu) mapping_ = platform::SharedMemory::CreateNamed(baseName_, static_cast<uint32_t>(bytes));
  }
  if (!mapping_.valid()) return false;
  view_ = mapping_.Map();
  // A block too small for its header cannot carry a message at all.
  if (view_ == nullptr || mapping_.size() < kHeaderBytes) return false;
  return true;
}

void CTetherChannel::Close() {
  mapping_.reset();
  mapping_.Unmap();
  view_ = nullptr;
  dataEvent_.reset();
  ackEvent_.Set();
  ackEvent_.reset();
  mutex_.reset();
  baseName_[0] = 0;
  capacity_ = 0;
}

bool CTetherChannel::Lock(uint32_t timeoutMs) {
  if (!mutex_.valid() || !mapping_.valid() || view_ == nullptr) return false;
  const uint32_t w = mutex_.Wait(timeoutMs);
  if (w == platform::kWaitObject0) return true;
  if (w == platform::kWaitAbandoned0 && !mutex_.Release()) platform::DebugOutput(u"Release abandoned mutex failed!\n");
  return false;
}

uint32_t CTetherChannel::Write(const void* buffer, uint32_t length) {
  if (view_ == nullptr) return 0;
  uint32_t n = length < capacity_ ? length : capacity_;
  // An existing block may be smaller than this end's capacity: never write past it.
  const size_t room = mapping_.size() - kHeaderBytes;
  if (n > room) n = static_cast<uint32_t>(room);
  TetherMessageHeader h{kHeaderBytes, platform::CurrentProcessId(), 0, n, 0, 0};
  std::memcpy(view_, &h, sizeof h);
  if (n > 0 && buffer != nullptr) std::memcpy(view_ + kHeaderBytes, buffer, n);
  return n;
}

bool CTetherChannel::UnlockAndSignal(Direction direction, bool signal, uint32_t timeoutMs) {
  if (signal) {
    if (direction == Direction::Forward) {
      ackEvent_.Reset();
      dataEvent_.Set();
    } else {
      dataEvent_.Reset();
      ackEvent_.Set();
    }
  }
  mutex_.Release();
  if (direction == Direction::Forward && signal) return ackEvent_.Wait(timeoutMs) == platform::kWaitObject0;
  return true;
}

const TetherMessageHeader* CTetherChannel::header() const {
  return reinterpret_cast<const TetherMessageHeader*>(view_);
}

uint8_t* CTetherChannel::Payload(uint32_t* length) const {
  *length = 0;
  if (view_ == nullptr) return nullptr;
  TetherMessageHeader h;
  std::memcpy(&h, view_, sizeof h);
  // The header comes from the other process: trust it only inside the block.
  const size_t size = mapping_.size();
  if (h.dataOffset > size) return nullptr;
  const size_t room = size - h.dataOffset;
  *length = h.payloadLength < room ? h.payloadLength : static_cast<uint32_t>(room);
  return *length == 0 ? nullptr : view_ + h.dataOffset;
}
