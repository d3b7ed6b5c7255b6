// Stand-in for the maker's co-installer library: records that it was loaded and every call
// of its install entry point, one line each, in the file named by KESTREL_COINSTALLER_RECORD.
#include <cstdio>
#include <cstdlib>

#include "platform/program.h"

namespace {

void Record(const char* what, const char* text) {
  const char* path = std::getenv("KESTREL_COINSTALLER_RECORD");
  if (!path || !*path) return;
  if (FILE* f = std::fopen(path, "ab")) {
    std::fprintf(f, "%s%s\n", what, text ? text : "");
    std::fclose(f);
  }
}

const int kLoaded = (Record("load", nullptr), 0);

}  // namespace

// The rundll32 entry shape: window, instance, argument text, show command.
extern "C" void PLATFORM_STDCALL IntallQuillonDriver(void* window, void* instance, char* arguments, int showCommand) {
  (void)window;
  (void)instance;
  (void)showCommand;
  (void)kLoaded;
  Record("call ", arguments);
}
