// Registration soak: a client process creates and deletes a receiver 1000 times, each a
// registration and an unregistration through the real pipe, against a running server. The
// server's and the client's descriptors, threads, resident memory and heap are measured after
// a warm-up and at the end; each may grow by no more than the stated constant.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/child_process.h"
#include "platform/process_usage.h"
#include "platform/text.h"
#include "plugin/fanout_plugin.h"
#include "tests/plugin/plugin_test_support.h"

namespace {

using namespace plugin_test;

const test_names::PrivatePipeFolder g_pipes;

constexpr long kCycles = 1000;
// What a process may gain over the cycles: no descriptor and no thread (every channel and
// watcher is gone once its client is), and allocator slack, which does not grow per cycle.
constexpr int64_t kMoreDescriptors = 0;
constexpr int64_t kMoreThreads = 0;
constexpr int64_t kMoreResidentBytes = 4 << 20;
// AddressSanitizer keeps freed memory in quarantine, so resident memory grows there by design;
// descriptors, threads and heap still count.
constexpr bool kResidentMeaningful = KESTREL_SANITIZED == 0;
constexpr int64_t kMoreHeapBytes = 64 << 10;

struct Usage {
  int64_t descriptors = 0, threads = 0, resident = 0, heap = 0;
};

Usage Now() {
  return {platform::ProcessHandleCount(), platform::ProcessThreadCount(),
          static_cast<int64_t>(platform::ProcessResidentBytes()), static_cast<int64_t>(platform::HeapBytesInUse())};
}

void ExpectFlat(const char* who, const Usage& start, const Usage& end) {
  std::printf("%s: descriptors %lld -> %lld, threads %lld -> %lld, resident %lld -> %lld KiB, heap %lld -> %lld bytes\n",
              who, (long long)start.descriptors, (long long)end.descriptors, (long long)start.threads,
              (long long)end.threads, (long long)start.resident / 1024, (long long)end.resident / 1024,
              (long long)start.heap, (long long)end.heap);
  EXPECT_GT(start.descriptors, 0) << who;
  EXPECT_GT(start.threads, 0) << who;
  EXPECT_GT(start.resident, 0) << who;
  EXPECT_LE(end.descriptors - start.descriptors, kMoreDescriptors) << who;
  EXPECT_LE(end.threads - start.threads, kMoreThreads) << who;
  if (kResidentMeaningful) {
    EXPECT_LE(end.resident - start.resident, kMoreResidentBytes) << who;
  }
  EXPECT_LE(end.heap - start.heap, kMoreHeapBytes) << who;
}

// Runs the client for `cycles` and returns its exit code; its usage lines go to `usageFile`.
uint32_t RunClient(const std::u16string& pipe, long cycles, const std::string& usageFile) {
  platform::ProcessObject* p = platform::SpawnProcess(
      BuildPath(std::string("tests/") + KESTREL_FRAMEPORT_PEER),
      {"cycles", platform::Utf16ToUtf8(pipe), UniqueName("soak"), std::to_string(cycles), usageFile});
  if (p == nullptr) return 1000;
  uint32_t code = 1001;
  if (platform::WaitProcess(p, platform::kInfinite) != platform::kWaitObject0 || !platform::GetProcessExitCode(p, &code))
    code = 1002;
  platform::CloseProcess(p);
  return code;
}

TEST(RegistrationSoak, ThousandCyclesLeaveServerAndClientFlat) {
  const std::u16string pipe = U16("\\\\.\\pipe\\" + UniqueName("soakpipe"));
  CFanoutPlugin plugin(pipe.c_str());
  plugin.StartServer();
  const std::string usageFile = platform::JoinPath(platform::TemporaryDirectory(), UniqueName("usage"));

  // Warm-up: the server's first connections and channels set up what it keeps.
  ASSERT_EQ(RunClient(pipe, 21, usageFile), 0u);
  const Usage serverStart = Now();
  ASSERT_EQ(RunClient(pipe, kCycles, usageFile), 0u);
  const Usage serverEnd = Now();
  EXPECT_EQ(plugin.ClientCount(), 0u);

  Usage clientStart, clientEnd;
  std::ifstream in(usageFile);
  ASSERT_TRUE(in >> clientStart.descriptors >> clientStart.threads >> clientStart.resident >> clientStart.heap >>
              clientEnd.descriptors >> clientEnd.threads >> clientEnd.resident >> clientEnd.heap);
  in.close();
  std::remove(usageFile.c_str());
  ExpectFlat("server", serverStart, serverEnd);
  ExpectFlat("client", clientStart, clientEnd);
  plugin.Shutdown();
}

}  // namespace
