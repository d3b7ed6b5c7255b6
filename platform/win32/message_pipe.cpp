// The registration transport on Windows: a message-mode named pipe with one instance, open
// to every user, served with overlapped operations so a stop request is always seen.
#include "platform/message_pipe.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace platform {
namespace {

const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

// The outcome of waiting for an overlapped operation.
enum class Io { kDone, kFailed, kStopped, kTimedOut };

// A cancelled operation still owns its OVERLAPPED until it completes; this long is allowed.
constexpr DWORD kCancelWaitMs = 5000;

// Waits up to `ms` for the operation in `ov` on `h` (whose event is `ioEvent`) or for `stop`
// (none when null). One that does not finish is cancelled. False in *settled when even the
// cancelled operation did not complete, so `ov` may not be reused.
Io AwaitIo(HANDLE h, OVERLAPPED* ov, HANDLE ioEvent, HANDLE stop, DWORD ms, DWORD* bytes, bool* settled) {
  HANDLE both[2] = {ioEvent, stop};
  const DWORD w = WaitForMultipleObjects(stop != nullptr ? 2 : 1, both, FALSE, ms);
  *settled = true;
  if (w == WAIT_OBJECT_0) return GetOverlappedResult(h, ov, bytes, FALSE) ? Io::kDone : Io::kFailed;
  CancelIoEx(h, ov);
  if (WaitForSingleObject(ioEvent, kCancelWaitMs) == WAIT_OBJECT_0)
    GetOverlappedResult(h, ov, bytes, FALSE);
  else
    *settled = false;
  if (w == WAIT_OBJECT_0 + 1) return Io::kStopped;
  return w == WAIT_TIMEOUT ? Io::kTimedOut : Io::kFailed;
}

class PipeServer final : public MessagePipeServer {
 public:
  PipeServer(HANDLE pipe, uint32_t maxBytes, HANDLE ioEvent) : pipe_(pipe), maxBytes_(maxBytes), ioEvent_(ioEvent) {}
  ~PipeServer() override {
    CancelIoEx(pipe_, nullptr);
    CloseHandle(pipe_);
    // An operation that would not cancel ends with its handle; ov_ must outlive it.
    if (stuck_) WaitForSingleObject(ioEvent_, kCancelWaitMs);
    CloseHandle(ioEvent_);
  }

  bool Serve(const Event& stop, PipeRequestHandler handler, void* context) override {
    if (!stop.valid() || handler == nullptr) return false;
    HANDLE stopHandle = reinterpret_cast<HANDLE>(stop.get());
    std::vector<uint8_t> request(maxBytes_);
    for (;;) {
      switch (Connect(stopHandle)) {
        case Link::kStopped:
          return true;
        case Link::kBroken:
          return false;
        case Link::kGone:
          // A client that hung up before it was served leaves the instance to be reset.
          DisconnectNamedPipe(pipe_);
          continue;
        case Link::kConnected:
          break;
      }
      const Served served = ServeOne(stopHandle, handler, context, request);
      DisconnectNamedPipe(pipe_);
      if (served == Served::kStopped) return true;
      if (served == Served::kStuck) return false;
    }
  }

 private:
  enum class Link { kConnected, kGone, kStopped, kBroken };
  enum class Served { kDone, kStopped, kStuck };

  void Begin() {
    ov_ = OVERLAPPED{};
    ov_.hEvent = ioEvent_;
    ResetEvent(ioEvent_);
  }

  Io Await(HANDLE stop, DWORD ms, DWORD* bytes) {
    bool settled = true;
    const Io r = AwaitIo(pipe_, &ov_, ioEvent_, stop, ms, bytes, &settled);
    stuck_ = !settled;
    return r;
  }

  // Waits for the next client. Only a failure of the pipe itself is kBroken.
  Link Connect(HANDLE stop) {
    if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) return Link::kStopped;
    Begin();
    if (ConnectNamedPipe(pipe_, &ov_)) return Link::kConnected;
    switch (GetLastError()) {
      case ERROR_PIPE_CONNECTED:  // it connected before we listened
        return Link::kConnected;
      case ERROR_NO_DATA:  // it connected and closed again before we listened
        return Link::kGone;
      case ERROR_IO_PENDING:
        break;
      default:
        return Link::kBroken;
    }
    DWORD bytes = 0;
    switch (Await(stop, INFINITE, &bytes)) {
      case Io::kDone:
        return Link::kConnected;
      case Io::kStopped:
        return stuck_ ? Link::kBroken : Link::kStopped;
      default:
        return stuck_ ? Link::kBroken : Link::kGone;
    }
  }

