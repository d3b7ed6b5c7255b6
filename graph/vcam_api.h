// The 23 entry points of the virtual-camera control library "OruVCapture.dll", as one list
// that the binding and the stand-in library both expand. Every entry returns an HRESULT.
#pragma once

#include <cstdint>

#include "graph/frame_types.h"

// Event handles the library is given; it only signals them.
using VcamEvent = void*;

// X(name, parameter list, argument list)
#define ORU_VCAM_ENTRY_POINTS(X)                                                              \
  X(OruFakeCaptureOpen, (), ())                                                               \
  X(OruFakeCaptureClose, (), ())                                                              \
  X(OruVCapSetLogo, (const BitmapInfoHeader* header, const uint8_t* pixels, uint32_t size),    \
    (header, pixels, size))                                                                   \
  X(OruVCapSetVideoResizeMode, (uint32_t mode), (mode))                                       \
  X(OruVCapSetWorkMode, (uint32_t mode), (mode))                                              \
  X(OruVCapSetCloseDevEvent, (VcamEvent event), (event))                                      \
  X(OruVCapSetCloseDevFinish, (), ())                                                         \
  X(OruVCapSetDeviceEvent, (VcamEvent event), (event))                                        \
  X(OruVCapSetDeviceStatus, (uint32_t status), (status))                                      \
  X(OruVCapSetInstanceNotification, (VcamEvent event), (event))                               \
  X(OruVCapGetCurrentResolution, (uint32_t * packed, int64_t * interval), (packed, interval))  \
  X(OruVCapSetChangeResResult, (HResult result), (result))                                    \
  X(OruVCapSetDevicePinObj, (uintptr_t pinObject), (pinObject))                               \
  X(OruVCapSetWebcamData, (const BitmapInfoHeader* header, const uint8_t* pixels,             \
                           uint32_t size),                                                    \
    (header, pixels, size))                                                                   \
  X(OruVCapGetSupport3D, (uint32_t * support), (support))                                     \
  X(OruVCapSet3DNotification, (VcamEvent event), (event))                                     \
  X(OruVCapGet3DSettings, (uint32_t * a, uint32_t * b, uint32_t * c), (a, b, c))              \
  X(GetOruFakeCaptureDeviceName, (char16_t * name, uint32_t capacity), (name, capacity))      \
  X(OruFakeCaptureSetImageData, (const BitmapInfoHeader* header, const uint8_t* pixels,       \
                                 uint32_t size),                                              \
    (header, pixels, size))                                                                   \
  X(OruFakeCaptureGetActualOutputVideoFormatList, (void* formats, uint32_t* count),           \
    (formats, count))                                                                         \
  X(OruFakeCaptureUsingCheck, (uint32_t * inUse), (inUse))                                    \
  X(OruVCapSetNotifyEvent, (VcamEvent event), (event))                                        \
  X(OruVCapGetPinInstanceCount, (uint32_t * count), (count))
