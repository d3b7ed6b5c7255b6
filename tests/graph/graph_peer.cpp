// Second process for the launcher tests, chosen by its first argument:
//   idle            stays until it is ended (a stand-in shell or running application);
//   launch <path>   calls LaunchCompanionApp(path) with the environment it inherited;
//   anything else   the companion application itself: when KESTREL_PEER_RECORD names a
//                   file, writes its whole command line and its user there and exits.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "graph/launcher.h"
#include "platform/environment.h"
#include "platform/program.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "idle") {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  if (mode == "launch" && argc > 2) {
    LaunchCompanionApp(platform::Utf8ToUtf16(argv[2]).c_str());
    return 0;
  }
  const std::optional<std::string> record = platform::GetEnvironmentValue("KESTREL_PEER_RECORD");
  if (!record) return 2;
  // Written aside and renamed, so a reader never sees half a record.
  const std::string partial = *record + ".part";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << platform::WholeCommandLine() << "\n" << platform::CurrentUserName() << "\n";
  }
  std::error_code ec;
  std::filesystem::rename(partial, *record, ec);
  return ec ? 1 : 0;
}
