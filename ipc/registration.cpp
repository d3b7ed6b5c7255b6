// The registration requester: builds the 152-byte request and makes one call on the pipe.
#include "ipc/registration.h"

#include <atomic>
#include <cstring>

#include "platform/message_pipe.h"
#include "platform/text.h"

namespace {

std::atomic<const char16_t*> g_pipeName{kRegistrationPipeName};

}  // namespace

RegistrationMessage BuildRegistrationMessage(uint32_t command, uint32_t orderingKey, const char16_t* name,
                                             uint32_t capacity) {
  RegistrationMessage m;
  std::memset(&m, 0, sizeof m);
  m.headerSize = kRegistrationHeaderBytes;
  m.command = command;
  m.totalLength = sizeof(RegistrationMessage);
  m.payloadLength = sizeof(RegistrationMessage) - kRegistrationHeaderBytes;
  m.orderingKey = orderingKey;
  platform::CopyName(m.name, name);
  m.capacity = capacity;
  return m;
}

int SendRegistrationRequest(const char16_t* name, uint32_t orderingKey, uint32_t capacity, bool unregister) {
  const RegistrationMessage m =
      BuildRegistrationMessage(unregister ? kRegistrationUnregister : kRegistrationRegister, orderingKey, name, capacity);
  uint8_t reply[4] = {};
  const int32_t got = platform::CallMessagePipe(RegistrationPipeName(), &m, sizeof m, reply, sizeof reply);
  if (got != 4) return 0;
  uint32_t value;
  std::memcpy(&value, reply, sizeof value);
  return value != 0 ? 1 : 0;
}

void SetRegistrationPipeName(const char16_t* pipeName) {
  g_pipeName.store(pipeName != nullptr ? pipeName : kRegistrationPipeName);
}

const char16_t* RegistrationPipeName() { return g_pipeName.load(); }
