// OruTether: named synchronous channels between two processes. A sender writes a message into
// the channel's shared block and waits until the receiver's callback has handled it (and
// perhaps rewritten it in place); the sender may then read the message back.
//
// Exports use the C calling convention of the platform and undecorated names. On the 32-bit
// Windows build every record has its exact layout (TetherCreateParams 164 bytes). On 64-bit
// builds the callback and context fields and the handle are pointer-sized, so
// TetherCreateParams is 176 bytes there: callback at 152, context at 160, ordering key at 168.
#pragma once

#include <cstddef>
#include <cstdint>

// The handle Tether_CreateInstance returns; 0 and -1 mean "no channel".
using TetherHandle = intptr_t;
inline constexpr TetherHandle kTetherNoHandle = -1;

// Results of Tether_SendMessage besides the written byte count (>= 0).
inline constexpr int32_t kTetherNoPeerOrTimeout = -1;   // nobody has the channel open, or no acknowledgement in time
inline constexpr int32_t kTetherReceiverOrLocked = -2;  // receiver-role handle, or the channel mutex not taken in time
inline constexpr int32_t kTetherNullHandle = -5;        // handle 0 or -1
inline constexpr int32_t kTetherBadHandle = -1000;      // handle of no live instance, or an internal fault

inline constexpr uint8_t kTetherRoleReceiver = 0;
inline constexpr uint8_t kTetherRoleSender = 1;  // any non-zero role byte is the sender role

// Built on the receiver's stack for each callback.
struct TetherMessageInfo {
  uint32_t size;            // 16
  uint32_t senderProcessId;
  uint32_t messageCode;
  uint32_t payloadLength;
};
static_assert(sizeof(TetherMessageInfo) == 16);

// Called on the receiver's watcher thread with the payload in the shared block (null when
// the payload is empty); it may rewrite up to payloadLength bytes in place. The result is
// ignored. It must not throw.
using TetherReceiveCallback = int32_t (*)(TetherMessageInfo* info, void* payload, void* context);

struct TetherCreateParams {
  uint32_t size;                   // 164 on the 32-bit build; not read
  char16_t name[64];               // channel name, NUL-terminated (at most 63 characters)
  uint32_t capacity;               // largest payload; the shared block is capacity + 24 bytes
  uint8_t role;                    // 0 receiver, anything else sender
  uint8_t unused[3];               // not read
  uint32_t timeoutMs;              // every mutex and acknowledgement wait; bounds the poll interval
  uint32_t reserved[2];            // not read
  TetherReceiveCallback callback;  // receiver role, may be null
  void* context;                   // handed to the callback
  uint32_t orderingKey;            // receiver role: sent with the registration
};
static_assert(offsetof(TetherCreateParams, name) == 4);
static_assert(offsetof(TetherCreateParams, capacity) == 132);
static_assert(offsetof(TetherCreateParams, role) == 136);
static_assert(offsetof(TetherCreateParams, timeoutMs) == 140);
static_assert(offsetof(TetherCreateParams, reserved) == 144);
static_assert(offsetof(TetherCreateParams, callback) == 152);
static_assert(sizeof(void*) != 4 || sizeof(TetherCreateParams) == 164, "exact 32-bit layout");
static_assert(sizeof(void*) != 4 || offsetof(TetherCreateParams, orderingKey) == 160);
static_assert(sizeof(void*) != 8 || sizeof(TetherCreateParams) == 176);

extern "C" {

// Creates a channel end. The receiver role first registers the name with the capture
// service's registration pipe and fails when that is refused or nobody answers. Returns the
// handle, or -1 on any failure.
TetherHandle Tether_CreateInstance(TetherCreateParams params);

// Sender role: writes min(capacity, length) bytes of `buffer` as one message, waits up to the
// time-out for the acknowledgement and, with `reply` non-zero, then copies the message as the
// receiver left it back into `buffer`. Returns the bytes written, or -1, -2, -5, -1000 (see
// the constants above).
int32_t Tether_SendMessage(TetherHandle handle, void* buffer, uint32_t length, int32_t reply);

// Stops the watcher, closes the channel and (receiver role) unregisters the name. A handle
// of no live instance is ignored.
void Tether_DeleteInstance(TetherHandle handle);

// Releases a send waiting for its acknowledgement; that send then counts the message as
// acknowledged. Takes no lock; a handle of no live instance is ignored.
void Tether_Abort(TetherHandle handle);

}  // extern "C"