  // One request and its reply. Whatever the client does ends with kDone; kStuck when the
  // pipe would not even cancel an operation.
  Served ServeOne(HANDLE stop, PipeRequestHandler handler, void* context, std::vector<uint8_t>& request) {
    std::fill(request.begin(), request.end(), 0);
    DWORD bytes = 0;
    Begin();
    if (!ReadFile(pipe_, request.data(), maxBytes_, nullptr, &ov_) && GetLastError() != ERROR_IO_PENDING)
      return Served::kDone;  // gone already, or a message longer than maxBytes_: no reply
    // A silent client is dropped after kPipeSilentClientMs.
    const Io read = Await(stop, kPipeSilentClientMs, &bytes);
    if (stuck_) return Served::kStuck;
    if (read == Io::kStopped) return Served::kStopped;
    if (read != Io::kDone || bytes == 0) return Served::kDone;
    uint8_t reply[256];
    const uint32_t replyBytes = handler(context, request.data(), bytes, reply, sizeof reply);
    if (replyBytes > 0) {
      // A stop requested meanwhile still lets the client have its reply; a client that does
      // not take it, or does not hang up after it, is not waited for past the silent bound.
      Begin();
      const DWORD n = replyBytes < sizeof reply ? replyBytes : sizeof reply;
      DWORD written = 0;
      if ((WriteFile(pipe_, reply, n, nullptr, &ov_) || GetLastError() == ERROR_IO_PENDING) &&
          Await(nullptr, kPipeSilentClientMs, &written) == Io::kDone) {
        AwaitClientClose();  // disconnecting discards a reply the client has not read yet
      }
      if (stuck_) return Served::kStuck;
    }
    return WaitForSingleObject(stop, 0) == WAIT_OBJECT_0 ? Served::kStopped : Served::kDone;
  }

  // Waits until the client closes its end, which it does once it has read the reply.
  void AwaitClientClose() {
    uint8_t scratch[1];
    DWORD bytes = 0;
    Begin();
    if (!ReadFile(pipe_, scratch, sizeof scratch, nullptr, &ov_) && GetLastError() == ERROR_IO_PENDING)
      Await(nullptr, kPipeSilentClientMs, &bytes);
  }

  HANDLE pipe_;
  uint32_t maxBytes_;
  HANDLE ioEvent_;
  OVERLAPPED ov_{};
  bool stuck_ = false;
};

}  // namespace

std::string PipeSocketPath(const char16_t*) { return std::string(); }

namespace {

class PipeConnection final : public MessagePipeConnection {
 public:
  PipeConnection(HANDLE h, HANDLE ioEvent) : h_(h), ioEvent_(ioEvent) {}
  ~PipeConnection() override {
    CancelIoEx(h_, nullptr);
    CloseHandle(h_);
    // An operation that would not cancel ends with its handle; ov_ must outlive it.
    if (stuck_) WaitForSingleObject(ioEvent_, kCancelWaitMs);
    CloseHandle(ioEvent_);
  }
  bool Write(const void* data, uint32_t bytes) override {
    DWORD done = 0;
    return Transfer(true, const_cast<void*>(data), bytes, &done) && done == bytes;
  }
  int32_t Read(void* data, uint32_t capacity) override {
    DWORD done = 0;
    return Transfer(false, data, capacity, &done) ? static_cast<int32_t>(done) : -1;
  }

 private:
  // One overlapped write or read, given up after kPipeReplyWaitMs.
  bool Transfer(bool write, void* data, DWORD bytes, DWORD* done) {
    if (stuck_) return false;
    ov_ = OVERLAPPED{};
    ov_.hEvent = ioEvent_;
    ResetEvent(ioEvent_);
    const BOOL started = write ? WriteFile(h_, data, bytes, nullptr, &ov_) : ReadFile(h_, data, bytes, nullptr, &ov_);
    if (!started && GetLastError() != ERROR_IO_PENDING) return false;
    bool settled = true;
    const Io r = AwaitIo(h_, &ov_, ioEvent_, nullptr, kPipeReplyWaitMs, done, &settled);
    stuck_ = !settled;  // ov_ is still in use: no further operation
    return r == Io::kDone;
  }

  HANDLE h_;
  HANDLE ioEvent_;
  OVERLAPPED ov_{};
  bool stuck_ = false;
};

}  // namespace

std::unique_ptr<MessagePipeConnection> MessagePipeConnection::Connect(const char16_t* pipeName) {
  if (pipeName == nullptr) return nullptr;
  HANDLE pipe;
  // A busy pipe is waited for with its default time-out, as often as it stays busy. That
  // time-out is short (50 ms); a server busy with others is not gone, so a timed-out wait
  // is retried for up to kPipeTurnWaitMs.
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    pipe = CreateFileW(W(pipeName), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr);
    if (pipe != INVALID_HANDLE_VALUE) break;
    if (GetLastError() != ERROR_PIPE_BUSY) return nullptr;
    if (!WaitNamedPipeW(W(pipeName), NMPWAIT_USE_DEFAULT_WAIT) &&
        (GetLastError() != ERROR_SEM_TIMEOUT || GetTickCount64() - start > kPipeTurnWaitMs)) {
      return nullptr;
    }
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  HANDLE ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (ioEvent == nullptr || !SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) {
    if (ioEvent != nullptr) CloseHandle(ioEvent);
    CloseHandle(pipe);
    return nullptr;
  }
  return std::unique_ptr<MessagePipeConnection>(new PipeConnection(pipe, ioEvent));
}

std::unique_ptr<MessagePipeServer> MessagePipeServer::Create(const char16_t* pipeName, uint32_t maxMessageBytes) {
  if (pipeName == nullptr || maxMessageBytes == 0) return nullptr;
  // A null discretionary list lets every caller open the pipe. Only the first instance of a
  // name may be created, so a process already listening under it keeps it and we fail.
  SECURITY_DESCRIPTOR sd;
  if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) || !SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE))
    return nullptr;
  SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
  HANDLE pipe = CreateNamedPipeW(W(pipeName), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0, 0, 0, &sa);
  if (pipe == nullptr || pipe == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (ioEvent == nullptr) {
    CloseHandle(pipe);
    return nullptr;
  }
  return std::unique_ptr<MessagePipeServer>(new PipeServer(pipe, maxMessageBytes, ioEvent));
}

}  // namespace platform
