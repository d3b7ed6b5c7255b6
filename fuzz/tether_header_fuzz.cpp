// The shared block's message header as a peer writes it, read by both ends: the receiver
// taking a message (header, then the payload it describes) and the sender reading back the
// payload a receiver rewrote. The peer's block may be smaller than this end's capacity.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "ipc/tether_channel.h"
#include "pixel/frame_format.h"

namespace {

volatile uint32_t g_sink;

// Reads every byte the way a callback or a copy would.
void Touch(const uint8_t* p, uint32_t n) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < n; ++i) sum += p[i];
  g_sink = sum;
}

}  // namespace

// Input: the peer's capacity (4 bytes), this end's capacity (4), the side (1: bit 0 set is
// the sender), the 24-byte header the peer writes, then the bytes after it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::PrivateDirectory();
  constexpr size_t kFixed = 4 + 4 + 1 + sizeof(TetherMessageHeader);
  if (size < kFixed) return 0;
  const uint32_t peerCapacity = ReadLe32(data) % 8192;
  const uint32_t ownCapacity = ReadLe32(data + 4) % 8192;
  const bool senderSide = (data[8] & 1) != 0;
  const uint8_t* written = data + 9;
  const size_t writtenBytes = size - 9;

  // The peer makes the block; this end opens it.
  CTetherChannel peer;
  if (!peer.Open(peerCapacity, u"kestrel-fuzz-header")) return 0;
  CTetherChannel own;
  if (!own.Open(ownCapacity, u"kestrel-fuzz-header")) return 0;
  // The peer's view of the block, as its process would write it.
  uint8_t* block = reinterpret_cast<uint8_t*>(const_cast<TetherMessageHeader*>(peer.header()));
  const size_t blockBytes = peer.blockSize();
  const auto peerWrites = [&] { std::memcpy(block, written, writtenBytes < blockBytes ? writtenBytes : blockBytes); };

  if (!senderSide) {
    peerWrites();
    if (!own.Lock(0)) return 0;
    const TetherMessageHeader* h = own.header();
    g_sink = h->senderProcessId ^ h->messageCode;
    uint32_t length = 0;
    const uint8_t* payload = own.Payload(&length);
    if (payload != nullptr) Touch(payload, length);
    own.UnlockAndSignal(CTetherChannel::Direction::Backward, true, 0);
  } else {
    // The sender's buffer is exactly the length it sends.
    std::vector<uint8_t> buffer(ownCapacity, 0x5A);
    if (!own.Lock(0)) return 0;
    own.Write(buffer.data(), static_cast<uint32_t>(buffer.size()));
    own.UnlockAndSignal(CTetherChannel::Direction::Forward, false, 0);
    peerWrites();
    if (!own.Lock(0)) return 0;
    uint32_t available = 0;
    const uint8_t* payload = own.Payload(&available);
    if (payload != nullptr && !buffer.empty())
      std::memcpy(buffer.data(), payload, buffer.size() < available ? buffer.size() : available);
    own.UnlockAndSignal(CTetherChannel::Direction::Backward, false, 0);
  }
  return 0;
}
