// Toolhelp process snapshots.
#include "platform/process_list.h"

#include <windows.h>
#include <shlwapi.h>
#include <tlhelp32.h>

namespace platform {

bool SnapshotProcesses(std::vector<ProcessEntry>* out) {
  out->clear();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    ProcessEntry p;
    p.pid = entry.th32ProcessID;
    p.exeName.assign(reinterpret_cast<const char16_t*>(entry.szExeFile));
    out->push_back(std::move(p));
  }
  CloseHandle(snapshot);
  return true;
}

std::u16string_view FileNamePart(std::u16string_view path) {
  if (path.empty()) return {};
  const std::wstring wide(path.begin(), path.end());
  const wchar_t* name = PathFindFileNameW(wide.c_str());
  return path.substr(static_cast<size_t>(name - wide.c_str()));
}

bool SameFileName(std::u16string_view a, std::u16string_view b) {
  return CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(a.size()),
                              reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
}

}  // namespace platform
