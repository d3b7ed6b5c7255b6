// A hostile client for the plug-in tests (well-behaved clients are the sample client,
// oruclient), a receiver on OruTether:
//   frameport_peer liar <pipe> <channel> <orderingKey> <capacity> <tag> <readyEvent> <quitEvent>
//     registers the channel with the key, then for each frame fills the pixels with the tag
//     and claims a huge biSizeImage in the header. Sets the ready event once open; deletes the
//     receiver when the quit event is set. Exit 0, or 2 when the receiver cannot be created.
//   frameport_peer hold <same arguments>
//     the same, but its callback sets "<readyEvent>_held" and never returns: a client that
//     hangs (or, killed there, dies) inside its callback holding the channel's mutex.
//   frameport_peer hangup <pipe> <count>
//     connects to the registration pipe and hangs up at once, without writing, count times.
//     Exit 0, or 3 when a connection fails.
//   frameport_peer cycles <pipe> <channel> <count> <usageFile>
//     creates and deletes a receiver (a registration and an unregistration through the pipe)
//     count times; writes its usage after the first 20 cycles and at the end to the file, one
//     line each: descriptors, threads, resident bytes, heap bytes. Exit 0, or 4 when a
//     receiver cannot be created (its registration was refused or failed).
//   frameport_peer die-at <step> <pipe> <channel> <orderingKey> <capacity> <tag> <stepEvent>
//     goes through a client's life by hand (register, open the channel, take one frame only
//     at "acknowledged", close, unregister) and stops at <step>: it sets the step event there
//     and waits to be killed. Steps: register-connected (nothing written yet), register-sent
//     (reply not read), acknowledged (the frame's pixels rewritten with the tag and
//     acknowledged, the block still locked), unregister-connected, unregister-sent. Exit 0
//     when no step matched, 2 when a step of its life failed.
//   frameport_peer serve <pipe> <descriptorLimit> <readyEvent> <quitEvent>
//     a host: lowers its descriptor limit (where there is one), runs the plug-in on the pipe
//     and sends it a 64x16 YUY2 frame every 5 ms until the quit event is set. Then prints
//     its clients and descriptors and checks it can still open kHostOwnDescriptors of its own
//     (what a host needs for its camera, plug-in and log): exit 0, or 3 when it cannot.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ipc/registration.h"
#include "ipc/tether.h"
#include "ipc/tether_channel.h"
#include "pixel/frame_format.h"
#include "plugin/fanout_plugin.h"
#include "platform/event.h"
#include "platform/message_pipe.h"
#include "platform/process_usage.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "tests/plugin/plugin_test_support.h"

namespace {

using namespace plugin_test;

uint8_t g_tag = 0;
platform::Event* g_held = nullptr;

int32_t Hold(TetherMessageInfo*, void*, void*) {
  g_held->Set();
  platform::Event never = platform::Event::CreateLocal(true, false);
  never.Wait(platform::kInfinite);
  return 0;
}

int32_t Liar(TetherMessageInfo* info, void* payload, void*) {
  auto* p = static_cast<uint8_t*>(payload);
  if (p == nullptr || info->payloadLength < 40) return 0;
  const uint32_t huge = 0x7FFFFFF0u;
  std::memcpy(p + 20, &huge, 4);
  std::memset(p + 40, g_tag, info->payloadLength - 40);
  return 0;
}

int Run(TetherReceiveCallback callback, char** argv) {
  const std::u16string pipe = U16(argv[0]), channel = U16(argv[1]);
  const uint32_t key = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0));
  const uint32_t capacity = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 0));
  g_tag = static_cast<uint8_t>(std::strtoul(argv[4], nullptr, 0));
  platform::Event ready = platform::Event::CreateNamed(U16(argv[5]).c_str(), true, false);
  platform::Event quit = platform::Event::CreateNamed(U16(argv[6]).c_str(), true, false);
  platform::Event held = platform::Event::CreateNamed(U16(std::string(argv[5]) + "_held").c_str(), true, false);
  g_held = &held;
  SetRegistrationPipeName(pipe.c_str());
  TetherCreateParams p;
  std::memset(&p, 0, sizeof p);
  p.size = sizeof p;
  platform::CopyName(p.name, channel.c_str());
  p.capacity = capacity;
  p.role = kTetherRoleReceiver;
  p.timeoutMs = 500;
  p.callback = callback;
  p.orderingKey = key;
  const TetherHandle h = Tether_CreateInstance(p);
  if (h == kTetherNoHandle) return 2;
  ready.Set();
  quit.Wait(platform::kInfinite);
  Tether_DeleteInstance(h);
  return 0;
}

int RunHangUps(char** argv) {
  const std::u16string pipe = U16(argv[0]);
  const long count = std::strtol(argv[1], nullptr, 10);
  for (long i = 0; i < count; ++i)
    if (!platform::MessagePipeConnection::Connect(pipe.c_str())) return 3;
  return 0;
}

void WriteUsage(std::FILE* f) {
  std::fprintf(f, "%u %u %llu %llu\n", platform::ProcessHandleCount(), platform::ProcessThreadCount(),
               static_cast<unsigned long long>(platform::ProcessResidentBytes()),
               static_cast<unsigned long long>(platform::HeapBytesInUse()));
}

