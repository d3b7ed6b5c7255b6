// PNG files through libpng's simplified interface.
#include "media/png/png_file.h"

#include <png.h>

#include <cstring>

namespace media {

bool WriteRgbPng(const char* path, const uint8_t* rgb, uint32_t width, uint32_t height) {
  if (!path || !rgb || width == 0 || height == 0 || width > 0x7FFFFFFFu / 3) return false;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGB;
  const int written =
      png_image_write_to_file(&image, path, 0, rgb, static_cast<png_int_32>(width * 3), nullptr);
  png_image_free(&image);
  return written != 0;
}

bool ReadRgbPng(const char* path, uint32_t* width, uint32_t* height, std::vector<uint8_t>* rgb) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!path || !png_image_begin_read_from_file(&image, path)) return false;
  image.format = PNG_FORMAT_RGB;
  *width = image.width;
  *height = image.height;
  rgb->resize(PNG_IMAGE_SIZE(image));
  const bool ok = png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr) != 0;
  png_image_free(&image);
  return ok;
}

}  // namespace media
