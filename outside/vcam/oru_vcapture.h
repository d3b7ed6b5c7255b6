// Exports of the virtual-camera control library stand-in: the 23 entry points Kestrel
// binds, plus test and demo controls prefixed OruStandIn_ that a real library lacks.
#pragma once

#include <cstdint>

#include "graph/vcam_api.h"

extern "C" {

#define ORU_VCAM_DECLARE(name, params, args) HResult name params;
ORU_VCAM_ENTRY_POINTS(ORU_VCAM_DECLARE)
#undef ORU_VCAM_DECLARE

// Test controls. Call records read like "OruVCapSetWorkMode(1)", "OruVCapSetCloseDevEvent(event)",
// "OruVCapSetChangeResResult(0x80004005)", "OruVCapSetWebcamData(320x240,pixels,153600)",
// "OruFakeCaptureOpen()=fail". A pattern ending in '*' matches every record it begins.

// Forgets every record, event, frame and setting.
void OruStandIn_Reset();
// The next `count` OruFakeCaptureOpen calls fail with E_FAIL.
void OruStandIn_SetOpenFailures(uint32_t count);
// A negative value makes OruVCapGetCurrentResolution fail with it.
void OruStandIn_SetResolutionResult(HResult result);
// What OruVCapGetSupport3D reports.
void OruStandIn_SetSupport3D(uint32_t support);
// A consumer opens the camera at width x height: the resolution is reported from now on and
// the instance event is signalled. Each signalling control answers 1 when it had an event
// to signal, else 0.
int OruStandIn_ConsumerOpen(uint32_t width, uint32_t height, int64_t interval);
// The last consumer leaves: resolution 0 is reported and the instance event signalled.
int OruStandIn_ConsumerClose();
// Asks for the physical camera's release (close-device event).
int OruStandIn_RequestCloseDevice();
// Asks for the physical-device status (device event).
int OruStandIn_RequestDeviceStatus();
// New 3D settings, then the 3D event.
int OruStandIn_Change3D(uint32_t a, uint32_t b, uint32_t c);

uint32_t OruStandIn_CallCount();
// Copies record `index` (NUL-terminated, cut to fit); answers its full length, 0 past the end.
uint32_t OruStandIn_GetCall(uint32_t index, char* buffer, uint32_t capacity);
uint32_t OruStandIn_CountCalls(const char* pattern);
// 1 once at least `occurrences` records match `pattern`; 0 when timeoutMs passes first.
int OruStandIn_WaitForCall(const char* pattern, uint32_t occurrences, uint32_t timeoutMs);

uint64_t OruStandIn_FrameCount();
int OruStandIn_WaitForFrames(uint64_t count, uint32_t timeoutMs);
// Copies the last frame's (or logo's) header and up to `capacity` bytes; answers the byte
// count it was given.
uint32_t OruStandIn_GetLastFrame(BitmapInfoHeader* header, uint8_t* buffer, uint32_t capacity);
uint32_t OruStandIn_GetLogo(BitmapInfoHeader* header, uint8_t* buffer, uint32_t capacity);
// Writes the last YUY2 frame as a one-frame 4:2:2 Y4M file; 1 on success.
int OruStandIn_WriteLastFrameY4M(const char* path);
// Writes the last YUY2 frame as an RGB PNG file (libpng on Linux, the Windows Imaging
// Component on Windows); 1 on success. Always 0 in a Linux build without libpng.
int OruStandIn_WriteLastFramePNG(const char* path);

// Demo host controls.

// Called on the delivering thread after each OruVCapSetWebcamData has been recorded (outside
// the stand-in's lock), with the frame and the steady-clock time in nanoseconds at which the
// call came in. Null stops the calls; a call already running may still finish.
typedef void (*OruStandInFrameListener)(const BitmapInfoHeader* header, const uint8_t* pixels,
                                        uint32_t size, int64_t arrivalNs, void* context);
void OruStandIn_SetFrameListener(OruStandInFrameListener listener, void* context);

// Appends every YUY2 frame received from now on to a 4:2:2 Y4M clip at `path` (replaced). The
// first frame sets the clip's size; frames of another size are left out. 1 when the file
// could be created.
int OruStandIn_StartClip(const char* path);
// Closes the clip; answers the frames it holds (0 without a clip).
uint64_t OruStandIn_StopClip();

// What the virtual camera was told and asked, at one moment.
struct OruStandInStatus {
  uint32_t open;                // OruFakeCaptureOpen succeeded and no close since
  uint32_t workMode;            // the last OruVCapSetWorkMode
  uint32_t requestedResolution; // what the consumer asked for (packed; 0: closed)
  int64_t requestedInterval;
  HResult lastChangeResult;     // the last OruVCapSetChangeResResult
  uint64_t frames;              // OruVCapSetWebcamData calls
};
void OruStandIn_GetStatus(OruStandInStatus* status);

}  // extern "C"