int RunCycles(char** argv) {
  // The registration keeps the name's address: it must outlive every cycle.
  static const std::u16string pipe = U16(argv[0]);
  SetRegistrationPipeName(pipe.c_str());
  const std::u16string channel = U16(argv[1]);
  const long count = std::strtol(argv[2], nullptr, 10);
  std::FILE* usage = std::fopen(argv[3], "w");
  if (usage == nullptr) return 5;
  TetherCreateParams params;
  std::memset(&params, 0, sizeof params);
  params.size = sizeof params;
  std::memcpy(params.name, channel.c_str(), (channel.size() + 1) * sizeof(char16_t));
  params.capacity = 640 * 480 * 2 + 40;
  params.role = kTetherRoleReceiver;
  params.timeoutMs = 500;
  params.orderingKey = 0x10000;
  for (long i = 0; i < count; ++i) {
    if (i == 20) WriteUsage(usage);
    const TetherHandle h = Tether_CreateInstance(params);
    if (h == 0 || h == kTetherNoHandle) {
      std::fclose(usage);
      return 4;
    }
    Tether_DeleteInstance(h);
  }
  WriteUsage(usage);
  std::fclose(usage);
  return 0;
}

int RunDieAt(char** argv) {
  const std::string step = argv[0];
  const std::u16string pipe = U16(argv[1]), channel = U16(argv[2]);
  const uint32_t key = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 0));
  const uint32_t capacity = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 0));
  const auto tag = static_cast<uint8_t>(std::strtoul(argv[5], nullptr, 0));
  const platform::Event at = platform::Event::CreateNamed(U16(argv[6]).c_str(), true, false);
  const auto stopAt = [&](const char* here) {
    if (step != here) return;
    at.Set();
    platform::Event::CreateLocal(true, false).Wait(platform::kInfinite);
  };
  // One request on a connection of its own, stopping after connecting and after writing.
  const auto request = [&](bool unregister, const char* connected, const char* sent) {
    auto c = platform::MessagePipeConnection::Connect(pipe.c_str());
    if (!c) return false;
    stopAt(connected);
    const RegistrationMessage m =
        unregister ? BuildRegistrationMessage(kRegistrationUnregister, 0xFFFFFFFFu, channel.c_str(), 0)
                   : BuildRegistrationMessage(kRegistrationRegister, key, channel.c_str(), capacity);
    if (!c->Write(&m, sizeof m)) return false;
    stopAt(sent);
    uint32_t reply = 0;
    return c->Read(&reply, sizeof reply) == 4 && reply == 1;
  };
  if (!request(false, "register-connected", "register-sent")) return 2;
  CTetherChannel ch;
  if (!ch.Open(capacity, channel.c_str())) return 2;
  if (step == "acknowledged") {
    // The acknowledgement without the unlock: the sender's read-back waits for the block.
    if (ch.dataEvent().Wait(platform::kInfinite) != platform::kWaitObject0 || !ch.Lock(platform::kInfinite)) return 2;
    uint32_t length = 0;
    uint8_t* payload = ch.Payload(&length);
    if (payload != nullptr && length > 40) std::memset(payload + 40, tag, length - 40);
    ch.dataEvent().Reset();
    ch.SetAcknowledge();
    stopAt("acknowledged");
  }
  ch.Close();
  return request(true, "unregister-connected", "unregister-sent") ? 0 : 2;
}

int RunServe(char** argv) {
  const std::u16string pipe = U16(argv[0]);
  platform::SetDescriptorLimit(static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)));
  platform::Event ready = platform::Event::CreateNamed(U16(argv[2]).c_str(), true, false);
  platform::Event quit = platform::Event::CreateNamed(U16(argv[3]).c_str(), true, false);
  CFanoutPlugin plugin(pipe.c_str());
  plugin.StartServer();
  ready.Set();
  const BitmapInfoHeader header = Yuy2Header(64, 16, 1);
  std::string pixels(header.biSizeImage, '\x80');
  while (quit.Wait(5) == platform::kWaitTimeout)
    plugin.ProcessVideoFrame(&header, reinterpret_cast<uint8_t*>(pixels.data()));
  std::printf("serve: %zu clients, %u descriptors\n", plugin.ClientCount(), platform::ProcessHandleCount());
  std::fflush(stdout);
  constexpr int kHostOwnDescriptors = 32;
  std::vector<platform::Event> own;
  for (int i = 0; i < kHostOwnDescriptors; ++i) own.push_back(platform::Event::CreateLocal(true, false));
  for (const platform::Event& e : own)
    if (!e.valid()) return 3;
  own.clear();
  plugin.Shutdown();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 9 && std::strcmp(argv[1], "liar") == 0) return Run(Liar, argv + 2);
  if (argc == 9 && std::strcmp(argv[1], "hold") == 0) return Run(Hold, argv + 2);
  if (argc == 4 && std::strcmp(argv[1], "hangup") == 0) return RunHangUps(argv + 2);
  if (argc == 6 && std::strcmp(argv[1], "cycles") == 0) return RunCycles(argv + 2);
  if (argc == 9 && std::strcmp(argv[1], "die-at") == 0) return RunDieAt(argv + 2);
  if (argc == 6 && std::strcmp(argv[1], "serve") == 0) return RunServe(argv + 2);
  return 1;
}
