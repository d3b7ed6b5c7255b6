#include "platform/message_pipe.h"

namespace platform {

int32_t CallMessagePipe(const char16_t* pipeName, const void* request, uint32_t requestBytes, void* reply,
                        uint32_t replyCapacity) {
  if (request == nullptr) return -1;
  auto c = MessagePipeConnection::Connect(pipeName);
  if (!c || !c->Write(request, requestBytes)) return -1;
  return c->Read(reply, replyCapacity);
}

}  // namespace platform
