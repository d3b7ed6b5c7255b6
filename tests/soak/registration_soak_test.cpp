// Registration soak: a client process creates and deletes a receiver 1000 times, each a
// registration and an unregistration through the real pipe, against a running server. The
// server's and the client's descriptors, threads, resident memory and heap are measured after
// a warm-up and at the end; each may grow by no more than the stated constant.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/child_process.h"
#include "platform/text.h"
#include "plugin/fanout_plugin.h"
#include "tests/plugin/plugin_test_support.h"
#include "tests/soak/usage.h"

namespace {

using namespace plugin_test;

const test_names::PrivatePipeFolder g_pipes;

constexpr long kCycles = 1000;
// What a process may gain over the cycles: no descriptor and no thread (every channel and
// watcher is gone once its client is), and allocator slack, which does not grow per cycle.
constexpr soak::Allowance kMore{.descriptors = 0, .threads = 0, .residentBytes = 4 << 20, .heapBytes = 64 << 10};

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
  const soak::Usage serverStart = soak::Now();
  ASSERT_EQ(RunClient(pipe, kCycles, usageFile), 0u);
  const soak::Usage serverEnd = soak::Now();
  EXPECT_EQ(plugin.ClientCount(), 0u);

  soak::Usage clientStart, clientEnd;
  std::ifstream in(usageFile);
  ASSERT_TRUE(in >> clientStart.descriptors >> clientStart.threads >> clientStart.resident >> clientStart.heap >>
              clientEnd.descriptors >> clientEnd.threads >> clientEnd.resident >> clientEnd.heap);
  in.close();
  std::remove(usageFile.c_str());
  soak::ExpectFlat("server", serverStart, serverEnd, kMore);
  soak::ExpectFlat("client", clientStart, clientEnd, kMore);
  plugin.Shutdown();
}

}  // namespace
