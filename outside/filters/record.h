// What a filter module was asked: one line per call that matters ("cam1 SetFormat MJPG
// 1280x720 333333", "render Run", "decoder Control F988B261 4"), kept for the process and,
// when $KESTREL_FILTERS_RECORD names a file, appended to it.
#pragma once

#include <cstdint>
#include <string>

namespace filters {

inline constexpr const char* kRecordFileVariable = "KESTREL_FILTERS_RECORD";

void Record(const std::string& line);
uint32_t RecordCount();
// Copies line `index` (NUL-terminated, cut to fit); answers its full length, 0 past the end.
uint32_t ReadRecord(uint32_t index, char* buffer, uint32_t capacity);
void ResetRecord();

// COM objects of this module alive now (filters, pins' owners, enumerators, factories).
void ObjectCreated();
void ObjectDestroyed();
long LiveObjectCount();
// IClassFactory::LockServer's count.
void LockModule(bool lock);
long ModuleLockCount();

}  // namespace filters
