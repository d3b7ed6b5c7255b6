// Test controls every filter module exports beside DllGetClassObject and DllCanUnloadNow,
// so a test in the same process can read what the module's filters were asked.
#pragma once

#include <cstdint>

extern "C" {
// Lines recorded so far ("cam1 SetFormat MJPG 1280x720 333333", "render SetCallback", ...).
uint32_t KestrelFilters_RecordCount();
// Copies line `index` (NUL-terminated, cut to fit); answers its full length, 0 past the end.
uint32_t KestrelFilters_ReadRecord(uint32_t index, char* buffer, uint32_t capacity);
void KestrelFilters_ResetRecord();
// COM objects of the module alive now; 0 once everything was released.
int32_t KestrelFilters_ObjectCount();
// Frames the module's cameras delivered (the pin's Deliver returned) since it was loaded.
uint64_t KestrelFilters_FramesSent();
// When frame `number` (UINT64_MAX: the latest) of the camera's current stream was handed to its
// pin, on the steady clock in nanoseconds, and its size; 1 while it is among the last 1024, else 0.
int32_t KestrelFilters_FrameSent(uint64_t number, uint64_t* found, int64_t* sentNs, uint32_t* width,
                                 uint32_t* height);
}
