// The client side of the registration pipe: a receiver announces its channel name, ordering
// key and capacity to the capture service before it opens the channel, and withdraws the name
// when it is deleted.
#pragma once

#include <cstdint>

inline constexpr char16_t kRegistrationPipeName[] = u"\\\\.\\Pipe\\OruVLM_E34F4402-4513-4c27-A78B-A25BFB1CCC8B";

inline constexpr uint32_t kRegistrationRegister = 0;
inline constexpr uint32_t kRegistrationUnregister = 1;
inline constexpr uint32_t kRegistrationHeaderBytes = 12;

// The request, 152 bytes, little-endian, the same on every build.
struct RegistrationMessage {
  uint32_t headerSize;     // kRegistrationHeaderBytes
  uint32_t command;        // 0 register, 1 unregister
  uint32_t totalLength;    // 152
  uint32_t payloadLength;  // 140
  uint32_t orderingKey;    // unregister: 0xFFFFFFFF
  char16_t name[64];       // NUL-terminated, at most 63 characters
  uint32_t capacity;       // unregister: 0
};
static_assert(sizeof(RegistrationMessage) == 152);
static_assert(__builtin_offsetof(RegistrationMessage, orderingKey) == 16);
static_assert(__builtin_offsetof(RegistrationMessage, name) == 20);
static_assert(__builtin_offsetof(RegistrationMessage, capacity) == 148);

// The request as it goes on the wire: the name is cut to 63 characters and terminated, and
// every other byte is 0.
RegistrationMessage BuildRegistrationMessage(uint32_t command, uint32_t orderingKey, const char16_t* name,
                                             uint32_t capacity);

// Sends one request and reads the 4-byte reply: 1 when the reply is non-zero, 0 on any
// failure (no server, a failed step, a short or zero reply).
int SendRegistrationRequest(const char16_t* name, uint32_t orderingKey, uint32_t capacity, bool unregister);

// The pipe the requests go to, kRegistrationPipeName unless a test named another one (null
// restores the default). Process-wide.
void SetRegistrationPipeName(const char16_t* pipeName);
const char16_t* RegistrationPipeName();
