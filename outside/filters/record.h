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

// The camera's frames: when each was handed to its pin (steady clock, ns) and at what size,
// for the last kStampedFrames frames of the stream started last; and how many deliveries have
// returned since the module was loaded.
inline constexpr uint32_t kStampedFrames = 1024;
void NoteStreamStart();
void NoteFrameSent(uint64_t number, int64_t sentNs, uint32_t width, uint32_t height);
void NoteFrameDone();
uint64_t FramesDone();
// Frame `number` (UINT64_MAX: the latest) of the current stream; false when it is not kept.
bool FindFrameSent(uint64_t number, uint64_t* found, int64_t* sentNs, uint32_t* width, uint32_t* height);

// COM objects of this module alive now (filters, pins' owners, enumerators, factories).
void ObjectCreated();
void ObjectDestroyed();
long LiveObjectCount();
// IClassFactory::LockServer's count.
void LockModule(bool lock);
long ModuleLockCount();

}  // namespace filters
