// kestrel-host's command line.
#pragma once

#include <cstdint>
#include <string>

struct Options {
  uint32_t seconds = 0;
  std::string quitEvent, readyEvent, clip, png, frames, clients, summary, log;
  uint32_t openWidth = 0, openHeight = 0;
};

// 0 to run, 1 after --help, 2 for a bad command line (with a message).
int ParseOptions(int argc, char** argv, Options* o);
