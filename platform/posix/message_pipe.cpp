// The registration transport on Linux: a Unix-domain SOCK_SEQPACKET socket (message
// boundaries kept, one request and one reply per connection), mode 0666 so every local user
// may connect.
#include "platform/message_pipe.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/posix/posix_common.h"

namespace platform {
namespace {

bool MakeAddress(const char16_t* pipeName, sockaddr_un* addr) {
  const std::string path = PipeSocketPath(pipeName);
  if (path.empty() || path.size() >= sizeof addr->sun_path) return false;
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Waits until `fd` is readable or `stop` is set: 1 readable, 0 stopped, -1 failure.
int WaitReadable(int fd, const Event& stop) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {stop.get()->fd, POLLIN, 0}};
  for (;;) {
    const int n = ::poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (fds[1].revents & POLLIN) return 0;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) return 1;
    if (fds[0].revents & POLLNVAL) return -1;
  }
}

class SocketServer final : public MessagePipeServer {
 public:
  SocketServer(int fd, std::string path, uint32_t maxBytes) : fd_(fd), path_(std::move(path)), maxBytes_(maxBytes) {}
  ~SocketServer() override { ::unlink(path_.c_str()); }

  bool Serve(const Event& stop, PipeRequestHandler handler, void* context) override {
    if (!stop.valid() || handler == nullptr) return false;
    std::vector<uint8_t> request(maxBytes_ + 1);
    uint8_t reply[256];
    for (;;) {
      const int ready = WaitReadable(fd_.get(), stop);
      if (ready <= 0) return ready == 0;
      UniqueFd client(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (client.get() < 0) {
        if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN) continue;
        return false;
      }
      const int readable = WaitReadable(client.get(), stop);
      if (readable < 0) continue;
      if (readable == 0) return true;
      std::memset(request.data(), 0, request.size());
      // MSG_TRUNC gives the message's real length: one longer than maxBytes_ is a failed read.
      const ssize_t got = ::recv(client.get(), request.data(), maxBytes_, MSG_TRUNC);
      if (got <= 0 || static_cast<size_t>(got) > maxBytes_) continue;  // no reply
      const uint32_t replyBytes = handler(context, request.data(), static_cast<uint32_t>(got), reply, sizeof reply);
      if (replyBytes > 0) (void)::send(client.get(), reply, replyBytes < sizeof reply ? replyBytes : sizeof reply, MSG_NOSIGNAL);
    }
  }

 private:
  UniqueFd fd_;
  std::string path_;
  uint32_t maxBytes_;
};

}  // namespace

std::string PipeSocketPath(const char16_t* pipeName) {
  if (pipeName == nullptr || *pipeName == 0) return std::string();
  std::string name = posix::Utf8(pipeName);
  const size_t cut = name.find_last_of("\\/");
  if (cut != std::string::npos) name = name.substr(cut + 1);
  if (name.empty()) return std::string();
  const char* dir = std::getenv("KESTREL_PIPE_DIR");
  return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/" + name;
}

namespace {

class SocketConnection final : public MessagePipeConnection {
 public:
  explicit SocketConnection(int fd) : fd_(fd) {}
  bool Write(const void* data, uint32_t bytes) override {
    return ::send(fd_.get(), data, bytes, MSG_NOSIGNAL) == static_cast<ssize_t>(bytes);
  }
  int32_t Read(void* data, uint32_t capacity) override {
    ssize_t got;
    do {
      got = ::recv(fd_.get(), data, capacity, 0);
    } while (got < 0 && errno == EINTR);
    return got <= 0 ? -1 : static_cast<int32_t>(got);
  }

 private:
  UniqueFd fd_;
};

}  // namespace

std::unique_ptr<MessagePipeConnection> MessagePipeConnection::Connect(const char16_t* pipeName) {
  sockaddr_un addr;
  if (!MakeAddress(pipeName, &addr)) return nullptr;
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<MessagePipeConnection>(new SocketConnection(fd));
}

std::unique_ptr<MessagePipeServer> MessagePipeServer::Create(const char16_t* pipeName, uint32_t maxMessageBytes) {
  sockaddr_un addr;
  if (maxMessageBytes == 0 || !MakeAddress(pipeName, &addr)) return nullptr;
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  // A socket file nobody listens on is a leftover of an ended server.
  {
    UniqueFd probe(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (::connect(probe.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      ::close(fd);
      return nullptr;
    }
    if (errno == ECONNREFUSED) ::unlink(addr.sun_path);
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::chmod(addr.sun_path, 0666) != 0 ||
      ::listen(fd, 16) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<MessagePipeServer>(new SocketServer(fd, addr.sun_path, maxMessageBytes));
}

}  // namespace platform
