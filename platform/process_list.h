// The list of running processes, as a snapshot.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct ProcessEntry {
  uint32_t pid = 0;
  uint32_t ownerUid = 0;     // Linux: the real user id; Windows: 0
  std::u16string exeName;    // the executable's file name without its folder
};

// Windows: CreateToolhelp32Snapshot with Process32FirstW/NextW (szExeFile). Linux: /proc,
// the name being the file name of /proc/<pid>/exe, or of argv[0] when that link cannot be
// read (another user's process). False when no snapshot can be taken.
bool SnapshotProcesses(std::vector<ProcessEntry>* out);

// The file-name part of a path, as PathFindFileNameW finds it on Windows (after the last
// backslash, slash or drive colon); on Linux after the last slash. Empty when there is none.
std::u16string_view FileNamePart(std::u16string_view path);

// Case-insensitive comparison of two file names (Windows' rules; ASCII on Linux).
bool SameFileName(std::u16string_view a, std::u16string_view b);

}  // namespace platform
