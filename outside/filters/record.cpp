// The module's call record and object counts.
#include "outside/filters/record.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/environment.h"
#include "platform/file.h"

namespace filters {
namespace {

std::mutex g_recordLock;
std::vector<std::string>& Lines() {
  static std::vector<std::string> lines;
  return lines;
}
struct Stamp {
  bool used = false;
  uint64_t number = 0;
  int64_t sentNs = 0;
  uint32_t width = 0, height = 0;
};
std::mutex g_stampLock;
Stamp g_stamps[kStampedFrames];
uint64_t g_latest = 0;
bool g_anySent = false;
std::atomic<uint64_t> g_framesDone{0};
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

}  // namespace

void Record(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_recordLock);
  Lines().push_back(line);
  if (const auto path = platform::GetEnvironmentValue(kRecordFileVariable); path && !path->empty())
    platform::AppendTextFile(path->c_str(), line + "\n");
}

uint32_t RecordCount() {
  std::lock_guard<std::mutex> lock(g_recordLock);
  return static_cast<uint32_t>(Lines().size());
}

uint32_t ReadRecord(uint32_t index, char* buffer, uint32_t capacity) {
  std::lock_guard<std::mutex> lock(g_recordLock);
  if (index >= Lines().size()) return 0;
  const std::string& line = Lines()[index];
  if (buffer && capacity > 0) {
    const size_t n = std::min<size_t>(line.size(), capacity - 1);
    std::memcpy(buffer, line.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<uint32_t>(line.size());
}

void ResetRecord() {
  std::lock_guard<std::mutex> lock(g_recordLock);
  Lines().clear();
}

void NoteStreamStart() {
  std::lock_guard<std::mutex> lock(g_stampLock);
  for (Stamp& s : g_stamps) s.used = false;
  g_anySent = false;
}

void NoteFrameSent(uint64_t number, int64_t sentNs, uint32_t width, uint32_t height) {
  std::lock_guard<std::mutex> lock(g_stampLock);
  g_stamps[number % kStampedFrames] = Stamp{true, number, sentNs, width, height};
  g_latest = number;
  g_anySent = true;
}

void NoteFrameDone() { ++g_framesDone; }
uint64_t FramesDone() { return g_framesDone.load(); }

bool FindFrameSent(uint64_t number, uint64_t* found, int64_t* sentNs, uint32_t* width, uint32_t* height) {
  std::lock_guard<std::mutex> lock(g_stampLock);
  if (!g_anySent) return false;
  if (number == UINT64_MAX) number = g_latest;
  const Stamp& s = g_stamps[number % kStampedFrames];
  if (!s.used || s.number != number) return false;
  if (found) *found = s.number;
  if (sentNs) *sentNs = s.sentNs;
  if (width) *width = s.width;
  if (height) *height = s.height;
  return true;
}

void ObjectCreated() { ++g_objects; }
void ObjectDestroyed() { --g_objects; }
long LiveObjectCount() { return g_objects.load(); }
void LockModule(bool lock) { lock ? ++g_locks : --g_locks; }
long ModuleLockCount() { return g_locks.load(); }

}  // namespace filters
