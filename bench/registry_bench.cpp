// The registry file: parsing a hive of 1000 and 16000 keys (time per key should stay flat,
// the ratio of the two about 16), and opening a key of an unchanged file (no parse).
#include <benchmark/benchmark.h>

#include <string>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/thread.h"

namespace {

std::string HiveText(int keys) {
  std::string text = "Windows Registry Editor Version 5.00\n";
  for (int i = 0; i < keys; ++i) {
    text += "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{" + std::to_string(100000 + i) + "}\\InprocServer32]\n";
    text += "@=\"C:\\\\Modules\\\\Module" + std::to_string(i) + ".dll\"\n\"ThreadingModel\"=\"Both\"\n";
  }
  return text;
}

void RegistryParse(benchmark::State& state) {
  const std::string text = HiveText(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    platform::RegHive hive;
    benchmark::DoNotOptimize(platform::ParseRegFile(text, &hive));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(RegistryParse)->Arg(1000)->Arg(16000)->Unit(benchmark::kMillisecond);

void RegistryOpenUnchanged(benchmark::State& state) {
  const std::string path = platform::JoinPath(platform::TemporaryDirectory(),
                                              "kestrel-bench-" + std::to_string(platform::CurrentProcessId()) + ".reg");
  const std::string text = HiveText(static_cast<int>(state.range(0)));
  {
    platform::File f;
    if (!f.Open(path.c_str(), platform::FileOpen::WriteCreateAlways, platform::FileShare::None) ||
        !f.Write(text.data(), text.size())) {
      state.SkipWithError("cannot write the registry file");
      return;
    }
  }
  platform::SetEnvironmentValue(platform::kRegistryFileVariable, path.c_str());
  for (auto _ : state) {
    platform::RegistryKey key;
    benchmark::DoNotOptimize(key.Open(platform::RegistryRoot::LocalMachine,
                                      "SOFTWARE\\Classes\\CLSID\\{100500}\\InprocServer32",
                                      platform::RegistryAccess::Read));
  }
  platform::DeleteFileAt(path.c_str());
}
BENCHMARK(RegistryOpenUnchanged)->Arg(16000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
