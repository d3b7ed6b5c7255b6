// The synthetic camera's capabilities as media types, and back.
#pragma once

#include <string>
#include <vector>

#include "outside/filters/camera_config.h"
#include "outside/filters/filter_kit.h"

namespace filters {

// "MJPG 1280x720 333333", as the camera's call record names a capability.
std::string Describe(const Capability& cap);

// The media type of a capability.
HRESULT BuildType(const Capability& cap, AM_MEDIA_TYPE* type);

// The capability a media type describes, with its frame interval (the type's own when it
// has one). False when the camera offers nothing like it.
bool MatchCapability(const std::vector<Capability>& caps, const AM_MEDIA_TYPE& type, Capability* out);

}  // namespace filters
