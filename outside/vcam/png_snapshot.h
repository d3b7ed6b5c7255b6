// A YUY2 frame as an RGB PNG file, so a person can look at what the virtual camera received.
#pragma once

#include <cstdint>

// Writes `width` x `height` pixels of top-down YUY2 rows, `stride` bytes apart, as an 8-bit
// RGB PNG file (studio-range BT.601 colours). An odd last pixel takes the luma of its
// macropixel's first half. False when the file cannot be written, and always in a Linux
// build without libpng.
bool WriteYuy2AsPng(const char* path, const uint8_t* pixels, uint32_t width, uint32_t height,
                    uint32_t stride);
