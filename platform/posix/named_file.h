// The file behind a named mapping or mutex on Linux. Every open handle holds a write lock on
// one byte of a slot range far past the data (an open-file-description lock), so the kernel
// drops it when the handle closes or its process dies: the locks count the handles, and a
// file that nobody holds is a leftover of ended processes, treated as absent and removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::posix {

struct NamedFile {
  int fd = -1;
  std::string path;
};

// Opens the object file at `path` for reading and writing. With `createBytes` > 0 a missing
// (or leftover) file is made first: `createBytes` zero bytes, then `init(fd, context)` (may be
// null; false fails the creation), all before the name becomes visible. *created tells
// which happened. Returns false when there is no such object (open only) or on failure.
bool OpenNamedFile(const std::string& path, size_t createBytes, bool (*init)(int fd, void* context),
                   void* context, NamedFile* out, bool* created);
// Handles open to the file's object, counting every process (at most 256 per object); 0 on
// failure.
uint32_t CountHandles(int fd);
// Closes the handle and removes the file when it was the last one.
void CloseNamedFile(NamedFile* file);

}  // namespace platform::posix
