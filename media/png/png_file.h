// PNG files of 8-bit RGB pixels (3 bytes a pixel, rows packed, top-down): libpng on Linux,
// the Windows Imaging Component on Windows. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <vector>

namespace media {

// Writes `width` x `height` RGB pixels as an 8-bit RGB PNG file. False when the file cannot
// be written or the build has no PNG support.
bool WriteRgbPng(const char* path, const uint8_t* rgb, uint32_t width, uint32_t height);

// Reads a PNG file as 8-bit RGB pixels into `rgb` (replaced). False when it is no PNG file
// that can be read, or the build has no PNG support.
bool ReadRgbPng(const char* path, uint32_t* width, uint32_t* height, std::vector<uint8_t>* rgb);

}  // namespace media
