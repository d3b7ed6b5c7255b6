// The system device enumerator of this system: lists the cameras configured in the
// registry under HKEY_LOCAL_MACHINE\SOFTWARE\Kestrel\Cameras\<NNNN> as device monikers with
// PnP-style display names. On Linux it is the runtime's built-in CLSID_SystemDeviceEnum; on
// Windows KestrelDevEnum.dll serves it in place of the system's.
#pragma once

#include <string>
#include <vector>

#include "media/dshow.h"

// An ICreateDevEnum (or whatever `riid` asks of it). E_POINTER for a null `ppv`,
// E_NOINTERFACE for an interface it lacks, E_OUTOFMEMORY.
HRESULT CreateSystemDeviceEnum(REFIID riid, void** ppv);

namespace media {

// The camera list's key and its values (REG_SZ each).
inline constexpr const char* kCameraListKey = "SOFTWARE\\Kestrel\\Cameras";
inline constexpr const char* kCameraDisplayName = "DisplayName";
inline constexpr const char* kCameraFriendlyName = "FriendlyName";
inline constexpr const char* kCameraClass = "CLSID";
inline constexpr const char* kCameraConfig = "Config";

// One configured camera, as its moniker and property bag show it.
struct CameraEntry {
  std::u16string displayName;   // "@device:pnp:\\?\usb#vid_...\global"
  std::u16string friendlyName;
  std::u16string classId;       // "{...}", the filter created when the device is bound
  std::u16string config;        // handed to the filter unchanged
};

// The device path a property bag shows: the display name without "@device:pnp:".
std::u16string DevicePathOf(const std::u16string& displayName);

// The configured cameras, ordered by the number of their key ("0001", "0002", ...). Keys
// that are not numbers, and cameras without a display name, are left out.
std::vector<CameraEntry> ReadCameraList();

// Device-enumerator objects (enumerators, monikers, property bags, class factories) alive
// in this module; DllCanUnloadNow answers from it.
long LiveDeviceEnumObjects();

}  // namespace media
