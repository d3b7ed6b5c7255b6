// The registration transport: one request and one reply per connection, between processes
// of any local user. A named pipe in message mode on Windows; on Linux a Unix-domain
// SOCK_SEQPACKET socket whose path comes from the pipe name (see PipeSocketPath).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/event.h"

namespace platform {

// A connected client that sends nothing is dropped after this long: a real client writes its
// request right after connecting, and one silent client must not hold up everyone behind it.
inline constexpr uint32_t kPipeSilentClientMs = 2000;
// The longest a client waits for a server that is busy with others or slow to answer: several
// silent clients' worth, so a queue behind them still gets through, yet a stuck server never
// holds a client (and its Ctrl-C) for good.
inline constexpr uint32_t kPipeReplyWaitMs = 10000;
// The longest a client waits for its turn while the server serves others (a busy pipe, a full
// queue of connections): one server takes a burst of clients one at a time, and on a loaded
// machine the last of 32 or 64 can wait longer than kPipeReplyWaitMs for its turn.
inline constexpr uint32_t kPipeTurnWaitMs = 30000;

// Client side: connects to the pipe `pipeName`, sends `request` as one message and reads one
// reply message of at most `replyCapacity` bytes into `reply`. A busy pipe is waited for
// (the pipe's default wait, again and again, up to kPipeTurnWaitMs). Returns the reply's
// size, or -1 when there is no server, a step fails or no reply comes within
// kPipeReplyWaitMs.
int32_t CallMessagePipe(const char16_t* pipeName, const void* request, uint32_t requestBytes, void* reply,
                        uint32_t replyCapacity);

// One client connection, for a caller that writes and reads by itself.
class MessagePipeConnection {
 public:
  virtual ~MessagePipeConnection() = default;
  // Connects as CallMessagePipe does; null when there is no server or a step fails.
  static std::unique_ptr<MessagePipeConnection> Connect(const char16_t* pipeName);
  // Sends one message; false on failure, or when it is not taken within kPipeReplyWaitMs.
  virtual bool Write(const void* data, uint32_t bytes) = 0;
  // Reads one message; its size, or -1 on failure (also when the server disconnects, and
  // when nothing comes within kPipeReplyWaitMs).
  virtual int32_t Read(void* data, uint32_t capacity) = 0;
};

// Server side: the handler gets each request (`bytes` read, at most the server's message
// size; only those bytes are meaningful) and writes its reply into `reply` (room for
// `replyCapacity` bytes); it returns the reply's size, or 0 to answer nothing.
using PipeRequestHandler = uint32_t (*)(void* context, const uint8_t* request, uint32_t bytes, uint8_t* reply,
                                        uint32_t replyCapacity);

class MessagePipeServer {
 public:
  virtual ~MessagePipeServer() = default;
  // Creates the listening end, which every local user may connect to; null on failure, also
  // when another process already listens under the name (the name is never shared).
  static std::unique_ptr<MessagePipeServer> Create(const char16_t* pipeName, uint32_t maxMessageBytes);
  // Serves clients one at a time, one request and one reply each, until `stop` is set: it
  // ends while no client is connected, while one is being served, and while a connected
  // client never writes. A client that connects before Serve runs is served.
  // Nothing a client does ends it: a client that hangs up before or while it is served,
  // sends nothing for kPipeSilentClientMs, sends a message longer than the server's message
  // size, or never reads its reply costs that connection only (no reply, then the server
  // listens again). Returns true when `stop` ended it, false when the listening end itself
  // failed; the caller then creates a new server to go on.
  virtual bool Serve(const Event& stop, PipeRequestHandler handler, void* context) = 0;
};

// Linux: the socket for `pipeName` is "<dir>/<last component of the name>", dir being
// $KESTREL_PIPE_DIR or kDefaultPipeDir ("\\.\Pipe\OruVLM_x" becomes "/run/kestrel/OruVLM_x").
// Empty on Windows.
std::string PipeSocketPath(const char16_t* pipeName);

// Linux: where the sockets go unless $KESTREL_PIPE_DIR says otherwise. The server creates
// it (mode 0755) and uses it only while it is a real folder of its own user or root that no
// one else may write to; a client only while no one but its owner may write to it. So no
// other user can plant or swap a socket there.
inline constexpr char kDefaultPipeDir[] = "/run/kestrel";

}  // namespace platform
