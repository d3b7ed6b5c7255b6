// Capture device discovery: the system's video input devices, without software devices,
// virtual cameras (our own among them) and TV tuners, kept in the enumerator's order. Needs
// only the device allow-list; friendly names go to the log channel.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "media/dshow.h"
#include "media/com_ptr.h"
#include "media/media_type.h"

inline constexpr uint32_t kDevicePathChars = 260;  // 259 characters and the terminator

// One usable device: a reference to its filter and its moniker's display name (cut to 259
// characters).
struct CaptureDeviceCandidate {
  media::ComPtr<IBaseFilter> filter;
  char16_t devicePath[kDevicePathChars] = {};
};

// The device allow-list of the capture profile: a switch and name fragments (each a
// terminated string).
struct DeviceAllowList {
  int32_t enabled = 0;
  const std::vector<std::unique_ptr<char16_t[]>>* fragments = nullptr;
};

// True for the friendly names of the virtual cameras never to be shared, in any letter case.
bool IsOwnVirtualDevice(const char16_t* friendlyName);

// True when `path` contains, in any letter case, at least one non-empty fragment; false for
// a null or empty path.
bool MatchesAllowList(const DeviceAllowList& allowList, const char16_t* path);

// MatchesAllowList when the list is switched on, else true.
bool IsDeviceAllowed(const DeviceAllowList& allowList, const char16_t* path);

// "FriendlyName" from a device's property bag into `friendly` (kDevicePathChars units), cut
// to 259 characters; empty without a bag or when it cannot be read.
void ReadFriendlyName(IPropertyBag* bag, char16_t* friendly);

// Puts `filter` into a scratch graph and looks upstream of it for IAMTVTuner: 1 for a tuner
// (or when the scratch graph cannot be set up past its first step), 0 when usable.
int ProbeCaptureDevice(IBaseFilter* filter);

// Rebuilds `list` from the system enumerator's video input devices that pass every filter.
// False when the list ends empty (also without an enumerator or with an empty category).
bool EnumerateCaptureDevices(const DeviceAllowList& allowList,
                             std::vector<CaptureDeviceCandidate>& list);

// An added reference to the first usable device in *filter and S_OK; E_FAIL with *filter
// null when there is none.
HRESULT GetCaptureDevice(const DeviceAllowList& allowList, IBaseFilter** filter);

// Case-insensitive (ASCII letters) containment and equality of terminated UTF-16 strings.
bool ContainsIgnoreCase(const char16_t* text, const char16_t* part);
bool EqualsIgnoreCase(const char16_t* a, const char16_t* b);
