// kestrel-host's command line: the usage text and the option parser.
#include "outside/host/host_options.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace {

constexpr char kUsage[] =
    "usage: kestrel-host [options]\n"
    "Loads Kestrel.dll, creates and initialises its render graph and runs until Ctrl-C, SIGTERM,\n"
    "the quit event or the end of --seconds; then uninitialises and releases it.\n"
    "  --seconds N        stop after N seconds (default: run until stopped)\n"
    "  --quit-event NAME  also stop when the named event NAME is set\n"
    "  --ready-event NAME set the named event NAME once Initialize succeeded\n"
    "  --open WxH         play the consumer: open the virtual camera at W x H (needs the\n"
    "                     virtual-camera stand-in)\n"
    "  --clip FILE        keep every delivered frame in the Y4M clip FILE (stand-in)\n"
    "  --png FILE         write the last delivered frame as a PNG at the end (stand-in)\n"
    "  --frames FILE      one line per delivered frame: index, camera frame number, arrival and\n"
    "                     capture-to-delivery latency in ms\n"
    "  --clients DIR      read the clients' status files (oruclient --status-file) in DIR\n"
    "  --summary FILE     also write the end-of-run summary to FILE\n"
    "  --log FILE         also write the status lines and the summary to FILE\n"
    "  --help             this text\n"
    "Once a second a status line shows the frames captured and delivered per second, frames\n"
    "dropped, the capture format and size, the size asked for, the capture-to-delivery latency\n"
    "(median/99th percentile), the work mode and each client's key and frames; on a terminal\n"
    "the line is rewritten in place. Device notifications: on Linux SIGUSR1 passes a device\n"
    "arrival (2027) and SIGUSR2 a removal (2028) to NotifyDeviceChange.\n"
    "Exit codes: 0 after a clean stop; 1 bad command line; 2 Kestrel.dll missing; 3 an export\n"
    "missing; 4 no render graph; 5 Initialize failed; 6 a stand-in feature asked for is missing.\n";

std::optional<uint32_t> ParseNumber(std::string_view text) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  return static_cast<uint32_t>(std::strtoul(std::string(text).c_str(), nullptr, 10));
}

// "WxH", each 2..8192.
bool ParseSize(std::string_view text, uint32_t* w, uint32_t* h) {
  const size_t x = text.find('x');
  if (x == std::string_view::npos) return false;
  const auto a = ParseNumber(text.substr(0, x)), b = ParseNumber(text.substr(x + 1));
  if (!a || !b || *a < 2 || *b < 2 || *a > 8192 || *b > 8192) return false;
  *w = *a;
  *h = *b;
  return true;
}

}  // namespace

int ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 1;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "kestrel-host: %s needs a value (see --help)\n", argv[i]);
      return 2;
    }
    const std::string_view v = argv[++i];
    bool ok = true;
    if (a == "--seconds") {
      const auto n = ParseNumber(v);
      ok = n.has_value();
      if (n) o->seconds = *n;
    } else if (a == "--open") {
      ok = ParseSize(v, &o->openWidth, &o->openHeight);
    } else {
      std::string* text = a == "--quit-event"    ? &o->quitEvent
                          : a == "--ready-event" ? &o->readyEvent
                          : a == "--clip"     ? &o->clip
                          : a == "--png"      ? &o->png
                          : a == "--frames"   ? &o->frames
                          : a == "--clients"  ? &o->clients
                          : a == "--summary"  ? &o->summary
                          : a == "--log"      ? &o->log
                                              : nullptr;
      if (!text) {
        std::fprintf(stderr, "kestrel-host: unknown option %s (see --help)\n", argv[i - 1]);
        return 2;
      }
      *text = v;
    }
    if (!ok) {
      std::fprintf(stderr, "kestrel-host: bad value for %s: %s\n", argv[i - 1], argv[i]);
      return 2;
    }
  }
  return 0;
}
