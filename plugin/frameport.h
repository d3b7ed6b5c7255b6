// Frameport, the video plug-in: the four exports the capture service calls. Each frame is
// passed through the registered clients' channels, one after the other, and their rewrites
// come back into the caller's pixels.
#pragma once

#include <cstdint>

extern "C" {

// A new plug-in object with its registration server running; 0 when it cannot be allocated.
uintptr_t Frameport_Initialize();

// Sends the frame (the 40-byte BITMAPINFOHEADER at `header`, biSizeImage bytes at `pixels`)
// to each client of the highest level present, largest key first, and copies each answer back
// into `pixels`. Returns 1 for a handle of no live object; 0 when a pointer is null or no
// client got the frame; otherwise the result of the last send.
int32_t Frameport_ProcessVideoFrame(uintptr_t handle, void* header, uint8_t* pixels);

// Stops the registration server, deletes every client channel and destroys the object. A
// handle of no live object is ignored.
void Frameport_UnInitialize(uintptr_t handle);

// Releases every client's send waiting for its acknowledgement. A handle of no live object
// is ignored.
void Frameport_Abort(uintptr_t handle);

}  // extern "C"
