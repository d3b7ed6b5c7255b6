// The registration transport on Windows: a message-mode named pipe with one instance, open
// to every user, served with overlapped operations so a stop request is always seen.
#include "platform/message_pipe.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace platform {
namespace {

const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

class PipeServer final : public MessagePipeServer {
 public:
  PipeServer(HANDLE pipe, uint32_t maxBytes)
      : pipe_(pipe), maxBytes_(maxBytes), ioEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~PipeServer() override {
    CancelIoEx(pipe_, nullptr);
    CloseHandle(pipe_);
    if (ioEvent_) CloseHandle(ioEvent_);
  }

  bool Serve(const Event& stop, PipeRequestHandler handler, void* context) override {
    if (!stop.valid() || handler == nullptr || ioEvent_ == nullptr) return false;
    HANDLE stopHandle = reinterpret_cast<HANDLE>(stop.get());
    std::vector<uint8_t> request(maxBytes_);
    uint8_t reply[256];
    for (;;) {
      DWORD bytes = 0;
      bool ok = true;
      Begin();
      if (!ConnectNamedPipe(pipe_, &ov_)) {
        const DWORD err = GetLastError();
        if (err == ERROR_IO_PENDING) {
          if (!Finish(stopHandle, &bytes, &ok)) return true;
          if (!ok) return false;
        } else if (err != ERROR_PIPE_CONNECTED) {
          return false;
        }
      }
      if (WaitForSingleObject(stopHandle, 0) == WAIT_OBJECT_0) {
        DisconnectNamedPipe(pipe_);
        return true;
      }
      std::fill(request.begin(), request.end(), 0);
      Begin();
      ok = ReadFile(pipe_, request.data(), maxBytes_, nullptr, &ov_) != FALSE;
      if (ok || GetLastError() == ERROR_IO_PENDING) {
        if (!Finish(stopHandle, &bytes, &ok)) {
          DisconnectNamedPipe(pipe_);
          return true;
        }
      }
      // A failed read (also one longer than maxBytes_) gets no reply.
      if (ok && bytes > 0) {
        const uint32_t replyBytes = handler(context, request.data(), bytes, reply, sizeof reply);
        if (replyBytes > 0) {
          Begin();
          const DWORD n = replyBytes < sizeof reply ? replyBytes : sizeof reply;
          // A stop requested meanwhile still lets the client have its reply.
          bool wrote = WriteFile(pipe_, reply, n, nullptr, &ov_) != FALSE;
          if (wrote || GetLastError() == ERROR_IO_PENDING) {
            DWORD written = 0;
            wrote = FinishWithin(kClientReadMs, &written);
            // Disconnecting discards a reply the client has not read yet.
            if (wrote) AwaitClientClose();
            if (WaitForSingleObject(stopHandle, 0) == WAIT_OBJECT_0) {
              DisconnectNamedPipe(pipe_);
              return true;
            }
          }
        }
      }
      DisconnectNamedPipe(pipe_);
    }
  }

 private:
  void Begin() {
    ov_ = OVERLAPPED{};
    ov_.hEvent = ioEvent_;
    ResetEvent(ioEvent_);
  }

  // A client that has its reply reads it and hangs up at once; one that does neither is
  // not waited for longer than this.
  static constexpr DWORD kClientReadMs = 2000;

  // Waits up to `ms` for the operation in ov_: true when it succeeded; cancelled otherwise.
  bool FinishWithin(DWORD ms, DWORD* bytes) {
    if (WaitForSingleObject(ioEvent_, ms) != WAIT_OBJECT_0) {
      CancelIoEx(pipe_, &ov_);
      WaitForSingleObject(ioEvent_, 5000);
    }
    return GetOverlappedResult(pipe_, &ov_, bytes, FALSE) != FALSE;
  }

  // Waits until the client closes its end, which it does once it has read the reply.
  void AwaitClientClose() {
    uint8_t scratch[1];
    DWORD bytes = 0;
    Begin();
    if (!ReadFile(pipe_, scratch, sizeof scratch, nullptr, &ov_) && GetLastError() == ERROR_IO_PENDING)
      FinishWithin(kClientReadMs, &bytes);
  }

  // Waits for the operation in ov_ or for `stop`: true when the operation finished (its
  // result in *bytes, *ok false on failure); false when stopped, after cancelling it.
  bool Finish(HANDLE stop, DWORD* bytes, bool* ok) {
    HANDLE both[2] = {ioEvent_, stop};
    const DWORD w = WaitForMultipleObjects(2, both, FALSE, INFINITE);
    if (w != WAIT_OBJECT_0) {
      CancelIoEx(pipe_, &ov_);
      if (WaitForSingleObject(ioEvent_, 5000) == WAIT_OBJECT_0) GetOverlappedResult(pipe_, &ov_, bytes, FALSE);
      return false;
    }
    *ok = GetOverlappedResult(pipe_, &ov_, bytes, FALSE) != FALSE;
    return true;
  }

  HANDLE pipe_;
  uint32_t maxBytes_;
  HANDLE ioEvent_;
  OVERLAPPED ov_{};
};

}  // namespace

std::string PipeSocketPath(const char16_t*) { return std::string(); }

namespace {

class PipeConnection final : public MessagePipeConnection {
 public:
  explicit PipeConnection(HANDLE h) : h_(h) {}
  ~PipeConnection() override { CloseHandle(h_); }
  bool Write(const void* data, uint32_t bytes) override {
    DWORD done = 0;
    return WriteFile(h_, data, bytes, &done, nullptr) && done == bytes;
  }
  int32_t Read(void* data, uint32_t capacity) override {
    DWORD done = 0;
    return ReadFile(h_, data, capacity, &done, nullptr) ? static_cast<int32_t>(done) : -1;
  }

 private:
  HANDLE h_;
};

}  // namespace

std::unique_ptr<MessagePipeConnection> MessagePipeConnection::Connect(const char16_t* pipeName) {
  if (pipeName == nullptr) return nullptr;
  HANDLE pipe;
  // A busy pipe is waited for with its default time-out, as often as it stays busy. That
  // time-out is short (50 ms); a server thread that is not scheduled in time is not gone,
  // so a timed-out wait is retried for up to kBusyServerMs.
  static constexpr DWORD kBusyServerMs = 10000;
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    pipe = CreateFileW(W(pipeName), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) break;
    if (GetLastError() != ERROR_PIPE_BUSY) return nullptr;
    if (!WaitNamedPipeW(W(pipeName), NMPWAIT_USE_DEFAULT_WAIT) &&
        (GetLastError() != ERROR_SEM_TIMEOUT || GetTickCount64() - start > kBusyServerMs)) {
      return nullptr;
    }
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) {
    CloseHandle(pipe);
    return nullptr;
  }
  return std::unique_ptr<MessagePipeConnection>(new PipeConnection(pipe));
}

std::unique_ptr<MessagePipeServer> MessagePipeServer::Create(const char16_t* pipeName, uint32_t maxMessageBytes) {
  if (pipeName == nullptr || maxMessageBytes == 0) return nullptr;
  // A null discretionary list lets every caller open the pipe.
  SECURITY_DESCRIPTOR sd;
  if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) || !SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE))
    return nullptr;
  SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
  HANDLE pipe = CreateNamedPipeW(W(pipeName), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0, 0, 0, &sa);
  if (pipe == nullptr || pipe == INVALID_HANDLE_VALUE) return nullptr;
  return std::unique_ptr<MessagePipeServer>(new PipeServer(pipe, maxMessageBytes));
}

}  // namespace platform
