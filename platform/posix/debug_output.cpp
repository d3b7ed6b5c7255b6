// Debugger output as plain writes to a chosen descriptor.
#include "platform/debug_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/text.h"

namespace platform {

void DebugOutput(std::u16string_view text) {
  int fd = STDERR_FILENO;
  if (const char* name = std::getenv(kDebugFdVariable)) {
    char* end = nullptr;
    const long n = std::strtol(name, &end, 10);
    if (!*name || *end || n < 0 || n > 65535) return;
    fd = static_cast<int>(n);
  }
  const std::string utf8 = Utf16ToUtf8(text);
  size_t done = 0;
  while (done < utf8.size()) {
    const ssize_t n = ::write(fd, utf8.data() + done, utf8.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace platform
