// Threads on Windows: thin wrappers; the start routine makes the thread's message queue
// before the body runs, so a message posted right after creation is never lost.
#include "platform/thread.h"

#include <objbase.h>
#include <windows.h>

#include <new>

namespace platform {
namespace {

HANDLE H(ThreadObject* t) { return reinterpret_cast<HANDLE>(t); }

struct StartArgs {
  ThreadProc proc;
  void* arg;
  HANDLE queueReady;
};

DWORD WINAPI Start(LPVOID p) {
  StartArgs args = *static_cast<StartArgs*>(p);
  delete static_cast<StartArgs*>(p);
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  SetEvent(args.queueReady);
  return args.proc(args.arg);
}

int WinPriority(ThreadPriority p) { return static_cast<int>(p); }

// Wine sets up user32's built-in window classes once per process, on the first class
// registration of any thread, calling back into user32, which takes the loader lock; a thread
// that meanwhile registers a class inside a DllMain (holding the loader lock) waits on that
// once for ever. Before its first thread, the creator registers (and drops) a class of its
// own, so the set-up is over before a thread of ours can race it.
void SetUpWindowClassesOnce() {
  static const bool done = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KestrelThreadSetUp";
    if (RegisterClassW(&wc)) UnregisterClassW(wc.lpszClassName, wc.hInstance);
    return true;
  }();
  (void)done;
}

}  // namespace

ThreadObject* CreateThread(ThreadProc proc, void* arg, bool suspended, uint32_t* threadId) {
  if (proc == nullptr) return nullptr;
  SetUpWindowClassesOnce();
  auto* args = new (std::nothrow) StartArgs{proc, arg, nullptr};
  if (args == nullptr) return nullptr;
  // The queue exists once the thread has run its first lines; a suspended thread's queue
  // appears when it is resumed.
  HANDLE ready = suspended ? nullptr : CreateEventW(nullptr, TRUE, FALSE, nullptr);
  args->queueReady = ready;
  DWORD id = 0;
  HANDLE h = ::CreateThread(nullptr, 0, Start, args, suspended ? CREATE_SUSPENDED : 0, &id);
  if (h == nullptr) {
    delete args;
    if (ready) CloseHandle(ready);
    return nullptr;
  }
  if (ready) {
    HANDLE both[2] = {ready, h};
    WaitForMultipleObjects(2, both, FALSE, INFINITE);
    CloseHandle(ready);
  }
  if (threadId != nullptr) *threadId = id;
  return reinterpret_cast<ThreadObject*>(h);
}

bool ResumeThread(ThreadObject* t) {
  if (t == nullptr) return false;
  const DWORD previous = ::ResumeThread(H(t));
  return previous != static_cast<DWORD>(-1) && previous > 0;
}

bool SetThreadPriority(ThreadObject* t, ThreadPriority priority) {
  return t != nullptr && ::SetThreadPriority(H(t), WinPriority(priority));
}

ThreadPriority GetThreadPriority(ThreadObject* t) {
  if (t == nullptr) return ThreadPriority::Normal;
  const int p = ::GetThreadPriority(H(t));
  return p == THREAD_PRIORITY_ERROR_RETURN ? ThreadPriority::Normal : static_cast<ThreadPriority>(p);
}

uint32_t WaitThread(ThreadObject* t, uint32_t timeoutMs) {
  if (t == nullptr) return kWaitFailed;
  return WaitForSingleObject(H(t), timeoutMs);
}

uint32_t WaitEventOrThread(const Event& event, ThreadObject* t, uint32_t timeoutMs) {
  if (t == nullptr || !event.valid()) return kWaitFailed;
  HANDLE both[2] = {reinterpret_cast<HANDLE>(event.get()), H(t)};
  return WaitForMultipleObjects(2, both, FALSE, timeoutMs);
}

bool GetThreadExitCode(ThreadObject* t, uint32_t* exitCode) {
  if (t == nullptr || exitCode == nullptr) return false;
  if (WaitForSingleObject(H(t), 0) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  if (!GetExitCodeThread(H(t), &code)) return false;
  *exitCode = code;
  return true;
}

bool TerminateThread(ThreadObject* t, uint32_t exitCode) {
  return t != nullptr && ::TerminateThread(H(t), exitCode);
}

bool GetThreadCpuTimeUs(ThreadObject* t, uint64_t* microseconds) {
  if (t == nullptr || microseconds == nullptr) return false;
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(H(t), &created, &exited, &kernel, &user)) return false;
  const auto ticks = [](const FILETIME& f) { return (uint64_t{f.dwHighDateTime} << 32) | f.dwLowDateTime; };
  *microseconds = (ticks(kernel) + ticks(user)) / 10u;
  return true;
}

void CloseThread(ThreadObject* t) {
  if (t != nullptr) CloseHandle(H(t));
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }
uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

bool PostThreadMessageTo(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  // Id 0 names no thread (Wine accepts it).
  return threadId != 0 && PostThreadMessageW(threadId, message, wParam, lParam);
}

bool PeekThreadMessage(ThreadMessage* out, bool remove) {
  MSG msg;
  if (!PeekMessageW(&msg, nullptr, 0, 0, remove ? PM_REMOVE : PM_NOREMOVE)) return false;
  if (out != nullptr) *out = ThreadMessage{msg.message, msg.wParam, msg.lParam};
  return true;
}

uint32_t MsgWaitForEvents(const Event* const* events, uint32_t count, uint32_t timeoutMs) {
  if (count >= kMaxWaitObjects || (count > 0 && events == nullptr)) return kWaitFailed;
  HANDLE handles[kMaxWaitObjects];
  for (uint32_t i = 0; i < count; ++i) {
    if (events[i] == nullptr || !events[i]->valid()) return kWaitFailed;
    handles[i] = reinterpret_cast<HANDLE>(events[i]->get());
  }
  return MsgWaitForMultipleObjectsEx(count, handles, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void RethrowIfThreadEnd() {}

void InitializeThreadCom() { CoInitialize(nullptr); }
void UninitializeThreadCom() { CoUninitialize(); }

}  // namespace platform
