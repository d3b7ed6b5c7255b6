// One end of a named channel: the shared block (message header + payload), the data and
// acknowledge events and the mutex that guards the block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/event.h"
#include "platform/named_mutex.h"
#include "platform/shared_memory.h"

inline constexpr char16_t kTetherObjectPrefix[] = u"Global\\Quillon_A0705475-D96B-4324-8B08-699F7EF50C9A_";

// The first 24 bytes of the shared block.
struct TetherMessageHeader {
  uint32_t dataOffset;       // payload offset from the block start; writers put 24
  uint32_t senderProcessId;  // process that wrote the message
  uint32_t reserved0;
  uint32_t payloadLength;
  uint32_t reserved1;
  uint32_t messageCode;      // 0 from Tether_SendMessage; 0x10000 asks the receiver to recount peers
};
static_assert(sizeof(TetherMessageHeader) == 24);

inline constexpr uint32_t kTetherRecountPeers = 0x10000;

class CTetherChannel {
 public:
  enum class Direction { Forward, Backward };

  CTetherChannel() = default;
  virtual ~CTetherChannel();
  CTetherChannel(const CTetherChannel&) = delete;
  CTetherChannel& operator=(const CTetherChannel&) = delete;

  // Opens or creates the block (capacity + 24 bytes), the two events and the mutex of the
  // channel `name`; resets the data event and sets the acknowledge event. False when the name
  // is null, an object cannot be had, or an existing block is too small for its header.
  bool Open(uint32_t capacity, const char16_t* name);
  // Idempotent; sets the acknowledge event before closing it.
  void Close();

  // Takes the mutex. False at once without the objects; false after the time-out; false once
  // for an abandoned mutex, which is released so the next attempt takes it cleanly.
  bool Lock(uint32_t timeoutMs);
  // Writes a message of min(capacity, length, room in the block) bytes; returns that length.
  uint32_t Write(const void* buffer, uint32_t length);
  // With `signal`: forward resets the acknowledge event and sets the data event, backward the
  // reverse. Releases the mutex. Forward with signal then waits for the acknowledge event and
  // returns whether it came in time; every other case returns true.
  bool UnlockAndSignal(Direction direction, bool signal, uint32_t timeoutMs);

  // The header, valid while locked; null when not open.
  const TetherMessageHeader* header() const;
  // The payload the header describes, cut to what lies inside the block: its address (null
  // when empty) and, in *length, its usable size.
  uint8_t* Payload(uint32_t* length) const;

  // True once a peer cut the block's or the mutex's file short under an access (Linux
  // only): the view then holds zeros and the channel carries no more messages.
  bool broken() const { return mapping_.broken() || mutex_.broken(); }

  // Handles open to the block system-wide (this one included); 0 when unknown.
  uint32_t HandleCount() const { return mapping_.HandleCount(); }
  bool SetAcknowledge() const { return ackEvent_.Set(); }
  const platform::Event& dataEvent() const { return dataEvent_; }
  const platform::Event& ackEvent() const { return ackEvent_; }
  uint32_t capacity() const { return capacity_; }
  // Bytes of the block as mapped (capacity + 24, or less for an existing smaller block).
  size_t blockSize() const { return mapping_.size(); }
  const char16_t* baseName() const { return baseName_; }

 private:
  platform::SharedMemory mapping_;
  platform::Event dataEvent_;
  platform::Event ackEvent_;
  platform::NamedMutex mutex_;
  char16_t baseName_[260] = {};
  uint32_t capacity_ = 0;
  uint8_t* view_ = nullptr;
};
