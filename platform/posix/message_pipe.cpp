// The registration transport on Linux: a Unix-domain SOCK_SEQPACKET socket (message
// boundaries kept, one request and one reply per connection), mode 0666 so every local user
// may connect, in a folder that no other user can write to.
#include "platform/message_pipe.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/posix/posix_common.h"
#include "platform/text.h"

namespace platform {
namespace {

// Out of descriptors or memory for one more connection: pause this long before accepting
// again, so the server neither spins on the waiting connection nor gives up.
constexpr uint32_t kOutOfResourcesPauseMs = 100;

// The folder named by $KESTREL_PIPE_DIR, which its setter answers for; else the default.
std::string SocketFolder(bool* isDefault) {
  const char* dir = std::getenv("KESTREL_PIPE_DIR");
  *isDefault = dir == nullptr || *dir == '\0';
  return *isDefault ? std::string(kDefaultPipeDir) : std::string(dir);
}

// A real folder (not a link) that only its owner may write to; for a server (`ownOrRoot`)
// that owner must also be this user or root, or the owner could swap the socket.
bool IsPrivateFolder(const std::string& dir, bool ownOrRoot) {
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (ownOrRoot && st.st_uid != ::geteuid() && st.st_uid != 0) return false;
  return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The socket's address. The default folder is created by a server (`create`) and used by
// either side only while it is private.
bool MakeAddress(const char16_t* pipeName, sockaddr_un* addr, bool create) {
  const std::string path = PipeSocketPath(pipeName);
  if (path.empty() || path.size() >= sizeof addr->sun_path) return false;
  bool isDefault = false;
  const std::string dir = SocketFolder(&isDefault);
  if (isDefault) {
    // chmod past the umask: clients of every user must reach the socket inside.
    if (create && ::mkdir(dir.c_str(), 0755) == 0) ::chmod(dir.c_str(), 0755);
    if (!IsPrivateFolder(dir, create)) return false;
  }
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
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

enum class Ready { kReadable, kStopped, kTimedOut, kFailed };

// Waits up to `timeoutMs` (kInfinite: no limit) until `fd` is readable or `stop` is set; a
// stop wins over a readable descriptor.
Ready WaitReadable(int fd, const Event& stop, uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  pollfd fds[2] = {{fd, POLLIN, 0}, {stop.get()->fd, POLLIN, 0}};
  for (;;) {
    int wait = -1;
    if (timeoutMs != kInfinite) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    const int n = ::poll(fds, 2, wait);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Ready::kFailed;
    if (fds[1].revents & POLLIN) return Ready::kStopped;
    if (fds[1].revents & (POLLERR | POLLNVAL)) return Ready::kFailed;
    if (fds[0].revents & POLLNVAL) return Ready::kFailed;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) return Ready::kReadable;
    if (n == 0) return Ready::kTimedOut;
  }
}

class SocketServer final : public MessagePipeServer {
 public:
  SocketServer(int fd, std::string path, uint32_t maxBytes) : fd_(fd), path_(std::move(path)), maxBytes_(maxBytes) {
    struct stat st;
    if (::lstat(path_.c_str(), &st) == 0) {
      dev_ = st.st_dev;
      ino_ = st.st_ino;
    }
  }
  ~SocketServer() override {
    // Only our own socket file: a server that took the name since keeps its own.
    struct stat st;
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) ::unlink(path_.c_str());
  }

  bool Serve(const Event& stop, PipeRequestHandler handler, void* context) override {
    if (!stop.valid() || handler == nullptr) return false;
    std::vector<uint8_t> request(maxBytes_);
    for (;;) {
      const Ready ready = WaitReadable(fd_.get(), stop, kInfinite);
      if (ready == Ready::kStopped) return true;
      if (ready != Ready::kReadable) return false;
      UniqueFd client(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (client.get() < 0) {
        const int err = errno;
        // The connection that was waiting has gone again, or a signal came: nothing lost.
        if (err == EINTR || err == ECONNABORTED || err == EAGAIN || err == EWOULDBLOCK || err == EPROTO ||
            err == EPERM)
          continue;
        if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
          if (stop.Wait(kOutOfResourcesPauseMs) == kWaitObject0) return true;
          continue;
        }
        return false;  // the listening socket itself
      }
      if (!ServeOne(client.get(), stop, handler, context, request)) return true;
    }
  }

 private:
  // One connection: false when a stop was seen while waiting for its request.
  bool ServeOne(int client, const Event& stop, PipeRequestHandler handler, void* context,
                std::vector<uint8_t>& request) {
    const Ready readable = WaitReadable(client, stop, kPipeSilentClientMs);
    if (readable == Ready::kStopped) return false;
    if (readable != Ready::kReadable) return true;  // silent for too long, or gone: dropped
    std::memset(request.data(), 0, request.size());
    // MSG_TRUNC gives the message's real length: one longer than maxBytes_ is a failed read.
    ssize_t got;
    do {
      got = ::recv(client, request.data(), maxBytes_, MSG_TRUNC | MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got <= 0 || static_cast<size_t>(got) > maxBytes_) return true;  // hung up or too long: no reply
    uint8_t reply[256];
    const uint32_t replyBytes = handler(context, request.data(), static_cast<uint32_t>(got), reply, sizeof reply);
    // A client that never reads cannot hold the server: the reply is queued or dropped.
    if (replyBytes > 0)
      (void)::send(client, reply, replyBytes < sizeof reply ? replyBytes : sizeof reply, MSG_NOSIGNAL | MSG_DONTWAIT);
    return true;
  }

  UniqueFd fd_;
  std::string path_;
  uint32_t maxBytes_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

// Send and receive time-outs of a client socket (the send one also bounds connect).
bool BoundWaits(int fd, uint32_t ms) {
  timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000) * 1000};
  return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
         ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

}  // namespace

std::string PipeSocketPath(const char16_t* pipeName) {
  if (pipeName == nullptr || *pipeName == 0) return std::string();
  std::string name = Utf16ToUtf8(pipeName);
  const size_t cut = name.find_last_of("\\/");
  if (cut != std::string::npos) name = name.substr(cut + 1);
  if (name.empty()) return std::string();
  bool isDefault = false;
  return SocketFolder(&isDefault) + "/" + name;
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
  if (!MakeAddress(pipeName, &addr, false)) return nullptr;
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (fd.get() < 0 || !BoundWaits(fd.get(), kPipeTurnWaitMs)) return nullptr;
  // A full backlog makes connect wait, up to the send time-out.
  int rc;
  do {
    rc = ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 || !BoundWaits(fd.get(), kPipeReplyWaitMs)) return nullptr;
  return std::unique_ptr<MessagePipeConnection>(new SocketConnection(fd.release()));
}

std::unique_ptr<MessagePipeServer> MessagePipeServer::Create(const char16_t* pipeName, uint32_t maxMessageBytes) {
  sockaddr_un addr;
  if (maxMessageBytes == 0 || !MakeAddress(pipeName, &addr, true)) return nullptr;
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) return nullptr;
  {
    // Someone listens there already (a full backlog answers EAGAIN): the name is theirs. A
    // socket file nobody listens on is a leftover of an ended server.
    UniqueFd probe(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (probe.get() < 0) return nullptr;
    if (::connect(probe.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 || errno == EAGAIN)
      return nullptr;
    if (errno == ECONNREFUSED) ::unlink(addr.sun_path);
  }
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return nullptr;
  if (::chmod(addr.sun_path, 0666) != 0 || ::listen(fd.get(), 16) != 0) {
    ::unlink(addr.sun_path);
    return nullptr;
  }
  return std::unique_ptr<MessagePipeServer>(new SocketServer(fd.release(), addr.sun_path, maxMessageBytes));
}

}  // namespace platform
