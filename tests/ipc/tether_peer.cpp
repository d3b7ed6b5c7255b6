// The other process of the channel tests and benchmark, chosen by its first argument:
//   receive <pipe> <channel> <capacity> <timeoutMs> <invert|hold|touch> <readyEvent> <quitEvent>
//     registers and opens a receiver whose callback inverts the payload, or sets
//     "<readyEvent>_held" and never returns, or writes one byte per 64; sets the ready event
//     once open and deletes the receiver when the quit event is set. Exit 0, or 2 when the
//     receiver cannot be created.
//   send <channel> <capacity> <timeoutMs> <count> <readyEvent>
//     creates a sender, waits for a receiver, sends <count> messages with the reply flag and
//     checks each comes back inverted. Exit 0 when all do, 3 otherwise, 2 on set-up failure.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/ipc/tether_test_support.h"

namespace {

using namespace tether_test;

platform::Event* g_held = nullptr;

int32_t Invert(TetherMessageInfo* info, void* payload, void*) {
  auto* p = static_cast<uint8_t*>(payload);
  for (uint32_t i = 0; p != nullptr && i < info->payloadLength; ++i) p[i] = static_cast<uint8_t>(~p[i]);
  return 0;
}

int32_t Hold(TetherMessageInfo*, void*, void*) {
  g_held->Set();
  platform::Event never = platform::Event::CreateLocal(true, false);
  never.Wait(platform::kInfinite);
  return 0;
}

int32_t Touch(TetherMessageInfo* info, void* payload, void*) {
  auto* p = static_cast<uint8_t*>(payload);
  for (uint32_t i = 0; p != nullptr && i < info->payloadLength; i += 64) p[i] = static_cast<uint8_t>(p[i] + 1);
  return 0;
}

int Receive(char** argv) {
  const std::u16string pipe = U16(argv[0]), channel = U16(argv[1]);
  const uint32_t capacity = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const uint32_t timeout = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
  const std::string mode = argv[4];
  platform::Event ready = platform::Event::CreateNamed(U16(argv[5]).c_str(), true, false);
  platform::Event held = platform::Event::CreateNamed(U16(std::string(argv[5]) + "_held").c_str(), true, false);
  platform::Event quit = platform::Event::CreateNamed(U16(argv[6]).c_str(), true, false);
  g_held = &held;
  TetherReceiveCallback cb = mode == "hold" ? Hold : mode == "touch" ? Touch : Invert;
  SetRegistrationPipeName(pipe.c_str());
  const TetherHandle h = Tether_CreateInstance(MakeParams(channel, capacity, kTetherRoleReceiver, timeout, cb, nullptr, 7));
  if (h == kTetherNoHandle) return 2;
  ready.Set();
  quit.Wait(platform::kInfinite);
  Tether_DeleteInstance(h);
  return 0;
}

int Send(char** argv) {
  const std::u16string channel = U16(argv[0]);
  const uint32_t capacity = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
  const uint32_t timeout = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const int count = std::atoi(argv[3]);
  platform::Event ready = platform::Event::CreateNamed(U16(argv[4]).c_str(), true, false);
  const TetherHandle h = Tether_CreateInstance(MakeParams(channel, capacity, kTetherRoleSender, timeout));
  if (h == kTetherNoHandle) return 2;
  ready.Set();
  if (!WaitForPeers(h, 1)) return 2;
  int bad = 0;
  std::vector<uint8_t> buf(capacity);
  for (int n = 0; n < count; ++n) {
    for (uint32_t i = 0; i < capacity; ++i) buf[i] = static_cast<uint8_t>(i * 7 + n);
    if (Tether_SendMessage(h, buf.data(), capacity, 1) != static_cast<int32_t>(capacity)) ++bad;
    for (uint32_t i = 0; i < capacity; ++i)
      if (buf[i] != static_cast<uint8_t>(~(i * 7 + n))) {
        ++bad;
        break;
      }
  }
  Tether_DeleteInstance(h);
  return bad == 0 ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 9 && std::strcmp(argv[1], "receive") == 0) return Receive(argv + 2);
  if (argc == 7 && std::strcmp(argv[1], "send") == 0) return Send(argv + 2);
  return 1;
}
